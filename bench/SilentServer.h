// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A TCP server on 127.0.0.1 that accepts connections and never sends a byte: the account
// behind it holds a check run in its wait until the user skips it. The accepting thread
// sleeps in accept(), so it costs no processor time while the client waits.
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace postlark::bench {

class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    // Listens on a free port; false when that failed.
    bool Start();
    std::uint16_t Port() const { return port_; }
    int AcceptedCount();

private:
    void AcceptLoop();

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> accepted_;
};

} // namespace postlark::bench
