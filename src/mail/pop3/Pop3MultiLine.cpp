// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/Pop3MultiLine.h"

namespace postlark {

std::optional<QByteArray> Pop3UnstuffedLine(const QByteArray& line) {
    if (line == ".")
        return std::nullopt;
    return line.startsWith('.') ? line.mid(1) : line;
}

bool Pop3HeaderReader::Take(const QByteArray& line) {
    const std::optional<QByteArray> text = Pop3UnstuffedLine(line);
    if (!text)
        return false;
    if (!keeping_)
        return true;
    // Whole lines only, and none after one that was dropped: a header cut inside a field, or
    // with a field missing before a folded line, would be read as something the server never
    // sent.
    if (text->isEmpty() || header_.size() + text->size() + 2 > kMaxHeader) {
        keeping_ = false;
        return true;
    }
    header_ += *text;
    header_ += "\r\n";
    return true;
}

} // namespace postlark
