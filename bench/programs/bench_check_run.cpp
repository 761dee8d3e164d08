// SPDX-License-Identifier: GPL-3.0-or-later
// Times a check run of the main window over 200 accounts on a local Dovecot server, and the
// same 200 dialogues done by a minimal blocking client, in paired rounds, and prints the
// ratios of wall time and of processor time (user + system) with their spread.
#include "BenchAccounts.h"
#include "BlockingPop3Client.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "support/DovecotServer.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 200;
constexpr int kUsers = 4;
constexpr int kMessages = 3;
constexpr int kRepeats = 9;            // timed rounds, after one warm-up round
constexpr int kRunLimitMs = 60 * 1000; // a run that takes longer is stuck
const char* const kLabel = "(a) check run wall time, Postlark / blocking client";
const char* const kCpuLabel = "(a') check run processor time, Postlark / blocking client";

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The blocking client's 200 dialogues; -1 when any of them did not see the expected count.
double TimeBlockingClient(quint16 port, const std::vector<Pop3Login>& logins) {
    const auto start = std::chrono::steady_clock::now();
    bool allRight = true;
    for (int i = 0; i < kAccounts; ++i) {
        if (CheckMailbox("127.0.0.1", port, logins[std::size_t(i) % logins.size()]) != kMessages)
            allRight = false;
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    return allRight ? seconds : -1;
}

// Rows whose "New Mail?" column does not show the mailbox's count.
int WrongRows(QTreeWidget* list) {
    const QString expected = QStringLiteral("Yes, %1").arg(kMessages);
    int wrong = kAccounts - list->topLevelItemCount();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(1) != expected)
            ++wrong;
    }
    return wrong;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment; // settings and runtime folders in a temporary folder
    ChooseEventDispatcher();           // as the program does
    QApplication app(argc, argv);
    EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);

    QString why;
    if (!test::DovecotServer::Available(&why)) {
        ReportMissing(kLabel, why.toStdString());
        return 1;
    }
    QList<test::DovecotUser> users;
    std::vector<Pop3Login> logins;
    for (int u = 0; u < kUsers; ++u) {
        const QString name = QStringLiteral("bench%1").arg(u);
        const QString password = QStringLiteral("pw-%1-bench").arg(u);
        users << test::DovecotUser{name, password, kMessages};
        logins.push_back({name.toStdString(), password.toStdString()});
    }
    test::DovecotServer server(users);
    if (!server.start(&why)) {
        ReportMissing(kLabel, "Dovecot did not start");
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    StoreBenchAccounts(kAccounts, "127.0.0.1:" + std::to_string(server.port()), logins);

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kLabel, "the main window did not load");
        return 1;
    }
    auto* list = form.findChild<QTreeWidget*>("AccountList");

    // A run that never ends would hold the benchmark for ever: give up on it.
    QTimer limit;
    limit.setSingleShot(true);
    limit.setInterval(kRunLimitMs);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        ReportMissing(kLabel, "a check run did not end within a minute");
        server.stop();
        std::_Exit(1);
    });

    // Paired rounds: each round times both sides, and which side goes first alternates, so a
    // change in the machine's load during the run touches both alike.
    std::vector<double> wallRatios, cpuRatios, postlarkTimes, clientTimes, postlarkCpu, clientCpu;
    for (int round = 0; round <= kRepeats; ++round) {
        double client = 0, clientCpuUsed = 0, postlark = 0, postlarkCpuUsed = 0;
        const auto runClient = [&] {
            const double cpuStart = ProcessorSeconds();
            client = TimeBlockingClient(server.port(), logins);
            clientCpuUsed = ProcessorSeconds() - cpuStart;
        };
        const auto runPostlark = [&] {
            QCoreApplication::processEvents(); // what the last round left, outside the timing
            limit.start();
            const double cpuStart = ProcessorSeconds();
            const auto start = std::chrono::steady_clock::now();
            form.menu_Checknow_Click();
            postlark = Seconds(std::chrono::steady_clock::now() - start);
            postlarkCpuUsed = ProcessorSeconds() - cpuStart;
            limit.stop();
        };
        if (round % 2 == 0) {
            runClient();
            runPostlark();
        } else {
            runPostlark();
            runClient();
        }
        if (client < 0) {
            ReportMissing(kLabel, "the blocking client did not read every mailbox");
            return 1;
        }
        if (const int wrong = WrongRows(list)) {
            ReportMissing(kLabel, std::to_string(wrong) + " of " + std::to_string(kAccounts) +
                                      " accounts did not show their mail");
            return 1;
        }
        if (round == 0)
            continue; // warm-up
        clientTimes.push_back(client);
        postlarkTimes.push_back(postlark);
        clientCpu.push_back(clientCpuUsed);
        postlarkCpu.push_back(postlarkCpuUsed);
        wallRatios.push_back(postlark / client);
        cpuRatios.push_back(postlarkCpuUsed / clientCpuUsed);
    }

    std::printf("(a) %d accounts, %d Dovecot users with %d messages each, %d paired rounds:\n"
                "    Postlark check run %s s (processor %s ms, %s ms per account), blocking "
                "client %s s (processor %s ms, %s ms per account), medians\n",
                kAccounts, kUsers, kMessages, kRepeats, Fixed(Median(postlarkTimes), 3).c_str(),
                Fixed(Median(postlarkCpu) * 1000, 1).c_str(),
                Fixed(Median(postlarkCpu) * 1000 / kAccounts, 3).c_str(),
                Fixed(Median(clientTimes), 3).c_str(), Fixed(Median(clientCpu) * 1000, 1).c_str(),
                Fixed(Median(clientCpu) * 1000 / kAccounts, 3).c_str());
    ReportRounds(kLabel, wallRatios, 3, "", "<= 1.05", [](double r) { return r <= 1.05; });
    ReportRounds(kCpuLabel, cpuRatios, 2, "", "<= 2.0", [](double r) { return r <= 2.0; });
    server.stop();
    return 0;
}
