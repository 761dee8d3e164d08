// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The key every stored password is enciphered with.
#include <string>

namespace postlark {

// Builds the 20-character application key from its character codes, so that the key never
// stands as a literal in the program file. The key must never change: every stored password
// depends on it.
std::string BuildApplicationKey();

} // namespace postlark
