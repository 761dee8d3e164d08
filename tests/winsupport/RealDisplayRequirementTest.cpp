// SPDX-License-Identifier: GPL-3.0-or-later
// Tests that need a real display skip when Xvfb, openbox, trayer or xdotool is missing, except
// under CI=true, where they fail: a CI machine without them must not pass unnoticed. Checked by
// running this test program again with none of the programs on PATH.
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString output;
};

Outcome RunRealDisplayTestsWithoutPrograms(const QString& ci) {
    QTemporaryDir emptyBin;
    QProcess self;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", emptyBin.path());
    env.insert("CI", ci);
    self.setProcessEnvironment(env);
    self.setProcessChannelMode(QProcess::MergedChannels);
    self.start(QCoreApplication::applicationFilePath(),
               {"--gtest_filter=SystrayRealTray.*:SubclassMinimizeTest.*"});
    if (!self.waitForFinished(60000))
        return {};
    return {self.exitCode(), QString::fromLocal8Bit(self.readAll())};
}

TEST(RealDisplayRequirement, MissingProgramsFailUnderCiAndSkipElsewhere) {
    const Outcome ci = RunRealDisplayTestsWithoutPrograms("true");
    EXPECT_NE(ci.exitCode, 0) << ci.output.toStdString();
    EXPECT_TRUE(ci.output.contains("not installed: Xvfb")) << ci.output.toStdString();
    EXPECT_TRUE(ci.output.contains("SubclassMinimizeTest")) << ci.output.toStdString();

    const Outcome local = RunRealDisplayTestsWithoutPrograms("");
    EXPECT_EQ(local.exitCode, 0) << local.output.toStdString();
    EXPECT_TRUE(local.output.contains("SKIPPED")) << local.output.toStdString();
}

} // namespace
