// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An account's user name and enciphered password as stored, read by a caller together with
// the account's other values so that a dialogue need not look at the store again.
#include <cstdint>
#include <optional>
#include <string>

namespace postlark {

// An OAuth2 access token and what the SASL mechanism carrying it names besides the user.
struct BearerToken {
    bool oauthBearer = false; // OAUTHBEARER; XOAUTH2 otherwise
    std::string token;        // in memory only
    std::string host;
    std::uint16_t port = 0;
};

struct StoredCredentials {
    std::string user;
    std::string storedPassword; // enciphered; deciphered only when the server asks for it
    // Present for an account that signs in with OAuth2: the token replaces the password.
    std::optional<BearerToken> bearer = std::nullopt;
};

// The credentials given for this dialogue (used up), else the account's as stored now.
StoredCredentials TakeStoredCredentials(std::optional<StoredCredentials>& given,
                                        std::int16_t account);

} // namespace postlark
