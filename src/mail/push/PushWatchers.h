// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The push watchers of the main window: one ImapWatcher per IMAP account while "ImapPush" is on.
// Their results land on the account's row as a check's would ("Yes, n", "No", "Bad Password",
// "Failed"), the tool tip saying why a watcher failed; an unseen count that goes up raises the
// new-mail alerts. Results wait while a check run is in progress and land after it, and only
// on a row that still shows the account they were obtained for.
#include "mail/check/WakeWatch.h"
#include "mail/push/ImapWatcher.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace postlark {

class PushClock;
class PushTimer;
class PushView;

class PushWatchers {
public:
    // `connectionPresent` and `wakeClock` tell a resume or a new connection (see WakeWatch),
    // asked every minute while there are watchers.
    PushWatchers(PushView& view, std::string applicationKey, PushClock& clock,
                 std::function<bool()> connectionPresent,
                 WakeWatch::Clock wakeClock = WakeWatch::SystemClock(), PushTiming timing = {});
    ~PushWatchers();
    PushWatchers(const PushWatchers&) = delete;
    PushWatchers& operator=(const PushWatchers&) = delete;

    // Brings the watchers in line with the stored accounts and "ImapPush": an account whose
    // number and fields are unchanged keeps its watcher (a stopped one too: a refused password
    // is not tried again at every change of the list), every other IMAP account gets a new one,
    // and the watchers of accounts gone are ended. Rows that a list reload emptied show their
    // watcher's last result again.
    void Sync();
    // The first count of each watcher made by the next Sync raises the alerts when it finds
    // mail (start-up without a check), in one alert once every watcher has reported or
    // `kFirstCountsWait` has passed.
    void AnnounceFirstCounts();
    static constexpr std::chrono::seconds kFirstCountsWait{20};
    // A check by hand reached `account` with `result`: a watcher stopped by a refused password
    // tries again (unless the check was refused too), and after a successful check a watcher
    // waiting out a back-off reconnects at once.
    void CheckedByHand(int account, std::int16_t result);
    // The account's credentials have changed in the keyring or with a new sign-in (its stored
    // values did not): its watcher starts afresh, a stopped one too.
    void Restart(int account);
    // Ends every watcher for good (the program is ending): nothing lands any more.
    void StopAll();
    // Lands the results that waited for a check run to end.
    void Land();
    // Every watcher that is not stopped reconnects at once.
    void ReconnectAll();
    // The minute's question whether the machine resumed or the network came back.
    void WakeTick();

    // Where the watchers made from now on get credentials beyond the stored password.
    void SetCredentialSource(CredentialSource* source) { credentials_ = source; }
    // Who reads the headers of new messages for every watcher (nobody when null).
    void SetNewMessageReader(NewMessageReader* reader);
    // The waits of the watchers made from now on (tests shorten them).
    void SetTiming(PushTiming timing) { timing_ = timing; }

    // The watched accounts, by number.
    std::vector<int> Watched() const;
    const ImapWatcher* Watcher(int account) const;

private:
    struct Identity {
        int number = -1;
        std::string address, server, user, password;
        bool operator==(const Identity&) const = default;
    };
    struct Entry {
        Identity identity;
        std::unique_ptr<ImapWatcher> watcher;
        std::optional<qint64> lastCount; // the last count landed on the row
        std::vector<PushReport> waiting; // results not yet on the row, oldest first
        std::optional<PushReport> shown; // the last result landed on the row
        std::optional<PushReport> tip;   // a later tool tip over that result
        bool announce = false;           // its first count alerts when it finds mail
        bool reportWaiting = false;      // `waiting` holds news, not only results shown again
    };

    void OnReport(Entry* entry, const PushReport& report);
    void ScheduleLanding();
    // The row of an identity, when the row still shows its account.
    std::optional<int> RowOf(const Identity& identity) const;
    // False when the report did not reach a row.
    bool LandOne(Entry& entry, const PushReport& report);
    void Alert();
    void StartWatcher(Entry& entry);

    PushView& view_;
    std::string key_;
    CredentialSource* credentials_ = nullptr;
    NewMessageReader* reader_ = nullptr;
    PushClock& clock_;
    PushTiming timing_;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::vector<std::unique_ptr<Entry>> retired_; // ended, deleted from the event loop
    std::vector<Identity> toAlert_;
    bool alerting_ = false;
    bool ended_ = false;
    bool landingQueued_ = false;
    bool announceNext_ = false; // the next Sync's watchers announce their first counts
    bool announcing_ = false;   // alerts wait until every announcing watcher has reported
    std::unique_ptr<PushTimer> announceTimer_;
    std::unique_ptr<WakeWatch> wake_;
    std::unique_ptr<PushTimer> wakeTimer_;
    QObject context_; // queued calls: landing, and deleting ended watchers
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace postlark
