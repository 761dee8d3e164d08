// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/check/WakeWatch.h"

#include <ctime>

namespace postlark {

namespace {

WakeWatch::Milliseconds Now(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return WakeWatch::Milliseconds(std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

} // namespace

WakeWatch::Clock WakeWatch::SystemClock() {
    // The timer runs on the monotonic clock, which does not advance while the machine sleeps.
    return {[] { return Now(CLOCK_REALTIME); }, [] { return Now(CLOCK_MONOTONIC); }};
}

WakeWatch::WakeWatch(std::function<bool()> connectionPresent, Clock clock)
    : connectionPresent_(std::move(connectionPresent)), clock_(std::move(clock)) {}

bool WakeWatch::WokeOrReconnected() {
    const Milliseconds wall = clock_.Wall();
    const Milliseconds timer = clock_.Timer();
    const bool present = connectionPresent_ ? connectionPresent_() : false;
    const bool woke = lastWall_ && (wall - *lastWall_) - (timer - *lastTimer_) > ResumeJump;
    const bool reconnected = lastPresent_ && !*lastPresent_ && present;
    lastWall_ = wall;
    lastTimer_ = timer;
    lastPresent_ = present;
    return woke || reconnected;
}

} // namespace postlark
