#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Runs the helper in a process of its own and returns what it printed.
QString MappedAfter(const char* mode) {
    QProcess probe;
    probe.start(QStringLiteral(POSTLARK_TLS_LIBRARIES_PROBE), {QString::fromLatin1(mode)});
    if (!probe.waitForFinished(20000) || probe.exitCode() != 0)
        return QStringLiteral("<the probe failed>");
    return QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
}

TEST(WinsockLibraries, PlainConnectionsLeaveTheTlsLibrariesUnloaded) {
    EXPECT_EQ(MappedAfter("plain"), "none");
    // The same look at the mappings does see them once a TLS connection was tried.
    EXPECT_TRUE(MappedAfter("tls").contains("libssl")) << MappedAfter("tls").toStdString();
}

} // namespace
