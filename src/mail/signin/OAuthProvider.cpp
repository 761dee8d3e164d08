// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/OAuthProvider.h"

#include "platform/net/ServerAddress.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace postlark {

namespace {

// Stored keys, read together from one version of the settings file.
const std::vector<std::string> kKeys = {"OAuthGoogleClientId",    "OAuthGoogleClientSecret",
                                        "OAuthMicrosoftClientId", "OAuthAuthorizationUrl",
                                        "OAuthTokenUrl",          "OAuthScope",
                                        "OAuthClientId",          "OAuthClientSecret"};
enum KeyIndex {
    GoogleId,
    GoogleSecret,
    MicrosoftId,
    CustomAuthorization,
    CustomToken,
    CustomScope,
    CustomId,
    CustomSecret
};

// The host names a domain or lies below it ("imap.gmail.com" lies below "gmail.com").
bool Under(const QString& host, const QString& domain) {
    return host == domain || host.endsWith(QLatin1Char('.') + domain);
}

bool IsGoogle(const QString& host) {
    return Under(host, QStringLiteral("gmail.com")) ||
           Under(host, QStringLiteral("googlemail.com"));
}

bool IsMicrosoft(const QString& host) {
    return host == QLatin1String("outlook.office365.com") ||
           host == QLatin1String("outlook.office.com") ||
           Under(host, QStringLiteral("outlook.com")) ||
           Under(host, QStringLiteral("hotmail.com")) || Under(host, QStringLiteral("live.com"));
}

// The settings file as the user would type it: the home folder shortened to "~".
QString SettingsFileForText() {
    QString path = QFile::decodeName(QByteArray::fromStdString(SettingsStore::FilePath()));
    if (path.isEmpty())
        return QStringLiteral("~/.config/Postlark/settings.ini");
    const QString home = QDir::homePath() + QLatin1Char('/');
    if (path.startsWith(home))
        path = QStringLiteral("~/") + path.mid(home.size());
    return path;
}

QString WhereToPut() {
    return QStringLiteral("in the [Settings] section of %1").arg(SettingsFileForText());
}

// localhost, ::1, or an address of 127.0.0.0/8 written as four decimal numbers.
bool IsLoopbackHost(const QString& host) {
    if (host == QLatin1String("localhost") || host == QLatin1String("::1"))
        return true;
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts.first() != QLatin1String("127"))
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        if (part.isEmpty() || part.size() > 3 || part.toUInt(&ok) > 255 || !ok)
            return false;
    }
    return true;
}

// Tokens travel only over TLS; plain http is allowed for a provider on this machine.
bool SafeEndpoint(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    return url.scheme() == QLatin1String("http") && IsLoopbackHost(url.host());
}

QString JoinedWithAnd(const QStringList& items) {
    if (items.size() < 2)
        return items.join(QString());
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           items.last();
}

void FillGoogle(OAuthProvider& provider, QString id, QString secret) {
    provider.kind = OAuthProvider::Kind::Google;
    provider.name = QStringLiteral("Google");
    provider.authorizationUrl =
        QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
    provider.tokenUrl = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
    provider.scope = QStringLiteral("https://mail.google.com/");
    provider.clientId = std::move(id);
    provider.clientSecret = std::move(secret);
    // Google hands out a refresh token only for offline access, and again only on consent.
    provider.extraAuthorizationParameters = {
        {QStringLiteral("access_type"), QStringLiteral("offline")},
        {QStringLiteral("prompt"), QStringLiteral("consent")}};
    QString what;
    if (provider.clientId.isEmpty() && provider.clientSecret.isEmpty())
        what = QStringLiteral("client ID and secret");
    else if (provider.clientId.isEmpty())
        what = QStringLiteral("client ID");
    else if (provider.clientSecret.isEmpty())
        what = QStringLiteral("client secret");
    if (!what.isEmpty())
        provider.missing =
            QStringLiteral(
                "No OAuth2 %1 for Google. Create an OAuth client ID of the type \"Desktop app\" "
                "in the Google Cloud console (APIs & Services, Credentials) and put its ID in "
                "OAuthGoogleClientId and its secret in OAuthGoogleClientSecret %2, or build with "
                "-DPOSTLARK_GOOGLE_CLIENT_ID=... -DPOSTLARK_GOOGLE_CLIENT_SECRET=...")
                .arg(what, WhereToPut());
}

void FillMicrosoft(OAuthProvider& provider, bool imap, QString id) {
    provider.kind = OAuthProvider::Kind::Microsoft;
    provider.name = QStringLiteral("Microsoft");
    provider.authorizationUrl =
        QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"));
    provider.tokenUrl =
        QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
    provider.scope = imap ? QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All "
                                           "offline_access")
                          : QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All "
                                           "offline_access");
    provider.clientId = std::move(id);
    if (provider.clientId.isEmpty())
        provider.missing =
            QStringLiteral(
                "No OAuth2 client ID for Microsoft. Register an app for \"Mobile and desktop "
                "applications\" with the redirect http://127.0.0.1 in the Microsoft Entra admin "
                "center and put its ID in OAuthMicrosoftClientId %1, or build with "
                "-DPOSTLARK_MICROSOFT_CLIENT_ID=...")
                .arg(WhereToPut());
}

void FillCustom(OAuthProvider& provider, const QString& host, const std::vector<std::string>& v) {
    provider.kind = OAuthProvider::Kind::Custom;
    provider.name = host;
    provider.authorizationUrl = QUrl(AnsiToQString(v[CustomAuthorization]).trimmed());
    provider.tokenUrl = QUrl(AnsiToQString(v[CustomToken]).trimmed());
    provider.scope = AnsiToQString(v[CustomScope]).trimmed();
    provider.clientId = AnsiToQString(v[CustomId]).trimmed();
    provider.clientSecret = AnsiToQString(v[CustomSecret]).trimmed();

    QStringList absent;
    if (provider.authorizationUrl.isEmpty())
        absent << QStringLiteral("OAuthAuthorizationUrl");
    if (provider.tokenUrl.isEmpty())
        absent << QStringLiteral("OAuthTokenUrl");
    if (provider.clientId.isEmpty())
        absent << QStringLiteral("OAuthClientId");
    if (!absent.isEmpty()) {
        provider.missing = QStringLiteral("No OAuth2 provider is known for %1. Put %2 %3 "
                                          "(OAuthScope and OAuthClientSecret too if the provider "
                                          "wants them).")
                               .arg(host, JoinedWithAnd(absent), WhereToPut());
        return;
    }
    QStringList unsafe;
    if (!SafeEndpoint(provider.authorizationUrl))
        unsafe << QStringLiteral("OAuthAuthorizationUrl");
    if (!SafeEndpoint(provider.tokenUrl))
        unsafe << QStringLiteral("OAuthTokenUrl");
    if (!unsafe.isEmpty())
        provider.missing = QStringLiteral("%1 %2 must be an https:// address (plain http:// only "
                                          "for this machine).")
                               .arg(JoinedWithAnd(unsafe), WhereToPut());
}

// A stored value, else the build's.
QString Either(const std::string& stored, const QString& builtIn) {
    const QString value = AnsiToQString(stored).trimmed();
    return value.isEmpty() ? builtIn : value;
}

} // namespace

OAuthClientDefaults OAuthClientDefaults::BuiltIn() {
    return {QStringLiteral(POSTLARK_GOOGLE_CLIENT_ID),
            QStringLiteral(POSTLARK_GOOGLE_CLIENT_SECRET),
            QStringLiteral(POSTLARK_MICROSOFT_CLIENT_ID)};
}

OAuthProvider OAuthProvider::ForServer(const ServerAddress& server) {
    return ForHost(server.host, server.imap, OAuthClientDefaults::BuiltIn());
}

OAuthProvider OAuthProvider::ForHost(const QString& host, bool imap,
                                     const OAuthClientDefaults& builtIn) {
    QString name = host.trimmed().toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const std::vector<std::string> stored = SettingsStore::GetValues(kKeys);
    OAuthProvider provider;
    if (IsGoogle(name))
        FillGoogle(provider, Either(stored[GoogleId], builtIn.googleClientId),
                   Either(stored[GoogleSecret], builtIn.googleClientSecret));
    else if (IsMicrosoft(name))
        FillMicrosoft(provider, imap, Either(stored[MicrosoftId], builtIn.microsoftClientId));
    else
        FillCustom(provider, name, stored);
    return provider;
}

} // namespace postlark
