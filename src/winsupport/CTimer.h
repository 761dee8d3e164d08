// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A timer object that needs no window: while its Interval is above 0 it runs a system timer
// and raises ThatTime each time that timer fires. A running timer is held by MTimer's table,
// so it stays alive even when its owner lets go of it; setting Interval to 0 releases it.
#include <QObject>
#include <QVariant>

#include <cstdint>
#include <memory>

namespace postlark {

class CTimer : public QObject, public std::enable_shared_from_this<CTimer> {
    Q_OBJECT

public:
    // Timers are always shared: the table of running timers keeps a counted reference.
    static std::shared_ptr<CTimer> Create();
    ~CTimer() override;

    // Gets/sets a piece of additional data to store with the timer.
    QVariant Item;

    // Gets/sets the interval at which the timer fires.  Set to zero to stop the timer.
    // Raises 13652 when no system timer can be made (the interval then reads 0) and 13651 when
    // the table of running timers is full (the interval keeps the new value, nothing runs).
    std::int32_t Interval() const { return interval_; }
    void Interval(std::int32_t iIntervalA);

    void PulseTimer();

signals:
    // Raised when the timer fires.
    void ThatTime();

private:
    friend class MTimer;

    CTimer() = default;

    std::uintptr_t TimerID() const { return timerId_; }
    void TimerID(std::uintptr_t id) { timerId_ = id; }
    [[noreturn]] static void RaiseTimerError(long code);

    std::int32_t interval_ = 0;
    std::uintptr_t timerId_ = 0;
};

} // namespace postlark
