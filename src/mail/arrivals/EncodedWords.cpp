// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/EncodedWords.h"

#include "mail/arrivals/GMimeSetup.h"

#include <gmime/gmime.h>

namespace postlark {

namespace {

bool KnownCharset(QByteArray charset) {
    const qsizetype language = charset.indexOf('*'); // RFC 2231: "utf-8*en"
    if (language >= 0)
        charset.truncate(language);
    if (charset.isEmpty())
        return false;
    HeaderParserOptions(); // GMime started
    const iconv_t converter = g_mime_iconv_open("UTF-8", charset.constData());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    g_mime_iconv_close(converter);
    return true;
}

bool IsBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// The letters of a B word with the padding it should have, or nothing when it is not base64.
std::optional<QByteArray> PaddedBase64(const QByteArray& text) {
    qsizetype letters = 0;
    while (letters < text.size() && IsBase64Letter(text[letters]))
        ++letters;
    for (qsizetype i = letters; i < text.size(); ++i) {
        if (text[i] != '=')
            return std::nullopt;
    }
    if (letters % 4 == 1)
        return std::nullopt;
    QByteArray padded = text.left(letters);
    if (letters % 4 != 0)
        padded.append(4 - letters % 4, '=');
    return padded;
}

} // namespace

std::optional<QByteArray> CheckEncodedWords(const QByteArray& value) {
    QByteArray out;
    qsizetype copied = 0;
    for (qsizetype start = value.indexOf("=?"); start >= 0;
         start = value.indexOf("=?", start + 2)) {
        // =?charset?B|Q?text?=, the text without spaces or question marks.
        const qsizetype mark = value.indexOf('?', start + 2);
        if (mark < 0 || mark + 2 >= value.size() || value[mark + 2] != '?')
            continue;
        const char encoding = value[mark + 1];
        const qsizetype textStart = mark + 3;
        const qsizetype end = value.indexOf('?', textStart);
        if ((encoding | 0x20) != 'b' && (encoding | 0x20) != 'q')
            continue;
        if (end < 0 || end + 1 >= value.size() || value[end + 1] != '=')
            continue;
        const QByteArray text = value.mid(textStart, end - textStart);
        const QByteArray charset = value.mid(start + 2, mark - start - 2);
        if (text.contains(' ') || text.contains('\t') || charset.contains(' '))
            continue;
        if (!KnownCharset(charset))
            return std::nullopt;
        if ((encoding | 0x20) == 'b') {
            const auto padded = PaddedBase64(text);
            if (!padded)
                return std::nullopt;
            out += value.mid(copied, textStart - copied) + *padded;
            copied = end;
        }
        start = end;
    }
    return out + value.mid(copied);
}

} // namespace postlark
