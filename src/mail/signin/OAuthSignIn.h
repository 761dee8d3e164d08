// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interactive OAuth2 sign-in of one account: the authorization code flow with PKCE (S256)
// in the user's web browser, which comes back to a listener on 127.0.0.1 (RFC 8252). The
// browser's answer must carry this sign-in's state; its code is then exchanged for the
// tokens. The listener closes once the browser has come back, on Cancel, and after five
// minutes. The browser is opened through the caller's opener, so this library needs no GUI;
// the network side is in the sign-in library (SignInModule.h), loaded at the first sign-in.
#include "mail/signin/OAuthProvider.h"
#include "mail/signin/SignInModule.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace postlark {

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
    void SetTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

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

    // The listener for the browser's answer: its address ("127.0.0.1") and redirect address.
    bool IsListening() const { return flow_ && flow_->IsListening(); }
    QString ListenAddress() const { return flow_ ? flow_->ListenAddress() : QString(); }
    QUrl RedirectUri() const { return flow_ ? flow_->RedirectUri() : QUrl(); }

signals:
    void finished(const postlark::SignInResult& result);

private:
    void Fail(const QString& error);
    void Finish(SignInResult result);

    OAuthProvider provider_;
    QString loginHint_;
    BrowserOpener openBrowser_;
    std::chrono::milliseconds timeLimit_ = std::chrono::minutes(5);
    std::unique_ptr<SignInFlow> flow_;
    bool started_ = false;
    bool done_ = false;
    SignInResult result_;
};

} // namespace postlark
