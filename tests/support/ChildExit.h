// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a child program that a test started has ended. In the sanitized build a sanitizer
// report stops the child with kSanitizerExitCode; these checks name that case and carry the
// child's error output (when the test kept it) into the failure message.
#include "support/SanitizerExit.h"

#include <QByteArray>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace postlark::test {

inline ::testing::AssertionResult ExitCodeIsZero(int code, const QByteArray& errors) {
    if (code == 0)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    if (code == kSanitizerExitCode)
        failure << "the child stopped on a sanitizer report (exit code " << code << ")";
    else
        failure << "the child exited with code " << code;
    if (!errors.isEmpty())
        failure << "; its error output:\n" << errors.toStdString();
    return failure;
}

// A child run by QProcess exited by itself with code 0. Reads its error output when the
// process keeps it apart (forwarded error output is already in the test's log).
inline ::testing::AssertionResult ExitedCleanly(QProcess& child) {
    const QByteArray errors = child.processChannelMode() == QProcess::SeparateChannels
                                  ? child.readAllStandardError()
                                  : QByteArray();
    if (child.state() != QProcess::NotRunning)
        return ::testing::AssertionFailure() << "the child is still running";
    if (child.exitStatus() != QProcess::NormalExit)
        return ::testing::AssertionFailure() << "the child crashed\n" << errors.toStdString();
    return ExitCodeIsZero(child.exitCode(), errors);
}

// The same for a status from waitpid (the child's error output goes to the test's own).
inline ::testing::AssertionResult ExitedCleanly(int waitStatus) {
    if (WIFSIGNALED(waitStatus))
        return ::testing::AssertionFailure()
               << "the child was ended by signal " << WTERMSIG(waitStatus);
    if (!WIFEXITED(waitStatus))
        return ::testing::AssertionFailure() << "the child did not exit";
    return ExitCodeIsZero(WEXITSTATUS(waitStatus), {});
}

// Describes a waitpid status for a failure message.
inline std::string DescribeWaitStatus(int waitStatus) {
    if (WIFSIGNALED(waitStatus))
        return "ended by signal " + std::to_string(WTERMSIG(waitStatus));
    if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == kSanitizerExitCode)
        return "stopped on a sanitizer report";
    if (WIFEXITED(waitStatus))
        return "exited with code " + std::to_string(WEXITSTATUS(waitStatus));
    return "status " + std::to_string(waitStatus);
}

} // namespace postlark::test
