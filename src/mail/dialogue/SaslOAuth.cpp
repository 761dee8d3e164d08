// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/dialogue/SaslOAuth.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace postlark {

namespace {

// RFC 5801: a user name in the GS2 header has "," and "=" escaped.
QByteArray Gs2Name(const QByteArray& user) {
    QByteArray escaped = user;
    return escaped.replace('=', "=3D").replace(',', "=2C");
}

bool Printable(const QByteArray& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

} // namespace

QByteArray SaslOAuthMechanism(const BearerToken& bearer) {
    return bearer.oauthBearer ? QByteArrayLiteral("OAUTHBEARER") : QByteArrayLiteral("XOAUTH2");
}

QByteArray SaslOAuthInitialResponse(const QByteArray& user, const BearerToken& bearer) {
    const QByteArray token = QByteArray::fromStdString(bearer.token);
    QByteArray message;
    if (bearer.oauthBearer) {
        message = "n,a=" + Gs2Name(user) + ",\x01" +
                  "host=" + QByteArray::fromStdString(bearer.host) + "\x01" +
                  "port=" + QByteArray::number(bearer.port) + "\x01" + "auth=Bearer " + token +
                  "\x01\x01";
    } else {
        message = "user=" + user + "\x01" + "auth=Bearer " + token + "\x01\x01";
    }
    QByteArray encoded = message.toBase64();
    message.fill('\0');
    return encoded;
}

QByteArray SaslOAuthErrorAnswer(const BearerToken& bearer) {
    return bearer.oauthBearer ? QByteArrayLiteral("AQ==") : QByteArray();
}

QString SaslOAuthErrorReason(const QByteArray& challenge) {
    const QJsonObject error =
        QJsonDocument::fromJson(QByteArray::fromBase64(challenge.trimmed())).object();
    const QString status = error.value(QStringLiteral("status")).toString().left(40);
    if (status.isEmpty() || !Printable(status.toUtf8()))
        return QStringLiteral("The server refused the access token");
    return QStringLiteral("The server refused the access token (%1)").arg(status);
}

bool SaslOAuthSendable(const QByteArray& user, const BearerToken& bearer) {
    return Printable(user) && Printable(QByteArray::fromStdString(bearer.token)) &&
           Printable(QByteArray::fromStdString(bearer.host));
}

} // namespace postlark
