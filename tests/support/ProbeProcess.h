// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Talking to a child test program that answers one line per command on its standard output
// (the real-display tests run their windows in such a child).
#include "support/XServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>

namespace postlark::test {

// Generous: under the sanitizers on a loaded two-core machine a window can take many seconds to
// appear. Every wait ends as soon as the awaited line arrives.
inline constexpr int kProbeTimeoutMs = 30000;

// The next line the child prints, or empty when none came in time.
inline QString NextLine(QProcess& probe) {
    if (!XServer::waitUntil([&] { return probe.canReadLine(); }, kProbeTimeoutMs))
        return {};
    return QString::fromLocal8Bit(probe.readLine()).trimmed();
}

// Sends a command line and returns the child's answer.
inline QString Ask(QProcess& probe, const char* command) {
    probe.write(QByteArray(command) + "\n");
    return NextLine(probe);
}

// Lets events run for a while.
inline void Pause(int ms) {
    QElapsedTimer clock;
    clock.start();
    XServer::waitUntil([&] { return clock.hasExpired(ms); }, ms + 1000);
}

} // namespace postlark::test
