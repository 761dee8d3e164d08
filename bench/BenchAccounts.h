// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fills the settings store (wherever XDG_CONFIG_HOME points) with accounts for a benchmark,
// the way the account dialogs store them: AddAccount, passwords enciphered with the
// application key.
#include "BlockingPop3Client.h"

#include <string>
#include <vector>

namespace postlark::bench {

// Stores `count` accounts on the server field `pop`; account i logs in as
// logins[i % logins.size()]. Alerts are limited to the status bar (no message box), so a
// run with mail never waits for the user; push is off.
void StoreBenchAccounts(int count, const std::string& pop, const std::vector<Pop3Login>& logins);

} // namespace postlark::bench
