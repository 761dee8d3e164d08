// Compares the resident memory of the real program, started with 200 accounts, with that of
// a bare Qt main window, both run offscreen and measured the same time after their start.
#include "BenchAccounts.h"
#include "Figures.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstdio>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 200;
constexpr int kRepeats = 3;
constexpr int kMeasureAfterMs = 2000;
const char* const kLabel = "(c) resident memory, postlark / bare Qt window";

// VmRSS of a running process in KiB; 0 when it cannot be read.
double ResidentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

// Starts the program offscreen, reads its resident memory after kMeasureAfterMs and ends it;
// 0 when it did not run that long.
double MeasureProgram(const QString& program) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, {});
    if (!process.waitForStarted(5000))
        return 0;
    QThread::msleep(kMeasureAfterMs);
    const double kib = process.state() == QProcess::Running ? ResidentKiB(process.processId()) : 0;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
    return kib;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Settings and the single-instance lock in temporary folders, inherited by both programs.
    test::TestEnvironment environment;
    StoreBenchAccounts(kAccounts, "127.0.0.1:1", {{"bench", "unused-bench"}});

    std::vector<double> postlark, bare;
    for (int round = 0; round < kRepeats; ++round) {
        postlark.push_back(MeasureProgram(QStringLiteral(POSTLARK_BINARY)));
        bare.push_back(MeasureProgram(QStringLiteral(BARE_WINDOW_BINARY)));
        if (postlark.back() == 0 || bare.back() == 0) {
            ReportMissing(kLabel, "a program ended before it was measured");
            return 1;
        }
    }
    const double ratio = Median(postlark) / Median(bare);
    std::printf("(c) VmRSS %s ms after start, median of %d: postlark %s MiB (%d accounts), "
                "bare window %s MiB\n",
                std::to_string(kMeasureAfterMs).c_str(), kRepeats,
                Fixed(Median(postlark) / 1024, 1).c_str(), kAccounts,
                Fixed(Median(bare) / 1024, 1).c_str());
    ReportFigure(kLabel, Fixed(ratio, 3), "<= 1.3", ratio <= 1.3);
    return 0;
}
