// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP probe against scripted servers over real sockets: the responses Dovecot does not
// send, and the exact bytes of what the probe sends.
#include "FakeNewMessageReader.h"
#include "ProbeHarness.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

using postlark::Winsock;
using postlark::test::FakeNewMessageReader;
using postlark::test::ProbeHarness;
using postlark::test::ScriptedServer;
using Script = ScriptedServer::Script;

namespace {

const QByteArray kGreeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n";

QString Field(const ScriptedServer& server) {
    return QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server.port());
}

// Greeting with SASL-IR, log-in accepted, then the given STATUS responses and the end.
Script LoginThenStatus(const QByteArray& status) {
    return Script()
        .send(kGreeting)
        .sendAfterLine("a1 OK Logged in\r\n")
        .sendAfterLine(status + "a2 OK done\r\n")
        .sendAfterLine("* BYE\r\na3 OK bye\r\n")
        .closeConnection();
}

class ImapProbeScripted : public ::testing::Test {
protected:
    void Probe(const Script& script, const std::string& user = "alice",
               const std::string& password = "pw-1") {
        server_ = std::make_unique<ScriptedServer>(script);
        const QString field = Field(*server_) + path_;
        harness_.StoreAccount(field.toStdString(), user, password);
        harness_.Run(field);
        ASSERT_FALSE(harness_.TimedOut());
        EXPECT_EQ(harness_.Socket().State(), Winsock::sckClosed);
    }
    // The lines received once the server has had time for `count` of them.
    QList<QByteArray> Lines(int count) {
        server_->waitForLines(count, 300);
        return server_->receivedLines();
    }
    // Command words, without tags and arguments.
    QList<QByteArray> Commands(int count) {
        QList<QByteArray> words;
        for (const QByteArray& line : Lines(count))
            words << line.split(' ').value(1);
        return words;
    }

    ProbeHarness harness_;
    std::unique_ptr<ScriptedServer> server_;
    QString path_; // after the host in the server field
};

TEST_F(ImapProbeScripted, PreauthSkipsTheLogIn) {
    Probe(Script()
              .send("* PREAUTH [CAPABILITY IMAP4rev1] welcome back\r\n")
              .sendAfterLine("* STATUS INBOX (UNSEEN 4)\r\na1 OK done\r\n")
              .sendAfterLine("* BYE\r\na2 OK bye\r\n")
              .closeConnection());
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "4");
    EXPECT_EQ(Lines(2), QList<QByteArray>({"a1 STATUS INBOX (UNSEEN)", "a2 LOGOUT"}));
}

TEST_F(ImapProbeScripted, ByeAtTheGreetingOrBadFailsWithAReason) {
    Probe(Script().send("* BYE Too many connections\r\n").closeConnection());
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_EQ(harness_.ImapReason(), "The server refused the connection (BYE)");
    EXPECT_TRUE(Lines(1).isEmpty());

    Probe(Script().send(kGreeting).sendAfterLine("a1 BAD what?\r\n").stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_EQ(harness_.ImapReason(), "The server refused a command as malformed (BAD)");

    // A POP3 server behind an imap:// field.
    Probe(Script().send("+OK POP3 ready\r\n").stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_EQ(harness_.ImapReason(), "The server did not answer as an IMAP server does");
    EXPECT_TRUE(Lines(1).isEmpty());
}

TEST_F(ImapProbeScripted, LoginDisabledMeansNoPasswordIsSent) {
    // Announced in the greeting.
    Probe(Script().send("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN] hi\r\n").stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_EQ(harness_.ImapReason(),
              "The server does not accept a password on an unencrypted connection; use imaps://");
    EXPECT_TRUE(Lines(1).isEmpty());

    // Announced only when asked.
    Probe(Script()
              .send("* OK hi\r\n")
              .sendAfterLine("* CAPABILITY IMAP4rev1 LOGINDISABLED\r\na1 OK\r\n")
              .stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_EQ(Lines(2), QList<QByteArray>{"a1 CAPABILITY"});
}

TEST_F(ImapProbeScripted, LoginQuotesWhatItCanAndSendsTheRestAsLiterals) {
    // No AUTH=PLAIN: LOGIN. The user name needs escapes, the password (a-umlaut, stored as one
    // byte, sent as two in UTF-8) a literal, sent after the server's continuation.
    Probe(Script()
              .send("* OK [CAPABILITY IMAP4rev1] hi\r\n")
              .sendAfterLine("+ go ahead\r\n")
              .sendAfterLine("a1 OK Logged in\r\n* 3 EXISTS\r\n")
              .sendAfterLine("* STATUS INBOX (UNSEEN 0)\r\na2 OK\r\n")
              .sendAfterLine("* BYE\r\na3 OK\r\n")
              .closeConnection(),
          "al\"i ce\\", "p\xE4 ss");
    EXPECT_EQ(harness_.Result(), 0);
    EXPECT_EQ(harness_.Count(), "0");
    const QList<QByteArray> lines = Lines(4);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "a1 LOGIN \"al\\\"i ce\\\\\" {6}");
    EXPECT_TRUE(lines[1] == "p\xC3\xA4 ss"); // not printed: it is a password
    EXPECT_EQ(lines[2], "a2 STATUS INBOX (UNSEEN)");
    EXPECT_EQ(lines[3], "a3 LOGOUT");
}

TEST_F(ImapProbeScripted, TaggedNoToTheLogInIsBadPasswordWithoutStatus) {
    for (const QByteArray& no :
         {QByteArray("a1 NO [AUTHENTICATIONFAILED] Authentication failed\r\n"),
          QByteArray("a1 NO login refused\r\n")}) {
        SCOPED_TRACE(no.toStdString());
        Probe(Script().send(kGreeting).sendAfterLine(no).stayQuiet());
        EXPECT_EQ(harness_.Result(), -1);
        EXPECT_EQ(Commands(2), QList<QByteArray>{"AUTHENTICATE"});
    }
    // A server that cannot log anyone in just now has not judged the password.
    Probe(Script().send(kGreeting).sendAfterLine("a1 NO [UNAVAILABLE] try later\r\n").stayQuiet());
    EXPECT_EQ(harness_.Result(), -2);
}

TEST_F(ImapProbeScripted, UnsolicitedResponsesAndOtherMailboxesAreIgnored) {
    Probe(Script()
              .send(kGreeting + "* OK [ALERT] maintenance tonight\r\n")
              .sendAfterLine("* CAPABILITY IMAP4rev1 IDLE\r\n* OK [ALERT] quota\r\n"
                             "a1 OK [CAPABILITY IMAP4rev1] Logged in\r\n")
              .sendAfterLine("* 12 EXISTS\r\n* 2 RECENT\r\n* FLAGS (\\Seen \\Answered)\r\n"
                             "* STATUS Archive (UNSEEN 9)\r\n* STATUS {5}\r\nINBOX (UNSEEN 7)\r\n"
                             "* NO [ALERT] nearly full\r\na2 OK done\r\n")
              .sendAfterLine("* BYE\r\na3 OK\r\n")
              .closeConnection());
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "7");
    EXPECT_EQ(Commands(3), QList<QByteArray>({"AUTHENTICATE", "STATUS", "LOGOUT"}));
}

TEST_F(ImapProbeScripted, CountsThatCannotBeReadFailWithoutLogout) {
    for (const QByteArray& status : {QByteArray("* STATUS INBOX (UNSEEN 4294967296)\r\n"),
                                     QByteArray("* STATUS INBOX (UNSEEN x)\r\n"),
                                     QByteArray("* STATUS INBOX (MESSAGES 3)\r\n"), QByteArray()}) {
        SCOPED_TRACE(status.toStdString());
        Probe(LoginThenStatus(status));
        EXPECT_EQ(harness_.Result(), -2);
        EXPECT_EQ(harness_.ImapReason(), "The server's count of unseen messages could not be read");
        EXPECT_FALSE(Commands(3).contains("LOGOUT"));
    }
}

TEST_F(ImapProbeScripted, ClosingAfterTheLogInFailsButAfterTheCountTheVerdictStands) {
    Probe(Script().send(kGreeting).sendAfterLine("a1 OK\r\n").closeConnection());
    EXPECT_EQ(harness_.Result(), -2);

    Probe(Script()
              .send(kGreeting)
              .sendAfterLine("a1 OK\r\n")
              .sendAfterLine("* STATUS INBOX (UNSEEN 5)\r\na2 OK\r\n")
              .expectLine()
              .closeConnection());
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "5");
}

TEST_F(ImapProbeScripted, StoredTextNeverPutsALineBreakOnTheWire) {
    Probe(LoginThenStatus("* STATUS INBOX (UNSEEN 1)\r\n"), "alice\r\na9 DELETE INBOX");
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_TRUE(Lines(1).isEmpty());
    Probe(LoginThenStatus("* STATUS INBOX (UNSEEN 1)\r\n"), "alice", "pw\nx");
    EXPECT_EQ(harness_.Result(), -2);
    EXPECT_TRUE(Lines(1).isEmpty());
}

TEST_F(ImapProbeScripted, UndecipherablePasswordIsBadPasswordAndNothingIsSent) {
    server_ = std::make_unique<ScriptedServer>(LoginThenStatus("* STATUS INBOX (UNSEEN 1)\r\n"));
    harness_.StoreAccountRaw(Field(*server_).toStdString(), "alice", "abc");
    harness_.Run(Field(*server_));
    EXPECT_EQ(harness_.Result(), -1);
    EXPECT_TRUE(Lines(1).isEmpty());
}

// A reader reads the headers of the ids it chose, in a folder named in modified UTF-7 and
// quoted; FETCH items come in any order, a flag change among them is no header.
TEST_F(ImapProbeScripted, ReaderGetsTheHeadersItChoseFromTheFolder) {
    FakeNewMessageReader reader;
    reader.pick = std::vector<QByteArray>{"7", "9", "8", "12", "4\r\nx", "99"};
    harness_.Imap().SetNewMessageReader(&reader);
    path_ = "/Lists/Entw%C3%BCrfe%20neu";
    const QByteArray item = "BODY[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID)]";
    Probe(Script()
              .send(kGreeting)
              .sendAfterLine("a1 OK\r\n")
              .sendAfterLine("* STATUS \"Lists/Entw&APw-rfe neu\" (UNSEEN 5)\r\na2 OK\r\n")
              .sendAfterLine("* 5 EXISTS\r\n* OK [UIDVALIDITY 42] ok\r\na3 OK [READ-ONLY]\r\n")
              .sendAfterLine("* SEARCH 3 7 8 9 12\r\na4 OK\r\n")
              .sendAfterLine("* 4 FETCH (" + item + " {15}\r\nSubject: four\r\n UID 9)\r\n" +
                             "* 2 FETCH (FLAGS (\\Seen))\r\n* 3 FETCH (UID 8 " + item +
                             " NIL)\r\n* 1 FETCH (UID 7 FLAGS () " + item +
                             " \"From: a\")\r\na5 OK\r\n")
              .sendAfterLine("* BYE\r\na6 OK\r\n")
              .closeConnection());
    EXPECT_EQ(harness_.Result(), 1);
    EXPECT_EQ(harness_.Count(), "5");
    const QByteArray mailbox = "\"Lists/Entw&APw-rfe neu\"";
    EXPECT_EQ(Lines(6).mid(1),
              QList<QByteArray>({"a2 STATUS " + mailbox + " (UNSEEN)", "a3 EXAMINE " + mailbox,
                                 "a4 UID SEARCH UNSEEN",
                                 "a5 UID FETCH 7:9,12 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT "
                                 "DATE MESSAGE-ID)])",
                                 "a6 LOGOUT"}));
    EXPECT_EQ(reader.present, (std::vector<QByteArray>{"3", "7", "8", "9", "12"}));
    EXPECT_EQ(reader.validity, "42");
    ASSERT_EQ(reader.headers.size(), 3u);
    EXPECT_FALSE(reader.countOnly);
    EXPECT_EQ(reader.headers[0].id, "9");
    EXPECT_EQ(reader.headers[0].header, "Subject: four\r\n");
    EXPECT_EQ(reader.headers[1].id, "8");
    EXPECT_EQ(reader.headers[1].header, "");
    EXPECT_EQ(reader.headers[2].header, "From: a");
}

// The count stands whatever happens to the reading: a refusal or a lost connection leaves the
// reader with the count only; without a wish to read, or without mail, nothing is read.
TEST_F(ImapProbeScripted, ReadingNeverChangesTheVerdict) {
    const auto counted = [] {
        return Script()
            .send(kGreeting)
            .sendAfterLine("a1 OK\r\n")
            .sendAfterLine("* STATUS INBOX (UNSEEN 2)\r\na2 OK\r\n");
    };
    const auto examined = [&] {
        return counted().sendAfterLine("a3 OK\r\n").sendAfterLine("* SEARCH 5\r\na4 OK\r\n");
    };
    const struct {
        const char* name;
        Script script;
        QList<QByteArray> commands;
        bool wanted = true;
    } cases[] = {
        {"EXAMINE refused",
         counted().sendAfterLine("a3 NO [CANNOT] no\r\n"),
         {"AUTHENTICATE", "STATUS", "EXAMINE", "LOGOUT"}},
        {"FETCH refused",
         examined().sendAfterLine("a5 NO [SERVERBUG] oops\r\n"),
         {"AUTHENTICATE", "STATUS", "EXAMINE", "UID", "UID", "LOGOUT"}},
        {"closed while fetching", examined(), {"AUTHENTICATE", "STATUS", "EXAMINE", "UID", "UID"}},
        {"not wanted", counted(), {"AUTHENTICATE", "STATUS", "LOGOUT"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNewMessageReader reader;
        reader.wanted = c.wanted;
        harness_.Imap().SetNewMessageReader(&reader);
        Probe(Script(c.script).expectLine().closeConnection());
        EXPECT_EQ(harness_.Result(), 1);
        EXPECT_EQ(harness_.Count(), "2");
        EXPECT_EQ(reader.answers, c.wanted ? 1 : 0);
        EXPECT_EQ(reader.countOnly, c.wanted);
        EXPECT_EQ(Commands(int(c.commands.size())), c.commands);
    }
    harness_.Imap().SetNewMessageReader(nullptr);
}

} // namespace
