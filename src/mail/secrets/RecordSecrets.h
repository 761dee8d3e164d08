// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The secrets of whole account records, for the account commands: a modified account whose
// item changes its name, a backup that carries every password enciphered, and a restore that
// puts the restored passwords in the keyring while "KeyringPasswords" is on. Each waits for the
// keyring in the event dispatcher and returns the keyring's reason of a failure, or empty text.
#include "mail/secrets/AccountSecrets.h"

#include <vector>

namespace postlark {

// Stores the address, server, user name and program of account `index` (as ModifyAccount
// does). When the account's secret is in the keyring and the new values name another item (or
// put the secret in the file), the secret moves: written under the new name first, the old
// item removed after the store write. A store that cannot be written raises RuntimeError 75.
QString ModifyAccountAndSecret(long index, const AccountRecord& record,
                               const std::string& applicationKey);

// Whether any of the records keeps its secret in the keyring.
bool AnySecretInKeyring(const std::vector<AccountRecord>& records);
// Gives each record that keeps its secret in the keyring its enciphered password, as a backup
// carries it. On a failure the records are left partly filled.
QString FillKeyringPasswords(std::vector<AccountRecord>& records,
                             const std::string& applicationKey);

// While "KeyringPasswords" is on: writes the password of each restored record into the keyring
// and empties it in the record, adding the record's values to `written`. On a failure the
// items written are removed again. Does nothing while the flag is off.
QString PutRestoredSecretsInKeyring(std::vector<AccountRecord>& records,
                                    const std::string& applicationKey,
                                    std::vector<AccountValues>& written);

} // namespace postlark
