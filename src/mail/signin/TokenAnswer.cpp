// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/TokenAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QUrlQuery>

namespace postlark {

namespace {

// A provider's text shown to the user: one line, of a sensible length.
QString Shown(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    text = text.simplified();
    if (text.size() > 300)
        text = text.left(300) + QStringLiteral("...");
    return text;
}

// The fields of the body: a JSON object, or a form-encoded one from older services.
QJsonObject Fields(QNetworkReply& reply, const QByteArray& body) {
    const QJsonDocument json = QJsonDocument::fromJson(body);
    if (json.isObject())
        return json.object();
    QJsonObject fields;
    const QString type = reply.header(QNetworkRequest::ContentTypeHeader).toString();
    if (type.startsWith(QLatin1String("application/x-www-form-urlencoded"))) {
        const QUrlQuery query(QString::fromUtf8(body));
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            fields.insert(key, value);
    }
    return fields;
}

// A string field; numbers are taken as their text.
QString Text(const QJsonObject& fields, const char* key) {
    const QJsonValue value = fields.value(QLatin1String(key));
    if (value.isDouble())
        return QString::number(value.toDouble(), 'f', 0);
    return value.toString();
}

} // namespace

TokenAnswer TokenAnswer::Read(QNetworkReply& reply) {
    TokenAnswer answer;
    const QString host = reply.url().host();
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        const auto error = reply.error();
        if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
            answer.reason = QStringLiteral("The token service at %1 did not answer within %2 "
                                           "seconds.")
                                .arg(host)
                                .arg(kTimeoutSeconds);
        else
            answer.reason = QStringLiteral("Could not reach the token service at %1: %2")
                                .arg(host, reply.errorString());
        return answer;
    }
    answer.httpStatus = status.toInt();
    const QJsonObject fields = Fields(reply, reply.readAll());
    answer.error = Shown(Text(fields, "error"));
    if (!answer.error.isEmpty()) {
        answer.kind = Kind::Refused;
        answer.description = Shown(Text(fields, "error_description"));
        return answer;
    }
    if (answer.httpStatus < 200 || answer.httpStatus > 299) {
        answer.reason = QStringLiteral("The token service at %1 answered with HTTP status %2.")
                            .arg(host)
                            .arg(answer.httpStatus);
        return answer;
    }
    answer.accessToken = Text(fields, "access_token");
    if (answer.accessToken.isEmpty()) {
        answer.reason = QStringLiteral("The token service at %1 gave no access token.").arg(host);
        return answer;
    }
    answer.kind = Kind::Tokens;
    answer.refreshToken = Text(fields, "refresh_token");
    // A service that does not say how long the token lasts gets an hour, the usual term; a
    // token refused before then is forgotten and refreshed by the caller.
    bool ok = false;
    qint64 seconds = Text(fields, "expires_in").toLongLong(&ok);
    if (!ok || seconds <= 0)
        seconds = 3600;
    answer.expiresAt = QDateTime::currentDateTimeUtc().addSecs(seconds);
    return answer;
}

} // namespace postlark
