// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/PlainSocket.h"

#include <QPointer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace postlark {

struct PlainSocket::Address {
    sockaddr_storage storage;
};

namespace {

constexpr ssize_t kReadChunk = 16 * 1024; // on the stack; a fuller socket is read again

// The address of an IPv4 or IPv6 literal (brackets allowed around the latter), or nothing.
bool LiteralAddress(const QString& host, quint16 port, sockaddr_storage* out) {
    QByteArray text = host.toLatin1();
    if (text.startsWith('[') && text.endsWith(']'))
        text = text.mid(1, text.size() - 2);
    *out = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    if (inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
    if (inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return true;
    }
    return false;
}

// True when a non-blocking connect has already completed, as it does at once for a server on
// this machine: then no write notifier is needed to learn it.
bool AlreadyConnected(int fd) {
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) && !(p.revents & (POLLERR | POLLHUP));
}

socklen_t AddressLength(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

} // namespace

PlainSocket::PlainSocket(Events events, QObject* parent)
    : QObject(parent), events_(std::move(events)) {
    announceLater_.setSingleShot(true);
    announceLater_.setInterval(kAnnounceWithoutDataMs);
    connect(&announceLater_, &QTimer::timeout, this, [this] {
        if (connected_)
            AnnounceConnected();
    });
}

PlainSocket::~PlainSocket() {
    Abort();
}

// The addresses of a host name, in the order the resolver gives them (its preference).
std::vector<PlainSocket::Address> PlainSocket::Resolve(const QByteArray& host, quint16 port) {
    std::vector<Address> found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &list) != 0)
        return found;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        Address address{};
        if (entry->ai_family == AF_INET && entry->ai_addrlen == sizeof(sockaddr_in)) {
            std::memcpy(&address.storage, entry->ai_addr, sizeof(sockaddr_in));
            reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(port);
        } else if (entry->ai_family == AF_INET6 && entry->ai_addrlen == sizeof(sockaddr_in6)) {
            std::memcpy(&address.storage, entry->ai_addr, sizeof(sockaddr_in6));
            reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(port);
        } else {
            continue;
        }
        found.push_back(address);
    }
    ::freeaddrinfo(list);
    return found;
}

void PlainSocket::ConnectTo(const QString& host, quint16 port, quint16 localPort) {
    Abort();
    port_ = port;
    localPort_ = localPort;
    lastError_ = 0;
    Address literal;
    const QPointer<PlainSocket> self(this);
    const quint64 connection = connection_;
    const auto stillCurrent = [&] { return self && connection_ == connection; };
    events_.resolving();
    if (!stillCurrent())
        return; // a handler ended the attempt
    if (LiteralAddress(host, port, &literal.storage)) {
        addresses_.push_back(literal);
        events_.connecting();
        if (stillCurrent())
            TryNextAddress();
        return;
    }
    // The resolver blocks, so it runs on a thread of its own, left to itself: a lookup that
    // hangs on an unreachable name server never holds up anything, not even the program's end.
    // The answer comes back as an event for this object, and only while the lookup is still
    // the one wanted.
    auto lookup = std::make_shared<Lookup>();
    lookup->target = this;
    lookup_ = lookup;
    std::thread([lookup, name = host.toUtf8(), port] {
        std::vector<Address> found = Resolve(name, port);
        const std::lock_guard<std::mutex> hold(lookup->mutex);
        if (PlainSocket* target = lookup->target) {
            QMetaObject::invokeMethod(
                target,
                [target, lookup, found = std::move(found)]() mutable {
                    if (target->lookup_ == lookup)
                        target->OnResolved(std::move(found));
                },
                Qt::QueuedConnection);
        }
    }).detach();
}

void PlainSocket::OnResolved(std::vector<Address> found) {
    ForgetLookup();
    addresses_ = std::move(found);
    if (addresses_.empty()) {
        Fail(kHostNotFound);
        return;
    }
    const QPointer<PlainSocket> self(this);
    const quint64 connection = connection_;
    events_.connecting();
    if (self && connection_ == connection) // a handler may have ended the attempt
        TryNextAddress();
}

// Starts a non-blocking connect to the first address left; the write notifier reports its
// outcome. An address that fails at once gives way to the next one.
bool PlainSocket::SetKeepAlive(qintptr descriptor, int idleSeconds, int intervalSeconds,
                               int probes) {
    const int fd = static_cast<int>(descriptor);
    const int on = idleSeconds > 0 ? 1 : 0;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
        return false;
    if (!on)
        return true;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds) ==
               0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0;
}

void PlainSocket::TryNextAddress() {
    while (!addresses_.empty()) {
        const sockaddr_storage address = addresses_.front().storage;
        addresses_.erase(addresses_.begin());
        fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            lastError_ = errno;
            continue;
        }
        if (localPort_ != 0) {
            const int on = 1;
            ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_storage local = {};
            local.ss_family = address.ss_family;
            if (address.ss_family == AF_INET6)
                reinterpret_cast<sockaddr_in6*>(&local)->sin6_port = htons(localPort_);
            else
                reinterpret_cast<sockaddr_in*>(&local)->sin_port = htons(localPort_);
            if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), AddressLength(local)) != 0) {
                lastError_ = errno;
                CloseDescriptor();
                continue;
            }
        }
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), AddressLength(address)) ==
                0 ||
            errno == EINPROGRESS) {
            if (AlreadyConnected(fd_)) {
                // A server on this machine or close by has already answered the handshake:
                // reading can begin. The connection is announced from the event loop, with
                // the server's first bytes, which usually follow soon (no turn of the loop is
                // spent on the announcement alone), or after a short while without any.
                BeginReading();
                announceLater_.start();
                return;
            }
            writeNotifier_.setSocket(fd_);
            writeNotifier_.setEnabled(true);
            return;
        }
        lastError_ = errno;
        CloseDescriptor();
    }
    Fail(lastError_ != 0 ? lastError_ : ECONNREFUSED);
}

void PlainSocket::OnWritable() {
    if (fd_ < 0)
        return;
    if (connected_) {
        Flush();
        return;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        lastError_ = error;
        CloseDescriptor();
        TryNextAddress();
        return;
    }
    writeNotifier_.setEnabled(false);
    BeginReading();
    AnnounceConnected();
}

void PlainSocket::BeginReading() {
    addresses_.clear();
    connected_ = true;
    readNotifier_.setSocket(fd_);
    readNotifier_.setEnabled(true);
    writeNotifier_.setSocket(fd_); // off until a send has to wait
}

void PlainSocket::AnnounceConnected() {
    if (std::exchange(announced_, true))
        return;
    announceLater_.stop();
    events_.connected();
}

bool PlainSocket::Send(const QByteArray& data) {
    if (!connected_ || fd_ < 0)
        return false;
    if (unsent_.isEmpty()) {
        const ssize_t sent = ::send(fd_, data.constData(), static_cast<size_t>(data.size()),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == data.size())
            return true;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return true; // a broken connection shows on the reading side
        unsent_ = data.mid(sent > 0 ? sent : 0);
    } else {
        unsent_ += data;
    }
    writeNotifier_.setEnabled(true);
    return true;
}

void PlainSocket::Flush() {
    while (!unsent_.isEmpty()) {
        const ssize_t sent = ::send(fd_, unsent_.constData(), static_cast<size_t>(unsent_.size()),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // the notifier stays on
        if (sent <= 0) {
            unsent_.clear(); // a broken connection shows on the reading side
            break;
        }
        unsent_.remove(0, sent);
    }
    writeNotifier_.setEnabled(false);
}

// Reads what has arrived, in one call unless it filled the whole chunk, then announces it;
// the end of the stream or an error follows that announcement.
void PlainSocket::OnReadable() {
    if (fd_ < 0)
        return;
    if (!announced_) {
        // Data can come before the queued announcement of the connection: that goes first.
        const QPointer<PlainSocket> self(this);
        const quint64 connection = connection_;
        AnnounceConnected();
        if (!self || connection_ != connection)
            return;
    }
    bool ended = false;
    int error = 0;
    const qsizetype before = received_.size();
    for (;;) {
        char chunk[kReadChunk];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got > 0)
            received_.append(chunk, got);
        if (got == kReadChunk)
            continue;
        if (got == 0)
            ended = true;
        else if (got < 0 && errno == EINTR)
            continue;
        else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // A reset of an established connection is the peer closing it, as with any socket.
            if (errno == ECONNRESET || errno == EPIPE)
                ended = true;
            else
                error = errno;
        }
        break;
    }
    const QPointer<PlainSocket> self(this);
    const quint64 connection = connection_;
    if (received_.size() > before) {
        events_.received();
        if (!self || connection_ != connection)
            return; // a handler ended or replaced the connection
    }
    if (ended) {
        CloseDescriptor();
        events_.peerClosed();
    } else if (error != 0) {
        Fail(error);
    }
}

QByteArray PlainSocket::TakeReceived() {
    return std::exchange(received_, QByteArray());
}

void PlainSocket::Abort() {
    ForgetLookup();
    CloseDescriptor();
    addresses_.clear();
    received_.clear();
    unsent_.clear();
}

int PlainSocket::ReleaseDescriptor() {
    if (!connected_ || fd_ < 0)
        return -1;
    const int fd = std::exchange(fd_, -1);
    CloseDescriptor(); // the descriptor is no longer ours: only the notifiers stop
    received_.clear();
    unsent_.clear();
    return fd;
}

// A lookup still running answers no one any more.
void PlainSocket::ForgetLookup() {
    if (!lookup_)
        return;
    const std::lock_guard<std::mutex> hold(lookup_->mutex);
    lookup_->target = nullptr;
    lookup_.reset();
}

void PlainSocket::CloseDescriptor() {
    ++connection_;
    announced_ = false;
    announceLater_.stop();
    readNotifier_.setEnabled(false);
    writeNotifier_.setEnabled(false);
    connected_ = false;
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

// What was received stays for TakeReceived: the failure is announced after it.
void PlainSocket::Fail(int error) {
    const bool wasConnected = connected_;
    ForgetLookup();
    CloseDescriptor();
    addresses_.clear();
    unsent_.clear();
    events_.failed(wasConnected || error != ECONNRESET ? error : kClosedBeforeConnected);
}

} // namespace postlark
