// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/alerts/Alerts.h"

#include "mail/alerts/AlertTarget.h"
#include "mail/alerts/ShellExecuteMessages.h"
#include "mail/arrivals/NotificationText.h"
#include "mail/check/CheckRun.h"
#include "platform/shell/MailClient.h"
#include "platform/shell/PlaySound.h"
#include "platform/shell/ShellExecute.h"
#include "platform/window/MsgBox.h"
#include "platform/window/WindowCalls.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <QStringList>
#include <algorithm>
#include <limits>

namespace postlark {

namespace {

bool AlertOn(const char* key, double defaultValue) {
    return SettingsStore::IsFlagOn(key, defaultValue == 1);
}

bool HasMail(const std::vector<std::int16_t>& results, int i) {
    return i < static_cast<int>(results.size()) && results[static_cast<size_t>(i)] == 1;
}

// Opens each account's program once, however many accounts with mail share it.
void LaunchPrograms(const AlertTarget& target, const std::vector<std::int16_t>& results) {
    QString launched;
    for (int i = 0; i < target.AccountRowCount(); ++i) {
        if (!HasMail(results, i))
            continue;
        const QString program =
            AnsiToQString(SettingsStore::GetValue(AccountKey("Program", i), ""));
        if (program.isEmpty() || launched.contains(program, Qt::CaseInsensitive))
            continue;
        const auto code = win::ShellExecuteA(target.Handle(), "open", program, "", "", 1);
        const QString message = ShellExecuteMessages(code, program);
        if (!message.isEmpty())
            MsgBox(message, vbOKOnly, "Postlark");
        launched += program + ", ";
    }
}

// The accounts with mail, with what was read of their new messages, in list order.
std::vector<AccountMail> MailWaiting(AlertTarget& target, const std::vector<std::int16_t>& results,
                                     const std::vector<std::string>& counts) {
    std::vector<AccountMail> accounts;
    for (int i = 0; i < target.AccountRowCount(); ++i) {
        if (!HasMail(results, i))
            continue;
        const std::string count =
            i < static_cast<int>(counts.size()) ? counts[static_cast<size_t>(i)] : "";
        accounts.push_back({target.AccountRowText(i), NewMessageTotal({1}, {count}),
                            target.TakeNews(i)});
    }
    return accounts;
}

} // namespace

int NewMessageTotal(const std::vector<std::int16_t>& results,
                    const std::vector<std::string>& counts) {
    long long total = 0;
    for (size_t i = 0; i < results.size() && i < counts.size(); ++i) {
        if (results[i] != 1)
            continue;
        bool ok = false;
        const qlonglong count = QString::fromStdString(counts[i]).trimmed().toLongLong(&ok);
        if (ok && count > 0)
            total += count;
    }
    return static_cast<int>(std::min<long long>(total, std::numeric_limits<int>::max()));
}

namespace {

// Every account whose waiting count is a number above 0 counts as one with mail.
std::vector<std::int16_t> WaitingResults(const std::vector<std::string>& waiting) {
    std::vector<std::int16_t> results(waiting.size(), 0);
    for (std::size_t i = 0; i < waiting.size(); ++i)
        results[i] = NewMessageTotal({1}, {waiting[i]}) > 0 ? 1 : 0;
    return results;
}

// The alerts for the accounts of `results`; the tray count and the notification tell of the
// accounts of `summaryResults` with their `summaryCounts`.
void RaiseAlerts(AlertTarget& target, const std::vector<std::int16_t>& results,
                 const std::vector<std::int16_t>& summaryResults,
                 const std::vector<std::string>& summaryCounts, bool lastCheckStatus) {
    if (AlertOn("AlertLaunch", 0))
        LaunchPrograms(target, results);

    QString accounts;
    for (int i = 0; i < target.AccountRowCount(); ++i)
        if (HasMail(results, i))
            accounts += target.AccountRowText(i) + "\r\n";

    // Before the flashing starts, so that its first frame already carries the number; with the
    // option off any number still drawn goes.
    target.ShowNewMailCount(AlertOn("TrayCount", 1) ? NewMessageTotal(summaryResults, summaryCounts)
                                                    : 0);
    if (AlertOn("AlertTray", 0))
        target.StartTrayAlert("You have new mail waiting!  (Left click to dismiss this icon.)");
    if (AlertOn("AlertSound", 0))
        win::PlaySoundA("MailBeep", 0, win::SND_ALIAS | win::SND_ASYNC);
    if (AlertOn("AlertPopUp", 0)) {
        if (target.TrayIconVisible())
            target.menu_Show_Click();
        win::SetForegroundWindow(target.Handle());
    }
    if (lastCheckStatus)
        target.SetStatusText(CheckRun::LastCheckText(", new messages."));
    // The desktop's notification does not take the keyboard: it goes out before the message.
    if (AlertOn("AlertNotify", 0)) {
        const NotifyStyle style =
            NotifyStyleFromNumber(SettingsStore::GetInteger("AlertNotifyStyle", 1));
        const std::vector<AccountMail> accounts = MailWaiting(target, summaryResults, summaryCounts);
        target.ShowDesktopNotification(NotificationSummary(style, accounts),
                                       NotificationBody(style, accounts));
    }
    if (AlertOn("AlertMsg", 1))
        MsgBox("You have new mail in accounts:\r\n" + accounts, vbInformation,
               "Mail Notification - Postlark");
}

} // namespace

void OpenMail(AlertTarget& target, const std::vector<std::string>& waiting) {
    const std::vector<std::int16_t> results = WaitingResults(waiting);
    bool anyProgram = false;
    for (int i = 0; i < target.AccountRowCount() && !anyProgram; ++i)
        anyProgram =
            HasMail(results, i) && !SettingsStore::GetValue(AccountKey("Program", i), "").empty();
    if (anyProgram) {
        LaunchPrograms(target, results);
        return;
    }
    QString why;
    if (!win::StartMailClient(&why))
        MsgBox(why, vbOKOnly + vbExclamation, "Postlark");
}

int WaitingTotal(const std::vector<std::string>& waiting) {
    return NewMessageTotal(WaitingResults(waiting), waiting);
}

void GotMail(AlertTarget& target, const std::vector<std::int16_t>& results,
             const std::vector<std::string>& counts) {
    RaiseAlerts(target, results, results, counts, true);
}

void PushGotMail(AlertTarget& target, const std::vector<std::int16_t>& rose,
                 const std::vector<std::string>& waiting) {
    RaiseAlerts(target, rose, WaitingResults(waiting), waiting, false);
}

} // namespace postlark
