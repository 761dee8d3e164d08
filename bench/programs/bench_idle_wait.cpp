// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the processor time the main window uses while a check run waits on a server that
// accepts the connection and never speaks, until a timer presses Skip; several rounds.
#include "BenchAccounts.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "SilentServer.h"
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kWaitMs = 2 * 1000;
constexpr int kRepeats = 5;
constexpr int kSettleMs = 500; // start-up painting, before the measurement
const char* const kLabel = "(b) processor use while waiting on a silent server";

struct Sample {
    double cpu = 0; // user + system seconds of the whole process
    std::chrono::steady_clock::time_point wall;
};

Sample Now() {
    return {ProcessorSeconds(), std::chrono::steady_clock::now()};
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment; // settings and runtime folders in a temporary folder
    ChooseEventDispatcher();           // as the program does
    QApplication app(argc, argv);
    EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);

    SilentServer silent;
    if (!silent.Start()) {
        ReportMissing(kLabel, "no listening socket");
        return 1;
    }
    StoreBenchAccounts(1, "127.0.0.1:" + std::to_string(silent.Port()), {{"silent", "quiet"}});

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kLabel, "the main window did not load");
        return 1;
    }
    {
        QEventLoop settle;
        QTimer::singleShot(kSettleMs, &settle, &QEventLoop::quit);
        settle.exec();
    }

    std::vector<double> shares;
    double totalWall = 0, totalCpu = 0;
    for (int round = 0; round < kRepeats; ++round) {
        Sample before, atSkip;
        QTimer::singleShot(kWaitMs, Qt::PreciseTimer, &form, [&] {
            atSkip = Now();
            form.CheckButton_Click();
        });
        before = Now();
        form.menu_Checknow_Click();

        const double wall = std::chrono::duration<double>(atSkip.wall - before.wall).count();
        const double cpu = atSkip.cpu - before.cpu;
        if (silent.AcceptedCount() != round + 1 || wall < kWaitMs / 1000.0 * 0.95) {
            ReportMissing(kLabel, "the check run did not wait on the silent server");
            return 1;
        }
        shares.push_back(cpu / wall * 100);
        totalWall += wall;
        totalCpu += cpu;
    }
    std::printf("(b) %d rounds of %s s of waiting, %s ms of processor time in all (user + "
                "system)\n",
                kRepeats, Fixed(kWaitMs / 1000.0, 1).c_str(), Fixed(totalCpu * 1000, 1).c_str());
    ReportRounds(kLabel, shares, 3, "% of one core", "< 0.1%", [](double s) { return s < 0.1; });
    return 0;
}
