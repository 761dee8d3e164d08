// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A POP3 server in a child process that answers every dialogue at once (greeting, USER, PASS,
// STAT "+OK 3 300", QUIT) without checking anything. Its processor time is the child's, not
// the benchmark's, so it serves figures that count only the client's own work. Start it before
// any thread exists (it forks).
#include <cstdint>
#include <sys/types.h>

namespace postlark::bench {

class QuickPop3Server {
public:
    QuickPop3Server() = default;
    ~QuickPop3Server();
    QuickPop3Server(const QuickPop3Server&) = delete;
    QuickPop3Server& operator=(const QuickPop3Server&) = delete;

    // Listens on 127.0.0.1 on a free port and forks the serving child; false when that failed.
    bool Start();
    std::uint16_t Port() const { return port_; }
    // Dialogues that reached QUIT so far.
    long Finished() const;

private:
    pid_t child_ = -1;
    std::uint16_t port_ = 0;
    long* finished_ = nullptr; // shared with the child
};

} // namespace postlark::bench
