// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's two display states (shown, or hidden with its tray icon) and the tray
// icon's mouse events.
#include "app/PostlarkForm.h"

#include "platform/shell/ShellNotify.h"
#include "winsupport/CSystrayIcon.h"
#include "winsupport/TrayBadge.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace postlark {

namespace {

constexpr int kTrayRetries = 30; // every 2 s: a minute for a tray host that starts late

} // namespace

void PostlarkForm::SetShowChecked(bool checked) {
    menuShow_->setChecked(checked);
}

void PostlarkForm::menu_Show_Click() {
    if (menuShow_->isChecked()) {
        HideToTray();
        return;
    }
    trayRetry_->stop();
    sysIcon_->HideIcon();
    showNormal();
    activateWindow();
    SetShowChecked(true);
}

// Hiding needs the tray icon as the way back. Without a notification area (none on this
// desktop, or not yet at log-in) the window is minimized instead, and the icon is tried again
// for a while; once it appears the window hides into it.
void PostlarkForm::HideToTray() {
    if (sysIcon_->ShowIcon() || sysIcon_->Visible()) {
        trayRetry_->stop();
        hide();
        SetShowChecked(false);
        return;
    }
    showMinimized();
    SetShowChecked(true);
    trayRetriesLeft_ = kTrayRetries;
    trayRetry_->start();
}

void PostlarkForm::RetryTrayIcon() {
    if (!isMinimized()) { // the user has taken the window back meanwhile
        trayRetry_->stop();
        return;
    }
    if (sysIcon_->ShowIcon() || sysIcon_->Visible()) {
        trayRetry_->stop();
        hide();
        SetShowChecked(false);
        return;
    }
    if (--trayRetriesLeft_ > 0)
        return;
    trayRetry_->stop();
    if (!trayNoticeShown_) {
        trayNoticeShown_ = true;
        // Short enough for the status bar; its tool tip says the rest.
        statusBar_->showMessage("No notification area: minimized instead.");
        statusBar_->setToolTip(
            "No notification area was found, so Postlark stays minimized instead of hiding.");
    }
}

win::HICON PostlarkForm::TrayPicture(win::HICON plain) const {
    const std::array<win::HICON, 3> plains{postlarkImage_, mailTray1_, mailTray2_};
    for (std::size_t i = 0; i < plains.size(); ++i)
        if (plains[i] == plain && countedImages_[i] != 0)
            return countedImages_[i];
    return plain;
}

namespace {

// "Postlark — 5 new: alice@… 3, bob@… 2": the counted icon's tip, which is also what a screen
// reader says of the tray icon. The tip holds 63 characters; accounts that do not fit are "…".
QString CountTip(int total, const std::vector<std::pair<QString, QString>>& accounts) {
    constexpr qsizetype kTipLength = 63;
    QString tip = QStringLiteral("Postlark \u2014 %1 new").arg(total);
    QString separator = QStringLiteral(": ");
    for (const auto& [address, count] : accounts) {
        const qsizetype at = address.indexOf(u'@');
        const QString part = (at > 0 ? address.left(at + 1) + u'\u2026' : address) + u' ' + count;
        if (tip.size() + separator.size() + part.size() > kTipLength) {
            tip += separator + u'\u2026';
            break;
        }
        tip += separator + part;
        separator = QStringLiteral(", ");
    }
    return tip.left(kTipLength);
}

} // namespace

void PostlarkForm::UpdateTrayTip() {
    // A flashing icon keeps the alert's own tip until it is dismissed.
    if (timerFlash_->isActive())
        return;
    // An unchanged tip is not sent again: every send reaches the tray host.
    const auto show = [this](const QString& tip) {
        if (win::NotifyIconTip(tip) != sysIcon_->TipText())
            sysIcon_->TipText(tip);
    };
    if (newMailCount_ == 0)
        return show(QStringLiteral("Postlark 1.5"));
    std::vector<std::pair<QString, QString>> accounts;
    const std::vector<std::string> counts = RowCounts();
    for (std::size_t row = 0; row < counts.size(); ++row)
        if (!counts[row].empty())
            accounts.emplace_back(AccountRowText(static_cast<int>(row)),
                                  QString::fromStdString(counts[row]));
    show(CountTip(newMailCount_, accounts));
}

void PostlarkForm::ShowNewMailCount(int count) {
    count = std::max(count, 0);
    if (count == newMailCount_) {
        UpdateTrayTip(); // the same total may be spread over other accounts
        return;
    }
    // The picture the icon shows now, without any count on it.
    const std::array<win::HICON, 3> plains{postlarkImage_, mailTray1_, mailTray2_};
    win::HICON shown = sysIcon_->IconHandle();
    for (std::size_t i = 0; i < plains.size(); ++i)
        if (countedImages_[i] != 0 && countedImages_[i] == shown)
            shown = plains[i];

    const std::array<win::HICON, 3> old = countedImages_;
    newMailCount_ = count;
    for (std::size_t i = 0; i < plains.size(); ++i)
        countedImages_[i] =
            count > 0 ? win::RegisterIcon(DrawTrayBadge(win::IconFromHandle(plains[i]), count)) : 0;
    // The icon keeps its frame (or its still picture) and shows the new count at once, or
    // when it is next shown.
    if (TrayPicture(shown) != sysIcon_->IconHandle())
        sysIcon_->IconHandle(TrayPicture(shown));
    for (const win::HICON handle : old)
        if (handle != 0)
            win::DestroyIcon(handle);
    UpdateTrayTip();
}

void PostlarkForm::Form_MouseMove(int /*button*/, int /*shift*/, double x, double /*y*/) {
    lastTrayCode_ = static_cast<std::int32_t>(std::lround(x / twipsX_));
    // A menu or message opened from here runs its own event loop; events meanwhile are dropped.
    if (trayBusy_)
        return;
    trayBusy_ = true;
    switch (lastTrayCode_) {
    case 513: // left button down: dismiss the new-mail alert
        timerFlash_->stop();
        sysIcon_->TipText("Postlark 1.5");
        sysIcon_->IconHandle(postlarkImage_);
        ShowNewMailCount(0); // the count goes with the alert
        sysIcon_->Update();
        if (menuShow_->isChecked())
            sysIcon_->HideIcon();
        break;
    case 515: // double click: bring the window back
        trayRetry_->stop();
        SetShowChecked(true);
        sysIcon_->HideIcon();
        showNormal();
        activateWindow();
        setFocus();
        break;
    case 517: // right button up: the File menu at the mouse
        // Not run as a nested loop here: the chosen command runs from the main loop once this
        // handler has finished, so the tray stays usable while that command waits (a check run).
        menuFile_->popup(QCursor::pos());
        break;
    default:
        break;
    }
    trayBusy_ = false;
}

} // namespace postlark
