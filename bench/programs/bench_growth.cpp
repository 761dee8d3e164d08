// SPDX-License-Identifier: GPL-3.0-or-later
// Processor time per account of a check run at 1000 accounts against that at 50, on a server
// in a child process that answers at once: a run whose cost per account grows with the number
// of accounts (re-reading the whole store for every value) shows here.
#include "BenchAccounts.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "QuickPop3Server.h"
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QTreeWidget>
#include <cstdio>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kSmall = 50;
constexpr int kLarge = 1000;
constexpr int kRepeats = 5;
const char* const kLabel = "(e) processor time per account, 1000 accounts / 50 accounts";

} // namespace

int main(int argc, char* argv[]) {
    QuickPop3Server server; // forks: before any thread exists
    if (!server.Start()) {
        ReportMissing(kLabel, "no POP3 server");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment;
    ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);
    // A store of its own for each size, holding exactly that many accounts; the store follows
    // XDG_CONFIG_HOME at every call, so switching it switches stores.
    const auto folderFor = [&](int count) {
        return (environment.path() + QStringLiteral("/config%1").arg(count)).toLocal8Bit();
    };
    for (const int count : {kSmall, kLarge}) {
        qputenv("XDG_CONFIG_HOME", folderFor(count));
        StoreBenchAccounts(count, "127.0.0.1:" + std::to_string(server.Port()),
                           {{"bench", "pw-bench"}});
    }

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kLabel, "the main window did not load");
        return 1;
    }
    auto* list = form.findChild<QTreeWidget*>("AccountList");

    // Processor milliseconds per account of one run over the first `count` accounts; the list
    // is filled from the store first, outside the measurement.
    const auto perAccount = [&](int count) {
        qputenv("XDG_CONFIG_HOME", folderFor(count));
        form.ReDraw();
        QCoreApplication::processEvents();
        const long before = server.Finished();
        const double start = ProcessorSeconds();
        form.menu_Checknow_Click();
        const double used = ProcessorSeconds() - start;
        const bool complete = list->topLevelItemCount() == count &&
                              server.Finished() - before == count &&
                              list->topLevelItem(count - 1)->text(1) == "Yes, 3";
        return complete ? used * 1000 / count : -1;
    };

    std::vector<double> ratios, small, large;
    for (int round = 0; round <= kRepeats; ++round) {
        double s = 0, l = 0;
        if (round % 2 == 0) {
            s = perAccount(kSmall);
            l = perAccount(kLarge);
        } else {
            l = perAccount(kLarge);
            s = perAccount(kSmall);
        }
        if (s <= 0 || l <= 0) {
            ReportMissing(kLabel, "a check run did not read every mailbox");
            return 1;
        }
        if (round == 0)
            continue; // warm-up
        small.push_back(s);
        large.push_back(l);
        ratios.push_back(l / s);
    }
    std::printf("(e) processor time per account, median of %d paired rounds: %s ms at %d "
                "accounts, %s ms at %d\n",
                kRepeats, Fixed(Median(large), 3).c_str(), kLarge, Fixed(Median(small), 3).c_str(),
                kSmall);
    ReportRounds(kLabel, ratios, 2, "", "<= 1.2", [](double r) { return r <= 1.2; });
    return 0;
}
