// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The credentials of the check and of push, account by account: the stored password as it is,
// a password from the desktop's keyring, or for an OAuth2 account an access token bought with
// its refresh token (a replacement refresh token from the provider is stored at once). A
// refresh token the provider no longer takes makes the account need a sign-in in the browser,
// which only the user starts.
#include "mail/check/CredentialSource.h"
#include "mail/signin/OAuthTokens.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace postlark {

class AccountCredentials : public CredentialSource {
public:
    explicit AccountCredentials(std::string applicationKey);

    void Prepare(const CredentialAccount& account,
                 std::function<void(PreparedCredentials)> done) override;
    void TokenRefused(const CredentialAccount& account) override;

    // Told once when a refresh token had to be kept in the settings file, since the keyring
    // could not be used.
    std::function<void(const QString& note)> TokenInFile;

    OAuthTokens& Tokens() { return tokens_; }

private:
    void PrepareToken(const CredentialAccount& account, const std::string& storedToken,
                      std::function<void(PreparedCredentials)> done);
    void KeepNewRefreshToken(const CredentialAccount& account, const QString& token);

    std::string key_;
    OAuthTokens tokens_;
    bool toldTokenInFile_ = false;
    // Answers of the keyring that come after this object has gone land nowhere.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace postlark
