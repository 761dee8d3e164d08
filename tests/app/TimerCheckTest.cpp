// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic checking through the real main window: the tick handler called directly, and the
// real timer (shortened through its object) against a real Dovecot with nobody at the keys.
#include "app/PostlarkForm.h"
#include "mail/check/CheckRun.h"
#include "net/CNetConnect.h"
#include "platform/net/WinInet.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::DovecotServer;
using test::ScriptedServer;

ScriptedServer::Script NoMail() {
    return ScriptedServer::Script()
        .send("+OK ready\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK logged in\r\n")
        .sendAfterLine("+OK 0 0\r\n")
        .sendAfterLine("+OK bye\r\n")
        .closeConnection();
}

QString Address(const ScriptedServer& server) {
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

void StoreAccount(int index, const std::string& address, const QString& server,
                  const std::string& user, const std::string& password) {
    std::string key = BuildApplicationKey();
    AddAccount(index, AccountRecord{address, server.toStdString(), user,
                                    PassCryptModule::EncryptText(password, key), ""});
}

// Sleeps in an event loop until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

class TimerCheckTest : public ::testing::Test {
protected:
    void SetUp() override { win::SetNotificationAreaOverride(true); }
    void TearDown() override {
        form_.reset();
        win::SetConnectedStateSource({});
        win::SetNotificationAreaOverride(std::nullopt);
    }
    PostlarkForm& Load() {
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    QStringList Column(int column) {
        auto* list = form_->findChild<QTreeWidget*>("AccountList");
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }
    QString Status() { return form_->findChild<QStatusBar*>("StatusBar")->currentMessage(); }
    QTimer* TimerCheck() { return form_->findChild<QTimer*>("TimerCheck"); }
    // Starts the server and stores account 0 on it: user "full", two messages.
    void StoreFullAccount(DovecotServer& server) {
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
        StoreAccount(0, "full@example.org", QStringLiteral("127.0.0.1:%1").arg(server.port()),
                     "full", "pw-full");
    }
    // Runs what a tick left for after its return: the press of the check button.
    void DeliverPress() { QCoreApplication::sendPostedEvents(form_.get(), QEvent::MetaCall); }

    test::TestEnvironment env_;
    std::unique_ptr<PostlarkForm> form_;
};

// The real timer, its minute shortened: a silent server holds the run that a tick started, and
// the next tick skips it, so the account after it gets checked with nobody at the keys.
TEST_F(TimerCheckTest, TheNextRealTickSkipsAServerThatHoldsATimerRun) {
    ScriptedServer silent(ScriptedServer::Script().stayQuiet());
    ScriptedServer empty(NoMail());
    StoreAccount(0, "silent@example.org", Address(silent), "u", "p");
    StoreAccount(1, "empty@example.org", Address(empty), "u", "p");
    SettingsStore::SaveValue("AutoCheck", "1");
    SettingsStore::SaveValue("AutoCheckValue", "0"); // every minute
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    Load();
    ASSERT_TRUE(form_->TimerCheckEnabled());

    form_->Checker().TickSkipQuiet = std::chrono::milliseconds(200);
    TimerCheck()->setInterval(300);
    ASSERT_TRUE(WaitFor(
        [&] {
            return Column(1) == QStringList({"Failed", "No"});
        },
        10000))
        << Column(1).join(',').toStdString();
    TimerCheck()->stop();
    EXPECT_EQ(silent.connectionCount(), 1);
    EXPECT_GE(empty.connectionCount(), 1);
    auto* list = form_->findChild<QTreeWidget*>("AccountList");
    EXPECT_EQ(list->topLevelItem(0)->toolTip(1), "Skipped: the server had not answered");
    EXPECT_TRUE(ModalQuestionsAsked().empty());
}

// A tick during a run leaves an account whose server is answering: only a quiet one is skipped.
TEST_F(TimerCheckTest, ATickDuringARunLeavesAnAnsweringServerAlone) {
    ScriptedServer slow(ScriptedServer::Script()
                            .send("+OK ready\r\n")
                            .expectLine()
                            .wait(600)
                            .send("+OK\r\n")
                            .sendAfterLine("+OK logged in\r\n")
                            .sendAfterLine("+OK 3 30\r\n")
                            .sendAfterLine("+OK bye\r\n")
                            .closeConnection());
    StoreAccount(0, "slow@example.org", Address(slow), "u", "p");
    Load();
    QObject::connect(&slow, &ScriptedServer::connectionAccepted, form_.get(), [&] {
        QTimer::singleShot(300, form_.get(), [&] {
            form_->UpdateIntervalMins = 0;
            form_->TimerCheck_Timer();
        });
    });
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    form_->CheckButton_Click();
    EXPECT_EQ(Column(1), QStringList({"Yes, 3"}));
}

// The tick returns before the run it starts; the countdown is set afresh when the run has ended.
TEST_F(TimerCheckTest, ATickStartsTheRunAfterItHasReturned) {
    ScriptedServer empty(NoMail());
    StoreAccount(0, "empty@example.org", Address(empty), "u", "p");
    SettingsStore::SaveValue("AutoCheckValue", "4");
    Load();
    form_->UpdateIntervalMins = 0;
    form_->TimerCheck_Timer();
    EXPECT_EQ(empty.connectionCount(), 0);
    EXPECT_EQ(form_->UpdateIntervalMins, 0);
    DeliverPress();
    EXPECT_EQ(Column(1), QStringList({"No"}));
    EXPECT_EQ(form_->UpdateIntervalMins, 4);
}

TEST_F(TimerCheckTest, WithCheckConnectionOnlyAConnectedMachineChecks) {
    ScriptedServer empty(NoMail());
    ScriptedServer site(ScriptedServer::Script()
                            .expectLine()
                            .send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                            .closeConnection());
    StoreAccount(0, "empty@example.org", Address(empty), "u", "p");
    SettingsStore::SaveValue("AutoCheckValue", "3");
    SettingsStore::SaveValue("CheckConnection", "1");
    qputenv("no_proxy", "127.0.0.1");
    Load();
    form_->NetConn().KnownTestSites() = {QStringLiteral("http://127.0.0.1:%1/").arg(site.port())};

    // Not connected: no run, nothing on the screen changes, the countdown starts again.
    win::SetConnectedStateSource([](win::DWORD* flags) {
        *flags = 0;
        return win::FALSE_;
    });
    const QString before = Status();
    form_->UpdateIntervalMins = 0;
    form_->TimerCheck_Timer();
    DeliverPress();
    EXPECT_EQ(empty.connectionCount(), 0);
    EXPECT_EQ(Column(1), QStringList({""}));
    EXPECT_EQ(Status(), before);
    EXPECT_EQ(form_->UpdateIntervalMins, 3);

    // A LAN that reaches the test site: the tick checks.
    win::SetConnectedStateSource([](win::DWORD* flags) {
        *flags = win::INTERNET_CONNECTION_LAN;
        return win::TRUE_;
    });
    form_->UpdateIntervalMins = 0;
    form_->TimerCheck_Timer();
    DeliverPress();
    EXPECT_EQ(site.connectionCount(), 1);
    EXPECT_EQ(empty.connectionCount(), 1);
    EXPECT_EQ(Column(1), QStringList({"No"}));
    qunsetenv("no_proxy");
}

TEST_F(TimerCheckTest, ArmingAndDisarmingKeepsTheRunningMinute) {
    Load();
    QTimer* timer = TimerCheck();
    EXPECT_EQ(timer->interval(), 60000);
    form_->SetTimerCheckEnabled(true);
    EXPECT_TRUE(form_->TimerCheckEnabled());
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    const int left = timer->remainingTime();
    form_->SetTimerCheckEnabled(true); // already armed: the minute is not restarted
    EXPECT_LE(timer->remainingTime(), left);
    form_->SetTimerCheckEnabled(false);
    EXPECT_FALSE(form_->TimerCheckEnabled());
}

TEST_F(TimerCheckTest, TheRealTimerChecksAndAlertsWithNobodyAtTheKeys) {
    QString why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why.toStdString();
    DovecotServer server(QList<test::DovecotUser>{{"full", "pw-full", 2}});
    StoreFullAccount(server);
    SettingsStore::SaveValue("AutoCheck", "1");
    SettingsStore::SaveValue("AutoCheckValue", "1");
    ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    Load();
    ASSERT_TRUE(form_->TimerCheckEnabled());
    EXPECT_EQ(form_->UpdateIntervalMins, 1);

    // Minutes become a quarter of a second; the program's own interval stays a minute.
    QElapsedTimer clock;
    clock.start();
    TimerCheck()->setInterval(250);
    ASSERT_TRUE(WaitFor([&] { return !ModalQuestionsAsked().empty(); }, 10000));
    EXPECT_GE(clock.elapsed(), 450) << "the first check comes on the second tick";
    EXPECT_EQ(Column(1), QStringList({"Yes, 2"}));
    EXPECT_EQ(ModalQuestionsAsked()[0].prompt,
              "You have new mail in accounts:\r\nfull@example.org\r\n");
    EXPECT_EQ(ModalQuestionsAsked()[0].title, "Mail Notification - Postlark");
    EXPECT_TRUE(Status().endsWith(", new messages.")) << Status().toStdString();
}

// The check at start against a real Dovecot: with automatic checking or push on it comes at
// once, also when the window starts hidden in the tray, before any tick; with both off nothing
// is checked.
TEST_F(TimerCheckTest, CheckAtStartChecksOnceRightAfterLoadingWithAutomaticCheckingOrPush) {
    QString why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why.toStdString();
    DovecotServer server(QList<test::DovecotUser>{{"full", "pw-full", 2}});
    StoreFullAccount(server);
    SettingsStore::SaveValue("AlertMsg", "0");
    SettingsStore::SaveValue("CheckAtStart", "1");
    SettingsStore::SaveValue("AutoCheckValue", "5");
    SettingsStore::SaveValue("StartMinimized", "1");

    // Neither automatic checking nor push: the option does nothing.
    SettingsStore::SaveValue("ImapPush", "0");
    Load();
    EXPECT_TRUE(Column(1) == QStringList({""})) << "checked before the window had loaded";
    EXPECT_FALSE(WaitFor([&] { return Column(1) != QStringList({""}); }, 1500));
    form_.reset();

    for (const char* on : {"ImapPush", "AutoCheck"}) {
        form_.reset();
        SettingsStore::SaveValue(on, "1");
        Load();
        ASSERT_FALSE(form_->isVisible()); // hidden in the tray
        EXPECT_TRUE(Column(1) == QStringList({""})) << "checked before the window had loaded";
        ASSERT_TRUE(WaitFor([&] { return Column(1) == QStringList({"Yes, 2"}); }, 10000))
            << on << Column(1).join(',').toStdString();
        EXPECT_TRUE(Status().endsWith(", new messages.")) << Status().toStdString();
        SettingsStore::SaveValue("ImapPush", "0");
    }
    EXPECT_GT(TimerCheck()->remainingTime(), 30000) << "the check came from a tick";
    EXPECT_EQ(form_->UpdateIntervalMins, 5); // the first tick's check is still five minutes off
}

} // namespace
} // namespace postlark
