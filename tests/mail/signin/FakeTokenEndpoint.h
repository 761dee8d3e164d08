// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A provider's token service on 127.0.0.1: records each form posted to it and answers with the
// next of its scripted answers (the last one repeats).
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace postlark::test {

class FakeTokenEndpoint {
public:
    struct Answer {
        int status;
        QByteArray body;
    };

    explicit FakeTokenEndpoint(QList<Answer> answers) : answers_(std::move(answers)) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket] { Read(socket); });
        });
    }

    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/token").arg(server_.serverPort()));
    }
    // The forms posted so far, decoded.
    QList<QUrlQuery> forms;

private:
    void Read(QTcpSocket* socket) {
        QByteArray data = socket->property("data").toByteArray() + socket->readAll();
        socket->setProperty("data", data);
        const qsizetype end = data.indexOf("\r\n\r\n");
        const auto length =
            QRegularExpression("(?i)content-length: *(\\d+)").match(data).captured(1);
        if (end < 0 || data.size() < end + 4 + length.toInt())
            return;
        QByteArray form = data.mid(end + 4, length.toInt()).replace('+', "%20");
        forms << QUrlQuery(QString::fromLatin1(form));
        const Answer& answer = answers_[std::min<qsizetype>(forms.size(), answers_.size()) - 1];
        socket->write(
            "HTTP/1.1 " + QByteArray::number(answer.status) +
            " X\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
            QByteArray::number(answer.body.size()) + "\r\n\r\n" + answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QList<Answer> answers_;
};

} // namespace postlark::test
