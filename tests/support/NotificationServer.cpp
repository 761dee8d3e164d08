// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/NotificationServer.h"

#include <QRegularExpression>
#include <QStandardPaths>

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

NotificationServer::NotificationServer(const XServer* x, bool markup) {
    failure_ = missingPrograms();
    if (!failure_.isEmpty())
        return;
    bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    XServer::waitUntil([&] { return bus_.canReadLine() || bus_.state() == QProcess::NotRunning; },
                       kStartTimeoutMs);
    address_ = QString::fromLocal8Bit(bus_.readLine()).trimmed();
    if (address_.isEmpty()) {
        failure_ = "dbus-daemon did not start";
        return;
    }
    environment_ = environment(x ? x->environment() : QProcessEnvironment::systemEnvironment());
    if (!x)
        return;
    server_.setProcessEnvironment(environment_);
    server_.setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(&server_, &QProcess::readyReadStandardOutput,
                     [this] { printed_ += server_.readAllStandardOutput(); });
    // Notifications stay until they are chosen or replaced, however slow the machine.
    config_.open();
    config_.write(markup ? "[global]\nmarkup = full\n" : "[global]\nmarkup = no\n");
    config_.write("[urgency_low]\ntimeout = 0\n"
                  "[urgency_normal]\ntimeout = 0\n"
                  "[urgency_critical]\ntimeout = 0\n");
    config_.flush();
    server_.start("dunst", {"-config", config_.fileName(), "-print"});
    // Up once it answers its own control interface on the bus.
    if (!XServer::waitUntil(
            [&] {
                return server_.state() == QProcess::NotRunning ||
                       !dunstctl({"is-paused"}).isEmpty();
            },
            kStartTimeoutMs) ||
        server_.state() == QProcess::NotRunning)
        failure_ = "dunst did not start";
}

NotificationServer::~NotificationServer() {
    Stop(server_);
    Stop(bus_);
}

QString NotificationServer::missingPrograms() {
    QStringList missing;
    for (const char* program : {"dbus-daemon", "dunst", "dunstctl"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing << program;
    return missing.isEmpty() ? QString() : "not installed: " + missing.join(", ");
}

QProcessEnvironment NotificationServer::environment(QProcessEnvironment base) const {
    base.insert("DBUS_SESSION_BUS_ADDRESS", address_);
    return base;
}

QString NotificationServer::dunstctl(const QStringList& arguments) const {
    QProcess control;
    control.setProcessEnvironment(environment_);
    control.start("dunstctl", arguments);
    if (!control.waitForFinished(5000) || control.exitCode() != 0) {
        control.kill();
        control.waitForFinished(1000);
        return {};
    }
    return QString::fromLocal8Bit(control.readAllStandardOutput());
}

QList<NotificationServer::Notification> NotificationServer::received() {
    printed_ += server_.readAllStandardOutput();
    // dunst prints each notification as a block of "name: value" lines; the body may span
    // several lines.
    static const QRegularExpression block(
        R"(appname: '(.*?)'\n\tsummary: '(.*?)'\n\tbody: '(.*?)'\n\ticon: .*?)"
        R"(raw_icon set: (true|false)\n.*?\n\tid: (\d+)\n\tactions: \{\n(.*?)\t\})",
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression action(R"re(\t\t"(.*?)": )re");
    QList<Notification> list;
    auto it = block.globalMatch(QString::fromUtf8(printed_));
    while (it.hasNext()) {
        const auto match = it.next();
        QStringList actions;
        for (auto names = action.globalMatch(match.captured(6)); names.hasNext();)
            actions << names.next().captured(1);
        list.append({match.captured(1), match.captured(2), match.captured(3),
                     match.captured(5).toUInt(), match.captured(4) == "true", actions});
    }
    return list;
}

bool NotificationServer::waitForReceived(int count, int timeoutMs) {
    return XServer::waitUntil([&] { return received().size() >= count; }, timeoutMs);
}

bool NotificationServer::invokeDefaultAction() {
    QProcess control;
    control.setProcessEnvironment(environment_);
    control.start("dunstctl", {"action"});
    return control.waitForFinished(5000) && control.exitCode() == 0;
}

} // namespace postlark::test
