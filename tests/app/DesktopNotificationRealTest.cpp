// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop notification alert of the real program: the main window in a child program on a
// private X display with a tray host, a private session bus, and dunst as the notification
// server (or no server at all); POP3 servers scripted in this process.
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/NotificationServer.h"
#include "support/ProbeProcess.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::Ask;
using test::NextLine;
using test::NotificationServer;
using test::ScriptedServer;
using test::XServer;

constexpr int kTimeoutMs = test::kProbeTimeoutMs;

// A server that reports `count` messages to whoever logs in. It knows no CAPA, which a
// notification that names senders asks once per server and run (`capa`: still to be asked).
ScriptedServer::Script Mailbox(int count, bool capa = true) {
    ScriptedServer::Script script;
    script.send("+OK\r\n");
    if (capa)
        script.sendAfterLine("-ERR\r\n");
    return script.sendAfterLine("+OK\r\n")
        .sendAfterLine("+OK\r\n")
        .sendAfterLine(QByteArray("+OK ") + QByteArray::number(count) + " 100\r\n")
        .sendAfterLine("+OK\r\n")
        .closeConnection();
}

class DesktopNotificationRealTest : public ::testing::Test {
protected:
    void SetUp() override {
        POSTLARK_REQUIRE_PROGRAMS(XServer::missingPrograms(kOptions) +
                                  NotificationServer::missingPrograms());
        std::string key = BuildApplicationKey();
        int i = 0;
        for (const ScriptedServer* server : {&first_, &second_}) {
            AddAccount(i, AccountRecord{std::string(i == 0 ? "a" : "b") + "@example.org",
                                        "127.0.0.1:" + std::to_string(server->port()), "u",
                                        PassCryptModule::EncryptText("pw", key), ""});
            ++i;
        }
        SettingsStore::SaveValue("AlertMsg", "0");
        SettingsStore::SaveValue("AlertNotify", "1");
        SettingsStore::SaveValue("StartMinimized", "1");
    }
    // The window goes before the display and the bus it uses.
    void TearDown() override {
        if (probe_.state() != QProcess::NotRunning) {
            probe_.kill();
            probe_.waitForFinished(kTimeoutMs);
        }
        bus_.reset();
        x_.reset();
    }
    // A display with a tray host, and a bus with dunst on it or (`withServer` false) none.
    bool StartServers(bool withServer) {
        x_ = std::make_unique<XServer>(kOptions);
        EXPECT_TRUE(x_->failure().isEmpty()) << x_->failure().toStdString();
        if (!x_->failure().isEmpty())
            return false;
        bus_ = std::make_unique<NotificationServer>(withServer ? x_.get() : nullptr);
        EXPECT_TRUE(bus_->failure().isEmpty()) << bus_->failure().toStdString();
        return bus_->failure().isEmpty();
    }
    // Starts the window hidden in the tray.
    bool Start() {
        probe_.setProcessEnvironment(bus_->environment(x_->environment()));
        probe_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe_.start(POSTLARK_FORM_PROBE);
        return NextLine(probe_) == "loaded";
    }

    static constexpr XServer::Options kOptions{.windowManager = false, .trayHost = true};
    test::TestEnvironment env_;
    ScriptedServer first_{Mailbox(1)};
    ScriptedServer second_{Mailbox(0)};
    std::unique_ptr<XServer> x_;
    std::unique_ptr<NotificationServer> bus_;
    QProcess probe_;
};

TEST_F(DesktopNotificationRealTest, NewMailIsNotifiedOnceThenReplacedAndChoosingItShowsTheWindow) {
    ASSERT_TRUE(StartServers(true));
    NotificationServer& server = *bus_;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Ask(probe_, "state").startsWith("state 0 0 1")); // hidden in the tray

    ASSERT_EQ(Ask(probe_, "check"), "checked");
    ASSERT_TRUE(server.waitForReceived(1, kTimeoutMs));
    auto received = server.received();
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].appName, "Postlark");
    EXPECT_EQ(received[0].summary, "New mail");
    EXPECT_EQ(received[0].body, "a@example.org: 1 new");
    EXPECT_TRUE(received[0].picture);

    first_.setScript(Mailbox(1, false));
    second_.setScript(Mailbox(3, false));
    ASSERT_EQ(Ask(probe_, "check"), "checked");
    ASSERT_TRUE(server.waitForReceived(2, kTimeoutMs));
    received = server.received();
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[1].body, "a@example.org: 1 new\nb@example.org: 3 new");
    EXPECT_EQ(received[1].id, received[0].id)
        << "the second notification did not replace the first";

    ASSERT_TRUE(server.invokeDefaultAction());
    EXPECT_TRUE(XServer::waitUntil([&] { return Ask(probe_, "state").startsWith("state 1 1 0"); },
                                   kTimeoutMs))
        << "choosing the notification did not bring the window back";
}

TEST_F(DesktopNotificationRealTest, WithoutAServerTheOtherAlertsRunAndTheNoteComesOnce) {
    SettingsStore::SaveValue("AlertTray", "1");
    ASSERT_TRUE(StartServers(false)); // a session bus with no notification server on it
    ASSERT_TRUE(Start());

    ASSERT_EQ(Ask(probe_, "check"), "checked");
    EXPECT_TRUE(Ask(probe_, "state").startsWith("state 0 0 1 0 1")) << "the icon does not flash";
    EXPECT_TRUE(XServer::waitUntil(
        [&] { return Ask(probe_, "status") == "status Desktop notifications are not available."; },
        kTimeoutMs));

    // The next new mail says nothing more about it: the status bar keeps the check's line.
    first_.setScript(Mailbox(1, false));
    second_.setScript(Mailbox(0, false));
    ASSERT_EQ(Ask(probe_, "check"), "checked");
    test::Pause(1000);
    const QString status = Ask(probe_, "status");
    EXPECT_TRUE(status.startsWith("status Last Check: ")) << status.toStdString();
    EXPECT_TRUE(status.endsWith(", new messages.")) << status.toStdString();
    EXPECT_EQ(probe_.state(), QProcess::Running);
}

} // namespace
} // namespace postlark
