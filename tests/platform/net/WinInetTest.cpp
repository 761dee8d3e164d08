// SPDX-License-Identifier: GPL-3.0-or-later
// The Internet calls against local HTTP(S) servers on 127.0.0.1: page requests with their
// certificate checks, the last-response buffer contract and handles.
#include "platform/net/WinInet.h"
#include "platform/base/LastError.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"

#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace postlark::win {
namespace {

using test::ScriptedServer;
using test::TestCertificates;

ScriptedServer::Script Answer(const QByteArray& statusLine) {
    return ScriptedServer::Script()
        .expectLine()
        .send(statusLine + "\r\nContent-Type: text/html\r\nContent-Length: 11\r\n\r\n<p>page</p>")
        .closeConnection();
}

std::string Url(const ScriptedServer& server, const char* path = "/") {
    return "http://127.0.0.1:" + std::to_string(server.port()) + path;
}

// The text InternetGetLastResponseInfoA has now, read with a large enough buffer.
std::string LastResponse() {
    char buffer[512];
    DWORD length = sizeof buffer;
    DWORD error = 0;
    if (!InternetGetLastResponseInfoA(&error, buffer, &length))
        return "<failed>";
    return std::string(buffer, length);
}

// An HTTPS server on 127.0.0.1 that presents the given certificate and answers 200.
class TlsHttpServer : public QTcpServer {
public:
    TlsHttpServer(const QString& certFile, const QString& keyFile) {
        QFile cert(certFile), key(keyFile);
        cert.open(QIODevice::ReadOnly);
        key.open(QIODevice::ReadOnly);
        cert_ = QSslCertificate(cert.readAll());
        key_ = QSslKey(key.readAll(), QSsl::Ec);
        listen(QHostAddress::LocalHost, 0);
    }
    std::string Url() const { return "https://127.0.0.1:" + std::to_string(serverPort()) + "/"; }
    int handshakes = 0;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(cert_);
        socket->setPrivateKey(key_);
        connect(socket, &QSslSocket::encrypted, this, [this] { ++handshakes; });
        connect(socket, &QSslSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
        });
        socket->startServerEncryption();
    }

private:
    QSslCertificate cert_;
    QSslKey key_;
};

class WinInetTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Requests to the local servers never go through a proxy of the machine running the
        // tests.
        qputenv("no_proxy", "127.0.0.1,localhost");
        session_ = InternetOpenA("Postlark", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        ASSERT_NE(session_, 0);
    }
    void TearDown() override {
        InternetCloseHandle(session_);
        SetInternetRequestLimit(std::chrono::seconds(10));
        SetInternetCaFile({});
        qunsetenv("no_proxy");
    }
    HINTERNET Open(const std::string& url, DWORD flags = 0x84400000) {
        return InternetOpenUrlA(session_, url.c_str(), nullptr, 0, flags, 0);
    }
    HINTERNET session_ = 0;
};

TEST_F(WinInetTest, AnyStatusLineGivesAHandleAndTheRequestIsAFreshGet) {
    ScriptedServer ok(Answer("HTTP/1.1 200 OK"));
    const HINTERNET page = Open(Url(ok, "/index.html"));
    ASSERT_NE(page, 0);
    EXPECT_EQ(LastResponse(), "HTTP/1.1 200 OK");
    EXPECT_TRUE(InternetCloseHandle(page));
    ASSERT_TRUE(ok.waitForLines(1));
    const QList<QByteArray> request = ok.receivedLines();
    EXPECT_EQ(request.value(0), "GET /index.html HTTP/1.1");
    EXPECT_TRUE(request.contains("User-Agent: Postlark"));
    // The reload flag asks every cache on the way to go to the server.
    EXPECT_TRUE(request.contains("Cache-Control: no-cache"));

    // Error statuses and redirects are answers too: the server is reachable.
    for (const QByteArray status :
         {"HTTP/1.1 404 Not Found", "HTTP/1.0 503 Service Unavailable", "HTTP/1.1 301 Moved"}) {
        ScriptedServer server(Answer(status));
        const HINTERNET h = Open(Url(server));
        EXPECT_NE(h, 0) << status.constData();
        EXPECT_EQ(LastResponse(), status.toStdString());
        InternetCloseHandle(h);
    }

    // A bare CR ends the status line: nothing after it reaches the response text.
    ScriptedServer bareCr(ScriptedServer::Script()
                              .expectLine()
                              .send("HTTP/1.1 301 Moved\rALocation: http://x/\r\n\r\n")
                              .closeConnection());
    const HINTERNET moved = Open(Url(bareCr));
    EXPECT_NE(moved, 0);
    EXPECT_EQ(LastResponse(), "HTTP/1.1 301 Moved");
    InternetCloseHandle(moved);

    // An interim response is not the answer; the one after it is.
    ScriptedServer interim(ScriptedServer::Script()
                               .expectLine()
                               .send("HTTP/1.1 100 Continue\r\n\r\n")
                               .wait(50)
                               .send("HTTP/1.1 204 No Content\r\n\r\n")
                               .closeConnection());
    const HINTERNET h = Open(Url(interim));
    EXPECT_NE(h, 0);
    EXPECT_EQ(LastResponse(), "HTTP/1.1 204 No Content");
    InternetCloseHandle(h);
}

TEST_F(WinInetTest, NoAnswerGivesNoHandleAndTheTransportsReason) {
    quint16 refused;
    {
        ScriptedServer gone;
        refused = gone.port();
    }
    SetLastError(0);
    EXPECT_EQ(Open("http://127.0.0.1:" + std::to_string(refused) + "/"), 0);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_NE(LastResponse().find("onnect"), std::string::npos) << LastResponse();

    // A server that is not speaking HTTP.
    ScriptedServer pop(ScriptedServer::Script().send("+OK POP3 ready\r\n").closeConnection());
    EXPECT_EQ(Open(Url(pop)), 0);
    EXPECT_NE(GetLastError(), 0u);

    // Only web addresses are opened.
    EXPECT_EQ(Open("file:///etc/passwd"), 0);
    EXPECT_EQ(Open("not a url"), 0);
    EXPECT_NE(GetLastError(), 0u);
}

TEST_F(WinInetTest, RequestsGoThroughTheConfiguredProxy) {
    ScriptedServer proxy(Answer("HTTP/1.1 200 OK"));
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());

    // Access type 0: the proxy the environment names.
    qputenv("http_proxy", QByteArray::fromStdString(proxyUrl));
    qunsetenv("no_proxy");
    const HINTERNET h = Open("http://www.example.invalid/start");
    qunsetenv("http_proxy");
    EXPECT_NE(h, 0) << LastResponse();
    InternetCloseHandle(h);
    ASSERT_TRUE(proxy.waitForLines(1));
    EXPECT_EQ(proxy.receivedLines().value(0), "GET http://www.example.invalid/start HTTP/1.1");

    // A named proxy that agrees to tunnel, then drops the line: the proxy's own "200" is
    // not the site's answer.
    ScriptedServer tunnel(ScriptedServer::Script()
                              .expectLine()
                              .send("HTTP/1.1 200 Connection established\r\n\r\n")
                              .closeConnection());
    const HINTERNET named =
        InternetOpenA("Postlark", INTERNET_OPEN_TYPE_PROXY,
                      ("127.0.0.1:" + std::to_string(tunnel.port())).c_str(), nullptr, 0);
    EXPECT_EQ(InternetOpenUrlA(named, "https://www.example.invalid/", nullptr, 0, 0, 0), 0);
    EXPECT_EQ(tunnel.connectionCount(), 1);
    InternetCloseHandle(named);
}

TEST_F(WinInetTest, HttpsCertificatesAreVerified) {
    const auto& certificates = TestCertificates::Shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();

    TlsHttpServer untrusted(certificates.selfSignedCertFile(), certificates.selfSignedKeyFile());
    EXPECT_EQ(Open(untrusted.Url()), 0);
    EXPECT_EQ(GetLastError(), 12045u); // ERROR_INTERNET_INVALID_CA

    SetInternetCaFile(certificates.caCertFile().toStdString());
    TlsHttpServer trusted(certificates.serverCertFile(), certificates.serverKeyFile());
    const HINTERNET h = Open(trusted.Url());
    EXPECT_NE(h, 0) << LastResponse();
    EXPECT_EQ(LastResponse(), "HTTP/1.1 200 OK");
    EXPECT_EQ(trusted.handshakes, 1);
    InternetCloseHandle(h);

    // Signed by a trusted authority, but for another host.
    TlsHttpServer wrongHost(certificates.wrongHostCertFile(), certificates.wrongHostKeyFile());
    EXPECT_EQ(Open(wrongHost.Url()), 0);
}

TEST_F(WinInetTest, LastResponseBufferReportsTheLengthItNeeds) {
    ScriptedServer ok(Answer("HTTP/1.1 200 OK"));
    InternetCloseHandle(Open(Url(ok)));
    const std::string text = "HTTP/1.1 200 OK";

    char small[4] = {'x', 'x', 'x', 'x'};
    DWORD length = sizeof small;
    DWORD error = 99;
    SetLastError(0);
    EXPECT_FALSE(InternetGetLastResponseInfoA(&error, small, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, text.size() + 1); // room for the terminating zero
    EXPECT_EQ(std::string(small, 4), "xxxx") << "nothing is written past a too small buffer";

    std::string exact(length, ' ');
    EXPECT_TRUE(InternetGetLastResponseInfoA(&error, exact.data(), &length));
    EXPECT_EQ(length, text.size());
    EXPECT_EQ(exact.substr(0, length), text);
    EXPECT_EQ(error, 0u);

    ForgetLastInternetResponse();
    length = 0;
    EXPECT_TRUE(InternetGetLastResponseInfoA(&error, nullptr, &length));
    EXPECT_EQ(length, 0u);
}

TEST_F(WinInetTest, UnknownAndClosedHandlesAreRefused) {
    EXPECT_FALSE(InternetCloseHandle(0x7777777));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(InternetOpenUrlA(0x7777777, "http://127.0.0.1/", nullptr, 0, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(InternetOpenA("Postlark", 42, nullptr, nullptr, 0), 0);

    // A handle closes once.
    const HINTERNET other = InternetOpenA("Postlark", 0, nullptr, nullptr, 0);
    EXPECT_TRUE(InternetCloseHandle(other));
    EXPECT_FALSE(InternetCloseHandle(other));
}

} // namespace
} // namespace postlark::win
