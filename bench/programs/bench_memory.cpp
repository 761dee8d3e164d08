// SPDX-License-Identifier: GPL-3.0-or-later
// Resident memory of the real program with 200 accounts on an X display (Xvfb), right after
// its window appeared and after its first check (plain POP3), against a yardstick program that
// shows the same widgets with 200 rows and runs none of Postlark's code. Also the earlier
// figure against an empty window offscreen, kept for comparison.
#include "BenchAccounts.h"
#include "ChildProgram.h"
#include "Figures.h"
#include "MapWatch.h"
#include "QuickPop3Server.h"
#include "XDisplay.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <cstdio>
#include <thread>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 200;
constexpr int kRepeats = 5;
constexpr int kSettleMs = 1000;     // after the window appeared, or after the check
constexpr int kOldMeasureMs = 2000; // the empty-window figure: after the start
constexpr int kMapTimeoutMs = 15000;
const char* const kStartLabel = "(c) resident memory after start-up, postlark / yardstick window";
const char* const kCheckLabel =
    "(c) resident memory after the first plain check, postlark / yardstick window";
const char* const kOldLabel = "(c, old) resident memory, postlark / empty window (offscreen)";

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Program {
    std::string path;
    std::vector<std::string> arguments;
};

} // namespace

int main(int argc, char* argv[]) {
    QuickPop3Server server; // forks: before any thread exists
    if (!server.Start()) {
        ReportMissing(kStartLabel, "no POP3 server");
        return 1;
    }
    QCoreApplication app(argc, argv);
    // Settings and the single-instance lock in temporary folders, inherited by the programs.
    test::TestEnvironment environment;
    StoreBenchAccounts(kAccounts, "127.0.0.1:" + std::to_string(server.Port()),
                       {{"bench", "pw-bench"}});

    const Program postlark{POSTLARK_BINARY, {}};
    const Program yardstick{YARDSTICK_BINARY, {std::to_string(kAccounts)}};

    test::XServer x(test::XServer::Options{});
    MapWatch watch;
    if (!x.failure().isEmpty() || !watch.Open(x.display().toStdString())) {
        ReportMissing(kStartLabel, "no X display: " + x.failure().toStdString());
        return 1;
    }
    const std::vector<std::string> onDisplay = EnvironmentWith(DisplayEnvironment(x));

    // Starts a program, waits for its window; 0 when it did not appear. The window's id goes
    // to *window.
    ChildProgram child;
    const auto startShown = [&](const Program& p, std::uint32_t* window) {
        watch.Discard();
        MapWatch::Clock::time_point mapped;
        if (!child.Start(p.path, p.arguments, onDisplay) ||
            !watch.WaitForMap(kMapTimeoutMs, &mapped, window))
            return false;
        Sleep(kSettleMs);
        return child.Running();
    };

    std::vector<double> startRatios, checkRatios, startMiB, checkMiB, yardMiB;
    for (int round = 0; round <= kRepeats; ++round) {
        double atStart = 0, afterCheck = 0, yard = 0;
        const auto measurePostlark = [&] {
            std::uint32_t window = 0;
            if (!startShown(postlark, &window))
                return child.Stop();
            atStart = ResidentKiB(child.Pid());
            // "&Check Mail Now" through the keyboard, as a user would press it.
            const long before = server.Finished();
            x.run("xdotool", {"windowfocus", "--sync", QString::number(window), "key", "alt+c"});
            for (int i = 0; i < 3000 && server.Finished() - before < kAccounts; ++i)
                Sleep(10);
            if (server.Finished() - before >= kAccounts) {
                Sleep(kSettleMs);
                afterCheck = ResidentKiB(child.Pid());
            }
            child.Stop();
        };
        const auto measureYardstick = [&] {
            if (startShown(yardstick, nullptr))
                yard = ResidentKiB(child.Pid());
            child.Stop();
        };
        if (round % 2 == 0) {
            measurePostlark();
            measureYardstick();
        } else {
            measureYardstick();
            measurePostlark();
        }
        if (atStart == 0 || yard == 0) {
            ReportMissing(kStartLabel, "a program did not show its window");
            return 1;
        }
        if (afterCheck == 0) {
            ReportMissing(kCheckLabel, "the check did not run through every account");
            return 1;
        }
        if (round == 0)
            continue; // warm-up
        startRatios.push_back(atStart / yard);
        checkRatios.push_back(afterCheck / yard);
        startMiB.push_back(atStart / 1024);
        checkMiB.push_back(afterCheck / 1024);
        yardMiB.push_back(yard / 1024);
    }
    std::printf("(c) VmRSS on Xvfb %d ms after the window appeared, medians of %d paired rounds: "
                "postlark %s MiB at start-up, %s MiB after the first check (%d accounts), "
                "yardstick window %s MiB (%d rows)\n",
                kSettleMs, kRepeats, Fixed(Median(startMiB), 1).c_str(),
                Fixed(Median(checkMiB), 1).c_str(), kAccounts, Fixed(Median(yardMiB), 1).c_str(),
                kAccounts);
    ReportRounds(kStartLabel, startRatios, 3, "", "<= 1.10", [](double r) { return r <= 1.10; });
    ReportRounds(kCheckLabel, checkRatios, 3, "", "<= 1.10", [](double r) { return r <= 1.10; });

    // The earlier yardstick: an empty main window that draws no text, both offscreen, measured
    // a fixed time after the start.
    const std::vector<std::string> offscreen = EnvironmentWith({"QT_QPA_PLATFORM=offscreen"});
    std::vector<double> oldRatios, oldPostlark, oldBare;
    for (int round = 0; round < kRepeats; ++round) {
        double p = 0, b = 0;
        const auto measure = [&](const char* program, double* kib) {
            if (child.Start(program, {}, offscreen)) {
                Sleep(kOldMeasureMs);
                *kib = child.Running() ? ResidentKiB(child.Pid()) : 0;
            }
            child.Stop();
        };
        if (round % 2 == 0) {
            measure(POSTLARK_BINARY, &p);
            measure(BARE_WINDOW_BINARY, &b);
        } else {
            measure(BARE_WINDOW_BINARY, &b);
            measure(POSTLARK_BINARY, &p);
        }
        if (p == 0 || b == 0) {
            ReportMissing(kOldLabel, "a program ended before it was measured");
            return 1;
        }
        oldRatios.push_back(p / b);
        oldPostlark.push_back(p / 1024);
        oldBare.push_back(b / 1024);
    }
    std::printf("(c, old) VmRSS %d ms after start, offscreen, medians of %d: postlark %s MiB, "
                "empty window %s MiB\n",
                kOldMeasureMs, kRepeats, Fixed(Median(oldPostlark), 1).c_str(),
                Fixed(Median(oldBare), 1).c_str());
    // Kept to compare with runs before (c) existed; its yardstick draws no text and none of the
    // widgets, so (c) replaced its target.
    const Spread old = SpreadOf(oldRatios);
    std::printf("%s: %s (min %s, max %s, %zu rounds)   reference only, no target (replaced by "
                "(c))\n",
                kOldLabel, Fixed(old.median, 3).c_str(), Fixed(old.min, 3).c_str(),
                Fixed(old.max, 3).c_str(), oldRatios.size());
    return 0;
}
