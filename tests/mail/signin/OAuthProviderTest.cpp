// SPDX-License-Identifier: GPL-3.0-or-later
// The provider of a server host: the presets by host, the scope by protocol, the client
// registration from the settings file or the build, and what to do when it is missing.
#include "mail/signin/OAuthProvider.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using postlark::OAuthProvider;
using postlark::SettingsStore;
using Kind = OAuthProvider::Kind;

namespace {

TEST(OAuthProvider, PresetsByHostAndScopeByProtocol) {
    postlark::test::TestEnvironment environment;
    const QString google = "https://mail.google.com/";
    const QString microsoft = "https://outlook.office.com/%1.AccessAsUser.All offline_access";
    const struct {
        const char* host;
        bool imap;
        Kind kind;
        QString scope;
    } rows[] = {
        {"imap.gmail.com", true, Kind::Google, google},
        {"POP.GMAIL.COM.", false, Kind::Google, google},
        {"imap.googlemail.com", true, Kind::Google, google},
        {"outlook.office365.com", true, Kind::Microsoft, microsoft.arg("IMAP")},
        {"pop-mail.outlook.com", false, Kind::Microsoft, microsoft.arg("POP")},
        {"outlook.office.com", false, Kind::Microsoft, microsoft.arg("POP")},
        {"pop3.live.com", true, Kind::Microsoft, microsoft.arg("IMAP")},
        {"notgmail.com", true, Kind::Custom, ""},
        {"gmail.com.example.org", true, Kind::Custom, ""},
    };
    for (const auto& row : rows) {
        const OAuthProvider provider =
            OAuthProvider::ForHost(row.host, row.imap, {"gid", "gsecret", "mid"});
        EXPECT_TRUE(provider.kind == row.kind && provider.scope == row.scope) << row.host;
        EXPECT_EQ(provider.Usable(), row.kind != Kind::Custom) << row.host;
    }
}

TEST(OAuthProvider, ClientRegistrationFromSettingsElseBuildElseWhatToDo) {
    postlark::test::TestEnvironment environment;
    const auto missing = [](const char* host) {
        return OAuthProvider::ForHost(host, true, {}).missing;
    };
    EXPECT_TRUE(missing("imap.gmail.com")
                    .contains("No OAuth2 client ID and secret for Google. Create an OAuth client "
                              "ID of the type \"Desktop app\""));
    EXPECT_TRUE(missing("outlook.office365.com")
                    .contains("No OAuth2 client ID for Microsoft. Register an app for \"Mobile "
                              "and desktop applications\" with the redirect http://127.0.0.1 in "
                              "the Microsoft Entra admin center and put its ID in "
                              "OAuthMicrosoftClientId in the [Settings] section of "));
    EXPECT_TRUE(missing("mail.example.org")
                    .startsWith("No OAuth2 provider is known for mail.example.org. Put "
                                "OAuthAuthorizationUrl, OAuthTokenUrl and OAuthClientId in "));

    // The settings file wins over the build; a missing secret is named alone.
    SettingsStore::SaveValue("OAuthGoogleClientId", "stored-id");
    EXPECT_TRUE(missing("imap.gmail.com").startsWith("No OAuth2 client secret for Google."));
    const OAuthProvider google =
        OAuthProvider::ForHost("imap.gmail.com", true, {"built", "bs", ""});
    EXPECT_TRUE(google.Usable() && google.clientId == "stored-id" && google.clientSecret == "bs");

    // A custom provider; its token service is reached over TLS unless it is on this machine.
    SettingsStore::SaveValue("OAuthAuthorizationUrl", "https://id.example.org/authorize");
    SettingsStore::SaveValue("OAuthTokenUrl", "http://id.example.org/token");
    SettingsStore::SaveValue("OAuthClientId", "postlark");
    EXPECT_TRUE(
        missing("mail.example.org").startsWith("OAuthTokenUrl in the [Settings] section of "));
    SettingsStore::SaveValue("OAuthTokenUrl", "http://127.0.0.1:8080/token");
    const OAuthProvider custom = OAuthProvider::ForHost("mail.example.org", false, {});
    EXPECT_TRUE(custom.Usable() && custom.tokenUrl == QUrl("http://127.0.0.1:8080/token"));
}

} // namespace
