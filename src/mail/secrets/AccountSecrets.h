// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an account's secret lives. It is in the desktop's keyring exactly when the account's
// stored Password<n> is empty and either "KeyringPasswords" is on or the account signs in with
// OAuth2 (its secret is then the refresh token); otherwise Password<n> holds it enciphered.
// The keyring item of an account is named by its address (the service) and "user@server" (the
// key), so renumbering the accounts never touches the keyring, and accounts with the same three
// values share one item.
#include "store/AccountRecord.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace postlark {

inline constexpr const char* KeyringPasswordsKey = "KeyringPasswords";

// An account's values as stored (single-byte text).
struct AccountValues {
    std::string address;  // EmailAddress<n>
    std::string server;   // POP<n>
    std::string user;     // UserName<n>
    std::string password; // Password<n>: enciphered, or empty

    bool operator==(const AccountValues&) const = default;
};

struct SecretRead {
    bool ok = false;
    std::string storedPassword; // enciphered, as Password<n> would hold it
    QString error;              // why the keyring could not give it
};

// The stored "KeyringPasswords" flag (off by default).
bool KeyringPasswordsOn();
bool SignsInWithOAuth(const std::string& server);
// Where the rule puts the account's present secret, and where it puts a new one.
bool SecretInKeyring(const AccountValues& account, bool keyringPasswords);
bool NewSecretInKeyring(const AccountValues& account, bool keyringPasswords);

// The names of the account's keyring item, and whether two accounts share it.
QString SecretService(const AccountValues& account);
QString SecretKey(const AccountValues& account);
bool SameItem(const AccountValues& a, const AccountValues& b);

AccountValues ValuesOf(const AccountRecord& record);
// Account `index` as stored now, absent fields empty; and every stored account.
AccountValues StoredAccountValues(long index);
std::vector<AccountValues> AllStoredAccountValues();
// Whether any of the stored accounts 0 to count - 1 may keep its secret in the keyring: the
// setting is on, or a server field names a sign-in mechanism. A quick look at the server fields
// alone, so that the commands that read every account for it do so only when one may.
bool AnyStoredSecretMayBeInKeyring(long count, bool keyringPasswords);

// Gives the secret of `account` (its number) whose stored values are `values`, enciphered with
// the application key as the file would hold it. A secret kept in the file is given at once,
// before this returns; one in the keyring once the keyring has answered.
void ReadAccountSecret(std::int16_t account, const AccountValues& values,
                       const std::string& applicationKey, std::function<void(SecretRead)> done);

struct PlacedSecret {
    QString error;         // why the keyring refused it; nothing was stored then
    std::string password;  // the value for Password<n>: empty when the keyring holds it
    bool fellBack = false; // an OAuth2 token went to the file: the keyring could not be used
};

// Puts a new secret where the rule puts it (waiting for the keyring in the event dispatcher)
// and gives the value to store as Password<n>; for accounts that are not yet stored.
PlacedSecret PlaceAccountSecret(const AccountValues& values, const std::string& plainSecret,
                                const std::string& applicationKey);
// The same for stored account `account`, whose Password<n> it then stores. Returns the
// keyring's reason, or empty; a store that cannot be written raises RuntimeError 75.
QString StoreAccountSecret(std::int16_t account, const AccountValues& values,
                           const std::string& plainSecret, const std::string& applicationKey,
                           bool* fellBack = nullptr);

// Removes the keyring items of these accounts that no stored account keeps its secret in,
// waiting for each; failures leave an item behind and are not reported.
void ForgetAccountSecrets(const std::vector<AccountValues>& accounts);

} // namespace postlark
