// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/DisplayText.h"

#include <algorithm>

namespace postlark {

namespace {

bool IsLineSpace(char16_t c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool IsRemoved(char16_t c) {
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    const bool bidi = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    return control || bidi;
}

} // namespace

QString DisplayText(const QString& decoded, qsizetype maxLength) {
    QString text;
    text.reserve(std::min(decoded.size(), maxLength + 1));
    bool pendingSpace = false;
    for (const QChar ch : decoded) {
        const char16_t c = ch.unicode();
        if (IsLineSpace(c)) {
            pendingSpace = !text.isEmpty();
            continue;
        }
        if (IsRemoved(c))
            continue;
        if (pendingSpace)
            text += u' ';
        pendingSpace = false;
        text += ch;
        if (text.size() > maxLength)
            break; // enough to know it is cut
    }
    if (text.size() <= maxLength)
        return text;
    text.truncate(maxLength - 1);
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.chop(1);
    while (text.endsWith(u' '))
        text.chop(1);
    return text + QChar(u'\u2026');
}

} // namespace postlark
