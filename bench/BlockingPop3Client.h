// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simplest possible POP3 checker, as a yardstick for the check run: one blocking POSIX
// socket per dialogue, greeting, USER, PASS, STAT, QUIT, each reply read before the next
// command is sent.
#include <cstdint>
#include <string>

namespace postlark::bench {

struct Pop3Login {
    std::string user;
    std::string password;
};

// Runs one dialogue against an IPv4 address. Returns the message count from the STAT reply,
// or -1 when any step failed (no connection, a negative reply, a time-out of a few seconds).
int CheckMailbox(const std::string& address, std::uint16_t port, const Pop3Login& login);

} // namespace postlark::bench
