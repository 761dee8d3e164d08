// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/dialogue/StoredCredentials.h"

#include "store/AccountRecord.h"
#include "store/SettingsStore.h"

#include <utility>
#include <vector>

namespace postlark {

StoredCredentials TakeStoredCredentials(std::optional<StoredCredentials>& given,
                                        std::int16_t account) {
    if (given) {
        StoredCredentials taken = std::move(*given);
        given.reset();
        return taken;
    }
    std::vector<std::string> values = SettingsStore::GetValues(
        {AccountKey("UserName", account), AccountKey("Password", account)});
    return {std::move(values[0]), std::move(values[1])};
}

} // namespace postlark
