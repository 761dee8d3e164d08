// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The road every IMAP connection takes up to a logged-in session, shared by the check's probe
// and the push watcher: the greeting, the capabilities (asked for when the server does not
// announce them), the log-in (AUTHENTICATE PLAIN or LOGIN, never against LOGINDISABLED), the
// tags of the commands, one judgement of every response and one text for every failure. What
// each user does after the log-in (STATUS and LOGOUT; EXAMINE, SEARCH and IDLE) it does in
// the handlers of ImapSessionOwner, which the session calls for the responses it leaves to it.
#include "mail/dialogue/IMailSocket.h"
#include "mail/dialogue/StoredCredentials.h"
#include "mail/imap/ImapReader.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <string>

namespace postlark {

struct ImapResponse;

class ImapSessionOwner {
public:
    // How a session ended that did not get through: worth another try later; not worth one
    // (what is stored cannot be sent); or the server refused the user name or password (or
    // the stored password cannot be deciphered); or the server refused the OAuth2 access token
    // (a fresh one may pass).
    enum class Failure { Retry, Lasting, PasswordRefused, TokenRefused };

    virtual ~ImapSessionOwner() = default;
    // The user name and enciphered password (or access token), asked once the server is ready
    // for the log-in.
    virtual StoredCredentials LogInCredentials() = 0;
    // The log-in succeeded (or the server pre-authenticated the connection); the capabilities
    // are known.
    virtual void LoggedIn() = 0;
    // The responses after the log-in that the session does not take itself (it takes
    // CAPABILITY, BYE and an untagged BAD); a tagged one answers the last command and reads
    // OK, NO or BAD.
    virtual void Untagged(const ImapResponse& response) = 0;
    virtual void Tagged(const ImapResponse& response) = 0;
    // A continuation request after the log-in; false when none was expected, which fails the
    // session.
    virtual bool Continuation() { return false; }
    // The server's [ALERT] text, which the user must be shown.
    virtual void ServerAlert(const QString& text) { (void)text; }
    // The session has ended without success; `reason` says why (empty for a refused password).
    virtual void Failed(Failure failure, const QString& reason) = 0;
};

class ImapSession {
public:
    enum class Phase {
        Greeting,
        Capability,           // asked before the log-in
        StartTls,             // STARTTLS is sent: its OK upgrades the connection
        LogInPieces,          // a log-in piece waits for the server's "+"
        LogIn,                // the whole log-in is sent
        CapabilityAfterLogIn, // asked after the log-in (or a PREAUTH greeting)
        LoggedIn,
        LoggingOut, // LOGOUT is sent: the server's BYE is expected
        Ended,      // nothing more is judged
    };

    // The failure texts that both the check and push give.
    static const QString kNotImap;
    static const QString kMalformed;
    static const QString kCountUnreadable;

    ImapSession(IMailSocket& socket, std::string applicationKey, ImapSessionOwner& owner);
    ~ImapSession();
    ImapSession(const ImapSession&) = delete;
    ImapSession& operator=(const ImapSession&) = delete;

    // Starts afresh on a new connection: awaiting the greeting, nothing received. `tls` tells
    // whether the connection is encrypted. With `capabilitiesAfterLogIn`, a log-in whose OK
    // announces no capabilities is followed by a CAPABILITY command (servers often announce
    // more once the user is known). A plain connection is upgraded with STARTTLS before the
    // log-in whenever the server offers it or disables plain log-ins; with `startTls` the
    // upgrade is required, and a server without it fails the session.
    void Begin(bool tls, bool capabilitiesAfterLogIn, bool startTls = false);
    // Takes what arrived on the socket and judges every whole response once.
    void OnData();
    // Sends a command under the next tag.
    void SendCommand(const QByteArray& command);
    // Sends a line as it is (a command's continuation, IDLE's DONE).
    void Send(const QByteArray& line);
    // Whether literals of untagged FETCH responses over 64 KiB are cut instead of failing the
    // session (see ImapReader); off again on a new connection.
    void CutFetchLiterals(bool cut) { reader_.CutFetchLiterals(cut); }
    // Sends LOGOUT; the server's BYE no longer fails the session.
    void Logout();
    // Judges nothing more and forgets what was received and any log-in piece not yet sent.
    void End();

    Phase CurrentPhase() const { return phase_; }
    bool Ended() const { return phase_ == Phase::Ended; }
    // Whether the server offers a capability (upper case), IMAP4rev2's included ones counted.
    bool Has(const QByteArray& capability) const;
    bool Tls() const { return tls_; }

private:
    void Judge(const QByteArray& text, qint64 droppedSearchItems);
    void HandleUntagged(const ImapResponse& response);
    void HandleTagged(const ImapResponse& response);
    void HandleContinuation(const ImapResponse& response);
    void AfterGreeting(const ImapResponse& greeting);
    void AfterLogInOk(const ImapResponse& response);
    void LogIn();
    void LogInWithToken(const StoredCredentials& stored);
    void AfterStartTlsOk();
    void EnterLoggedIn();
    void Fail(const QString& reason,
              ImapSessionOwner::Failure failure = ImapSessionOwner::Failure::Retry);
    void ForgetPieces();

    IMailSocket& socket_;
    std::string key_;
    ImapSessionOwner& owner_;
    ImapReader reader_;
    Phase phase_ = Phase::Ended;
    bool tls_ = false;
    bool capabilitiesAfterLogIn_ = false;
    bool requireTls_ = false;
    std::optional<bool> tokenLogIn_; // the log-in sends a token: whether OAUTHBEARER
    QString tokenRefusal_;           // the reason from the server's error challenge
    int tagNumber_ = 0;
    QByteArray tag_;                  // of the command awaiting its tagged response
    QList<QByteArray> capabilities_;  // as last announced
    QList<QByteArray> pendingPieces_; // of the log-in, sent one per continuation
};

} // namespace postlark
