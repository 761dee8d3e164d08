// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon under a real X server with a real tray host: the icon's window must be docked
// in the tray after ShowIcon, report real clicks to its window, and be gone after HideIcon. The
// icon runs in a child process on the private display; this process only drives it and looks at the
// tray's window tree.
#include "support/ChildExit.h"
#include "support/ProbeProcess.h"
#include "support/XServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using postlark::test::Ask;
using postlark::test::NextLine;
using postlark::test::Pause;
using postlark::test::XServer;

namespace {

constexpr int kTimeoutMs = postlark::test::kProbeTimeoutMs;

bool InTray(const XServer& x, const QString& window) {
    const QRegularExpression id("\\b" + QRegularExpression::escape(window) + "\\b");
    return x.run("xwininfo", {"-tree", "-id", x.trayWindow()}).contains(id);
}

} // namespace

TEST(SystrayRealTray, ShowIconDocksInTheTrayAndHideIconRemovesIt) {
    const XServer::Options options{.windowManager = false, .trayHost = true};
    POSTLARK_REQUIRE_PROGRAMS(XServer::missingPrograms(options, {"xdotool"}));
    XServer x(options);
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();

    QProcess probe;
    probe.setProcessEnvironment(x.environment());
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(POSTLARK_TRAY_PROBE);
    ASSERT_EQ(NextLine(probe), "ready 1");

    const QStringList shown = Ask(probe, "show").split(' ');
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[1], "1");
    const QString window = shown[2];
    ASSERT_NE(window, "0");
    EXPECT_TRUE(XServer::waitUntil([&] { return InTray(x, window); }, kTimeoutMs))
        << window.toStdString() << " not docked in " << x.trayWindow().toStdString();

    // Real clicks: a press, a double click (its first press reported once), a right click.
    const auto click = [&](QStringList how) {
        x.run("xdotool", QStringList{"mousemove", "--window", window, "8", "8", "click"} + how);
    };
    click({"1"});
    EXPECT_EQ(NextLine(probe), "mouse 513");
    Pause(800); // longer than a double-click interval
    click({"--repeat", "2", "--delay", "60", "1"});
    EXPECT_EQ(NextLine(probe), "mouse 513");
    EXPECT_EQ(NextLine(probe), "mouse 515");
    click({"3"});
    EXPECT_EQ(NextLine(probe), "mouse 517");

    EXPECT_EQ(Ask(probe, "hide"), "hide 1");
    EXPECT_TRUE(XServer::waitUntil([&] { return !InTray(x, window); }, kTimeoutMs));

    probe.write("quit\n");
    EXPECT_TRUE(probe.waitForFinished(kTimeoutMs));
    EXPECT_TRUE(postlark::test::ExitedCleanly(probe));
}
