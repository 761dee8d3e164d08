// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A plain TCP client connection on a non-blocking system socket, watched by two socket
// notifiers. A check makes one short connection after another, and QTcpSocket spends several
// system calls and posted events on each (address queries after connecting, a size query
// before every read, its buffers, proxy lookup); this does only what the line dialogues need:
// connect, send, read what has arrived in one call, close.
//
// Host names are resolved by the system's resolver on a thread of their own and each address
// is tried in turn; an address literal is connected to at once. Every outcome after ConnectTo
// returns comes from the event loop. One object serves any number of connections in a row; Abort()
// ends the current one and nothing of it is reported after that.
#include "platform/net/DirectNotifier.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace postlark {

class PlainSocket : public QObject {
    Q_OBJECT

public:
    // Failure kinds besides a system error number (errno values are positive).
    enum : int { kHostNotFound = -1, kClosedBeforeConnected = -2 };

    // What the socket reports, each called straight from its own code (a check makes several
    // of these per account, and a direct call costs a fraction of a signal). Every handler may
    // abort, reconnect or destroy the socket.
    struct Events {
        std::function<void()> resolving;
        std::function<void()> connecting;
        std::function<void()> connected;
        std::function<void()> received;
        // The peer closed its side (or reset a connected socket); anything it sent before has
        // been announced through `received`.
        std::function<void()> peerClosed;
        // `error` is an errno value or one of the kinds above.
        std::function<void(int error)> failed;
    };

    explicit PlainSocket(Events events, QObject* parent = nullptr);
    ~PlainSocket() override;

    // Starts connecting; `localPort` 0 lets the system choose. Reports resolving, and for an
    // address literal connecting, before it returns; connected comes from the event loop.
    void ConnectTo(const QString& host, quint16 port, quint16 localPort);
    // Sends at once what the kernel takes and keeps the rest for when the socket can take it.
    // False when not connected.
    bool Send(const QByteArray& data);
    // Everything received and not yet taken.
    QByteArray TakeReceived();
    bool IsConnected() const { return connected_; }
    // Ends the connection (or the attempt) at once; harmless when there is none.
    void Abort();
    // Hands the connected descriptor to the caller (who closes it) and forgets the connection;
    // what was received and not yet taken is dropped. -1 when not connected.
    int ReleaseDescriptor();
    // Turns TCP keep-alive on for a connected system socket (`idleSeconds` 0: off): probes after
    // `idleSeconds` without traffic, then every `intervalSeconds`; after `probes` unanswered ones
    // the connection fails as timed out.
    static bool SetKeepAlive(qintptr descriptor, int idleSeconds, int intervalSeconds, int probes);
    int Descriptor() const { return fd_; }

private:
    // A host-name lookup in progress; its thread answers `target` unless it was cleared.
    struct Lookup {
        std::mutex mutex;
        PlainSocket* target = nullptr;
    };

    // A system socket address, defined beside the socket calls so that no system header
    // enters this one.
    struct Address;

    static std::vector<Address> Resolve(const QByteArray& host, quint16 port);
    void OnResolved(std::vector<Address> found);
    void ForgetLookup();
    void TryNextAddress();
    void OnWritable();
    void BeginReading();
    void AnnounceConnected();
    void OnReadable();
    void Flush();
    void CloseDescriptor();
    void Fail(int error);

    int fd_ = -1;
    quint64 connection_ = 0; // bumped whenever a descriptor is closed
    bool connected_ = false; // reading may begin
    bool announced_ = false; // connected has been reported
    std::shared_ptr<Lookup> lookup_;
    quint16 port_ = 0;
    quint16 localPort_ = 0;
    int lastError_ = 0;
    std::vector<Address> addresses_; // still to be tried, front first
    QByteArray received_;
    QByteArray unsent_;
    // A connection made at once waits this long for the server's first bytes before it is
    // announced on its own.
    static constexpr int kAnnounceWithoutDataMs = 250;

    Events events_;
    QTimer announceLater_;
    DirectNotifier readNotifier_{QSocketNotifier::Read, [this] { OnReadable(); }};
    DirectNotifier writeNotifier_{QSocketNotifier::Write, [this] { OnWritable(); }};
};

} // namespace postlark
