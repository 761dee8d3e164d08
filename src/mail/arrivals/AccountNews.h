// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What one account's checks and push reports found that the user has not been told yet.
#include "mail/arrivals/ArrivedMessage.h"

#include <vector>

namespace postlark {

struct AccountNews {
    std::vector<ArrivedMessage> messages; // the newest first, at most kMaxHeaders
    int more = 0;                         // new messages beyond `messages`, not read
    bool countOnly = false;               // the server could tell only the count
};

} // namespace postlark
