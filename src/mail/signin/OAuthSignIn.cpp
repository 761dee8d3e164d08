// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/OAuthSignIn.h"

#include "mail/signin/LoopbackReplyHandler.h"
#include "mail/signin/TokenAnswer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QPointer>

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

OAuthSignIn::OAuthSignIn(OAuthProvider provider, QString loginHint, BrowserOpener openBrowser,
                         QObject* parent)
    : QObject(parent), provider_(std::move(provider)), loginHint_(std::move(loginHint)),
      openBrowser_(std::move(openBrowser)), network_(new QNetworkAccessManager(this)),
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
    limit_.setInterval(std::chrono::minutes(5));
    connect(&limit_, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("The sign-in was not completed within 5 minutes.")); });
    connect(handler_, &LoopbackReplyHandler::redirectReceived, this, &OAuthSignIn::OnRedirect);
    connect(handler_, &LoopbackReplyHandler::tokenReplyFinished, this, &OAuthSignIn::OnTokenReply);
}

OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::SetTimeLimit(std::chrono::milliseconds limit) {
    limit_.setInterval(limit);
}

void OAuthSignIn::Start() {
    if (started_)
        return;
    started_ = true;
    if (!provider_.Usable())
        return Fail(provider_.missing);
    if (!handler_->Listen())
        return Fail(QStringLiteral("Could not open a local port for the browser's answer: %1")
                        .arg(handler_->ErrorText()));

    pkce_ = Pkce::Make();
    state_ = QString::fromLatin1(RandomUrlText(24));
    flow_->setReplyHandler(handler_);
    flow_->setAuthorizationUrl(provider_.authorizationUrl);
    flow_->setAccessTokenUrl(provider_.tokenUrl);
    flow_->setClientIdentifier(provider_.clientId);
    flow_->setScope(provider_.scope);
    flow_->setState(state_);
    // The flow of Qt 6.4 knows no PKCE: the challenge goes into the sign-in address, the
    // verifier into the code exchange.
    flow_->setModifyParametersFunction([this](QAbstractOAuth::Stage stage, Parameters* p) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            p->insert(QStringLiteral("code_challenge"), QString::fromLatin1(pkce_.challenge));
            p->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            if (!loginHint_.isEmpty())
                p->insert(QStringLiteral("login_hint"), Encoded(loginHint_));
            if (provider_.scope.isEmpty())
                p->remove(QStringLiteral("scope"));
            for (const auto& [key, value] : provider_.extraAuthorizationParameters)
                p->insert(key, Encoded(value));
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            p->insert(QStringLiteral("code_verifier"), QString::fromLatin1(pkce_.verifier));
            // The code as the browser brought it, whatever characters it holds.
            p->replace(QStringLiteral("code"), Encoded(code_));
            if (!provider_.clientSecret.isEmpty())
                p->replace(QStringLiteral("client_secret"), Encoded(provider_.clientSecret));
        }
    });
    connect(flow_, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) {
        if (!done_ && !(openBrowser_ && openBrowser_(url)))
            Fail(QStringLiteral("The web browser could not be opened for the sign-in."));
    });
    limit_.start();
    flow_->grant();
}

void OAuthSignIn::Cancel() {
    Fail(QStringLiteral("The sign-in was cancelled."));
}

SignInResult OAuthSignIn::Wait() {
    Start(); // unless it was
    const QPointer<OAuthSignIn> guard(this);
    while (guard && !done_)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!guard)
        return {false, {}, {}, {}, QStringLiteral("The sign-in was ended.")};
    return result_;
}

bool OAuthSignIn::IsListening() const {
    return handler_->IsListening();
}

QHostAddress OAuthSignIn::ListenAddress() const {
    return handler_->Address();
}

QUrl OAuthSignIn::RedirectUri() const {
    return handler_->IsListening() ? QUrl(handler_->callback()) : QUrl();
}

OAuthSignIn::Answer OAuthSignIn::Judge(const QVariantMap& values, QString* text) const {
    // The state comes first: an answer of another sign-in is refused, whatever it says.
    if (Value(values, "state") != state_) {
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

void OAuthSignIn::OnRedirect(const QVariantMap& values) {
    if (done_)
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

void OAuthSignIn::OnTokenReply(QNetworkReply* reply) {
    if (done_)
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

void OAuthSignIn::Fail(const QString& error) {
    Finish({false, {}, {}, {}, error});
}

void OAuthSignIn::Finish(SignInResult result) {
    if (done_)
        return;
    done_ = true;
    limit_.stop();
    handler_->Close();
    result_ = std::move(result);
    // The token service's answer comes as a posted event; a wait that handled it would
    // otherwise sleep on until some later event.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
    emit finished(result_);
}

} // namespace postlark
