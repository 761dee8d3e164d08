// SPDX-License-Identifier: GPL-3.0-or-later
// Starting at log-in on a real X display with a window manager and a tray host: the user checks
// "Startup on System startup to tray" in the running program's settings dialog, and the
// command of the autostart entry it wrote, started as a session manager starts it, brings the
// program up hidden with its icon in the tray.
#include "dialogs/ExecLine.h"
#include "dialogs/Registry.h"
#include "support/ChildExit.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using test::XServer;

constexpr int kTimeoutMs = 15000;

QString VisibleWindow(const XServer& x, const QString& title) {
    return x.run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"})
        .split('\n', Qt::SkipEmptyParts)
        .value(0);
}

// The number of windows in the tray host's panel (its own included).
int TrayWindows(const XServer& x) {
    return int(x.run("xwininfo", {"-tree", "-id", x.trayWindow()})
                   .count(QRegularExpression("\\b0x[0-9a-f]+ ")));
}

void Stop(QProcess& program) {
    if (program.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    if (!program.waitForFinished(kTimeoutMs))
        program.kill();
    program.waitForFinished(kTimeoutMs);
}

TEST(StartupEntryRealDisplay, TheEntryWrittenByTheDialogStartsHiddenInTheTray) {
    const XServer::Options options{.windowManager = true, .trayHost = true};
    if (const QString missing = XServer::missingPrograms(options); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "not installed: xdotool";
    test::TestEnvironment env;
    XServer x(options);
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    const QString entry = env.configHome() + "/autostart/Postlark.desktop";

    // The user: File > Settings..., the General tab, the start-up box, OK.
    QProcess first;
    first.setProcessEnvironment(x.environment());
    first.start(POSTLARK_BINARY, {});
    ASSERT_TRUE(first.waitForStarted());
    QString window;
    ASSERT_TRUE(XServer::waitUntil(
        [&] { return !(window = VisibleWindow(x, "Postlark")).isEmpty(); }, kTimeoutMs));
    // Keys can be lost on a busy machine while the menu opens: try the menu a few times.
    QString dialog;
    for (int attempt = 0; attempt < 3 && dialog.isEmpty(); ++attempt) {
        x.run("xdotool", {"key", "Escape", "Escape"});
        x.run("xdotool", {"windowactivate", "--sync", window, "key", "alt+f"});
        QThread::msleep(500);
        // "&Show" and "&Settings..." share their key: the second press reaches Settings.
        x.run("xdotool", {"key", "s"});
        QThread::msleep(300);
        x.run("xdotool", {"key", "s", "Return"});
        XServer::waitUntil([&] { return !(dialog = VisibleWindow(x, "Settings")).isEmpty(); },
                           kTimeoutMs / 3);
    }
    ASSERT_FALSE(dialog.isEmpty()) << "File > Settings... did not open the dialog";
    x.run("xdotool", {"windowactivate", "--sync", dialog});
    x.run("xdotool", {"mousemove", "--window", dialog, "20", "18", "click", "1"}); // first tab
    x.run("xdotool", {"key", "Right", "Right"});
    QThread::msleep(300);
    x.run("xdotool", {"key", "alt+s"});
    EXPECT_TRUE(XServer::waitUntil([&] { return QFile::exists(entry); }, kTimeoutMs))
        << "checking the box did not write the autostart entry";
    x.run("xdotool", {"key", "Return"});
    EXPECT_TRUE(
        XServer::waitUntil([&] { return VisibleWindow(x, "Settings").isEmpty(); }, kTimeoutMs));
    Stop(first);
    EXPECT_TRUE(test::ExitedCleanly(first));
    ASSERT_TRUE(QFile::exists(entry));

    // The session manager: the entry's command, split as the Exec rules say.
    const auto command = SplitExecLine(
        ReadRegValue(win::HKEY_CURRENT_USER, RunKeyPath, RunValueName, "Z").toString());
    ASSERT_TRUE(command.has_value());
    ASSERT_EQ(command->size(), 2);
    EXPECT_EQ(QFileInfo(command->at(0)).canonicalFilePath(),
              QFileInfo(POSTLARK_BINARY).canonicalFilePath());
    EXPECT_EQ(command->at(1), "/registrystart");
    const int trayBefore = TrayWindows(x);

    QProcess second;
    second.setProcessEnvironment(x.environment());
    second.start(command->at(0), command->mid(1));
    ASSERT_TRUE(second.waitForStarted());
    EXPECT_TRUE(XServer::waitUntil([&] { return TrayWindows(x) > trayBefore; }, kTimeoutMs))
        << "no icon docked in the tray";
    QThread::msleep(500);
    EXPECT_TRUE(VisibleWindow(x, "Postlark").isEmpty()) << "the main window is shown";
    EXPECT_EQ(second.state(), QProcess::Running);
    Stop(second);
    EXPECT_TRUE(test::ExitedCleanly(second));
}

} // namespace
} // namespace postlark
