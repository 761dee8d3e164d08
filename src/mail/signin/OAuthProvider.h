// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The OAuth2 provider of a mail server: where the browser signs in, where tokens are fetched,
// the scope to ask for and the app's client registration. Google and Microsoft are known by
// their mail hosts; any other host uses the custom provider of the settings file
// (OAuthAuthorizationUrl, OAuthTokenUrl, OAuthScope, OAuthClientId, OAuthClientSecret).
// The presets' client registrations come from the settings file (OAuthGoogleClientId,
// OAuthGoogleClientSecret, OAuthMicrosoftClientId), else from the build.
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

namespace postlark {

struct ServerAddress;

// The presets' client registrations given at build time.
struct OAuthClientDefaults {
    QString googleClientId;
    QString googleClientSecret;
    QString microsoftClientId;

    // The values of POSTLARK_GOOGLE_CLIENT_ID, POSTLARK_GOOGLE_CLIENT_SECRET and
    // POSTLARK_MICROSOFT_CLIENT_ID (empty unless the build set them).
    static OAuthClientDefaults BuiltIn();
};

struct OAuthProvider {
    enum class Kind { Google, Microsoft, Custom };

    Kind kind = Kind::Custom;
    QString name; // "Google", "Microsoft", or the server's host for a custom provider
    QUrl authorizationUrl;
    QUrl tokenUrl;
    QString scope; // space-separated
    QString clientId;
    QString clientSecret; // empty when the provider needs none
    // Further parameters of the browser's sign-in address (Google's offline access).
    QList<QPair<QString, QString>> extraAuthorizationParameters;
    // What is missing before a sign-in can work, in English, with where to put it; empty when
    // nothing is.
    QString missing;

    bool Usable() const { return missing.isEmpty(); }

    // The provider of a parsed server field, with the built-in client registrations.
    static OAuthProvider ForServer(const ServerAddress& server);
    // The provider of a host; `imap` chooses the scope where it depends on the protocol.
    static OAuthProvider ForHost(const QString& host, bool imap,
                                 const OAuthClientDefaults& builtIn);
};

} // namespace postlark
