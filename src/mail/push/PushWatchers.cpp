// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/push/PushWatchers.h"

#include "mail/check/CheckRun.h"
#include "mail/check/WakeWatch.h"
#include "mail/push/PushClock.h"
#include "mail/push/PushView.h"
#include "platform/net/ServerAddress.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <algorithm>
#include <cmath>

namespace postlark {

namespace {

// No more results than these wait for a run to end; older ones have been overtaken.
constexpr std::size_t kMostWaiting = 8;

// The count a "New Mail?" cell shows, if it shows one.
std::optional<int> CellCount(const QString& cell) {
    if (cell == "No")
        return 0;
    if (!cell.startsWith("Yes, "))
        return std::nullopt;
    bool ok = false;
    const int count = cell.mid(5).toInt(&ok);
    return ok ? std::optional<int>(count) : std::nullopt;
}

} // namespace

PushWatchers::PushWatchers(PushView& view, std::string applicationKey, PushClock& clock,
                           std::function<bool()> connectionPresent, WakeWatch::Clock wakeClock,
                           PushTiming timing)
    : view_(view), key_(std::move(applicationKey)), clock_(clock), timing_(timing),
      wake_(std::make_unique<WakeWatch>(std::move(connectionPresent), std::move(wakeClock))) {
    wakeTimer_ = clock_.NewTimer([this] { WakeTick(); });
}

PushWatchers::~PushWatchers() {
    *alive_ = false;
}

void PushWatchers::Sync() {
    std::vector<Identity> wanted;
    if (!ended_ && SettingsStore::IsFlagOn("ImapPush", true)) {
        const double stored = SettingsStore::GetNumber(NumAcctsKey, 0);
        const int count = stored > 0 ? int(std::min(std::floor(stored), 32767.0)) : 0;
        // Two reads of the store for all accounts: the fields, and the passwords (empty when
        // missing, as an account's record has them).
        std::vector<std::string> fieldKeys, passwordKeys;
        for (int i = 0; i < count; ++i) {
            for (const char* field : {"EmailAddress", "POP", "UserName"})
                fieldKeys.push_back(AccountKey(field, i));
            passwordKeys.push_back(AccountKey("Password", i));
        }
        const std::vector<std::string> fields = SettingsStore::GetValues(fieldKeys, BadRead);
        const std::vector<std::string> passwords = SettingsStore::GetValues(passwordKeys, "");
        for (int i = 0; i < count; ++i) {
            const std::size_t at = std::size_t(i) * 3;
            const ServerAddress address = ParseServerField(AnsiToQString(fields[at + 1]));
            if (address.valid && address.imap)
                wanted.push_back(
                    {i, fields[at], fields[at + 1], fields[at + 2], passwords[std::size_t(i)]});
        }
    }
    std::vector<std::unique_ptr<Entry>> kept;
    for (auto& entry : entries_) {
        const bool same = std::find(wanted.begin(), wanted.end(), entry->identity) != wanted.end();
        if (same && !entry->watcher->Stopped()) {
            kept.push_back(std::move(entry));
            continue;
        }
        entry->watcher->Stop();
        retired_.push_back(std::move(entry));
    }
    entries_ = std::move(kept);
    for (const Identity& identity : wanted) {
        const bool have = std::any_of(entries_.begin(), entries_.end(),
                                      [&](const auto& e) { return e->identity == identity; });
        if (have)
            continue;
        auto entry = std::make_unique<Entry>();
        entry->identity = identity;
        Entry* raw = entry.get();
        entry->watcher = std::make_unique<ImapWatcher>(
            PushAccount{AnsiToQString(identity.server), identity.user, identity.password}, key_,
            clock_, [this, raw](const PushReport& report) { OnReport(raw, report); }, timing_);
        entries_.push_back(std::move(entry));
        raw->watcher->Start();
    }
    // A reloaded list has empty cells: each kept watcher's count shows again.
    for (auto& entry : entries_) {
        if (entry->lastCount && entry->waiting.empty())
            entry->waiting.push_back({PushReport::Kind::Count, *entry->lastCount, QString()});
    }
    if (!retired_.empty()) {
        // Ended watchers may be the caller's caller: they go once the event loop is back.
        QMetaObject::invokeMethod(
            &context_, [this] { retired_.clear(); }, Qt::QueuedConnection);
    }
    if (entries_.empty())
        wakeTimer_->Stop();
    else if (!wakeTimer_->Active())
        wakeTimer_->Start(std::chrono::minutes(1));
    ScheduleLanding();
}

void PushWatchers::StopAll() {
    ended_ = true;
    for (auto& entry : entries_) {
        entry->watcher->Stop();
        entry->waiting.clear();
    }
    wakeTimer_->Stop();
}

void PushWatchers::ReconnectAll() {
    for (auto& entry : entries_)
        entry->watcher->ReconnectNow();
}

void PushWatchers::WakeTick() {
    if (wake_->WokeOrReconnected())
        ReconnectAll();
    if (!entries_.empty())
        wakeTimer_->Start(std::chrono::minutes(1));
}

std::vector<int> PushWatchers::Watched() const {
    std::vector<int> numbers;
    for (const auto& entry : entries_)
        numbers.push_back(entry->identity.number);
    return numbers;
}

const ImapWatcher* PushWatchers::Watcher(int account) const {
    for (const auto& entry : entries_) {
        if (entry->identity.number == account)
            return entry->watcher.get();
    }
    return nullptr;
}

void PushWatchers::OnReport(Entry* entry, const PushReport& report) {
    entry->waiting.push_back(report);
    if (entry->waiting.size() > kMostWaiting)
        entry->waiting.erase(entry->waiting.begin());
    ScheduleLanding();
}

// Landing never runs inside a watcher's own handling: the alerts it may raise wait in a
// message box, with events (and other watchers' results) handled meanwhile.
void PushWatchers::ScheduleLanding() {
    if (landingQueued_)
        return;
    landingQueued_ = true;
    QMetaObject::invokeMethod(
        &context_,
        [this] {
            landingQueued_ = false;
            Land();
        },
        Qt::QueuedConnection);
}

std::optional<int> PushWatchers::RowOf(const Identity& identity) const {
    const int row = identity.number;
    if (row < 0 || row >= view_.AccountRowCount() ||
        view_.AccountRowText(row) != AnsiToQString(identity.address))
        return std::nullopt;
    // The watcher must still be this account's (a list change ends the ones it replaces).
    const bool current = std::any_of(entries_.begin(), entries_.end(),
                                     [&](const auto& e) { return e->identity == identity; });
    return current ? std::optional<int>(row) : std::nullopt;
}

void PushWatchers::Land() {
    if (ended_ || view_.CheckRunning())
        return; // the form lands them once the run has ended
    for (auto& entry : entries_) {
        std::vector<PushReport> waiting = std::move(entry->waiting);
        entry->waiting.clear();
        for (const PushReport& report : waiting)
            LandOne(*entry, report);
    }
    Alert();
}

void PushWatchers::LandOne(Entry& entry, const PushReport& report) {
    const std::optional<int> row = RowOf(entry.identity);
    if (!row)
        return;
    switch (report.kind) {
    case PushReport::Kind::Count: {
        // Up from what the row shows (a check's count, or the last one pushed) is new mail.
        std::optional<int> before = CellCount(view_.NewMailCell(*row));
        if (!before)
            before = entry.lastCount;
        if (before && report.count > *before)
            toAlert_.push_back(entry.identity);
        entry.lastCount = report.count;
        view_.SetNewMailText(
            *row, CheckRun::NewMailText(report.count > 0 ? 1 : 0, std::to_string(report.count)));
        view_.SetNewMailToolTip(*row, QString());
        return;
    }
    case PushReport::Kind::BadPassword:
        view_.SetNewMailText(*row, CheckRun::NewMailText(-1, ""));
        view_.SetNewMailToolTip(*row, report.reason);
        return;
    case PushReport::Kind::AttemptFailed:
        view_.SetNewMailText(*row, CheckRun::NewMailText(-2, ""));
        view_.SetNewMailToolTip(*row, report.reason);
        return;
    case PushReport::Kind::Dropped:
        // The count stays; the tool tip says why it may be out of date.
        view_.SetNewMailToolTip(*row, report.reason);
        return;
    case PushReport::Kind::NoIdle:
        return; // the timer and the check button look after this account
    }
}

void PushWatchers::Alert() {
    // Alerts for results landing while a message box of an earlier one is open follow it.
    if (alerting_)
        return;
    alerting_ = true;
    const std::shared_ptr<bool> alive = alive_;
    while (!toAlert_.empty()) {
        std::vector<std::int16_t> results(static_cast<std::size_t>(view_.AccountRowCount()), 0);
        bool any = false;
        for (const Identity& identity : toAlert_) {
            if (const auto row = RowOf(identity)) {
                results[static_cast<std::size_t>(*row)] = 1;
                any = true;
            }
        }
        toAlert_.clear();
        if (any)
            view_.PushGotMail(results);
        if (!*alive)
            return;
    }
    alerting_ = false;
}

} // namespace postlark
