// Times a check run of the main window over 200 accounts on a local Dovecot server, and the
// same 200 dialogues done by a minimal blocking client, and prints the ratio of the medians.
#include "BenchAccounts.h"
#include "BlockingPop3Client.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "app/PostlarkForm.h"
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
constexpr int kRepeats = 5;            // timed rounds of each, after one warm-up round
constexpr int kRunLimitMs = 60 * 1000; // a run that takes longer is stuck
const char* const kLabel = "(a) check run time, Postlark / blocking client";

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
    QApplication app(argc, argv);
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

    std::vector<double> postlarkTimes, clientTimes, postlarkCpu, clientCpu;
    for (int round = 0; round <= kRepeats; ++round) {
        const double clientCpuStart = ProcessorSeconds();
        const double client = TimeBlockingClient(server.port(), logins);
        const double clientCpuUsed = ProcessorSeconds() - clientCpuStart;
        if (client < 0) {
            ReportMissing(kLabel, "the blocking client did not read every mailbox");
            return 1;
        }

        QCoreApplication::processEvents(); // what the last round left, outside the timing
        limit.start();
        const double postlarkCpuStart = ProcessorSeconds();
        const auto start = std::chrono::steady_clock::now();
        form.menu_Checknow_Click();
        const double postlark = Seconds(std::chrono::steady_clock::now() - start);
        const double postlarkCpuUsed = ProcessorSeconds() - postlarkCpuStart;
        limit.stop();
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
    }

    const double postlark = Median(postlarkTimes);
    const double client = Median(clientTimes);
    const double ratio = postlark / client;
    std::printf("(a) %d accounts, %d Dovecot users with %d messages each, median of %d runs:\n"
                "    Postlark check run %s s (%s s processor), blocking client %s s (%s s "
                "processor)\n",
                kAccounts, kUsers, kMessages, kRepeats, Fixed(postlark, 3).c_str(),
                Fixed(Median(postlarkCpu), 3).c_str(), Fixed(client, 3).c_str(),
                Fixed(Median(clientCpu), 3).c_str());
    ReportFigure(kLabel, Fixed(ratio, 3), "<= 1.10", ratio <= 1.10);
    server.stop();
    return 0;
}
