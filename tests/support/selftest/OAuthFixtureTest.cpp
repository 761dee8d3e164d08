// SPDX-License-Identifier: GPL-3.0-or-later
// The OAuth2 fixture itself: a token from the local authorization server (code flow with PKCE,
// done here over plain HTTP) logs in to Dovecot with XOAUTH2 and OAUTHBEARER on every TLS road,
// bad tokens are refused with Dovecot's error challenge, and the token endpoint refuses bad grants.
#include "support/DovecotServer.h"
#include "support/OAuthServer.h"
#include "support/TestCertificates.h"

#include <QSslSocket>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace postlark::test;

namespace {

using Reply = OAuthServer::Reply;
const QString kRedirect = QStringLiteral("http://127.0.0.1:9/callback");
// The pair in RFC 7636, appendix B.
const QString kVerifier = QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
const QString kChallenge = QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");

// The query /authorize redirects with.
QUrlQuery Authorize(const OAuthServer& server) {
    return QUrlQuery(OAuthServer::Fetch(server.authorizeUrl(kRedirect, "s1", kChallenge)).location);
}

Reply CodeGrant(const OAuthServer& server, const QString& code, const QString& verifier,
                const QString& client = OAuthServer::clientId()) {
    return OAuthServer::Fetch(server.tokenUrl(), {{"grant_type", "authorization_code"},
                                                  {"code", code},
                                                  {"redirect_uri", kRedirect},
                                                  {"code_verifier", verifier},
                                                  {"client_id", client}});
}

Reply SignIn(const OAuthServer& server, const QString& verifier,
             const QString& client = OAuthServer::clientId()) {
    return CodeGrant(server, Authorize(server).queryItemValue("code"), verifier, client);
}

Reply RefreshGrant(const OAuthServer& server, const QString& token) {
    return OAuthServer::Fetch(server.tokenUrl(), {{"grant_type", "refresh_token"},
                                                  {"refresh_token", token},
                                                  {"client_id", OAuthServer::clientId()}});
}

enum class Road { Imaps, ImapStartTls, Pop3s, Pop3Stls };

// Logs in as alice with SASL `mechanism` (PLAIN takes a password, the others a token); the
// server's answers. A challenge is answered with an empty line, as a client that gives up does.
QList<QByteArray> LogIn(const DovecotServer& server, Road road, const QByteArray& mechanism,
                        const QByteArray& secret) {
    const bool imap = road <= Road::ImapStartTls, tls = road == Road::Imaps || road == Road::Pop3s;
    const quint16 port = QList{server.imapsPort(), server.imapPort(), server.tlsPort(),
                               server.port()}[static_cast<int>(road)];
    QSslSocket socket;
    const auto send = [&](const QByteArray& text) {
        socket.write(text.isNull() ? text : text + "\r\n");
        while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {
        }
        return socket.readLine().trimmed();
    };
    tls ? socket.connectToHostEncrypted(DovecotServer::host(), port)
        : socket.connectToHost(DovecotServer::host(), port);
    send({}); // the greeting
    if (!tls) {
        send(imap ? "s STARTTLS" : "STLS");
        socket.startClientEncryption();
        if (!socket.waitForEncrypted(5000))
            return {"(no TLS)"};
    }
    const QByteArray bearer = "auth=Bearer " + secret + "\1\1";
    const QByteArray raw =
        mechanism == "PLAIN" ? QByteArray("\0alice\0", 7) + secret
        : mechanism == "XOAUTH2"
            ? "user=alice\1" + bearer
            : "n,a=alice,\1host=127.0.0.1\1port=" + QByteArray::number(port) + '\1' + bearer;
    QList<QByteArray> answers{
        send((imap ? "a AUTHENTICATE " : "AUTH ") + mechanism + ' ' + raw.toBase64())};
    if (answers.first().startsWith("+ "))
        answers << send("");
    return answers;
}

class OAuthFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QString why;
        if (!OAuthServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(oauth_.start(&why)) << why.toStdString();
    }
    OAuthServer oauth_{QStringLiteral("alice")};
};

TEST_F(OAuthFixture, TokensLogInOnEveryTlsRoadAndBadOnesAreRefused) {
    QString why;
    if (!DovecotServer::Available(&why))
        GTEST_SKIP() << why.toStdString();
    const TestCertificates& files = TestCertificates::Shared();
    ASSERT_TRUE(files.ok()) << files.error().toStdString();
    TrustTestCa trust(files);
    DovecotServer::Options options{{{"alice", "pw-alice"}, {"bob", "pw-bob"}},
                                   true,
                                   files.serverCertFile(),
                                   files.serverKeyFile(),
                                   true};
    options.oauth2Secret = oauth_.secret();
    DovecotServer dovecot(options);
    ASSERT_TRUE(dovecot.start(&why)) << why.toStdString();

    const Reply signedIn = SignIn(oauth_, kVerifier);
    ASSERT_EQ(signedIn.status, 200);
    QString refresh = signedIn.field("refresh_token");
    const auto refreshed = [&] {
        const Reply reply = RefreshGrant(oauth_, refresh);
        refresh = reply.field("refresh_token");
        return reply.field("access_token");
    };
    ASSERT_TRUE(oauth_.setLifetime(-60));
    const QByteArray expired = refreshed();
    ASSERT_TRUE(oauth_.setLifetime(3600) && oauth_.setUser(QStringLiteral("bob")));
    const QByteArray bobs = refreshed();

    const QByteArray good[] = {signedIn.field("access_token"), oauth_.mintToken("alice")};
    for (Road road : {Road::Imaps, Road::ImapStartTls, Road::Pop3s, Road::Pop3Stls}) {
        const QByteArray ok = road <= Road::ImapStartTls ? "a OK" : "+OK";
        EXPECT_TRUE(LogIn(dovecot, road, "PLAIN", "pw-alice").first().startsWith(ok));
        for (const QByteArray& token : good) {
            for (const QByteArray mechanism : {"XOAUTH2", "OAUTHBEARER"})
                EXPECT_TRUE(LogIn(dovecot, road, mechanism, token).first().startsWith(ok))
                    << static_cast<int>(road) << ' ' << mechanism.constData();
        }
    }
    // Each refusal costs Dovecot's half-second failure delay: one road and mechanism each.
    const struct {
        QByteArray token;
        Road road;
        QByteArray mechanism;
    } refused[] = {
        {expired, Road::Imaps, "XOAUTH2"},
        {bobs, Road::Pop3s, "XOAUTH2"},
        {OAuthServer::MintToken("another key", "alice", 3600), Road::ImapStartTls, "OAUTHBEARER"},
        {oauth_.mintToken("alice", -60), Road::Pop3Stls, "OAUTHBEARER"}};
    for (const auto& row : refused) {
        const QList<QByteArray> answers = LogIn(dovecot, row.road, row.mechanism, row.token);
        // A JSON error as challenge; NO only after the client's answer.
        ASSERT_EQ(answers.size(), 2) << static_cast<int>(row.road);
        EXPECT_TRUE(QByteArray::fromBase64(answers[0].mid(2)).contains("\"status\":"));
        EXPECT_TRUE(answers[1].startsWith(row.road <= Road::ImapStartTls ? "a NO" : "-ERR"));
    }
}

TEST_F(OAuthFixture, AuthorizeAndTokenEndpointsRefuseWhatTheyMust) {
    EXPECT_EQ(SignIn(oauth_, "another-verifier").field("error"), "invalid_grant");
    EXPECT_EQ(SignIn(oauth_, kVerifier, "another-client").field("error"), "invalid_client");
    const QString code = Authorize(oauth_).queryItemValue("code");
    EXPECT_EQ(CodeGrant(oauth_, code, kVerifier).status, 200);
    EXPECT_EQ(CodeGrant(oauth_, code, kVerifier).field("error"), "invalid_grant");

    const QString first = SignIn(oauth_, kVerifier).field("refresh_token");
    const Reply second = RefreshGrant(oauth_, first);
    EXPECT_EQ(second.status, 200);
    EXPECT_EQ(RefreshGrant(oauth_, first).field("error"), "invalid_grant"); // rotated away
    ASSERT_TRUE(oauth_.revokeRefreshTokens());
    EXPECT_EQ(RefreshGrant(oauth_, second.field("refresh_token")).field("error"), "invalid_grant");

    ASSERT_TRUE(oauth_.setNextAuthorize(OAuthServer::NextAuthorize::WrongState));
    const QUrlQuery wrongState = Authorize(oauth_);
    EXPECT_TRUE(wrongState.hasQueryItem("code") && wrongState.queryItemValue("state") != "s1");
    ASSERT_TRUE(oauth_.setNextAuthorize(OAuthServer::NextAuthorize::AccessDenied));
    const QUrlQuery denied = Authorize(oauth_);
    EXPECT_EQ(denied.queryItemValue("error"), "access_denied");
    EXPECT_TRUE(denied.queryItemValue("state") == "s1" && !denied.hasQueryItem("code"));
    EXPECT_EQ(
        OAuthServer::Fetch(oauth_.authorizeUrl("http://example.com:80/", "s1", kChallenge)).status,
        400); // no redirect but to the loopback address

    const std::optional<OAuthServer::Counters> counters = oauth_.counters();
    ASSERT_TRUE(counters);
    EXPECT_EQ(counters->codes, 5);
    EXPECT_EQ(counters->refreshes, 1);
    EXPECT_EQ(counters->pkceFailures, 1);
    EXPECT_EQ(counters->lastRedirectUri, "http://example.com:80/");
}

} // namespace
