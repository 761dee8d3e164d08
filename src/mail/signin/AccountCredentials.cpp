// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/AccountCredentials.h"

#include "mail/secrets/AccountSecrets.h"
#include "mail/signin/OAuthProvider.h"
#include "platform/base/RuntimeError.h"
#include "platform/net/ServerAddress.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"

#include <algorithm>
#include <utility>

namespace postlark {

namespace {

const QString kSignInNeeded = QStringLiteral("Sign-in needed");

AccountValues ValuesOf(const CredentialAccount& account) {
    return {account.address, account.server, account.user, account.storedPassword};
}

QString TokenKey(const CredentialAccount& account) {
    return OAuthTokens::AccountKey(AnsiToQString(account.address), AnsiToQString(account.user),
                                   AnsiToQString(account.server));
}

} // namespace

AccountCredentials::AccountCredentials(std::string applicationKey)
    : key_(std::move(applicationKey)) {}

void AccountCredentials::Prepare(const CredentialAccount& account,
                                 std::function<void(PreparedCredentials)> done) {
    const bool oauth = SignsInWithOAuth(account.server);
    // A password in the file, as stored: nothing to ask anyone.
    if (!oauth && !account.storedPassword.empty())
        return done({StoredCredentials{account.user, account.storedPassword}});
    const std::weak_ptr<bool> alive = alive_;
    ReadAccountSecret(
        account.number, ValuesOf(account), key_,
        [this, alive, account, oauth, done = std::move(done)](SecretRead read) mutable {
            if (alive.expired())
                return;
            if (!read.ok)
                return done({std::nullopt, read.error});
            if (!oauth)
                return done({StoredCredentials{account.user, read.storedPassword}});
            PrepareToken(account, read.storedPassword, std::move(done));
        });
}

void AccountCredentials::PrepareToken(const CredentialAccount& account,
                                      const std::string& storedToken,
                                      std::function<void(PreparedCredentials)> done) {
    std::string refreshToken;
    try {
        std::string key = key_;
        refreshToken = PassCryptModule::DecryptText(storedToken, key);
    } catch (const RuntimeError&) {
        refreshToken.clear(); // unreadable: as good as none
    }
    if (refreshToken.empty())
        return done({std::nullopt, kSignInNeeded, true});
    const ServerAddress address = ParseServerField(AnsiToQString(account.server));
    const OAuthProvider provider = OAuthProvider::ForServer(address);
    if (!provider.Usable())
        return done({std::nullopt, provider.missing});
    const QString token = QString::fromStdString(refreshToken);
    std::fill(refreshToken.begin(), refreshToken.end(), '\0');
    tokens_.Fresh(TokenKey(account), provider, token,
                  [this, account, address, done = std::move(done)](TokenResult result) {
                      if (!result.newRefreshToken.isEmpty())
                          KeepNewRefreshToken(account, result.newRefreshToken);
                      if (!result.ok)
                          return done({std::nullopt,
                                       result.signInNeeded ? kSignInNeeded : result.reason,
                                       result.signInNeeded});
                      BearerToken bearer;
                      bearer.oauthBearer = address.mechanism == SignInMechanism::OAuthBearer;
                      bearer.token = result.accessToken.toStdString();
                      bearer.host = address.host.toStdString();
                      bearer.port = address.port;
                      done({StoredCredentials{account.user, std::string(), std::move(bearer)}});
                  });
}

void AccountCredentials::KeepNewRefreshToken(const CredentialAccount& account,
                                             const QString& token) {
    bool fellBack = false;
    try {
        StoreAccountSecret(account.number, ValuesOf(account), token.toStdString(), key_, &fellBack);
    } catch (const RuntimeError&) {
        return; // the store cannot be written now; the old token is asked for again next time
    }
    if (fellBack && !toldTokenInFile_ && TokenInFile) {
        toldTokenInFile_ = true;
        TokenInFile(QStringLiteral("No desktop keyring: the sign-in of %1 is kept enciphered in "
                                   "the settings file")
                        .arg(AnsiToQString(account.address)));
    }
}

void AccountCredentials::TokenRefused(const CredentialAccount& account) {
    tokens_.Forget(TokenKey(account));
}

} // namespace postlark
