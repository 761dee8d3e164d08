// SPDX-License-Identifier: GPL-3.0-or-later
// The main window under a real window manager and tray host (openbox and trayer on a private
// Xvfb display, driven by xdotool): the title bar's minimize hides it to the tray, the tray
// icon's double click brings it back, and the system menu (the window's context menu) opens
// the About box and restores and closes the window as usual. The window runs in a child
// process (tools/form_probe.cpp); this process drives it and looks at the X server.
#include "store/SettingsStore.h"
#include "support/ChildExit.h"
#include "support/ProbeProcess.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::Ask;
using test::NextLine;
using test::Pause;
using test::XServer;

constexpr int kTimeoutMs = test::kProbeTimeoutMs;
const XServer::Options kOptions{.windowManager = true, .trayHost = true};

class SystemMenuRealTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (XServer::missingPrograms(kOptions).isEmpty() &&
            !QStandardPaths::findExecutable("xdotool").isEmpty())
            x = std::make_unique<XServer>(kOptions);
    }
    static void TearDownTestSuite() { x.reset(); }

    void SetUp() override {
        if (const QString missing = XServer::missingPrograms(kOptions); !missing.isEmpty())
            GTEST_SKIP() << missing.toStdString();
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "not installed: xdotool";
        ASSERT_TRUE(x && x->failure().isEmpty()) << (x ? x->failure().toStdString() : "");
        probe.setProcessEnvironment(x->environment()); // with this test's settings folder
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(POSTLARK_SYSMENU_PROBE);
        const QString line = NextLine(probe);
        ASSERT_TRUE(line.startsWith("window ")) << line.toStdString();
        window = line.mid(7);
        ASSERT_TRUE(Settles([&] { return Shown(); }))
            << MapState().toStdString() << " " << WmState().toStdString();
    }

    void TearDown() override {
        if (probe.state() != QProcess::NotRunning) {
            probe.write("quit\n");
            if (probe.waitForFinished(kTimeoutMs))
                EXPECT_TRUE(test::ExitedCleanly(probe));
            else
                probe.kill();
        }
    }

    static bool Settles(const std::function<bool()>& done) {
        return XServer::waitUntil(done, kTimeoutMs);
    }
    QString MapState() const {
        static const QRegularExpression state("Map State: (\\w+)");
        return state.match(x->run("xwininfo", {"-id", window})).captured(1);
    }
    // "Normal", "Iconic", or empty once the window manager has let go of the window.
    QString WmState() const {
        static const QRegularExpression state("window state: (\\w+)");
        return state.match(x->run("xprop", {"-id", window, "WM_STATE"})).captured(1);
    }
    bool Shown() const { return MapState() == "IsViewable" && WmState() == "Normal"; }
    bool Withdrawn() const {
        const QString s = WmState();
        return MapState() == "IsUnMapped" && s != "Iconic" && s != "Normal";
    }
    bool InTray(const QString& icon) const {
        const QRegularExpression id("\\b" + QRegularExpression::escape(icon) + "\\b");
        return x->run("xwininfo", {"-tree", "-id", x->trayWindow()}).contains(id);
    }
    QString Modal() { return Ask(probe, "modal"); }

    // Opens the system menu over the account list and chooses an item by its access key.
    void SystemMenu(const char* key) {
        x->run("xdotool", {"mousemove", "--window", window, "100", "80", "click", "3"});
        Pause(400);
        x->run("xdotool", {"key", key});
    }

    static std::unique_ptr<XServer> x;
    test::TestEnvironment env;
    QProcess probe;
    QString window;
};

std::unique_ptr<XServer> SystemMenuRealTest::x;

// state: visible, minimized, maximized, Show checked, tray icon shown
const QString kShown = "state 1 0 0 1 0";
const QString kInTray = "state 0 0 0 0 1";

TEST_F(SystemMenuRealTest, MinimizeHidesToTheTrayAndADoubleClickOnTheIconBringsItBack) {
    x->run("xdotool", {"windowminimize", window});
    EXPECT_TRUE(Settles([&] { return Withdrawn(); })) << WmState().toStdString();
    Pause(300);
    EXPECT_TRUE(Withdrawn()); // and it stays hidden, not iconified
    // No "default" line first: the window's own procedure never saw the minimize.
    EXPECT_EQ(Ask(probe, "state"), kInTray);

    const QString icon = Ask(probe, "icon").mid(5);
    ASSERT_NE(icon, "0");
    EXPECT_TRUE(Settles([&] { return InTray(icon); }));
    x->run("xdotool", {"mousemove", "--window", icon, "8", "8", "click", "--repeat", "2", "--delay",
                       "60", "1"});
    EXPECT_TRUE(Settles([&] { return Shown(); })) << WmState().toStdString();
    EXPECT_EQ(Ask(probe, "state"), kShown);

    // The system menu's Minimize does the same.
    SystemMenu("n");
    EXPECT_TRUE(Settles([&] { return Withdrawn(); })) << WmState().toStdString();
    EXPECT_EQ(Ask(probe, "state"), kInTray);
}

TEST_F(SystemMenuRealTest, AboutItemOpensTheAboutBoxAndLeavesTheWindowAsItWas) {
    SystemMenu("a");
    EXPECT_TRUE(Settles([&] { return Modal() == "modal AboutForm"; }));
    EXPECT_TRUE(Shown());
    EXPECT_EQ(Ask(probe, "state"), kShown);

    x->run("xdotool", {"key", "Return"}); // OK
    EXPECT_TRUE(Settles([&] { return Modal() == "modal -"; }));
    EXPECT_TRUE(Shown());
}

TEST_F(SystemMenuRealTest, RestoreMoveAndCloseReachTheWindowUnchanged) {
    EXPECT_EQ(Ask(probe, "maximize"), "ok");
    EXPECT_TRUE(Settles([&] { return Ask(probe, "state") == "state 1 0 1 1 0"; }));

    SystemMenu("r");
    EXPECT_EQ(NextLine(probe), "default 274 61728"); // SC_RESTORE
    EXPECT_TRUE(Settles([&] { return Ask(probe, "state") == kShown; }));

    probe.write("move\n");
    EXPECT_EQ(NextLine(probe), "default 274 61456"); // SC_MOVE
    EXPECT_EQ(NextLine(probe), "ok");

    SettingsStore::SaveValue("MainLeft", "-1");
    SystemMenu("c");
    EXPECT_EQ(NextLine(probe), "default 274 61536"); // SC_CLOSE
    EXPECT_EQ(NextLine(probe), "unloaded");
    EXPECT_TRUE(Settles([&] { return probe.state() == QProcess::NotRunning; }));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
    // The program went through its shut-down: the window position was stored.
    EXPECT_NE(SettingsStore::GetValue("MainLeft", "-1"), "-1");
}

} // namespace
} // namespace postlark
