// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a protocol dialogue (POP3 or IMAP) needs from its connection: read what arrived, send,
// close. The check's link to the program's socket, the push watcher and the tests' scripted
// peers provide it.
#include <QByteArray>

namespace postlark {

class IMailSocket {
public:
    virtual ~IMailSocket() = default;
    virtual QByteArray GetData() = 0;
    virtual void SendData(const QByteArray& data) = 0;
    virtual void Close() = 0;
    // Upgrades the connection to TLS after the server agreed (STARTTLS, STLS): whatever
    // arrived and was not read is dropped, and what is sent from now on goes encrypted once
    // the certificate is accepted; a failed upgrade ends the connection as a failed one does.
    // False when this connection cannot be upgraded.
    virtual bool StartTls() { return false; }
};

} // namespace postlark
