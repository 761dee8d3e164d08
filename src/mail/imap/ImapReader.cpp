// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapReader.h"

#include <algorithm>
#include <utility>

namespace postlark {

namespace {

// A literal announced at the end of a line: "{n}" (or "{n+}"), its braces at `open` and
// `close`. `length` is -1 when the line announces none, -2 when the length cannot be a number
// IMAP states.
struct Literal {
    qint64 length = -1;
    qsizetype open = 0;
    qsizetype close = 0;
};

Literal AnnouncedLiteral(const QByteArray& buffer, qsizetype begin, qsizetype end) {
    if (end > begin && buffer[end - 1] == '\r')
        --end;
    if (end - begin < 3 || buffer[end - 1] != '}')
        return {};
    qsizetype digitsEnd = end - 1;
    if (buffer[digitsEnd - 1] == '+')
        --digitsEnd;
    qsizetype open = digitsEnd;
    while (open > begin && buffer[open - 1] >= '0' && buffer[open - 1] <= '9')
        --open;
    if (open == digitsEnd || open == begin || buffer[open - 1] != '{')
        return {};
    if (digitsEnd - open > 10)
        return {-2, open - 1, end - 1};
    qint64 length = 0;
    for (qsizetype i = open; i < digitsEnd; ++i)
        length = length * 10 + (buffer[i] - '0');
    return {length, open - 1, end - 1};
}

// The response's first word after the tag, when the first line has got that far.
bool StartsWithWord(const QByteArray& buffer, qsizetype wordAt, const char* word) {
    qsizetype i = 0;
    for (; word[i] != '\0'; ++i) {
        if (wordAt + i >= buffer.size())
            return false;
        char c = buffer[wordAt + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i])
            return false;
    }
    return wordAt + i < buffer.size() &&
           (buffer[wordAt + i] == ' ' || buffer[wordAt + i] == '\r' || buffer[wordAt + i] == '\n');
}

// The SEARCH numbers are dropped in pieces of at least this size.
constexpr qsizetype kSearchPiece = 4096;
// Of which this much of the end is kept.
constexpr qsizetype kSearchTail = 2048;
// A SEARCH item is a number (or a short parenthesised extra); a longer run of characters is no
// answer of a server, and refusing it wherever it lies makes the outcome the same however the
// line arrives in pieces.
constexpr qsizetype kMaxSearchItem = 256;

bool LongSearchItem(const QByteArray& buffer, qsizetype from, qsizetype to) {
    qsizetype run = 0;
    for (qsizetype i = from; i < to; ++i) {
        const char c = buffer[i];
        run = c == ' ' || c == '\r' || c == '\n' ? 0 : run + 1;
        if (run > kMaxSearchItem)
            return true;
    }
    return false;
}

} // namespace

ImapReader::Opening ImapReader::FirstLineOpening() const {
    if (buffer_.isEmpty())
        return Opening::Unknown;
    if (buffer_[0] == '+')
        return Opening::NoLiterals;
    const qsizetype space = buffer_.indexOf(' ');
    const qsizetype lineEnd = buffer_.indexOf('\n');
    if (space < 0 || space + 1 >= buffer_.size() || (lineEnd >= 0 && space > lineEnd))
        return Opening::Unknown;
    const qsizetype word = space + 1;
    if (space == 1 && buffer_[0] == '*' && StartsWithWord(buffer_, word, "SEARCH"))
        return Opening::Search;
    for (const char* atoms :
         {"OK", "NO", "BAD", "BYE", "PREAUTH", "CAPABILITY", "ENABLED", "FLAGS", "SEARCH"}) {
        if (StartsWithWord(buffer_, word, atoms))
            return Opening::NoLiterals;
    }
    return Opening::LiteralsAllowed;
}

void ImapReader::DropSearchItems(qsizetype limit) {
    constexpr qsizetype kFirstItem = 9; // after "* SEARCH "
    // The last numbers stay: they are the newest messages, whose headers may be read.
    const qsizetype lastSpace = buffer_.lastIndexOf(' ', limit - 1 - kSearchTail);
    if (lastSpace < kFirstItem)
        return;
    qsizetype counted = 0;
    bool numbers = true;
    bool inItem = false;
    for (qsizetype i = kFirstItem; i < lastSpace; ++i) {
        const char c = buffer_[i];
        if (c == ' ') {
            inItem = false;
            continue;
        }
        if (!inItem) {
            inItem = true;
            ++counted;
        }
        numbers = numbers && c >= '0' && c <= '9';
    }
    if (dropped_ >= 0)
        dropped_ = numbers ? dropped_ + counted : -1;
    buffer_.remove(kFirstItem, lastSpace + 1 - kFirstItem);
    searchedTo_ = std::max<qsizetype>(kFirstItem, searchedTo_ - (lastSpace + 1 - kFirstItem));
}

bool ImapReader::ReadingFetch() const {
    if (!buffer_.startsWith("* "))
        return false;
    qsizetype word = 2;
    while (word < buffer_.size() && buffer_[word] >= '0' && buffer_[word] <= '9')
        ++word;
    return word > 2 && word < buffer_.size() && buffer_[word] == ' ' &&
           StartsWithWord(buffer_, word + 1, "FETCH");
}

void ImapReader::Clear() {
    buffer_.clear();
    lineStart_ = 0;
    searchedTo_ = 0;
    literalEnd_ = -1;
    literalCut_ = 0;
    cutFetch_ = false;
    refused_ = false;
    dropped_ = lastDropped_ = 0;
}

ImapReader::Status ImapReader::Next(QByteArray* response) {
    for (;;) {
        if (refused_)
            return Status::TooLong;
        if (literalEnd_ >= 0) {
            if (buffer_.size() < literalEnd_)
                return Status::Incomplete;
            if (literalCut_ > 0) {
                const qint64 drop = std::min<qint64>(literalCut_, buffer_.size() - literalEnd_);
                buffer_.remove(literalEnd_, static_cast<qsizetype>(drop));
                literalCut_ -= drop;
                if (literalCut_ > 0)
                    return Status::Incomplete;
            }
            lineStart_ = searchedTo_ = literalEnd_;
            literalEnd_ = -1;
        }
        qsizetype end = buffer_.indexOf('\n', searchedTo_);
        const Opening opening = lineStart_ == 0 ? FirstLineOpening() : Opening::LiteralsAllowed;
        if (opening == Opening::Search &&
            LongSearchItem(buffer_, lineStart_, end < 0 ? buffer_.size() : end)) {
            refused_ = true;
            continue;
        }
        if (opening == Opening::Search && (end < 0 ? buffer_.size() : end) > kSearchPiece) {
            DropSearchItems(end < 0 ? buffer_.size() : end);
            end = buffer_.indexOf('\n', searchedTo_);
        }
        if (end < 0) {
            searchedTo_ = buffer_.size();
            refused_ = searchedTo_ - lineStart_ > kMaxLine || searchedTo_ > kMaxResponse;
            return refused_ ? Status::TooLong : Status::Incomplete;
        }
        Literal literal = opening == Opening::LiteralsAllowed
                              ? AnnouncedLiteral(buffer_, lineStart_, end)
                              : Literal{};
        if (literal.length > kMaxLine && cutFetch_ && ReadingFetch()) {
            // The first kMaxLine bytes are kept, announced as such; the rest is dropped.
            const QByteArray kept = QByteArray::number(kMaxLine);
            const qsizetype digits = literal.close - literal.open - 1;
            buffer_.replace(literal.open + 1, digits, kept);
            end += kept.size() - digits;
            literalCut_ = literal.length - kMaxLine;
            literal.length = kMaxLine;
        }
        if (end - lineStart_ > kMaxLine || literal.length == -2 || literal.length > kMaxLine ||
            end + 1 + literal.length > kMaxResponse) {
            refused_ = true;
            continue;
        }
        if (literal.length >= 0) {
            literalEnd_ = end + 1 + static_cast<qsizetype>(literal.length);
            continue;
        }
        *response = buffer_.left(end > 0 && buffer_[end - 1] == '\r' ? end - 1 : end);
        buffer_.remove(0, end + 1);
        lineStart_ = searchedTo_ = 0;
        lastDropped_ = std::exchange(dropped_, 0);
        return Status::Response;
    }
}

} // namespace postlark
