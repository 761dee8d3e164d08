// SPDX-License-Identifier: GPL-3.0-or-later
// The check run's wait for one account: it must end however the connection ends, including
// when the socket itself goes away while the wait sleeps.
#include "mail/check/AccountWait.h"
#include "platform/net/Winsock.h"
#include "support/ScriptedServer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using postlark::WaitWhileConnected;
using postlark::Winsock;
using postlark::test::ScriptedServer;
using Script = ScriptedServer::Script;

namespace {

TEST(WaitWhileConnected, EndsWhenTheConnectionIsClosedOrItsSocketDestroyedMeanwhile) {
    ScriptedServer quiet(Script().send("+OK\r\n").stayQuiet());
    ASSERT_TRUE(quiet.isListening());

    Winsock closed;
    QElapsedTimer clock;
    clock.start();
    WaitWhileConnected(closed); // nothing to wait for
    EXPECT_LT(clock.elapsed(), 1000);

    Winsock socket;
    socket.Connect(ScriptedServer::host(), quiet.port());
    QTimer::singleShot(100, &socket, [&] { socket.Close(); });
    WaitWhileConnected(socket);
    EXPECT_EQ(socket.State(), Winsock::sckClosed);

    auto* doomed = new Winsock;
    doomed->Connect(ScriptedServer::host(), quiet.port());
    QTimer::singleShot(100, [doomed] { delete doomed; });
    clock.restart();
    WaitWhileConnected(*doomed); // returns without touching the deleted socket
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(WaitWhileConnected, EndsOnARefusedConnection) {
    quint16 port = 0;
    {
        ScriptedServer gone(Script().send("+OK\r\n"));
        port = gone.port();
    } // its port is closed again
    Winsock socket;
    socket.Connect(ScriptedServer::host(), port);
    WaitWhileConnected(socket);
    EXPECT_EQ(socket.State(), Winsock::sckError);
}

} // namespace
