// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Tells, when asked once a minute, whether the machine has just resumed from suspend (the
// wall clock ran ahead of the timer's clock by more than two minutes since the last question)
// or a network connection has come up where there was none. Automatic checking checks early
// on either; the push watchers reconnect.
#include <chrono>
#include <functional>
#include <optional>

namespace postlark {

class WakeWatch {
public:
    using Milliseconds = std::chrono::milliseconds;
    // Two clocks: the wall clock, which runs on while the machine sleeps, and the clock the
    // timer runs on, which stops while it sleeps.
    struct Clock {
        std::function<Milliseconds()> Wall;
        std::function<Milliseconds()> Timer;
    };
    // The real clocks: real-time and monotonic.
    static Clock SystemClock();
    // How far the wall clock must run ahead of the timer between two questions to count as a
    // resume.
    static constexpr Milliseconds ResumeJump = std::chrono::minutes(2);

    // `connectionPresent` is the cheap "is there any connection at all" of the system.
    WakeWatch(std::function<bool()> connectionPresent, Clock clock = SystemClock());

    // True when the machine woke or a connection came up since the last call; records this one.
    bool WokeOrReconnected();

private:
    std::function<bool()> connectionPresent_;
    Clock clock_;
    std::optional<Milliseconds> lastWall_;
    std::optional<Milliseconds> lastTimer_;
    std::optional<bool> lastPresent_;
};

} // namespace postlark
