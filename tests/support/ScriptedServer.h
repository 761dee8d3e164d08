// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An in-process TCP server on 127.0.0.1 that plays a script on every connection it accepts,
// for replies no real server sends (split greetings, negative replies, silence). It records
// every line a client sends. Example:
//
//   ScriptedServer server(ScriptedServer::Script()
//                             .send("+OK re").wait(50).send("ady\r\n")
//                             .sendAfterLine("-ERR no such user\r\n")
//                             .closeConnection());
//   socket.Connect(server.host(), server.port());
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <vector>

class QTcpSocket;

namespace postlark::test {

class ScriptedServer : public QObject {
    Q_OBJECT

public:
    class Script {
    public:
        struct Step {
            enum class Kind { Send, ExpectLine, Wait, Close, StayQuiet, StartTls };
            Kind kind;
            QByteArray bytes;
            int ms = 0;
            QString certFile = {}, keyFile = {};
        };

        Script& send(const QByteArray& bytes);
        // Waits for one line from the client (ending in LF, usually CR LF).
        Script& expectLine();
        Script& sendAfterLine(const QByteArray& bytes) { return expectLine().send(bytes); }
        Script& wait(int ms);
        // Closes the server's side once everything sent so far has gone out.
        Script& closeConnection();
        // Says nothing more and keeps the connection open.
        Script& stayQuiet();
        // Starts TLS on the connection (the server's side of STARTTLS) with this certificate
        // and key, and goes on once the handshake is done; lines received from then on are
        // decrypted ones.
        Script& startTls(const QString& certFile, const QString& keyFile);

        const QList<Step>& steps() const { return steps_; }

    private:
        QList<Step> steps_;
    };

    explicit ScriptedServer(Script script = Script(), QObject* parent = nullptr);
    ~ScriptedServer() override;

    // The script for connections accepted from now on.
    void setScript(Script script) { script_ = std::move(script); }

    bool isListening() const { return server_->isListening(); }
    static QString host() { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return server_->serverPort(); }

    // Every line received on any connection, in order, without its CR LF.
    QList<QByteArray> receivedLines() const { return lines_; }
    int connectionCount() const { return connections_; }
    int clientClosedCount() const { return clientClosed_; }
    // The client's port of every accepted connection, in order.
    QList<quint16> peerPorts() const { return peerPorts_; }

    // Sleep in an event loop until the condition holds or the time is up.
    bool waitForLines(int count, int timeoutMs = 5000);
    bool waitForConnections(int count, int timeoutMs = 5000);
    bool waitForClientClosed(int count, int timeoutMs = 5000);

    // Drops every open connection at once.
    void closeAll();

signals:
    void lineReceived(const QByteArray& line);
    void connectionAccepted();
    void clientClosed();

private:
    struct Session;
    void accept();
    void run(Session* session);
    void receive(Session* session);
    template <typename Condition> bool waitUntil(Condition condition, int timeoutMs);

    class Listener;
    std::unique_ptr<QTcpServer> server_;
    Script script_;
    std::vector<std::unique_ptr<Session>> sessions_;
    QList<QByteArray> lines_;
    QList<quint16> peerPorts_;
    int connections_ = 0;
    int clientClosed_ = 0;
};

} // namespace postlark::test
