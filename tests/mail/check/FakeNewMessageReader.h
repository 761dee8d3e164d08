// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A NewMessageReader for the IMAP tests: it records what a dialogue lists and hands over, and
// asks for the ids it is given (or every one listed).
#include "mail/dialogue/NewMessageReader.h"

#include <optional>

namespace postlark::test {

struct FakeNewMessageReader : NewMessageReader {
    bool Wanted() const override { return wanted; }
    std::vector<QByteArray> ToFetch(std::int16_t account, const QByteArray& uidValidity,
                                    const std::vector<QByteArray>& listed) override {
        accounts.push_back(account);
        validity = uidValidity;
        present = listed;
        return pick.value_or(listed);
    }
    void Fetched(std::int16_t account, std::vector<FetchedHeader> got, bool only) override {
        accounts.push_back(account);
        headers = std::move(got);
        countOnly = only;
        ++answers;
    }

    bool wanted = true;
    std::optional<std::vector<QByteArray>> pick;
    std::vector<std::int16_t> accounts; // of every call
    QByteArray validity;
    std::vector<QByteArray> present;
    std::vector<FetchedHeader> headers;
    bool countOnly = false;
    int answers = 0;
};

} // namespace postlark::test
