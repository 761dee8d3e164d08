// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuickPop3Server.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace postlark::bench {

namespace {

void SendText(int fd, const char* text) {
    const ssize_t ignored = ::send(fd, text, std::strlen(text), MSG_NOSIGNAL);
    (void)ignored;
}

// One dialogue: answers each command line until QUIT or the client's close.
void Serve(int fd, long* finished) {
    SendText(fd, "+OK ready\r\n");
    char line[512];
    std::size_t used = 0;
    for (;;) {
        const ssize_t got = ::recv(fd, line + used, sizeof line - used, 0);
        if (got <= 0)
            return;
        used += static_cast<std::size_t>(got);
        for (char* end; (end = static_cast<char*>(std::memchr(line, '\n', used)));) {
            const bool stat = std::strncmp(line, "STAT", 4) == 0;
            const bool quit = std::strncmp(line, "QUIT", 4) == 0;
            if (quit) // counted before the reply, so a client that has its answer sees the count
                __atomic_add_fetch(finished, 1, __ATOMIC_SEQ_CST);
            SendText(fd, stat ? "+OK 3 300\r\n" : quit ? "+OK bye\r\n" : "+OK\r\n");
            if (quit)
                return;
            const std::size_t taken = static_cast<std::size_t>(end - line) + 1;
            std::memmove(line, line + taken, used - taken);
            used -= taken;
        }
        if (used == sizeof line)
            return;
    }
}

} // namespace

bool QuickPop3Server::Start() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        return false;
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        ::close(listener);
        return false;
    }
    port_ = ntohs(at.sin_port);
    void* shared =
        ::mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        ::close(listener);
        return false;
    }
    finished_ = static_cast<long*>(shared);
    *finished_ = 0;
    child_ = ::fork();
    if (child_ == 0) {
        for (;;) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            Serve(fd, finished_);
            ::close(fd);
        }
    }
    ::close(listener);
    return child_ > 0;
}

long QuickPop3Server::Finished() const {
    return finished_ ? __atomic_load_n(finished_, __ATOMIC_SEQ_CST) : 0;
}

QuickPop3Server::~QuickPop3Server() {
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
    if (finished_)
        ::munmap(finished_, sizeof(long));
}

} // namespace postlark::bench
