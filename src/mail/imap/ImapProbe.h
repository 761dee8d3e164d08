// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The check's IMAP dialogue for one account at a time: the session's log-in, then
// "STATUS INBOX (UNSEEN)" and LOGOUT. The INBOX's unseen count goes into the same verdicts as
// a POP3 account's message count, with the same result codes.
#include "mail/dialogue/IMailSocket.h"
#include "mail/dialogue/StoredCredentials.h"
#include "mail/imap/ImapSession.h"

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
    // With `credentials`, the log-in uses them instead of reading the store.
    void BeginDialogue(bool tls, std::optional<StoredCredentials> credentials = std::nullopt,
                       bool startTls = false);
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

    void CloseSocket();
    void Finish(std::int16_t result, const QString& reason = QString());

    IMailSocket& socket_;
    CheckVerdicts& verdicts_;
    ImapSession session_;
    std::optional<StoredCredentials> credentials_;
    qint64 unseen_ = -1; // the INBOX's count from the STATUS response
    QString reason_;
    bool tokenRefused_ = false;
    QString alert_;
};

} // namespace postlark
