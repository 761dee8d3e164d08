#include "BenchAccounts.h"

#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

namespace postlark::bench {

void StoreBenchAccounts(int count, const std::string& pop, const std::vector<Pop3Login>& logins) {
    SettingsStore::SaveValue("AlertMsg", "0");
    std::string key = BuildApplicationKey();
    for (int i = 0; i < count; ++i) {
        const Pop3Login& login = logins[std::size_t(i) % logins.size()];
        AddAccount(i, AccountRecord{"bench" + std::to_string(i) + "@example.org", pop, login.user,
                                    PassCryptModule::EncryptText(login.password, key), ""});
    }
}

} // namespace postlark::bench
