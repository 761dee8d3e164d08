// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/ToldIds.h"

#include <QCryptographicHash>

#include <algorithm>

namespace postlark {

namespace {

constexpr qsizetype kMaxUidlLength = 70;

// The number a canonical decimal UID (1 to 2^32-1, no leading zero) stands for.
std::optional<std::uint32_t> Uid(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 10 || text[0] == '0')
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::vector<std::pair<std::uint32_t, std::uint32_t>>
Merged(std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges) {
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> merged;
    for (const auto& range : ranges) {
        if (!merged.empty() && range.first <= std::uint64_t{merged.back().second} + 1)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    }
    return merged;
}

// "1:5,9" into ranges; nothing when an item is not a UID or an ordered pair of UIDs.
std::optional<std::vector<std::pair<std::uint32_t, std::uint32_t>>>
ParsedRanges(const QByteArray& text) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (const QByteArray& item : text.split(',')) {
        const QList<QByteArray> ends = item.split(':');
        const auto first = Uid(ends.front());
        const auto last = ends.size() == 2 ? Uid(ends.back()) : first;
        if (ends.size() > 2 || !first || !last || *last < *first)
            return std::nullopt;
        ranges.emplace_back(*first, *last);
    }
    return ranges;
}

} // namespace

QByteArray ToldIds::StoredForm(const QByteArray& id) {
    const bool printable =
        std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    if (printable && !id.isEmpty() && id.size() <= kMaxUidlLength && !id.startsWith('#'))
        return id;
    return '#' + QCryptographicHash::hash(id, QCryptographicHash::Sha256).left(16).toHex();
}

bool ToldIds::IsStoredForm(const QByteArray& text) {
    if (text.startsWith('#'))
        return text.size() == 33 && QByteArray::fromHex(text.mid(1)).toHex() == text.mid(1);
    return !text.isEmpty() && StoredForm(text) == text;
}

ToldIds ToldIds::Of(const std::vector<QByteArray>& ids) {
    ToldIds set;
    for (const QByteArray& id : ids) {
        if (const auto uid = Uid(id))
            set.ranges_.emplace_back(*uid, *uid);
        else
            set.others_.insert(StoredForm(id));
    }
    set.ranges_ = Merged(std::move(set.ranges_));
    return set;
}

std::optional<ToldIds> ToldIds::Parse(const QList<QByteArray>& lines) {
    ToldIds set;
    for (const QByteArray& line : lines) {
        if (line.startsWith("uids ")) {
            const auto ranges = ParsedRanges(line.mid(5));
            if (!ranges)
                return std::nullopt;
            set.ranges_.insert(set.ranges_.end(), ranges->begin(), ranges->end());
        } else if (line.startsWith("uidl ") && IsStoredForm(line.mid(5))) {
            set.others_.insert(line.mid(5));
        } else {
            return std::nullopt;
        }
    }
    set.ranges_ = Merged(std::move(set.ranges_));
    return set;
}

bool ToldIds::Contains(const QByteArray& id) const {
    if (const auto uid = Uid(id)) {
        // The last range starting at or before the UID.
        const auto after = std::upper_bound(
            ranges_.begin(), ranges_.end(), *uid,
            [](std::uint32_t value, const auto& range) { return value < range.first; });
        return after != ranges_.begin() && *uid <= std::prev(after)->second;
    }
    return others_.contains(StoredForm(id));
}

QByteArray ToldIds::Lines() const {
    QByteArray lines;
    if (!ranges_.empty()) {
        lines += "uids ";
        for (const auto& [first, last] : ranges_) {
            if (&first != &ranges_.front().first)
                lines += ',';
            lines += QByteArray::number(first);
            if (last != first)
                lines += ':' + QByteArray::number(last);
        }
        lines += '\n';
    }
    QList<QByteArray> others(others_.begin(), others_.end());
    std::sort(others.begin(), others.end());
    for (const QByteArray& other : others)
        lines += "uidl " + other + '\n';
    return lines;
}

} // namespace postlark
