// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ties the check's protocol dialogues to the program's one socket: data arrivals run the reply
// handler of the dialogue that the account's server field names (IMAP for imap://, imaps:// and
// imap+insecure://, POP3 otherwise), a lost connection ends the account's dialogue. The dialogues
// send, close and upgrade to TLS through it.
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/dialogue/IMailSocket.h"
#include "mail/dialogue/StoredCredentials.h"

#include <QMetaObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace postlark {

class ImapProbe;
class Pop3Probe;
class Winsock;

class MailLink : public IMailSocket {
public:
    // `verdicts` are those the dialogues write; the link sets their current account.
    MailLink(Winsock& socket, CheckVerdicts& verdicts);
    ~MailLink() override;
    MailLink(const MailLink&) = delete;
    MailLink& operator=(const MailLink&) = delete;

    // Routes the socket's events to the POP3 dialogue from now on.
    void Attach(Pop3Probe& probe);
    // The dialogue for IMAP accounts.
    void AttachImap(ImapProbe& probe) { imap_ = &probe; }
    // Whether the account being checked is an IMAP one.
    bool ImapAccount() const { return imapActive_; }
    // Why the dialogue of the account just checked failed, when it found out itself.
    QString FailureReason() const;
    // Whether the server of the account just checked refused its OAuth2 access token.
    bool TokenRefused() const;
    // What the server of the account just checked said the user must read; empty if nothing.
    QString ServerAlert() const;

    // Starts the dialogue for one account: drops any connection, connects to the account's
    // server field and resets the dialogue state. A field the socket refuses at once fails
    // the account straight away.
    // `credentials`, when given, are the account's as the caller read them with the server.
    void Begin(std::int16_t account, const QString& server,
               std::optional<StoredCredentials> credentials = std::nullopt);

    // Ends the current account's dialogue as a lost connection does: the account fails
    // unless its server had already given the verdict.
    void ConnectionLost();

    QByteArray GetData() override;
    void SendData(const QByteArray& data) override;
    void Close() override;
    bool StartTls() override;

private:
    Winsock& socket_;
    CheckVerdicts& verdicts_;
    Pop3Probe* probe_ = nullptr;
    ImapProbe* imap_ = nullptr;
    bool imapActive_ = false;
    QMetaObject::Connection arrival_, peerClosed_, error_;
};

} // namespace postlark
