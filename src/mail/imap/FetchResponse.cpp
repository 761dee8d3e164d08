// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/FetchResponse.h"

#include <algorithm>

namespace postlark {

namespace {

// An item's name at `at`, upper case, with its section ("[...]") and partial ("<...>").
QByteArray ReadItemName(const QByteArray& text, qsizetype& at) {
    const qsizetype begin = at;
    while (at < text.size() && text[at] != ' ' && text[at] != '(' && text[at] != ')') {
        const char open = text[at];
        if (open == '[' || open == '<') {
            const qsizetype close = text.indexOf(open == '[' ? ']' : '>', at);
            if (close < 0)
                return QByteArray();
            at = close;
        }
        ++at;
    }
    return text.mid(begin, at - begin).toUpper();
}

// Passes over one value at `at`: an atom, a string or a parenthesized list of any depth.
bool SkipValue(const QByteArray& text, qsizetype& at) {
    int depth = 0;
    do {
        while (depth > 0 && at < text.size() && text[at] == ' ')
            ++at;
        if (at >= text.size())
            return false;
        if (text[at] == '(') {
            ++depth;
            ++at;
        } else if (text[at] == ')') {
            if (depth == 0)
                return false;
            --depth;
            ++at;
        } else if (!ImapResponse::ReadString(text, at)) {
            return false;
        }
    } while (depth > 0);
    return true;
}

// A string or NIL (empty) at `at`.
std::optional<QByteArray> ReadNString(const QByteArray& text, qsizetype& at) {
    if (at < text.size() && (text[at] == '"' || text[at] == '{'))
        return ImapResponse::ReadString(text, at);
    const std::optional<QByteArray> atom = ImapResponse::ReadString(text, at);
    if (!atom || atom->toUpper() != "NIL")
        return std::nullopt;
    return QByteArray();
}

} // namespace

QByteArray CanonicalUid(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 10)
        return QByteArray();
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return QByteArray();
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > ImapResponse::kMaxCount)
        return QByteArray();
    return QByteArray::number(value);
}

std::vector<QByteArray> SearchedUids(const ImapResponse& response) {
    std::vector<QByteArray> uids;
    if (response.kind != ImapResponse::Kind::Untagged || response.word != "SEARCH")
        return uids;
    for (const QByteArray& item : response.rest.split(' ')) {
        if (QByteArray uid = CanonicalUid(item); !uid.isEmpty())
            uids.push_back(std::move(uid));
    }
    return uids;
}

QByteArray UidValidityOf(const ImapResponse& response) {
    if (response.kind != ImapResponse::Kind::Untagged || response.word != "OK" ||
        response.Code() != "UIDVALIDITY")
        return QByteArray();
    const qsizetype close = response.rest.indexOf(']');
    return CanonicalUid(response.rest.mid(13, close - 13)); // after "[UIDVALIDITY "
}

QByteArray HeaderFetchCommand(const std::vector<QByteArray>& uids) {
    std::vector<qint64> numbers;
    for (const QByteArray& uid : uids)
        numbers.push_back(uid.toLongLong());
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    QByteArray set;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        std::size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1)
            ++last;
        if (!set.isEmpty())
            set += ',';
        set += QByteArray::number(numbers[i]);
        if (last > i)
            set += ':' + QByteArray::number(numbers[last]);
        i = last;
    }
    return "UID FETCH " + set + " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID)])";
}

std::optional<FetchedHeader> ParseFetch(const ImapResponse& response) {
    if (response.Event().kind != ImapResponse::MailboxEvent::Kind::Fetch)
        return std::nullopt;
    const QByteArray& text = response.rest; // "FETCH (item value ...)"
    qsizetype at = text.indexOf(' ') + 1;
    if (at <= 0 || at >= text.size() || text[at] != '(')
        return std::nullopt;
    ++at;
    QByteArray uid;
    std::optional<QByteArray> header;
    while (at < text.size() && text[at] != ')') {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const QByteArray name = ReadItemName(text, at);
        if (name.isEmpty() || at >= text.size() || text[at] != ' ')
            return std::nullopt;
        ++at;
        if (name == "UID") {
            const std::optional<QByteArray> value = ImapResponse::ReadString(text, at);
            if (!value)
                return std::nullopt;
            uid = CanonicalUid(*value);
        } else if (!header && name.startsWith("BODY[HEADER.FIELDS") &&
                   !name.startsWith("BODY[HEADER.FIELDS.NOT")) {
            header = ReadNString(text, at);
            if (!header)
                return std::nullopt;
        } else if (!SkipValue(text, at)) {
            return std::nullopt;
        }
    }
    if (at >= text.size() || uid.isEmpty() || !header)
        return std::nullopt;
    return FetchedHeader{uid, header->left(kMaxFetchedHeader)};
}

} // namespace postlark
