// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/AccountRecord.h"

#include "store/SettingsStore.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace postlark {

namespace {

// The stored account count when it is a whole number an account list can hold.
std::optional<long> StoredCount(const SettingsStore::Lookup& stored) {
    const auto text = stored(NumAcctsKey);
    const auto count = text ? SettingsStore::ParseNumber(*text) : std::nullopt;
    if (!count || *count < 0 || *count > 32767 || *count != std::floor(*count))
        return std::nullopt;
    return static_cast<long>(*count);
}

constexpr std::array<std::string AccountRecord::*, 5> kMembers = {
    &AccountRecord::EmailAddress, &AccountRecord::POP, &AccountRecord::UserName,
    &AccountRecord::Password, &AccountRecord::Program};

using Change = SettingsStore::Change;

} // namespace

std::string& AccountRecord::Field(std::size_t position) {
    return this->*kMembers.at(position);
}

const std::string& AccountRecord::Field(std::size_t position) const {
    return this->*kMembers.at(position);
}

std::string AccountKey(std::string_view field, long index) {
    // The number as IntegerText writes it (decimal, '-' for a negative one), built in place:
    // back-up and restore make one key per field of every account.
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, index);
    const auto count = static_cast<std::size_t>(end - digits);
    std::string key(field.size() + count, '\0');
    std::memcpy(key.data(), field.data(), field.size());
    std::memcpy(key.data() + field.size(), digits, count);
    return key;
}

AccountRecord ReadAccount(long index, const std::string& defaultText) {
    AccountRecord record;
    for (std::size_t f = 0; f < AccountFields.size(); ++f) {
        const bool hasDefault = f < 3; // EmailAddress, POP, UserName
        record.Field(f) = SettingsStore::GetValue(AccountKey(AccountFields[f], index),
                                                  hasDefault ? defaultText : std::string());
    }
    return record;
}

long AddAccount(long listCount, const AccountRecord& record) {
    long index = listCount;
    SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
        // Normally the list and the stored count agree. When another running copy has added
        // or removed an account meanwhile, the stored count is the free number: taking the
        // list's would overwrite that copy's new account.
        index = StoredCount(stored).value_or(listCount);
        std::vector<Change> changes;
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            changes.push_back(Change::Set(AccountKey(AccountFields[f], index), record.Field(f)));
        changes.push_back(Change::Set(NumAcctsKey, SettingsStore::IntegerText(index + 1)));
        return changes;
    });
    return index;
}

void ModifyAccount(long index, const AccountRecord& record) {
    std::vector<Change> changes;
    for (std::size_t f = 0; f < AccountFields.size(); ++f) {
        if (AccountFields[f] != "Password")
            changes.push_back(Change::Set(AccountKey(AccountFields[f], index), record.Field(f)));
    }
    SettingsStore::Apply(changes);
}

void ChangePassword(long index, const std::string& storedPassword) {
    SettingsStore::SaveValue(AccountKey("Password", index), storedPassword);
}

void DeleteAccount(long index, long listCount) {
    if (index < 0 || index >= listCount)
        return;
    // The end state of deleting the five values of `index` and then, for each later account
    // in ascending order, copying its fields (missing ones as empty text) one number down and
    // deleting its own values: accounts index..last-1 hold the old index+1..last, the five
    // values of `last` are gone. As when adding, the stored count wins over a stale list, so
    // an account another running copy added is moved down too instead of being cut off.
    SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
        const long last = StoredCount(stored).value_or(listCount) - 1;
        std::vector<Change> changes;
        if (index > last)
            return changes;
        for (long i = index; i < last; ++i) {
            for (const std::string_view field : AccountFields) {
                changes.push_back(Change::Set(AccountKey(field, i),
                                              stored(AccountKey(field, i + 1)).value_or("")));
            }
        }
        for (const std::string_view field : AccountFields)
            changes.push_back(Change::Delete(AccountKey(field, last)));
        changes.push_back(Change::Set(NumAcctsKey, SettingsStore::IntegerText(last)));
        return changes;
    });
}

} // namespace postlark
