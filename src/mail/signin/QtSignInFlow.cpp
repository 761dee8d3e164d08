// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/QtSignInFlow.h"

#include "mail/signin/LoopbackReplyHandler.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>

namespace postlark {

namespace {

using Parameters = QMultiMap<QString, QVariant>;

// Values of our own making go into the flow's query already percent-encoded, so that '+',
// '&' and the like reach the provider as they are.
QString Encoded(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString Value(const QVariantMap& values, const char* key) {
    return values.value(QLatin1String(key)).toString();
}

// The provider's refusal in the redirect, "description (error)"; empty when there is none.
QString RefusalOf(const QVariantMap& values) {
    TokenAnswer refusal;
    refusal.error = Value(values, "error").simplified().left(100);
    refusal.description = Value(values, "error_description").simplified().left(300);
    return refusal.error.isEmpty() ? QString() : refusal.RefusalText();
}

} // namespace

QtSignInFlow::QtSignInFlow(SignInSetup setup)
    : setup_(std::move(setup)), network_(new QNetworkAccessManager(this)),
      handler_(new LoopbackReplyHandler(
          [this](const QVariantMap& values) {
              QString text;
              Judge(values, &text);
              return text;
          },
          this)),
      flow_(new QOAuth2AuthorizationCodeFlow(network_, this)) {
    network_->setTransferTimeout(TokenAnswer::kTimeoutSeconds * 1000);
    limit_.setSingleShot(true);
    limit_.setInterval(setup_.timeLimit);
    connect(&limit_, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("The sign-in was not completed within 5 minutes.")); });
    connect(handler_, &LoopbackReplyHandler::redirectReceived, this, &QtSignInFlow::OnRedirect);
    connect(handler_, &LoopbackReplyHandler::tokenReplyFinished, this, &QtSignInFlow::OnTokenReply);
}

QtSignInFlow::~QtSignInFlow() = default;

void QtSignInFlow::Start() {
    if (!handler_->Listen())
        return Fail(QStringLiteral("Could not open a local port for the browser's answer: %1")
                        .arg(handler_->ErrorText()));

    const OAuthProvider& provider = setup_.provider;
    flow_->setReplyHandler(handler_);
    flow_->setAuthorizationUrl(provider.authorizationUrl);
    flow_->setAccessTokenUrl(provider.tokenUrl);
    flow_->setClientIdentifier(provider.clientId);
    flow_->setScope(provider.scope);
    flow_->setState(setup_.state);
    // The flow of Qt 6.4 knows no PKCE: the challenge goes into the sign-in address, the
    // verifier into the code exchange.
    flow_->setModifyParametersFunction([this](QAbstractOAuth::Stage stage, Parameters* p) {
        const OAuthProvider& provider = setup_.provider;
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            p->insert(QStringLiteral("code_challenge"), QString::fromLatin1(setup_.pkce.challenge));
            p->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            if (!setup_.loginHint.isEmpty())
                p->insert(QStringLiteral("login_hint"), Encoded(setup_.loginHint));
            if (provider.scope.isEmpty())
                p->remove(QStringLiteral("scope"));
            for (const auto& [key, value] : provider.extraAuthorizationParameters)
                p->insert(key, Encoded(value));
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            p->insert(QStringLiteral("code_verifier"), QString::fromLatin1(setup_.pkce.verifier));
            // The code as the browser brought it, whatever characters it holds.
            p->replace(QStringLiteral("code"), Encoded(code_));
            if (!provider.clientSecret.isEmpty())
                p->replace(QStringLiteral("client_secret"), Encoded(provider.clientSecret));
        }
    });
    connect(flow_, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) {
        if (!stopped_ && !(setup_.openBrowser && setup_.openBrowser(url)))
            Fail(QStringLiteral("The web browser could not be opened for the sign-in."));
    });
    limit_.start();
    flow_->grant();
}

void QtSignInFlow::Stop() {
    stopped_ = true;
    limit_.stop();
    handler_->Close();
}

bool QtSignInFlow::IsListening() const {
    return handler_->IsListening();
}

QString QtSignInFlow::ListenAddress() const {
    return handler_->Address().toString();
}

QUrl QtSignInFlow::RedirectUri() const {
    return handler_->IsListening() ? QUrl(handler_->callback()) : QUrl();
}

QtSignInFlow::Answer QtSignInFlow::Judge(const QVariantMap& values, QString* text) const {
    // The state comes first: an answer of another sign-in is refused, whatever it says.
    if (Value(values, "state") != setup_.state) {
        *text = QStringLiteral("This answer did not come from Postlark's sign-in and was "
                               "refused.");
        return Answer::WrongState;
    }
    const QString refusal = RefusalOf(values);
    if (!refusal.isEmpty()) {
        *text = QStringLiteral("The sign-in was not completed: %1").arg(refusal);
        return Answer::Refused;
    }
    *text = QStringLiteral("Postlark has received your sign-in.");
    return Answer::Code;
}

void QtSignInFlow::OnRedirect(const QVariantMap& values) {
    if (stopped_)
        return;
    QString text;
    switch (Judge(values, &text)) {
    case Answer::WrongState:
        return Fail(QStringLiteral("The browser's answer did not belong to this sign-in (its "
                                   "state did not match), so it was refused. Please sign in "
                                   "again."));
    case Answer::Refused:
        return Fail(QStringLiteral("The provider refused the sign-in: %1").arg(RefusalOf(values)));
    case Answer::Code:
        break;
    }
    limit_.stop();
    handler_->Close();
    code_ = Value(values, "code");
    handler_->Deliver(values); // the flow exchanges the code
}

void QtSignInFlow::OnTokenReply(QNetworkReply* reply) {
    if (stopped_)
        return;
    const TokenAnswer answer = TokenAnswer::Read(*reply);
    switch (answer.kind) {
    case TokenAnswer::Kind::Failed:
        return Fail(answer.reason);
    case TokenAnswer::Kind::Refused:
        return Fail(
            QStringLiteral("The provider refused the sign-in code: %1").arg(answer.RefusalText()));
    case TokenAnswer::Kind::Tokens:
        break;
    }
    if (answer.refreshToken.isEmpty())
        return Fail(QStringLiteral("The provider gave no refresh token."));
    Finish({true, answer.refreshToken, answer.accessToken, answer.expiresAt, {}});
}

void QtSignInFlow::Fail(const QString& error) {
    Finish({false, {}, {}, {}, error});
}

void QtSignInFlow::Finish(SignInResult result) {
    if (stopped_)
        return;
    Stop();
    if (setup_.finished)
        setup_.finished(std::move(result));
}

} // namespace postlark
