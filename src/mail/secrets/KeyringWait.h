// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waits for a keyring's answer, sleeping in the event dispatcher (events are handled
// meanwhile, as in every wait of the program).
#include "mail/secrets/Keyring.h"

namespace postlark {

// Calls start(done) and returns the result it is given.
KeyringResult WaitForKeyring(const std::function<void(Keyring::Done)>& start);

KeyringResult ReadAndWait(Keyring& keyring, const QString& service, const QString& key);
KeyringResult WriteAndWait(Keyring& keyring, const QString& service, const QString& key,
                           const QString& secret);
KeyringResult DeleteAndWait(Keyring& keyring, const QString& service, const QString& key);

} // namespace postlark
