// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapResponse.h"

namespace postlark {

namespace {

bool IsDigits(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// A count as IMAP states it: digits, 0 to 4294967295.
std::optional<qint64> ReadCount(const QByteArray& text) {
    if (!IsDigits(text) || text.size() > 10)
        return std::nullopt;
    const qint64 value = text.toLongLong();
    return value <= ImapResponse::kMaxCount ? std::optional<qint64>(value) : std::nullopt;
}

// Reads an astring (atom, quoted string or literal) at `at`; moves `at` past it.
std::optional<QByteArray> ReadAString(const QByteArray& text, qsizetype& at) {
    if (at >= text.size())
        return std::nullopt;
    QByteArray value;
    if (text[at] == '"') {
        for (++at; at < text.size(); ++at) {
            char c = text[at];
            if (c == '"') {
                ++at;
                return value;
            }
            if (c == '\\') {
                if (++at >= text.size())
                    return std::nullopt;
                c = text[at];
            }
            value += c;
        }
        return std::nullopt;
    }
    if (text[at] == '{') {
        const qsizetype close = text.indexOf('}', at);
        if (close < 0)
            return std::nullopt;
        QByteArray digits = text.mid(at + 1, close - at - 1);
        if (digits.endsWith('+'))
            digits.chop(1);
        if (!IsDigits(digits) || digits.size() > 6)
            return std::nullopt;
        at = close + 1;
        if (at < text.size() && text[at] == '\r')
            ++at;
        if (at >= text.size() || text[at] != '\n')
            return std::nullopt;
        ++at;
        const qsizetype length = digits.toLongLong();
        if (text.size() - at < length)
            return std::nullopt;
        value = text.mid(at, length);
        at += length;
        return value;
    }
    const qsizetype begin = at;
    while (at < text.size() && text[at] != ' ' && text[at] != '(' && text[at] != ')')
        ++at;
    if (at == begin)
        return std::nullopt;
    return text.mid(begin, at - begin);
}

} // namespace

std::optional<ImapResponse> ImapResponse::Parse(const QByteArray& text) {
    ImapResponse response;
    if (text.startsWith('+')) {
        response.kind = Kind::Continuation;
        response.rest = text.mid(text.startsWith("+ ") ? 2 : 1);
        return response;
    }
    const qsizetype tagEnd = text.indexOf(' ');
    if (tagEnd <= 0)
        return std::nullopt;
    response.tag = text.left(tagEnd);
    response.kind = response.tag == "*" ? Kind::Untagged : Kind::Tagged;
    const qsizetype wordEnd = text.indexOf(' ', tagEnd + 1);
    response.word = text.mid(tagEnd + 1, wordEnd < 0 ? -1 : wordEnd - tagEnd - 1).toUpper();
    if (response.word.isEmpty())
        return std::nullopt;
    if (wordEnd >= 0)
        response.rest = text.mid(wordEnd + 1);
    for (const char c : response.tag + response.word) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E)
            return std::nullopt;
    }
    return response;
}

std::optional<QList<QByteArray>> ImapResponse::Capabilities() const {
    QByteArray list;
    if (word == "CAPABILITY") {
        list = rest;
    } else if ((word == "OK" || word == "PREAUTH") && Code() == "CAPABILITY") {
        const qsizetype close = rest.indexOf(']');
        if (close < 0)
            return std::nullopt;
        if (close > 12)
            list = rest.mid(12, close - 12); // after "[CAPABILITY "
    } else {
        return std::nullopt;
    }
    QList<QByteArray> names;
    for (const QByteArray& name : list.split(' ')) {
        if (!name.isEmpty())
            names << name.toUpper();
    }
    return names;
}

QByteArray ImapResponse::Code() const {
    if (!rest.startsWith('['))
        return QByteArray();
    qsizetype end = 1;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != ']')
        ++end;
    return rest.mid(1, end - 1).toUpper();
}

QString ImapResponse::Text() const {
    QByteArray text = rest;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        text = close < 0 ? QByteArray() : text.mid(close + 1);
    }
    QString shown = QString::fromUtf8(text);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    return shown.simplified().left(200);
}

std::optional<QByteArray> ImapResponse::ReadString(const QByteArray& text, qsizetype& at) {
    return ReadAString(text, at);
}

std::optional<ImapResponse::Unseen> ImapResponse::MailboxUnseen(const QByteArray& asked) const {
    if (word != "STATUS")
        return std::nullopt;
    qsizetype at = 0;
    const std::optional<QByteArray> mailbox = ReadAString(rest, at);
    if (!mailbox)
        return std::nullopt;
    Unseen unseen;
    const bool inbox = asked.toUpper() == "INBOX";
    unseen.inbox = inbox ? mailbox->toUpper() == "INBOX" : *mailbox == asked;
    while (at < rest.size() && rest[at] == ' ')
        ++at;
    const qsizetype close = rest.indexOf(')', at);
    if (at >= rest.size() || rest[at] != '(' || close < 0)
        return std::nullopt;
    QList<QByteArray> items = rest.mid(at + 1, close - at - 1).split(' ');
    items.removeAll(QByteArray());
    for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
        if (items[i].toUpper() != "UNSEEN")
            continue;
        unseen.count = ReadCount(items[i + 1]);
        break;
    }
    return unseen;
}

std::optional<qint64> ImapResponse::SearchCount() const {
    if (kind != Kind::Untagged)
        return std::nullopt;
    QList<QByteArray> items = rest.split(' ');
    items.removeAll(QByteArray());
    if (word == "SEARCH") {
        if (droppedSearchItems < 0)
            return std::nullopt;
        for (const QByteArray& item : items) {
            if (!IsDigits(item))
                return std::nullopt;
        }
        return droppedSearchItems + items.size();
    }
    if (word != "ESEARCH")
        return std::nullopt;
    // "(TAG "a5") [UID] COUNT n ...": the value after COUNT.
    for (qsizetype i = 0; i + 1 < items.size(); ++i) {
        if (items[i].toUpper() == "COUNT")
            return ReadCount(items[i + 1]);
    }
    return std::nullopt;
}

ImapResponse::MailboxEvent ImapResponse::Event() const {
    if (kind != Kind::Untagged || !IsDigits(word) || word.size() > 10)
        return {};
    const qsizetype end = rest.indexOf(' ');
    const QByteArray what = (end < 0 ? rest : rest.left(end)).toUpper();
    const qint64 number = word.toLongLong();
    if (what == "EXISTS")
        return {MailboxEvent::Kind::Exists, number};
    if (what == "EXPUNGE")
        return {MailboxEvent::Kind::Expunge, number};
    if (what == "FETCH")
        return {MailboxEvent::Kind::Fetch, number};
    return {};
}

} // namespace postlark
