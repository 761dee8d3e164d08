// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps one IMAP account's INBOX watched over a connection of its own: logs in as the check
// does, opens the INBOX read-only (EXAMINE), counts its unseen messages, then waits in IDLE for
// the server to announce a change (EXISTS, EXPUNGE, FETCH), after which it counts again. IDLE
// is renewed every 25 minutes. A failure reconnects after a back-off (5 s doubling to 5 minutes,
// from 5 s again after a minute of good connection); a refused password, or a server without
// IDLE, stops the watcher for good. Between server messages and its timers it sleeps.
#include "mail/ImapReader.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace postlark {

struct ImapResponse;
class PushClock;
class PushTimer;
class Winsock;

// What a watcher needs of its account.
struct PushAccount {
    QString server;             // the server field, imap:// or imaps://
    std::string user;           // stored (single-byte) text
    std::string storedPassword; // enciphered
};

// What a watcher tells its owner.
struct PushReport {
    enum class Kind {
        Count,         // the INBOX's unseen messages (`count`)
        BadPassword,   // the server refused the log-in; the watcher has stopped
        AttemptFailed, // a connection attempt failed before the first count; retrying
        Dropped,       // a counted connection was lost; retrying
        NoIdle,        // the server offers no IDLE; the watcher has stopped
    };
    Kind kind = Kind::Count;
    int count = 0;
    QString reason; // why, for every kind but Count
};

// The watcher's waits; tests shorten them or drive them with their own clock.
struct PushTiming {
    std::chrono::milliseconds answerLimit = std::chrono::seconds(60);
    std::chrono::milliseconds idleRenew = std::chrono::minutes(25);
    std::chrono::milliseconds idleSilence = std::chrono::minutes(30);
    std::chrono::milliseconds backOffFirst = std::chrono::seconds(5);
    std::chrono::milliseconds backOffMost = std::chrono::minutes(5);
    std::chrono::milliseconds goodConnection = std::chrono::minutes(1);
};

class ImapWatcher {
public:
    enum class Step {
        Waiting, // not connected: before the start, or until the back-off has passed
        Greeting,
        Capability,
        LogInContinuation,
        LogIn,
        PostLogInCapability,
        Examine,
        Count,
        IdleContinuation,
        Idling,
        IdleDone,
        Logout,
        Stopped,
    };

    ImapWatcher(PushAccount account, std::string applicationKey, PushClock& clock,
                std::function<void(const PushReport&)> report, PushTiming timing = {});
    ~ImapWatcher();
    ImapWatcher(const ImapWatcher&) = delete;
    ImapWatcher& operator=(const ImapWatcher&) = delete;

    // Connects now.
    void Start();
    // Drops the connection and connects again at once, the back-off from its start (after the
    // machine resumed or the network came back). A stopped watcher stays stopped.
    void ReconnectNow();
    // Ends the watcher for good, without a report.
    void Stop();

    Step CurrentStep() const { return step_; }
    bool Stopped() const { return step_ == Step::Stopped; }
    // The wait before the next reconnection after a failure.
    std::chrono::milliseconds NextBackOff() const { return backOff_; }

private:
    void Connect();
    void OnData();
    void OnLost(const QString& reason);
    void Handle(const QByteArray& text);
    void HandleUntagged(const ImapResponse& response);
    void HandleTagged(const ImapResponse& response);
    void HandleContinuation();
    void AfterGreeting(const ImapResponse& greeting);
    void LogIn();
    void AfterLogIn();
    void Examine();
    void CountUnseen();
    void EnterIdle();
    void EndIdle();
    void SendCommand(const QByteArray& command);
    void Send(const QByteArray& line);
    void ArmSilence();
    void Fail(const QString& reason);
    void StopWith(PushReport::Kind kind, const QString& reason);
    void Drop();
    void ForgetCredentials();
    QString SocketReason() const;

    PushAccount account_;
    std::string key_;
    PushClock& clock_;
    std::function<void(const PushReport&)> report_;
    PushTiming timing_;
    std::unique_ptr<Winsock> socket_;
    std::unique_ptr<PushTimer> silence_, renew_, retry_;
    ImapReader reader_;
    Step step_ = Step::Waiting;
    bool tls_ = false;
    int tagNumber_ = 0;
    QByteArray tag_;
    QList<QByteArray> capabilities_;
    QList<QByteArray> pendingPieces_; // of the log-in, one per continuation
    int unseen_ = -1;                 // from the SEARCH in progress
    bool changed_ = false;            // the mailbox changed since the count in progress began
    bool counted_ = false;            // this connection has reported a count
    std::chrono::milliseconds goodSince_{0};
    std::chrono::milliseconds backOff_;
};

} // namespace postlark
