// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the desktop's Secret Service says of its default keyring, asked on the session bus
// when a keyring request has failed: the library's own errors do not tell a locked keyring
// from a missing item, nor a missing service from other faults.
#include <functional>

namespace postlark {

enum class SecretServiceState {
    Absent, // no session bus, or no Secret Service on it
    Locked, // the default keyring is locked, or there is none yet (it would take a prompt)
    Open,   // the default keyring is unlocked
};

// Asks, and answers once through `done`, later, from the event loop.
void AskSecretServiceState(std::function<void(SecretServiceState)> done);

} // namespace postlark
