// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part in checking mail: the check and skip commands, the window side of
// a check run, the new-mail alerts and the launcher.
#include "app/PostlarkForm.h"

#include "mail/alerts/Alerts.h"
#include "mail/alerts/ShellExecuteMessages.h"
#include "mail/arrivals/Arrivals.h"
#include "mail/check/AutoCheck.h"
#include "mail/check/CheckRun.h"
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/push/PushWatchers.h"
#include "platform/net/Winsock.h"
#include "platform/shell/DesktopNotification.h"
#include "platform/shell/ShellExecute.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/DeferredPaint.h"
#include "platform/window/MsgBox.h"
#include "platform/window/PaintPacer.h"
#include "platform/window/WindowLayer.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"
#include "winsupport/CSystrayIcon.h"
#include "winsupport/ProgressBar.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

namespace postlark {

namespace {
const char* const kSkipCaption = "&Skip Account";
} // namespace

void PostlarkForm::CheckButton_Click() {
    // The caption is what tells a run in progress from an idle window.
    if (checkButton_->text() == kSkipCaption)
        checkRun_->Skip();
    else
        menu_Checknow_Click();
}

void PostlarkForm::menu_Checknow_Click() {
    const bool byHand = !autoPress_;
    checkRun_->Run();
    // Push results that came in meanwhile land now, on rows that still show their accounts.
    if (!push_ || unloaded_)
        return;
    push_->Land();
    // A check by hand gives each account it reached (its row has a text) another chance to push.
    const std::vector<QString>& texts = checkRun_->NewMailTexts();
    for (std::size_t i = 0; byHand && i < texts.size(); ++i)
        if (!texts[i].isEmpty() && i < verdicts_->CheckResults.size())
            push_->CheckedByHand(static_cast<int>(i), verdicts_->CheckResults[i]);
}

void PostlarkForm::EndCheckRunForListChange() {
    if (!checkRun_ || !checkRun_->Running())
        return;
    checkRun_->Abort();
    SetStatusText("The check was stopped because the account list changed.");
}

void PostlarkForm::SetStatusText(const QString& text) {
    // During a run the pacer holds the status bar's own repaint back already.
    if (paintPacer_->Active())
        statusBar_->showMessage(text);
    else
        SetWithoutRepaint(statusBar_, [&] { statusBar_->showMessage(text); });
}

void PostlarkForm::BeginRunControls() {
    for (QPushButton* b : {addAcct_, delAcct_, modAcct_, launchButton_})
        b->setEnabled(false);
    checkButton_->setText(kSkipCaption);
    menuChecknow_->setEnabled(false);
    // A restore would replace the accounts under the run.
    menuRestore_->setEnabled(false);
    paintPacer_->SetActive(true);
}

void PostlarkForm::EnableLaunchAndCheck() {
    launchButton_->setEnabled(true);
    checkButton_->setEnabled(true);
    menuChecknow_->setEnabled(true);
}

void PostlarkForm::EndRunControls() {
    for (QPushButton* b : {addAcct_, delAcct_, modAcct_})
        b->setEnabled(true);
    menuRestore_->setEnabled(true);
    checkButton_->setText("&Check Mail Now");
    paintPacer_->SetActive(false);
}

std::int32_t PostlarkForm::ProgressPosition() const {
    return progressBar1_->Position();
}

void PostlarkForm::SetProgressPosition(std::int32_t position) {
    progressBar1_->SetPosition(position);
}

void PostlarkForm::SetNewMailText(int row, const QString& text) {
    if (QTreeWidgetItem* item = accountList_->topLevelItem(row))
        item->setText(1, text);
}

void PostlarkForm::SetNewMailToolTip(int row, const QString& tip) {
    if (QTreeWidgetItem* item = accountList_->topLevelItem(row))
        item->setToolTip(1, tip);
}

void PostlarkForm::GotMail() {
    ::postlark::GotMail(*this, verdicts_->CheckResults, verdicts_->MessageCounts);
}

std::optional<QString> PostlarkForm::RowAddress(int row) const {
    const QTreeWidgetItem* item = accountList_->topLevelItem(row);
    return item ? std::optional<QString>(item->text(0)) : std::nullopt;
}

QString PostlarkForm::AccountRowText(int row) const {
    const QTreeWidgetItem* item = accountList_->topLevelItem(row);
    return item ? item->text(0) : QString();
}

void PostlarkForm::StartTrayAlert(const QString& tip) {
    // Without a notification area there is no icon to flash: the window manager is asked to
    // draw attention to the window instead, and no timer ticks for nothing.
    if (!win::NotificationAreaAvailable()) {
        QApplication::alert(this);
        return;
    }
    timerFlash_->start();
    sysIcon_->TipText(tip);
    if (!sysIcon_->Visible())
        sysIcon_->ShowIcon();
}

bool PostlarkForm::TrayIconVisible() const {
    return sysIcon_->Visible();
}

AccountNews PostlarkForm::TakeNews(int account) {
    return arrivals_ ? arrivals_->TakeNews(static_cast<std::int16_t>(account)) : AccountNews();
}

void PostlarkForm::ShowDesktopNotification(const QString& summary, const QString& body) {
    if (!notification_) {
        notification_ = std::make_unique<DesktopNotification>("Postlark", "org.postlark.Postlark",
                                                              win::IconFromHandle(postlarkImage_));
        // Choosing the notification does what a double click on the tray icon does: the tray
        // alert is dismissed and the window comes back. The two clicks go the way the tray's
        // own do, as its callback message.
        connect(notification_.get(), &DesktopNotification::DefaultAction, this, [this] {
            if (unloaded_)
                return;
            const win::UINT message = sysIcon_->CallbackMessage();
            win::PostMessageA(hWnd_, message, 1, win::WM_LBUTTONDOWN);
            win::PostMessageA(hWnd_, message, 1, win::WM_LBUTTONDBLCLK);
        });
        // "Open" starts the accounts' programs, or the desktop's mail program.
        connect(
            notification_.get(), &DesktopNotification::OpenAction, this,
            [this] {
                if (!unloaded_)
                    OpenMail(*this, RowCounts());
            },
            Qt::QueuedConnection); // a message box it shows runs outside the bus's signal
        // Without a notification server the other alerts carry on; the user hears of it once.
        connect(notification_.get(), &DesktopNotification::Unavailable, this,
                [this](const QString& reason) {
                    if (notifyNoticeShown_ || unloaded_)
                        return;
                    notifyNoticeShown_ = true;
                    statusBar_->showMessage("Desktop notifications are not available.");
                    statusBar_->setToolTip(reason);
                });
    }
    notification_->Show(summary, body, true);
}

void PostlarkForm::TimerFlash_Timer() {
    sysIcon_->IconHandle(TrayPicture(FlashPhase ? mailTray2_ : mailTray1_));
    FlashPhase = !FlashPhase;
    sysIcon_->Update();
}

void PostlarkForm::TimerCheck_Timer() {
    // A tick before start-up finished, or after shut-down began, has nothing to check.
    if (autoCheck_ && !unloaded_)
        autoCheck_->Tick();
}

void PostlarkForm::SetTimerCheckEnabled(bool on) {
    if (!on)
        timerCheck_->stop();
    else if (!timerCheck_->isActive())
        timerCheck_->start();
}

bool PostlarkForm::TimerCheckEnabled() const {
    return timerCheck_->isActive();
}

void PostlarkForm::LaunchButton_Click() {
    if (ReportEmptyList() || SelectedAccount() < 0 || !ConfirmListCurrent(SelectedAccount()))
        return;
    const QString program =
        AnsiToQString(SettingsStore::GetValue(AccountKey("Program", SelectedAccount()), ""));
    if (program.isEmpty()) {
        MsgBox("This email account does not have a program associated with it.", vbInformation,
               "Postlark");
        return;
    }
    const auto code = win::ShellExecuteA(hWnd_, "open", program, "", "", 1);
    const QString message = ShellExecuteMessages(code, program);
    if (!message.isEmpty())
        MsgBox(message, vbOKOnly, "Postlark");
}

} // namespace postlark
