// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on a real X display with a window manager and, where it matters, a tray
// host: the tray icon's right-click menu and double click clicked with the real mouse, the
// window's size as the window manager sees it, and the new-mail alert without a tray. The
// window runs in a child program on the private display; this process drives the mouse and
// asks for its state.
#include "store/SettingsStore.h"
#include "support/ProbeProcess.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace postlark {
namespace {

using test::Ask;
using test::NextLine;
using test::XServer;

constexpr int kTimeoutMs = test::kProbeTimeoutMs;

class TrayMenuReal : public ::testing::Test {
protected:
    void SetUp() override {
        const XServer::Options options{.windowManager = true, .trayHost = true};
        if (const QString missing = XServer::missingPrograms(options); !missing.isEmpty())
            GTEST_SKIP() << missing.toStdString();
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "not installed: xdotool";
        x_ = std::make_unique<XServer>(options);
        ASSERT_TRUE(x_->failure().isEmpty()) << x_->failure().toStdString();
        SettingsStore::SaveValue("StartMinimized", "1");
    }
    void TearDown() override {
        if (probe_.state() != QProcess::NotRunning) {
            probe_.kill();
            probe_.waitForFinished(kTimeoutMs);
        }
    }

    // Starts the window hidden in the tray; returns its icon's X window.
    QString Start() {
        probe_.setProcessEnvironment(x_->environment());
        probe_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe_.start(POSTLARK_FORM_PROBE);
        if (NextLine(probe_) != "loaded")
            return {};
        QString icon;
        XServer::waitUntil(
            [&] {
                icon = Ask(probe_, "icon").section(' ', 1);
                return icon != "0" && InTray(icon);
            },
            kTimeoutMs);
        return icon;
    }
    bool InTray(const QString& window) const {
        return x_->run("xwininfo", {"-tree", "-id", x_->trayWindow()}).contains(window + " ");
    }
    void Mouse(const QStringList& arguments) { x_->run("xdotool", arguments); }
    void ClickIcon(const QString& icon, const QStringList& how) {
        Mouse(QStringList{"mousemove", "--window", icon, "8", "8", "click"} + how);
    }
    // Right-clicks the icon and returns the screen centres of the File menu's entries
    // (check, show, exit), or an empty list when no menu opened.
    QStringList OpenTrayMenu(const QString& icon) {
        ClickIcon(icon, {"3"});
        const QString line = NextLine(probe_);
        if (!line.startsWith("menu "))
            return {};
        return line.mid(5).split(' ');
    }
    void ClickAt(const QString& x, const QString& y) {
        Mouse({"mousemove", x, y});
        test::Pause(150);
        Mouse({"click", "1"});
    }
    // The fields of the window's state line: visible, show checked, icon shown, running, ...
    QStringList State() { return Ask(probe_, "state").split(' '); }
    bool WaitForState(int field, const QString& value) {
        return XServer::waitUntil(
            [&] {
                const QStringList s = State();
                return s.size() > field && s[field] == value;
            },
            kTimeoutMs);
    }

    test::TestEnvironment env_;
    std::unique_ptr<XServer> x_;
    QProcess probe_;
};

TEST_F(TrayMenuReal, ShowFromTheTrayMenuBringsTheWindowBackAndKeepsRunning) {
    const QString icon = Start();
    ASSERT_FALSE(icon.isEmpty());
    const QStringList menu = OpenTrayMenu(icon);
    ASSERT_EQ(menu.size(), 6);
    ClickAt(menu[2], menu[3]);
    EXPECT_TRUE(WaitForState(1, "1")) << "the window did not come back";
    test::Pause(500);
    ASSERT_EQ(probe_.state(), QProcess::Running) << "the program ended";
    const QStringList state = State();
    ASSERT_GE(state.size(), 4);
    EXPECT_EQ(state[2], "1"); // "Show" carries its check mark
    EXPECT_EQ(state[3], "0"); // and the icon is gone
}

TEST_F(TrayMenuReal, ExitFromTheTrayMenuEndsTheProgramNormally) {
    const QString icon = Start();
    ASSERT_FALSE(icon.isEmpty());
    const QStringList menu = OpenTrayMenu(icon);
    ASSERT_EQ(menu.size(), 6);
    ClickAt(menu[4], menu[5]);
    ASSERT_TRUE(probe_.waitForFinished(kTimeoutMs));
    EXPECT_EQ(probe_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe_.exitCode(), 0);
    EXPECT_NE(SettingsStore::GetValue("MainLeft", ""), "");
}

TEST_F(TrayMenuReal, DoubleClickBringsTheWindowBackWhileATrayStartedCheckWaits) {
    QTcpServer silent; // accepts connections and never says a word
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    SettingsStore::SaveValue("NumAccts", "1");
    SettingsStore::SaveValue("EmailAddress0", "quiet@example.org");
    SettingsStore::SaveValue("POP0", "127.0.0.1:" + std::to_string(silent.serverPort()));
    SettingsStore::SaveValue("UserName0", "quiet");

    const QString icon = Start();
    ASSERT_FALSE(icon.isEmpty());
    const QStringList menu = OpenTrayMenu(icon);
    ASSERT_EQ(menu.size(), 6);
    ClickAt(menu[0], menu[1]);
    ASSERT_TRUE(WaitForState(4, "1")) << "no check run started";

    test::Pause(800); // longer than a double-click interval
    ClickIcon(icon, {"--repeat", "2", "--delay", "60", "1"});
    EXPECT_TRUE(WaitForState(1, "1")) << "the double click was dropped";
    const QStringList state = State();
    ASSERT_GE(state.size(), 5);
    EXPECT_EQ(state[4], "1") << "the run should still be waiting for the server";
}

// Without a notification area the new-mail tray alert asks the window manager for attention.
TEST(AlertReal, WithoutANotificationAreaTheTrayAlertMarksTheWindowUrgent) {
    const XServer::Options options{.windowManager = true, .trayHost = false};
    if (const QString missing = XServer::missingPrograms(options); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    test::TestEnvironment env;
    XServer x(options);
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    SettingsStore::SaveValue("StartMinimized", "1"); // minimized, for want of a tray

    QProcess probe;
    probe.setProcessEnvironment(x.environment());
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(POSTLARK_FORM_PROBE);
    ASSERT_EQ(NextLine(probe), "loaded");
    test::Pause(500);
    ASSERT_EQ(Ask(probe, "alert"), "alert");
    const QStringList state = Ask(probe, "state").split(' ');
    ASSERT_EQ(state.size(), 7);
    EXPECT_EQ(state[5], "0") << "a flash timer was started with nothing to flash";
    EXPECT_TRUE(XServer::waitUntil(
        [&] {
            return x.run("xprop", {"-id", state[6], "_NET_WM_STATE"})
                .contains("_NET_WM_STATE_DEMANDS_ATTENTION");
        },
        kTimeoutMs));
    probe.kill();
    probe.waitForFinished(kTimeoutMs);
}

// Under a window manager the window opens with exactly the designed client area below its
// menu bar, and the window manager offers neither resizing nor maximizing.
TEST(WindowSizeReal, TheWindowOpensAtItsDesignedSizeAndKeepsIt) {
    const XServer::Options options{.windowManager = true, .trayHost = false};
    if (const QString missing = XServer::missingPrograms(options); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "not installed: xdotool";
    test::TestEnvironment env;
    XServer x(options);
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();

    QProcess probe;
    probe.setProcessEnvironment(x.environment());
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(POSTLARK_FORM_PROBE);
    ASSERT_EQ(NextLine(probe), "loaded");
    const QString window = Ask(probe, "state").section(' ', 6);
    ASSERT_TRUE(XServer::waitUntil(
        [&] {
            return x.run("xwininfo", {"-id", window}).contains("IsViewable");
        },
        kTimeoutMs));

    // Xvfb's screen has 96 dots per inch: 15 twips per pixel.
    const QStringList size = Ask(probe, "size").split(' ');
    ASSERT_EQ(size.size(), 6);
    EXPECT_EQ(size[3], QString::number(5535 / 15));
    EXPECT_EQ(size[4], QString::number(3870 / 15));
    EXPECT_EQ(size[1], size[3]);
    EXPECT_EQ(size[2].toInt(), size[5].toInt() + size[4].toInt());
    const QString shown = x.run("xwininfo", {"-id", window});
    EXPECT_TRUE(shown.contains("Width: " + size[1] + "\n") &&
                shown.contains("Height: " + size[2] + "\n"))
        << shown.toStdString();

    const QString actions = x.run("xprop", {"-id", window, "_NET_WM_ALLOWED_ACTIONS"});
    EXPECT_TRUE(actions.contains("_NET_WM_ACTION_MINIMIZE")) << actions.toStdString();
    EXPECT_FALSE(actions.contains("MAXIMIZE")) << actions.toStdString();
    EXPECT_FALSE(actions.contains("_NET_WM_ACTION_RESIZE")) << actions.toStdString();
    x.run("xdotool", {"windowsize", window, "640", "480"});
    test::Pause(300);
    EXPECT_EQ(Ask(probe, "size").split(' '), size);

    probe.kill();
    probe.waitForFinished(kTimeoutMs);
}

} // namespace
} // namespace postlark
