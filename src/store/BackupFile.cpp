// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/BackupFile.h"

#include "platform/base/RuntimeError.h"
#include "store/SettingsStore.h"
#include "store/modHEX.h"

#include <algorithm>
#include <cctype>
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

bool SameLetters(std::string_view a, std::string_view b) {
    // Equal bytes need no case lookup; a backup's own names match byte for byte.
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return x == y || std::tolower(static_cast<unsigned char>(x)) ==
                                    std::tolower(static_cast<unsigned char>(y));
           });
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

std::string FileValue(std::string value) {
    const bool blankEdge = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (!blankEdge && !quoted)
        return value; // moved
    return '"' + value + '"';
}

std::vector<Entry> BackupEntries(std::vector<AccountRecord> accounts) {
    std::vector<Entry> entries;
    entries.reserve(AccountFields.size() * accounts.size() + 1);
    for (std::size_t f = 0; f < AccountFields.size(); ++f) {
        for (std::size_t i = 0; i < accounts.size(); ++i) {
            std::string& value = accounts[i].Field(f);
            entries.push_back({AccountKey(AccountFields[f], static_cast<long>(i)),
                               f == kPasswordField ? modHEX::HexEncode(value, " ")
                                                   : FileValue(std::move(value))});
        }
    }
    entries.push_back(
        {NumAcctsKey, SettingsStore::IntegerText(static_cast<long>(accounts.size()))});
    return entries;
}

bool IsSurplusEntry(std::string_view name, long count) {
    for (const std::string_view field : AccountFields) {
        if (name.size() <= field.size() || !SameLetters(name.substr(0, field.size()), field))
            continue;
        const std::string_view digits = name.substr(field.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        // A number too long for a long is certainly above any count.
        long number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        return error == std::errc::result_out_of_range || number >= count;
    }
    return false;
}

std::optional<std::vector<AccountRecord>> ReadBackup(const EntryReader& read) {
    const std::optional<std::string> countText = read(NumAcctsKey);
    const std::optional<long> count = countText ? AccountCount(*countText) : std::nullopt;
    if (!count)
        return std::nullopt;
    std::vector<AccountRecord> accounts(static_cast<std::size_t>(*count));
    for (std::size_t f = 0; f < AccountFields.size(); ++f) {
        for (long i = 0; i < *count; ++i) {
            std::optional<std::string> value = read(AccountKey(AccountFields[f], i));
            if (!value && f != kProgramField)
                return std::nullopt;
            std::string& field = accounts[static_cast<std::size_t>(i)].Field(f);
            if (f != kPasswordField) {
                field = value.value_or("");
                continue;
            }
            // Pairs one character apart: 3m - 1 characters for m bytes.
            if (!value->empty() && (value->size() + 1) % 3 != 0)
                return std::nullopt;
            try {
                field = modHEX::HexDecode(*value, 1);
            } catch (const RuntimeError&) {
                return std::nullopt;
            }
        }
    }
    return accounts;
}

void ReplaceAccounts(const std::vector<AccountRecord>& accounts, long listCount) {
    const long count = static_cast<long>(accounts.size());
    SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
        std::vector<Change> changes;
        changes.reserve(AccountFields.size() * static_cast<std::size_t>(count) + 1);
        for (long i = 0; i < count; ++i) {
            for (std::size_t f = 0; f < AccountFields.size(); ++f) {
                changes.push_back(Change::Set(AccountKey(AccountFields[f], i),
                                              accounts[static_cast<std::size_t>(i)].Field(f)));
            }
        }
        changes.push_back(Change::Set(NumAcctsKey, SettingsStore::IntegerText(count)));
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
        for (long i = count; i < known || anyField(i); ++i) {
            for (const std::string_view field : AccountFields)
                changes.push_back(Change::Delete(AccountKey(field, i)));
        }
        return changes;
    });
}

} // namespace postlark::BackupFile
