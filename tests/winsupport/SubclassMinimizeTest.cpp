// SPDX-License-Identifier: GPL-3.0-or-later
// A real minimize under a real window manager (openbox on a private Xvfb display, driven by
// xdotool) reaches a subclass handler as WM_SYSCOMMAND/SC_MINIMIZE. The window runs in a child
// process (tools/minimize_probe.cpp); this process drives it and looks at the X server.
#include "support/ChildExit.h"
#include "support/ProbeProcess.h"
#include "support/XServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <memory>

using postlark::test::Ask;
using postlark::test::NextLine;
using postlark::test::Pause;
using postlark::test::XServer;

namespace {

constexpr int kTimeoutMs = postlark::test::kProbeTimeoutMs;
const XServer::Options kOptions{.windowManager = true, .trayHost = false};

class SubclassMinimizeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!XServer::missingPrograms(kOptions, {"xdotool"}).isEmpty())
            return;
        x = std::make_unique<XServer>(kOptions);
    }
    static void TearDownTestSuite() { x.reset(); }

    void SetUp() override {
        POSTLARK_REQUIRE_PROGRAMS(XServer::missingPrograms(kOptions, {"xdotool"}));
        ASSERT_TRUE(x && x->failure().isEmpty()) << (x ? x->failure().toStdString() : "");
    }

    void TearDown() override {
        if (probe.state() != QProcess::NotRunning) {
            probe.write("quit\n");
            if (probe.waitForFinished(kTimeoutMs))
                EXPECT_TRUE(postlark::test::ExitedCleanly(probe));
            else
                probe.kill();
        }
    }

    // Starts the probe in a mode and returns its window once the window manager shows it.
    QString Start(const char* mode) {
        probe.setProcessEnvironment(x->environment());
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(POSTLARK_MINIMIZE_PROBE, {mode});
        const QString line = NextLine(probe);
        if (!line.startsWith("window "))
            return {};
        const QString window = line.mid(7);
        XServer::waitUntil([&] { return MapState(window) == "IsViewable"; }, kTimeoutMs);
        return window;
    }

    static QString MapState(const QString& window) {
        static const QRegularExpression state("Map State: (\\w+)");
        return state.match(x->run("xwininfo", {"-id", window})).captured(1);
    }

    // "Normal", "Iconic", "Withdrawn", or empty when the window manager has let go of it.
    static QString WmState(const QString& window) {
        static const QRegularExpression state("window state: (\\w+)");
        return state.match(x->run("xprop", {"-id", window, "WM_STATE"})).captured(1);
    }

    void Minimize(const QString& window) { x->run("xdotool", {"windowminimize", window}); }

    static std::unique_ptr<XServer> x;
    QProcess probe;
};

std::unique_ptr<XServer> SubclassMinimizeTest::x;

} // namespace

TEST_F(SubclassMinimizeTest, ConsumingHandlerHidesTheWindowInsteadOfMinimizingIt) {
    const QString window = Start("hide");
    ASSERT_FALSE(window.isEmpty());
    ASSERT_EQ(MapState(window), "IsViewable");

    Minimize(window);
    EXPECT_EQ(NextLine(probe), "syscommand 61472");
    const auto withdrawn = [&] {
        const QString s = WmState(window);
        return MapState(window) == "IsUnMapped" && s != "Iconic" && s != "Normal";
    };
    EXPECT_TRUE(XServer::waitUntil(withdrawn, kTimeoutMs)) << WmState(window).toStdString();
    Pause(300);
    EXPECT_TRUE(withdrawn()); // and it stays hidden
    // The previous procedure never saw the command (it would have printed "default ...").
    EXPECT_EQ(Ask(probe, "state"), "state 0 0");

    // Shown again, the window comes back normal, not iconified.
    EXPECT_EQ(Ask(probe, "show"), "state 0 1");
    EXPECT_TRUE(XServer::waitUntil(
        [&] { return MapState(window) == "IsViewable" && WmState(window) == "Normal"; },
        kTimeoutMs));
}

TEST_F(SubclassMinimizeTest, ConsumingHandlerThatDoesNothingLeavesTheWindowAsItWas) {
    const QString window = Start("keep");
    ASSERT_FALSE(window.isEmpty());
    Minimize(window);
    EXPECT_EQ(NextLine(probe), "syscommand 61472");
    EXPECT_TRUE(XServer::waitUntil(
        [&] { return MapState(window) == "IsViewable" && WmState(window) == "Normal"; },
        kTimeoutMs));
    EXPECT_EQ(Ask(probe, "state"), "state 0 1");
}

TEST_F(SubclassMinimizeTest, HandlerPassingTheCommandOnLeavesTheWindowMinimized) {
    const QString window = Start("pass");
    ASSERT_FALSE(window.isEmpty());
    Minimize(window);
    EXPECT_EQ(NextLine(probe), "syscommand 61472");
    EXPECT_EQ(NextLine(probe), "default 274 61472");
    EXPECT_EQ(Ask(probe, "state"), "state 1 1");
    EXPECT_EQ(WmState(window), "Iconic");
}
