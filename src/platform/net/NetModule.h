// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The networking that needs QtNetwork (TLS connections with their certificate checks, the
// desktop's proxy settings) lives in a library of its own, loaded when it is first needed. A
// program that checks plain mailboxes then never maps QtNetwork and the Kerberos and proxy
// libraries behind it: that is about a megabyte of memory and a tenth of the libraries to load
// at every start.
//
// The interface uses no QtNetwork types, so the program itself does not link QtNetwork.
#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace postlark {

// What a TLS connection reports, from its own signals. The error kinds name plain
// connections' failures too.
struct TlsEvents {
    enum class State { Resolving, Connecting, TcpConnected };
    enum class Error {
        Refused,
        RemoteClosed,
        HostNotFound,
        Resource,
        Timeout,
        Network,
        AddressInUse,
        AddressNotAvailable,
        Handshake,
        Other
    };
    std::function<void(State)> stateChanged;
    std::function<void(Error, const QString& detail)> error;
    std::function<void()> readyRead;
    std::function<void()> disconnected;
    // The handshake succeeded; `hostNamed` tells whether the certificate's alternative names
    // (if it has any) name the host connected to.
    std::function<void(bool hostNamed)> encrypted;
    std::function<void(const QString& why)> certificateErrors;
};

// One TLS connection: TLS from the first byte or from an upgrade, the peer verified against the
// system's trusted authorities.
class TlsChannel {
public:
    virtual ~TlsChannel() = default;
    // Binds to a local port first (0: any); false when the port cannot be had.
    virtual bool Bind(const QString& host, quint16 localPort) = 0;
    virtual void Connect(const QString& host, quint16 port) = 0;
    // Takes over a connected plain socket and starts the client's handshake on it (STARTTLS),
    // with the same checks as Connect; false (the descriptor still the caller's) when the
    // socket cannot be taken.
    virtual bool StartClient(qintptr descriptor, const QString& host) = 0;
    virtual bool Write(const QByteArray& data) = 0;
    virtual QByteArray ReadAll() = 0;
    // The system socket of the connection once its TCP side is up; -1 before.
    virtual qintptr Descriptor() const = 0;
    // No event is reported any more; the connection is dropped (at once when `abortNow`) and
    // the channel deletes itself when its own signals have returned.
    virtual void Release(bool abortNow) = 0;
};

// A proxy of the desktop's settings for an address.
struct DesktopProxyEntry {
    bool socks = false; // else HTTP
    QString host;
    quint16 port = 0;
    QString user;
    QString password;
};

struct NetModuleApi {
    bool (*supportsTls)();
    TlsChannel* (*newTlsChannel)(TlsEvents events);
    std::vector<DesktopProxyEntry> (*desktopProxies)(const QString& url);
};

// The library, loaded at the first call; null (with the reason) when it cannot be loaded.
const NetModuleApi* NetModule(QString* why = nullptr);

} // namespace postlark

// The one symbol the library exports.
extern "C" const postlark::NetModuleApi* postlark_net_module();
