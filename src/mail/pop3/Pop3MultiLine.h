// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The lines of a POP3 multi-line answer, taken one at a time without their CR LF (RFC 1939,
// section 3): the line "." ends the answer, and a line beginning with "." loses that dot, which
// the server added. Pop3HeaderReader keeps the header of a TOP answer.
#include <QByteArray>

#include <optional>

namespace postlark {

// The line as the server meant it, or nothing for the final ".".
std::optional<QByteArray> Pop3UnstuffedLine(const QByteArray& line);

// Reads one TOP answer: keeps the lines up to the first empty one, each with CR LF, as long as
// they fit whole into kMaxHeader bytes; reads and drops everything else up to the final ".".
class Pop3HeaderReader {
public:
    static constexpr qsizetype kMaxHeader = 64 * 1024;

    // Takes the next line of the answer; false once it was the final ".".
    bool Take(const QByteArray& line);
    const QByteArray& Header() const { return header_; }

private:
    QByteArray header_;
    bool keeping_ = true; // neither the empty line nor a line that does not fit has come
};

} // namespace postlark
