// SPDX-License-Identifier: GPL-3.0-or-later
// Push with 20 IMAP accounts on a local Dovecot server, through the main window (offscreen):
// (h1) the time from a delivery (a message moved into the user's new/ folder) to the account's
// row showing the new count, over 20 deliveries, one per account; (h2) the process's context
// switches per minute (every thread, voluntary and not) while all 20 watchers wait in IDLE;
// (h3) resident memory per watched account: the growth from switching push on until every
// account is counted, divided by the accounts.
#include "BenchAccounts.h"
#include "Figures.h"
#include "app/PostlarkForm.h"
#include "mail/push/PushWatchers.h"
#include "platform/system/EventDispatcherChoice.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <map>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 20;
constexpr int kMessages = 1; // unseen in each mailbox at the start
// The quiet spell of (h2), scaled to a minute: one whole period of the server's keepalive.
// Dovecot sends every IDLE client "* OK Still here" every two minutes, each at a moment of
// the period fixed by the clock and the client, so a shorter spell catches all, some or none
// of those 20 wake-ups, by chance.
constexpr int kIdleSeconds = 120;
constexpr int kSettleMs = 5000; // before it: the start-up's last answers have come
const char* const kLatency = "(h1) delivery to row text, median of 20 deliveries";
const char* const kSwitches = "(h2) context switches per minute, 20 watchers idle";
const char* const kMemory = "(h3) resident memory per watched account";

// A field of /proc/self/status or /proc/self/task/N/status, as a number.
long StatusField(const QString& path, const QByteArray& name) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// Context switches so far, by thread.
std::map<QString, long> ContextSwitches() {
    std::map<QString, long> switches;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString status = tasks.filePath(task) + QStringLiteral("/status");
        switches[task] = StatusField(status, "voluntary_ctxt_switches") +
                         StatusField(status, "nonvoluntary_ctxt_switches");
    }
    return switches;
}

// The switches between two readings: a thread's growth, or all of a thread started meanwhile
// (a thread that ended meanwhile is not counted).
long SwitchesBetween(const std::map<QString, long>& before, const std::map<QString, long>& after) {
    long total = 0;
    for (const auto& [task, count] : after) {
        const auto earlier = before.find(task);
        total += count - (earlier == before.end() ? 0 : earlier->second);
    }
    return total;
}

// Sleeps in the event loop until the condition holds or the time is up.
template <typename Condition> bool WaitUntil(Condition condition, int ms) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(10);
    if (!condition())
        loop.exec();
    return condition();
}

void Sleep(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment;
    ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);

    QString why;
    if (!test::DovecotServer::Available(&why)) {
        ReportMissing(kLatency, why.toStdString());
        return 1;
    }
    test::DovecotServer::Options options;
    std::vector<Pop3Login> logins;
    for (int u = 0; u < kAccounts; ++u) {
        const QString name = QStringLiteral("push%1").arg(u);
        const QString password = QStringLiteral("pw-%1-push").arg(u);
        options.users << test::DovecotUser{name, password, kMessages};
        logins.push_back({name.toStdString(), password.toStdString()});
    }
    options.imap = true;
    test::DovecotServer server(options);
    if (!server.start(&why)) {
        ReportMissing(kLatency, "Dovecot did not start");
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    StoreBenchAccounts(kAccounts, "imap+insecure://127.0.0.1:" + std::to_string(server.imapPort()),
                       logins);
    SettingsStore::SaveValue("ImapPush", "0");

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kLatency, "the main window did not load");
        return 1;
    }
    auto* list = form.findChild<QTreeWidget*>("AccountList");
    const auto cell = [&](int row) { return list->topLevelItem(row)->text(1); };
    const auto allShow = [&](const QString& text) {
        for (int i = 0; i < kAccounts; ++i) {
            if (cell(i) != text)
                return false;
        }
        return true;
    };

    // (h3) The window with its accounts and push off, settled; then push on until every
    // account shows its count, settled again.
    Sleep(1000);
    const long before = StatusField(QStringLiteral("/proc/self/status"), "VmRSS");
    SettingsStore::SaveValue("ImapPush", "1");
    form.ApplyImapPush();
    const QString first = QStringLiteral("Yes, %1").arg(kMessages);
    if (!WaitUntil([&] { return allShow(first); }, 20000)) {
        ReportMissing(kLatency, "not every account was counted within 20 s");
        return 1;
    }
    Sleep(1000);
    const long after = StatusField(QStringLiteral("/proc/self/status"), "VmRSS");

    // (h2) Everyone waits in IDLE. The server's own follow-up of the first look at each
    // mailbox (it may tell the other sessions of a user about mail it has just moved from
    // new/ to cur/) comes within the first seconds; idle starts after it.
    Sleep(kSettleMs);
    const auto switchesBefore = ContextSwitches();
    Sleep(kIdleSeconds * 1000);
    const long switches = SwitchesBetween(switchesBefore, ContextSwitches());

    // (h1) One delivery per account, each timed until its row shows the new count.
    std::vector<double> latencies;
    for (int i = 0; i < kAccounts; ++i) {
        const QString expected = QStringLiteral("Yes, %1").arg(kMessages + 1);
        QElapsedTimer clock;
        clock.start();
        if (!server.deliver(QStringLiteral("push%1").arg(i), 1000 + i)) {
            ReportMissing(kLatency, "a delivery could not be written");
            return 1;
        }
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        const auto watch =
            QObject::connect(list->model(), &QAbstractItemModel::dataChanged, &loop, [&] {
                if (cell(i) == expected)
                    loop.quit();
            });
        if (cell(i) != expected)
            loop.exec();
        QObject::disconnect(watch);
        if (cell(i) != expected) {
            ReportMissing(kLatency, "a delivery did not show within 10 s");
            return 1;
        }
        latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
        Sleep(200);
    }

    std::printf("(h) %d IMAP accounts with push on one Dovecot, offscreen window; alerts to the "
                "status bar only\n",
                kAccounts);
    ReportRounds(kLatency, latencies, 1, " ms", "<= 1000 ms", [](double ms) { return ms <= 1000; });
    const double perMinute = double(switches) * 60.0 / kIdleSeconds;
    ReportFigure(kSwitches,
                 Fixed(perMinute, 1) + " (" + std::to_string(switches) + " in " +
                     std::to_string(kIdleSeconds) + " s, every thread)",
                 "<= 20", perMinute <= 20);
    const double perAccount = double(after - before) / kAccounts;
    ReportFigure(kMemory,
                 Fixed(perAccount, 1) + " KiB (VmRSS " + std::to_string(before) + " -> " +
                     std::to_string(after) + " KiB)",
                 "<= 100 KiB", perAccount <= 100);
    server.stop();
    return 0;
}
