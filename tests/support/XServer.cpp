// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/XServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace postlark::test {

namespace {

constexpr int kStartTimeoutMs = 10000;

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

XServer::XServer(Options options) {
    failure_ = missingPrograms(options);
    if (!failure_.isEmpty())
        return;
    if (startServer() && (!options.windowManager || startWindowManager()))
        (void)(!options.trayHost || startTrayHost());
}

XServer::~XServer() {
    for (auto it = clients_.rbegin(); it != clients_.rend(); ++it)
        Stop(**it);
    if (server_)
        Stop(*server_);
}

bool XServer::requiredToRun() {
    const QString ci = qEnvironmentVariable("CI").trimmed();
    return ci.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || ci == QLatin1String("1");
}

QString XServer::missingPrograms(Options options, const QStringList& extra) {
    QStringList needed{"Xvfb", "xwininfo", "xprop"};
    needed << extra;
    if (options.windowManager)
        needed << "openbox";
    if (options.trayHost)
        needed << "trayer";
    QStringList missing;
    for (const QString& program : needed) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing << program;
    }
    return missing.isEmpty() ? QString() : "not installed: " + missing.join(", ");
}

QProcessEnvironment XServer::environment() const {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/postlark-test-no-bus");
    env.remove("WAYLAND_DISPLAY");
    env.remove("XAUTHORITY");
    return env;
}

QString XServer::run(const QString& program, const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool XServer::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QEventLoop pause;
        QTimer::singleShot(50, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return true;
}

bool XServer::startServer() {
    // A display is claimed through its lock file, which only one of several servers starting
    // at once can create. (Xvfb's own -displayfd search can hand two concurrent servers the
    // same display, and the loser's clients then end up on the winner's screen.)
    static int next = 100 + int(QCoreApplication::applicationPid() % 400);
    for (int attempt = 0; attempt < 40; ++attempt) {
        const int number = next;
        next = next >= 999 ? 100 : next + 1;
        const QString lock = QStringLiteral("/tmp/.X%1-lock").arg(number);
        if (QFile::exists(lock) || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        server_ = std::make_unique<QProcess>();
        server_->setStandardOutputFile(QProcess::nullDevice());
        server_->setStandardErrorFile(QProcess::nullDevice());
        server_->start("Xvfb", {":" + QString::number(number), "-nolisten", "tcp", "-screen", "0",
                                "1024x768x24"});
        display_ = ":" + QString::number(number);
        const auto ours = [&] {
            QFile file(lock);
            return file.open(QIODevice::ReadOnly) &&
                   file.readAll().trimmed().toLongLong() == server_->processId();
        };
        // Up once the lock is ours and the server answers; a server that lost the display
        // exits, and the next number is tried.
        waitUntil(
            [&] {
                return server_->state() == QProcess::NotRunning ||
                       (ours() &&
                        !run("xprop", {"-root", "-len", "0", "RESOURCE_MANAGER"}).isEmpty());
            },
            kStartTimeoutMs);
        if (server_->state() != QProcess::NotRunning && ours())
            return true;
        Stop(*server_);
        server_.reset();
    }
    display_.clear();
    failure_ = "Xvfb did not start";
    return false;
}

QProcess* XServer::startClient(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    clients_.push_back(std::move(process));
    return clients_.back().get();
}

bool XServer::startWindowManager() {
    QProcess* openbox = startClient("openbox", {"--sm-disable"});
    int restarts = 0;
    // A running window manager names itself on the root window.
    const bool up = waitUntil(
        [&] {
            // One that lost a start-up race on a busy machine gets another go, like the tray host.
            if (openbox->state() == QProcess::NotRunning && restarts < 3) {
                ++restarts;
                openbox = startClient("openbox", {"--sm-disable"});
            }
            return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
        },
        kStartTimeoutMs);
    if (!up)
        failure_ = QStringLiteral("openbox did not start (%1 restarts)").arg(restarts);
    return up;
}

bool XServer::startTrayHost() {
    const QStringList arguments = {"--edge",       "top",   "--align",  "right",
                                   "--widthtype",  "pixel", "--width",  "200",
                                   "--heighttype", "pixel", "--height", "32"};
    QProcess* trayer = startClient("trayer", arguments);
    int restarts = 0;
    static const QRegularExpression panel(R"(^\s*(0x[0-9a-f]+) "panel": \("panel" "trayer"\))",
                                          QRegularExpression::MultilineOption);
    const bool up = waitUntil(
        [&] {
            // A tray host that lost a start-up race on a busy machine gets another go.
            if (trayer->state() == QProcess::NotRunning && restarts < 3) {
                ++restarts;
                trayer = startClient("trayer", arguments);
            }
            const auto match = panel.match(run("xwininfo", {"-root", "-tree"}));
            if (match.hasMatch())
                trayWindow_ = match.captured(1);
            return match.hasMatch();
        },
        kStartTimeoutMs);
    if (!up)
        failure_ = QStringLiteral("trayer did not start (%1 restarts)").arg(restarts);
    return up;
}

} // namespace postlark::test
