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
#include <utility>

namespace postlark {

namespace {

// No more results than these wait for a run to end; older ones have been overtaken.
constexpr std::size_t kMostWaiting = 8;

// The count a "New Mail?" cell shows, if it shows one.
std::optional<qint64> CellCount(const QString& cell) {
    if (cell == "No")
        return 0;
    if (!cell.startsWith("Yes, "))
        return std::nullopt;
    bool ok = false;
    const qint64 count = cell.mid(5).toLongLong(&ok);
    return ok ? std::optional<qint64>(count) : std::nullopt;
}

} // namespace

PushWatchers::PushWatchers(PushView& view, std::string applicationKey, PushClock& clock,
                           std::function<bool()> connectionPresent, WakeWatch::Clock wakeClock,
                           PushTiming timing)
    : view_(view), key_(std::move(applicationKey)), clock_(clock), timing_(timing),
      wake_(std::make_unique<WakeWatch>(std::move(connectionPresent), std::move(wakeClock))) {
    wakeTimer_ = clock_.NewTimer([this] { WakeTick(); });
    announceTimer_ = clock_.NewTimer([this] {
        // Watchers that have not counted by now are not waited for.
        for (auto& entry : entries_)
            entry->announce = false;
        announcing_ = false;
        ScheduleLanding();
    });
}

void PushWatchers::AnnounceFirstCounts() {
    announceNext_ = true;
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
        if (same) {
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
        entry->announce = announceNext_;
        entries_.push_back(std::move(entry));
        StartWatcher(*entries_.back());
    }
    if (announceNext_) {
        announceNext_ = false;
        announcing_ = true;
        announceTimer_->Start(kFirstCountsWait);
    }
    // A reloaded list has empty cells: each kept watcher's last result shows again.
    for (auto& entry : entries_) {
        if (!entry->waiting.empty())
            continue;
        for (const auto& last : {entry->shown, entry->tip})
            if (last)
                entry->waiting.push_back(*last);
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

void PushWatchers::StartWatcher(Entry& entry) {
    if (entry.watcher) {
        entry.watcher->Stop();
        auto retired = std::make_unique<Entry>();
        retired->watcher = std::move(entry.watcher);
        retired_.push_back(std::move(retired));
    }
    Entry* raw = &entry;
    const Identity& identity = entry.identity;
    entry.watcher = std::make_unique<ImapWatcher>(
        PushAccount{AnsiToQString(identity.server), identity.user, identity.password}, key_, clock_,
        [this, raw](const PushReport& report) { OnReport(raw, report); }, timing_);
    entry.watcher->SetNewMessageReader(reader_, static_cast<std::int16_t>(identity.number));
    if (credentials_)
        entry.watcher->SetCredentialSource(
            credentials_,
            CredentialAccount{static_cast<std::int16_t>(identity.number), identity.address,
                              identity.server, identity.user, identity.password});
    entry.watcher->Start();
}

void PushWatchers::SetNewMessageReader(NewMessageReader* reader) {
    reader_ = reader;
    for (auto& entry : entries_)
        entry->watcher->SetNewMessageReader(reader,
                                            static_cast<std::int16_t>(entry->identity.number));
}

void PushWatchers::CheckedByHand(int account, std::int16_t result) {
    for (auto& entry : entries_) {
        if (entry->identity.number != account)
            continue;
        const bool refused = entry->shown && entry->shown->kind == PushReport::Kind::BadPassword;
        if (entry->watcher->Stopped()) {
            if (refused && result != -1) {
                StartWatcher(*entry);
                QMetaObject::invokeMethod(
                    &context_, [this] { retired_.clear(); }, Qt::QueuedConnection);
            }
        } else if ((result == 0 || result == 1) &&
                   entry->watcher->CurrentStep() == ImapWatcher::Step::Waiting) {
            entry->watcher->ReconnectNow(); // the back-off starts afresh
        }
        return;
    }
}

void PushWatchers::Restart(int account) {
    for (auto& entry : entries_) {
        if (entry->identity.number != account)
            continue;
        StartWatcher(*entry);
        QMetaObject::invokeMethod(
            &context_, [this] { retired_.clear(); }, Qt::QueuedConnection);
        return;
    }
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
    entry->reportWaiting = true;
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
    bool landed = false;
    for (auto& entry : entries_) {
        std::vector<PushReport> waiting = std::move(entry->waiting);
        entry->waiting.clear();
        // Results shown again after a list reload are nothing new for the tray count.
        const bool reported = std::exchange(entry->reportWaiting, false);
        for (const PushReport& report : waiting)
            landed = (LandOne(*entry, report) && reported) || landed;
    }
    if (announcing_ &&
        std::none_of(entries_.begin(), entries_.end(), [](const auto& e) { return e->announce; })) {
        announcing_ = false;
        announceTimer_->Stop();
    }
    if (landed)
        view_.PushLanded();
    if (!announcing_)
        Alert();
}

bool PushWatchers::LandOne(Entry& entry, const PushReport& report) {
    const std::optional<int> row = RowOf(entry.identity);
    if (!row)
        return false;
    const bool announce = std::exchange(entry.announce, false);
    switch (report.kind) {
    case PushReport::Kind::Count: {
        // Up from what the row shows (a check's count, or the last one pushed) is new mail;
        // so is mail found by a first count that announces.
        std::optional<qint64> before = CellCount(view_.NewMailCell(*row));
        if (!before)
            before = entry.lastCount;
        if (!before && announce)
            before = 0;
        if (before && report.count > *before)
            toAlert_.push_back(entry.identity);
        entry.lastCount = report.count;
        view_.SetNewMailText(
            *row, CheckRun::NewMailText(report.count > 0 ? 1 : 0, std::to_string(report.count)));
        view_.SetNewMailToolTip(*row, QString());
        break;
    }
    case PushReport::Kind::BadPassword:
        view_.SetNewMailText(*row, CheckRun::NewMailText(-1, ""));
        view_.SetNewMailToolTip(*row, report.reason);
        break;
    case PushReport::Kind::AttemptFailed:
        view_.SetNewMailText(*row, CheckRun::NewMailText(-2, ""));
        view_.SetNewMailToolTip(*row, report.reason);
        break;
    case PushReport::Kind::Dropped:
    case PushReport::Kind::NoIdle:
        // The cell stays (a count that may be out of date, or a check's result: the timer and
        // the check button look after an account without push); the tool tip says why.
        view_.SetNewMailToolTip(*row, report.reason);
        entry.tip = report;
        return true;
    }
    entry.shown = report;
    entry.tip.reset();
    return true;
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
