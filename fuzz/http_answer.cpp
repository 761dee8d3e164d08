// SPDX-License-Identifier: GPL-3.0-or-later
// The page request of the connection probe against a local server that answers with arbitrary
// bytes (sent in pieces), or with a well-formed status line, possibly after an interim one,
// followed by arbitrary headers and body.
//  - A handle comes back exactly when the last response has no error code; the last response
//    text is then a status line without CR or LF that begins with "HTTP/", and for a
//    well-formed answer it is that answer's final status line.
//  - The last response info keeps its buffer contract: too small a buffer gets the size
//    needed and ERROR_INSUFFICIENT_BUFFER, a large enough one the whole text, zero-ended.
#include "FuzzSupport.h"
#include "platform/base/LastError.h"
#include "platform/net/WinInet.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace win = postlark::win;

namespace {

struct Server {
    int listener = -1;
    quint16 port = 0;
};

const Server& LocalServer() {
    static const Server server = [] {
        Server s;
        s.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (s.listener < 0 ||
            ::bind(s.listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(s.listener, 8) != 0 ||
            ::getsockname(s.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            postlark::fuzz::Violation("cannot listen on the loopback interface");
        s.port = ntohs(address.sin_port);
        return s;
    }();
    return server;
}

// Accepts one connection, reads the request head, sends the pieces and closes.
void Serve(const std::vector<std::string>& pieces) {
    pollfd waiting{LocalServer().listener, POLLIN, 0};
    if (::poll(&waiting, 1, 5000) != 1)
        return;
    const int peer = ::accept4(LocalServer().listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0)
        return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd readable{peer, POLLIN, 0};
        if (::poll(&readable, 1, 5000) != 1)
            break;
        const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, std::size_t(got));
    }
    for (const std::string& piece : pieces) {
        if (::send(peer, piece.data(), piece.size(), MSG_NOSIGNAL) < 0)
            break;
    }
    ::shutdown(peer, SHUT_WR);
    // Let the client finish reading before the connection goes away entirely.
    pollfd closing{peer, POLLIN, 0};
    while (::poll(&closing, 1, 2000) == 1 && ::recv(peer, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(peer);
}

std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = 'x';
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    unsetenv("all_proxy");
    unsetenv("ALL_PROXY");
    win::SetInternetRequestLimit(std::chrono::milliseconds(3000));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool wellFormed = input.ConsumeBool();
    std::string expected;
    std::vector<std::string> pieces;
    if (wellFormed) {
        std::string head;
        if (input.ConsumeBool())
            head = "HTTP/1.1 100 Continue\r\n\r\n";
        std::string reason = Printable(input.ConsumeRandomLengthString(40));
        expected = "HTTP/1.1 " + std::to_string(input.ConsumeIntegralInRange(200, 599)) +
                   (reason.empty() ? "" : " " + reason);
        while (!expected.empty() && expected.back() == ' ')
            expected.pop_back();
        head += expected + "\r\n";
        pieces.push_back(head);
    }
    while (input.remaining_bytes() > 0 && pieces.size() < 8)
        pieces.push_back(input.ConsumeRandomLengthString(256));

    const Server& server = LocalServer();
    std::thread serving(Serve, pieces);
    const win::HINTERNET session =
        win::InternetOpenA("Postlark", win::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/";
    const win::HINTERNET page =
        win::InternetOpenUrlA(session, url.c_str(), nullptr, 0, win::INTERNET_FLAG_RELOAD, 0);
    serving.join();

    win::DWORD error = 1, length = 0;
    const win::BOOL small = win::InternetGetLastResponseInfoA(&error, nullptr, &length);
    std::string text;
    if (small) {
        POSTLARK_FUZZ_CHECK(length == 0, std::to_string(length));
    } else {
        POSTLARK_FUZZ_CHECK(win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER, "");
        std::vector<char> buffer(length, '#');
        const win::DWORD needed = length;
        POSTLARK_FUZZ_CHECK(win::InternetGetLastResponseInfoA(&error, buffer.data(), &length), "");
        POSTLARK_FUZZ_CHECK(length + 1 == needed && buffer[length] == '\0', "");
        text.assign(buffer.data(), length);
    }
    POSTLARK_FUZZ_CHECK((page != 0) == (error == 0), text);
    if (page != 0) {
        POSTLARK_FUZZ_CHECK(text.starts_with("HTTP/"), text);
        POSTLARK_FUZZ_CHECK(text.find_first_of("\r\n") == std::string::npos, text);
        win::InternetCloseHandle(page);
    }
    if (wellFormed)
        POSTLARK_FUZZ_CHECK(page != 0 && text == expected, expected + " | " + text);
    win::InternetCloseHandle(session);
    return 0;
}
