// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The account backup file: every account record in one section "Postlark" of an
// initialization file, under the settings keys followed by the account number, passwords in
// their stored form as hex text. This module turns accounts into the file's entries and back;
// the caller does the file access.
#include "store/AccountRecord.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace postlark::BackupFile {

inline constexpr const char* Section = "Postlark";
inline constexpr const char* Filter = "Postlark Settings (*.pls)|*.pls";

struct Entry {
    std::string Name;
    std::string Value; // as written to the file (see FileValue)

    bool operator==(const Entry&) const = default;
};

// The stored accounts 0 to count - 1, absent fields read as empty text.
std::vector<AccountRecord> StoredAccounts(long count);

// The entries a backup writes, in the order a fresh file receives them: every EmailAddress,
// then every POP, UserName, Password (hex, pairs one space apart), Program, each in account
// order, and NumAccts (the number of accounts) last. An empty password is an empty entry.
// The accounts are taken by value: a value the file holds as it stands is moved, not copied.
std::vector<Entry> BackupEntries(std::vector<AccountRecord> accounts);
// BackupEntries(StoredAccounts(count)), made from one read of the store.
std::vector<Entry> StoredBackupEntries(long count);
// Calls add(name, value) for each of those entries in turn, without a list of them; stops
// when add returns false and then returns false.
using EntryVisitor = std::function<bool(std::string_view name, std::string_view value)>;
bool ForEachStoredBackupEntry(long count, const EntryVisitor& add);

// The file form of a value: as it stands, or in double quotes when a profile reader would
// otherwise drop its surrounding blanks or quotes, so every value reads back unchanged.
std::string FileValue(std::string value);

// Whether `name` is an account entry (field name, any case, then a decimal number) whose
// number is `count` or above: what an older, larger backup leaves behind.
bool IsSurplusEntry(std::string_view name, long count);

// An entry of the backup section as a profile reader gives it: the name without surrounding
// blanks, and the value without its surrounding blanks and then one pair of quotes.
using NamedValue = std::pair<std::string_view, std::string_view>;

// Reads and checks a whole backup from its section's entries in file order, where the first
// entry of a name (in any ASCII case) counts, as a profile reader reads it: NumAccts a whole
// number from 0 to 32767 (blanks around it allowed), and for every account its EmailAddress,
// POP, UserName and Password entries present, each Password hex pairs one character apart (or
// empty). A missing Program entry reads as empty. Gives nullopt when any of it fails, so
// nothing is stored from a damaged file.
std::optional<std::vector<AccountRecord>> ReadBackup(std::span<const NamedValue> entries);

// Replaces every stored account with `accounts` in one atomic store write: their keys and
// NumAccts are set, and the keys of every former account above them are deleted (those of
// `listCount` accounts, of the stored NumAccts, and any further numbers still present).
// Raises RuntimeError 75 when the store cannot be written; it is then unchanged.
void ReplaceAccounts(std::vector<AccountRecord> accounts, long listCount);

} // namespace postlark::BackupFile
