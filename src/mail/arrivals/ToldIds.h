// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A set of message ids as ToldState keeps it on disk: ids that are numbers (IMAP UIDs) as
// sorted ranges on one line ("uids 1:5,9,12:14"), other ids (POP3 UIDLs) one per line
// ("uidl ID"). An id longer than a UIDL may be, or holding bytes a UIDL may not, is kept by a
// hash of it, so that no id costs more than 76 bytes on disk.
#include <QByteArray>
#include <QSet>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace postlark {

class ToldIds {
public:
    static ToldIds Of(const std::vector<QByteArray>& ids);
    // The set written by Lines(); nothing when a line is not one Lines() writes.
    static std::optional<ToldIds> Parse(const QList<QByteArray>& lines);

    bool Contains(const QByteArray& id) const;
    bool operator==(const ToldIds&) const = default;
    QByteArray Lines() const;

    // How `id` is written: itself when it may be a UIDL, else '#' and a hash of it.
    static QByteArray StoredForm(const QByteArray& id);
    // Whether `text` is a stored form (as read back from disk).
    static bool IsStoredForm(const QByteArray& text);

private:
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_; // sorted, apart
    QSet<QByteArray> others_;                                     // in their stored form
};

} // namespace postlark
