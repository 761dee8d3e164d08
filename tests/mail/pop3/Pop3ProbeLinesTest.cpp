// SPDX-License-Identifier: GPL-3.0-or-later
// The probe's reading of replies: whatever way the server's bytes are cut into segments, the
// dialogue is the same; a line without end is cut off. Driven through a connection double
// that hands the probe exactly the segments a test chooses.
#include "mail/pop3/Pop3Probe.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <vector>

namespace postlark {
namespace {

class FakeConnection : public IMailSocket {
public:
    QByteArray GetData() override { return std::exchange(incoming, QByteArray()); }
    void SendData(const QByteArray& data) override {
        if (!closed)
            sent.push_back(data);
    }
    void Close() override { closed = true; }

    QByteArray incoming;
    std::vector<QByteArray> sent;
    bool closed = false;
};

class Pop3ProbeLines : public ::testing::Test {
protected:
    void SetUp() override {
        std::string key = BuildApplicationKey();
        SettingsStore::Apply(
            {SettingsStore::Change::Set("UserName0", "alice"),
             SettingsStore::Change::Set("Password0", PassCryptModule::EncryptText("pw-1", key))});
    }

    // A fresh dialogue for account 0.
    void Begin() {
        connection = FakeConnection();
        verdicts.CurrentAccount = 0;
        verdicts.ResetResults(1);
        probe.BeginDialogue();
    }
    // One arrival of data.
    void Arrive(const QByteArray& bytes) {
        if (connection.closed)
            return;
        connection.incoming += bytes;
        probe.OnPop3Reply();
    }
    std::vector<QByteArray> Commands() const {
        std::vector<QByteArray> verbs;
        for (const QByteArray& line : connection.sent)
            verbs.push_back(line.left(4));
        return verbs;
    }

    test::TestEnvironment env;
    FakeConnection connection;
    CheckVerdicts verdicts;
    Pop3Probe probe{connection, BuildApplicationKey(), verdicts};
};

// The server's side of a normal dialogue: greeting, then the replies to USER, PASS, STAT and
// QUIT, each sent once the probe has sent its command.
const std::vector<QByteArray> kReplies = {"+OK POP3 ready\r\n", "+OK\r\n", "+OK logged in\r\n",
                                          "+OK 3 4096\r\n", "+OK bye\r\n"};
const std::vector<QByteArray> kCommands = {"USER", "PASS", "STAT", "QUIT"};

TEST_F(Pop3ProbeLines, ReplyCutAtAnyByteIsJudgedOnceWhole) {
    for (std::size_t r = 0; r < kReplies.size(); ++r) {
        for (qsizetype cut = 1; cut < kReplies[r].size(); ++cut) {
            SCOPED_TRACE("reply " + std::to_string(r) + " cut after byte " + std::to_string(cut));
            Begin();
            for (std::size_t i = 0; i < kReplies.size(); ++i) {
                if (i == r) {
                    Arrive(kReplies[i].left(cut));
                    ASSERT_EQ(connection.sent.size(), i) << "a piece was judged as a reply";
                    Arrive(kReplies[i].mid(cut));
                } else {
                    Arrive(kReplies[i]);
                }
            }
            EXPECT_EQ(Commands(), kCommands);
            EXPECT_TRUE(connection.closed);
            EXPECT_EQ(verdicts.CheckResults[0], ResultNewMail);
            EXPECT_EQ(verdicts.MessageCounts[0], "3");
        }
    }
}

TEST_F(Pop3ProbeLines, ByteByByteAndRepliesSharingASegment) {
    Begin();
    for (const QByteArray& reply : kReplies)
        for (const char byte : reply)
            Arrive(QByteArray(1, byte));
    EXPECT_EQ(Commands(), kCommands);
    EXPECT_EQ(verdicts.CheckResults[0], ResultNewMail);

    // Greeting and the USER reply in one segment: both judged, in order.
    Begin();
    Arrive(kReplies[0] + kReplies[1]);
    EXPECT_EQ(Commands(), (std::vector<QByteArray>{"USER", "PASS"}));

    // A rejected password in the same segment as the USER reply: bad password, no STAT.
    Begin();
    Arrive(kReplies[0]);
    Arrive("+OK\r\n-ERR invalid password\r\n+OK 3 4096\r\n");
    EXPECT_EQ(Commands(), (std::vector<QByteArray>{"USER", "PASS"}));
    EXPECT_EQ(verdicts.CheckResults[0], ResultBadPassword);
    EXPECT_TRUE(connection.closed);
}

TEST_F(Pop3ProbeLines, NegativeReplySplitBeforeItsLineEndStillFailsTheAccount) {
    Begin();
    Arrive(kReplies[0]);
    Arrive("-");
    EXPECT_FALSE(connection.closed) << "judged before the line was complete";
    Arrive("ERR no such user\r\n");
    EXPECT_TRUE(connection.closed);
    EXPECT_EQ(verdicts.CheckResults[0], ResultFailed);
}

TEST_F(Pop3ProbeLines, LineLongerThan64KiBWithoutEndFailsTheAccount) {
    Begin();
    Arrive("+OK ");
    const QByteArray chunk(16 * 1024, 'x');
    for (int i = 0; i < 4; ++i)
        Arrive(i < 3 ? chunk : chunk.left(chunk.size() - 4));
    EXPECT_FALSE(connection.closed) << "64 KiB is still allowed";
    Arrive("x");
    EXPECT_TRUE(connection.closed);
    EXPECT_EQ(verdicts.CheckResults[0], ResultFailed);
    EXPECT_TRUE(connection.sent.empty());

    // A complete greeting of just under the limit is a greeting.
    Begin();
    Arrive("+OK " + QByteArray(60 * 1024, 'y') + "\r\n");
    EXPECT_EQ(Commands(), std::vector<QByteArray>{"USER"});
}

TEST_F(Pop3ProbeLines, StatCountWithTwoSignsIsUnreadable) {
    for (const QByteArray& stat : {QByteArray("+OK +-5 100\r\n"), QByteArray("+OK + 100\r\n"),
                                   QByteArray("+OK ++5 100\r\n")}) {
        SCOPED_TRACE(stat.toStdString());
        Begin();
        for (std::size_t i = 0; i < 3; ++i)
            Arrive(kReplies[i]);
        Arrive(stat);
        EXPECT_EQ(verdicts.CheckResults[0], ResultFailed);
        EXPECT_TRUE(connection.closed);
        EXPECT_EQ(Commands().size(), 3u) << "QUIT sent after an unreadable count";
    }
    Begin();
    for (std::size_t i = 0; i < 3; ++i)
        Arrive(kReplies[i]);
    Arrive("+OK +7 100\r\n");
    EXPECT_EQ(verdicts.MessageCounts[0], "7");
}

} // namespace
} // namespace postlark
