// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The new-mail alerts, each as the user's settings choose: launch the accounts' programs,
// flash the tray icon, play the new-mail sound, bring the window forward, show a message.
#include <cstdint>
#include <vector>

namespace postlark {

class AlertTarget;

// `results` holds the check result of each account (1 = new mail).
void GotMail(AlertTarget& target, const std::vector<std::int16_t>& results);

} // namespace postlark
