// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of push: making the watchers, keeping them in line with the accounts
// and the setting, and the rows and alerts their results reach.
#include "app/PostlarkForm.h"

#include "mail/alerts/Alerts.h"
#include "mail/check/CheckRun.h"
#include "mail/push/PushClock.h"
#include "mail/arrivals/Arrivals.h"
#include "mail/push/PushWatchers.h"
#include "mail/signin/AccountCredentials.h"
#include "platform/net/WinInet.h"
#include "store/SettingsStore.h"

#include <QTreeWidget>

namespace postlark {

void PostlarkForm::MakePushWatchers() {
    push_ = std::make_unique<PushWatchers>(*this, applicationKey_, PushClock::System(), [] {
        win::DWORD flags = 0;
        return win::InternetGetConnectedState(&flags, 0) != 0;
    });
    push_->SetCredentialSource(credentials_.get());
    push_->SetNewMessageReader(arrivals_.get());
}

void PostlarkForm::SyncPushWatchers() {
    // Before the window has loaded there is nothing to watch; after unloading nothing may be.
    if (push_ && loaded_ && !unloaded_)
        push_->Sync();
}

void PostlarkForm::ApplyImapPush() {
    SyncPushWatchers();
}

QString PostlarkForm::NewMailCell(int row) const {
    const QTreeWidgetItem* item = accountList_->topLevelItem(row);
    return item ? item->text(1) : QString();
}

bool PostlarkForm::CheckRunning() const {
    return checkRun_ && checkRun_->Running();
}

std::vector<std::string> PostlarkForm::RowCounts() const {
    std::vector<std::string> counts(static_cast<std::size_t>(AccountRowCount()));
    for (std::size_t row = 0; row < counts.size(); ++row) {
        const QString cell = NewMailCell(static_cast<int>(row));
        if (cell.startsWith(QLatin1String("Yes, ")))
            counts[row] = cell.mid(5).toStdString();
    }
    return counts;
}

void PostlarkForm::PushGotMail(const std::vector<std::int16_t>& results) {
    // The notification and the tray count tell of every row's waiting mail.
    ::postlark::PushGotMail(*this, results, RowCounts());
}

void PostlarkForm::PushLanded() {
    // A count on the tray follows the rows; with no mail waiting it goes, as after a check
    // that finds none. A count dismissed with the alert stays away until the next alert.
    const int total = WaitingTotal(RowCounts());
    if (total == 0)
        NoNewMail();
    else if (NewMailCount() > 0)
        ShowNewMailCount(SettingsStore::IsFlagOn("TrayCount", true) ? total : 0);
}

} // namespace postlark
