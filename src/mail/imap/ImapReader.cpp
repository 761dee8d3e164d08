// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapReader.h"

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

} // namespace

void ImapReader::Clear() {
    buffer_.clear();
    lineStart_ = 0;
    searchedTo_ = 0;
    literalEnd_ = -1;
    refused_ = false;
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
        const qsizetype end = buffer_.indexOf('\n', searchedTo_);
        if (end < 0) {
            searchedTo_ = buffer_.size();
            refused_ = searchedTo_ - lineStart_ > kMaxLine || searchedTo_ > kMaxResponse;
            return refused_ ? Status::TooLong : Status::Incomplete;
        }
        const qsizetype literal = LiteralLength(buffer_, lineStart_, end);
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
        return Status::Response;
    }
}

} // namespace postlark
