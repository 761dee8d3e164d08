// SPDX-License-Identifier: GPL-3.0-or-later
// The headers read after STAT for a reader (UIDL, TOP n 0): what is asked, what the reader gets,
// that the count stands whatever the reading meets, and that a real server marks nothing seen.
#include "ProbeHarness.h"
#include "support/DovecotServer.h"
#include "support/ScriptedServer.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace postlark::test {
namespace {

// Fetches the ids it is told to pick, or else every message, the newest first.
struct Reader : NewMessageReader {
    bool Wanted() const override { return wanted; }
    std::vector<QByteArray> ToFetch(std::int16_t, const QByteArray&,
                                    const std::vector<QByteArray>& listed) override {
        present = listed;
        return pick.value_or(std::vector<QByteArray>(listed.rbegin(), listed.rend()));
    }
    void Fetched(std::int16_t account, std::vector<FetchedHeader> got, bool countOnly) override {
        told.push_back(account != 0 ? "another account" : countOnly ? "count" : "headers");
        for (const FetchedHeader& h : got)
            told.insert(told.end(), {h.id, h.header});
    }
    bool wanted = true;
    std::optional<std::vector<QByteArray>> pick;
    std::vector<QByteArray> present, told; // told: "count", or "headers" and id, header ...
};

const QByteArray kList = "+OK\r\n2 bb\r\n1 aa\r\n3 cc\r\n.\r\n"; // not in number order
const QByteArray kLong(40 * 1024, 'x');
using Ids = std::vector<QByteArray>;

const struct Case {
    const char* name;
    std::optional<Ids> pick;
    QList<QByteArray> replies;    // after STAT's, each after the probe's next line
    QList<QByteArray> commands;   // the probe's lines after STAT
    Ids told;                     // empty: the reader wants no headers
    bool silentAfter = false;     // the server goes silent after the commands
    QByteArray capa = "-ERR\r\n"; // to the CAPA that asks about PIPELINING
} kCases[] = {
    // clang-format off
    {"picked ones in the reader's order", Ids{"cc", "aa"},
     {kList, "+OK\r\nSubject: 3\r\n\r\n.\r\n", "+OK\r\nFrom: a\r\nSubject: 1\r\n\r\n.\r\n",
      "+OK\r\n"},
     {"UIDL", "TOP 3 0", "TOP 1 0", "QUIT"},
     Ids{"headers", "cc", "Subject: 3\r\n", "aa", "From: a\r\nSubject: 1\r\n"}},
    {"no UIDL", {}, {"-ERR unknown\r\n", "+OK\r\n"}, {"UIDL", "QUIT"}, Ids{"count"}},
    {"TOP refused", {}, {kList, "-ERR no\r\n", "+OK\r\n"}, {"UIDL", "TOP 3 0", "QUIT"},
     Ids{"count"}},
    {"dot-stuffed lines, QUIT refused", Ids{"bb"},
     {kList, "+OK\r\n..Odd: 1\r\n..\r\n\r\n..body\r\n.\r\n", "-ERR\r\n"},
     {"UIDL", "TOP 2 0", "QUIT"}, Ids{"headers", "bb", ".Odd: 1\r\n.\r\n"}},
    {"line over 64 KiB", {}, {kList, "+OK\r\n" + kLong + kLong}, {"UIDL", "TOP 3 0"}, Ids{"count"}},
    {"silent during TOP", {}, {kList}, {"UIDL", "TOP 3 0"}, Ids{"count"}, true},
    {"headers not wanted", {}, {"+OK\r\n"}, {"QUIT"}, {}},
    // With PIPELINING, UIDL goes with STAT and the TOP commands with QUIT (one write each).
    {"pipelined", Ids{"cc", "aa"},
     {kList, "+OK\r\nSubject: 3\r\n\r\n.\r\n", "+OK\r\nFrom: a\r\nSubject: 1\r\n\r\n.\r\n",
      "+OK\r\n"},
     {"UIDL", "TOP 3 0", "TOP 1 0", "QUIT"},
     Ids{"headers", "cc", "Subject: 3\r\n", "aa", "From: a\r\nSubject: 1\r\n"}, false,
     "+OK\r\nPIPELINING\r\n.\r\n"},
    {"pipelined, a TOP refused", {},
     {kList, "-ERR no\r\n", "+OK\r\nSubject: 2\r\n\r\n.\r\n", "-ERR\r\n", "+OK\r\n"},
     {"UIDL", "TOP 3 0", "TOP 2 0", "TOP 1 0", "QUIT"}, Ids{"count"}, false,
     "+OK\r\nPIPELINING\r\n.\r\n"},
    // clang-format on
};

TEST(Pop3Headers, ServerBehaviours) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ProbeHarness harness;
        ScriptedServer::Script script;
        script.send("+OK\r\n");
        if (!c.told.empty())
            script.sendAfterLine(c.capa);
        script.sendAfterLine("+OK\r\n").sendAfterLine("+OK\r\n");
        for (const QByteArray& reply : QList<QByteArray>{"+OK 3 300\r\n"} + c.replies)
            script.sendAfterLine(reply);
        ScriptedServer server(script.stayQuiet());
        QObject::connect(&server, &ScriptedServer::lineReceived, &server, [&](const QByteArray& l) {
            if (c.silentAfter && l.startsWith("TOP")) // given up as the check run does
                QTimer::singleShot(100, &server, [&] { harness.GiveUp(); });
        });
        Reader reader;
        reader.wanted = !c.told.empty();
        reader.pick = c.pick;
        harness.Pop3().SetNewMessageReader(&reader);
        const QString field = QStringLiteral("127.0.0.1:%1").arg(server.port());
        harness.StoreAccount(field.toStdString(), "alice", "pw-1");
        harness.Run(field);

        EXPECT_EQ(harness.Result(), 1);
        EXPECT_EQ(harness.Count(), "3");
        const QList<QByteArray> logIn{"USER alice", "PASS pw-1", "STAT"};
        const QList<QByteArray> expected =
            (c.told.empty() ? QList<QByteArray>() : QList<QByteArray>{"CAPA"}) + logIn + c.commands;
        server.waitForLines(static_cast<int>(expected.size()), 300);
        EXPECT_EQ(server.receivedLines(), expected);
        EXPECT_EQ(reader.present, (c.replies[0] == kList ? Ids{"aa", "bb", "cc"} : Ids()));
        EXPECT_EQ(reader.told, c.told);
    }
}

TEST(Pop3Headers, DovecotMarksNothingSeen) {
    QString why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why.toStdString();
    DovecotServer dovecot(QList<DovecotUser>{{"full", "pw-full", 2}});
    ASSERT_TRUE(dovecot.start(&why)) << why.toStdString();
    ProbeHarness harness;
    Reader reader;
    harness.Pop3().SetNewMessageReader(&reader);
    const QString field = QStringLiteral("127.0.0.1:%1").arg(dovecot.port());
    harness.StoreAccount(field.toStdString(), "full", "pw-full");
    harness.Run(field);
    EXPECT_EQ(harness.Result(), 1);
    EXPECT_EQ(harness.Count(), "2");
    ASSERT_EQ(reader.told.size(), 5u);
    EXPECT_EQ(reader.told[0], "headers");
    const QByteArray both = reader.told[2] + reader.told[4];
    EXPECT_TRUE(both.contains("Subject: Test message 1\r\n") &&
                both.contains("Subject: Test message 2\r\n") && !both.contains("This is"));
    const QString box = dovecot.maildir("full");
    const QStringList files =
        QDir(box + "/new").entryList(QDir::Files) + QDir(box + "/cur").entryList(QDir::Files);
    EXPECT_EQ(files.size(), 2);
    EXPECT_TRUE(files.filter(QRegularExpression(":2,.*S")).isEmpty())
        << files.join(' ').toStdString();
}

} // namespace
} // namespace postlark::test
