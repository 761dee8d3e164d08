// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A local OAuth2 authorization server for tests (oauth_server.py, run with Python 3): the
// authorization-code flow with PKCE S256 and a loopback redirect, refresh tokens that rotate,
// and access tokens that a DovecotServer given secret() accepts for the user they name.
// /authorize approves at once, with no page to click.
#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <optional>

namespace postlark::test {

class OAuthServer {
public:
    struct Counters {
        int codes = 0;        // authorization codes handed out
        int refreshes = 0;    // refresh grants that succeeded
        int pkceFailures = 0; // code exchanges refused for a wrong code_verifier
        QString lastRedirectUri;
    };
    // What the next /authorize answers; later ones approve again.
    enum class NextAuthorize { Approve, WrongState, AccessDenied };

    // `user` is the user the codes are approved for and the tokens name.
    explicit OAuthServer(QString user);
    ~OAuthServer();
    OAuthServer(const OAuthServer&) = delete;
    OAuthServer& operator=(const OAuthServer&) = delete;

    // Whether tests can run the server here; otherwise `why` says what is missing.
    static bool Available(QString* why);

    // Starts the server and waits until it listens (a few seconds at most).
    bool start(QString* error = nullptr);
    void stop();

    quint16 port() const { return port_; }
    QUrl authorizeUrl() const { return url(QStringLiteral("/authorize")); }
    // The whole sign-in address a client opens: code flow, our client, scope "mail", PKCE S256.
    QUrl authorizeUrl(const QString& redirectUri, const QString& state,
                      const QString& codeChallenge) const;
    QUrl tokenUrl() const { return url(QStringLiteral("/token")); }
    static QString clientId() { return QStringLiteral("postlark-test-client"); }
    // The HS256 key of the access tokens, random per server: DovecotServer::Options::oauth2Secret.
    QByteArray secret() const { return secret_; }

    // Controls; each returns whether the server took it.
    bool setUser(const QString& user); // the user the next tokens name
    // Lifetime of the next access tokens; below zero gives tokens that have already expired.
    bool setLifetime(int seconds);
    bool revokeRefreshTokens();
    bool setNextAuthorize(NextAuthorize answer);
    std::optional<Counters> counters();

    // An HTTP exchange as tests make them: GET, or POST of `form` when it is given; redirects
    // are not followed. Status 0 when the server did not answer.
    struct Reply {
        int status = 0;
        QUrl location;
        QJsonObject json;
        QByteArray field(const char* name) const { return json.value(name).toString().toUtf8(); }
    };
    static Reply Fetch(const QUrl& url, const QUrlQuery& form = {});

    // An access token like the server's, made here, for tests that only need the wire.
    static QByteArray MintToken(const QByteArray& secret, const QString& user, qint64 lifetime);
    QByteArray mintToken(const QString& user, qint64 lifetime = 3600) const {
        return MintToken(secret_, user, lifetime);
    }

private:
    QUrl url(const QString& path) const;
    Reply control(const QString& command, const QUrlQuery& query = {});

    QString user_;
    QByteArray secret_;
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace postlark::test
