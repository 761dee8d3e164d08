// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browser's way back to the program (RFC 8252, loopback redirect): a small HTTP listener
// on 127.0.0.1 at a port the system picks. It listens on no other address, not even for a
// moment, so nothing else on the network can reach it. It answers the browser's request of
// the redirect address with a page, reports the request's parameters, and hands the token
// service's replies of the flow it serves to its owner.
#include <QAbstractOAuthReplyHandler>
#include <QHostAddress>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace postlark {

class LoopbackReplyHandler : public QAbstractOAuthReplyHandler {
    Q_OBJECT
public:
    // The text of the page the browser shows for the redirect's parameters.
    using PageText = std::function<QString(const QVariantMap& values)>;

    explicit LoopbackReplyHandler(PageText pageText, QObject* parent = nullptr);
    ~LoopbackReplyHandler() override;

    // Starts listening; false (with ErrorText) when no port can be had.
    bool Listen();
    // Stops listening. A page being sent is still sent; connections that sent nothing yet are
    // dropped.
    void Close();
    bool IsListening() const { return server_.isListening(); }
    QHostAddress Address() const { return server_.serverAddress(); }
    QString ErrorText() const { return server_.errorString(); }

    // Passes the redirect's parameters on to the flow as its callback.
    void Deliver(const QVariantMap& values);

    // "http://127.0.0.1:<port>/"; the code exchange names it again after the listener closed.
    QString callback() const override;
    void networkReplyFinished(QNetworkReply* reply) override;

signals:
    // The browser came back with these parameters; their page has been sent.
    void redirectReceived(const QVariantMap& values);
    // A reply of the token service to the flow, finished and still readable.
    void tokenReplyFinished(QNetworkReply* reply);

private:
    void Accept();
    void Read(QTcpSocket* socket);

    QTcpServer server_;
    quint16 port_ = 0;
    PageText pageText_;
};

} // namespace postlark
