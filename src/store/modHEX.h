// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hexadecimal text for single-byte text: each byte becomes two upper-case hex digits (00 to
// FF), consecutive pairs separated by a separator. Conversion goes through lookup tables that
// are built once, on first use.
#include <string>

namespace postlark::modHEX {

// The raised error when a pair holds anything but 0-9 and A-F.
inline constexpr long InvalidHexDigit = 9;

// Builds the tables; every other routine calls it, so calling it yourself is optional.
void InitHexTables();

// The hex text of `text`: 2m + s(m - 1) characters for m bytes and a separator of length s,
// every separator position filled with the separator's first character. An empty text gives
// an empty hex text.
std::string HexEncode(const std::string& text, const std::string& separator);

// The bytes of a hex text whose pairs are s = `separatorLength` characters apart. The number
// of pairs is 1 for a text of exactly two characters, otherwise (length + s) / (s + 2)
// rounded down; pair k starts at character k(s + 2) (counting from 0), and the characters
// between pairs are not looked at. A pair with a character other than 0-9 and A-F
// raises RuntimeError InvalidHexDigit.
std::string HexDecode(const std::string& hexText, int separatorLength);

} // namespace postlark::modHEX
