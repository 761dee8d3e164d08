// SPDX-License-Identifier: GPL-3.0-or-later
// The real program ended by SIGHUP, SIGTERM or SIGINT goes through its orderly shut-down: the
// icon goes and the window position is stored, exactly as when the window is closed. During a
// start-up question a signal ends it without changing anything.
#include "platform/system/SingleInstance.h"
#include "store/SettingsStore.h"
#include "support/ChildExit.h"
#include "support/TestEnvironment.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace postlark {
namespace {

// Whether some process holds a lock on the file (read from /proc/locks, without touching it).
bool FileIsLocked(const QString& path) {
    QFile locks("/proc/locks");
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray inode = ":" + QByteArray::number(qulonglong(info.st_ino)) + " ";
    return locks.readAll().contains(inode);
}

void Sleep(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The program runs without a display.
void Offscreen(QProcess& program) {
    QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
    vars.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(vars);
}

class ShutdownSignal : public ::testing::TestWithParam<int> {};

TEST_P(ShutdownSignal, StoresTheWindowPositionLikeClosing) {
    test::TestEnvironment env;
    // Not multiples of the pixel size: a stored value proves the program wrote it back.
    SettingsStore::SaveValue("MainLeft", "1507");
    SettingsStore::SaveValue("MainTop", "2249");

    QProcess program;
    Offscreen(program);
    program.start(POSTLARK_BINARY, {});
    ASSERT_TRUE(program.waitForStarted());

    const QString lock = SingleInstance::LockPath();
    for (int i = 0; i < 200 && !FileIsLocked(lock); ++i)
        Sleep(25);
    ASSERT_TRUE(FileIsLocked(lock)) << "the program did not start";
    Sleep(500); // start-up finishes right after the lock is taken

    ::kill(static_cast<pid_t>(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_TRUE(test::ExitedCleanly(program));
    EXPECT_EQ(SettingsStore::GetValue("MainLeft", ""), "1500");
    EXPECT_EQ(SettingsStore::GetValue("MainTop", ""), "2250");
}

INSTANTIATE_TEST_SUITE_P(HupTermAndInt, ShutdownSignal, ::testing::Values(SIGHUP, SIGTERM, SIGINT));

class SignalDuringQuestion : public ::testing::TestWithParam<int> {};

TEST_P(SignalDuringQuestion, EndsWithStatusZeroAndChangesNothing) {
    test::TestEnvironment env;
    SettingsStore::SaveValue("MainLeft", "1507");
    QFile store(QString::fromStdString(SettingsStore::FilePath()));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    const QByteArray before = store.readAll();
    store.close();
    // A copy runs already: the program asks whether to start another and waits for the answer.
    SingleInstance first;
    ASSERT_FALSE(first.AnotherCopyRunning());

    QProcess program;
    Offscreen(program);
    program.start(POSTLARK_BINARY, {});
    ASSERT_TRUE(program.waitForStarted());
    Sleep(1500); // the question is on the screen
    ASSERT_EQ(program.state(), QProcess::Running) << "the program did not wait for the answer";

    ::kill(static_cast<pid_t>(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_TRUE(test::ExitedCleanly(program));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    EXPECT_EQ(store.readAll(), before);
}

INSTANTIATE_TEST_SUITE_P(HupTermAndInt, SignalDuringQuestion,
                         ::testing::Values(SIGHUP, SIGTERM, SIGINT));

TEST(ShutdownUnwritableStore, ExitsWithStatusZeroWhenThePositionCannotBeStored) {
    test::TestEnvironment env;
    SettingsStore::SaveValue("StartMinimized", "0");

    QProcess program;
    Offscreen(program);
    // No file may grow in the program: every save of a changed value fails, as in a store
    // the user cannot write.
    program.setChildProcessModifier([] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit none {};
        ::getrlimit(RLIMIT_FSIZE, &none);
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
    });
    program.start(POSTLARK_BINARY, {});
    ASSERT_TRUE(program.waitForStarted());

    const QString lock = SingleInstance::LockPath();
    for (int i = 0; i < 200 && !FileIsLocked(lock) && program.state() == QProcess::Running; ++i)
        Sleep(25);
    ASSERT_TRUE(FileIsLocked(lock)) << "the program did not start: " << program.exitCode();
    Sleep(500);

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_TRUE(test::ExitedCleanly(program));
    EXPECT_EQ(SettingsStore::GetValue("MainLeft", "absent"), "absent");
}

} // namespace
} // namespace postlark
