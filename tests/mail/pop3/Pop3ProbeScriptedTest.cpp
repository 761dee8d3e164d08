// SPDX-License-Identifier: GPL-3.0-or-later
// The probe against scripted servers: the replies real servers rarely send.
#include "ProbeHarness.h"
#include "store/AnsiText.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

using postlark::Winsock;
using postlark::test::ProbeHarness;
using postlark::test::ScriptedServer;
using Script = ScriptedServer::Script;

namespace {

QString Field(const ScriptedServer& server) {
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

// Greeting, USER, PASS and STAT accepted; the STAT reply is given.
Script LoginThenStat(const QByteArray& statReply) {
    return Script()
        .send("+OK ready\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK logged in\r\n")
        .sendAfterLine(statReply)
        .sendAfterLine("+OK bye\r\n")
        .closeConnection();
}

class Pop3ProbeScripted : public ::testing::Test {
protected:
    void Probe(const Script& script, const std::string& user = "alice") {
        server_ = std::make_unique<ScriptedServer>(script);
        harness_.StoreAccount(Field(*server_).toStdString(), user, "pw-1");
        harness_.Run(Field(*server_));
        ASSERT_FALSE(harness_.TimedOut());
        EXPECT_EQ(harness_.Socket().State(), Winsock::sckClosed);
    }
    QList<QByteArray> Lines() const { return server_->receivedLines(); }

    ProbeHarness harness_;
    std::unique_ptr<ScriptedServer> server_;
};

TEST_F(Pop3ProbeScripted, FullDialogueRecordsCountAndSendsEachCommandOnce) {
    Probe(LoginThenStat("+OK 2 4096\r\n"));
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "2");
    ASSERT_TRUE(server_->waitForLines(4));
    const QList<QByteArray> lines = Lines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "USER alice");
    EXPECT_TRUE(lines[1] == "PASS pw-1"); // not printed: it is a password
    EXPECT_EQ(lines[2], "STAT");
    EXPECT_EQ(lines[3], "QUIT");
}

// Stored single-byte text goes out as UTF-8; plain ASCII goes out as it is.
TEST_F(Pop3ProbeScripted, UserNameOutsideAsciiGoesOutAsUtf8) {
    Probe(LoginThenStat("+OK 1 100\r\n"), postlark::QStringToAnsi(QStringLiteral("jürgen€")));
    EXPECT_EQ(harness_.Result(), 1);
    ASSERT_TRUE(server_->waitForLines(1));
    EXPECT_EQ(Lines()[0], QByteArray("USER j\xc3\xbcrgen\xe2\x82\xac"));
}

TEST_F(Pop3ProbeScripted, EmptyMailboxIsNoMail) {
    Probe(LoginThenStat("+OK 0 0\r\n"));
    EXPECT_EQ(harness_.Result(), 0);
    EXPECT_EQ(harness_.Count(), "0");
}

TEST_F(Pop3ProbeScripted, GreetingInTwoSegmentsIsOneGreeting) {
    Probe(Script()
              .send("+OK re")
              .wait(150)
              .send("ady\r\n")
              .sendAfterLine("+")
              .wait(150)
              .send("OK\r\n")
              .sendAfterLine("+OK logged in\r\n")
              .sendAfterLine("+OK 2 4096\r\n")
              .sendAfterLine("+OK bye\r\n")
              .closeConnection());
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "2");
    ASSERT_TRUE(server_->waitForLines(4));
    EXPECT_EQ(Lines()[0], "USER alice");
    EXPECT_EQ(Lines()[3], "QUIT");
}

TEST_F(Pop3ProbeScripted, EachProbeUsesTheCredentialsStoredForIt) {
    Probe(LoginThenStat("+OK 1 1\r\n"), "alice");
    Probe(LoginThenStat("+OK 1 1\r\n"), "bob");
    ASSERT_TRUE(server_->waitForLines(1));
    EXPECT_EQ(Lines()[0], "USER bob");
}

TEST_F(Pop3ProbeScripted, NegativeRepliesOutsidePassFailAndStopTheDialogue) {
    Probe(Script().send("-ERR go away\r\n").stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_TRUE(Lines().isEmpty());

    Probe(Script().send("+OK ready\r\n").sendAfterLine("-ERR no such user\r\n").stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
    server_->waitForLines(2, 300);
    EXPECT_EQ(Lines(), QList<QByteArray>{"USER alice"});
}

TEST_F(Pop3ProbeScripted, RejectedPasswordIsBadPasswordWithoutStat) {
    Probe(Script()
              .send("+OK\r\n")
              .sendAfterLine("+OK\r\n")
              .sendAfterLine("-ERR auth\r\n")
              .stayQuiet());
    EXPECT_EQ(harness_.Result(), -1);
    server_->waitForLines(3, 300);
    EXPECT_EQ(Lines().size(), 2);
}

TEST_F(Pop3ProbeScripted, UndecipherablePasswordIsBadPasswordAndNoPassLineIsSent) {
    server_ = std::make_unique<ScriptedServer>(LoginThenStat("+OK 1 1\r\n"));
    harness_.StoreAccountRaw(Field(*server_).toStdString(), "alice", "abc");
    harness_.Run(Field(*server_));
    EXPECT_EQ(harness_.Result(), -1);
    server_->waitForLines(2, 300);
    EXPECT_EQ(Lines(), QList<QByteArray>{"USER alice"});
}

TEST_F(Pop3ProbeScripted, LineBreakInTheUserNameIsNeverSent) {
    Probe(LoginThenStat("+OK 1 1\r\n"), "alice\r\nDELE 1");
    EXPECT_EQ(harness_.Result(), -2);
    server_->waitForLines(1, 300);
    EXPECT_TRUE(Lines().isEmpty());
}

TEST_F(Pop3ProbeScripted, StatCountsThatCannotBeReadFailTheAccount) {
    for (const QByteArray& reply : {QByteArray("+OK 3\r\n"), QByteArray("+OK 40000 1\r\n"),
                                    QByteArray("+OK  3 1\r\n"), QByteArray("+OK x3 1\r\n")}) {
        SCOPED_TRACE(reply.toStdString());
        Probe(LoginThenStat(reply));
        EXPECT_EQ(harness_.Result(), -2);
        server_->waitForLines(4, 200);
        EXPECT_FALSE(Lines().contains("QUIT"));
    }
}

TEST_F(Pop3ProbeScripted, ServerClosingBeforeAVerdictFailsTheAccount) {
    Probe(Script().send("+OK ready\r\n").expectLine().closeConnection());
    EXPECT_EQ(harness_.Result(), -2);
}

TEST_F(Pop3ProbeScripted, ServerClosingAfterTheCountKeepsTheVerdict) {
    Probe(Script()
              .send("+OK\r\n")
              .sendAfterLine("+OK\r\n")
              .sendAfterLine("+OK\r\n")
              .sendAfterLine("+OK 5 100\r\n")
              .expectLine()
              .closeConnection());
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "5");
}

TEST(Pop3ProbeConnection, RefusedOrMalformedServerFailsTheAccount) {
    ProbeHarness harness;
    quint16 closedPort;
    {
        ScriptedServer gone;
        closedPort = gone.port();
    }
    for (const QString& field : {QStringLiteral("127.0.0.1:%1").arg(closedPort),
                                 QStringLiteral("pop3s://[::1"), QString()}) {
        SCOPED_TRACE(field.toStdString());
        harness.StoreAccount(field.toStdString(), "alice", "pw");
        harness.Run(field);
        EXPECT_FALSE(harness.TimedOut());
        EXPECT_EQ(harness.Result(), -2);
    }
}

} // namespace
