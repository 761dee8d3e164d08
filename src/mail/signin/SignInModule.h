// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parts of the OAuth2 client that need QtNetwork and Qt NetworkAuth (the listener for the
// browser's answer, the code exchange, the requests to a token service) are a library of their
// own, loaded at the first sign-in or token refresh (ModuleLibrary.h): a program whose
// accounts all sign in with passwords never maps them. The interface uses no QtNetwork types.
#include "mail/signin/OAuthProvider.h"
#include "mail/signin/Pkce.h"
#include "mail/signin/TokenAnswer.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QObject;

namespace postlark {

struct SignInResult {
    bool ok = false;
    QString refreshToken; // to be stored in place of the account's password
    QString accessToken;
    QDateTime expiresAt; // UTC
    QString error;       // English, for the user; empty when ok
};

// What one browser sign-in needs. `finished` is called once, perhaps from inside Start.
struct SignInSetup {
    OAuthProvider provider;
    QString loginHint;
    Pkce pkce;
    QString state;
    std::chrono::milliseconds timeLimit{0};
    std::function<bool(const QUrl& url)> openBrowser;
    std::function<void(SignInResult result)> finished;
};

// One browser sign-in: the listener on 127.0.0.1, the browser opened, the code exchanged.
class SignInFlow {
public:
    virtual ~SignInFlow() = default;
    virtual void Start() = 0;
    // Closes the listener and drops what is under way; nothing is reported any more.
    virtual void Stop() = 0;
    virtual bool IsListening() const = 0;
    virtual QString ListenAddress() const = 0;
    virtual QUrl RedirectUri() const = 0;
};

struct SignInModuleApi {
    SignInFlow* (*newFlow)(SignInSetup setup);
    // Posts a form to a token service on a network connection owned by `context`; `done` gets
    // the answer from the event loop, unless `context` is destroyed first.
    void (*postTokenForm)(QObject* context, const QUrl& url, const QByteArray& form,
                          std::function<void(TokenAnswer answer)> done);
};

// The library, loaded at the first call; null (with the reason) when it cannot be loaded.
const SignInModuleApi* SignInModule(QString* why = nullptr);

} // namespace postlark

// The one symbol the library exports.
extern "C" const postlark::SignInModuleApi* postlark_signin_module();
