// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The check's IMAP dialogue for one account at a time: the session's log-in, then
// "STATUS <mailbox> (UNSEEN)" and LOGOUT. The mailbox's unseen count goes into the same
// verdicts as a POP3 account's message count, with the same result codes. When a reader wants
// the headers of new messages and the count is above 0, the mailbox is examined (read-only)
// and the headers read (NewHeaderFetch) before LOGOUT; that never changes the verdict.
#include "mail/dialogue/IMailSocket.h"
#include "mail/dialogue/StoredCredentials.h"
#include "mail/imap/ImapSession.h"
#include "mail/imap/NewHeaderFetch.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace postlark {

struct CheckVerdicts;

class ImapProbe : private ImapSessionOwner {
public:
    // `verdicts` keeps the current account's number and the result arrays of the run.
    ImapProbe(IMailSocket& socket, std::string applicationKey, CheckVerdicts& verdicts);

    // Starts the dialogue of a new connection: awaiting the greeting, nothing received yet.
    // `tls` tells whether the connection is encrypted, `startTls` whether it must be upgraded
    // before the log-in (see ImapSession::Begin).
    // With `credentials`, the log-in uses them instead of reading the store. `mailbox` is the
    // one counted (ServerAddress::mailbox; empty for the INBOX).
    void BeginDialogue(bool tls, std::optional<StoredCredentials> credentials = std::nullopt,
                       bool startTls = false, const QString& mailbox = QString());
    // Who reads the headers of new messages (nobody when null); kept over dialogues.
    void SetNewMessageReader(NewMessageReader* reader) { reader_ = reader; }
    // Handles an arrival of data: every whole response that has arrived is judged once.
    void OnImapReply() { session_.OnData(); }
    // The connection failed or the server closed it; ends the account's dialogue.
    void OnConnectionLost();

    // Why the last dialogue failed, when the dialogue itself found out; empty otherwise.
    QString FailureReason() const { return reason_; }
    // Whether the last dialogue failed because the server refused the OAuth2 access token.
    bool TokenRefused() const { return tokenRefused_; }
    // What the server said the user must read ([ALERT]) during the last dialogue; empty if
    // nothing.
    QString ServerAlert() const { return alert_; }

private:
    StoredCredentials LogInCredentials() override;
    void LoggedIn() override;
    void Untagged(const ImapResponse& response) override;
    void Tagged(const ImapResponse& response) override;
    void Failed(Failure failure, const QString& reason) override;
    void ServerAlert(const QString& text) override { alert_ = text; }

    void AfterStatus(const ImapResponse& response);
    void AfterExamine(const ImapResponse& response);
    // The reader, if it awaits the headers, learns that only the count is known.
    void TellCountOnly();
    void CloseSocket();
    void Finish(std::int16_t result, const QString& reason = QString());

    // After the log-in: the count, then (for a reader) the headers; the verdict stands from
    // the examining on.
    enum class Step { Status, Examine, Headers, Done };

    IMailSocket& socket_;
    CheckVerdicts& verdicts_;
    ImapSession session_;
    NewHeaderFetch headers_{session_};
    NewMessageReader* reader_ = nullptr;
    std::optional<StoredCredentials> credentials_;
    QString mailbox_;
    Step step_ = Step::Status;
    std::int16_t account_ = 0; // whose headers are read
    QByteArray uidValidity_;
    qint64 unseen_ = -1; // the mailbox's count from the STATUS response
    QString reason_;
    bool tokenRefused_ = false;
    QString alert_;
};

} // namespace postlark
