// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/AnsiText.h"

#include <array>

namespace postlark {

namespace {

// Unicode code points of bytes 0x80-0x9F; the rest of the byte range equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ByteToUnicode(unsigned char b) {
    return (b >= 0x80 && b <= 0x9F) ? kHighControls[b - 0x80] : char16_t(b);
}

int UnicodeToByte(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == u)
            return 0x80 + i;
    return -1;
}

} // namespace

QString AnsiToQString(std::string_view bytes) {
    // Made at its final size and filled in place: the account list converts every address.
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* to = out.data();
    for (const unsigned char b : bytes)
        *to++ = QChar(ByteToUnicode(b));
    return out;
}

bool FitsAnsi(const QString& text) {
    for (QChar c : text)
        if (UnicodeToByte(c.unicode()) < 0)
            return false;
    return true;
}

std::string QStringToAnsi(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) {
        const int b = UnicodeToByte(c.unicode());
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

} // namespace postlark
