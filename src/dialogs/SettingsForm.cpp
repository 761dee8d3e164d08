// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's controls and their layout.
#include "dialogs/SettingsForm.h"

#include "platform/window/Screen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QShortcut>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>

// The pictures live in a static library, so their resources are registered by hand.
static void InitDialogResources() {
    Q_INIT_RESOURCE(dialogs);
}

namespace postlark {

namespace {

constexpr int kFrameLeft = 360; // twips, where the shown frame stands
constexpr int kFrameTop = 600;
constexpr int kMargin = 8; // pixels

QCheckBox* Check(QWidget* parent, const char* name, const char* caption, const char* tip = "") {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(name);
    if (*tip)
        box->setToolTip(QString::fromUtf8(tip));
    return box;
}

QLabel* Picture(QWidget* parent, const char* name, const char* resource) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(QIcon(resource).pixmap(32, 32));
    label->setFixedSize(32, 32);
    return label;
}

// A frame with the picture (if any) beside a column of controls.
QVBoxLayout* FrameColumn(QGroupBox* frame, QLabel* picture) {
    auto* row = new QHBoxLayout(frame);
    row->setSpacing(12);
    if (picture)
        row->addWidget(picture, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    row->addLayout(column, 1);
    return column;
}

} // namespace

SettingsForm::SettingsForm(SettingsTarget& target, QWidget* parent)
    : QDialog(parent), target_(target) {
    InitDialogResources();
    setObjectName("SettingsForm");
    setWindowTitle("Settings");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    BuildControls();
    LayOut();
    Form_Load();
}

void SettingsForm::BuildControls() {
    tabBody_ = new QWidget(this);
    tabBody_->setObjectName("TabBody");
    tabBody_->setAutoFillBackground(false);
    tabBody_->setStyleSheet("#TabBody { border: 1px solid palette(mid); }");

    tabStrip1_ = new QTabBar(this);
    tabStrip1_->setObjectName("TabStrip1");
    tabStrip1_->setDrawBase(false);
    const struct {
        const char* caption;
        const char* key;
        const char* tip;
    } tabs[] = {
        {"Alerts", "Alerts", "Set how you wish to be alerted to incoming mail"},
        {"Auto Check", "AutoCheck", "Set the automatic connection options"},
        {"General", "General", "Sets general program options"},
    };
    for (const auto& tab : tabs) {
        const int index = tabStrip1_->addTab(tab.caption);
        tabStrip1_->setTabData(index, QString(tab.key));
        tabStrip1_->setTabToolTip(index, tab.tip);
    }
    connect(tabStrip1_, &QTabBar::currentChanged, this, [this] { TabStrip1_Click(); });
    // Ctrl+PageDown and Ctrl+PageUp switch tabs before the focused control sees them (the
    // interval arrows would take PageUp and PageDown); Ctrl+Tab is handled in keyPressEvent.
    connect(new QShortcut(Qt::CTRL | Qt::Key_PageDown, this), &QShortcut::activated, this,
            [this] { StepTab(1); });
    connect(new QShortcut(Qt::CTRL | Qt::Key_PageUp, this), &QShortcut::activated, this,
            [this] { StepTab(-1); });

    alertFrame_ = new QGroupBox("Alert Options", this);
    alertFrame_->setObjectName("AlertFrame");
    QVBoxLayout* alerts =
        FrameColumn(alertFrame_, Picture(alertFrame_, "AlertPicture", ":/dialogs/alerts.svg"));
    auto* label1 = new QLabel("Choose how you wish to be alerted to incoming email:", alertFrame_);
    label1->setObjectName("Label1");
    msgCheck_ = Check(alertFrame_, "MsgCheck", "Display a &message box",
                      "If checked, will display a modal message box when there is new mail.");
    soundCheck_ = Check(alertFrame_, "SoundCheck", "&Play a sound",
                        "If checked, will play the system \"New Mail Notification\" sound "
                        "(configurable in the Sounds or Sounds and Multimedia control panels.)");
    launchCheck_ = Check(alertFrame_, "LaunchCheck", "&Launch the associated program",
                         "If checked, will launch the program associated with the email address.");
    trayCheck_ = Check(alertFrame_, "TrayCheck", "&Flash a mail icon in the system tray",
                       "If checked, will put a flashing envelope icon in the system tray area.");
    popUpCheck_ = Check(alertFrame_, "PopUpCheck", "Pop &Up the main window");
    notifyCheck_ = Check(alertFrame_, "NotifyCheck", "Show a &desktop notification",
                         "If checked, will show a notification of the desktop listing the "
                         "accounts with new mail; choosing it brings the main window back.");
    // What the notification tells, beside its box: the box's row has room to its right.
    notifyStyle_ = new QComboBox(alertFrame_);
    notifyStyle_->setObjectName("NotifyStyle");
    notifyStyle_->addItems({"Count only", "Senders", "With subjects"});
    notifyStyle_->setAccessibleName("Desktop notification shows");
    notifyStyle_->setToolTip("What the desktop notification tells of new messages. Senders and "
                             "subjects are read without marking any message as read.");
    connect(notifyCheck_, &QCheckBox::toggled, notifyStyle_, &QWidget::setEnabled);
    auto* notifyRow = new QHBoxLayout;
    notifyRow->addWidget(notifyCheck_);
    notifyRow->addWidget(notifyStyle_);
    notifyRow->addStretch();
    alerts->addWidget(label1);
    for (QWidget* w : {msgCheck_, soundCheck_, launchCheck_, trayCheck_, popUpCheck_})
        alerts->addWidget(w);
    alerts->addLayout(notifyRow);
    alerts->addStretch();

    autoCheckFrame_ = new QGroupBox("Automatic Check Options", this);
    autoCheckFrame_->setObjectName("AutoCheckFrame");
    QVBoxLayout* auto_ = FrameColumn(
        autoCheckFrame_, Picture(autoCheckFrame_, "AutoCheckPicture", ":/dialogs/autocheck.svg"));
    autoCheck_ = Check(autoCheckFrame_, "AutoCheck", "C&heck for new mail automatically");
    auto* label2 = new QLabel("Every", autoCheckFrame_);
    label2->setObjectName("Label2");
    textInterval_ = new QLineEdit("1", autoCheckFrame_);
    textInterval_->setObjectName("TextInterval");
    textInterval_->setAlignment(Qt::AlignRight);
    textInterval_->setMaxLength(5);
    textInterval_->setFixedWidth(textInterval_->fontMetrics().horizontalAdvance("0000") + 14);
    // Typed keys are filtered by IsNumber; pasted or dropped text must be digits as well.
    textInterval_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), textInterval_));
    textInterval_->installEventFilter(this);
    upDownInterval_ = new QScrollBar(Qt::Vertical, autoCheckFrame_);
    upDownInterval_->setObjectName("UpDownInterval");
    upDownInterval_->setRange(1, 240);
    upDownInterval_->setSingleStep(1);
    upDownInterval_->setPageStep(1);
    upDownInterval_->setValue(1);
    // The upper arrow (and the Up key) raises the interval: a scroll bar's steps run downward,
    // so each step is turned around before it takes effect.
    connect(upDownInterval_, &QAbstractSlider::actionTriggered, this, [this](int action) {
        const int step = upDownInterval_->singleStep();
        if (action == QAbstractSlider::SliderSingleStepAdd ||
            action == QAbstractSlider::SliderPageStepAdd)
            upDownInterval_->setSliderPosition(upDownInterval_->value() - step);
        else if (action == QAbstractSlider::SliderSingleStepSub ||
                 action == QAbstractSlider::SliderPageStepSub)
            upDownInterval_->setSliderPosition(upDownInterval_->value() + step);
    });
    upDownInterval_->setFixedSize(16, textInterval_->sizeHint().height());
    auto* label3 = new QLabel("minutes.", autoCheckFrame_);
    label3->setObjectName("Label3");
    auto* every = new QHBoxLayout;
    every->setSpacing(4);
    every->addSpacing(20);
    every->addWidget(label2);
    every->addWidget(textInterval_);
    every->addWidget(upDownInterval_);
    every->addWidget(label3);
    every->addStretch();
    checkConnection_ =
        Check(autoCheckFrame_, "CheckConnection", "Confirm connection to &Internet",
              "Makes sure there is an Internet connection before checking email automatically "
              "(does not affect manual email checks)");
    // Push works beside the timer, whether automatic checking is on or not.
    imapPush_ = Check(autoCheckFrame_, "ImapPush", "&Push new mail of IMAP accounts at once",
                      "Keeps a connection open to each IMAP server that offers it, so new mail "
                      "shows the moment it arrives");
    auto_->addWidget(autoCheck_);
    auto_->addLayout(every);
    checkAtStart_ = Check(autoCheckFrame_, "CheckAtStart", "Check &when Postlark starts",
                          "Checks for new mail as soon as Postlark has started, before the "
                          "first automatic check.");
    auto_->addWidget(checkConnection_);
    auto_->addWidget(checkAtStart_);
    auto_->addWidget(imapPush_);
    auto_->addStretch();

    generalFrame_ = new QGroupBox("General Settings", this);
    generalFrame_->setObjectName("GeneralFrame");
    QVBoxLayout* general = FrameColumn(generalFrame_, nullptr);
    checkProgress_ = Check(generalFrame_, "CheckProgress", "Show progress &bar",
                           "Shows or hides the progress bar on the main screen");
    optionBlock_ = new QRadioButton("Block", generalFrame_);
    optionBlock_->setObjectName("OptionBlock");
    optionBlock_->setToolTip("Shows the progress bar in a blocked style");
    optionSmooth_ = new QRadioButton("Smooth", generalFrame_);
    optionSmooth_->setObjectName("OptionSmooth");
    optionSmooth_->setToolTip("Shows the progress bar in a smooth style");
    // Exactly one style is always selected: the options are exclusive (clicking the selected
    // one keeps it), and each handler also clears the other option.
    optionBlock_->setAutoExclusive(true);
    optionSmooth_->setAutoExclusive(true);
    optionBlock_->setChecked(true);
    optionBlock_->setEnabled(false);
    optionSmooth_->setEnabled(false);
    auto* style = new QHBoxLayout;
    style->setSpacing(16);
    style->addSpacing(20);
    style->addWidget(optionBlock_);
    style->addWidget(optionSmooth_);
    style->addStretch();
    checkStartup_ = Check(generalFrame_, "CheckStartup", "&Startup on System startup to tray");
    rememberWhereIWas_ = Check(generalFrame_, "RememberWhereIWas", "&Remember window position");
    general->addWidget(checkProgress_);
    general->addLayout(style);
    general->addWidget(checkStartup_);
    general->addWidget(rememberWhereIWas_);
    trayCountCheck_ =
        Check(generalFrame_, "TrayCountCheck", "Show the &number of new messages on the tray icon",
              "If checked, the tray icon carries the number of new messages until you dismiss it.");
    general->addWidget(trayCountCheck_);
    checkKeyring_ = Check(generalFrame_, "CheckKeyring", "Keep passwords in the desktop's keyring",
                          "If checked, the account passwords are kept in the desktop's keyring "
                          "(Secret Service) instead of the settings file.");
    general->addWidget(checkKeyring_);
    general->addStretch();

    cmdOK_ = new QPushButton("&OK", this);
    cmdOK_->setObjectName("cmdOK");
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton("&Cancel", this);
    cmdCancel_->setObjectName("cmdCancel");
    cmdApply_ = new QPushButton("&Apply", this);
    cmdApply_->setObjectName("cmdApply");
    for (QPushButton* b : {cmdOK_, cmdCancel_, cmdApply_})
        b->setAutoDefault(false);

    // Value changes made by code run the handlers too, as the opening relies on.
    connect(autoCheck_, &QCheckBox::toggled, this, [this] { AutoCheck_Click(); });
    connect(imapPush_, &QCheckBox::toggled, this, [this] { ImapPush_Click(); });
    connect(checkProgress_, &QCheckBox::toggled, this, [this] { CheckProgress_Click(); });
    connect(checkStartup_, &QCheckBox::toggled, this, [this] { CheckStartup_Click(); });
    connect(optionBlock_, &QRadioButton::toggled, this, [this] { OptionBlock_Click(); });
    connect(optionSmooth_, &QRadioButton::toggled, this, [this] { OptionSmooth_Click(); });
    connect(textInterval_, &QLineEdit::textChanged, this, [this] { TextInterval_Change(); });
    connect(upDownInterval_, &QScrollBar::valueChanged, this, [this] { UpDownInterval_Change(); });
    connect(cmdOK_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdApply_, &QPushButton::clicked, this, [this] { cmdApply_Click(); });
}

// The three frames share one size, large enough for the widest and tallest of them at the
// current font, so no caption is ever cut; the tab body surrounds the frame's place.
void SettingsForm::LayOut() {
    QSize frame;
    for (QGroupBox* f : {alertFrame_, autoCheckFrame_, generalFrame_})
        frame = frame.expandedTo(f->sizeHint());
    frame.rwidth() = std::max(frame.width(), 300);
    const QSize bar = tabStrip1_->sizeHint();
    tabStrip1_->setGeometry(kMargin, kMargin, bar.width(), bar.height());

    const int barBottom = kMargin + bar.height();
    frameLeft_ = std::max(kFrameLeft / win::TwipsPerPixelX(), 2 * kMargin);
    frameTop_ = std::max(kFrameTop / win::TwipsPerPixelY(), barBottom + kMargin);
    for (QGroupBox* f : {alertFrame_, autoCheckFrame_, generalFrame_})
        f->setGeometry(frameLeft_, frameTop_, frame.width(), frame.height());

    const int inset = frameLeft_ - kMargin;
    const int bodyWidth = frame.width() + 2 * inset;
    const int bodyBottom = frameTop_ + frame.height() + inset;
    tabBody_->setGeometry(kMargin, barBottom - 1, bodyWidth, bodyBottom - barBottom + 1);
    tabBody_->lower();

    // OK, Cancel and Apply along the bottom, left to right, ending at the body's right edge.
    int buttonWidth = 80;
    for (QPushButton* b : {cmdOK_, cmdCancel_, cmdApply_})
        buttonWidth = std::max(buttonWidth, b->sizeHint().width());
    const int buttonHeight = cmdOK_->sizeHint().height();
    const int buttonTop = bodyBottom + 10;
    int x = kMargin + bodyWidth - 3 * buttonWidth - 2 * 6;
    for (QPushButton* b : {cmdOK_, cmdCancel_, cmdApply_}) {
        b->setGeometry(x, buttonTop, buttonWidth, buttonHeight);
        x += buttonWidth + 6;
    }
    setFixedSize(kMargin + bodyWidth + kMargin, buttonTop + buttonHeight + kMargin);
}

bool SettingsForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == textInterval_ && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        // Control characters (shortcuts such as copy and paste) are not typing.
        if (text.size() == 1 && text[0].unicode() >= 32 && text[0].unicode() != 127 &&
            !IsNumber(text[0].unicode()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsForm::StepTab(int by) {
    const int count = tabStrip1_->count();
    tabStrip1_->setCurrentIndex((tabStrip1_->currentIndex() + by + count) % count);
}

// The keys of every tabbed dialog: Ctrl+Tab to the next tab, Ctrl+Shift+Tab back, round at
// either end. No control takes them, so they come here from whichever has the focus.
void SettingsForm::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (control && event->key() == Qt::Key_Tab)
        StepTab(event->modifiers() & Qt::ShiftModifier ? -1 : 1);
    else if (control && event->key() == Qt::Key_Backtab)
        StepTab(-1);
    else
        QDialog::keyPressEvent(event);
}

bool SettingsForm::IsNumber(int keyAscii) {
    return (keyAscii >= '0' && keyAscii <= '9') || keyAscii == 8;
}

} // namespace postlark
