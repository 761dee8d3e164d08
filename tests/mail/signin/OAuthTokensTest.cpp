// SPDX-License-Identifier: GPL-3.0-or-later
// The access tokens: cached while they have more than a minute left, refreshed otherwise (once
// for several callers), a replaced refresh token handed back, refusals and failures told apart.
#include "mail/signin/OAuthTokens.h"
#include "FakeTokenEndpoint.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <optional>

using postlark::OAuthProvider;
using postlark::OAuthTokens;
using postlark::TokenResult;
using postlark::test::FakeTokenEndpoint;

namespace {

OAuthProvider Provider(const QUrl& tokenUrl) {
    OAuthProvider provider;
    provider.tokenUrl = tokenUrl;
    provider.scope = "mail";
    provider.clientId = "postlark-test";
    provider.clientSecret = "secret";
    return provider;
}

// Fresh, waited for; `atOnce` tells whether the answer came from inside the call.
TokenResult Fresh(OAuthTokens& tokens, const QUrl& tokenUrl, const QString& refresh,
                  bool* atOnce = nullptr) {
    std::optional<TokenResult> result;
    tokens.Fresh("key", Provider(tokenUrl), refresh,
                 [&result](TokenResult r) { result = std::move(r); });
    if (atOnce)
        *atOnce = result.has_value();
    while (!result)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return *result;
}

TEST(OAuthTokens, CachedWhileFreshRefreshedOtherwiseWithTheReplacedRefreshToken) {
    FakeTokenEndpoint endpoint(
        {{200, R"({"access_token":"at-1","expires_in":3600,"refresh_token":"rt-2"})"},
         {200, R"({"access_token":"at-2","expires_in":30})"},
         {200, R"({"access_token":"at-3","expires_in":3600})"}});
    OAuthTokens tokens;
    bool atOnce = true;
    const TokenResult first = Fresh(tokens, endpoint.url(), "rt-1", &atOnce);
    EXPECT_TRUE(!atOnce && first.ok && first.accessToken == "at-1" &&
                first.newRefreshToken == "rt-2");
    EXPECT_EQ(endpoint.forms[0].toString(), "grant_type=refresh_token&refresh_token=rt-1&client_id="
                                            "postlark-test&client_secret=secret&scope=mail");

    EXPECT_EQ(Fresh(tokens, endpoint.url(), "rt-2", &atOnce).accessToken, "at-1");
    EXPECT_TRUE(atOnce);
    tokens.Forget("key");
    const TokenResult shortLived = Fresh(tokens, endpoint.url(), "rt-2");
    EXPECT_TRUE(shortLived.accessToken == "at-2" && shortLived.newRefreshToken.isEmpty());
    EXPECT_EQ(Fresh(tokens, endpoint.url(), "rt-2").accessToken, "at-3"); // 30 s left: too little

    // Two callers during one refresh share it.
    tokens.Forget("key");
    int answers = 0;
    for (int i = 0; i < 2; ++i)
        tokens.Fresh("key", Provider(endpoint.url()), "rt-2",
                     [&answers](TokenResult r) { answers += r.ok; });
    while (answers < 2)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(endpoint.forms.size(), 4);
}

TEST(OAuthTokens, RefusalsAskForASignInOtherFailuresSayWhy) {
    const struct {
        FakeTokenEndpoint::Answer answer;
        bool signInNeeded;
        const char* reason;
    } rows[] = {
        {{400, R"({"error":"invalid_grant","error_description":"Token revoked"})"},
         true,
         "Sign-in needed"},
        {{503, R"({"error":"temporarily_unavailable"})"},
         false,
         "The provider refused to renew the sign-in: temporarily_unavailable"},
        {{500, "oops"}, false, "The token service at 127.0.0.1 answered with HTTP status 500."},
    };
    for (const auto& row : rows) {
        FakeTokenEndpoint endpoint({row.answer});
        OAuthTokens tokens;
        const TokenResult result = Fresh(tokens, endpoint.url(), "rt-1");
        EXPECT_TRUE(!result.ok && result.signInNeeded == row.signInNeeded) << row.reason;
        EXPECT_EQ(result.reason, row.reason);
    }
    OAuthTokens tokens;
    const TokenResult unreachable = Fresh(tokens, QUrl("http://127.0.0.1:1/token"), "rt-1");
    EXPECT_TRUE(unreachable.reason.startsWith("Could not reach the token service at 127.0.0.1: "));
}

} // namespace
