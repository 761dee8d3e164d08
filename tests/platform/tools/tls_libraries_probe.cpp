// Helper process for the socket tests: runs one short dialogue with a scripted server over a
// plain connection ("plain") or tries a TLS connection to it ("tls"), then prints the TLS
// libraries this process has mapped ("none" when there are none). A process of its own, so
// what other tests loaded cannot count.
#include "../SocketEvents.h"
#include "platform/Winsock.h"
#include "support/ScriptedServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>

using postlark::Winsock;
using postlark::test::ScriptedServer;
using postlark::test::WaitFor;

namespace {

// The TLS libraries and Qt's TLS backends among this process's mappings.
QStringList TlsMappings() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    QStringList found;
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("unreadable")};
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
        const QString name = path.section('/', -1);
        const bool tls = name.startsWith(QLatin1String("libssl")) ||
                         name.startsWith(QLatin1String("libcrypto")) ||
                         path.contains(QLatin1String("/tls/"));
        if (line.contains('/') && tls && !found.contains(name))
            found << name;
    }
    return found;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const bool tls = argc > 1 && QByteArray(argv[1]) == "tls";
    ScriptedServer server(
        ScriptedServer::Script().send("+OK ready\r\n").sendAfterLine("+OK bye\r\n"));
    Winsock socket;
    QByteArray received;
    QObject::connect(&socket, &Winsock::DataArrival, &socket,
                     [&](qint64) { received += socket.GetData(); });
    socket.Connect((tls ? "pop3s://" : "") + ScriptedServer::host() + ':' +
                   QString::number(server.port()));
    if (tls) {
        // The handshake fails (the server speaks plain text); the attempt is what counts.
        WaitFor([&] { return socket.State() == Winsock::sckError; });
    } else {
        if (!WaitFor([&] { return received == "+OK ready\r\n"; }))
            return 1;
        socket.SendData("QUIT\r\n");
        if (!WaitFor([&] { return received.endsWith("+OK bye\r\n"); }))
            return 1;
        socket.Close();
    }
    const QStringList mapped = TlsMappings();
    std::printf("%s\n", mapped.isEmpty() ? "none" : qPrintable(mapped.join(' ')));
    return 0;
}
