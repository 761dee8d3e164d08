// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Names in profile files (sections, keys) compare with ASCII letters in either case, whatever
// the locale: the same comparison for the profile engine, the settings store and backups.
#include <algorithm>
#include <string_view>

namespace postlark {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names mostly match byte for byte (text written by this program): compared whole first,
// letter by letter only when that fails.
inline bool SameAsciiLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           (a == b || std::equal(a.begin(), a.end(), b.begin(),
                                 [](char x, char y) { return AsciiLower(x) == AsciiLower(y); }));
}

} // namespace postlark
