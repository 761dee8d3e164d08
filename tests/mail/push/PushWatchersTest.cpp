// SPDX-License-Identifier: GPL-3.0-or-later
// The push watchers' owner against scripted servers, with a clock the test advances: which
// accounts are watched, a resume or a new network connection reconnecting at once, the alert
// rule, and results held while a check runs.
#include "mail/push/PushWatchers.h"
#include "FakePushClock.h"
#include "mail/push/PushView.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using namespace std::chrono_literals;
using test::FakePushClock;
using test::ScriptedServer;
using Script = ScriptedServer::Script;

// Rows as the main window has them, and the alerts raised.
class FakeView : public PushView {
public:
    int AccountRowCount() const override { return int(addresses.size()); }
    QString AccountRowText(int row) const override { return addresses.value(row); }
    QString NewMailCell(int row) const override { return cells.value(row); }
    void SetNewMailText(int row, const QString& text) override { cells[row] = text; }
    void SetNewMailToolTip(int row, const QString& tip) override { tips[row] = tip; }
    bool CheckRunning() const override { return running; }
    void PushGotMail(const std::vector<std::int16_t>& results) override {
        alerts.push_back(results);
    }
    void PushLanded() override {}

    QStringList addresses;
    QMap<int, QString> cells, tips;
    bool running = false;
    std::vector<std::vector<std::int16_t>> alerts;
};

// A server with IDLE whose count is the number of SEARCH results it is given, one per
// connection: each connection counts once and waits in IDLE; "* n EXISTS" comes on demand.
Script Counting(const QByteArray& search) {
    return Script()
        .send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN IDLE] ready\r\n")
        .sendAfterLine("a1 OK [CAPABILITY IMAP4rev1 IDLE] Logged in\r\n")
        .sendAfterLine("a2 OK [READ-ONLY] Examined\r\n")
        .sendAfterLine("* SEARCH" + search + "\r\na3 OK\r\n")
        .sendAfterLine("+ idling\r\n")
        .stayQuiet();
}

class PushWatchersTest : public ::testing::Test {
protected:
    void SetUp() override {
        watchers_ = std::make_unique<PushWatchers>(
            view_, key_, clock_, [this] { return present_; },
            WakeWatch::Clock{[this] { return wall_; }, [this] { return clock_.Now(); }});
    }
    void Store(int index, const std::string& address, const QString& server) {
        AddAccount(index, AccountRecord{address, server.toStdString(), "u",
                                        PassCryptModule::EncryptText("pw", key_), ""});
        view_.addresses << QString::fromStdString(address);
    }
    static QString Field(const ScriptedServer& server) {
        return QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server.port());
    }
    template <typename Condition> static bool WaitUntil(Condition condition) {
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
    bool WaitUntilIdling(int account) {
        return WaitUntil([&] {
            const ImapWatcher* watcher = watchers_->Watcher(account);
            return watcher && watcher->CurrentStep() == ImapWatcher::Step::Idling;
        });
    }
    static void Sleep(int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // A minute passes for both clocks, the wall clock `slept` more.
    void Minute(std::chrono::milliseconds slept = 0ms) {
        wall_ += 1min + slept;
        clock_.Advance(1min);
    }

    test::TestEnvironment env_;
    std::string key_ = BuildApplicationKey();
    FakePushClock clock_;
    std::chrono::milliseconds wall_{1'800'000'000'000};
    bool present_ = true;
    FakeView view_;
    std::unique_ptr<PushWatchers> watchers_;
};

TEST_F(PushWatchersTest, WatchesImapAccountsOnlyAndOnlyWhileTheSettingIsOn) {
    ScriptedServer imap(Counting(" 1"));
    Store(0, "pop@example.org", "pop3://127.0.0.1:1");
    Store(1, "imap@example.org", Field(imap));
    watchers_->Sync();
    EXPECT_EQ(watchers_->Watched(), std::vector<int>{1});
    ASSERT_TRUE(WaitUntil([&] { return view_.cells.value(1) == "Yes, 1"; }));
    EXPECT_EQ(view_.cells.value(0), "");
    EXPECT_TRUE(view_.alerts.empty()) << "the first count only fills the row";

    SettingsStore::SaveValue("ImapPush", "0");
    watchers_->Sync();
    EXPECT_TRUE(watchers_->Watched().empty());
    EXPECT_TRUE(imap.waitForClientClosed(1));
}

// After a resume (the wall clock ran ahead) or when a connection comes up where there was none,
// every watcher reconnects at once instead of waiting for a failure to show.
TEST_F(PushWatchersTest, AResumeOrANewConnectionReconnectsAtOnce) {
    ScriptedServer imap(Counting(" 1"));
    Store(0, "imap@example.org", Field(imap));
    watchers_->Sync();
    ASSERT_TRUE(WaitUntilIdling(0));
    Minute();
    Minute();
    EXPECT_FALSE(imap.waitForConnections(2, 100));
    Minute(10min);
    EXPECT_TRUE(imap.waitForConnections(2));
    present_ = false;
    Minute();
    EXPECT_FALSE(imap.waitForConnections(3, 100));
    present_ = true;
    Minute();
    EXPECT_TRUE(imap.waitForConnections(3));
}

// A count up from what the row shows alerts; a result for a row that now shows another account,
// or that came while a check was running, waits or goes nowhere.
TEST_F(PushWatchersTest, AlertsOnlyForMoreAndHoldsResultsDuringARun) {
    ScriptedServer imap(Counting(" 1 2"));
    Store(0, "imap@example.org", Field(imap));
    view_.cells[0] = "Yes, 1"; // a check's count
    view_.running = true;
    watchers_->Sync();
    ASSERT_TRUE(WaitUntilIdling(0));
    Sleep(50);
    EXPECT_EQ(view_.cells.value(0), "Yes, 1") << "nothing lands during a run";
    view_.running = false;
    watchers_->Land();
    EXPECT_EQ(view_.cells.value(0), "Yes, 2");
    ASSERT_EQ(view_.alerts.size(), 1u);
    EXPECT_EQ(view_.alerts[0], std::vector<std::int16_t>{1});

    // The row now shows another account: the reconnected watcher's count lands nowhere.
    imap.setScript(Counting(" 1 2 3"));
    view_.addresses[0] = "someone.else@example.org";
    watchers_->ReconnectAll();
    ASSERT_TRUE(imap.waitForConnections(2));
    ASSERT_TRUE(WaitUntilIdling(0));
    Sleep(50);
    EXPECT_EQ(view_.cells.value(0), "Yes, 2");
    EXPECT_EQ(view_.alerts.size(), 1u);
}

// A refused password is tried again only after a check by hand that was not refused too; a list
// reload keeps a stopped watcher and shows its result again. After a good check by hand a watcher
// waiting out a back-off reconnects at once. Without IDLE the check's cell stays, with a tool tip.
TEST_F(PushWatchersTest, WhatMakesAWatcherConnectAgainAndWhatTheRowShows) {
    const QByteArray greeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n";
    const Script refused = Script().send(greeting).sendAfterLine("a1 NO Failed.\r\n").stayQuiet();
    const Script noIdle = Script()
                              .send(greeting)
                              .sendAfterLine("a1 OK [CAPABILITY IMAP4rev1] Logged in\r\n")
                              .stayQuiet();
    const Script failing = Script().closeConnection();
    const int reload = 9; // else the result of a check by hand
    const struct {
        Script script;
        int then, connections;
        QString cell;
    } cases[] = {{refused, reload, 1, "Bad Password"}, {refused, -1, 1, "Bad Password"},
                 {refused, 0, 2, "Bad Password"},      {failing, 1, 2, "Failed"},
                 {failing, -2, 1, "Failed"},           {noIdle, 0, 1, "Yes, 4"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cell.toStdString() + " " + std::to_string(c.then));
        ScriptedServer server(c.script);
        view_ = FakeView();
        SettingsStore::SaveValue(NumAcctsKey, "0");
        Store(0, "imap@example.org", Field(server));
        view_.cells[0] = "Yes, 4"; // a check's count
        SetUp();
        watchers_->Sync();
        ASSERT_TRUE(WaitUntil([&] { return !view_.tips.value(0).isEmpty(); }));
        if (c.then == reload) {
            view_.cells.clear();
            view_.tips.clear();
            watchers_->Sync();
        } else {
            watchers_->CheckedByHand(0, std::int16_t(c.then));
        }
        server.waitForConnections(c.connections, c.connections > 1 ? 3000 : 200);
        EXPECT_EQ(server.connectionCount(), c.connections);
        EXPECT_TRUE(WaitUntil([&] { return view_.cells.value(0) == c.cell; }));
    }
}

} // namespace
} // namespace postlark
