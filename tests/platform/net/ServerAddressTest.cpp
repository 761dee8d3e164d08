// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/ServerAddress.h"

#include <gtest/gtest.h>

using postlark::ParseServerField;

namespace {

struct Valid {
    const char* field;
    const char* host;
    quint16 port;
    bool tls;
    bool imap = false;
    bool startTls = false;
};

TEST(ParseServerField, AcceptsEveryForm) {
    const Valid cases[] = {
        {"mail.example.com", "mail.example.com", 110, false},
        {"  mail.example.com \t", "mail.example.com", 110, false},
        {"mail.example.com:2110", "mail.example.com", 2110, false},
        {"127.0.0.1:65535", "127.0.0.1", 65535, false},
        {"[::1]:1100", "::1", 1100, false},
        {"[2001:db8::5]", "2001:db8::5", 110, false},
        {"2001:db8::5", "2001:db8::5", 110, false},
        {"pop3://mail.example.com", "mail.example.com", 110, false, false, true},
        {"POP3://mail.example.com:8110", "mail.example.com", 8110, false, false, true},
        {"pop3+insecure://mail.example.com", "mail.example.com", 110, false},
        {"POP3+Insecure://[::1]:8110", "::1", 8110, false},
        {"pop3s://mail.example.com", "mail.example.com", 995, true},
        {"pop3s://mail.example.com:1995", "mail.example.com", 1995, true},
        {"pop3s://[::1]", "::1", 995, true},
        {"pop3s://[::1]:2995", "::1", 2995, true},
        {"imap://mail.example.com", "mail.example.com", 143, false, true, true},
        {"IMAP://mail.example.com:1143", "mail.example.com", 1143, false, true, true},
        {"imap+insecure://mail.example.com", "mail.example.com", 143, false, true},
        {"imaps://mail.example.com", "mail.example.com", 993, true, true},
        {"imaps://[::1]:1993", "::1", 1993, true, true},
    };
    for (const Valid& c : cases) {
        SCOPED_TRACE(c.field);
        const auto address = ParseServerField(QString::fromUtf8(c.field));
        EXPECT_TRUE(address.valid) << address.error.toStdString();
        EXPECT_EQ(address.host, QString::fromUtf8(c.host));
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(address.tls, c.tls);
        EXPECT_EQ(address.imap, c.imap);
        EXPECT_EQ(address.startTls, c.startTls);
        EXPECT_TRUE(address.error.isEmpty());
    }
}

TEST(ParseServerField, SignInMechanismBeforeTheHost) {
    using postlark::SignInMechanism;
    const struct {
        const char* field;
        SignInMechanism mechanism; // Password: refused, with this part of the reason
        const char* reason = "";
    } cases[] = {
        {"imaps://;AUTH=XOAUTH2@outlook.office365.com", SignInMechanism::XOAuth2},
        {"pop3s://;auth=oauthbearer@pop.example.org:1995", SignInMechanism::OAuthBearer},
        {"imap://;AUTH=OAUTHBEARER@[::1]", SignInMechanism::OAuthBearer},
        {"imaps://;AUTH=GSSAPI@host", SignInMechanism::Password, "Unknown sign-in mechanism"},
        {"imap+insecure://;AUTH=XOAUTH2@host", SignInMechanism::Password, "needs TLS"},
        {"imaps://;AUTH=XOAUTH2host", SignInMechanism::Password, ";AUTH=XOAUTH2@"},
        {"imaps://;aple.c", SignInMechanism::Password, ""}, // a host, as before
        {"imaps://;AUTH=XOAUTH2@a@host", SignInMechanism::Password, "\"@\""},
        {";AUTH=XOAUTH2@host", SignInMechanism::Password, "\"@\""},
        // A host that begins like a mechanism (found by fuzzing): its scheme form is ambiguous.
        {";AUTH=XOA:6509", SignInMechanism::Password, "imaps://;AUTH=XOAUTH2@host"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const auto address = ParseServerField(QString::fromUtf8(c.field));
        EXPECT_EQ(address.valid, c.mechanism != SignInMechanism::Password || !*c.reason);
        EXPECT_EQ(address.mechanism, c.mechanism);
        EXPECT_TRUE(address.error.contains(QString::fromUtf8(c.reason)))
            << address.error.toStdString();
    }
    EXPECT_EQ(ParseServerField("imaps://;AUTH=XOAUTH2@host").port, 993);
    EXPECT_EQ(ParseServerField("imaps://;AUTH=XOAUTH2@host").host, "host");
}

TEST(ParseServerField, AnImapPathNamesTheMailbox) {
    const struct {
        const char* field;
        const char* mailbox;
        const char* reason = ""; // refused, with this part of the reason
    } cases[] = {
        {"imaps://host", "INBOX"},
        {"imaps://host:993/", "INBOX"},
        {"imap://host/inbox", "INBOX"},
        {"imaps://host:993/Lists/Work", "Lists/Work"},
        {"imaps://;AUTH=XOAUTH2@host/Lists/Work", "Lists/Work"},
        {"imap+insecure://[::1]:1143/a@b:c/", "a@b:c/"},
        {"imaps://host/Entw%C3%BCrfe%20alt%2Fx", "Entwürfe alt/x"},
        {"imaps://host/Entw\xFCrfe", "Entwürfe"}, // the stored text's own character
        {"pop3s://host", ""},
        {"imaps://host/My Folder", "", "write a space as %20"},
        {"imaps://host/50%", "", "%25"},
        {"imaps://host/%C3(", "", "not UTF-8"},
        {"imaps://host/a%0D%0Ab", "", "control character"},
        {"imaps://host/a?b", "", "%3F"},
        {"pop3s://host/INBOX", "", "Only an IMAP"},
        {"host/INBOX", "", "Only an IMAP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const QByteArray field(c.field);
        // "\xFC" stands for the one byte the store keeps for it.
        const auto address = ParseServerField(field.contains("\xFC") ? QString::fromLatin1(field)
                                                                     : QString::fromUtf8(field));
        EXPECT_EQ(address.valid, !*c.reason);
        EXPECT_EQ(address.mailbox, QString::fromUtf8(c.mailbox));
        EXPECT_TRUE(address.error.contains(QString::fromUtf8(c.reason)))
            << address.error.toStdString();
    }
}

TEST(ParseServerField, DefaultPortAppliesOnlyWithoutPortOrScheme) {
    EXPECT_EQ(ParseServerField("host", 4000).port, 4000);
    EXPECT_EQ(ParseServerField("host:25", 4000).port, 25);
    EXPECT_EQ(ParseServerField("pop3://host", 4000).port, 110);
    EXPECT_EQ(ParseServerField("pop3s://host", 4000).port, 995);
    EXPECT_EQ(ParseServerField("imap://host", 4000).port, 143);
    EXPECT_EQ(ParseServerField("imaps://host", 4000).port, 993);
    EXPECT_FALSE(ParseServerField("host", 0).valid);
}

TEST(ParseServerField, RejectsMalformedFieldsWithAReason) {
    const char* cases[] = {
        "",
        "   ",
        "host:",
        "host:0",
        "host:65536",
        "host:99999999999",
        "host:+110",
        "host:-1",
        "host:11x",
        ":110",
        "imap4://host",
        "imap+tls://host",
        "pop3+insecure://",
        "imap://",
        "imaps://host:0",
        "imaps://user@host",
        "imap://host/%zz",
        "://host",
        "pop3://",
        "pop3s://:995",
        "[::1",
        "::1]",
        "[::1]]",
        "[::1]x",
        "[::1]:",
        "[mail.example.com]:110",
        "mail example.com",
        "mail.example.com\r\nUSER x",
        "host:110:extra",
        "pop3://user@host",
        "pop3://host/path",
    };
    for (const char* field : cases) {
        SCOPED_TRACE(field);
        const auto address = ParseServerField(QString::fromUtf8(field));
        EXPECT_FALSE(address.valid);
        EXPECT_FALSE(address.error.isEmpty());
    }
}

} // namespace
