// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapReader.h"

#include <algorithm>
#include <utility>

namespace postlark {

namespace {

// The length announced by a line ending in "{n}" (or "{n+}"); -1 for a line that announces no
// literal, -2 for a length over the limit.
qsizetype LiteralLength(const QByteArray& buffer, qsizetype begin, qsizetype end) {
    if (end > begin && buffer[end - 1] == '\r')
        --end;
    if (end - begin < 3 || buffer[end - 1] != '}')
        return -1;
    qsizetype digitsEnd = end - 1;
    if (buffer[digitsEnd - 1] == '+')
        --digitsEnd;
    qsizetype open = digitsEnd;
    while (open > begin && buffer[open - 1] >= '0' && buffer[open - 1] <= '9')
        --open;
    if (open == digitsEnd || open == begin || buffer[open - 1] != '{')
        return -1;
    if (digitsEnd - open > 6)
        return -2;
    qsizetype length = 0;
    for (qsizetype i = open; i < digitsEnd; ++i)
        length = length * 10 + (buffer[i] - '0');
    return length > ImapReader::kMaxLine ? -2 : length;
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
    const qsizetype lastSpace = buffer_.lastIndexOf(' ', limit - 1);
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

void ImapReader::Clear() {
    buffer_.clear();
    lineStart_ = 0;
    searchedTo_ = 0;
    literalEnd_ = -1;
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
            lineStart_ = searchedTo_ = literalEnd_;
            literalEnd_ = -1;
        }
        qsizetype end = buffer_.indexOf('\n', searchedTo_);
        const Opening opening = lineStart_ == 0 ? FirstLineOpening() : Opening::LiteralsAllowed;
        if (opening == Opening::Search && (end < 0 ? buffer_.size() : end) > kSearchPiece) {
            DropSearchItems(end < 0 ? buffer_.size() : end);
            end = buffer_.indexOf('\n', searchedTo_);
        }
        if (end < 0) {
            searchedTo_ = buffer_.size();
            refused_ = searchedTo_ - lineStart_ > kMaxLine || searchedTo_ > kMaxResponse;
            return refused_ ? Status::TooLong : Status::Incomplete;
        }
        const qsizetype literal =
            opening == Opening::LiteralsAllowed ? LiteralLength(buffer_, lineStart_, end) : -1;
        if (end - lineStart_ > kMaxLine || literal == -2 || end + 1 + literal > kMaxResponse) {
            refused_ = true;
            continue;
        }
        if (literal >= 0) {
            literalEnd_ = end + 1 + literal;
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
