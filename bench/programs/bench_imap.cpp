// SPDX-License-Identifier: GPL-3.0-or-later
// Times check runs of the main window over 200 IMAP accounts and over 200 POP3 accounts on the
// same local Dovecot server, in paired rounds, and prints the ratio of processor time (user +
// system) per account, IMAP over POP3, with its spread.
#include "BenchAccounts.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "support/DovecotServer.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 200;
constexpr int kUsers = 4;
constexpr int kMessages = 3;           // all unseen, so IMAP and POP3 counts agree
constexpr int kRepeats = 5;            // timed rounds, after one warm-up round
constexpr int kRunLimitMs = 60 * 1000; // a run that takes longer is stuck
const char* const kLabel = "(g) processor time per account, IMAP / POP3";

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
    test::DovecotServer::Options options;
    std::vector<Pop3Login> logins;
    for (int u = 0; u < kUsers; ++u) {
        const QString name = QStringLiteral("bench%1").arg(u);
        const QString password = QStringLiteral("pw-%1-bench").arg(u);
        options.users << test::DovecotUser{name, password, kMessages};
        logins.push_back({name.toStdString(), password.toStdString()});
    }
    options.imap = true;
    test::DovecotServer server(options);
    if (!server.start(&why)) {
        ReportMissing(kLabel, "Dovecot did not start");
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const std::string pop3 = "127.0.0.1:" + std::to_string(server.port());
    const std::string imap = "imap+insecure://127.0.0.1:" + std::to_string(server.imapPort());
    StoreBenchAccounts(kAccounts, pop3, logins);

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kLabel, "the main window did not load");
        return 1;
    }
    auto* list = form.findChild<QTreeWidget*>("AccountList");

    QTimer limit;
    limit.setSingleShot(true);
    limit.setInterval(kRunLimitMs);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        ReportMissing(kLabel, "a check run did not end within a minute");
        server.stop();
        std::_Exit(1);
    });

    // One run over every account on the given server field; its processor seconds, or -1 when
    // any account did not show its mail. The accounts are stored outside the timing; only their
    // server fields differ, so the list stays as it is.
    const auto timedRun = [&](const std::string& field) {
        StoreBenchAccounts(kAccounts, field, logins);
        QCoreApplication::processEvents(); // what the last run left, outside the timing
        limit.start();
        const double start = ProcessorSeconds();
        form.menu_Checknow_Click();
        const double used = ProcessorSeconds() - start;
        limit.stop();
        return WrongRows(list) == 0 ? used : -1;
    };

    // Paired rounds: which protocol goes first alternates, so a change in the machine's load
    // during the run touches both alike.
    std::vector<double> ratios, imapCpu, pop3Cpu;
    for (int round = 0; round <= kRepeats; ++round) {
        double imapUsed = 0, pop3Used = 0;
        if (round % 2 == 0) {
            imapUsed = timedRun(imap);
            pop3Used = timedRun(pop3);
        } else {
            pop3Used = timedRun(pop3);
            imapUsed = timedRun(imap);
        }
        if (imapUsed < 0 || pop3Used < 0) {
            ReportMissing(kLabel, std::string(imapUsed < 0 ? "IMAP" : "POP3") +
                                      " accounts did not all show their mail");
            return 1;
        }
        if (round == 0)
            continue; // warm-up
        imapCpu.push_back(imapUsed);
        pop3Cpu.push_back(pop3Used);
        ratios.push_back(imapUsed / pop3Used);
    }

    std::printf("(g) %d accounts each, %d Dovecot users with %d unseen messages each, %d paired "
                "rounds:\n    IMAP processor %s ms (%s ms per account), POP3 processor %s ms (%s "
                "ms per account), medians\n",
                kAccounts, kUsers, kMessages, kRepeats, Fixed(Median(imapCpu) * 1000, 1).c_str(),
                Fixed(Median(imapCpu) * 1000 / kAccounts, 3).c_str(),
                Fixed(Median(pop3Cpu) * 1000, 1).c_str(),
                Fixed(Median(pop3Cpu) * 1000 / kAccounts, 3).c_str());
    ReportRounds(kLabel, ratios, 2, "", "<= 1.2", [](double r) { return r <= 1.2; });
    server.stop();
    return 0;
}
