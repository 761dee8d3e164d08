// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/ApplicationKey.h"

#include <array>

namespace postlark {

namespace {

// Printable codes whose key sum (309) leaves every character code 0-255 a three-digit group.
// Kept as ints so that the program file never holds the key as a run of bytes.
constexpr std::array<int, 20> KeyCodes = {65, 86, 48, 79,  37, 67, 118, 58,  74, 42,
                                          99, 49, 79, 126, 57, 55, 66,  102, 76, 106};

} // namespace

std::string BuildApplicationKey() {
    std::string key;
    key.reserve(KeyCodes.size());
    for (const int code : KeyCodes)
        key += static_cast<char>(code);
    return key;
}

} // namespace postlark
