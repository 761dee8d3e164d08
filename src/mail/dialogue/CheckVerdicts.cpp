// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/dialogue/CheckVerdicts.h"

#include <algorithm>
#include <stdexcept>

namespace postlark {

void CheckVerdicts::ResetResults(int accountCount) {
    CheckResults.assign(static_cast<size_t>(std::max(accountCount, 0)), ResultNoMail);
    MessageCounts.assign(CheckResults.size(), std::string());
}

std::int16_t& CheckVerdicts::ResultSlot() {
    if (CurrentAccount < 0 || static_cast<size_t>(CurrentAccount) >= CheckResults.size())
        throw std::out_of_range("account without a result slot");
    return CheckResults[static_cast<size_t>(CurrentAccount)];
}

void CheckVerdicts::RecordCount(std::int64_t count) {
    MessageCount = static_cast<std::int16_t>(std::clamp<std::int64_t>(count, INT16_MIN, INT16_MAX));
    ResultSlot() = count > 0 ? ResultNewMail : ResultNoMail;
    MessageCounts[static_cast<size_t>(CurrentAccount)] = std::to_string(count);
}

void CheckVerdicts::Settle(std::int16_t result) {
    if (CurrentAccount >= 0 && static_cast<size_t>(CurrentAccount) < CheckResults.size())
        CheckResults[static_cast<size_t>(CurrentAccount)] = result;
}

} // namespace postlark
