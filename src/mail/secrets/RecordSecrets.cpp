// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/RecordSecrets.h"

#include "mail/secrets/Keyring.h"
#include "mail/secrets/KeyringWait.h"
#include "platform/base/RuntimeError.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <algorithm>

namespace postlark {

QString ModifyAccountAndSecret(long index, const AccountRecord& record,
                               const std::string& applicationKey) {
    const bool keyringPasswords = KeyringPasswordsOn();
    const AccountValues before = StoredAccountValues(index);
    AccountValues after = ValuesOf(record);
    after.password = before.password;
    const bool moves = SecretInKeyring(before, keyringPasswords) &&
                       !(SecretInKeyring(after, keyringPasswords) && SameItem(before, after));
    if (!moves) {
        ModifyAccount(index, record);
        return {};
    }
    const KeyringResult secret =
        ReadAndWait(SystemKeyring(), SecretService(before), SecretKey(before));
    if (!secret.ok && !secret.notFound)
        return secret.error;
    if (secret.notFound) {
        ModifyAccount(index, record); // there is no password to move
    } else if (SecretInKeyring(after, keyringPasswords)) {
        const KeyringResult written =
            WriteAndWait(SystemKeyring(), SecretService(after), SecretKey(after), secret.secret);
        if (!written.ok)
            return written.error;
        ModifyAccount(index, record);
    } else {
        // The new server keeps its secret in the file: the record and its password in one write.
        std::string key = applicationKey;
        std::vector<SettingsStore::Change> changes;
        AccountRecord stored = record;
        stored.Password = PassCryptModule::EncryptText(QStringToAnsi(secret.secret), key);
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            changes.push_back(
                SettingsStore::Change::Set(AccountKey(AccountFields[f], index), stored.Field(f)));
        SettingsStore::Apply(changes);
    }
    ForgetAccountSecrets({before});
    return {};
}

bool AnySecretInKeyring(const std::vector<AccountRecord>& records) {
    const bool keyringPasswords = KeyringPasswordsOn();
    return std::any_of(records.begin(), records.end(), [&](const AccountRecord& record) {
        return SecretInKeyring(ValuesOf(record), keyringPasswords);
    });
}

QString FillKeyringPasswords(std::vector<AccountRecord>& records,
                             const std::string& applicationKey) {
    const bool keyringPasswords = KeyringPasswordsOn();
    for (AccountRecord& record : records) {
        const AccountValues account = ValuesOf(record);
        if (!SecretInKeyring(account, keyringPasswords))
            continue;
        const KeyringResult secret =
            ReadAndWait(SystemKeyring(), SecretService(account), SecretKey(account));
        if (!secret.ok)
            return secret.error;
        std::string key = applicationKey;
        record.Password = PassCryptModule::EncryptText(QStringToAnsi(secret.secret), key);
    }
    return {};
}

QString PutRestoredSecretsInKeyring(std::vector<AccountRecord>& records,
                                    const std::string& applicationKey,
                                    std::vector<AccountValues>& written) {
    if (!KeyringPasswordsOn())
        return {};
    for (AccountRecord& record : records) {
        if (record.Password.empty())
            continue;
        std::string key = applicationKey;
        std::string plain;
        try {
            plain = PassCryptModule::DecryptText(record.Password, key);
        } catch (const RuntimeError&) {
            continue; // a password that does not decipher stays as it is, in the file
        }
        AccountValues account = ValuesOf(record);
        account.password.clear();
        const KeyringResult result = WriteAndWait(SystemKeyring(), SecretService(account),
                                                  SecretKey(account), AnsiToQString(plain));
        if (!result.ok) {
            ForgetAccountSecrets(written);
            written.clear();
            return result.error;
        }
        record.Password.clear();
        written.push_back(account);
    }
    return {};
}

} // namespace postlark
