// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The verdicts of a check run, one per account, that the POP3 and the IMAP dialogue write and
// the run reads: the result code, and the message count as the server gave it.
#include <cstdint>
#include <string>
#include <vector>

namespace postlark {

// Per-account outcome of a check.
enum CheckResult : std::int16_t {
    ResultFailed = -2,
    ResultBadPassword = -1,
    ResultNoMail = 0,
    ResultNewMail = 1,
};

struct CheckVerdicts {
    // Re-creates the result arrays for a run over `accountCount` accounts.
    void ResetResults(int accountCount);
    // The current account's count: new mail when above 0. The count is kept whole in
    // MessageCounts (IMAP counts reach 4294967295); MessageCount holds it within 16 bits.
    // Throws std::out_of_range when the account has no slot.
    void RecordCount(std::int64_t count);
    // The current account's result, when it has a slot.
    void Settle(std::int16_t result);
    // The current account's result slot; throws std::out_of_range when it has none.
    std::int16_t& ResultSlot();

    std::int16_t CurrentAccount = 0;
    std::int16_t MessageCount = 0;
    std::vector<std::int16_t> CheckResults;
    std::vector<std::string> MessageCounts;
};

} // namespace postlark
