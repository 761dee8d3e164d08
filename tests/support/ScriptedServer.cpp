// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedServer.h"

#include <QEventLoop>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

namespace postlark::test {

using Step = ScriptedServer::Script::Step;

struct ScriptedServer::Session {
    QPointer<QTcpSocket> socket;
    QList<Step> steps;
    int next = 0;
    int linesSeen = 0;
    int linesUsed = 0;
    QByteArray partial;
    bool waitingForLine = false;
    bool closedByServer = false;
};

ScriptedServer::Script& ScriptedServer::Script::send(const QByteArray& bytes) {
    steps_.append({Step::Kind::Send, bytes, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::expectLine() {
    steps_.append({Step::Kind::ExpectLine, {}, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::wait(int ms) {
    steps_.append({Step::Kind::Wait, {}, ms});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::closeConnection() {
    steps_.append({Step::Kind::Close, {}, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::stayQuiet() {
    steps_.append({Step::Kind::StayQuiet, {}, 0});
    return *this;
}

ScriptedServer::Script& ScriptedServer::Script::startTls(const QString& certFile,
                                                         const QString& keyFile) {
    steps_.append({Step::Kind::StartTls, {}, 0, certFile, keyFile});
    return *this;
}

// Connections are QSslSockets (plain until the script starts TLS) only for a script that
// starts TLS, so that a server without TLS loads no TLS library.
class ScriptedServer::Listener : public QTcpServer {
public:
    explicit Listener(const Script& script) : script_(script) {}
    void incomingConnection(qintptr descriptor) override {
        const auto& steps = script_.steps();
        const bool tls = std::any_of(steps.begin(), steps.end(), [](const Step& step) {
            return step.kind == Step::Kind::StartTls;
        });
        QTcpSocket* socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        addPendingConnection(socket);
    }
    const Script& script_;
};

ScriptedServer::ScriptedServer(Script script, QObject* parent)
    : QObject(parent), server_(std::make_unique<Listener>(script_)), script_(std::move(script)) {
    connect(server_.get(), &QTcpServer::newConnection, this, &ScriptedServer::accept);
    server_->listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer() {
    closeAll();
}

void ScriptedServer::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        ++connections_;
        peerPorts_ << socket->peerPort();
        auto session = std::make_unique<Session>();
        session->socket = socket;
        session->steps = script_.steps();
        Session* s = session.get();
        sessions_.push_back(std::move(session));
        connect(socket, &QTcpSocket::readyRead, this, [this, s] { receive(s); });
        connect(socket, &QTcpSocket::disconnected, this, [this, s] {
            if (s->socket)
                s->socket->deleteLater();
            if (s->closedByServer)
                return;
            ++clientClosed_;
            emit clientClosed();
        });
        emit connectionAccepted();
        run(s);
    }
}

void ScriptedServer::run(Session* s) {
    while (s->socket && s->next < s->steps.size()) {
        const Step& step = s->steps[s->next];
        switch (step.kind) {
        case Step::Kind::Send:
            ++s->next;
            s->socket->write(step.bytes);
            s->socket->flush();
            break;
        case Step::Kind::ExpectLine:
            if (s->linesUsed == s->linesSeen) {
                s->waitingForLine = true;
                return;
            }
            ++s->linesUsed;
            ++s->next;
            break;
        case Step::Kind::Wait:
            ++s->next;
            QTimer::singleShot(step.ms, this, [this, s] { run(s); });
            return;
        case Step::Kind::Close:
            s->next = s->steps.size();
            s->closedByServer = true;
            s->socket->disconnectFromHost();
            return;
        case Step::Kind::StayQuiet:
            s->next = s->steps.size();
            return;
        case Step::Kind::StartTls: {
            ++s->next;
            auto* tls = static_cast<QSslSocket*>(s->socket.data());
            tls->setLocalCertificate(step.certFile);
            tls->setPrivateKey(step.keyFile, QSsl::Ec);
            s->partial.clear();
            connect(tls, &QSslSocket::encrypted, this, [this, s] { run(s); });
            tls->startServerEncryption();
            return;
        }
        }
    }
}

void ScriptedServer::receive(Session* s) {
    if (!s->socket)
        return;
    s->partial += s->socket->readAll();
    qsizetype end;
    while ((end = s->partial.indexOf('\n')) >= 0) {
        QByteArray line = s->partial.left(end);
        s->partial.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        lines_ << line;
        ++s->linesSeen;
        emit lineReceived(line);
    }
    if (s->waitingForLine && s->linesSeen > s->linesUsed) {
        s->waitingForLine = false;
        run(s);
    }
}

void ScriptedServer::closeAll() {
    for (const auto& session : sessions_) {
        if (session->socket) {
            session->socket->disconnect(this);
            session->socket->abort();
            session->socket->deleteLater();
        }
        session->socket = nullptr;
    }
}

template <typename Condition> bool ScriptedServer::waitUntil(Condition condition, int timeoutMs) {
    if (condition())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (condition())
            loop.quit();
    };
    const QList<QMetaObject::Connection> links = {
        connect(this, &ScriptedServer::lineReceived, &loop, check),
        connect(this, &ScriptedServer::connectionAccepted, &loop, check),
        connect(this, &ScriptedServer::clientClosed, &loop, check)};
    timeout.start(timeoutMs);
    loop.exec();
    for (const auto& link : links)
        disconnect(link);
    return condition();
}

bool ScriptedServer::waitForLines(int count, int timeoutMs) {
    return waitUntil([&] { return lines_.size() >= count; }, timeoutMs);
}

bool ScriptedServer::waitForConnections(int count, int timeoutMs) {
    return waitUntil([&] { return connections_ >= count; }, timeoutMs);
}

bool ScriptedServer::waitForClientClosed(int count, int timeoutMs) {
    return waitUntil([&] { return clientClosed_ >= count; }, timeoutMs);
}

} // namespace postlark::test
