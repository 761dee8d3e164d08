// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controls, start-up and shut-down.
#include "app/PostlarkForm.h"

#include "mail/check/AutoCheck.h"
#include "mail/check/CheckRun.h"
#include "mail/check/MailLink.h"
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/imap/ImapProbe.h"
#include "mail/pop3/Pop3Probe.h"
#include "mail/push/PushWatchers.h"
#include "mail/arrivals/Arrivals.h"
#include "mail/arrivals/NotificationText.h"
#include "mail/secrets/AccountSecrets.h"
#include "mail/signin/AccountCredentials.h"
#include "mail/signin/OAuthTokens.h"
#include "net/CNetConnect.h"
#include "platform/base/RuntimeError.h"
#include "platform/net/WinInet.h"
#include "platform/net/Winsock.h"
#include "platform/shell/DesktopNotification.h"
#include "platform/shell/ShellNotify.h"
#include "platform/system/SingleInstance.h"
#include "platform/window/CommonDialog.h"
#include "platform/window/MsgBox.h"
#include "platform/window/PaintPacer.h"
#include "platform/window/Screen.h"
#include "platform/window/WindowLayer.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "winsupport/CSystrayIcon.h"
#include "winsupport/ProgressBar.h"
#include "winsupport/PropertyBag.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QHeaderView>
#include <QIcon>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <limits>

// The icons live in a static library, so their resources are registered by hand.
static void InitIconResources() {
    Q_INIT_RESOURCE(postlark);
}

namespace postlark {

namespace {

constexpr int kClientWidth = 5535; // twips
constexpr int kClientHeight = 3870;
constexpr win::UINT kTrayCallback = 512; // the mouse-move message
const char* const kTrayTip = "Postlark 1.5";
// During a check run the window is painted at most this often: a burst of fast accounts shows
// its progress twice a second, a change after a quiet moment at once.
constexpr int kRunFrameMs = 500;

// A position written as a 32-bit floating-point number: "1000", "1234.5".
std::string PositionText(double twips) {
    return QString::number(double(float(twips)), 'g', 7).toStdString();
}

} // namespace

PostlarkForm::PostlarkForm(QStringList arguments, QWidget* parent)
    : QMainWindow(parent), arguments_(std::move(arguments)) {
    setObjectName("PostlarkForm");
    setWindowTitle("Postlark");
    InitIconResources();
    twipsX_ = win::TwipsPerPixelX();
    twipsY_ = win::TwipsPerPixelY();
    postlarkImage_ = win::RegisterIcon(QIcon(":/icons/postlark.svg"));
    mailTray1_ = win::RegisterIcon(QIcon(":/icons/mailtray1.svg"));
    mailTray2_ = win::RegisterIcon(QIcon(":/icons/mailtray2.svg"));
    // Every window of the program carries its icon: this one, its menus, and message boxes
    // shown while it is hidden in the tray (they have no owner window to take it from).
    QApplication::setWindowIcon(win::IconFromHandle(postlarkImage_));
    setWindowIcon(win::IconFromHandle(postlarkImage_));
    BuildControls();
    BuildMenus();
    FixWindowSize();
    hWnd_ = win::RegisterWindow(this);
    win::SetMouseMoveHandler(hWnd_, [this](int button, int shift, int x, int y) {
        Form_MouseMove(button, shift, double(x) * twipsX_, double(y) * twipsY_);
    });
}

PostlarkForm::~PostlarkForm() {
    if (!unloaded_ && sysIcon_)
        sysIcon_->HideIcon();
    DetachSystemCommands(); // the subclass keeps no reference, so it must go before this object
}

void PostlarkForm::PlaceTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(left / twipsX_, top / twipsY_, width / twipsX_, height / twipsY_);
}

void PostlarkForm::BuildControls() {
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    client->setFixedSize(kClientWidth / twipsX_, kClientHeight / twipsY_);
    // The layout is measured in twips for an 8-point dialog font.
    QFont small = client->font();
    small.setPointSize(8);
    client->setFont(small);
    setCentralWidget(client);

    accountList_ = new QTreeWidget(client);
    accountList_->setObjectName("AccountList");
    accountList_->setHeaderLabels({"Account Email", "New Mail?"});
    accountList_->headerItem()->setData(0, Qt::UserRole, "Email");
    accountList_->headerItem()->setData(1, Qt::UserRole, "YesNo");
    accountList_->setRootIsDecorated(false);
    accountList_->setUniformRowHeights(true);
    accountList_->setSelectionMode(QAbstractItemView::SingleSelection);
    accountList_->setAllColumnsShowFocus(true);
    PlaceTwips(accountList_, 120, 120, 5295, 2040);
    connect(accountList_, &QTreeWidget::itemDoubleClicked, this,
            [this] { AccountList_DblClick(); });
    connect(accountList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { KeepOneSelected(); });

    progressBar1_ = new ProgressBar(client);
    progressBar1_->setObjectName("ProgressBar1");
    // The control's saved design: range 1 to 10000, the rest at its defaults.
    PropertyBag design;
    design.WriteProperty("Min", 1);
    design.WriteProperty("Max", 10000);
    progressBar1_->ReadProperties(design);
    PlaceTwips(progressBar1_, 120, 2250, 5295, 255);

    auto button = [&](QPushButton*& b, const char* name, const char* caption, const char* tip,
                      int left, int top) {
        b = new QPushButton(QString::fromUtf8(caption), client);
        b->setObjectName(name);
        if (*tip)
            b->setToolTip(QString::fromUtf8(tip));
        PlaceTwips(b, left, top, 1455, 375);
    };
    button(addAcct_, "AddAcct", "&Add Account", "Adds a new email account to check", 480, 2640);
    button(delAcct_, "DelAcct", "&Delete Account", "Deletes the selected email account", 2040,
           2640);
    button(modAcct_, "ModAcct", "&Modify Account", "Modifies selected email account", 3720, 2640);
    button(launchButton_, "LaunchButton", "&Launch Program",
           "Launches program associated with email address", 480, 3120);
    button(checkButton_, "CheckButton", "&Check Mail Now", "", 2040, 3120);
    connect(addAcct_, &QPushButton::clicked, this, [this] { AddAcct_Click(); });
    connect(delAcct_, &QPushButton::clicked, this, [this] { DelAcct_Click(); });
    connect(modAcct_, &QPushButton::clicked, this, [this] { ModAcct_Click(); });
    connect(launchButton_, &QPushButton::clicked, this, [this] { LaunchButton_Click(); });
    connect(checkButton_, &QPushButton::clicked, this, [this] { CheckButton_Click(); });

    checkStartMin_ = new QCheckBox("&Minimize on Startup", client);
    checkStartMin_->setObjectName("CheckStartMin");
    PlaceTwips(checkStartMin_, 3720, 3120, 1815, 375);
    checkStartMin_->setStyleSheet("QCheckBox { spacing: 2px; }");
    connect(checkStartMin_, &QCheckBox::toggled, this, [this] { CheckStartMin_Click(); });

    FitCaptions(client);
    FitColumns();

    setTabOrder(addAcct_, delAcct_);
    setTabOrder(delAcct_, modAcct_);
    setTabOrder(modAcct_, launchButton_);
    setTabOrder(launchButton_, checkButton_);

    statusBar_ = new QStatusBar(client);
    paintPacer_ = new PaintPacer(this, kRunFrameMs);
    statusBar_->setObjectName("StatusBar");
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setStyleSheet("QStatusBar { border-top: 1px solid palette(mid); }");
    PlaceTwips(statusBar_, 0, 3540, kClientWidth, 330);

    timerCheck_ = new QTimer(this);
    timerCheck_->setObjectName("TimerCheck");
    timerCheck_->setInterval(60000);
    connect(timerCheck_, &QTimer::timeout, this, [this] { TimerCheck_Timer(); });
    timerFlash_ = new QTimer(this);
    timerFlash_->setObjectName("TimerFlash");
    timerFlash_->setInterval(500);
    connect(timerFlash_, &QTimer::timeout, this, [this] { TimerFlash_Timer(); });
    trayRetry_ = new QTimer(this);
    trayRetry_->setInterval(2000);
    connect(trayRetry_, &QTimer::timeout, this, [this] { RetryTrayIcon(); });

    winsock1_ = new Winsock(this);
    winsock1_->setObjectName("Winsock1");
}

void PostlarkForm::BuildMenus() {
    auto action = [&](QMenu* menu, QAction*& a, const char* name, const char* caption) {
        a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(name);
    };
    menuFile_ = menuBar()->addMenu("&File");
    menuFile_->setObjectName("menu_File");
    action(menuFile_, menuChecknow_, "menu_Checknow", "&Check Mail Now");
    action(menuFile_, menuSignIn_, "menu_SignIn", "Sign &In Again...");
    menuSignIn_->setVisible(false);
    connect(menuFile_, &QMenu::aboutToShow, this, [this] { UpdateSignInEntry(); });
    connect(menuSignIn_, &QAction::triggered, this, [this] { menu_SignIn_Click(); });
    action(menuFile_, menuShow_, "menu_Show", "&Show");
    menuShow_->setCheckable(true);
    menuShow_->setChecked(true);
    action(menuFile_, menuSettings_, "menu_Settings", "&Settings...");
    action(menuFile_, menuExit_, "menu_Exit", "E&xit");
    menuHelp_ = menuBar()->addMenu("&Help");
    menuHelp_->setObjectName("menu_Help");
    action(menuHelp_, menuBackup_, "menu_backup", "&Backup Account Settings...");
    action(menuHelp_, menuRestore_, "menu_restore", "&Restore Account Settings...");
    action(menuHelp_, menuUpdates_, "menu_Updates", "&Check for updates");
    action(menuHelp_, menuAbout_, "menu_About", "&About...");

    // The check mark follows the window; the entry itself toggles the display state.
    connect(menuShow_, &QAction::triggered, this, [this] {
        menuShow_->setChecked(!menuShow_->isChecked());
        menu_Show_Click();
    });
    connect(menuExit_, &QAction::triggered, this, [this] { menu_Exit_Click(); });
    connect(menuChecknow_, &QAction::triggered, this, [this] { menu_Checknow_Click(); });
    connect(menuBackup_, &QAction::triggered, this, [this] { menu_backup_Click(); });
    connect(menuRestore_, &QAction::triggered, this, [this] { menu_restore_Click(); });
    connect(menuSettings_, &QAction::triggered, this, [this] { menu_Settings_Click(); });
    connect(menuUpdates_, &QAction::triggered, this, [this] { menu_Updates_Click(); });
    connect(menuAbout_, &QAction::triggered, this, [this] { menu_About_Click(); });
}

bool PostlarkForm::Form_Load() {
    instance_ =
        std::make_unique<SingleInstance>(QString::fromStdString(SettingsStore::FolderPath()));
    if (instance_->AnotherCopyRunning()) {
        const int answer =
            MsgBox("A copy of Postlark is already running, if it is not on your taskbar, check "
                   "the icon tray by the clock.  Would you like to start another instance?",
                   vbYesNo + vbInformation, "Postlark");
        if (answer == vbNo || endRequested_)
            return false;
        instance_->RunBesideOthers();
    }
    netConn_ = std::make_unique<CNetConnect>();
    autoCheck_ = std::make_unique<AutoCheck>(
        UpdateIntervalMins,
        [this] {
            // The connection read waits with events handled; the window may have closed.
            if (unloaded_)
                return;
            if (checkRun_->Running()) {
                checkRun_->SkipIfQuiet(); // the press that means Skip during a run
                return;
            }
            autoPress_ = true;
            CheckButton_Click();
            autoPress_ = false;
        },
        [this] { return netConn_->Connected(); },
        [] {
            win::DWORD flags = 0;
            return win::InternetGetConnectedState(&flags, 0) != 0;
        },
        AutoCheck::SystemClock(),
        [this](std::function<void()> work) {
            QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
        });

    // A store that exists but cannot be read looks like a fresh one: say so, once.
    if (const std::string problem = SettingsStore::ReadProblem(); !problem.empty())
        MsgBox(
            QStringLiteral("The settings file %1 cannot be read: %2. Postlark will not change it.")
                .arg(QString::fromStdString(SettingsStore::FilePath()),
                     QString::fromStdString(problem)),
            vbExclamation, "Postlark");
    if (endRequested_)
        return false;

    if (SettingsStore::IsFlagOn("RememberWhereIWas", true))
        RestorePosition();
    ExtendSystemMenu();

    if (SettingsStore::IsFlagOn("AutoCheck", false)) {
        timerCheck_->start();
        UpdateIntervalMins = AutoCheckInterval();
    }

    applicationKey_ = BuildApplicationKey();
    PassCryptModule::SetEventPump([] { QCoreApplication::processEvents(); });
    verdicts_ = std::make_unique<CheckVerdicts>();
    link_ = std::make_unique<MailLink>(*winsock1_, *verdicts_);
    probe_ = std::make_unique<Pop3Probe>(*link_, applicationKey_, *verdicts_);
    link_->Attach(*probe_);
    imapProbe_ = std::make_unique<ImapProbe>(*link_, applicationKey_, *verdicts_);
    link_->AttachImap(*imapProbe_);
    // Senders and subjects are read only while the notification shows them.
    arrivals_ = std::make_unique<Arrivals>(
        [] {
            return SettingsStore::IsFlagOn("AlertNotify", false) &&
                   NotifyStyleFromNumber(SettingsStore::GetInteger("AlertNotifyStyle", 1)) !=
                       NotifyStyle::Count;
        },
        [](std::int16_t account) {
            const AccountValues stored = StoredAccountValues(account);
            return stored.address.empty() ? QString()
                                          : OAuthTokens::AccountKey(AnsiToQString(stored.address),
                                                                    AnsiToQString(stored.user),
                                                                    AnsiToQString(stored.server));
        });
    probe_->SetNewMessageReader(arrivals_.get());
    imapProbe_->SetNewMessageReader(arrivals_.get());
    checkRun_ = std::make_unique<CheckRun>(*this, *winsock1_, *link_, *verdicts_);
    credentials_ = std::make_unique<AccountCredentials>(applicationKey_);
    credentials_->TokenInFile = [this](const QString& note) { SetStatusText(note); };
    checkRun_->SetCredentialSource(credentials_.get());
    MakePushWatchers();

    sysIcon_ = new CSystrayIcon(this);
    sysIcon_->Initialize(hWnd_, postlarkImage_, kTrayTip, kTrayCallback);

    FlashPhase = true;
    LoadAccountList(StoredAddresses());
    ApplyProgressOptions();
    ApplyCommandLine();
    if (endRequested_)
        return false;
    loaded_ = true;
    // With automatic checking or push on, a check at start comes before the timer's first tick:
    // it runs from the event loop once start-up is over, shown or hidden. Without it, the first
    // push counts tell of the mail waiting at start.
    const bool checking = SettingsStore::IsFlagOn("AutoCheck", false);
    const bool pushing = SettingsStore::IsFlagOn("ImapPush", true);
    if ((checking || pushing) && SettingsStore::IsFlagOn("CheckAtStart", false))
        autoCheck_->CheckNow();
    else if (pushing)
        push_->AnnounceFirstCounts();
    // The watchers connect once the window has loaded and the event loop runs.
    QMetaObject::invokeMethod(
        this, [this] { SyncPushWatchers(); }, Qt::QueuedConnection);
    return true;
}

void PostlarkForm::RestorePosition() {
    // A position off the screen on any side (a damaged value such as -3e12 included) puts
    // the window in the top left corner; only positions on the screen reach the conversion
    // to pixels, so it never overflows.
    const auto onScreen = [](double twips, double extent) { return twips >= 0 && twips < extent; };
    const double left = SettingsStore::GetNumber("MainLeft", 1000);
    const bool leftOnScreen = onScreen(left, win::ScreenWidthTwips());
    const double top = leftOnScreen ? SettingsStore::GetNumber("MainTop", 1000) : 0;
    if (!leftOnScreen || !onScreen(top, win::ScreenHeightTwips())) {
        move(0, 0); // off the screen: the top left corner, frame included
        return;
    }
    // The stored corner is the client area's (see Form_Unload); setGeometry places exactly that.
    setGeometry(
        QRect(QPoint(int(std::lround(left / twipsX_)), int(std::lround(top / twipsY_))), size()));
}

void PostlarkForm::ApplyProgressOptions() {
    const double show = SettingsStore::GetFlag("ShowProgress", 1);
    if (show == 1)
        progressBar1_->setVisible(true);
    else if (show == 0)
        progressBar1_->setVisible(false);

    const std::string style = SettingsStore::GetValue("ProgressStyle", "Block");
    if (style == "Block")
        progressBar1_->SetSmooth(false);
    else if (style == "Smooth")
        progressBar1_->SetSmooth(true);
}

void PostlarkForm::ApplyCommandLine() {
    if (arguments_.join(' ') == "/registrystart") {
        HideToTray();
        return;
    }
    // A backup file named on the command line (opened from the file manager, say).
    const QString commandLine = arguments_.join(' ').trimmed();
    if (commandLine.contains(".pls"))
        RestoreFromFile(commandLine);

    // Only a value that reads exactly as 1 checks the box; anything else reads as 0.
    checkStartMin_->setChecked(SettingsStore::IsFlagOn("StartMinimized", false));
    if (checkStartMin_->isChecked())
        HideToTray();
    else
        show();
}

// The address of every stored account, in account order, as the list's rows show them.
QStringList PostlarkForm::StoredAddresses() {
    const double stored = SettingsStore::GetNumber("NumAccts", 0);
    if (!(stored > 0))
        return {};
    // Account numbers are 16-bit; a larger count can only come from a damaged file.
    const int count = int(std::min(std::floor(stored), 32767.0));
    std::vector<std::string> keys;
    keys.reserve(static_cast<std::size_t>(count));
    for (int p = 1; p <= count; ++p)
        keys.push_back(AccountKey("EmailAddress", p - 1));
    // Each address goes from the store straight into the list's text, with no copy between.
    QStringList addresses;
    addresses.reserve(count);
    SettingsStore::WithValues(keys, [&](std::span<const std::string* const> values) {
        for (const std::string* address : values)
            addresses.append(AnsiToQString(address ? std::string_view(*address) : "Bad Read"));
    });
    return addresses;
}

void PostlarkForm::LoadAccountList(const QStringList& addresses) {
    // The rows go in as one batch: the list lays itself out once instead of once per row.
    QList<QTreeWidgetItem*> rows;
    rows.reserve(addresses.size());
    for (const QString& address : addresses)
        rows.append(new QTreeWidgetItem(QStringList{address}));
    if (rows.isEmpty())
        return;
    accountList_->addTopLevelItems(rows);
    if (SelectedAccount() < 0)
        SelectRow(0);
}

int PostlarkForm::AccountRowCount() const {
    return accountList_->topLevelItemCount();
}

void PostlarkForm::ReDraw() {
    EndCheckRunForListChange();
    // The account that was selected stays selected (by number, the last row if it is gone).
    const int selected = std::max(SelectedAccount(), 0);
    const QStringList addresses = StoredAddresses();
    // A "Failed" stays on a row that still shows its account until something new is known.
    std::vector<std::pair<QString, QString>> failed; // address and tool tip, by row
    for (int row = 0; row < AccountRowCount(); ++row) {
        const QTreeWidgetItem* item = accountList_->topLevelItem(row);
        if (item->text(1) == "Failed" && row < addresses.size() && addresses[row] == item->text(0))
            failed.emplace_back(item->text(0), item->toolTip(1));
        else
            failed.emplace_back();
    }
    const auto keepFailed = [&] {
        for (int row = 0; row < int(failed.size()) && row < AccountRowCount(); ++row) {
            if (failed[std::size_t(row)].first.isEmpty())
                continue;
            SetNewMailText(row, "Failed");
            SetNewMailToolTip(row, failed[std::size_t(row)].second);
        }
    };
    if (!addresses.isEmpty() && addresses.size() == AccountRowCount()) {
        // As many rows as before: each row becomes a fresh row of its address (the new-mail
        // column and the tool tips emptied), without the list rebuilding and laying out its
        // rows. What a rebuilt list shows is kept: the selection on the same row, that row
        // current, and the list scrolled from the top just far enough to show it.
        // One fresh row, given each address in turn and copied: its texts are shared, not
        // made again for every row. A row that is already a fresh row of its address (one
        // column, no tool tip: a row gets a second column or a tool tip only from a check)
        // stays as it is.
        QTreeWidgetItem fresh;
        for (int row = 0; row < addresses.size(); ++row) {
            QTreeWidgetItem* item = accountList_->topLevelItem(row);
            const QString& address = addresses[row];
            if (item->columnCount() == 1 && !item->data(0, Qt::ToolTipRole).isValid() &&
                item->text(0) == address)
                continue;
            fresh.setText(0, address);
            *item = fresh;
        }
        accountList_->viewport()->update();
        accountList_->scrollToTop();
        SelectRow(selected);
        lastSelectedRow_ = SelectedAccount();
        accountList_->scrollTo(accountList_->currentIndex());
        keepFailed();
        SyncPushWatchers();
        return;
    }
    refilling_ = true;
    accountList_->clear();
    refilling_ = false;
    LoadAccountList(addresses);
    SelectRow(selected);
    keepFailed();
    SyncPushWatchers();
}

void PostlarkForm::CheckStartMin_Click() {
    SaveOrReport([this] {
        SettingsStore::SaveValue("StartMinimized", checkStartMin_->isChecked() ? "1" : "0");
    });
}

void PostlarkForm::SaveOrReport(const std::function<void()>& write) {
    try {
        write();
    } catch (const RuntimeError& error) {
        // The program goes on with what it has; the user hears of it once per session: the
        // cause in the status bar, the whole story in its tool tip.
        if (saveFailureShown_)
            return;
        saveFailureShown_ = true;
        const auto* storeError = dynamic_cast<const SettingsStoreError*>(&error);
        const std::string& reason = storeError ? storeError->Reason : error.Description;
        statusBar_->showMessage(
            QStringLiteral("Settings cannot be saved: %1").arg(QString::fromStdString(reason)));
        statusBar_->setToolTip(QString::fromStdString(error.Description));
    }
}

void PostlarkForm::menu_Exit_Click() {
    close();
}

void PostlarkForm::RequestEnd() {
    if (loaded_) {
        close();
        return;
    }
    // Still loading: the question on the screen is closed unanswered, and the start-up ends
    // right after it.
    endRequested_ = true;
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        dialog->reject();
}

void PostlarkForm::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
    QCoreApplication::quit();
}

void PostlarkForm::Form_Unload() {
    // A copy that never finished loading has nothing to store.
    if (unloaded_ || !loaded_)
        return;
    unloaded_ = true;
    winsock1_->Close(); // ends the wait of a check run in progress
    if (push_)
        push_->StopAll();
    trayRetry_->stop();
    timerFlash_->stop();
    timerCheck_->stop();
    if (sysIcon_)
        sysIcon_->HideIcon();
    DetachSystemCommands();
    if (SettingsStore::IsFlagOn("RememberWhereIWas", true) && !isMinimized()) {
        // The client area's corner, frame excluded: restoring it with setGeometry reopens the
        // window exactly where it was, whatever the window manager's frame, instead of creeping.
        const QPoint at = geometry().topLeft();
        SaveOrReport([&] {
            SettingsStore::Apply(
                {SettingsStore::Change::Set("MainLeft", PositionText(at.x() * twipsX_)),
                 SettingsStore::Change::Set("MainTop", PositionText(at.y() * twipsY_))});
        });
    }
}

} // namespace postlark
