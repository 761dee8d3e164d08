// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/BackupFile.h"

#include "platform/base/AsciiCase.h"
#include "platform/base/RuntimeError.h"
#include "store/SettingsStore.h"
#include "store/modHEX.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace postlark::BackupFile {

namespace {

using Change = SettingsStore::Change;

constexpr std::size_t kPasswordField = 3;
constexpr std::size_t kProgramField = 4;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The number of accounts a count text stands for: a whole number an account list can hold.
std::optional<long> AccountCount(const std::string& text) {
    const auto number = SettingsStore::ParseNumber(text);
    if (!number || *number < 0 || *number > 32767 || *number != std::floor(*number))
        return std::nullopt;
    return static_cast<long>(*number);
}

// The position of the field whose name (in any case) a key starts with, and the rest of the
// key after it, never empty; nullopt when the key starts with no field's name.
std::optional<std::pair<std::size_t, std::string_view>> FieldAndRest(std::string_view name) {
    for (std::size_t f = 0; f < AccountFields.size(); ++f) {
        const std::string_view field = AccountFields[f];
        if (name.size() > field.size() && AsciiLower(name.front()) == AsciiLower(field.front()) &&
            SameAsciiLetters(name.substr(0, field.size()), field))
            return std::pair{f, name.substr(field.size())};
    }
    return std::nullopt;
}

// The field position and account number of an account key as AccountKey writes it (field
// name in any case, then the number in decimal without a sign or leading zeros), or nullopt.
std::optional<std::pair<std::size_t, long>> AccountKeyParts(std::string_view name) {
    const auto parts = FieldAndRest(name);
    if (!parts)
        return std::nullopt;
    const std::string_view digits = parts->second;
    if (digits.front() == '-' || (digits.size() > 1 && digits.front() == '0'))
        return std::nullopt;
    long number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size() || number < 0)
        return std::nullopt;
    return std::pair{parts->first, number};
}

} // namespace

std::vector<AccountRecord> StoredAccounts(long count) {
    // One read of the store for every field of every account, not one per field.
    const std::size_t accounts = count > 0 ? static_cast<std::size_t>(count) : 0;
    std::vector<std::string> keys;
    keys.reserve(accounts * AccountFields.size());
    for (std::size_t i = 0; i < accounts; ++i) {
        for (const std::string_view field : AccountFields)
            keys.push_back(AccountKey(field, static_cast<long>(i)));
    }
    std::vector<std::string> values = SettingsStore::GetValues(keys);
    std::vector<AccountRecord> records(accounts);
    for (std::size_t i = 0; i < accounts; ++i) {
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            records[i].Field(f) = std::move(values[i * AccountFields.size() + f]);
    }
    return records;
}

namespace {

// Whether a profile reader would drop the value's surrounding blanks or quotes.
bool NeedsQuotes(std::string_view value) {
    const bool blankEdge = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return blankEdge || quoted;
}

// A field's value as the backup writes it: the password as hex pairs, the rest in file form.
std::string EntryValue(std::size_t field, std::string value) {
    return field == kPasswordField ? modHEX::HexEncode(value, " ") : FileValue(std::move(value));
}

} // namespace

std::string FileValue(std::string value) {
    if (!NeedsQuotes(value))
        return value; // moved
    return '"' + value + '"';
}

std::vector<Entry> BackupEntries(std::vector<AccountRecord> accounts) {
    std::vector<Entry> entries;
    entries.reserve(AccountFields.size() * accounts.size() + 1);
    for (std::size_t f = 0; f < AccountFields.size(); ++f) {
        for (std::size_t i = 0; i < accounts.size(); ++i) {
            entries.push_back({AccountKey(AccountFields[f], static_cast<long>(i)),
                               EntryValue(f, std::move(accounts[i].Field(f)))});
        }
    }
    entries.push_back(
        {NumAcctsKey, SettingsStore::IntegerText(static_cast<long>(accounts.size()))});
    return entries;
}

bool ForEachStoredBackupEntry(long count, const EntryVisitor& add) {
    // The keys are looked up in one read of the store, account by account as the store keeps
    // them (near each other in memory), and then name the entries, which go field by field.
    // A value goes out as it is stored unless the file needs it changed.
    const std::size_t accounts = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t fields = AccountFields.size();
    std::vector<std::string> keys;
    keys.reserve(fields * accounts);
    for (std::size_t i = 0; i < accounts; ++i) {
        for (const std::string_view field : AccountFields)
            keys.push_back(AccountKey(field, static_cast<long>(i)));
    }
    bool completed = true;
    SettingsStore::WithValues(keys, [&](std::span<const std::string* const> values) {
        static const std::string kAbsent;
        std::string changed;
        for (std::size_t f = 0; f < fields && completed; ++f) {
            for (std::size_t i = 0; i < accounts && completed; ++i) {
                const std::size_t k = i * fields + f;
                const std::string& stored = values[k] ? *values[k] : kAbsent;
                std::string_view value = stored;
                if (f == kPasswordField || NeedsQuotes(value)) {
                    changed = EntryValue(f, stored);
                    value = changed;
                }
                completed = add(keys[k], value);
            }
        }
    });
    return completed && add(NumAcctsKey, SettingsStore::IntegerText(static_cast<long>(accounts)));
}

std::vector<Entry> StoredBackupEntries(long count) {
    std::vector<Entry> entries;
    entries.reserve(AccountFields.size() * static_cast<std::size_t>(std::max(count, 0L)) + 1);
    ForEachStoredBackupEntry(count, [&](std::string_view name, std::string_view value) {
        entries.push_back({std::string(name), std::string(value)});
        return true;
    });
    return entries;
}

bool IsSurplusEntry(std::string_view name, long count) {
    const auto parts = FieldAndRest(name);
    if (!parts)
        return false;
    const std::string_view digits = parts->second;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    // A number too long for a long is certainly above any count.
    long number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc::result_out_of_range || number >= count;
}

std::optional<std::vector<AccountRecord>> ReadBackup(std::span<const NamedValue> entries) {
    // One pass over the entries, each put in its place, instead of a look-up per field of
    // every account.
    const auto numAccts = std::find_if(entries.begin(), entries.end(), [](const NamedValue& e) {
        return SameAsciiLetters(e.first, NumAcctsKey);
    });
    const std::optional<long> count =
        numAccts == entries.end() ? std::nullopt : AccountCount(std::string(numAccts->second));
    if (!count)
        return std::nullopt;
    const auto accountCount = static_cast<std::size_t>(*count);
    std::vector<AccountRecord> accounts(accountCount);
    std::vector<bool> found(accountCount * AccountFields.size(), false);
    for (const auto& [name, value] : entries) {
        const auto parts = AccountKeyParts(name);
        if (!parts || static_cast<std::size_t>(parts->second) >= accountCount)
            continue;
        const std::size_t at =
            static_cast<std::size_t>(parts->second) * AccountFields.size() + parts->first;
        if (found[at])
            continue; // the first entry of a name counts
        found[at] = true;
        accounts[static_cast<std::size_t>(parts->second)].Field(parts->first) = value;
    }
    for (std::size_t i = 0; i < accountCount; ++i) {
        for (std::size_t f = 0; f < AccountFields.size(); ++f) {
            if (!found[i * AccountFields.size() + f] && f != kProgramField)
                return std::nullopt;
        }
        std::string& password = accounts[i].Field(kPasswordField);
        // Pairs one character apart: 3m - 1 characters for m bytes.
        if (!password.empty() && (password.size() + 1) % 3 != 0)
            return std::nullopt;
        try {
            password = modHEX::HexDecode(password, 1);
        } catch (const RuntimeError&) {
            return std::nullopt;
        }
    }
    return accounts;
}

void ReplaceAccounts(std::vector<AccountRecord> accounts, long listCount) {
    const long count = static_cast<long>(accounts.size());
    // The new accounts' keys do not depend on what is stored: made once, their texts moved.
    std::vector<Change> sets;
    sets.reserve(AccountFields.size() * accounts.size() + 1);
    for (long i = 0; i < count; ++i) {
        AccountRecord& account = accounts[static_cast<std::size_t>(i)];
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            sets.push_back(
                Change::Set(AccountKey(AccountFields[f], i), std::move(account.Field(f))));
    }
    sets.push_back(Change::Set(NumAcctsKey, SettingsStore::IntegerText(count)));
    SettingsStore::Update(std::move(sets), [&](const SettingsStore::Lookup& stored) {
        // Former accounts above the new ones: as many as the list showed or the store counted,
        // and on while any of their keys is still there (a store edited by hand).
        const auto storedText = stored(NumAcctsKey);
        const long storedCount = storedText ? AccountCount(*storedText).value_or(0) : 0;
        const long known = std::max({listCount, storedCount, count});
        const auto anyField = [&](long i) {
            return std::any_of(AccountFields.begin(), AccountFields.end(), [&](std::string_view f) {
                return stored(AccountKey(f, i)).has_value();
            });
        };
        std::vector<Change> deletes;
        for (long i = count; i < known || anyField(i); ++i) {
            for (const std::string_view field : AccountFields)
                deletes.push_back(Change::Delete(AccountKey(field, i)));
        }
        return deletes;
    });
}

} // namespace postlark::BackupFile
