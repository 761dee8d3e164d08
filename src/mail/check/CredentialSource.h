// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a dialogue's credentials come from when they are more than the stored password: a
// password kept in the desktop's keyring, an OAuth2 access token bought with the account's
// refresh token. Getting them may take the event loop's turns (the keyring, the provider's
// token service), so they are asked for before the connection is made.
#include "mail/dialogue/StoredCredentials.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace postlark {

// One account's stored values, as the caller read them together.
struct CredentialAccount {
    std::int16_t number = 0;
    std::string address;
    std::string server;
    std::string user;
    std::string storedPassword;
};

struct PreparedCredentials {
    std::optional<StoredCredentials> credentials; // nothing when they cannot be had
    QString failure = QString();                  // why not, for the account's tool tip
    bool signInNeeded = false;                    // the user must sign in through the browser
};

class CredentialSource {
public:
    virtual ~CredentialSource() = default;
    // Gives `done` the account's credentials, from inside this call when they are at hand.
    virtual void Prepare(const CredentialAccount& account,
                         std::function<void(PreparedCredentials)> done) = 0;
    // The server refused the access token it was given: the next Prepare buys a fresh one.
    virtual void TokenRefused(const CredentialAccount& account) = 0;
};

} // namespace postlark
