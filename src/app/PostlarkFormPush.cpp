// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of push: making the watchers, keeping them in line with the accounts
// and the setting, and the rows and alerts their results reach.
#include "app/PostlarkForm.h"

#include "mail/alerts/Alerts.h"
#include "mail/check/CheckRun.h"
#include "mail/push/PushClock.h"
#include "mail/push/PushWatchers.h"
#include "platform/net/WinInet.h"

#include <QTreeWidget>

namespace postlark {

void PostlarkForm::MakePushWatchers() {
    push_ = std::make_unique<PushWatchers>(*this, applicationKey_, PushClock::System(), [] {
        win::DWORD flags = 0;
        return win::InternetGetConnectedState(&flags, 0) != 0;
    });
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

void PostlarkForm::PushGotMail(const std::vector<std::int16_t>& results) {
    // The counts as the rows show them ("Yes, n"), for the notification and the tray count.
    std::vector<std::string> counts(results.size());
    for (std::size_t row = 0; row < results.size(); ++row) {
        const QString cell = NewMailCell(static_cast<int>(row));
        if (results[row] == 1 && cell.startsWith(QLatin1String("Yes, ")))
            counts[row] = cell.mid(5).toStdString();
    }
    ::postlark::GotMail(*this, results, counts);
}

} // namespace postlark
