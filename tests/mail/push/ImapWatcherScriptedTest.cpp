// SPDX-License-Identifier: GPL-3.0-or-later
// The push watcher against scripted servers, its timers driven by a clock the test advances:
// the exact dialogue, a change announced with the IDLE continuation, the 25-minute renewal,
// servers without IDLE, BYE and silence during IDLE, the back-off and a refused password.
#include "FakePushClock.h"
#include "mail/push/ImapWatcher.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"

#include <QEventLoop>
#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QTimer>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using namespace std::chrono_literals;
using test::FakePushClock;
using test::ScriptedServer;
using Script = ScriptedServer::Script;
using Kind = PushReport::Kind;

const QByteArray kGreeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN IDLE] ready\r\n";

// Greeting, log-in, EXAMINE and a first count of `unseen` (listed by SEARCH).
Script UpToFirstIdle(const QByteArray& search = "* SEARCH 1\r\n") {
    return Script()
        .send(kGreeting)
        .sendAfterLine("a1 OK [CAPABILITY IMAP4rev1 IDLE] Logged in\r\n")
        .sendAfterLine("* 2 EXISTS\r\n* 0 RECENT\r\na2 OK [READ-ONLY] Examined\r\n")
        .sendAfterLine(search + "a3 OK Search done\r\n");
}

class ImapWatcherScripted : public ::testing::Test {
protected:
    void Watch(const QString& field, const std::string& password = "pw-1") {
        std::string key = BuildApplicationKey();
        watcher_ = std::make_unique<ImapWatcher>(
            PushAccount{field, "alice", PassCryptModule::EncryptText(password, key)}, key, clock_,
            [this](const PushReport& report) { reports_.push_back(report); });
        watcher_->Start();
    }
    void Watch(const ScriptedServer& server, const std::string& password = "pw-1") {
        Watch(QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server.port()), password);
    }
    // Sleeps in the event loop until the condition holds (at most 3 s).
    template <typename Condition> bool WaitUntil(Condition condition) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (condition())
                loop.quit();
        });
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        poll.start(5);
        if (!condition())
            loop.exec();
        return condition();
    }
    bool WaitForReports(std::size_t n) {
        return WaitUntil([&] { return reports_.size() >= n; });
    }
    // The lines the server received, without the log-in's credentials.
    static QList<QByteArray> Commands(const ScriptedServer& server) {
        QList<QByteArray> lines = server.receivedLines();
        for (QByteArray& line : lines) {
            if (line.contains("AUTHENTICATE"))
                line = line.left(line.indexOf("PLAIN") + 5);
        }
        return lines;
    }

    test::TestEnvironment env_;
    FakePushClock clock_;
    std::vector<PushReport> reports_;
    std::unique_ptr<ImapWatcher> watcher_;
};

// A change announced in the same segment as the IDLE continuation ends the IDLE once a second
// has passed since the last count; the renewal after 25 minutes is a DONE and a fresh count.
TEST_F(ImapWatcherScripted, CountsIdlesAndCountsAgainOnEveryChange) {
    ScriptedServer server(UpToFirstIdle()
                              .sendAfterLine("+ idling\r\n* 3 EXISTS\r\n* 1 RECENT\r\n")
                              .sendAfterLine("a4 OK Idle completed\r\n")
                              .sendAfterLine("* SEARCH 1 3\r\na5 OK Search done\r\n")
                              .sendAfterLine("+ idling\r\n")
                              .sendAfterLine("a6 OK Idle completed\r\n")
                              .sendAfterLine("* SEARCH 3\r\na7 OK Search done\r\n")
                              .sendAfterLine("+ idling\r\n")
                              .stayQuiet());
    Watch(server);
    ASSERT_TRUE(WaitForReports(1));
    ASSERT_TRUE(server.waitForLines(4));
    clock_.Advance(1s);
    ASSERT_TRUE(WaitForReports(2));
    EXPECT_EQ(reports_[0].kind, Kind::Count);
    EXPECT_EQ(reports_[0].count, 1);
    EXPECT_EQ(reports_[1].count, 2);
    ASSERT_TRUE(server.waitForLines(7));
    EXPECT_EQ(Commands(server),
              QList<QByteArray>({"a1 AUTHENTICATE PLAIN", "a2 EXAMINE INBOX", "a3 SEARCH UNSEEN",
                                 "a4 IDLE", "DONE", "a5 SEARCH UNSEEN", "a6 IDLE"}));
    ASSERT_TRUE(WaitUntil([&] { return watcher_->CurrentStep() == ImapWatcher::Step::Idling; }));

    clock_.Advance(25min - 1s);
    EXPECT_FALSE(server.waitForLines(8, 100)) << "no DONE before 25 minutes";
    clock_.Advance(1s);
    ASSERT_TRUE(server.waitForLines(10));
    EXPECT_EQ(server.receivedLines().mid(7),
              QList<QByteArray>({"DONE", "a7 SEARCH UNSEEN", "a8 IDLE"}));
    ASSERT_TRUE(WaitForReports(3));
    EXPECT_EQ(reports_[2].count, 1);
    EXPECT_EQ(server.connectionCount(), 1);
}

// Where ESEARCH is offered the server counts; the capabilities come from CAPABILITY commands
// when neither the greeting nor the log-in's answer carries them.
TEST_F(ImapWatcherScripted, AsksForCapabilitiesAndUsesTheEsearchCount) {
    ScriptedServer server(Script()
                              .send("* OK ready\r\n")
                              .sendAfterLine("* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\na1 OK\r\n")
                              // AUTHENTICATE PLAIN without an initial response
                              .sendAfterLine("+ \r\n")
                              .sendAfterLine("a2 OK Logged in\r\n")
                              .sendAfterLine("* CAPABILITY IMAP4rev1 IDLE ESEARCH\r\na3 OK\r\n")
                              .sendAfterLine("* 2 EXISTS\r\na4 OK [READ-ONLY] Examined\r\n")
                              .sendAfterLine("* ESEARCH (TAG \"a5\") COUNT 7\r\na5 OK\r\n")
                              .sendAfterLine("+ idling\r\n")
                              .stayQuiet());
    Watch(server);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(reports_[0].count, 7);
    ASSERT_TRUE(server.waitForLines(7));
    QList<QByteArray> lines = Commands(server);
    lines.removeAt(2); // the base64 response
    EXPECT_EQ(lines, QList<QByteArray>({"a1 CAPABILITY", "a2 AUTHENTICATE PLAIN", "a3 CAPABILITY",
                                        "a4 EXAMINE INBOX", "a5 SEARCH RETURN (COUNT) UNSEEN",
                                        "a6 IDLE"}));
}

// A server that repeats an unchanged count (with any reply, right after IDLE's "+") causes no
// recount; a new count is counted, but not sooner than a second after the last count.
TEST_F(ImapWatcherScripted, RepeatedCountsAreNoChangeAndCountsAreASecondApart) {
    ScriptedServer server(UpToFirstIdle() // EXAMINE: 2 EXISTS
                              .sendAfterLine("+ idling\r\n* 2 EXISTS\r\n* 3 EXISTS\r\n")
                              .sendAfterLine("* 3 EXISTS\r\na4 OK Idle completed\r\n")
                              .sendAfterLine("* SEARCH 1 3\r\n* 3 EXISTS\r\na5 OK done\r\n")
                              .sendAfterLine("+ idling\r\n* 3 EXISTS\r\n* 3 EXISTS\r\n")
                              .stayQuiet());
    Watch(server);
    ASSERT_TRUE(WaitForReports(1));
    ASSERT_TRUE(server.waitForLines(4));
    EXPECT_FALSE(server.waitForLines(5, 200)) << "counted again within the second";
    clock_.Advance(1s);
    ASSERT_TRUE(WaitForReports(2));
    EXPECT_EQ(reports_[1].count, 2);
    ASSERT_TRUE(server.waitForLines(7));
    clock_.Advance(1min);
    EXPECT_FALSE(server.waitForLines(8, 200)) << "an unchanged count was taken as a change";
}

// What the server offers chooses the commands: ID where it lists ID; IMAP4rev2 has IDLE and
// ESEARCH without naming them; a refused IDLE leaves the account to the checks for good.
TEST_F(ImapWatcherScripted, CapabilitiesChooseTheCommandsAndARefusedIdleStops) {
    const struct {
        const char* name;
        Script script;
        QList<QByteArray> commands;
        Kind kind;
    } cases[] = {
        {"ID",
         Script()
             .send(kGreeting)
             .sendAfterLine("a1 OK [CAPABILITY IMAP4rev1 IDLE ID] Logged in\r\n")
             .sendAfterLine("* ID NIL\r\na2 OK\r\n")
             .sendAfterLine("a3 OK Examined\r\n")
             .sendAfterLine("* SEARCH\r\na4 OK\r\n")
             .sendAfterLine("+ idling\r\n")
             .stayQuiet(),
         {"AUTHENTICATE", "ID", "EXAMINE", "SEARCH", "IDLE"},
         Kind::Count},
        {"IMAP4rev2",
         Script()
             .send("* OK [CAPABILITY IMAP4rev2 AUTH=PLAIN SASL-IR] ready\r\n")
             .sendAfterLine("a1 OK [CAPABILITY IMAP4rev2] Logged in\r\n")
             .sendAfterLine("a2 OK Examined\r\n")
             .sendAfterLine("* ESEARCH (TAG \"a3\") COUNT 4\r\na3 OK\r\n")
             .sendAfterLine("+ idling\r\n")
             .stayQuiet(),
         {"AUTHENTICATE", "EXAMINE", "SEARCH", "IDLE"},
         Kind::Count},
        {"IDLE refused",
         UpToFirstIdle().sendAfterLine("a4 NO Not now\r\n").stayQuiet(),
         {"AUTHENTICATE", "EXAMINE", "SEARCH", "IDLE"},
         Kind::NoIdle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports_.clear();
        ScriptedServer server(c.script);
        Watch(server);
        ASSERT_TRUE(server.waitForLines(static_cast<int>(c.commands.size())));
        QList<QByteArray> words;
        for (const QByteArray& line : server.receivedLines())
            words << line.split(' ').value(1);
        EXPECT_EQ(words, c.commands);
        ASSERT_TRUE(WaitUntil([&] { return !reports_.empty() && reports_.back().kind == c.kind; }));
        if (c.kind == Kind::NoIdle) {
            EXPECT_TRUE(watcher_->Stopped());
            clock_.Advance(1h);
            EXPECT_FALSE(server.waitForConnections(2, 200)) << "a refused IDLE is retried";
        }
    }
}

TEST_F(ImapWatcherScripted, AServerWithoutIdleIsLeftAlone) {
    ScriptedServer server(Script()
                              .send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n")
                              .sendAfterLine("a1 OK [CAPABILITY IMAP4rev1 NAMESPACE] Logged in\r\n")
                              .sendAfterLine("* BYE\r\na2 OK Logout\r\n")
                              .closeConnection());
    Watch(server);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(reports_[0].kind, Kind::NoIdle);
    ASSERT_TRUE(server.waitForLines(2));
    EXPECT_EQ(server.receivedLines()[1], "a2 LOGOUT");
    ASSERT_TRUE(WaitUntil([&] { return watcher_->Stopped(); }));
    clock_.Advance(1h);
    EXPECT_FALSE(server.waitForConnections(2, 200));
    EXPECT_EQ(reports_.size(), 1u);
}

// BYE during IDLE drops the connection; the watcher comes back after the first back-off.
TEST_F(ImapWatcherScripted, ByeDuringIdleReconnectsAfterTheBackOff) {
    ScriptedServer server(UpToFirstIdle()
                              .sendAfterLine("+ idling\r\n")
                              .wait(50)
                              .send("* BYE Shutting down\r\n")
                              .closeConnection());
    Watch(server);
    ASSERT_TRUE(WaitForReports(2));
    EXPECT_EQ(reports_[1].kind, Kind::Dropped);
    EXPECT_EQ(reports_[1].reason, "The server ended the connection (BYE)");
    clock_.Advance(5s - 1ms);
    EXPECT_FALSE(server.waitForConnections(2, 100));
    clock_.Advance(1ms);
    EXPECT_TRUE(server.waitForConnections(2));
    ASSERT_TRUE(WaitForReports(3));
    EXPECT_EQ(reports_[2].kind, Kind::Count);
}

// A server that never answers DONE, and one whose IDLE continuation never comes, are given
// up after 60 seconds; nothing else happens before.
TEST_F(ImapWatcherScripted, SilenceAfterDoneOrIdleIsGivenUpAfterAMinute) {
    for (const bool continuation : {true, false}) {
        SCOPED_TRACE(continuation);
        reports_.clear();
        Script script = UpToFirstIdle();
        if (continuation)
            script.sendAfterLine("+ idling\r\n").wait(20).send("* 3 EXISTS\r\n");
        ScriptedServer server(script.stayQuiet());
        Watch(server);
        ASSERT_TRUE(server.waitForLines(4));
        ASSERT_TRUE(WaitForReports(1));
        if (continuation) {
            clock_.Advance(1s); // counts are a second apart
            ASSERT_TRUE(server.waitForLines(5));
        }
        clock_.Advance(59s);
        EXPECT_EQ(reports_.size(), 1u);
        clock_.Advance(1s);
        ASSERT_EQ(reports_.size(), 2u);
        EXPECT_EQ(reports_[1].kind, Kind::Dropped);
        EXPECT_EQ(reports_[1].reason, "The server did not answer within 60 seconds");
        EXPECT_TRUE(server.waitForClientClosed(1));
    }
}

// An imap:// watcher upgrades with STARTTLS before its log-in, through the check's session.
TEST_F(ImapWatcherScripted, UpgradesWithStartTlsBeforeTheLogIn) {
    const auto& files = test::TestCertificates::Shared();
    test::TrustTestCa trust(files);
    ScriptedServer server(
        Script()
            .send("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n")
            .sendAfterLine("a1 OK go\r\n")
            .startTls(files.serverCertFile(), files.serverKeyFile())
            .sendAfterLine("* CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN IDLE\r\na2 OK\r\n")
            .sendAfterLine("a3 OK [CAPABILITY IMAP4rev1 IDLE] Logged in\r\n")
            .sendAfterLine("* 2 EXISTS\r\na4 OK [READ-ONLY] Examined\r\n")
            .sendAfterLine("* SEARCH 1\r\na5 OK Search done\r\n")
            .stayQuiet());
    Watch(QStringLiteral("imap://127.0.0.1:%1").arg(server.port()));
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(reports_[0].count, 1) << reports_[0].reason.toStdString();
    EXPECT_EQ(Commands(server).mid(0, 3),
              QList<QByteArray>({"a1 STARTTLS", "a2 CAPABILITY", "a3 AUTHENTICATE PLAIN"}));
}

// 5 s doubling to 5 minutes while connections fail; a minute of good connection starts the
// doubling afresh.
TEST_F(ImapWatcherScripted, BackOffDoublesToFiveMinutesAndResetsAfterAGoodMinute) {
    quint16 refused;
    {
        ScriptedServer gone;
        refused = gone.port();
    }
    Watch(QStringLiteral("imap+insecure://127.0.0.1:%1").arg(refused));
    std::vector<std::chrono::milliseconds> waits;
    for (int attempt = 0; attempt < 8; ++attempt) {
        ASSERT_TRUE(WaitForReports(std::size_t(attempt) + 1));
        EXPECT_EQ(reports_.back().kind, Kind::AttemptFailed);
        waits.push_back(clock_.started.back());
        clock_.Advance(clock_.started.back());
    }
    EXPECT_EQ(waits,
              (std::vector<std::chrono::milliseconds>{5s, 10s, 20s, 40s, 80s, 160s, 300s, 300s}));
    EXPECT_EQ(reports_[0].reason, QStringLiteral("Connection refused (127.0.0.1:%1)").arg(refused));

    ScriptedServer server(UpToFirstIdle().sendAfterLine("+ idling\r\n").stayQuiet());
    reports_.clear();
    watcher_.reset();
    Watch(server);
    const auto dropAfter = [&](std::chrono::milliseconds good) {
        const std::size_t before = reports_.size();
        EXPECT_TRUE(
            WaitUntil([&] { return watcher_->CurrentStep() == ImapWatcher::Step::Idling; }));
        clock_.Advance(good);
        server.closeAll();
        EXPECT_TRUE(WaitUntil([&] { return reports_.size() > before + 1; }));
        EXPECT_EQ(reports_.back().kind, Kind::Dropped);
        const auto wait = clock_.started.back();
        clock_.Advance(wait);
        return wait;
    };
    EXPECT_EQ(dropAfter(0s), 5s);
    EXPECT_EQ(dropAfter(59s), 10s);
    EXPECT_EQ(dropAfter(60s), 5s);
}

// A certificate that cannot be verified fails the attempt with the reason; it is tried again
// after the back-off like any other failure.
TEST_F(ImapWatcherScripted, ATlsErrorFailsTheAttemptWithTheReason) {
    const auto& certificates = test::TestCertificates::Shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    QSslServer untrusted;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromPath(certificates.selfSignedCertFile()));
    QFile keyFile(certificates.selfSignedKeyFile());
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    untrusted.setSslConfiguration(tls);
    ASSERT_TRUE(untrusted.listen(QHostAddress::LocalHost));
    Watch(QStringLiteral("imaps://127.0.0.1:%1").arg(untrusted.serverPort()));
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(reports_[0].kind, Kind::AttemptFailed);
    EXPECT_TRUE(reports_[0].reason.startsWith("The certificate of 127.0.0.1 is not trusted: "))
        << reports_[0].reason.toStdString();
    EXPECT_EQ(clock_.started.back(), 5s);
    EXPECT_FALSE(watcher_->Stopped());
}

TEST_F(ImapWatcherScripted, ARefusedPasswordStopsTheWatcher) {
    ScriptedServer server(
        Script()
            .send(kGreeting)
            .sendAfterLine("a1 NO [AUTHENTICATIONFAILED] Authentication failed\r\n")
            .stayQuiet());
    Watch(server, "wrong");
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(reports_[0].kind, Kind::BadPassword);
    EXPECT_TRUE(watcher_->Stopped());
    clock_.Advance(1h);
    EXPECT_FALSE(server.waitForConnections(2, 200));
    watcher_->ReconnectNow(); // a resume does not wake a stopped watcher either
    EXPECT_FALSE(server.waitForConnections(2, 200));
}

} // namespace
} // namespace postlark
