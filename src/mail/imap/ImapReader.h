// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cuts what an IMAP server sends into whole responses. A response is a line up to LF (a CR
// before it is dropped); when a line ends in a literal's announcement "{n}" where the grammar
// allows a literal, the n bytes after its line end belong to the response uncounted, and the
// response goes on with the next line. A status response (OK, NO, BAD, BYE, PREAUTH), a
// continuation request and the lists of atoms (CAPABILITY, ENABLED, FLAGS, SEARCH) end at their
// first line, whatever it ends in. A line or literal over 64 KiB, or a response over 256 KiB, is
// refused, except the numbers of an untagged SEARCH: they are counted as they arrive and
// dropped (all but the last ones, about 2 KiB of them), so a SEARCH of any length takes
// bounded memory. While literals of FETCH responses are cut, a literal of an untagged FETCH
// over 64 KiB is not refused: its first 64 KiB are kept, announced as "{65536}", and the rest
// is dropped as it arrives.
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
    // Whether long literals of untagged FETCH responses are cut rather than refused; off after
    // Clear.
    void CutFetchLiterals(bool cut) { cutFetch_ = cut; }
    // Takes the next whole response off the front into `response`, without its last line end.
    // After TooLong the reader stays refused until it is cleared.
    Status Next(QByteArray* response);
    // How many numbers of the untagged SEARCH response just taken were counted and dropped
    // before it ended (the rest stand in its text); -1 when one of them was not a number.
    qint64 DroppedSearchItems() const { return lastDropped_; }

private:
    // The first line of a response being read, once its opening words are known.
    enum class Opening { Unknown, LiteralsAllowed, NoLiterals, Search };
    Opening FirstLineOpening() const;
    // Counts and drops the whole numbers of a streaming SEARCH line up to `limit`.
    void DropSearchItems(qsizetype limit);
    // Whether the response being read is an untagged FETCH.
    bool ReadingFetch() const;

    QByteArray buffer_;
    qsizetype lineStart_ = 0;   // where the response's current line begins
    qsizetype searchedTo_ = 0;  // no LF before this point of the current line
    qsizetype literalEnd_ = -1; // end of a literal still arriving
    qint64 literalCut_ = 0;     // bytes of that literal to drop after its end
    bool cutFetch_ = false;
    bool refused_ = false;
    qint64 dropped_ = 0;     // of the SEARCH response being read
    qint64 lastDropped_ = 0; // of the response last taken
};

} // namespace postlark
