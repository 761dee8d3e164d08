// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The time source of the push watchers: the monotonic clock and one-shot timers. The program
// uses the system's; tests give a clock they advance by hand, so waits of minutes take none.
#include <chrono>
#include <functional>
#include <memory>

namespace postlark {

// A one-shot timer: Start runs the handler once after the interval unless stopped first.
class PushTimer {
public:
    virtual ~PushTimer() = default;
    // Starts afresh (a running timer is restarted).
    virtual void Start(std::chrono::milliseconds interval) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};

class PushClock {
public:
    virtual ~PushClock() = default;
    // Time on a clock that never goes back.
    virtual std::chrono::milliseconds Now() const = 0;
    // A timer whose handler runs from the event loop.
    virtual std::unique_ptr<PushTimer> NewTimer(std::function<void()> fire) = 0;

    // The real one: the monotonic clock and event-loop timers.
    static PushClock& System();
};

} // namespace postlark
