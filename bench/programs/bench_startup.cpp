// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up as the user sees it: the time from exec to the main window being mapped on an X
// display (Xvfb, no window manager), read from the server's MapNotify event, for the real
// program with 200 and with 1000 accounts against the yardstick window with as many rows.
#include "BenchAccounts.h"
#include "ChildProgram.h"
#include "Figures.h"
#include "MapWatch.h"
#include "XDisplay.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kRepeats = 11;
constexpr int kMapTimeoutMs = 15000;

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    test::TestEnvironment environment;
    test::XServer x(test::XServer::Options{});
    MapWatch watch;
    if (!x.failure().isEmpty() || !watch.Open(x.display().toStdString())) {
        ReportMissing("(d) start-up", "no X display: " + x.failure().toStdString());
        return 1;
    }

    for (const int accounts : {200, 1000}) {
        const std::string label = "(d) exec to mapped window, " + std::to_string(accounts) +
                                  " accounts, postlark / yardstick window";
        // Each size has its own settings folder; the servers are never contacted.
        const QString config = environment.path() + QStringLiteral("/config%1").arg(accounts);
        QDir().mkpath(config);
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
        StoreBenchAccounts(accounts, "127.0.0.1:1", {{"bench", "unused-bench"}});
        const std::vector<std::string> onDisplay = EnvironmentWith(DisplayEnvironment(x));

        ChildProgram child;
        // Milliseconds from just before exec to the MapNotify; 0 when no window appeared.
        const auto startUp = [&](const std::string& program, std::vector<std::string> args) {
            watch.Discard();
            MapWatch::Clock::time_point started, mapped;
            const bool shown = child.Start(program, args, onDisplay, &started) &&
                               watch.WaitForMap(kMapTimeoutMs, &mapped);
            child.Stop();
            return shown ? std::chrono::duration<double, std::milli>(mapped - started).count()
                         : 0.0;
        };

        std::vector<double> ratios, ours, theirs;
        for (int round = 0; round <= kRepeats; ++round) {
            double p = 0, y = 0;
            if (round % 2 == 0) {
                p = startUp(POSTLARK_BINARY, {});
                y = startUp(YARDSTICK_BINARY, {std::to_string(accounts)});
            } else {
                y = startUp(YARDSTICK_BINARY, {std::to_string(accounts)});
                p = startUp(POSTLARK_BINARY, {});
            }
            if (p == 0 || y == 0) {
                ReportMissing(label, "a program did not show its window");
                return 1;
            }
            if (round == 0)
                continue; // warm-up
            ratios.push_back(p / y);
            ours.push_back(p);
            theirs.push_back(y);
        }
        const Spread p = SpreadOf(ours), y = SpreadOf(theirs);
        std::printf("(d) %d accounts, %d paired rounds: postlark %s ms (min %s, max %s), "
                    "yardstick %s ms (min %s, max %s)\n",
                    accounts, kRepeats, Fixed(p.median, 1).c_str(), Fixed(p.min, 1).c_str(),
                    Fixed(p.max, 1).c_str(), Fixed(y.median, 1).c_str(), Fixed(y.min, 1).c_str(),
                    Fixed(y.max, 1).c_str());
        ReportRounds(label, ratios, 3, "", "<= 1.2", [](double r) { return r <= 1.2; });
    }
    return 0;
}
