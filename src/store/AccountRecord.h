// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The numbered account records of the settings store. Account n (0 to NumAccts - 1, in list
// order) keeps its five fields under the keys EmailAddress<n>, POP<n>, UserName<n>,
// Password<n> and Program<n>. The routines below keep the numbering dense; each one lands as
// a single atomic change of the store.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace postlark {

struct AccountRecord {
    std::string EmailAddress;
    std::string POP;
    std::string UserName;
    std::string Password; // stored (enciphered) form
    std::string Program;

    // The fields by position, in field order.
    std::string& Field(std::size_t position);
    const std::string& Field(std::size_t position) const;

    bool operator==(const AccountRecord&) const = default;
};

// The field names, in field order.
inline constexpr std::array<std::string_view, 5> AccountFields = {"EmailAddress", "POP", "UserName",
                                                                  "Password", "Program"};

// The store key of a field: the field name followed by the account number in decimal.
std::string AccountKey(std::string_view field, long index);

// The account count key and the default that the list and dialogs show for a missing field.
inline constexpr const char* NumAcctsKey = "NumAccts";
inline constexpr const char* BadRead = "Bad Read";

// Reads account `index`; EmailAddress, POP and UserName default to `defaultText` when absent,
// Password and Program to empty text.
AccountRecord ReadAccount(long index, const std::string& defaultText);

// Stores the record as the next account and sets NumAccts one higher, in one write; returns
// the account's number. The next number is `listCount` (the number of accounts in the list)
// unless the stored NumAccts says otherwise (another running copy changed the accounts).
// An empty Program is stored as an empty value.
long AddAccount(long listCount, const AccountRecord& record);

// Stores EmailAddress, POP, UserName and Program of account `index`; Password and NumAccts
// are left alone.
void ModifyAccount(long index, const AccountRecord& record);

// Stores the enciphered password of account `index`.
void ChangePassword(long index, const std::string& storedPassword);

// Deletes account `index` of `listCount` accounts and moves the accounts above it down by
// one, so the numbering stays dense; NumAccts becomes listCount - 1. The whole renumbering
// is one atomic change: an interruption never leaves accounts half moved. A moved field that
// was missing is stored as empty text. An index outside 0..listCount-1 changes nothing.
void DeleteAccount(long index, long listCount);

} // namespace postlark
