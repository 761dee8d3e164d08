// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/Winsock.h"

#include "platform/net/NetModule.h"
#include "platform/net/ServerAddress.h"

#include <QPointer>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace postlark {

namespace {} // namespace

Winsock::Winsock(QObject* parent)
    : QObject(parent),
      plain_({.resolving = [this] { OnConnectingState(TlsEvents::State::Resolving); },
              .connecting = [this] { OnConnectingState(TlsEvents::State::Connecting); },
              .connected =
                  [this] {
                      connectTimer_.stop();
                      ApplyKeepAlive(plain_.Descriptor());
                      SetState(sckConnected);
                  },
              .received = [this] { OnReady(); },
              .peerClosed = [this] { OnPeerClosed(); },
              .failed = [this](int error) { OnPlainFailure(error); }}) {
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this,
            [this] { Fail(sckTimedout, QStringLiteral("Connection timed out"), true); });
}

Winsock::~Winsock() {
    Detach(true);
}

void Winsock::Connect(const QString& server, quint16 port) {
    Connect(server, ParseServerField(server, port), port);
}

void Winsock::Connect(const QString& server, const ServerAddress& address, quint16 port) {
    Reset();
    lastError_.clear();
    errorNumber_ = 0;
    tlsErrors_.clear();

    remoteHost_ = address.valid ? address.host : server.trimmed();
    remotePort_ = address.valid ? address.port : port;
    tls_ = address.tls;
    if (!address.valid) {
        // Visible at once, so a caller that waits for the state after connecting stops waiting;
        // the signals follow from the event loop.
        state_ = sckError;
        errorStateUnannounced_ = true;
        Fail(sckInvalidArg, address.error, true);
        return;
    }
    QString moduleProblem;
    const NetModuleApi* module = tls_ ? NetModule(&moduleProblem) : nullptr;
    if (tls_ && (!module || !module->supportsTls())) {
        state_ = sckError;
        errorStateUnannounced_ = true;
        Fail(sckSecureChannelFailed,
             module ? QStringLiteral("TLS is not available on this system")
                    : QStringLiteral("TLS is not available: %1").arg(moduleProblem),
             true);
        return;
    }

    attached_ = true;
    if (!tls_) {
        // The connect timer starts first: the socket's first signals come from inside ConnectTo.
        connectTimer_.start(ConnectTimeoutMs);
        const bool outer = std::exchange(inConnect_, true);
        plain_.ConnectTo(address.host, address.port, LocalPort);
        inConnect_ = outer;
        return;
    }

    // Only a TLS connection needs the TLS channel: a plain one never loads the TLS libraries.
    tlsChannel_ = NewTlsChannel(*module);
    if (LocalPort != 0 && !tlsChannel_->Bind(address.host, LocalPort)) {
        state_ = sckError;
        errorStateUnannounced_ = true;
        Fail(sckAddressInUse, QStringLiteral("Address in use"), true);
        return;
    }
    connectTimer_.start(ConnectTimeoutMs);
    tlsChannel_->Connect(address.host, address.port);
}

TlsChannel* Winsock::NewTlsChannel(const NetModuleApi& module) {
    TlsEvents events;
    events.stateChanged = [this](TlsEvents::State state) { OnConnectingState(state); };
    events.error = [this](TlsEvents::Error error, const QString& detail) {
        OnTlsError(error, detail);
    };
    events.readyRead = [this] { OnReady(); };
    events.disconnected = [this] { OnPeerClosed(); };
    events.encrypted = [this](bool hostNamed) { OnEncrypted(hostNamed); };
    events.certificateErrors = [this](const QString& why) { tlsErrors_ = why; };
    return module.newTlsChannel(std::move(events));
}

void Winsock::ApplyKeepAlive(qintptr descriptor) const {
    if (!KeepAlive.onoff)
        return;
    const auto seconds = [](unsigned long ms) {
        return static_cast<int>(std::max(ms / 1000, 1UL));
    };
    PlainSocket::SetKeepAlive(descriptor, seconds(KeepAlive.keepalivetime),
                              seconds(KeepAlive.keepaliveinterval), 10);
}

void Winsock::OnEncrypted(bool hostNamed) {
    connectTimer_.stop();
    if (!hostNamed) {
        Detach(true); // nothing received over this connection is handed on
        Fail(sckSecureChannelFailed,
             QStringLiteral("TLS handshake failed: the certificate's alternative names do "
                            "not include %1")
                 .arg(remoteHost_),
             true);
        return;
    }
    if (!std::exchange(upgrading_, false)) {
        SetState(sckConnected);
        return;
    }
    const QByteArray queued = std::exchange(upgradeQueue_, QByteArray());
    if (!queued.isEmpty() && !tlsChannel_->Write(queued))
        return Fail(sckConnectAborted, QStringLiteral("The connection could not send"), true);
    emit TlsStarted();
}

bool Winsock::StartTls() {
    if (!attached_ || tls_ || state_ != sckConnected || !plain_.IsConnected())
        return false;
    // Nothing the server sent before the handshake is ever announced: a reply after the
    // server's "go ahead" may come from anyone on the path.
    ++generation_;
    incoming_.clear();
    arrivalPending_ = false;
    deliveryQueued_ = false;
    tls_ = true;
    upgrading_ = true;
    tlsErrors_.clear();
    QString moduleProblem;
    const NetModuleApi* module = NetModule(&moduleProblem);
    if (!module || !module->supportsTls()) {
        Fail(sckSecureChannelFailed,
             module ? QStringLiteral("TLS is not available on this system")
                    : QStringLiteral("TLS is not available: %1").arg(moduleProblem),
             true);
        return true;
    }
    const int descriptor = plain_.ReleaseDescriptor();
    tlsChannel_ = NewTlsChannel(*module);
    if (!tlsChannel_->StartClient(descriptor, remoteHost_)) {
        ::close(descriptor);
        Fail(sckSecureChannelFailed, QStringLiteral("TLS could not be started on the connection"),
             true);
        return true;
    }
    connectTimer_.start(ConnectTimeoutMs);
    return true;
}

bool Winsock::SendData(const QByteArray& data) {
    if (!attached_ || state_ != sckConnected)
        return false;
    if (upgrading_) {
        upgradeQueue_ += data;
        return true;
    }
    if (!tls_)
        return plain_.Send(data);
    return tlsChannel_->Write(data);
}

QByteArray Winsock::GetData() {
    return std::exchange(incoming_, QByteArray());
}

void Winsock::Close() {
    Reset();
    SetState(sckClosed);
}

// Drops the current connection and everything pending for it. Queued deliveries of the old
// connection see a different generation and do nothing.
void Winsock::Reset() {
    ++generation_;
    Detach(true);
    incoming_.clear();
    arrivalPending_ = false;
    peerClosedPending_ = false;
    errorPending_ = false;
    errorStateUnannounced_ = false;
    deliveryQueued_ = false;
    upgrading_ = false;
    upgradeQueue_.fill('\0'); // it may hold a log-in
    upgradeQueue_.clear();
}

// Cuts the socket loose: none of its signals reach us any more. Inside the socket's own signals
// it is only scheduled for deletion, since it is closing or failing by itself there.
void Winsock::Detach(bool abortNow) {
    connectTimer_.stop();
    if (!std::exchange(attached_, false))
        return;
    plain_.Abort(); // a plain socket sends nothing more once aborted
    if (TlsChannel* channel = std::exchange(tlsChannel_, nullptr))
        channel->Release(abortNow);
}

void Winsock::SetState(int state) {
    if (state_ == state)
        return;
    state_ = state;
    emit StateChanged(state);
}

void Winsock::TakeIncoming() {
    if (!attached_ || (tls_ && !tlsChannel_))
        return;
    const QByteArray data = tls_ ? tlsChannel_->ReadAll() : plain_.TakeReceived();
    if (data.isEmpty())
        return;
    incoming_ += data;
    arrivalPending_ = true;
}

void Winsock::ScheduleDelivery() {
    if (deliveryQueued_)
        return;
    deliveryQueued_ = true;
    QMetaObject::invokeMethod(
        this, [this, generation = generation_] { Deliver(generation); }, Qt::QueuedConnection);
}

// Announces what happened on the connection, data first, then the peer's close or the error.
// Every handler may close or reconnect; the generation check stops the rest then.
void Winsock::Deliver(quint64 generation) {
    if (generation != generation_)
        return;
    deliveryQueued_ = false;
    QPointer<Winsock> self(this);
    const auto stillCurrent = [&] { return self && generation == generation_; };

    if (arrivalPending_) {
        arrivalPending_ = false;
        if (!incoming_.isEmpty()) {
            ++announcing_;
            emit DataArrival(incoming_.size());
            if (!self)
                return;
            --announcing_;
            if (!stillCurrent())
                return;
        }
    }
    // More data came in while the handler ran; its own delivery keeps the order.
    if (arrivalPending_)
        return;

    if (errorPending_) {
        errorPending_ = false;
        const bool announce = state_ != sckError || errorStateUnannounced_;
        errorStateUnannounced_ = false;
        state_ = sckError;
        if (announce) {
            emit StateChanged(sckError);
            if (!stillCurrent())
                return;
        }
        emit ErrorOccurred(errorNumber_, lastError_);
        return;
    }
    if (peerClosedPending_) {
        peerClosedPending_ = false;
        SetState(sckClosing);
        if (!stillCurrent())
            return;
        emit PeerClosed();
    }
}

void Winsock::Fail(int number, const QString& description, bool abortNow) {
    TakeIncoming(); // what arrived before the failure is still announced first
    Detach(abortNow);
    errorPending_ = true;
    errorNumber_ = number;
    lastError_ = description;
    ScheduleDelivery();
}

// The states on the way to a connection, from either kind of socket.
void Winsock::OnConnectingState(TlsEvents::State state) {
    switch (state) {
    case TlsEvents::State::Resolving:
        SetState(sckResolvingHost);
        break;
    case TlsEvents::State::Connecting:
        if (state_ == sckResolvingHost) {
            const quint64 generation = generation_;
            SetState(sckHostResolved);
            if (generation != generation_)
                return; // a handler dropped this connection
        }
        SetState(sckConnecting);
        break;
    case TlsEvents::State::TcpConnected:
        // A TLS connection counts as connected only once the handshake has succeeded.
        ApplyKeepAlive(tlsChannel_->Descriptor());
        break;
    }
}

void Winsock::OnTlsError(TlsEvents::Error error, const QString& detail) {
    if (!tlsChannel_)
        return;
    if (error == TlsEvents::Error::RemoteClosed && state_ == sckConnected && !upgrading_) {
        OnPeerClosed();
        return;
    }
    FailFor(error, detail);
}

// One failure of either kind of connection, with the control's number and text.
void Winsock::FailFor(TlsEvents::Error error, const QString& detail) {
    using Error = TlsEvents::Error;
    switch (error) {
    case Error::Refused:
        Fail(sckConnectionRefused, QStringLiteral("Connection is forcefully rejected"), false);
        break;
    case Error::RemoteClosed:
        Fail(sckConnectionReset,
             QStringLiteral("The connection was closed before it was established"), false);
        break;
    case Error::HostNotFound:
        Fail(sckHostNotFound, QStringLiteral("Host not found: %1").arg(remoteHost_), false);
        break;
    case Error::Resource:
        Fail(sckNoBufferSpace, detail, false);
        break;
    case Error::Timeout:
        Fail(sckTimedout, QStringLiteral("Connection timed out"), false);
        break;
    case Error::Network:
        Fail(sckNetworkUnreachable, detail, false);
        break;
    case Error::AddressInUse:
        Fail(sckAddressInUse, QStringLiteral("Address in use"), false);
        break;
    case Error::AddressNotAvailable:
        Fail(sckAddressNotAvailable, QStringLiteral("Address not available from the local machine"),
             false);
        break;
    case Error::Handshake:
        Fail(sckSecureChannelFailed,
             QStringLiteral("TLS handshake failed: %1")
                 .arg(tlsErrors_.isEmpty() ? detail : tlsErrors_),
             false);
        break;
    case Error::Other:
        Fail(sckConnectAborted, detail, false);
        break;
    }
}

void Winsock::OnReady() {
    TakeIncoming();
    if (!arrivalPending_)
        return;
    // Announced straight from the socket's signal, saving a turn of the event loop, unless
    // something is already waiting or being announced: then the queued delivery keeps the
    // order.
    if (deliveryQueued_ || announcing_ || errorPending_ || peerClosedPending_) {
        ScheduleDelivery();
        return;
    }
    Deliver(generation_);
}

void Winsock::OnPeerClosed() {
    if (!attached_)
        return;
    TakeIncoming();
    if (upgrading_) {
        Fail(sckSecureChannelFailed,
             QStringLiteral("TLS handshake failed: the server closed the connection"), false);
        return;
    }
    if (state_ != sckConnected) {
        Fail(sckConnectionReset,
             QStringLiteral("The connection was closed before it was established"), false);
        return;
    }
    Detach(false);
    peerClosedPending_ = true;
    ScheduleDelivery();
}

} // namespace postlark

namespace postlark {

void Winsock::OnPlainFailure(int error) {
    if (inConnect_) {
        // Failed before Connect returned: the state shows it at once, as for an invalid field.
        state_ = sckError;
        errorStateUnannounced_ = true;
    }
    using Error = TlsEvents::Error;
    const QString detail = error > 0 ? QString::fromLocal8Bit(std::strerror(error)) : QString();
    switch (error) {
    case PlainSocket::kHostNotFound:
        return FailFor(Error::HostNotFound, detail);
    case PlainSocket::kClosedBeforeConnected:
        return FailFor(Error::RemoteClosed, detail);
    case ECONNREFUSED:
        return FailFor(Error::Refused, detail);
    case ETIMEDOUT:
        return FailFor(Error::Timeout, detail);
    case ENETUNREACH:
        return FailFor(Error::Network, QStringLiteral("Network unreachable"));
    case EHOSTUNREACH:
        return FailFor(Error::Network, QStringLiteral("Host unreachable"));
    case EADDRINUSE:
        return FailFor(Error::AddressInUse, detail);
    case EADDRNOTAVAIL:
        return FailFor(Error::AddressNotAvailable, detail);
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return FailFor(Error::Resource, detail);
    default:
        return FailFor(Error::Other, detail);
    }
}

} // namespace postlark
