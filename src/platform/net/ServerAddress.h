// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The server field of an account, taken apart into protocol, host, port and transport.
// Accepted forms: "host", "host:port", "[IPv6]", "[IPv6]:port", a bare IPv6 literal,
// "pop3://host[:port]" (port 110, upgraded with STLS before the log-in), "pop3s://host[:port]"
// (TLS from the first byte, port 995), "imap://host[:port]" (IMAP, port 143, upgraded with
// STARTTLS), "imaps://host[:port]" (IMAP, TLS from the first byte, port 993), and
// "pop3+insecure://" / "imap+insecure://" (clear text, ports 110 / 143, for servers without
// TLS). A plain host name is POP3 on the default port, plain text. A scheme form may name the
// sign-in mechanism before the host as URLs for IMAP and POP3 do ("imaps://;AUTH=XOAUTH2@host",
// "pop3s://;AUTH=OAUTHBEARER@host"); only the OAuth2 mechanisms are known, and only over TLS.
// An IMAP form may name the mailbox after the host as IMAP URLs do ("imaps://host/Lists/Work"):
// percent-encoded UTF-8, "/" separating the levels as written; characters beyond ASCII may also
// stand as they are. Without a path, or with "/" alone, the mailbox is the INBOX.
#include <QString>

namespace postlark {

// How the account signs in: with its password, or with an OAuth2 access token.
enum class SignInMechanism { Password, XOAuth2, OAuthBearer };

struct ServerAddress {
    QString host;          // name or address, without brackets
    quint16 port = 0;      // 1..65535 when valid
    bool tls = false;      // TLS from the first byte
    bool startTls = false; // plain first, upgraded to TLS before any log-in
    bool imap = false;     // IMAP instead of POP3
    SignInMechanism mechanism = SignInMechanism::Password;
    QString mailbox; // IMAP: the mailbox watched, decoded ("INBOX" by default); POP3: empty
    bool valid = false;
    QString error; // short English reason when not valid
};

// The one place that parses the server field. Surrounding whitespace is ignored.
ServerAddress ParseServerField(const QString& field, quint16 defaultPort = 110);

} // namespace postlark
