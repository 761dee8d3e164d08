// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test helpers for the socket: a log of its signals and a bounded wait in an event loop.
#include "platform/net/Winsock.h"

#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace postlark::test {

// Records every signal of a socket as text: "state 7", "data 12", "peer", "error 10061".
struct SocketEvents {
    explicit SocketEvents(Winsock& socket) {
        QObject::connect(&socket, &Winsock::StateChanged, &socket,
                         [this](int s) { log << QStringLiteral("state %1").arg(s); });
        QObject::connect(&socket, &Winsock::DataArrival, &socket,
                         [this](qint64 n) { log << QStringLiteral("data %1").arg(n); });
        QObject::connect(&socket, &Winsock::PeerClosed, &socket,
                         [this] { log << QStringLiteral("peer"); });
        QObject::connect(&socket, &Winsock::ErrorOccurred, &socket, [this](int n, const QString&) {
            log << QStringLiteral("error %1").arg(n);
        });
    }
    bool has(const QString& entry) const { return log.contains(entry); }
    QStringList log;
};

// Sleeps in an event loop, looking at the condition every few milliseconds, until it holds
// or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(5);
    timeout.start(timeoutMs);
    loop.exec();
    return done();
}

// Lets the event loop run for a while (to see that nothing more happens).
inline void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace postlark::test
