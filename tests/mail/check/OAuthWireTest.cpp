// SPDX-License-Identifier: GPL-3.0-or-later
// Signing in with an OAuth2 access token against scripted servers, after the upgrade to TLS:
// XOAUTH2 and OAUTHBEARER, with and without an initial response, and the error challenge.
#include "ProbeHarness.h"
#include "mail/dialogue/SaslOAuth.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

namespace postlark::test {
namespace {

using Script = ScriptedServer::Script;

const QByteArray kChallenge = "+ " + QByteArray(R"({"status":"invalid_token","scope":"x"})")
                                         .toBase64() + "\r\n";

Script Upgraded(Script script, const QByteArray& goAhead) {
    const auto& files = TestCertificates::Shared();
    return script.sendAfterLine(goAhead).startTls(files.serverCertFile(), files.serverKeyFile());
}

Script Imap(const QByteArray& capabilities) {
    return Upgraded(Script().send("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n"), "a1 OK\r\n")
        .sendAfterLine("* CAPABILITY IMAP4rev1 " + capabilities + "\r\na2 OK\r\n");
}

// Up to the answer to AUTH, which the case adds.
Script Pop3() {
    return Upgraded(Script().send("+OK\r\n").sendAfterLine("+OK\r\nSTLS\r\n.\r\n"), "+OK\r\n");
}

TEST(OAuthWire, TokenSignInAndTheServersRefusal) {
    TrustTestCa trust(TestCertificates::Shared());
    const struct {
        const char* scheme;
        bool oauthBearer;
        Script script;
        QString outcome; // the count, or a part of the reason
        QByteArray commands;
    } cases[] = {
        {"imap", false,
         Imap("SASL-IR AUTH=XOAUTH2").sendAfterLine("a3 OK\r\n").sendAfterLine(
             "* STATUS INBOX (UNSEEN 3)\r\na4 OK\r\n").sendAfterLine("a5 OK\r\n"),
         "3", "STARTTLS CAPABILITY AUTHENTICATE STATUS LOGOUT"},
        {"imap", true,
         Imap("AUTH=OAUTHBEARER").sendAfterLine("+ \r\n").sendAfterLine("a3 OK\r\n").sendAfterLine(
             "* STATUS INBOX (UNSEEN 4)\r\na4 OK\r\n").sendAfterLine("a5 OK\r\n"),
         "4", "STARTTLS CAPABILITY AUTHENTICATE ~ STATUS LOGOUT"},
        {"imap", false,
         Imap("SASL-IR AUTH=XOAUTH2").sendAfterLine(kChallenge).sendAfterLine("a3 NO failed\r\n"),
         "(invalid_token)", "STARTTLS CAPABILITY AUTHENTICATE ~"},
        {"imap", true, Imap("SASL-IR AUTH=XOAUTH2 AUTH=PLAIN"),
         "does not offer sign-in with OAUTHBEARER", "STARTTLS CAPABILITY"},
        {"pop3", false, Pop3().sendAfterLine("+OK\r\n").sendAfterLine("+OK 5 90\r\n").sendAfterLine("+OK\r\n"), "5",
         "CAPA STLS AUTH STAT QUIT"},
        {"pop3", true, Pop3().sendAfterLine(kChallenge).sendAfterLine("-ERR no\r\n"),
         "(invalid_token)", "CAPA STLS AUTH AQ=="},
        {"pop3", false, Pop3().sendAfterLine("-ERR [AUTH] Unknown user\r\n"), "[AUTH] Unknown user",
         "CAPA STLS AUTH"},
    };
    for (const auto& c : cases) {
        ScriptedServer server(Script(c.script).stayQuiet());
        const QString field = QStringLiteral("%1://;AUTH=%2@127.0.0.1:%3")
                                  .arg(QLatin1String(c.scheme),
                                       c.oauthBearer ? "OAUTHBEARER" : "XOAUTH2")
                                  .arg(server.port());
        SCOPED_TRACE(field.toStdString());
        BearerToken bearer{c.oauthBearer, "tok-1", "127.0.0.1", server.port()};
        ProbeHarness harness;
        harness.StoreAccount(field.toStdString(), "alice", "");
        harness.Run(field, StoredCredentials{"alice", "", bearer});
        if (c.outcome.front().isDigit()) {
            EXPECT_EQ(QString::fromStdString(harness.Count()), c.outcome);
        } else {
            EXPECT_EQ(harness.Result(), ResultFailed);
            EXPECT_TRUE(harness.Reason().contains(c.outcome)) << harness.Reason().toStdString();
        }
        server.waitForClientClosed(1);
        // What was sent, one word a line; the token's message is not shown, only counted.
        const QByteArray response = SaslOAuthInitialResponse("alice", bearer);
        QByteArrayList words;
        int tokenMessages = 0;
        for (QByteArray line : server.receivedLines()) {
            if (line.endsWith(response)) {
                line.chop(response.size());
                ++tokenMessages;
            }
            words << (line.isEmpty() ? QByteArray("~")
                                     : line.split(' ').value(line.startsWith('a') ? 1 : 0));
        }
        EXPECT_EQ(tokenMessages, c.commands.contains("AUTH") ? 1 : 0);
        EXPECT_EQ(words.join(' '), c.commands);
    }
}

} // namespace
} // namespace postlark::test
