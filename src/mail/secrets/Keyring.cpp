// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/Keyring.h"

#include "mail/secrets/KeychainKeyring.h"

namespace postlark {

namespace {

Keyring* standIn = nullptr;

} // namespace

Keyring& SystemKeyring() {
    static KeychainKeyring desktop;
    return standIn ? *standIn : desktop;
}

void UseKeyringForTests(Keyring* keyring) {
    standIn = keyring;
}

} // namespace postlark
