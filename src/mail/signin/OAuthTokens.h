// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The access tokens of the OAuth2 accounts, in memory only, one per account. A token with more
// than a minute left is given at once; otherwise the account's refresh token buys a new one
// from the provider's token service. Several requests for one account while a refresh runs
// share it, so a provider that replaces refresh tokens never sees the old one twice.
// Tokens never appear in a log or a text made here. The requests go through the sign-in
// library (SignInModule.h), loaded at the first refresh.
#include "mail/signin/OAuthProvider.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace postlark {

struct TokenAnswer;

struct TokenResult {
    bool ok = false;
    QString accessToken;
    QDateTime expiresAt; // UTC
    // The provider's replacement of the refresh token, to be stored in place of the old one;
    // empty when it gave none.
    QString newRefreshToken;
    // The refresh token is no longer accepted (or there is none): the user must sign in again.
    bool signInNeeded = false;
    QString reason; // English, for the user, when not ok: "Sign-in needed" or what failed
    QString detail; // the provider's own words about a refusal, when it gave any
};

class OAuthTokens : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(TokenResult)>;

    explicit OAuthTokens(QObject* parent = nullptr);
    ~OAuthTokens() override;

    // The key of an account: its address, user name and server field.
    static QString AccountKey(const QString& address, const QString& user,
                              const QString& serverField);

    // Gives `done` an access token for the account: at once (from inside this call) when the
    // cached one has more than 60 seconds left, else after a refresh from the event loop.
    // `done` is not called when this object is destroyed first.
    void Fresh(const QString& accountKey, const OAuthProvider& provider,
               const QString& refreshToken, Done done);
    // Keeps a token that a sign-in brought.
    void Remember(const QString& accountKey, const QString& accessToken,
                  const QDateTime& expiresAt);
    // Drops the account's token (the server refused it): the next Fresh refreshes.
    void Forget(const QString& accountKey);

private:
    struct Cached {
        QString accessToken;
        QDateTime expiresAt;
    };
    void Finished(const QString& accountKey, const QString& refreshToken,
                  const TokenAnswer& answer);

    QHash<QString, Cached> cache_;
    QHash<QString, std::vector<Done>> waiting_; // the callers of a refresh under way
};

} // namespace postlark
