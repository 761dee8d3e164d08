// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP probe's reading of responses: whatever way the server's bytes are cut into segments
// the dialogue is the same; literals are read by their length; overlong lines and literals
// fail the account. Driven through a connection double that hands the probe exactly the
// segments a test chooses.
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/imap/ImapProbe.h"
#include "mail/imap/ImapReader.h"
#include "mail/imap/ImapResponse.h"
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

class ImapProbeLines : public ::testing::Test {
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
        results.CurrentAccount = 0;
        results.ResetResults(1);
        probe.BeginDialogue(false);
    }
    void Arrive(const QByteArray& bytes) {
        if (connection.closed)
            return;
        connection.incoming += bytes;
        probe.OnImapReply();
    }
    // The command words sent, without tags and arguments.
    std::vector<QByteArray> Commands() const {
        std::vector<QByteArray> words;
        for (const QByteArray& line : connection.sent)
            words.push_back(line.split(' ').value(1).trimmed());
        return words;
    }

    test::TestEnvironment env;
    FakeConnection connection;
    CheckVerdicts results;
    ImapProbe probe{connection, BuildApplicationKey(), results};
};

// The server's side of a whole dialogue, each response sent once the probe has sent its
// command: greeting with capabilities, the log-in's result, the INBOX's status with its name
// as a literal, the end.
const std::vector<QByteArray> kResponses = {
    "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n",
    "* CAPABILITY IMAP4rev1 IDLE\r\na1 OK [CAPABILITY IMAP4rev1] Logged in\r\n",
    "* STATUS {5}\r\nINBOX (UNSEEN 3)\r\na2 OK done\r\n",
    "* BYE Logging out\r\na3 OK bye\r\n",
};
const std::vector<QByteArray> kCommands = {"AUTHENTICATE", "STATUS", "LOGOUT"};

TEST_F(ImapProbeLines, ResponseCutAtAnyByteIsJudgedOnceWhole) {
    for (std::size_t r = 0; r < kResponses.size(); ++r) {
        for (qsizetype cut = 1; cut < kResponses[r].size(); ++cut) {
            SCOPED_TRACE("response " + std::to_string(r) + " cut after byte " +
                         std::to_string(cut));
            Begin();
            for (std::size_t i = 0; i < kResponses.size(); ++i) {
                if (i == r) {
                    Arrive(kResponses[i].left(cut));
                    // Only an untagged response that is already whole may have been judged.
                    ASSERT_EQ(connection.sent.size(), i) << "a piece was judged as a response";
                    ASSERT_FALSE(connection.closed);
                    Arrive(kResponses[i].mid(cut));
                } else {
                    Arrive(kResponses[i]);
                }
            }
            EXPECT_EQ(Commands(), kCommands);
            EXPECT_TRUE(connection.closed);
            EXPECT_EQ(results.CheckResults[0], ResultNewMail);
            EXPECT_EQ(results.MessageCounts[0], "3");
        }
    }
}

TEST_F(ImapProbeLines, ByteByByteAndAllResponsesInOneSegment) {
    Begin();
    for (const QByteArray& response : kResponses)
        for (const char byte : response)
            Arrive(QByteArray(1, byte));
    EXPECT_EQ(Commands(), kCommands);
    EXPECT_EQ(results.MessageCounts[0], "3");

    // Everything at once (a server that does not wait): every response judged, in order.
    Begin();
    Arrive(kResponses[0] + kResponses[1] + kResponses[2] + kResponses[3]);
    EXPECT_EQ(Commands(), kCommands);
    EXPECT_EQ(results.CheckResults[0], ResultNewMail);
    EXPECT_TRUE(connection.closed);
}

TEST_F(ImapProbeLines, OverlongLineOrLiteralFailsTheAccount) {
    // A line of 64 KiB is allowed; one byte more without a line end is not.
    Begin();
    Arrive("* OK " + QByteArray(64 * 1024 - 5, 'x'));
    EXPECT_FALSE(connection.closed);
    Arrive("x");
    EXPECT_TRUE(connection.closed);
    EXPECT_EQ(results.CheckResults[0], ResultFailed);
    EXPECT_EQ(probe.FailureReason(), "The server sent a line or literal longer than 64 KiB");
    EXPECT_TRUE(connection.sent.empty());

    // A literal announced over 64 KiB fails at its announcement, before its bytes arrive.
    Begin();
    Arrive(kResponses[0]);
    Arrive("* 1 FETCH (BODY[] {65537}\r\n");
    EXPECT_TRUE(connection.closed);
    EXPECT_EQ(results.CheckResults[0], ResultFailed);

    // A literal of 64 KiB whose bytes hold line ends is read by its length.
    Begin();
    Arrive(kResponses[0]);
    QByteArray body(64 * 1024, 'z');
    body.replace(10, 5, "\r\na1 ");
    Arrive("* 1 FETCH (BODY[] {65536}\r\n" + body + ")\r\n" + kResponses[1].mid(29));
    EXPECT_FALSE(connection.closed);
    EXPECT_EQ(Commands(), (std::vector<QByteArray>{"AUTHENTICATE", "STATUS"}));
}

// A server that answers a log-in before it has all of it has not accepted the password; one
// that refuses it at once has.
TEST_F(ImapProbeLines, LogInAnsweredBeforeItsLiteralIsSentIsNotALogIn) {
    SettingsStore::Apply({SettingsStore::Change::Set("UserName0", "\xE9mile")});
    Begin();
    Arrive("* OK [CAPABILITY IMAP4rev1] hi\r\n");
    ASSERT_EQ(connection.sent.size(), 1u);
    EXPECT_EQ(connection.sent[0], "a1 LOGIN {6}\r\n");
    Arrive("a1 OK logged in\r\n");
    EXPECT_TRUE(connection.closed);
    EXPECT_EQ(results.CheckResults[0], ResultFailed);
    EXPECT_EQ(connection.sent.size(), 1u);

    Begin();
    Arrive("* OK [CAPABILITY IMAP4rev1] hi\r\n");
    Arrive("a1 NO [AUTHENTICATIONFAILED] no such user\r\n");
    EXPECT_EQ(results.CheckResults[0], ResultBadPassword);
    EXPECT_EQ(connection.sent.size(), 1u);
}

// A log-in refused with NO is a wrong password only without a code or with
// AUTHENTICATIONFAILED; any other code fails the account with the server's own words.
TEST_F(ImapProbeLines, OnlyAnAuthenticationFailureIsABadPassword) {
    const struct {
        const char* answer;
        std::int16_t result;
        const char* reason;
    } cases[] = {
        {"a1 NO wrong\r\n", ResultBadPassword, ""},
        {"a1 NO [AUTHENTICATIONFAILED] wrong\r\n", ResultBadPassword, ""},
        {"a1 NO [UNAVAILABLE] Maintenance\r\n", ResultFailed,
         "The server cannot log in now; try again later (Maintenance)"},
        {"a1 NO [SERVERBUG] Oops\x01 \r\n", ResultFailed, "The server refused the log-in: Oops"},
        {"a1 NO [ALERT] Your account is locked\r\n", ResultFailed,
         "The server refused the log-in: Your account is locked"},
        {"a1 NO [INUSE]\r\n", ResultFailed, "The server refused the log-in: INUSE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        Begin();
        Arrive("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n");
        Arrive(c.answer);
        EXPECT_EQ(results.CheckResults[0], c.result);
        EXPECT_EQ(probe.FailureReason(), c.reason);
    }
}

// An [ALERT] must reach the user even when the check succeeds.
TEST_F(ImapProbeLines, AnAlertIsKeptForTheUser) {
    Begin();
    Arrive(kResponses[0]);
    Arrive("a1 OK Logged in\r\n");
    Arrive("* OK [ALERT] Mailbox is 95%  full\r\n* STATUS INBOX (UNSEEN 2)\r\na2 OK\r\n");
    EXPECT_EQ(results.CheckResults[0], ResultNewMail);
    EXPECT_EQ(probe.ServerAlert(), "Mailbox is 95% full");
    Begin();
    EXPECT_EQ(probe.ServerAlert(), "");
}

// A literal is taken only where the grammar allows one: "{n}" ending the text of a status
// response or a continuation is text. The numbers of a SEARCH of any length are counted as
// they arrive, in bounded memory.
TEST(ImapReaderPlaces, LiteralsWhereAllowedAndSearchCountedAsItStreams) {
    const struct {
        QByteArray bytes;
        qsizetype responses;
    } cases[] = {
        {"* OK [CAPABILITY IMAP4rev1] Welcome {1}\r\n", 1},
        {"a1 NO [ALERT] not {3}\r\n", 1},
        {"+ go on {2}\r\n", 1},
        {"* CAPABILITY IMAP4rev1 {4}\r\n", 1},
        {"* STATUS {5}\r\nINBOX (UNSEEN 3)\r\n", 1},
        {"* 1 FETCH (BODY[] {3}\r\nab\n)\r\n", 1},
        {"* 1 FETCH (BODY[] {3}\r\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        ImapReader reader;
        reader.Append(c.bytes);
        QByteArray response;
        qsizetype taken = 0;
        while (reader.Next(&response) == ImapReader::Status::Response)
            ++taken;
        EXPECT_EQ(taken, c.responses);
    }

    for (const char* odd : {"", "7 x "}) {
        SCOPED_TRACE(odd);
        ImapReader reader;
        reader.Append("* SEARCH ");
        QByteArray response;
        const int pieces = 2000; // 2000 x 100 numbers: about 1.3 MB in all
        for (int piece = 0; piece < pieces; ++piece) {
            QByteArray numbers = piece == 1 ? QByteArray(odd) : QByteArray();
            for (int n = 0; n < 100; ++n)
                numbers += QByteArray::number(100000 + piece * 100 + n) + ' ';
            reader.Append(numbers);
            ASSERT_EQ(reader.Next(&response), ImapReader::Status::Incomplete);
        }
        reader.Append("1\r\n");
        ASSERT_EQ(reader.Next(&response), ImapReader::Status::Response);
        EXPECT_LT(response.size(), 8 * 1024);
        auto parsed = ImapResponse::Parse(response);
        ASSERT_TRUE(parsed);
        parsed->droppedSearchItems = reader.DroppedSearchItems();
        EXPECT_EQ(parsed->SearchCount(),
                  *odd ? std::nullopt : std::optional<qint64>(pieces * 100 + 1));
    }

    // An item no server sends (found by fuzzing: one just under 64 KiB, followed by more than
    // the kept tail) is refused whether the line comes whole or in pieces.
    const QByteArray line = "* SEARCH 1 " + QByteArray(65000, 'h') + ' ' +
                            QByteArray(3000, '7').replace(0, 1, " ") + "\r\n";
    for (const qsizetype piece : {line.size(), qsizetype(18)}) {
        ImapReader reader;
        ImapReader::Status status = ImapReader::Status::Incomplete;
        QByteArray response;
        for (qsizetype at = 0; at < line.size() && status == ImapReader::Status::Incomplete;
             at += piece) {
            reader.Append(line.mid(at, piece));
            status = reader.Next(&response);
        }
        EXPECT_EQ(status, ImapReader::Status::TooLong) << piece;
    }
}

// What a STATUS response says about the INBOX, in the forms servers write it.
TEST(ImapResponseStatus, InboxNameInEveryFormAndTheUnseenCount) {
    struct Case {
        const char* text;
        bool readable;
        bool inbox;
        qint64 count; // -1: none
    };
    const Case cases[] = {
        {"* STATUS INBOX (UNSEEN 3)", true, true, 3},
        {"* STATUS \"INBOX\" (MESSAGES 9 UNSEEN 0 RECENT 1)", true, true, 0},
        {"* STATUS inbox (UNSEEN 32767)", true, true, 32767},
        {"* STATUS {5}\r\nInBox (UNSEEN 12)", true, true, 12},
        {"* STATUS \"Sent \\\"old\\\"\" (UNSEEN 4)", true, false, 4},
        {"* STATUS INBOX (UNSEEN 32768)", true, true, 32768},
        {"* STATUS INBOX (UNSEEN 4294967295)", true, true, 4294967295},
        {"* STATUS INBOX (UNSEEN 4294967296)", true, true, -1},
        {"* STATUS INBOX (UNSEEN 99999999999999999999)", true, true, -1},
        {"* STATUS INBOX (UNSEEN -1)", true, true, -1},
        {"* STATUS INBOX (MESSAGES 2)", true, true, -1},
        {"* STATUS INBOX UNSEEN 3", false, false, -1},
        {"* STATUS {9}\r\nINBOX", false, false, -1},
        {"* STATUS \"INBOX (UNSEEN 3)", false, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto response = ImapResponse::Parse(c.text);
        ASSERT_TRUE(response);
        const auto unseen = response->InboxUnseen();
        ASSERT_EQ(unseen.has_value(), c.readable);
        if (!unseen)
            continue;
        EXPECT_EQ(unseen->inbox, c.inbox);
        EXPECT_EQ(unseen->count.value_or(-1), c.count);
    }
}

} // namespace
} // namespace postlark
