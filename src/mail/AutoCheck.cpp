// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/AutoCheck.h"

#include "store/SettingsStore.h"

#include <cmath>
#include <ctime>
#include <limits>

namespace postlark {

std::int16_t AutoCheckInterval() {
    const auto number = SettingsStore::ParseNumber(SettingsStore::GetValue("AutoCheckValue", "1"));
    if (!number)
        return 1;
    // Fractions round half to even, as the interval field's own conversion does.
    const double minutes = std::nearbyint(*number);
    if (!(minutes >= 0 && minutes <= std::numeric_limits<std::int16_t>::max()))
        return 1;
    return static_cast<std::int16_t>(minutes);
}

namespace {

AutoCheck::Milliseconds Now(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return AutoCheck::Milliseconds(std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

} // namespace

AutoCheck::Clock AutoCheck::SystemClock() {
    // The timer runs on the monotonic clock, which does not advance while the machine sleeps.
    return {[] { return Now(CLOCK_REALTIME); }, [] { return Now(CLOCK_MONOTONIC); }};
}

AutoCheck::AutoCheck(std::int16_t& countdown, std::function<void()> pressCheckButton,
                     std::function<bool()> connected, std::function<bool()> connectionPresent,
                     Clock clock, Defer defer)
    : countdown_(countdown), pressCheckButton_(std::move(pressCheckButton)),
      connected_(std::move(connected)), connectionPresent_(std::move(connectionPresent)),
      clock_(std::move(clock)), defer_(std::move(defer)) {}

bool AutoCheck::WokeOrReconnected() {
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

void AutoCheck::PressIfConnected() {
    if (!SettingsStore::IsFlagOn("CheckConnection", false) || connected_())
        pressCheckButton_();
}

void AutoCheck::CheckNow() {
    if (defer_)
        defer_([this] { PressIfConnected(); });
    else
        PressIfConnected();
}

void AutoCheck::Tick() {
    if (WokeOrReconnected())
        countdown_ = 0;
    // A countdown below 0 can only come from a direct assignment; it is due, like 0.
    if (countdown_ > 0) {
        --countdown_;
        return;
    }
    // The countdown stays at 0 until the press has returned (a run and its alerts included),
    // so a tick during that run finds it due and skips the account being probed.
    auto due = [this] {
        PressIfConnected();
        countdown_ = AutoCheckInterval();
    };
    if (defer_)
        defer_(std::move(due));
    else
        due();
}

} // namespace postlark
