// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An account's user name and enciphered password as stored, read by a caller together with
// the account's other values so that a probe need not look at the store again.
#include <string>

namespace postlark {

struct StoredCredentials {
    std::string user;
    std::string storedPassword; // enciphered; deciphered only when the server asks for it
};

} // namespace postlark
