// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/AccountSecrets.h"

#include "mail/secrets/Keyring.h"
#include "mail/secrets/KeyringWait.h"
#include "platform/net/ServerAddress.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <string_view>

namespace postlark {

namespace {

std::vector<std::string> KeysOf(long index) {
    return {AccountKey("EmailAddress", index), AccountKey("POP", index),
            AccountKey("UserName", index), AccountKey("Password", index)};
}

AccountValues FromValues(const std::vector<std::string>& values, std::size_t at) {
    return {values[at], values[at + 1], values[at + 2], values[at + 3]};
}

std::string Encipher(const std::string& plain, const std::string& applicationKey) {
    std::string key = applicationKey;
    return PassCryptModule::EncryptText(plain, key);
}

} // namespace

bool KeyringPasswordsOn() {
    return SettingsStore::IsFlagOn(KeyringPasswordsKey, false);
}

bool SignsInWithOAuth(const std::string& server) {
    return ParseServerField(AnsiToQString(server)).mechanism != SignInMechanism::Password;
}

bool SecretInKeyring(const AccountValues& account, bool keyringPasswords) {
    return account.password.empty() && NewSecretInKeyring(account, keyringPasswords);
}

bool NewSecretInKeyring(const AccountValues& account, bool keyringPasswords) {
    return keyringPasswords || SignsInWithOAuth(account.server);
}

QString SecretService(const AccountValues& account) {
    return AnsiToQString(account.address);
}

QString SecretKey(const AccountValues& account) {
    return AnsiToQString(account.user) + u'@' + AnsiToQString(account.server);
}

bool SameItem(const AccountValues& a, const AccountValues& b) {
    return a.address == b.address && a.server == b.server && a.user == b.user;
}

AccountValues ValuesOf(const AccountRecord& record) {
    return {record.EmailAddress, record.POP, record.UserName, record.Password};
}

AccountValues StoredAccountValues(long index) {
    return FromValues(SettingsStore::GetValues(KeysOf(index)), 0);
}

std::vector<AccountValues> AllStoredAccountValues() {
    const long count = std::clamp(SettingsStore::GetInteger(NumAcctsKey, 0), 0L, 32767L);
    std::vector<std::string> keys;
    for (long i = 0; i < count; ++i) {
        for (std::string& key : KeysOf(i))
            keys.push_back(std::move(key));
    }
    const std::vector<std::string> values = SettingsStore::GetValues(keys);
    std::vector<AccountValues> accounts;
    for (std::size_t at = 0; at < values.size(); at += 4)
        accounts.push_back(FromValues(values, at));
    return accounts;
}

bool AnyStoredSecretMayBeInKeyring(long count, bool keyringPasswords) {
    if (keyringPasswords)
        return true;
    std::vector<std::string> keys;
    for (long i = 0; i < std::min(count, 32767L); ++i)
        keys.push_back(AccountKey("POP", i));
    bool any = false;
    SettingsStore::WithValues(keys, [&](std::span<const std::string* const> values) {
        constexpr std::string_view kMechanism = ";auth=";
        any = std::any_of(values.begin(), values.end(), [&](const std::string* server) {
            return server &&
                   std::search(server->begin(), server->end(), kMechanism.begin(), kMechanism.end(),
                               [](char a, char b) {
                                   return std::tolower(static_cast<unsigned char>(a)) == b;
                               }) != server->end();
        });
    });
    return any;
}

void ReadAccountSecret(std::int16_t account, const AccountValues& values,
                       const std::string& applicationKey, std::function<void(SecretRead)> done) {
    if (!SecretInKeyring(values, KeyringPasswordsOn())) {
        // An empty password may be one that a move to the file has stored since.
        const AccountValues now = values.password.empty() ? StoredAccountValues(account) : values;
        done({true, SameItem(now, values) ? now.password : values.password, {}});
        return;
    }
    SystemKeyring().Read(
        SecretService(values), SecretKey(values),
        [account, values, applicationKey, done = std::move(done)](KeyringResult result) {
            if (result.ok) {
                done({true, Encipher(QStringToAnsi(result.secret), applicationKey), {}});
                return;
            }
            // A move to the file may have landed since the values were read: it empties the
            // keyring only after the file holds the passwords.
            const AccountValues now = StoredAccountValues(account);
            if (result.notFound && SameItem(now, values) && !now.password.empty())
                done({true, now.password, {}});
            else
                done({false, {}, result.error});
        });
}

PlacedSecret PlaceAccountSecret(const AccountValues& values, const std::string& plainSecret,
                                const std::string& applicationKey) {
    const bool keyringPasswords = KeyringPasswordsOn();
    if (!NewSecretInKeyring(values, keyringPasswords))
        return {{}, Encipher(plainSecret, applicationKey)};
    const KeyringResult written = WriteAndWait(SystemKeyring(), SecretService(values),
                                               SecretKey(values), AnsiToQString(plainSecret));
    if (written.ok)
        return {};
    // A token must not be lost to a keyring that cannot be reached: it is kept in the file.
    if (SignsInWithOAuth(values.server))
        return {{}, Encipher(plainSecret, applicationKey), true};
    return {written.error, {}};
}

QString StoreAccountSecret(std::int16_t account, const AccountValues& values,
                           const std::string& plainSecret, const std::string& applicationKey,
                           bool* fellBack) {
    const PlacedSecret placed = PlaceAccountSecret(values, plainSecret, applicationKey);
    if (fellBack)
        *fellBack = placed.fellBack;
    if (!placed.error.isEmpty())
        return placed.error;
    ChangePassword(account, placed.password);
    return {};
}

void ForgetAccountSecrets(const std::vector<AccountValues>& accounts) {
    if (accounts.empty())
        return; // no read of the store for nothing
    const bool keyringPasswords = KeyringPasswordsOn();
    const std::vector<AccountValues> stored = AllStoredAccountValues();
    std::vector<AccountValues> forgotten;
    for (const AccountValues& account : accounts) {
        const auto sharing = [&](const AccountValues& other) { return SameItem(account, other); };
        const bool kept = std::any_of(stored.begin(), stored.end(), [&](const AccountValues& s) {
            return sharing(s) && SecretInKeyring(s, keyringPasswords);
        });
        if (kept || std::any_of(forgotten.begin(), forgotten.end(), sharing))
            continue;
        DeleteAndWait(SystemKeyring(), SecretService(account), SecretKey(account));
        forgotten.push_back(account);
    }
}

} // namespace postlark
