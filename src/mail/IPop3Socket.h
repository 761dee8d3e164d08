// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the POP3 probe needs from a connection: read what arrived, send a line, close.
// The program's socket and the tests' scripted peers both provide it.
#include <QByteArray>

namespace postlark {

class IPop3Socket {
public:
    virtual ~IPop3Socket() = default;
    virtual QByteArray GetData() = 0;
    virtual void SendData(const QByteArray& data) = 0;
    virtual void Close() = 0;
};

} // namespace postlark
