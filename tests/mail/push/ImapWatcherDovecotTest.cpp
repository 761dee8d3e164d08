// SPDX-License-Identifier: GPL-3.0-or-later
// Folders of a real Dovecot server: one named beyond ASCII, counted by the check and watched
// by a watcher that reads the headers of what arrives before it reports the count; and one
// that does not exist, which fails with its name and waits out the back-off.
#include "FakeNewMessageReader.h"
#include "FakePushClock.h"
#include "ProbeHarness.h"
#include "mail/push/ImapWatcher.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "support/DovecotServer.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using namespace std::chrono_literals;

const QString kFolder = QStringLiteral(".Listen.Entw&APw-rfe"); // in the maildir

QByteArray Message(int number) {
    const QByteArray n = QByteArray::number(number);
    return "From: Arrival <a@example.com>\r\nTo: folder@example.com\r\nSubject: Post " + n +
           "\r\nMessage-ID: <" + n + "@postlark.test>\r\n\r\nBody\r\n";
}

template <typename Condition> bool WaitUntil(Condition condition) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    poll.start(10);
    if (!condition())
        loop.exec();
    return condition();
}

TEST(ImapWatcherDovecot, AFolderBeyondAsciiIsCountedAndWatched) {
    QString why;
    if (!test::DovecotServer::Available(&why))
        GTEST_SKIP() << why.toStdString();
    test::DovecotServer::Options options;
    options.users = {{"folder", "pw-folder", 0, 0}};
    options.imap = true;
    test::DovecotServer server(options);
    ASSERT_TRUE(server.start(&why)) << why.toStdString();
    ASSERT_TRUE(server.deliverTo("folder", kFolder, Message(1)));
    const QString field =
        QStringLiteral("imap+insecure://127.0.0.1:%1/Listen/Entw%C3%BCrfe").arg(server.imapPort());
    const QString missing = field + u'x';

    test::ProbeHarness check;
    check.StoreAccount(field.toStdString(), "folder", "pw-folder");
    check.Run(field);
    EXPECT_EQ(check.Result(), 1);
    EXPECT_EQ(check.Count(), "1");
    check.StoreAccount(missing.toStdString(), "folder", "pw-folder");
    check.Run(missing);
    EXPECT_EQ(check.Result(), -2);
    EXPECT_EQ(check.ImapReason(), QStringLiteral("No such mailbox: Listen/Entwürfex"));

    std::string key = BuildApplicationKey();
    const PushAccount account{field, "folder", PassCryptModule::EncryptText("pw-folder", key)};
    test::FakePushClock clock;
    test::FakeNewMessageReader reader;
    std::vector<PushReport> reports;
    std::vector<int> readBefore; // the reader's answers when each report came
    ImapWatcher watcher(account, key, clock, [&](const PushReport& report) {
        reports.push_back(report);
        readBefore.push_back(reader.answers);
    });
    watcher.SetNewMessageReader(&reader, 7);
    watcher.Start();
    ASSERT_TRUE(WaitUntil([&] { return watcher.CurrentStep() == ImapWatcher::Step::Idling; }));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].count, 1);
    ASSERT_EQ(reader.headers.size(), 1u);
    EXPECT_TRUE(reader.headers[0].header.contains("Subject: Post 1\r\n"));
    EXPECT_EQ(reader.accounts, (std::vector<std::int16_t>{7, 7}));

    clock.Advance(1s); // counts are a second apart
    ASSERT_TRUE(server.deliverTo("folder", kFolder, Message(2)));
    ASSERT_TRUE(WaitUntil([&] { return reports.size() >= 2; }));
    EXPECT_EQ(reports[1].count, 2);
    ASSERT_EQ(reader.headers.size(), 2u);
    EXPECT_TRUE(reader.headers[1].header.contains("Subject: Post 2\r\n"));
    EXPECT_EQ(readBefore, (std::vector<int>{1, 2})) << "the headers come before the count";

    test::FakePushClock otherClock;
    std::vector<PushReport> failures;
    ImapWatcher lost({missing, account.user, account.storedPassword}, key, otherClock,
                     [&](const PushReport& report) { failures.push_back(report); });
    lost.Start();
    ASSERT_TRUE(WaitUntil([&] { return !failures.empty(); }));
    EXPECT_EQ(failures[0].kind, PushReport::Kind::AttemptFailed);
    EXPECT_EQ(failures[0].reason, QStringLiteral("No such mailbox: Listen/Entwürfex"));
    EXPECT_EQ(otherClock.started.back(), 5s) << "tried again after the back-off";
}

} // namespace
} // namespace postlark
