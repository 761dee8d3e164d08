// SPDX-License-Identifier: GPL-3.0-or-later
#include "SilentServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace postlark::bench {

SilentServer::SilentServer() = default;

SilentServer::~SilentServer() {
    if (listener_ >= 0)
        ::shutdown(listener_, SHUT_RDWR); // wakes the thread out of accept()
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
    for (int fd : accepted_)
        ::close(fd);
}

bool SilentServer::Start() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0)
        return false;
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
        return false;
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

int SilentServer::AcceptedCount() {
    std::lock_guard lock(mutex_);
    return int(accepted_.size());
}

void SilentServer::AcceptLoop() {
    for (;;) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return; // shut down
        std::lock_guard lock(mutex_);
        accepted_.push_back(fd); // held open, never written to
    }
}

} // namespace postlark::bench
