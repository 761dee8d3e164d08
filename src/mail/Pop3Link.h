// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ties the probes to the program's socket: data arrivals run the reply handler of the probe
// that the account's server field names (IMAP for imap:// and imaps://, POP3 otherwise), a lost
// connection ends the account's dialogue.
#include "mail/IPop3Socket.h"
#include "mail/StoredCredentials.h"

#include <QMetaObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace postlark {

class ImapProbe;
class Pop3Probe;
class Winsock;

class Pop3Link : public IPop3Socket {
public:
    explicit Pop3Link(Winsock& socket);
    ~Pop3Link() override;
    Pop3Link(const Pop3Link&) = delete;
    Pop3Link& operator=(const Pop3Link&) = delete;

    // Routes the socket's events to the probe from now on.
    void Attach(Pop3Probe& probe);
    // The probe for IMAP accounts, which shares the POP3 probe's results.
    void AttachImap(ImapProbe& probe) { imap_ = &probe; }
    // Whether the account being checked is an IMAP one.
    bool ImapAccount() const { return imapActive_; }
    // Why the IMAP dialogue of the account just checked failed, when it found out itself.
    QString ImapFailureReason() const;

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

private:
    Winsock& socket_;
    Pop3Probe* probe_ = nullptr;
    ImapProbe* imap_ = nullptr;
    bool imapActive_ = false;
    QMetaObject::Connection arrival_, peerClosed_, error_;
};

// Sleeps in the event dispatcher, handling every kind of event meanwhile, until the socket
// reads closed (0) or error (9). Each turn of the dispatcher clears a request to stop waiting,
// so a caller wakes the dispatcher once when its waits are over, for an event loop below it
// that was told to quit meanwhile.
void WaitWhileConnected(Winsock& socket);

} // namespace postlark
