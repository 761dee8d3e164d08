// SPDX-License-Identifier: GPL-3.0-or-later
// The browser sign-in against a token service on 127.0.0.1, with a browser that comes straight
// back to the redirect address: the parameters on both legs, PKCE (RFC 7636), the state check,
// refusals, the time limit, and the listener (on 127.0.0.1 only, closed once it has ended).
#include "mail/signin/OAuthSignIn.h"
#include "FakeTokenEndpoint.h"
#include "mail/signin/Pkce.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

using postlark::OAuthProvider;
using postlark::OAuthSignIn;
using postlark::Pkce;
using postlark::SignInResult;
using postlark::test::FakeTokenEndpoint;

namespace {

const QByteArray kTokens = R"({"access_token":"at-1","refresh_token":"rt-1","expires_in":3600})";

// The user's browser: notes the sign-in address and the listener, and comes back to the
// redirect with `answer` ("{state}" standing for the sign-in's state; empty: never comes back),
// keeping the page it is shown.
struct FakeBrowser {
    QString answer;
    QUrl signInUrl;
    QString listening;
    QByteArray page;
    QEventLoop pageShown;
    QNetworkAccessManager network;
    OAuthSignIn* signIn = nullptr;

    bool Open(const QUrl& url) {
        signInUrl = url;
        listening = signIn->ListenAddress();
        if (answer.isEmpty())
            return true;
        QUrl redirect(Param("redirect_uri"));
        redirect.setQuery(QString(answer).replace("{state}", Param("state")));
        QNetworkReply* reply = network.get(QNetworkRequest(redirect));
        QObject::connect(reply, &QNetworkReply::finished, [this, reply] {
            page = reply->readAll();
            pageShown.quit();
        });
        return true;
    }
    QString Param(const char* key) const {
        return QUrlQuery(signInUrl).queryItemValue(key, QUrl::FullyDecoded);
    }
};

SignInResult SignIn(FakeBrowser& browser, const FakeTokenEndpoint& endpoint) {
    OAuthProvider provider;
    provider.authorizationUrl = QUrl("https://id.example.org/authorize");
    provider.tokenUrl = endpoint.url();
    provider.scope = "mail offline";
    provider.clientId = "postlark-test";
    provider.clientSecret = "se+cret&";
    OAuthSignIn signIn(provider, "user+tag@example.org",
                       [&browser](const QUrl& url) { return browser.Open(url); });
    browser.signIn = &signIn;
    signIn.SetTimeLimit(std::chrono::milliseconds(1000));
    const SignInResult result = signIn.Wait();
    EXPECT_FALSE(signIn.IsListening());
    if (!browser.answer.isEmpty() && browser.page.isEmpty()) {
        QTimer::singleShot(5000, &browser.pageShown, &QEventLoop::quit);
        browser.pageShown.exec();
    }
    return result;
}

TEST(OAuthSignIn, ExchangesTheCodeWithPkceAndListensOnLoopbackOnly) {
    FakeTokenEndpoint endpoint({{200, kTokens}});
    FakeBrowser browser;
    browser.answer = "code=c0de%2Fwith%2Bodd%26chars&state={state}";
    const SignInResult result = SignIn(browser, endpoint);
    ASSERT_TRUE(result.ok) << qPrintable(result.error);
    EXPECT_TRUE(result.refreshToken == "rt-1" && result.accessToken == "at-1");
    EXPECT_TRUE(browser.page.contains("You can close this window now"));

    EXPECT_EQ(browser.listening, "127.0.0.1");
    const QUrl redirect(browser.Param("redirect_uri"));
    EXPECT_EQ(redirect.toString(), QString("http://127.0.0.1:%1/").arg(redirect.port()));
    EXPECT_EQ(browser.Param("login_hint"), "user+tag@example.org");
    EXPECT_EQ(browser.Param("code_challenge_method"), "S256");

    // The exchange: the code as it came, the verifier that fits the challenge.
    ASSERT_EQ(endpoint.forms.size(), 1);
    const auto field = [&endpoint](const char* key) {
        return endpoint.forms[0].queryItemValue(key, QUrl::FullyDecoded);
    };
    EXPECT_EQ(field("grant_type"), "authorization_code");
    EXPECT_EQ(field("code"), "c0de/with+odd&chars");
    EXPECT_EQ(field("redirect_uri"), redirect.toString());
    EXPECT_EQ(field("client_secret"), "se+cret&");
    EXPECT_TRUE(
        QRegularExpression("^[A-Za-z0-9._~-]{43,128}$").match(field("code_verifier")).hasMatch());
    EXPECT_EQ(Pkce::ChallengeOf(field("code_verifier").toLatin1()),
              browser.Param("code_challenge"));
    EXPECT_EQ(Pkce::ChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"); // the RFC's example
}

TEST(OAuthSignIn, RefusalsAndTheTimeLimitEndTheSignInWithTheReason) {
    const struct {
        const char* answer;
        FakeTokenEndpoint::Answer token;
        const char* error;
        int exchanges;
    } rows[] = {
        {"code=abc&state=not-ours",
         {200, kTokens},
         "The browser's answer did not belong to this sign-in (its state did not match)",
         0},
        {"error=access_denied&error_description=The+user+said+no&state={state}",
         {200, kTokens},
         "The provider refused the sign-in: The user said no (access_denied)",
         0},
        {"code=abc&state={state}",
         {400, R"({"error":"invalid_grant","error_description":"Code expired"})"},
         "The provider refused the sign-in code: Code expired (invalid_grant)",
         1},
        {"code=abc&state={state}",
         {200, R"({"access_token":"at-1","expires_in":3600})"},
         "The provider gave no refresh token.",
         1},
        {"", {200, kTokens}, "The sign-in was not completed within 5 minutes.", 0},
    };
    for (const auto& row : rows) {
        FakeTokenEndpoint endpoint({row.token});
        FakeBrowser browser;
        browser.answer = row.answer;
        const SignInResult result = SignIn(browser, endpoint);
        EXPECT_TRUE(!result.ok && result.error.startsWith(row.error)) << qPrintable(result.error);
        EXPECT_EQ(endpoint.forms.size(), row.exchanges) << row.answer;
        EXPECT_EQ(browser.page.contains("close this window"), *row.answer != 0) << row.answer;
    }
}

} // namespace
