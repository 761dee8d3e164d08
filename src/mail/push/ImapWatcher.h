// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps one IMAP account's mailbox (the INBOX unless the server field names another) watched
// over a connection of its own: logs in through the same session as the check, introduces
// itself (ID) where the server asks for that, opens the mailbox read-only (EXAMINE), counts its
// unseen messages, then waits in IDLE for the server to announce a change, after which it
// counts again. A change is a new message count (EXISTS), an EXPUNGE or a flag change (FETCH);
// an EXISTS that repeats the count is none, and counts are at least a second apart (a change
// meanwhile is counted at the end of that second). When a reader wants the headers of new
// messages and the count has risen, they are read (NewHeaderFetch) before the count is reported
// and IDLE begins again. IDLE is renewed every 25 minutes. A failure reconnects after a
// back-off (5 s doubling to 5 minutes, from 5 s again after a minute of good connection); a
// refused password, or a server without IDLE or refusing it, stops the watcher for good.
// Between server messages and its timers it sleeps.
#include "mail/check/CredentialSource.h"
#include "mail/dialogue/IMailSocket.h"
#include "mail/imap/ImapSession.h"
#include "mail/imap/NewHeaderFetch.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
        Count,         // the mailbox's unseen messages (`count`)
        BadPassword,   // the server refused the log-in; the watcher has stopped
        AttemptFailed, // a connection attempt failed before the first count; retrying
        Dropped,       // a counted connection was lost; retrying
        NoIdle,        // the server offers or allows no IDLE; the watcher has stopped
    };
    Kind kind = Kind::Count;
    qint64 count = 0; // up to 4294967295
    QString reason;   // why, for every kind but Count
};

// The watcher's waits; tests shorten them or drive them with their own clock.
struct PushTiming {
    std::chrono::milliseconds answerLimit = std::chrono::seconds(60);
    std::chrono::milliseconds idleRenew = std::chrono::minutes(25);
    std::chrono::milliseconds idleSilence = std::chrono::minutes(30);
    std::chrono::milliseconds backOffFirst = std::chrono::seconds(5);
    std::chrono::milliseconds backOffMost = std::chrono::minutes(5);
    std::chrono::milliseconds goodConnection = std::chrono::minutes(1);
    // TCP keep-alive: a connection gone silent (no FIN, no RST) fails after keepAliveIdle plus
    // ten probes keepAliveInterval apart, under five minutes, without waking the program.
    std::chrono::milliseconds keepAliveIdle = std::chrono::seconds(60);
    std::chrono::milliseconds keepAliveInterval = std::chrono::seconds(20);
};

class ImapWatcher : private ImapSessionOwner, private IMailSocket {
public:
    enum class Step {
        Waiting,   // not connected: before the start, or until the back-off has passed
        LoggingIn, // from the greeting to the end of the session's log-in
        Identify,  // ID sent
        Examine,
        Count,
        Headers, // the headers of new messages are being read
        IdleContinuation,
        Idling,
        IdleDone,
        Logout,
        Stopped,
    };

    ImapWatcher(PushAccount account, std::string applicationKey, PushClock& clock,
                std::function<void(const PushReport&)> report, PushTiming timing = {});
    ~ImapWatcher() override;
    ImapWatcher(const ImapWatcher&) = delete;
    ImapWatcher& operator=(const ImapWatcher&) = delete;

    // Where the credentials beyond the stored password come from (the keyring, OAuth2
    // tokens): asked before every connection. Before Start.
    void SetCredentialSource(CredentialSource* source, CredentialAccount account) {
        credentials_ = source;
        credentialAccount_ = std::move(account);
    }
    // Who reads the headers of new messages, as account `account` (nobody when null).
    void SetNewMessageReader(NewMessageReader* reader, std::int16_t account) {
        reader_ = reader;
        readerAccount_ = account;
    }
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
    void OnLost(const QString& reason);
    // The session's handlers.
    StoredCredentials LogInCredentials() override;
    // Connects with the credentials at hand.
    void Dial();
    void LoggedIn() override;
    void Untagged(const ImapResponse& response) override;
    void Tagged(const ImapResponse& response) override;
    bool Continuation() override;
    void Failed(Failure failure, const QString& reason) override;
    // The session's connection: every line sent re-arms the answer limit.
    QByteArray GetData() override;
    void SendData(const QByteArray& data) override;
    void Close() override;
    bool StartTls() override;

    void Examine();
    void OnMailboxEvent(const ImapResponse& response);
    void RecountSoon();
    void CountUnseen();
    void Counted(qint64 count);
    void ReportAndIdle(qint64 count);
    void EnterIdle();
    void EndIdle();
    void ArmSilence();
    void Fail(const QString& reason);
    void StopWith(PushReport::Kind kind, const QString& reason);
    void Drop();
    QString SocketReason() const;

    PushAccount account_;
    PushClock& clock_;
    std::function<void(const PushReport&)> report_;
    PushTiming timing_;
    std::unique_ptr<Winsock> socket_;
    CredentialSource* credentials_ = nullptr;
    CredentialAccount credentialAccount_;
    std::optional<StoredCredentials> prepared_; // for the connection being made
    int preparation_ = 0;                       // numbers the credentials asked for
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<PushTimer> silence_, renew_, retry_, pause_;
    ImapSession session_;
    Step step_ = Step::Waiting;
    QString mailbox_;        // as the server field names it
    QByteArray uidValidity_; // of the mailbox examined
    NewMessageReader* reader_ = nullptr;
    std::int16_t readerAccount_ = 0;
    NewHeaderFetch headers_{session_};
    std::optional<qint64> reported_; // the last count reported
    std::optional<qint64> pending_;  // a count to report once the headers are read
    qint64 unseen_ = -1;             // from the SEARCH in progress
    std::optional<qint64> exists_; // the message count, as the server last stated it
    bool changed_ = false;         // the mailbox changed since the count in progress began
    std::chrono::milliseconds lastCountAt_{0}; // when the last count was asked for
    bool counted_ = false;                     // this connection has reported a count
    std::chrono::milliseconds goodSince_{0};
    std::chrono::milliseconds backOff_;
};

} // namespace postlark
