// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The answer of a provider's token service (RFC 6749 section 5) to a code exchange or a
// refresh, read from the finished network reply in the sign-in library (SignInModule.h). Texts
// made here never hold a token.
#include <QDateTime>
#include <QString>

class QNetworkReply;

namespace postlark {

struct TokenAnswer {
    // Requests to the token service are given up after this much silence.
    static constexpr int kTimeoutSeconds = 30;

    enum class Kind {
        Tokens,  // an access token (and perhaps a refresh token)
        Refused, // the provider answered with an error code
        Failed   // no usable answer: the network, the HTTP status, the body
    };
    Kind kind = Kind::Failed;
    int httpStatus = 0; // 0 when no HTTP answer came
    QString accessToken;
    QString refreshToken; // empty when the answer holds none
    QDateTime expiresAt;  // UTC
    QString error;        // Refused: the provider's code, such as "invalid_grant"
    QString description;  // Refused: its error_description, when it gave one
    QString reason;       // Failed: why, in English

    // "description (error)", or the error code alone.
    QString RefusalText() const {
        return description.isEmpty() ? error : QStringLiteral("%1 (%2)").arg(description, error);
    }

    static TokenAnswer Read(QNetworkReply& reply);
};

} // namespace postlark
