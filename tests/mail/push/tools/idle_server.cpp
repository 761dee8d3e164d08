// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal IMAP server for the dead-connection test, started inside a network namespace of its
// own: it logs anyone in, counts one unseen message, answers IDLE with its continuation and then
// says nothing. Prints the port it listens on.
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTcpServer server;
    if (!server.listen(QHostAddress::Any, 0))
        return 1;
    std::printf("%u\n", server.serverPort());
    std::fflush(stdout);
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        QTcpSocket* socket = server.nextPendingConnection();
        socket->write("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN IDLE] ready\r\n");
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            while (socket->canReadLine()) {
                const QList<QByteArray> words = socket->readLine().trimmed().split(' ');
                const QByteArray tag = words.value(0);
                const QByteArray command = words.value(1).toUpper();
                if (command == "IDLE")
                    socket->write("+ idling\r\n");
                else if (command == "SEARCH")
                    socket->write("* SEARCH 1\r\n" + tag + " OK done\r\n");
                else
                    socket->write(tag + " OK done\r\n");
            }
        });
    });
    return app.exec();
}
