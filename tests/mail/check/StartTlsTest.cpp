// SPDX-License-Identifier: GPL-3.0-or-later
// The upgrade before the log-in (STARTTLS, STLS) against scripted servers: never a password in
// clear, nothing sent before the handshake is read, the certificate checked.
#include "ProbeHarness.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

namespace postlark::test {
namespace {

using Script = ScriptedServer::Script;

const QByteArray kImap = "* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] hi\r\n";

Script Tls(Script script, const QByteArray& goAhead, bool trusted = true) {
    const auto& files = TestCertificates::Shared();
    return script.sendAfterLine(goAhead).startTls(
        trusted ? files.serverCertFile() : files.selfSignedCertFile(),
        trusted ? files.serverKeyFile() : files.selfSignedKeyFile());
}

// After each go-ahead come bytes that would fail the account if they were read.
Script ImapUpgraded(const QByteArray& greeting) {
    return Tls(Script().send(greeting), "a1 OK\r\n* BYE injected\r\n")
        .sendAfterLine("* CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN\r\na2 OK\r\n")
        .sendAfterLine("a3 OK\r\n")
        .sendAfterLine("* STATUS INBOX (UNSEEN 3)\r\na4 OK\r\n")
        .sendAfterLine("a5 OK\r\n");
}

Script Pop3(Script script) {
    for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK 2 9\r\n", "+OK\r\n"})
        script.sendAfterLine(reply);
    return script;
}

TEST(StartTls, NoPasswordInClearAndOnlyTheUpgradedConnectionIsRead) {
    TrustTestCa trust(TestCertificates::Shared());
    const Script capa = Script().send("+OK\r\n").sendAfterLine("+OK\r\nSTLS\r\n.\r\n");
    const struct {
        const char* scheme;
        Script script;
        QString outcome; // the count, or a part of the reason
        QByteArray commands;
    } cases[] = {
        {"imap", Script().send("* OK [CAPABILITY IMAP4rev1] hi\r\n"), "offer STARTTLS", ""},
        {"imap", Script().send("* PREAUTH [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n"), "PREAUTH", ""},
        {"imap", Script().send(kImap).sendAfterLine("a1 NO\r\n"), "refused to start", "STARTTLS"},
        {"imap", Tls(Script().send(kImap), "a1 OK\r\n", false), "certificate", "STARTTLS"},
        {"imap", ImapUpgraded(kImap), "3", "STARTTLS CAPABILITY AUTHENTICATE STATUS LOGOUT"},
        {"imap+insecure", ImapUpgraded("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] hi\r\n"),
         "3", "STARTTLS CAPABILITY AUTHENTICATE STATUS LOGOUT"},
        {"pop3", Script().send("+OK\r\n").sendAfterLine("+OK\r\nUSER\r\n.\r\n"), "offer STLS",
         "CAPA"},
        {"pop3", Script().send("+OK\r\n").sendAfterLine("-ERR\r\n"), "offer STLS", "CAPA"},
        {"pop3", Script(capa).sendAfterLine("-ERR\r\n"), "refused to start", "CAPA STLS"},
        {"pop3", Tls(capa, "+OK\r\n", false), "certificate", "CAPA STLS"},
        {"pop3", Pop3(Tls(capa, "+OK go\r\n-ERR injected\r\n")), "2",
         "CAPA STLS USER PASS STAT QUIT"},
        {"", Pop3(Script().send("+OK\r\n")), "2", "USER PASS STAT QUIT"},
    };
    for (const auto& c : cases) {
        ScriptedServer server(Script(c.script).stayQuiet());
        const QString field = (*c.scheme ? QString::fromLatin1(c.scheme) + "://" : QString()) +
                              QStringLiteral("127.0.0.1:%1").arg(server.port());
        SCOPED_TRACE(field.toStdString());
        ProbeHarness harness;
        harness.StoreAccount(field.toStdString(), "alice", "pw-1");
        harness.Run(field);
        const QString certificate = harness.Socket().CertificateErrors();
        const QString why =
            harness.Reason().isEmpty() ? "certificate " + certificate : harness.Reason();
        EXPECT_EQ(c.outcome == "certificate", !certificate.isEmpty());
        if (c.outcome.front().isDigit())
            EXPECT_EQ(QString::fromStdString(harness.Count()), c.outcome) << why.toStdString();
        else
            EXPECT_TRUE(harness.Result() == ResultFailed && why.contains(c.outcome))
                << why.toStdString();
        server.waitForClientClosed(1); // everything the client sent has been read
        QByteArrayList words;
        for (const QByteArray& line : server.receivedLines())
            words << line.split(' ').value(line.startsWith('a') ? 1 : 0);
        EXPECT_EQ(words.join(' '), c.commands);
    }
}

} // namespace
} // namespace postlark::test
