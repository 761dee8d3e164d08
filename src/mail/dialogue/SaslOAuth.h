// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The SASL messages that carry an OAuth2 access token (XOAUTH2, and OAUTHBEARER of RFC 7628),
// for IMAP's AUTHENTICATE and POP3's AUTH alike.
#include "mail/dialogue/StoredCredentials.h"

#include <QByteArray>
#include <QString>

namespace postlark {

// "XOAUTH2" or "OAUTHBEARER".
QByteArray SaslOAuthMechanism(const BearerToken& bearer);

// The client's first message, base64: XOAUTH2 "user=U^Aauth=Bearer T^A^A"; OAUTHBEARER the
// GS2 header with the user ("," and "=" escaped) and "host", "port", "auth" key-value pairs.
// `user` is UTF-8.
QByteArray SaslOAuthInitialResponse(const QByteArray& user, const BearerToken& bearer);

// What the client answers to the server's error challenge so that the server can end the
// exchange: nothing for XOAUTH2, a single ^A for OAUTHBEARER; base64, as sent.
QByteArray SaslOAuthErrorAnswer(const BearerToken& bearer);

// The user's reason from the server's error challenge (base64 of a JSON object with "status"),
// or a general one when the challenge says nothing readable.
QString SaslOAuthErrorReason(const QByteArray& challenge);

// Whether any of these bytes would end a protocol line early.
bool SaslOAuthSendable(const QByteArray& user, const BearerToken& bearer);

} // namespace postlark
