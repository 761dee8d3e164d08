// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/modHEX.h"

#include "platform/base/RuntimeError.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>

namespace postlark::modHEX {

namespace {

// The pair table "000102...FEFF": the digits of byte b at positions 2b and 2b + 1.
struct Tables {
    std::array<char, 256> first{};
    std::array<char, 256> second{};
    // Indexed by the two digits' offsets from '0' ('0'..'F' is 23 characters); -1 where
    // either character is one of the seven between '9' and 'A'.
    std::array<std::array<std::int16_t, 23>, 23> reverse{};
};

Tables& TheTables() {
    static Tables tables;
    return tables;
}

std::once_flag built;

void Build() {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string pairs;
    pairs.reserve(512);
    for (int b = 0; b < 256; ++b) {
        pairs += digits[b >> 4];
        pairs += digits[b & 0x0F];
    }
    Tables& t = TheTables();
    for (int b = 0; b < 256; ++b) {
        t.first[b] = pairs[2 * b];
        t.second[b] = pairs[2 * b + 1];
    }
    for (auto& row : t.reverse)
        row.fill(-1);
    for (int b = 0; b < 256; ++b)
        t.reverse[t.first[b] - '0'][t.second[b] - '0'] = static_cast<std::int16_t>(b);
}

int Offset(char c) {
    const int offset = static_cast<unsigned char>(c) - '0';
    return offset >= 0 && offset < 23 ? offset : -1;
}

} // namespace

void InitHexTables() {
    std::call_once(built, Build);
}

std::string HexEncode(const std::string& text, const std::string& separator) {
    InitHexTables();
    const Tables& t = TheTables();
    if (text.empty())
        return {};
    // Made at its final size and filled in place: a back-up encodes every stored password.
    std::string hex(2 * text.size() + separator.size() * (text.size() - 1), '\0');
    char* out = hex.data();
    const auto pair = [&](char c) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = t.first[b];
        *out++ = t.second[b];
    };
    pair(text.front());
    if (separator.size() == 1) { // the common case, written three characters at a time
        const char gap = separator.front();
        for (std::size_t i = 1; i < text.size(); ++i) {
            *out++ = gap;
            pair(text[i]);
        }
        return hex;
    }
    for (std::size_t i = 1; i < text.size(); ++i) {
        out = std::fill_n(out, separator.size(), separator.empty() ? ' ' : separator.front());
        pair(text[i]);
    }
    return hex;
}

std::string HexDecode(const std::string& hexText, int separatorLength) {
    InitHexTables();
    const Tables& t = TheTables();
    const std::size_t stride = static_cast<std::size_t>(std::max(separatorLength, 0)) + 2;
    // m pairs take 2m + s(m - 1) characters, so a text of n characters holds (n + s) / (s + 2)
    // whole pairs. (With s = 1 this is (n + 1) / 3; taking n + 1 for other separator lengths
    // would drop the last pair when s > 1.)
    const std::size_t pairs = hexText.size() == 2 ? 1 : (hexText.size() + stride - 2) / stride;
    std::string text;
    text.reserve(pairs);
    for (std::size_t k = 0; k < pairs; ++k) {
        const int high = Offset(hexText[k * stride]);
        const int low = Offset(hexText[k * stride + 1]);
        const int b = high < 0 || low < 0 ? -1 : t.reverse[high][low];
        if (b < 0)
            throw RuntimeError(InvalidHexDigit,
                               "Invalid hex digit in pair " + std::to_string(k + 1), "modHEX");
        text += static_cast<char>(b);
    }
    return text;
}

} // namespace postlark::modHEX
