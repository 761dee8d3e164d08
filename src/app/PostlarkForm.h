// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: the account list and its commands, the tray icon, start-up and shut-down.
#include "app/AccountListView.h"
#include "dialogs/SettingsTarget.h"
#include "mail/alerts/AlertTarget.h"
#include "mail/check/CheckRunView.h"
#include "mail/push/PushView.h"
#include "platform/base/Win32Types.h"
#include "winsupport/ISubclass.h"

#include <QMainWindow>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;
class QTreeWidget;

namespace postlark {

class PaintPacer;

class AutoCheck;
class CheckRun;
class CommonDialog;
class CNetConnect;
class CSystrayIcon;
class DesktopNotification;
class ImapProbe;
class MailLink;
class Pop3Probe;
struct CheckVerdicts;
class ProgressBar;
class PushWatchers;
class AccountCredentials;
class Arrivals;
class SingleInstance;
class Winsock;

class PostlarkForm : public QMainWindow,
                     public AccountListView,
                     public CheckRunView,
                     public AlertTarget,
                     public PushView,
                     public SettingsTarget,
                     public ISubclass {
    Q_OBJECT
public:
    // `arguments` is the command line without the program name.
    explicit PostlarkForm(QStringList arguments, QWidget* parent = nullptr);
    ~PostlarkForm() override;

    // Runs the start-up sequence. False when the user chose not to start a second copy;
    // the program then ends without having read or written any setting.
    bool Form_Load();

    // AccountListView
    int AccountRowCount() const override;
    void ReDraw() override;
    bool ConfirmListCurrent(int account) override;
    void EndCheckRunForListChange() override;
    bool SignInNeeded(int account) const override;
    void SignedIn(int account, const SignInResult& result, bool keptInFile) override;

    void menu_Show_Click() override;
    void menu_Exit_Click();
    // A termination signal (hang-up, terminate, interrupt): the program ends as File > Exit
    // ends it. During a start-up question it ends without changing anything.
    void RequestEnd();
    void CheckStartMin_Click();
    void DelAcct_Click();
    void AddAcct_Click();
    void ModAcct_Click();
    void AccountList_DblClick();
    void CheckButton_Click();
    void menu_Checknow_Click();
    // Signs in again, in the browser, the first account whose OAuth2 sign-in is needed.
    void menu_SignIn_Click();
    // The row of the first account that needs its sign-in again; -1 when none does.
    int SignInNeededRow() const;
    void UpdateSignInEntry();
    void LaunchButton_Click();
    void TimerFlash_Timer();
    void menu_backup_Click();
    void menu_restore_Click();
    void menu_Settings_Click();
    // The automatic check's one-minute tick.
    void TimerCheck_Timer();

    // Arms (on) or disarms (off) the automatic check timer; arming a running timer leaves its
    // minute as it was. The countdown `UpdateIntervalMins` is set by the caller.
    void SetTimerCheckEnabled(bool on) override;
    bool TimerCheckEnabled() const;
    // The connection probe, read before an automatic check when "CheckConnection" is on.
    CNetConnect& NetConn() { return *netConn_; }

    void menu_About_Click();
    void menu_Updates_Click();

    // ISubclass: the window's system commands (WM_SYSCOMMAND), attached from load to unload.
    std::int32_t MsgResponse() override { return ResponseConsume; }
    void SetMsgResponse(std::int32_t) override {}
    win::LRESULT WindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam,
                            win::LPARAM lParam) override;

    // CheckRunView
    void SetStatusText(const QString& text) override;
    void BeginRunControls() override;
    void EnableLaunchAndCheck() override;
    void EndRunControls() override;
    std::int32_t ProgressPosition() const override;
    void SetProgressPosition(std::int32_t position) override;
    void SetNewMailText(int row, const QString& text) override;
    void SetNewMailToolTip(int row, const QString& tip) override;
    std::optional<QString> RowAddress(int row) const override;
    void GotMail() override;
    bool Unloading() const override { return unloaded_; }

    // AlertTarget
    QString AccountRowText(int row) const override;
    win::HWND Handle() const override { return hWnd_; }
    void StartTrayAlert(const QString& tip) override;
    bool TrayIconVisible() const override;
    void ShowDesktopNotification(const QString& summary, const QString& body) override;
    void ShowNewMailCount(int count) override;
    AccountNews TakeNews(int account) override;
    void NoNewMail() override { ShowNewMailCount(0); }
    // The new-mail count drawn on the tray icon; 0 while none is.
    int NewMailCount() const { return newMailCount_; }
    // The tray icon's tip: the program's name, or the counted mail by account.
    void UpdateTrayTip();

    // PushView
    QString NewMailCell(int row) const override;
    bool CheckRunning() const override;
    void PushGotMail(const std::vector<std::int16_t>& results) override;
    void PushLanded() override;

    // SettingsTarget
    void ApplyImapPush() override;
    QString MoveKeyringPasswords(bool on) override;
    void ResetUpdateIntervalMins() override;
    void SetProgressBarVisible(bool visible) override;
    void SetProgressBarSmooth(bool smooth) override;

    // The results of the last check run.
    const CheckVerdicts& Verdicts() const { return *verdicts_; }
    CheckRun& Checker() { return *checkRun_; }
    // The push watchers of the IMAP accounts; made by Form_Load.
    PushWatchers& Push() { return *push_; }

    // Called by the tray icon's callback message as a mouse move of this window.
    void Form_MouseMove(int button, int shift, double x, double y);

    CSystrayIcon& SysIcon() { return *sysIcon_; }
    ProgressBar& ProgressBar1() { return *progressBar1_; }
    const std::string& ApplicationKey() const { return applicationKey_; }

    std::int16_t UpdateIntervalMins = 0;
    bool FlashPhase = false;

    // Twips per pixel of the screen the window was laid out on.
    int TwipsX() const { return twipsX_; }
    int TwipsY() const { return twipsY_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void FitCaptions(QWidget* client);
    void FitColumns();
    void FixWindowSize();
    void PlaceTwips(QWidget* w, int left, int top, int width, int height);
    void RestorePosition();
    // The address of every stored account, in account order, as the list's rows show them.
    static QStringList StoredAddresses();
    void LoadAccountList(const QStringList& addresses);
    void ApplyProgressOptions();
    void ApplyCommandLine();
    void Form_Unload();
    // Push: the watchers are made at load and started once the window has loaded; the account
    // list and the setting bring them in line.
    void MakePushWatchers();
    void SyncPushWatchers();
    // The count each row shows ("Yes, n" gives n), empty for the other rows.
    std::vector<std::string> RowCounts() const;
    // Runs a store write made outside a dialog; a failure is told once per session in the
    // status bar and the program carries on.
    void SaveOrReport(const std::function<void()>& write);

    // The account backup file: restore at start-up, and the restore both commands share.
    void RestoreFromFile(const QString& path);
    void RestoreAccounts(const QString& path);
    CommonDialog& CommonDialog1();

    void ExtendSystemMenu();
    void DetachSystemCommands();

    // Display states: shown (window visible, icon absent) and hidden (icon only).
    void HideToTray();
    void RetryTrayIcon();
    void SetShowChecked(bool checked);
    // The tray picture to show for one of the plain ones: with the new-mail count drawn on it
    // while there is one.
    win::HICON TrayPicture(win::HICON plain) const;
    // The account that modify, delete and launch act on: the selected row's, or -1 for an
    // empty list. Whenever the list has rows exactly one is selected (see KeepOneSelected).
    int SelectedAccount() const;
    void SelectRow(int row);
    void KeepOneSelected();
    bool ReportEmptyList();

    QStringList arguments_;
    std::string applicationKey_;
    win::HWND hWnd_ = 0;
    int twipsX_ = 15;
    int twipsY_ = 15;
    bool loaded_ = false;
    bool unloaded_ = false;
    bool endRequested_ = false; // a termination signal came while loading
    bool trayNoticeShown_ = false;
    bool saveFailureShown_ = false;
    bool notifyNoticeShown_ = false;
    int trayRetriesLeft_ = 0;
    std::int32_t lastTrayCode_ = 0;
    bool trayBusy_ = false;
    bool sysCommandsAttached_ = false;
    int lastSelectedRow_ = 0;
    bool refilling_ = false;
    bool autoPress_ = false; // the check button is being pressed by automatic checking

    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<CNetConnect> netConn_;
    std::unique_ptr<AutoCheck> autoCheck_;
    std::unique_ptr<CheckVerdicts> verdicts_;
    std::unique_ptr<MailLink> link_;
    std::unique_ptr<Pop3Probe> probe_;
    std::unique_ptr<ImapProbe> imapProbe_;
    std::unique_ptr<AccountCredentials> credentials_; // outlives the run and the watchers
    std::unique_ptr<Arrivals> arrivals_;              // what the dialogues read of new mail
    std::unique_ptr<CheckRun> checkRun_;
    std::unique_ptr<DesktopNotification> notification_; // made at the first notification
    std::unique_ptr<PushWatchers> push_;
    CSystrayIcon* sysIcon_ = nullptr;
    win::HICON postlarkImage_ = 0;
    win::HICON mailTray1_ = 0;
    win::HICON mailTray2_ = 0;
    int newMailCount_ = 0;
    std::array<win::HICON, 3> countedImages_{}; // the three pictures above with the count

    QTreeWidget* accountList_ = nullptr;
    QPushButton* addAcct_ = nullptr;
    QPushButton* delAcct_ = nullptr;
    QPushButton* modAcct_ = nullptr;
    QPushButton* launchButton_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QCheckBox* checkStartMin_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    PaintPacer* paintPacer_ = nullptr; // paces painting during a check run
    ProgressBar* progressBar1_ = nullptr;
    QTimer* timerCheck_ = nullptr;
    QTimer* timerFlash_ = nullptr;
    QTimer* trayRetry_ = nullptr;
    Winsock* winsock1_ = nullptr;
    std::unique_ptr<CommonDialog> commonDialog1_;

    QMenu* menuFile_ = nullptr;
    QAction* menuChecknow_ = nullptr;
    QAction* menuSignIn_ = nullptr; // shown only while an account needs its sign-in again
    QAction* menuShow_ = nullptr;
    QAction* menuSettings_ = nullptr;
    QAction* menuExit_ = nullptr;
    QMenu* menuHelp_ = nullptr;
    QAction* menuBackup_ = nullptr;
    QAction* menuRestore_ = nullptr;
    QAction* menuUpdates_ = nullptr;
    QAction* menuAbout_ = nullptr;
};

} // namespace postlark
