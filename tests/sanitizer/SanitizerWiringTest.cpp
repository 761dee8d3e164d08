// SPDX-License-Identifier: GPL-3.0-or-later
// In the sanitized build every program stops on its first sanitizer report with the distinct
// exit code, leaks included, and the child checks of the tests report it with the child's
// error output. Elsewhere there is nothing to check.
#include "support/ChildExit.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace postlark::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Runs the canary in a mode; its error output stays apart for the check to read.
void RunCanary(QProcess& canary, const char* mode) {
    canary.setProcessChannelMode(QProcess::SeparateChannels);
    canary.start(POSTLARK_SANITIZER_CANARY, {mode});
    ASSERT_TRUE(canary.waitForFinished(30000));
}

TEST(SanitizerWiring, EveryKindOfReportFailsTheChildCheckWithTheReport) {
    if (!kSanitized)
        GTEST_SKIP() << "only the sanitized build checks this";
    const struct {
        const char* mode;
        const char* report;
    } faults[] = {
        {"leak", "LeakSanitizer: detected memory leaks"},
        {"overflow", "AddressSanitizer: heap-buffer-overflow"},
        {"undefined", "runtime error: signed integer overflow"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.mode);
        QProcess canary;
        RunCanary(canary, fault.mode);
        EXPECT_EQ(canary.exitCode(), kSanitizerExitCode);
        const ::testing::AssertionResult check = ExitedCleanly(canary);
        EXPECT_FALSE(check);
        EXPECT_NE(std::string(check.message()).find("sanitizer report"), std::string::npos)
            << check.message();
        EXPECT_NE(std::string(check.message()).find(fault.report), std::string::npos)
            << check.message();
    }
}

TEST(SanitizerWiring, CleanChildPassesTheCheck) {
    QProcess canary;
    RunCanary(canary, "clean");
    EXPECT_TRUE(ExitedCleanly(canary));
}

} // namespace
} // namespace postlark::test
