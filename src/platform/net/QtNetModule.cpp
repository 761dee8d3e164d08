// SPDX-License-Identifier: GPL-3.0-or-later
// The library behind NetModule.h: TLS connections on QSslSocket and the desktop's proxies as
// QtNetwork reports them.
#include "platform/net/CertificateHost.h"
#include "platform/net/NetModule.h"

#include <QHostAddress>
#include <QNetworkProxyFactory>
#include <QSslError>
#include <QSslSocket>
#include <QStringList>
#include <QUrl>

#include <utility>

namespace postlark {

namespace {

using Error = TlsEvents::Error;

Error ErrorKind(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return Error::Refused;
    case QAbstractSocket::RemoteHostClosedError:
        return Error::RemoteClosed;
    case QAbstractSocket::HostNotFoundError:
        return Error::HostNotFound;
    case QAbstractSocket::SocketResourceError:
        return Error::Resource;
    case QAbstractSocket::SocketTimeoutError:
        return Error::Timeout;
    case QAbstractSocket::NetworkError:
        return Error::Network;
    case QAbstractSocket::AddressInUseError:
        return Error::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return Error::AddressNotAvailable;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return Error::Handshake;
    default:
        return Error::Other;
    }
}

QHostAddress BindAddressFor(const QString& host) {
    QHostAddress address;
    if (address.setAddress(host))
        return address.protocol() == QAbstractSocket::IPv6Protocol
                   ? QHostAddress(QHostAddress::AnyIPv6)
                   : QHostAddress(QHostAddress::AnyIPv4);
    return QHostAddress(QHostAddress::Any);
}

class QtTlsChannel : public TlsChannel {
public:
    explicit QtTlsChannel(TlsEvents events) : events_(std::move(events)) {
        socket_ = new QSslSocket;
        QObject::connect(socket_, &QAbstractSocket::stateChanged, socket_,
                         [this](QAbstractSocket::SocketState state) {
                             if (state == QAbstractSocket::HostLookupState)
                                 events_.stateChanged(TlsEvents::State::Resolving);
                             else if (state == QAbstractSocket::ConnectingState)
                                 events_.stateChanged(TlsEvents::State::Connecting);
                             else if (state == QAbstractSocket::ConnectedState)
                                 events_.stateChanged(TlsEvents::State::TcpConnected);
                         });
        QObject::connect(socket_, &QAbstractSocket::errorOccurred, socket_,
                         [this](QAbstractSocket::SocketError error) {
                             events_.error(ErrorKind(error), socket_->errorString());
                         });
        // channelReadyRead, unlike readyRead, is also emitted for data that arrives while a
        // handler of an earlier arrival runs a nested event loop.
        QObject::connect(socket_, &QIODevice::channelReadyRead, socket_,
                         [this](int) { events_.readyRead(); });
        QObject::connect(socket_, &QAbstractSocket::disconnected, socket_,
                         [this] { events_.disconnected(); });
        QObject::connect(socket_, &QSslSocket::encrypted, socket_, [this] {
            events_.encrypted(CertificateNamesHost(socket_->peerCertificate(), host_));
        });
        QObject::connect(socket_, &QSslSocket::sslErrors, socket_,
                         [this](const QList<QSslError>& errors) {
                             QStringList texts;
                             for (const QSslError& error : errors)
                                 texts << error.errorString();
                             events_.certificateErrors(texts.join(QStringLiteral("; ")));
                         });
    }

    bool Bind(const QString& host, quint16 localPort) override {
        return socket_->bind(BindAddressFor(host), localPort, QAbstractSocket::ReuseAddressHint);
    }

    void Connect(const QString& host, quint16 port) override {
        host_ = host;
        socket_->setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket_->connectToHostEncrypted(host, port);
    }

    qintptr Descriptor() const override { return socket_->socketDescriptor(); }

    bool StartClient(qintptr descriptor, const QString& host) override {
        if (!socket_->setSocketDescriptor(descriptor))
            return false;
        host_ = host;
        socket_->setPeerVerifyMode(QSslSocket::VerifyPeer);
        // No host name came with the descriptor: the certificate is checked against this one
        // (and it is the name sent to the server).
        socket_->setPeerVerifyName(host);
        socket_->startClientEncryption();
        return true;
    }

    bool Write(const QByteArray& data) override { return socket_->write(data) == data.size(); }

    QByteArray ReadAll() override { return socket_->readAll(); }

    // The socket goes once its signals have returned, and the channel (whose events those
    // signals may still be running) with it.
    void Release(bool abortNow) override {
        QObject::disconnect(socket_, nullptr, socket_, nullptr);
        QObject::connect(socket_, &QObject::destroyed, [this] { delete this; });
        if (abortNow)
            socket_->abort();
        socket_->deleteLater();
    }

private:
    TlsEvents events_;
    QSslSocket* socket_ = nullptr;
    QString host_;
};

bool SupportsTls() {
    return QSslSocket::supportsSsl();
}

TlsChannel* NewTlsChannel(TlsEvents events) {
    return new QtTlsChannel(std::move(events));
}

std::vector<DesktopProxyEntry> DesktopProxies(const QString& url) {
    std::vector<DesktopProxyEntry> entries;
    for (const QNetworkProxy& proxy :
         QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(QUrl(url)))) {
        if (proxy.type() != QNetworkProxy::HttpProxy && proxy.type() != QNetworkProxy::Socks5Proxy)
            continue;
        entries.push_back({proxy.type() == QNetworkProxy::Socks5Proxy, proxy.hostName(),
                           proxy.port(), proxy.user(), proxy.password()});
    }
    return entries;
}

const NetModuleApi kApi{SupportsTls, NewTlsChannel, DesktopProxies};

} // namespace

} // namespace postlark

extern "C" __attribute__((visibility("default"))) const postlark::NetModuleApi*
postlark_net_module() {
    return &postlark::kApi;
}
