// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchAccounts.h"

#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

namespace postlark::bench {

void StoreBenchAccounts(int count, const std::string& pop, const std::vector<Pop3Login>& logins) {
    // One write for all accounts, keys as AddAccount stores them: storing a thousand accounts
    // one by one would make the set-up, not the figure, the slow part.
    // Push is off: the figures measure checks (figure (h) switches it on itself).
    std::vector<SettingsStore::Change> changes{SettingsStore::Change::Set("AlertMsg", "0"),
                                               SettingsStore::Change::Set("ImapPush", "0")};
    std::string key = BuildApplicationKey();
    for (int i = 0; i < count; ++i) {
        const Pop3Login& login = logins[std::size_t(i) % logins.size()];
        const AccountRecord record{"bench" + std::to_string(i) + "@example.org", pop, login.user,
                                   PassCryptModule::EncryptText(login.password, key), ""};
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            changes.push_back(
                SettingsStore::Change::Set(AccountKey(AccountFields[f], i), record.Field(f)));
    }
    changes.push_back(SettingsStore::Change::Set(NumAcctsKey, std::to_string(count)));
    SettingsStore::Apply(changes);
}

} // namespace postlark::bench
