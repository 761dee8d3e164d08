// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/Winsock.h"

#include "platform/net/CertificateHost.h"
#include "platform/net/ServerAddress.h"

#include <QHostAddress>
#include <QPointer>
#include <QSslError>
#include <QSslSocket>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <utility>

namespace postlark {

namespace {

QHostAddress BindAddressFor(const QString& host) {
    QHostAddress address;
    if (address.setAddress(host))
        return address.protocol() == QAbstractSocket::IPv6Protocol
                   ? QHostAddress(QHostAddress::AnyIPv6)
                   : QHostAddress(QHostAddress::AnyIPv4);
    return QHostAddress(QHostAddress::Any);
}

} // namespace

Winsock::Winsock(QObject* parent) : QObject(parent) {
    connect(&plain_, &PlainSocket::Resolving, this, [this] { SetState(sckResolvingHost); });
    connect(&plain_, &PlainSocket::Connecting, this, [this] {
        if (state_ == sckResolvingHost) {
            const quint64 generation = generation_;
            SetState(sckHostResolved);
            if (generation != generation_)
                return; // a handler dropped this connection
        }
        SetState(sckConnecting);
    });
    connect(&plain_, &PlainSocket::Connected, this, [this] {
        connectTimer_.stop();
        SetState(sckConnected);
    });
    connect(&plain_, &PlainSocket::Received, this, [this] { OnReady(); });
    connect(&plain_, &PlainSocket::PeerClosed, this, [this] { OnPeerClosed(); });
    connect(&plain_, &PlainSocket::Failed, this, [this](int error) { OnPlainFailure(error); });
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this,
            [this] { Fail(sckTimedout, QStringLiteral("Connection timed out"), true); });
}

Winsock::~Winsock() {
    Detach(true);
}

void Winsock::Connect(const QString& server, quint16 port) {
    Reset();
    lastError_.clear();
    errorNumber_ = 0;
    tlsErrors_.clear();

    const ServerAddress address = ParseServerField(server, port);
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
    if (tls_ && !QSslSocket::supportsSsl()) {
        state_ = sckError;
        errorStateUnannounced_ = true;
        Fail(sckSecureChannelFailed, QStringLiteral("TLS is not available on this system"), true);
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

    // Only a TLS connection needs the TLS socket: a plain one never loads the TLS libraries.
    QSslSocket* socket = NewTlsSocket();
    tlsSocket_ = socket;
    connect(socket, &QAbstractSocket::stateChanged, this,
            [this](QAbstractSocket::SocketState s) { OnSocketState(s); });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { OnSocketError(e); });
    // channelReadyRead, unlike readyRead, is also emitted for data that arrives while a
    // handler of an earlier arrival runs a nested event loop.
    connect(socket, &QIODevice::channelReadyRead, this, [this](int) { OnReady(); });
    connect(socket, &QAbstractSocket::disconnected, this, [this] { OnPeerClosed(); });

    if (LocalPort != 0 &&
        !socket->bind(BindAddressFor(address.host), LocalPort, QAbstractSocket::ReuseAddressHint)) {
        state_ = sckError;
        errorStateUnannounced_ = true;
        Fail(sckAddressInUse, QStringLiteral("Address in use"), true);
        return;
    }

    connectTimer_.start(ConnectTimeoutMs);
    socket->setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket->connectToHostEncrypted(address.host, address.port);
}

QSslSocket* Winsock::NewTlsSocket() {
    auto* socket = new QSslSocket(this);
    connect(socket, &QSslSocket::encrypted, this, [this, socket] {
        connectTimer_.stop();
        if (!CertificateNamesHost(socket->peerCertificate(), remoteHost_)) {
            Detach(true); // nothing received over this connection is handed on
            Fail(sckSecureChannelFailed,
                 QStringLiteral("TLS handshake failed: the certificate's alternative names do "
                                "not include %1")
                     .arg(remoteHost_),
                 true);
            return;
        }
        SetState(sckConnected);
    });
    connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& error : errors)
            texts << error.errorString();
        tlsErrors_ = texts.join(QStringLiteral("; "));
    });
    return socket;
}

bool Winsock::SendData(const QByteArray& data) {
    if (!attached_ || state_ != sckConnected)
        return false;
    if (!tls_)
        return plain_.Send(data);
    return tlsSocket_->write(data) == data.size();
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
}

// Cuts the socket loose: none of its signals reach us any more. Inside the socket's own signals
// it is only scheduled for deletion, since it is closing or failing by itself there.
void Winsock::Detach(bool abortNow) {
    connectTimer_.stop();
    if (!std::exchange(attached_, false))
        return;
    plain_.Abort(); // a plain socket sends nothing more once aborted
    QSslSocket* socket = std::exchange(tlsSocket_, nullptr);
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, this, nullptr);
    if (abortNow)
        socket->abort();
    socket->deleteLater();
}

void Winsock::SetState(int state) {
    if (state_ == state)
        return;
    state_ = state;
    emit StateChanged(state);
}

void Winsock::TakeIncoming() {
    if (!attached_)
        return;
    const QByteArray data = tls_ ? tlsSocket_->readAll() : plain_.TakeReceived();
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

void Winsock::OnSocketState(int qtState) {
    switch (qtState) {
    case QAbstractSocket::HostLookupState:
        SetState(sckResolvingHost);
        break;
    case QAbstractSocket::ConnectingState:
        if (state_ == sckResolvingHost) {
            const quint64 generation = generation_;
            SetState(sckHostResolved);
            if (generation != generation_)
                return; // a handler dropped this connection
        }
        SetState(sckConnecting);
        break;
    case QAbstractSocket::ConnectedState:
        // A TLS connection counts as connected only once the handshake has succeeded.
        if (!tls_) {
            connectTimer_.stop();
            SetState(sckConnected);
        }
        break;
    default:
        break;
    }
}

void Winsock::OnSocketError(int qtError) {
    if (!tlsSocket_)
        return;
    if (qtError == QAbstractSocket::RemoteHostClosedError && state_ == sckConnected) {
        OnPeerClosed();
        return;
    }
    const QString detail = tlsSocket_->errorString();
    switch (qtError) {
    case QAbstractSocket::ConnectionRefusedError:
        Fail(sckConnectionRefused, QStringLiteral("Connection is forcefully rejected"), false);
        break;
    case QAbstractSocket::RemoteHostClosedError:
        Fail(sckConnectionReset,
             QStringLiteral("The connection was closed before it was established"), false);
        break;
    case QAbstractSocket::HostNotFoundError:
        Fail(sckHostNotFound, QStringLiteral("Host not found: %1").arg(remoteHost_), false);
        break;
    case QAbstractSocket::SocketResourceError:
        Fail(sckNoBufferSpace, detail, false);
        break;
    case QAbstractSocket::SocketTimeoutError:
        Fail(sckTimedout, QStringLiteral("Connection timed out"), false);
        break;
    case QAbstractSocket::NetworkError:
        Fail(sckNetworkUnreachable, detail, false);
        break;
    case QAbstractSocket::AddressInUseError:
        Fail(sckAddressInUse, QStringLiteral("Address in use"), false);
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        Fail(sckAddressNotAvailable, QStringLiteral("Address not available from the local machine"),
             false);
        break;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        Fail(sckSecureChannelFailed,
             QStringLiteral("TLS handshake failed: %1")
                 .arg(tlsErrors_.isEmpty() ? detail : tlsErrors_),
             false);
        break;
    default:
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
    switch (error) {
    case PlainSocket::kHostNotFound:
        Fail(sckHostNotFound, QStringLiteral("Host not found: %1").arg(remoteHost_), false);
        break;
    case PlainSocket::kClosedBeforeConnected:
        Fail(sckConnectionReset,
             QStringLiteral("The connection was closed before it was established"), false);
        break;
    case ECONNREFUSED:
        Fail(sckConnectionRefused, QStringLiteral("Connection is forcefully rejected"), false);
        break;
    case ETIMEDOUT:
        Fail(sckTimedout, QStringLiteral("Connection timed out"), false);
        break;
    case ENETUNREACH:
        Fail(sckNetworkUnreachable, QStringLiteral("Network unreachable"), false);
        break;
    case EHOSTUNREACH:
        Fail(sckNetworkUnreachable, QStringLiteral("Host unreachable"), false);
        break;
    case EADDRINUSE:
        Fail(sckAddressInUse, QStringLiteral("Address in use"), false);
        break;
    case EADDRNOTAVAIL:
        Fail(sckAddressNotAvailable, QStringLiteral("Address not available from the local machine"),
             false);
        break;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        Fail(sckNoBufferSpace, QString::fromLocal8Bit(std::strerror(error)), false);
        break;
    default:
        Fail(sckConnectAborted, QString::fromLocal8Bit(std::strerror(error)), false);
        break;
    }
}

} // namespace postlark
