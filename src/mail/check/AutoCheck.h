// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Automatic checking: the one-minute tick of the main window's check timer counts a countdown
// of minutes down and, when it has run out, presses the check button (optionally only while
// an Internet connection is present), then sets the countdown afresh.
//
// Beyond the plain countdown, a tick also counts as a checking tick when the machine has just
// resumed from suspend (the wall clock ran ahead of the timer's clock by more than two minutes
// since the last tick) or when the connection state went from none to some, so a laptop that
// wakes up learns about its mail within a minute instead of after a full interval.
#include "mail/check/WakeWatch.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace postlark {

// The stored interval in minutes (`AutoCheckValue`) as the countdown's start value: a whole
// number from 0 ("every minute") to 32767; empty, non-numeric, negative or larger values read
// as the default 1. Every reader of the interval uses this.
std::int16_t AutoCheckInterval();

class AutoCheck {
public:
    using Milliseconds = std::chrono::milliseconds;
    using Clock = WakeWatch::Clock;
    static Clock SystemClock() { return WakeWatch::SystemClock(); }
    static constexpr Milliseconds ResumeJump = WakeWatch::ResumeJump;

    // Runs a piece of work later, after the tick's handler has returned. The main window
    // posts it to its event queue: a run started from a tick then waits outside the timer's
    // handler, so the timer's next tick is delivered during the run and can skip an account
    // that hangs. Without one, the work runs inside the tick.
    using Defer = std::function<void(std::function<void()>)>;

    // `countdown` is the main window's `UpdateIntervalMins`; `pressCheckButton` presses the
    // check button (it starts a run, or skips the account being probed while one runs);
    // `connected` reads the connection probe (it may request test pages); `connectionPresent`
    // is the cheap "is there any connection at all" of the operating system, read every tick.
    AutoCheck(std::int16_t& countdown, std::function<void()> pressCheckButton,
              std::function<bool()> connected, std::function<bool()> connectionPresent,
              Clock clock = SystemClock(), Defer defer = {});

    // The timer's tick.
    void Tick();
    // One automatic check outside the countdown (the check when the program starts): the
    // button is pressed, as a due tick presses it, when the connection condition allows; the
    // countdown is left as it is.
    void CheckNow();

private:
    // Presses the check button unless "CheckConnection" is on and there is no connection.
    void PressIfConnected();

    std::int16_t& countdown_;
    std::function<void()> pressCheckButton_;
    std::function<bool()> connected_;
    WakeWatch wake_; // a tick after a resume or reconnection checks whatever the countdown says
    Defer defer_;
};

} // namespace postlark
