// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/push/PushClock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace postlark {

namespace {

class SystemTimer : public PushTimer {
public:
    explicit SystemTimer(std::function<void()> fire) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(fire));
    }
    void Start(std::chrono::milliseconds interval) override {
        // Waits of a minute or more may end up to a second late: the system can bundle the
        // wake-up with others instead of waking for each.
        timer_.setTimerType(interval >= std::chrono::minutes(1) ? Qt::VeryCoarseTimer
                                                                : Qt::CoarseTimer);
        timer_.start(interval);
    }
    void Stop() override { timer_.stop(); }
    bool Active() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

class SystemClock : public PushClock {
public:
    SystemClock() { started_.start(); }
    std::chrono::milliseconds Now() const override {
        return std::chrono::milliseconds(started_.elapsed());
    }
    std::unique_ptr<PushTimer> NewTimer(std::function<void()> fire) override {
        return std::make_unique<SystemTimer>(std::move(fire));
    }

private:
    QElapsedTimer started_;
};

} // namespace

PushClock& PushClock::System() {
    static SystemClock clock;
    return clock;
}

} // namespace postlark
