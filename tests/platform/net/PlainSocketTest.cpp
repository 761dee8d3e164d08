// SPDX-License-Identifier: GPL-3.0-or-later
// The plain connection under the socket: host names, large transfers both ways, and the ways
// a connection ends, seen through the socket's own signals.
#include "SocketEvents.h"
#include "platform/net/Winsock.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <sys/socket.h>

using postlark::Winsock;
using postlark::test::Settle;
using postlark::test::SocketEvents;
using postlark::test::WaitFor;

namespace {

// A listener on 127.0.0.1 that keeps every connection it accepts.
struct Listener {
    Listener() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* peer = server.nextPendingConnection())
                peers.push_back(peer);
        });
    }
    QTcpSocket* WaitForPeer() {
        WaitFor([&] { return !peers.empty(); });
        return peers.empty() ? nullptr : peers.front();
    }
    QTcpServer server;
    std::vector<QTcpSocket*> peers;
};

// A socket connected to a listener on 127.0.0.1, with the listener's end of it.
struct OpenConnection {
    OpenConnection() : events(socket) {
        socket.Connect(QStringLiteral("127.0.0.1"), listener.server.serverPort());
        peer = listener.WaitForPeer();
        open = peer && WaitFor([&] { return socket.State() == Winsock::sckConnected; });
    }
    Listener listener;
    Winsock socket;
    SocketEvents events;
    QTcpSocket* peer = nullptr;
    bool open = false;
};

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

TEST(PlainSocket, HostNameIsResolvedAndGoesThroughTheSameStatesAsAnAddress) {
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        Listener listener;
        Winsock socket;
        SocketEvents events(socket);
        socket.Connect(QString::fromLatin1(host), listener.server.serverPort());
        ASSERT_TRUE(WaitFor([&] { return socket.State() == Winsock::sckConnected; }));
        EXPECT_EQ(events.log, (QStringList{"state 4", "state 5", "state 6", "state 7"}));
        QTcpSocket* peer = listener.WaitForPeer();
        ASSERT_NE(peer, nullptr);
        peer->write("+OK\r\n");
        ASSERT_TRUE(WaitFor([&] { return events.has("data 5"); }));
        EXPECT_EQ(socket.GetData(), "+OK\r\n");
    }
}

TEST(PlainSocket, UnknownHostAndBusyLocalPortFailWithTheirNumbers) {
    {
        Winsock socket;
        SocketEvents events(socket);
        socket.Connect(QStringLiteral("no-such-host.invalid"), 110);
        ASSERT_TRUE(WaitFor([&] { return events.has("error 11001"); }, 20000));
        EXPECT_EQ(socket.LastErrorDescription(),
                  QStringLiteral("Host not found: no-such-host.invalid"));
        EXPECT_FALSE(events.has("state 7"));
    }
    {
        Listener listener;
        Listener busy; // its port is taken by a listening socket
        Winsock socket;
        SocketEvents events(socket);
        socket.LocalPort = busy.server.serverPort();
        socket.Connect(QStringLiteral("127.0.0.1"), listener.server.serverPort());
        EXPECT_EQ(socket.State(), Winsock::sckError) << "a failed bind shows at once";
        ASSERT_TRUE(WaitFor([&] { return events.has("error 10048"); }));
        EXPECT_EQ(socket.LastErrorDescription(), QStringLiteral("Address in use"));
    }
}

TEST(PlainSocket, LargeRepliesAndLargeSendsArriveWholeAndInOrder) {
    OpenConnection c;
    ASSERT_TRUE(c.open);
    Winsock& socket = c.socket;
    SocketEvents& events = c.events;
    QTcpSocket* peer = c.peer;

    // Far more than one read takes, then the close: every byte comes before the close.
    const QByteArray reply = Pattern(300 * 1024 + 17);
    peer->write(reply);
    peer->disconnectFromHost();
    QByteArray got;
    QObject::connect(&socket, &Winsock::DataArrival, &socket, [&] { got += socket.GetData(); });
    ASSERT_TRUE(WaitFor([&] { return events.has("peer"); }));
    EXPECT_EQ(got.size(), reply.size());
    EXPECT_TRUE(got == reply);
    EXPECT_EQ(events.log.last(), QStringLiteral("peer"));

    // More than the kernel takes at once while the other side is not reading yet.
    OpenConnection second;
    ASSERT_TRUE(second.open);
    Winsock& sender = second.socket;
    QTcpSocket* reader = second.peer;
    const QByteArray first = Pattern(8 * 1024 * 1024);
    const QByteArray then = "and the line after it\r\n";
    EXPECT_TRUE(sender.SendData(first));
    EXPECT_TRUE(sender.SendData(then));
    QByteArray received;
    ASSERT_TRUE(WaitFor(
        [&] {
            received += reader->readAll();
            return received.size() >= first.size() + then.size();
        },
        20000));
    EXPECT_TRUE(received == first + then);
}

TEST(PlainSocket, AResetOfAnOpenConnectionIsThePeerClosingAndCloseStopsEverySignal) {
    OpenConnection c;
    ASSERT_TRUE(c.open);
    SocketEvents& events = c.events;
    QTcpSocket* peer = c.peer;
    peer->write("+OK last words\r\n");
    peer->flush();
    ASSERT_TRUE(WaitFor([&] { return events.has("data 16"); }));
    // Lingering for no time turns the close into a reset.
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                 sizeof hard);
    peer->abort();
    ASSERT_TRUE(WaitFor([&] { return events.has("peer"); }));
    EXPECT_FALSE(events.log.join(' ').contains("error"));
    EXPECT_EQ(c.socket.State(), Winsock::sckClosing);

    // Closed from our side while the server is still sending: nothing more is announced.
    OpenConnection chatty;
    ASSERT_TRUE(chatty.open);
    chatty.socket.Close();
    chatty.peer->write("+OK too late\r\n");
    chatty.peer->disconnectFromHost();
    Settle(100);
    EXPECT_EQ(chatty.events.log.last(), QStringLiteral("state 0"));
    EXPECT_EQ(chatty.socket.GetData(), "");
}

} // namespace
