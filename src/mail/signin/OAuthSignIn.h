// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interactive OAuth2 sign-in of one account: the authorization code flow with PKCE (S256)
// in the user's web browser, which comes back to a listener on 127.0.0.1 (RFC 8252). The
// browser's answer must carry this sign-in's state; its code is then exchanged for the
// tokens. The listener closes once the browser has come back, on Cancel, and after five
// minutes. The browser is opened through the caller's opener, so this library needs no GUI.
#include "mail/signin/OAuthProvider.h"
#include "mail/signin/Pkce.h"

#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;

namespace postlark {

class LoopbackReplyHandler;

struct SignInResult {
    bool ok = false;
    QString refreshToken; // to be stored in place of the account's password
    QString accessToken;
    QDateTime expiresAt; // UTC
    QString error;       // English, for the user; empty when ok
};

class OAuthSignIn : public QObject {
    Q_OBJECT
public:
    // Opens the address in the user's web browser; false when it could not.
    using BrowserOpener = std::function<bool(const QUrl& url)>;

    // `loginHint` (the account's user name) is offered to the provider's sign-in page.
    OAuthSignIn(OAuthProvider provider, QString loginHint, BrowserOpener openBrowser,
                QObject* parent = nullptr);
    ~OAuthSignIn() override;

    // How long the browser is waited for (five minutes); tests shorten it. Before Start.
    void SetTimeLimit(std::chrono::milliseconds limit);

    // Listens for the browser's answer and opens the browser. `finished` follows once, also
    // when the sign-in cannot begin.
    void Start();
    // Ends a sign-in that has not finished, with the error "The sign-in was cancelled."
    void Cancel();
    // Sleeps in the event dispatcher until the sign-in has finished (starting it first if
    // need be), and returns its result.
    SignInResult Wait();

    bool Finished() const { return done_; }
    const SignInResult& Result() const { return result_; }

    // The listener for the browser's answer.
    bool IsListening() const;
    QHostAddress ListenAddress() const;
    QUrl RedirectUri() const;

signals:
    void finished(const postlark::SignInResult& result);

private:
    enum class Answer { WrongState, Refused, Code };
    Answer Judge(const QVariantMap& values, QString* text) const;
    void OnRedirect(const QVariantMap& values);
    void OnTokenReply(QNetworkReply* reply);
    void Fail(const QString& error);
    void Finish(SignInResult result);

    OAuthProvider provider_;
    QString loginHint_;
    BrowserOpener openBrowser_;
    Pkce pkce_;
    QString state_;
    QString code_;
    QNetworkAccessManager* network_;
    LoopbackReplyHandler* handler_;
    QOAuth2AuthorizationCodeFlow* flow_;
    QTimer limit_;
    bool started_ = false;
    bool done_ = false;
    SignInResult result_;
};

} // namespace postlark
