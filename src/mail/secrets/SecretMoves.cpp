// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/SecretMoves.h"

#include "mail/secrets/AccountSecrets.h"
#include "mail/secrets/Keyring.h"
#include "mail/secrets/KeyringWait.h"
#include "platform/base/RuntimeError.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <utility>

namespace postlark {

namespace {

using Change = SettingsStore::Change;

// Whether account `index` is still stored with exactly these values: another running copy may
// have changed the accounts while the keyring was busy, and those accounts are left alone.
bool Unchanged(const SettingsStore::Lookup& stored, long index, const AccountValues& account) {
    const auto is = [&](const char* field, const std::string& value) {
        return stored(AccountKey(field, index)).value_or("") == value;
    };
    return is("EmailAddress", account.address) && is("POP", account.server) &&
           is("UserName", account.user) && is("Password", account.password);
}

void DeleteItems(const std::vector<AccountValues>& accounts) {
    for (const AccountValues& account : accounts)
        DeleteAndWait(SystemKeyring(), SecretService(account), SecretKey(account));
}

} // namespace

QString MoveSecretsToKeyring(const std::string& applicationKey) {
    if (KeyringPasswordsOn())
        return {};
    const std::vector<AccountValues> accounts = AllStoredAccountValues();
    std::vector<std::pair<long, AccountValues>> moved;
    std::vector<AccountValues> written;
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        const AccountValues& account = accounts[i];
        if (account.password.empty())
            continue;
        std::string key = applicationKey;
        std::string plain;
        try {
            plain = PassCryptModule::DecryptText(account.password, key);
        } catch (const RuntimeError&) {
            continue;
        }
        const KeyringResult result = WriteAndWait(SystemKeyring(), SecretService(account),
                                                  SecretKey(account), AnsiToQString(plain));
        if (!result.ok) {
            DeleteItems(written);
            return result.error;
        }
        moved.emplace_back(static_cast<long>(i), account);
        written.push_back(account);
    }
    try {
        SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
            std::vector<Change> changes{Change::Set(KeyringPasswordsKey, "1")};
            for (const auto& [index, account] : moved) {
                if (Unchanged(stored, index, account))
                    changes.push_back(Change::Set(AccountKey("Password", index), ""));
            }
            return changes;
        });
    } catch (const RuntimeError& error) {
        DeleteItems(written);
        return QString::fromStdString(error.Description);
    }
    return {};
}

QString MoveSecretsToFile(const std::string& applicationKey) {
    if (!KeyringPasswordsOn())
        return {};
    const std::vector<AccountValues> accounts = AllStoredAccountValues();
    std::vector<std::pair<long, std::string>> read; // account, enciphered password
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        const AccountValues& account = accounts[i];
        if (account.password.empty() && !SignsInWithOAuth(account.server)) {
            const KeyringResult result =
                ReadAndWait(SystemKeyring(), SecretService(account), SecretKey(account));
            if (!result.ok && !result.notFound)
                return result.error;
            if (result.ok) {
                std::string key = applicationKey;
                read.emplace_back(static_cast<long>(i),
                                  PassCryptModule::EncryptText(QStringToAnsi(result.secret), key));
            }
        }
    }
    std::vector<AccountValues> landed;
    try {
        SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
            landed.clear();
            std::vector<Change> changes{Change::Set(KeyringPasswordsKey, "0")};
            for (const auto& [index, password] : read) {
                const AccountValues& account = accounts[static_cast<std::size_t>(index)];
                if (Unchanged(stored, index, account)) {
                    changes.push_back(Change::Set(AccountKey("Password", index), password));
                    landed.push_back(account);
                }
            }
            return changes;
        });
    } catch (const RuntimeError& error) {
        return QString::fromStdString(error.Description);
    }
    ForgetAccountSecrets(landed);
    return {};
}

} // namespace postlark
