// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/Pop3HeaderFetch.h"

#include <QList>

#include <algorithm>
#include <charconv>

namespace postlark {

namespace {

// A UIDL is 1 to 70 characters from 0x21 to 0x7E (RFC 1939, section 7).
constexpr qsizetype kMaxUidl = 70;

bool ValidUidl(const QByteArray& uidl) {
    return !uidl.isEmpty() && uidl.size() <= kMaxUidl &&
           std::all_of(uidl.begin(), uidl.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

} // namespace

QByteArray Pop3HeaderFetch::Begin(NewMessageReader& reader, std::int16_t account, int count,
                                  bool pipelining, bool uidlSent) {
    *this = Pop3HeaderFetch();
    reader_ = &reader;
    account_ = account;
    count_ = count;
    pipelining_ = pipelining;
    numbered_.assign(static_cast<std::size_t>(std::max(count, 0)) + 1, false);
    return uidlSent ? QByteArray() : QByteArray("UIDL");
}

QByteArray Pop3HeaderFetch::Take(const QByteArray& line) {
    if (!reader_)
        return {};
    switch (stage_) {
    case Stage::AwaitUidl:
        if (!line.startsWith('+'))
            return End(true);
        stage_ = Stage::UidlList;
        return {};
    case Stage::UidlList:
        if (const std::optional<QByteArray> text = Pop3UnstuffedLine(line)) {
            TakeUidl(*text);
            return {};
        }
        return listBroken_ ? End(true) : Ask();
    case Stage::AwaitTop:
        if (!line.startsWith('+')) {
            if (!pipelining_)
                return End(true);
            // The answers to the TOP commands already sent still come: each is read past.
            topRefused_ = true;
            ++next_;
            return next_ < wanted_.size() ? QByteArray() : End(true);
        }
        top_ = Pop3HeaderReader();
        stage_ = Stage::TopAnswer;
        return {};
    case Stage::TopAnswer:
        if (top_.Take(line))
            return {};
        fetched_.push_back({wanted_[next_].second, top_.Header()});
        ++next_;
        if (next_ == wanted_.size())
            return End(topRefused_);
        if (!pipelining_)
            return NextTop();
        stage_ = Stage::AwaitTop; // the next answer is already on its way
        return {};
    }
    return {};
}

// One line "n uidl" of the list. Numbers run from 1 to the count STAT gave, each listed once at
// most, so the list stays as small as the mailbox; anything else spoils the whole list.
void Pop3HeaderFetch::TakeUidl(const QByteArray& text) {
    if (listBroken_)
        return;
    const QList<QByteArray> parts = text.simplified().split(' ');
    int number = 0;
    if (parts.size() == 2) {
        const QByteArray& digits = parts[0];
        const auto [end, error] =
            std::from_chars(digits.constData(), digits.constData() + digits.size(), number);
        if (error != std::errc() || end != digits.constData() + digits.size())
            number = 0;
    }
    if (number < 1 || number > count_ || numbered_[static_cast<std::size_t>(number)] ||
        !ValidUidl(parts.value(1))) {
        listBroken_ = true;
        listed_.clear();
        return;
    }
    numbered_[static_cast<std::size_t>(number)] = true;
    listed_.emplace_back(number, parts[1]);
}

// The reader picks among the listed messages, in message-number order.
QByteArray Pop3HeaderFetch::Ask() {
    std::stable_sort(listed_.begin(), listed_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<QByteArray> present;
    present.reserve(listed_.size());
    for (const auto& entry : listed_)
        present.push_back(entry.second);
    const std::vector<QByteArray> ids = reader_->ToFetch(account_, QByteArray(), present);
    for (const QByteArray& id : ids) {
        if (wanted_.size() >= static_cast<std::size_t>(NewMessageReader::kMaxHeaders))
            break;
        const auto listed = std::find_if(listed_.begin(), listed_.end(),
                                         [&id](const auto& entry) { return entry.second == id; });
        const bool again = std::any_of(wanted_.begin(), wanted_.end(),
                                       [&id](const auto& entry) { return entry.second == id; });
        if (listed != listed_.end() && !again)
            wanted_.push_back(*listed);
    }
    if (wanted_.empty())
        return End(false);
    if (!pipelining_)
        return NextTop();
    QByteArray commands;
    for (const auto& [number, uidl] : wanted_)
        commands += "TOP " + QByteArray::number(number) + " 0\r\n";
    quitSent_ = true;
    stage_ = Stage::AwaitTop;
    return commands + "QUIT";
}

QByteArray Pop3HeaderFetch::NextTop() {
    stage_ = Stage::AwaitTop;
    return "TOP " + QByteArray::number(wanted_[next_].first) + " 0";
}

QByteArray Pop3HeaderFetch::End(bool countOnly) {
    NewMessageReader* reader = std::exchange(reader_, nullptr);
    std::vector<FetchedHeader> headers;
    if (!countOnly)
        headers = std::move(fetched_);
    const std::int16_t account = account_;
    const bool quitSent = quitSent_;
    *this = Pop3HeaderFetch();
    reader->Fetched(account, std::move(headers), countOnly);
    return quitSent ? QByteArray() : QByteArray("QUIT");
}

void Pop3HeaderFetch::Abandon() {
    if (reader_)
        End(true);
}

} // namespace postlark
