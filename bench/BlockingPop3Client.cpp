// SPDX-License-Identifier: GPL-3.0-or-later
#include "BlockingPop3Client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

namespace postlark::bench {

namespace {

constexpr int kTimeoutSeconds = 5;

class Connection {
public:
    Connection() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {}
    ~Connection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Open(const std::string& address, std::uint16_t port) {
        if (fd_ < 0)
            return false;
        timeval timeout{kTimeoutSeconds, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
            return false;
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    }

    // Reads one reply line (up to CR LF); false on a closed connection or a time-out.
    bool ReadLine(std::string& line) {
        line.clear();
        char buffer[512];
        while (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            line.append(buffer, std::size_t(got));
        }
        return true;
    }

    bool Send(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += std::size_t(n);
        }
        return true;
    }

    // Sends a command and reads its reply; true when the reply is positive.
    bool Command(const std::string& command, std::string& reply) {
        return Send(command + "\r\n") && ReadLine(reply) && reply.starts_with('+');
    }

private:
    int fd_;
};

} // namespace

int CheckMailbox(const std::string& address, std::uint16_t port, const Pop3Login& login) {
    Connection connection;
    std::string reply;
    if (!connection.Open(address, port) || !connection.ReadLine(reply) || !reply.starts_with('+'))
        return -1;
    if (!connection.Command("USER " + login.user, reply) ||
        !connection.Command("PASS " + login.password, reply))
        return -1;
    if (!connection.Command("STAT", reply) || reply.size() < 5)
        return -1;
    const int count = std::atoi(reply.c_str() + 4); // "+OK <count> <size>"
    if (!connection.Command("QUIT", reply))
        return -1;
    return count;
}

} // namespace postlark::bench
