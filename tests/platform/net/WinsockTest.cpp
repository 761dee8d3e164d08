// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/Winsock.h"
#include "SocketEvents.h"
#include "support/ScriptedServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <gtest/gtest.h>

using postlark::Winsock;
using postlark::test::ScriptedServer;
using postlark::test::Settle;
using postlark::test::SocketEvents;
using postlark::test::WaitFor;
using Script = ScriptedServer::Script;

namespace {

quint16 UnusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

TEST(Winsock, ConnectsExchangesLinesAndReadsEachArrivalOnce) {
    ScriptedServer server(Script().send("+OK ready\r\n").sendAfterLine("+OK user\r\n"));
    ASSERT_TRUE(server.isListening());
    Winsock socket;
    SocketEvents events(socket);

    socket.Connect(ScriptedServer::host(), server.port());
    EXPECT_NE(socket.State(), Winsock::sckConnected) << "Connect must return at once";
    ASSERT_TRUE(WaitFor([&] { return events.has("data 11"); }));
    EXPECT_EQ(socket.State(), Winsock::sckConnected);
    EXPECT_TRUE(events.has("state 6"));
    EXPECT_EQ(socket.RemoteHost(), ScriptedServer::host());
    EXPECT_EQ(socket.RemotePort(), server.port());
    EXPECT_EQ(socket.GetData(), "+OK ready\r\n");
    EXPECT_EQ(socket.GetData(), "");

    EXPECT_TRUE(socket.SendData("USER bob\r\n"));
    ASSERT_TRUE(server.waitForLines(1));
    EXPECT_EQ(server.receivedLines(), QList<QByteArray>{"USER bob"});
    ASSERT_TRUE(WaitFor([&] { return events.log.count(QStringLiteral("data 10")) == 1; }));
    EXPECT_EQ(socket.GetData(), "+OK user\r\n");

    socket.Close();
    EXPECT_EQ(socket.State(), Winsock::sckClosed);
    EXPECT_FALSE(socket.SendData("QUIT\r\n"));
    socket.Close(); // harmless when already closed
    EXPECT_EQ(socket.State(), Winsock::sckClosed);
}

TEST(Winsock, DataThatCameWithThePeersCloseIsDeliveredFirst) {
    // The server writes and closes while the client's thread is busy, so the reply and the
    // close are waiting together when the client looks again.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    Winsock socket;
    SocketEvents events(socket);
    QByteArray readInHandler;
    QObject::connect(&socket, &Winsock::DataArrival, &socket,
                     [&](qint64) { readInHandler += socket.GetData(); });

    socket.Connect(ScriptedServer::host(), listener.serverPort());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == Winsock::sckConnected; }));
    ASSERT_TRUE(listener.hasPendingConnections() || listener.waitForNewConnection(2000));
    QTcpSocket* peer = listener.nextPendingConnection();
    peer->write("-ERR go away\r\n");
    ASSERT_TRUE(peer->waitForBytesWritten(2000));
    peer->disconnectFromHost();

    ASSERT_TRUE(WaitFor([&] { return events.has("peer"); }));
    EXPECT_EQ(readInHandler, "-ERR go away\r\n");
    const qsizetype data = events.log.indexOf(QStringLiteral("data 14"));
    const qsizetype closing = events.log.indexOf(QStringLiteral("state 8"));
    const qsizetype peerClosed = events.log.indexOf(QStringLiteral("peer"));
    ASSERT_GE(data, 0) << events.log.join(", ").toStdString();
    EXPECT_LT(data, closing);
    EXPECT_LT(closing, peerClosed);
    EXPECT_EQ(socket.State(), Winsock::sckClosing);
    socket.Close();
    EXPECT_EQ(socket.State(), Winsock::sckClosed);
}

TEST(Winsock, UnreadDataStaysReadableAfterThePeerCloses) {
    ScriptedServer server(Script().send("+OK 3 300\r\n").closeConnection());
    Winsock socket;
    bool peerClosed = false;
    QObject::connect(&socket, &Winsock::PeerClosed, &socket, [&] { peerClosed = true; });
    socket.Connect(ScriptedServer::host(), server.port());
    ASSERT_TRUE(WaitFor([&] { return peerClosed; }));
    EXPECT_EQ(socket.GetData(), "+OK 3 300\r\n");
}

TEST(Winsock, CloseInsideDataArrivalEndsEveryFurtherSignal) {
    ScriptedServer server(Script().send("+OK one\r\n").wait(20).send("two\r\n").closeConnection());
    Winsock socket;
    SocketEvents events(socket);
    QObject::connect(&socket, &Winsock::DataArrival, &socket, [&](qint64) { socket.Close(); });

    socket.Connect(ScriptedServer::host(), server.port());
    ASSERT_TRUE(WaitFor([&] { return events.log.count(QStringLiteral("data 9")) == 1; }));
    EXPECT_EQ(socket.State(), Winsock::sckClosed);
    const QStringList atClose = events.log;
    EXPECT_EQ(atClose.last(), QStringLiteral("state 0"));
    Settle(150);
    EXPECT_EQ(events.log, atClose);
    EXPECT_EQ(socket.GetData(), "");
}

TEST(Winsock, DataArrivingDuringANestedEventLoopIsNotLost) {
    // A handler that lets the event loop run (as waiting for the user does) still sees later
    // arrivals, nested inside it.
    ScriptedServer server(Script().send("first\r\n").wait(30).send("second\r\n"));
    Winsock socket;
    QList<QByteArray> replies;
    int depth = 0;
    int deepest = 0;
    QObject::connect(&socket, &Winsock::DataArrival, &socket, [&](qint64) {
        ++depth;
        deepest = std::max(deepest, depth);
        replies << socket.GetData();
        if (replies.size() == 1)
            WaitFor([&] { return replies.size() == 2; }, 2000);
        --depth;
    });
    socket.Connect(ScriptedServer::host(), server.port());
    ASSERT_TRUE(WaitFor([&] { return replies.size() == 2; }));
    EXPECT_EQ(replies, (QList<QByteArray>{"first\r\n", "second\r\n"}));
    EXPECT_EQ(deepest, 2);
}

TEST(Winsock, OneObjectServesManyConnectionsInARow) {
    // Like a check run: each close by the server leads straight to the next connect.
    ScriptedServer server(Script().send("+OK\r\n").closeConnection());
    Winsock socket;
    constexpr int kRounds = 15;
    int greetings = 0;
    int closes = 0;
    QObject::connect(&socket, &Winsock::DataArrival, &socket, [&](qint64) {
        if (socket.GetData() == "+OK\r\n")
            ++greetings;
    });
    QObject::connect(&socket, &Winsock::PeerClosed, &socket, [&] {
        if (++closes < kRounds) {
            socket.Close();
            socket.LocalPort = 0;
            socket.Connect(ScriptedServer::host(), server.port());
        }
    });
    socket.Connect(ScriptedServer::host(), server.port());
    ASSERT_TRUE(WaitFor([&] { return closes == kRounds; }));
    EXPECT_EQ(greetings, kRounds);
    EXPECT_EQ(server.connectionCount(), kRounds);

    // And after a close from our side, in the middle of a connection.
    ScriptedServer quiet(Script().send("+OK\r\n").stayQuiet());
    for (int i = 0; i < 5; ++i) {
        socket.Connect(ScriptedServer::host(), quiet.port());
        ASSERT_TRUE(WaitFor([&] { return socket.State() == Winsock::sckConnected; }));
        socket.Close();
    }
    EXPECT_TRUE(quiet.waitForConnections(5));
}

TEST(Winsock, ConnectsFromTheChosenLocalPort) {
    ScriptedServer server(Script().send("+OK\r\n"));
    Winsock socket;
    const quint16 local = UnusedPort();
    socket.LocalPort = local;
    socket.Connect(ScriptedServer::host(), server.port());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == Winsock::sckConnected; }));
    ASSERT_TRUE(server.waitForConnections(1));
    EXPECT_EQ(server.peerPorts().value(0), local);
}

TEST(Winsock, RefusedConnectionEndsInErrorState) {
    Winsock socket;
    SocketEvents events(socket);
    socket.Connect(ScriptedServer::host(), UnusedPort());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == Winsock::sckError; }));
    ASSERT_TRUE(WaitFor([&] { return events.has("error 10061"); }));
    EXPECT_FALSE(socket.LastErrorDescription().isEmpty());
    EXPECT_FALSE(events.has("state 7"));
    socket.Close();
    EXPECT_EQ(socket.State(), Winsock::sckClosed);
}

TEST(Winsock, TlsHandshakeThatNeverEndsTimesOut) {
    // The TCP connection is made, but the server never answers the TLS hello.
    ScriptedServer server(Script().stayQuiet());
    Winsock socket;
    SocketEvents events(socket);
    socket.ConnectTimeoutMs = 200;
    socket.Connect(QStringLiteral("pop3s://%1:%2").arg(ScriptedServer::host()).arg(server.port()));
    ASSERT_TRUE(WaitFor([&] { return events.has("error 10060"); }));
    EXPECT_EQ(socket.State(), Winsock::sckError);
    EXPECT_FALSE(events.has("state 7"));
}

TEST(Winsock, InvalidServerFieldFailsAtOnceButSignalsLater) {
    for (const char* field : {"", "mail example.com", "host:70000", "imap4://host"}) {
        SCOPED_TRACE(field);
        Winsock socket;
        SocketEvents events(socket);
        socket.Connect(QString::fromUtf8(field));
        EXPECT_EQ(socket.State(), Winsock::sckError);
        EXPECT_TRUE(events.log.isEmpty()) << "signals must come from the event loop";
        ASSERT_TRUE(WaitFor(
            [&] { return !events.log.isEmpty() && events.log.last().startsWith("error"); }));
        EXPECT_EQ(events.log, (QStringList{"state 9", "error 40014"}));
        EXPECT_FALSE(socket.LastErrorDescription().isEmpty());
    }
}

} // namespace
