// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A TCP client socket with the Winsock control's interface: Connect / SendData / GetData /
// Close, a numbered State, and a DataArrival event. Plain connections use a PlainSocket; a
// "pop3s://" or "imaps://" server field gets a TLS channel of the network library (see
// NetModule.h), TLS from the first byte with the peer's certificate and host name verified
// against the system's trusted authorities. A plain connection can be upgraded to TLS with the
// same checks (StartTls, for STARTTLS and STLS).
//
// Event order for one connection: data that arrived is always announced through DataArrival
// before PeerClosed or ErrorOccurred. Any handler may call Close() or Connect(); after Close()
// no further signal of the old connection is emitted. One object serves any number of
// connections in a row.
#include "platform/net/NetModule.h"
#include "platform/net/PlainSocket.h"
#include "platform/net/ServerAddress.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

namespace postlark {

class Winsock : public QObject {
    Q_OBJECT

public:
    enum StateConstants {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8, // the peer has closed its side
        sckError = 9,
    };

    // Error numbers reported through ErrorOccurred (the control's numbering where it has one).
    enum ErrorConstants {
        sckAddressInUse = 10048,
        sckAddressNotAvailable = 10049,
        sckNetworkUnreachable = 10051,
        sckConnectAborted = 10053,
        sckConnectionReset = 10054,
        sckNoBufferSpace = 10055,
        sckTimedout = 10060,
        sckConnectionRefused = 10061,
        sckHostNotFound = 11001,
        sckInvalidArg = 40014,
        sckSecureChannelFailed = 40100, // TLS handshake or certificate check failed (ours)
    };

    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    int State() const { return state_; }

    // Starts connecting to the server field (see ParseServerField; its own port or scheme
    // wins over `port`) and returns at once. Any earlier connection is dropped first.
    // An invalid field sets State 9 at once; every signal comes later from the event loop.
    // States 8 and 9 are set when PeerClosed / ErrorOccurred are announced.
    void Connect(const QString& server, quint16 port = 110);
    // The same with the field already parsed (ParseServerField(server, port)).
    void Connect(const QString& server, const ServerAddress& address, quint16 port = 110);
    // Queues bytes for sending; returns false (and sends nothing) unless connected.
    bool SendData(const QByteArray& data);
    // Everything received and not yet read.
    QByteArray GetData();
    // Drops the connection at once; harmless when already closed.
    void Close();
    // Upgrades the connected plain connection to TLS on the same socket, once the server has
    // agreed (STARTTLS, STLS), with the checks of a TLS server field. Whatever arrived and was
    // not read is dropped unseen; what is sent meanwhile waits for the handshake and goes
    // encrypted. TlsStarted follows, or ErrorOccurred (sckSecureChannelFailed when the handshake
    // or certificate fails). False, changing nothing, unless a plain connection is connected.
    bool StartTls();

    QString LastErrorDescription() const { return lastError_; }
    // The number reported with the last error (see ErrorConstants), 0 before any.
    int LastErrorNumber() const { return errorNumber_; }
    // Why the server's certificate was refused, empty when it was not (or no TLS was used).
    QString CertificateErrors() const { return tlsErrors_; }
    QString RemoteHost() const { return remoteHost_; }
    quint16 RemotePort() const { return remotePort_; }

    // Local port for the next connection; 0 lets the system choose.
    quint16 LocalPort = 0;
    // Time allowed from Connect to connected (TLS handshake included), for the next connection.
    int ConnectTimeoutMs = 30000;
    // TCP keep-alive for the next connections, as SIO_KEEPALIVE_VALS sets it: with `onoff`, a
    // connection without traffic is probed after `keepalivetime` ms, then every
    // `keepaliveinterval` ms, and after 10 unanswered probes (the system's count on Windows) it
    // fails as timed out. A connection that died without a word is noticed that way.
    struct tcp_keepalive {
        unsigned long onoff = 0;
        unsigned long keepalivetime = 0;
        unsigned long keepaliveinterval = 0;
    };
    tcp_keepalive KeepAlive;

signals:
    void DataArrival(qint64 bytesTotal);
    void PeerClosed();
    void ErrorOccurred(int number, QString description);
    void StateChanged(int state);
    // The upgrade of StartTls is done and the certificate accepted.
    void TlsStarted();

private:
    void Reset();
    void Detach(bool abortNow);
    void SetState(int state);
    void ScheduleDelivery();
    void Deliver(quint64 generation);
    void Fail(int number, const QString& description, bool abortNow);
    void OnConnectingState(TlsEvents::State state);
    void OnTlsError(TlsEvents::Error error, const QString& detail);
    void OnReady();
    void OnPeerClosed();
    void OnPlainFailure(int error);
    void FailFor(TlsEvents::Error error, const QString& detail);
    void TakeIncoming();
    void OnEncrypted(bool hostNamed);
    void ApplyKeepAlive(qintptr descriptor) const;

    TlsChannel* NewTlsChannel(const NetModuleApi& module);

    TlsChannel* tlsChannel_ = nullptr; // the current TLS connection
    PlainSocket plain_;                // plain connections, one after another
    bool attached_ = false;            // a connection (either kind) is current
    bool inConnect_ = false;
    QTimer connectTimer_;
    int state_ = sckClosed;
    bool tls_ = false;
    bool upgrading_ = false;  // StartTls's handshake is under way
    QByteArray upgradeQueue_; // sent during that handshake
    quint64 generation_ = 0;  // bumped whenever a connection is dropped or started
    QByteArray incoming_;
    bool arrivalPending_ = false;
    bool peerClosedPending_ = false;
    bool errorPending_ = false;
    bool errorStateUnannounced_ = false;
    bool deliveryQueued_ = false;
    int announcing_ = 0; // DataArrival handlers running
    int errorNumber_ = 0;
    QString lastError_;
    QString tlsErrors_;
    QString remoteHost_;
    quint16 remotePort_ = 0;
};

} // namespace postlark
