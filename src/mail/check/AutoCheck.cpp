// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/check/AutoCheck.h"

#include "store/SettingsStore.h"

#include <cmath>
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

AutoCheck::AutoCheck(std::int16_t& countdown, std::function<void()> pressCheckButton,
                     std::function<bool()> connected, std::function<bool()> connectionPresent,
                     Clock clock, Defer defer)
    : countdown_(countdown), pressCheckButton_(std::move(pressCheckButton)),
      connected_(std::move(connected)), wake_(std::move(connectionPresent), std::move(clock)),
      defer_(std::move(defer)) {}

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
    if (wake_.WokeOrReconnected())
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
