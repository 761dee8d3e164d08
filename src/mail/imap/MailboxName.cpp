// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/MailboxName.h"

namespace postlark {

namespace {

// ATOM-CHAR: printable ASCII but for the atom specials and "]".
bool AtomChar(char c) {
    switch (c) {
    case '(':
    case ')':
    case '{':
    case '%':
    case '*':
    case '"':
    case '\\':
    case ']':
        return false;
    default:
        return c > 0x20 && c < 0x7F;
    }
}

} // namespace

QByteArray EncodeMailboxName(const QString& name) {
    QByteArray encoded;
    QByteArray wide; // UTF-16 big-endian of the characters waiting for base64
    const auto flush = [&] {
        if (wide.isEmpty())
            return;
        encoded += '&' + wide.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',') + '-';
        wide.clear();
    };
    for (const QChar c : name) {
        const char16_t unit = c.unicode();
        if (unit >= 0x20 && unit <= 0x7E) {
            flush();
            encoded += unit == u'&' ? QByteArray("&-") : QByteArray(1, static_cast<char>(unit));
        } else {
            wide += static_cast<char>(unit >> 8);
            wide += static_cast<char>(unit & 0xFF);
        }
    }
    flush();
    return encoded;
}

QByteArray MailboxArgument(const QString& name) {
    const QByteArray encoded = EncodeMailboxName(name);
    bool atom = !encoded.isEmpty();
    for (const char c : encoded)
        atom = atom && AtomChar(c);
    if (atom)
        return encoded;
    QByteArray quoted = "\"";
    for (const char c : encoded) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace postlark
