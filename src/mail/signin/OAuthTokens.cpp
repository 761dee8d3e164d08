// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/OAuthTokens.h"

#include "mail/signin/SignInModule.h"
#include "mail/signin/TokenAnswer.h"

#include <QAbstractEventDispatcher>

namespace postlark {

namespace {

// A cached token is given out only with this much time left.
constexpr qint64 kMarginSeconds = 60;

QByteArray Field(const char* name, const QString& value) {
    return QByteArray(name) + '=' + QUrl::toPercentEncoding(value);
}

TokenResult SignInNeeded(QString detail = {}) {
    TokenResult result;
    result.signInNeeded = true;
    result.reason = QStringLiteral("Sign-in needed");
    result.detail = std::move(detail);
    return result;
}

} // namespace

OAuthTokens::OAuthTokens(QObject* parent) : QObject(parent) {}

OAuthTokens::~OAuthTokens() = default;

QString OAuthTokens::AccountKey(const QString& address, const QString& user,
                                const QString& serverField) {
    return address + QLatin1Char('\n') + user + QLatin1Char('\n') + serverField;
}

void OAuthTokens::Fresh(const QString& accountKey, const OAuthProvider& provider,
                        const QString& refreshToken, Done done) {
    const auto cached = cache_.constFind(accountKey);
    if (cached != cache_.cend() &&
        QDateTime::currentDateTimeUtc().secsTo(cached->expiresAt) > kMarginSeconds) {
        TokenResult result;
        result.ok = true;
        result.accessToken = cached->accessToken;
        result.expiresAt = cached->expiresAt;
        return done(std::move(result));
    }
    if (refreshToken.isEmpty())
        return done(SignInNeeded());
    if (!provider.Usable()) {
        TokenResult result;
        result.reason = provider.missing;
        return done(std::move(result));
    }
    auto& waiting = waiting_[accountKey];
    waiting.push_back(std::move(done));
    if (waiting.size() > 1)
        return; // joins the refresh under way

    QByteArray body = "grant_type=refresh_token&" + Field("refresh_token", refreshToken) + '&' +
                      Field("client_id", provider.clientId);
    if (!provider.clientSecret.isEmpty())
        body += '&' + Field("client_secret", provider.clientSecret);
    if (!provider.scope.isEmpty())
        body += '&' + Field("scope", provider.scope);
    QString why;
    const SignInModuleApi* module = SignInModule(&why);
    if (!module) {
        TokenAnswer failed;
        failed.reason = why;
        return Finished(accountKey, refreshToken, failed);
    }
    module->postTokenForm(this, provider.tokenUrl, body,
                          [this, accountKey, refreshToken](const TokenAnswer& answer) {
                              Finished(accountKey, refreshToken, answer);
                          });
}

void OAuthTokens::Remember(const QString& accountKey, const QString& accessToken,
                           const QDateTime& expiresAt) {
    cache_.insert(accountKey, {accessToken, expiresAt});
}

void OAuthTokens::Forget(const QString& accountKey) {
    cache_.remove(accountKey);
}

void OAuthTokens::Finished(const QString& accountKey, const QString& refreshToken,
                           const TokenAnswer& answer) {
    TokenResult result;
    switch (answer.kind) {
    case TokenAnswer::Kind::Tokens:
        result.ok = true;
        result.accessToken = answer.accessToken;
        result.expiresAt = answer.expiresAt;
        if (answer.refreshToken != refreshToken)
            result.newRefreshToken = answer.refreshToken;
        Remember(accountKey, answer.accessToken, answer.expiresAt);
        break;
    case TokenAnswer::Kind::Refused:
        // The refresh token is spent, revoked or unknown: only a new sign-in helps.
        if (answer.error == QLatin1String("invalid_grant") || answer.httpStatus == 400 ||
            answer.httpStatus == 401) {
            result = SignInNeeded(answer.RefusalText());
        } else {
            result.reason = QStringLiteral("The provider refused to renew the sign-in: %1")
                                .arg(answer.RefusalText());
            result.detail = answer.RefusalText();
        }
        break;
    case TokenAnswer::Kind::Failed:
        result.reason = answer.reason;
        break;
    }
    const std::vector<Done> waiting = waiting_.take(accountKey);
    for (const Done& done : waiting)
        done(result);
    // The answer came as a posted event: a wait that handled it must not sleep on.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
}

} // namespace postlark
