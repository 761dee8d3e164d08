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
};

} // namespace postlark
