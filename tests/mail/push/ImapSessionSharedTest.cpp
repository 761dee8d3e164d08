// SPDX-License-Identifier: GPL-3.0-or-later
// The check and the push watcher go through one IMAP session up to the log-in: the same scripted
// server, run once against each, gets the same judgement from both.
#include "FakePushClock.h"
#include "ProbeHarness.h"
#include "mail/push/ImapWatcher.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "support/ScriptedServer.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using test::ScriptedServer;
using Script = ScriptedServer::Script;

QString Field(const ScriptedServer& server) {
    return QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server.port());
}

// Runs the watcher until its first report (at most 3 s).
std::optional<PushReport> FirstReport(const ScriptedServer& server) {
    test::FakePushClock clock;
    std::optional<PushReport> first;
    std::string key = BuildApplicationKey();
    ImapWatcher watcher({Field(server), "alice", PassCryptModule::EncryptText("pw-1", key)}, key,
                        clock, [&](const PushReport& report) {
                            if (!first)
                                first = report;
                        });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (first)
            loop.quit();
    });
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    poll.start(5);
    watcher.Start();
    loop.exec();
    return first;
}

struct SharedCase {
    const char* name;
    Script script;
    int checkResult;           // -2 failed, 1 new mail
    QString reason;            // the check's reason, and the watcher's for a failure
    PushReport::Kind pushKind; // the watcher's first report
    QList<QByteArray> check;   // the commands of the check, then of the watcher
    QList<QByteArray> watcher;
};

TEST(ImapSessionShared, CheckAndPushJudgeTheLogInAlike) {
    const QByteArray greeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN IDLE] ready\r\n";
    const SharedCase cases[] = {
        // An untagged BAD (the server could not tell which command it meant) ends the attempt.
        {"untagged BAD during the log-in",
         Script().send(greeting).sendAfterLine("* BAD line too long\r\n").stayQuiet(),
         -2,
         "The server refused a command as malformed (BAD)",
         PushReport::Kind::AttemptFailed,
         {"a1 AUTHENTICATE"},
         {"a1 AUTHENTICATE"}},
        // PREAUTH without capabilities: ask for them before going on. The replies suit both:
        // the check takes the STATUS, the watcher the EXAMINE's OK and the SEARCH.
        {"PREAUTH without a capability code",
         Script()
             .send("* PREAUTH welcome back\r\n")
             .sendAfterLine("* CAPABILITY IMAP4rev1 IDLE\r\na1 OK done\r\n")
             .sendAfterLine("* STATUS INBOX (UNSEEN 2)\r\na2 OK done\r\n")
             .sendAfterLine("* SEARCH 1 2\r\na3 OK done\r\n")
             .stayQuiet(),
         1,
         "",
         PushReport::Kind::Count,
         {"a1 CAPABILITY", "a2 STATUS", "a3 LOGOUT"},
         {"a1 CAPABILITY", "a2 EXAMINE", "a3 SEARCH"}},
    };
    for (const SharedCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The first two words of each command: the credentials stay out of the comparison.
        auto commands = [](const ScriptedServer& server, qsizetype count) {
            QList<QByteArray> words;
            for (const QByteArray& line : server.receivedLines().mid(0, count))
                words << line.split(' ').mid(0, 2).join(' ');
            return words;
        };
        ScriptedServer checked(c.script);
        test::ProbeHarness harness;
        harness.StoreAccount(Field(checked).toStdString(), "alice", "pw-1");
        harness.Run(Field(checked));
        EXPECT_EQ(harness.Result(), c.checkResult);
        EXPECT_EQ(harness.ImapReason(), c.reason);
        EXPECT_EQ(commands(checked, c.check.size()), c.check);

        ScriptedServer watched(c.script);
        const std::optional<PushReport> report = FirstReport(watched);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->kind, c.pushKind);
        EXPECT_EQ(report->reason, c.reason);
        EXPECT_EQ(report->count, c.pushKind == PushReport::Kind::Count ? 2 : 0);
        watched.waitForLines(static_cast<int>(c.watcher.size()), 1000);
        EXPECT_EQ(commands(watched, c.watcher.size()), c.watcher);
    }
}

} // namespace
} // namespace postlark
