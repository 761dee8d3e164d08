// SPDX-License-Identifier: GPL-3.0-or-later
// Hex text of single-byte text, under arbitrary texts, separators and hex texts.
//  - HexEncode gives 2m + s(m - 1) characters for m bytes: upper-case hex pairs, and the
//    separator's first character in every separator position; HexDecode with the separator's
//    length gives the bytes back, whatever the separator holds.
//  - HexDecode of any text and any separator length either raises the invalid-digit error
//    (nothing else) or returns one byte per pair, and enciphering those bytes again gives the
//    same pairs at the same places.
#include "FuzzSupport.h"
#include "platform/base/RuntimeError.h"
#include "store/modHEX.h"

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

using postlark::modHEX::HexDecode;
using postlark::modHEX::HexEncode;

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int separatorLength = input.ConsumeIntegralInRange(-2, 6);
    const std::string separator = input.ConsumeRandomLengthString(4);
    const std::string text = input.ConsumeRemainingBytesAsString();

    // The text as bytes.
    const std::string hex = HexEncode(text, separator);
    const std::size_t m = text.size(), s = separator.size();
    POSTLARK_FUZZ_CHECK(hex.size() == (m == 0 ? 0 : 2 * m + s * (m - 1)), text);
    for (std::size_t i = 0; i < hex.size(); ++i) {
        const bool pair = i % (s + 2) < 2;
        POSTLARK_FUZZ_CHECK(pair ? IsHexDigit(hex[i]) : hex[i] == separator.front(), hex);
    }
    POSTLARK_FUZZ_CHECK(HexDecode(hex, static_cast<int>(s)) == text, hex);

    // The text as hex.
    try {
        const std::string bytes = HexDecode(text, separatorLength);
        const std::size_t stride = static_cast<std::size_t>(std::max(separatorLength, 0)) + 2;
        const std::size_t pairs = text.size() == 2 ? 1 : (text.size() + stride - 2) / stride;
        POSTLARK_FUZZ_CHECK(bytes.size() == pairs, text);
        const std::string again = HexEncode(bytes, std::string(stride - 2, ' '));
        for (std::size_t k = 0; k < pairs; ++k) {
            POSTLARK_FUZZ_CHECK(again.compare(k * stride, 2, text, k * stride, 2) == 0, text);
        }
    } catch (const postlark::RuntimeError& error) {
        POSTLARK_FUZZ_CHECK(error.Number == postlark::modHEX::InvalidHexDigit, error.Description);
    }
    return 0;
}
