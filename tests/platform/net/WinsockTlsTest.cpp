// SPDX-License-Identifier: GPL-3.0-or-later
// The socket against a real Dovecot server: plain login, and TLS from the first byte with
// certificate and host-name checks.
#include "SocketEvents.h"
#include "platform/net/Winsock.h"
#include "support/DovecotServer.h"
#include "support/TestCertificates.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>

using postlark::Winsock;
using postlark::test::DovecotServer;
using postlark::test::SocketEvents;
using postlark::test::TestCertificates;
using postlark::test::TrustTestCa;
using postlark::test::WaitFor;

namespace {

const QByteArray kPassCommand = "PASS s3cret"; // named, so failures do not print the password

// Sends one command and waits for the reply (a single short line from Dovecot).
QByteArray Ask(Winsock& socket, const QByteArray& line) {
    QByteArray reply;
    const auto connection = QObject::connect(&socket, &Winsock::DataArrival, &socket,
                                             [&](qint64) { reply += socket.GetData(); });
    if (!line.isEmpty())
        socket.SendData(line + "\r\n");
    WaitFor([&] {
        const int state = socket.State();
        return reply.endsWith("\r\n") || state == Winsock::sckClosed ||
               state == Winsock::sckClosing || state == Winsock::sckError;
    });
    QObject::disconnect(connection);
    return reply;
}

class WinsockDovecot : public ::testing::Test {
protected:
    enum Certificate { kTrusted, kSelfSigned, kWrongHost, kCommonNameOnly, kCount };

    void SetUp() override {
        QString why;
        if (!DovecotServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(TestCertificates::Shared().ok())
            << TestCertificates::Shared().error().toStdString();
    }

    static void TearDownTestSuite() {
        for (auto& server : servers_) {
            if (server)
                server->requestStop();
        }
        for (auto& server : servers_)
            server.reset();
    }

    // The server that presents the given certificate on its TLS port, started on first use
    // (ctest runs every test in a process of its own). Null, with `error` set, on failure.
    static const DovecotServer* Server(Certificate certificate, QString* error) {
        auto& server = servers_[certificate];
        if (!server) {
            const TestCertificates& files = TestCertificates::Shared();
            const QString cert[] = {files.serverCertFile(), files.selfSignedCertFile(),
                                    files.wrongHostCertFile(), files.commonNameOnlyCertFile()};
            const QString key[] = {files.serverKeyFile(), files.selfSignedKeyFile(),
                                   files.wrongHostKeyFile(), files.commonNameOnlyKeyFile()};
            server = std::make_unique<DovecotServer>(
                DovecotServer::Options{{{QStringLiteral("alice"), QStringLiteral("s3cret"), 2}},
                                       true,
                                       cert[certificate],
                                       key[certificate]});
            if (!server->start(error)) {
                server.reset();
                return nullptr;
            }
        }
        return server.get();
    }

    static QString Tls(const DovecotServer& server, const QString& host = DovecotServer::host()) {
        return QStringLiteral("pop3s://%1:%2").arg(host).arg(server.tlsPort());
    }

    // Expects the TLS connection to fail without ever counting as connected.
    static void ExpectRefused(Certificate certificate,
                              const QString& host = DovecotServer::host()) {
        QString error;
        const DovecotServer* server = Server(certificate, &error);
        ASSERT_NE(server, nullptr) << error.toStdString();
        TrustTestCa trust(TestCertificates::Shared());
        Winsock socket;
        SocketEvents events(socket);
        socket.Connect(Tls(*server, host));
        ASSERT_TRUE(WaitFor([&] { return events.has("error 40100"); }))
            << events.log.join(", ").toStdString();
        EXPECT_EQ(socket.State(), Winsock::sckError);
        EXPECT_FALSE(events.has("state 7"));
        EXPECT_FALSE(events.log.join(' ').contains("data"));
        EXPECT_TRUE(socket.LastErrorDescription().startsWith("TLS handshake failed"))
            << socket.LastErrorDescription().toStdString();
    }

    static inline std::unique_ptr<DovecotServer> servers_[kCount];
};

TEST_F(WinsockDovecot, PlainLoginReadsTheMailboxCount) {
    QString error;
    const DovecotServer* server = Server(kTrusted, &error);
    ASSERT_NE(server, nullptr) << error.toStdString();
    Winsock socket;
    socket.Connect(DovecotServer::host(), server->port());
    EXPECT_TRUE(Ask(socket, {}).startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, "USER alice").startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, "PASS wrong").startsWith("-ERR"));

    socket.Close();
    socket.Connect(DovecotServer::host(), server->port());
    EXPECT_TRUE(Ask(socket, {}).startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, "USER alice").startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, kPassCommand).startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, "STAT").startsWith("+OK 2 "));
    EXPECT_TRUE(Ask(socket, "QUIT").startsWith("+OK"));
    EXPECT_TRUE(WaitFor([&] { return socket.State() == Winsock::sckClosing; }));
}

TEST_F(WinsockDovecot, TlsWithATrustedCertificateConnectsAndGreets) {
    QString error;
    const DovecotServer* server = Server(kTrusted, &error);
    ASSERT_NE(server, nullptr) << error.toStdString();
    TrustTestCa trust(TestCertificates::Shared());
    Winsock socket;
    SocketEvents events(socket);
    socket.Connect(Tls(*server));
    EXPECT_EQ(socket.RemotePort(), server->tlsPort());
    const QByteArray greeting = Ask(socket, {});
    EXPECT_TRUE(greeting.startsWith("+OK")) << events.log.join(", ").toStdString() << " "
                                            << socket.LastErrorDescription().toStdString();
    EXPECT_EQ(socket.State(), Winsock::sckConnected);
    // Connected is reported once, after the handshake, before the greeting.
    EXPECT_EQ(events.log.count(QStringLiteral("state 7")), 1);
    EXPECT_LT(events.log.indexOf(QStringLiteral("state 7")),
              events.log.indexOf(QRegularExpression(QStringLiteral("data .*"))));
    EXPECT_TRUE(Ask(socket, "USER alice").startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, kPassCommand).startsWith("+OK"));
    EXPECT_TRUE(Ask(socket, "STAT").startsWith("+OK 2 "));
}

// STLS on the plain port: the certificate is checked as for TLS from the first byte, and what
// is sent before the handshake is done waits for it.
TEST_F(WinsockDovecot, StartTlsUpgradesOnlyToATrustedCertificate) {
    for (const Certificate certificate : {kTrusted, kSelfSigned, kWrongHost}) {
        QString error;
        const DovecotServer* server = Server(certificate, &error);
        ASSERT_NE(server, nullptr) << error.toStdString();
        TrustTestCa trust(TestCertificates::Shared());
        Winsock socket;
        SocketEvents events(socket);
        QObject::connect(&socket, &Winsock::TlsStarted, &socket, [&] { events.log << "tls"; });
        EXPECT_FALSE(socket.StartTls()); // nothing connected
        socket.Connect(DovecotServer::host(), server->port());
        Ask(socket, {});
        EXPECT_TRUE(Ask(socket, "STLS").startsWith("+OK"));
        ASSERT_TRUE(socket.StartTls());
        const bool upgraded = Ask(socket, "STAT").startsWith("-ERR"); // not logged in yet
        EXPECT_EQ(upgraded && events.has("tls"), certificate == kTrusted);
        EXPECT_EQ(events.has("error 40100"), certificate != kTrusted);
    }
}

TEST_F(WinsockDovecot, TlsWithAnUntrustedCaIsRefused) {
    // The server's certificate is fine, but its CA is not among the trusted authorities.
    QString error;
    const DovecotServer* server = Server(kTrusted, &error);
    ASSERT_NE(server, nullptr) << error.toStdString();
    Winsock socket;
    SocketEvents events(socket);
    socket.Connect(Tls(*server));
    ASSERT_TRUE(WaitFor([&] { return events.has("error 40100"); }));
    EXPECT_FALSE(events.has("state 7"));
}

TEST_F(WinsockDovecot, TlsWithASelfSignedCertificateIsRefused) {
    ExpectRefused(kSelfSigned);
}

TEST_F(WinsockDovecot, TlsWithACertificateForAnotherHostIsRefused) {
    ExpectRefused(kWrongHost);
    // The common name says localhost, the alternative names do not: the latter decide.
    ExpectRefused(kCommonNameOnly, QStringLiteral("localhost"));
}

} // namespace
