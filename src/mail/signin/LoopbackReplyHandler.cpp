// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/LoopbackReplyHandler.h"

#include <QNetworkReply>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace postlark {

namespace {

// A request head larger than this is no browser's redirect.
constexpr qsizetype kMaxRequest = 16 * 1024;

QByteArray Response(const char* status, const QString& page) {
    const QByteArray body = page.toUtf8();
    return QByteArray("HTTP/1.1 ") + status +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
           "Connection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QString Page(const QString& text) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<title>Postlark</title></head>\n<body style=\"font-family: sans-serif; "
                          "margin: 3em\"><h1>Postlark</h1>\n<p>%1</p>\n<p>You can close this "
                          "window now and go back to Postlark.</p>\n</body></html>\n")
        .arg(text.toHtmlEscaped());
}

void Send(QTcpSocket* socket, const QByteArray& response) {
    socket->setProperty("answered", true);
    socket->write(response);
    socket->disconnectFromHost(); // after the bytes have gone
}

} // namespace

LoopbackReplyHandler::LoopbackReplyHandler(PageText pageText, QObject* parent)
    : QAbstractOAuthReplyHandler(parent), pageText_(std::move(pageText)) {
    connect(&server_, &QTcpServer::newConnection, this, &LoopbackReplyHandler::Accept);
}

LoopbackReplyHandler::~LoopbackReplyHandler() = default;

bool LoopbackReplyHandler::Listen() {
    if (!server_.listen(QHostAddress::LocalHost, 0))
        return false;
    port_ = server_.serverPort();
    return true;
}

void LoopbackReplyHandler::Close() {
    server_.close();
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
        if (!socket->property("answered").toBool())
            socket->abort();
}

void LoopbackReplyHandler::Deliver(const QVariantMap& values) {
    emit callbackReceived(values);
}

QString LoopbackReplyHandler::callback() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(port_);
}

void LoopbackReplyHandler::networkReplyFinished(QNetworkReply* reply) {
    emit tokenReplyFinished(reply);
}

void LoopbackReplyHandler::Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
    }
}

void LoopbackReplyHandler::Read(QTcpSocket* socket) {
    // The request line is all that matters; the rest of the head is waited for so that the
    // browser is not answered before it has finished asking.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n")) {
        if (head.size() > kMaxRequest)
            Send(socket, Response("400 Bad Request", Page(QStringLiteral("Bad request."))));
        return;
    }
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = request.size() == 3 ? request[1] : QByteArray();
    // Form encoding writes spaces as '+'; a '+' of a value comes as %2B.
    const QUrl url(QStringLiteral("http://127.0.0.1") +
                   QString::fromLatin1(QByteArray(target).replace('+', "%20")));
    QVariantMap values;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
        values.insert(key, value);
    const bool answer =
        request.value(0) == "GET" && target.startsWith('/') && url.path() == QLatin1String("/") &&
        (values.contains(QStringLiteral("code")) || values.contains(QStringLiteral("error")));
    if (!answer || !server_.isListening()) {
        Send(socket, Response("404 Not Found", Page(QStringLiteral("Nothing here."))));
        return;
    }
    Send(socket, Response("200 OK", Page(pageText_(values))));
    emit redirectReceived(values);
}

} // namespace postlark
