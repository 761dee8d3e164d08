// SPDX-License-Identifier: GPL-3.0-or-later
// The header decoder on arbitrary bytes as a fetched header block:
//  - it never crashes, whatever the encodings, charsets, foldings and addresses;
//  - the sender has at most 100 and the subject at most 200 UTF-16 units, the "…" of a cut
//    text included, and a cut never splits a surrogate pair;
//  - neither holds a control character (C0, DEL, C1) nor a bidirectional override or isolate,
//    and neither begins or ends with a space or holds two in a row.
#include "FuzzSupport.h"
#include "mail/arrivals/HeaderDecoder.h"

#include <cstdint>

namespace {

void CheckDisplayText(const QString& text, qsizetype maxLength, const char* what) {
    const std::string shown = text.toStdString();
    POSTLARK_FUZZ_CHECK(text.size() <= maxLength, what + (": " + shown));
    POSTLARK_FUZZ_CHECK(!text.startsWith(u' ') && !text.endsWith(u' '), shown);
    POSTLARK_FUZZ_CHECK(!text.contains(QLatin1String("  ")), shown);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        POSTLARK_FUZZ_CHECK(c >= 0x20 && (c < 0x7F || c > 0x9F), what + (": " + shown));
        POSTLARK_FUZZ_CHECK(!(c >= 0x202A && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069),
                            what + (": " + shown));
        if (text[i].isHighSurrogate())
            POSTLARK_FUZZ_CHECK(i + 1 < text.size() && text[i + 1].isLowSurrogate(), shown);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray header(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const postlark::ArrivedMessage message = postlark::DecodeHeader("1", header);
    POSTLARK_FUZZ_CHECK(message.id == "1", "");
    CheckDisplayText(message.sender, 100, "sender");
    CheckDisplayText(message.subject, 200, "subject");
    return 0;
}
