// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sleeps in the event loop until a condition holds or the time is up; whether it holds.
#include <QEventLoop>
#include <QTimer>

namespace postlark::test {

template <typename Condition> bool WaitUntil(Condition condition, int ms = 5000) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(5);
    if (!condition())
        loop.exec();
    return condition();
}

} // namespace postlark::test
