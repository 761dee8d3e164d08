// SPDX-License-Identifier: GPL-3.0-or-later
// What a check loads into the program, seen from a process of its own.
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Runs the helper and returns what it printed: the account's result and the TLS libraries.
QString CheckAndLook(const char* mode) {
    QProcess probe;
    probe.start(QStringLiteral(POSTLARK_PLAIN_CHECK_PROBE), {QString::fromLatin1(mode)});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return QStringLiteral("<the probe failed>");
    return QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
}

TEST(PlainCheckLibraries, APlainCheckLeavesTheOptionalLibrariesUnloaded) {
    EXPECT_EQ(CheckAndLook("plain"), "No: none");
    // The same look at the mappings does see them once a TLS connection was tried.
    const QString tls = CheckAndLook("tls");
    EXPECT_TRUE(tls.startsWith("Failed: ")) << tls.toStdString();
    EXPECT_TRUE(tls.contains("libssl")) << tls.toStdString();
}

} // namespace
