// SPDX-License-Identifier: GPL-3.0-or-later
// A watched connection that dies without a word (a cable pulled, a router that forgot it) is
// noticed by the system's keep-alive probes, not after the 25-minute IDLE renewal. The server
// runs in a network namespace of its own, reached over a virtual link that the test takes down.
#include "FakePushClock.h"
#include "mail/push/ImapWatcher.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <unistd.h>

namespace postlark {
namespace {

using namespace std::chrono_literals;

int Ip(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("ip"), arguments);
}

TEST(ImapWatcherDeadConnection, ALinkGoneSilentIsNoticedByKeepAlive) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable("ip").isEmpty())
        GTEST_SKIP() << "needs root and iproute2 for a network namespace";
    const qint64 id = QCoreApplication::applicationPid() % 100000;
    const QString space = QStringLiteral("postlark-ka-%1").arg(id);
    const QString near = QStringLiteral("plka%1a").arg(id), far = QStringLiteral("plka%1b").arg(id);
    const QString subnet = QStringLiteral("10.231.%1.").arg(id % 250);
    ASSERT_EQ(Ip({"netns", "add", space}), 0);
    struct Cleanup {
        QString space, near;
        ~Cleanup() {
            Ip({"link", "del", near});
            Ip({"netns", "del", space});
        }
    } cleanup{space, near};
    ASSERT_EQ(Ip({"link", "add", near, "type", "veth", "peer", "name", far}), 0);
    ASSERT_EQ(Ip({"link", "set", far, "netns", space}), 0);
    ASSERT_EQ(Ip({"addr", "add", subnet + "1/30", "dev", near}), 0);
    ASSERT_EQ(Ip({"link", "set", near, "up"}), 0);
    ASSERT_EQ(Ip({"netns", "exec", space, "ip", "addr", "add", subnet + "2/30", "dev", far}), 0);
    ASSERT_EQ(Ip({"netns", "exec", space, "ip", "link", "set", far, "up"}), 0);

    QProcess server;
    server.start("ip", {"netns", "exec", space, POSTLARK_IDLE_SERVER});
    ASSERT_TRUE(server.waitForReadyRead(5000));
    const QString port = QString::fromLatin1(server.readLine().trimmed());

    test::TestEnvironment env;
    test::FakePushClock clock;
    std::vector<PushReport> reports;
    std::string key = BuildApplicationKey();
    PushTiming timing;
    timing.keepAliveIdle = 1s;
    timing.keepAliveInterval = 1s;
    ImapWatcher watcher(
        {"imap+insecure://" + subnet + "2:" + port, "alice",
         PassCryptModule::EncryptText("pw-1", key)},
        key, clock, [&](const PushReport& report) { reports.push_back(report); }, timing);
    watcher.Start();
    ASSERT_TRUE(test::XServer::waitUntil(
        [&] { return watcher.CurrentStep() == ImapWatcher::Step::Idling; }, 5000));

    // Nothing more crosses the link: no FIN, no RST, only silence.
    ASSERT_EQ(Ip({"netns", "exec", space, "ip", "link", "set", far, "down"}), 0);
    QElapsedTimer noticed;
    noticed.start();
    ASSERT_TRUE(test::XServer::waitUntil([&] { return reports.size() >= 2; }, 30000))
        << "never noticed";
    EXPECT_EQ(reports[1].kind, PushReport::Kind::Dropped);
    EXPECT_LT(noticed.elapsed(), 25000);
    server.kill();
    server.waitForFinished();
}

} // namespace
} // namespace postlark
