// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cuts what an IMAP server sends into whole responses. A response is a line up to LF (a CR
// before it is dropped); when a line ends in a literal's announcement "{n}", the n bytes after
// its line end belong to the response uncounted, and the response goes on with the next line.
// A line or literal over 64 KiB, or a response over 256 KiB, is refused.
#include <QByteArray>

namespace postlark {

class ImapReader {
public:
    enum class Status { Incomplete, Response, TooLong };

    static constexpr qsizetype kMaxLine = 64 * 1024;
    static constexpr qsizetype kMaxResponse = 256 * 1024;

    // Forgets everything received so far.
    void Clear();
    void Append(const QByteArray& data) { buffer_ += data; }
    // Takes the next whole response off the front into `response`, without its last line end.
    // After TooLong the reader stays refused until it is cleared.
    Status Next(QByteArray* response);

private:
    QByteArray buffer_;
    qsizetype lineStart_ = 0;   // where the response's current line begins
    qsizetype searchedTo_ = 0;  // no LF before this point of the current line
    qsizetype literalEnd_ = -1; // end of a literal still arriving
    bool refused_ = false;
};

} // namespace postlark
