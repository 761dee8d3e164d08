// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/OAuthServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRandomGenerator>

#include <algorithm>

namespace postlark::test {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kScript = QStringLiteral(POSTLARK_OAUTH_SERVER_SCRIPT);
constexpr int kTimeoutMs = 5000;

QByteArray Base64Url(const QByteArray& data) {
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

OAuthServer::OAuthServer(QString user) : user_(std::move(user)) {
    secret_.resize(32);
    QRandomGenerator::system()->generate(secret_.begin(), secret_.end());
}

OAuthServer::~OAuthServer() {
    stop();
}

bool OAuthServer::Available(QString* why) {
    QString reason;
    if (!QFileInfo(kPython).isExecutable())
        reason = QStringLiteral("%1 is not installed (Debian package python3)").arg(kPython);
    if (why)
        *why = reason;
    return reason.isEmpty();
}

bool OAuthServer::start(QString* error) {
    stop();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OAUTH_SECRET"), QString::fromLatin1(secret_.toBase64()));
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    // The server ends when its standard input closes, that is with this object or our process.
    process_.start(kPython, {kScript, clientId(), user_});
    bool number = false;
    if (process_.waitForReadyRead(kTimeoutMs))
        port_ = process_.readLine().trimmed().toUShort(&number);
    if (number && port_ != 0)
        return true;
    if (error)
        *error = QStringLiteral("the authorization server did not start: ") +
                 QString::fromLocal8Bit(process_.readAllStandardError());
    stop();
    return false;
}

void OAuthServer::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.closeWriteChannel();
    if (!process_.waitForFinished(2000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
    port_ = 0;
}

QUrl OAuthServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}

QUrl OAuthServer::authorizeUrl(const QString& redirectUri, const QString& state,
                               const QString& codeChallenge) const {
    QUrl address = authorizeUrl();
    address.setQuery({{"response_type", "code"},
                      {"client_id", clientId()},
                      {"redirect_uri", redirectUri},
                      {"scope", "mail"},
                      {"state", state},
                      {"code_challenge", codeChallenge},
                      {"code_challenge_method", "S256"}});
    return address;
}

OAuthServer::Reply OAuthServer::Fetch(const QUrl& url, const QUrlQuery& form) {
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(kTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply* reply =
        form.isEmpty() ? network.get(request)
                       : network.post(request, form.toString(QUrl::FullyEncoded).toLatin1());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->header(QNetworkRequest::LocationHeader).toUrl(),
            QJsonDocument::fromJson(reply->readAll()).object()};
}

OAuthServer::Reply OAuthServer::control(const QString& command, const QUrlQuery& query) {
    QUrl address = url(QStringLiteral("/control/") + command);
    address.setQuery(query);
    return Fetch(address);
}

bool OAuthServer::setUser(const QString& user) {
    return control(QStringLiteral("user"), {{"name", user}}).status == 200;
}

bool OAuthServer::setLifetime(int seconds) {
    return control(QStringLiteral("lifetime"), {{"seconds", QString::number(seconds)}}).status ==
           200;
}

bool OAuthServer::revokeRefreshTokens() {
    return control(QStringLiteral("revoke")).status == 200;
}

bool OAuthServer::setNextAuthorize(NextAuthorize answer) {
    const char* names[] = {"approve", "wrong-state", "access-denied"};
    return control(QStringLiteral("next-authorize"),
                   {{"result", QLatin1String(names[static_cast<int>(answer)])}})
               .status == 200;
}

std::optional<OAuthServer::Counters> OAuthServer::counters() {
    const Reply reply = control(QStringLiteral("counters"));
    if (reply.status != 200)
        return std::nullopt;
    return Counters{reply.json.value("codes").toInt(), reply.json.value("refreshes").toInt(),
                    reply.json.value("pkce_failures").toInt(),
                    reply.json.value("last_redirect_uri").toString()};
}

// The same JWT as oauth_server.py makes: header, claims ("sub" names the user), HS256 signature.
QByteArray OAuthServer::MintToken(const QByteArray& secret, const QString& user, qint64 lifetime) {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 expiry = now + lifetime;
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("HS256")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    const QJsonObject claims{{QStringLiteral("sub"), user},
                             {QStringLiteral("iat"), std::min(now, expiry)},
                             {QStringLiteral("nbf"), std::min(now, expiry)},
                             {QStringLiteral("exp"), expiry}};
    const QByteArray signedPart = Base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact)) +
                                  '.' +
                                  Base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact));
    return signedPart + '.' +
           Base64Url(
               QMessageAuthenticationCode::hash(signedPart, secret, QCryptographicHash::Sha256));
}

} // namespace postlark::test
