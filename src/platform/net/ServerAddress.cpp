// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/ServerAddress.h"

#include <QStringDecoder>

#include <algorithm>
#include <arpa/inet.h>

namespace postlark {

namespace {

constexpr quint16 kPop3Port = 110;
constexpr quint16 kPop3sPort = 995;
constexpr quint16 kImapPort = 143;
constexpr quint16 kImapsPort = 993;

ServerAddress Invalid(const QString& reason) {
    ServerAddress result;
    result.error = reason;
    return result;
}

bool HasBadCharacter(const QString& text) {
    for (const QChar c : text) {
        // ASCII is told apart without the Unicode tables: its spaces and controls are the
        // characters up to U+0020, and U+007F.
        if (c.unicode() < 0x80) {
            if (c.unicode() <= 0x20 || c.unicode() == 0x7F)
                return true;
            continue;
        }
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// A port is one to five ASCII digits with a value from 1 to 65535.
bool ParsePort(QStringView text, quint16* port) {
    if (text.isEmpty() || text.size() > 5)
        return false;
    uint value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value == 0 || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

bool IsIpv6Literal(const QString& text) {
    // A zone ("%eth0") may follow a link-local address.
    const QByteArray bare = text.section(QLatin1Char('%'), 0, 0).toLatin1();
    in6_addr address;
    return inet_pton(AF_INET6, bare.constData(), &address) == 1;
}

// Takes ";AUTH=<mechanism>@" off the front of `rest`; the mechanism, or the reason it is refused.
ServerAddress TakeMechanism(QString* rest, const ServerAddress& scheme) {
    static const QString kAuth = QStringLiteral(";AUTH=");
    const qsizetype at = rest->indexOf(u'@');
    if (at < 0)
        return Invalid(QStringLiteral("Write a sign-in mechanism as ;AUTH=XOAUTH2@ before the host."));
    const QString name = rest->mid(kAuth.size(), at - kAuth.size());
    ServerAddress named;
    if (name.compare(QStringLiteral("XOAUTH2"), Qt::CaseInsensitive) == 0)
        named.mechanism = SignInMechanism::XOAuth2;
    else if (name.compare(QStringLiteral("OAUTHBEARER"), Qt::CaseInsensitive) == 0)
        named.mechanism = SignInMechanism::OAuthBearer;
    else
        return Invalid(QStringLiteral("Unknown sign-in mechanism \"%1\"; use XOAUTH2 or OAUTHBEARER.")
                           .arg(name));
    if (!scheme.tls && !scheme.startTls)
        return Invalid(QStringLiteral("OAuth2 sign-in needs TLS; use imaps://, imap://, pop3s:// "
                                      "or pop3://."));
    *rest = rest->mid(at + 1);
    return named;
}

const QString kBadPort = QStringLiteral("The port must be a number from 1 to 65535.");
const QString kPathNotImap =
    QStringLiteral("Only an IMAP server field can name a mailbox, as imaps://host/Folder.");

int HexValue(QChar c) {
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// The mailbox named by the path after the host ("/Lists/Work"): percent escapes are UTF-8
// bytes, other characters stand for themselves. The name, or the reason it is refused.
ServerAddress TakeMailbox(const QString& path) {
    QString name;
    QByteArray escaped; // escapes not yet read as UTF-8
    bool utf8Error = false;
    const auto flush = [&] {
        if (escaped.isEmpty())
            return;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        name += utf8.decode(escaped);
        utf8Error = utf8Error || utf8.hasError();
        escaped.clear();
    };
    for (qsizetype i = 1; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c == u'%') {
            const int high = i + 2 < path.size() ? HexValue(path[i + 1]) : -1;
            const int low = high >= 0 ? HexValue(path[i + 2]) : -1;
            if (low < 0)
                return Invalid(QStringLiteral("Write a \"%\" in the mailbox name as %25."));
            escaped += static_cast<char>(high * 16 + low);
            i += 2;
            continue;
        }
        flush();
        if (c == u'?' || c == u'#' || c == u';')
            return Invalid(QStringLiteral("Write a \"%1\" in the mailbox name as %%2.")
                               .arg(QString(c), QString::number(c.unicode(), 16).toUpper()));
        name += c;
    }
    flush();
    if (utf8Error)
        return Invalid(QStringLiteral("The mailbox name's percent escapes are not UTF-8."));
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control)
            return Invalid(QStringLiteral("The mailbox name contains a control character."));
    }
    ServerAddress named;
    const bool inbox =
        name.isEmpty() || name.compare(QStringLiteral("INBOX"), Qt::CaseInsensitive) == 0;
    named.mailbox = inbox ? QStringLiteral("INBOX") : name;
    return named;
}

} // namespace

ServerAddress ParseServerField(const QString& field, quint16 defaultPort) {
    const QString text = field.trimmed();
    if (text.isEmpty())
        return Invalid(QStringLiteral("The server name is empty."));
    const qsizetype schemeEnd = text.indexOf(QStringLiteral("://"));
    // A scheme form's path begins at the first "/" after the scheme.
    const qsizetype pathAt = schemeEnd >= 0 ? text.indexOf(u'/', schemeEnd + 3) : -1;
    if (HasBadCharacter(text.left(pathAt)))
        return Invalid(QStringLiteral("The server name contains spaces or control characters."));

    ServerAddress result;
    result.port = defaultPort;
    QString rest = text;
    if (schemeEnd >= 0) {
        const QString scheme = text.left(schemeEnd).toLower();
        if (scheme == QStringLiteral("pop3") || scheme == QStringLiteral("pop3+insecure")) {
            result.port = kPop3Port;
            result.startTls = scheme == QStringLiteral("pop3");
        } else if (scheme == QStringLiteral("pop3s")) {
            result.port = kPop3sPort;
            result.tls = true;
        } else if (scheme == QStringLiteral("imap") || scheme == QStringLiteral("imap+insecure")) {
            result.port = kImapPort;
            result.imap = true;
            result.startTls = scheme == QStringLiteral("imap");
        } else if (scheme == QStringLiteral("imaps")) {
            result.port = kImapsPort;
            result.tls = true;
            result.imap = true;
        } else {
            return Invalid(QStringLiteral("Unknown scheme \"%1\"; use pop3://, pop3s://, imap://, "
                                          "imaps://, pop3+insecure:// or imap+insecure://.")
                               .arg(text.left(schemeEnd)));
        }
        rest = text.mid(schemeEnd + 3, pathAt < 0 ? -1 : pathAt - schemeEnd - 3);
        if (pathAt >= 0 && !result.imap)
            return Invalid(kPathNotImap);
        if (pathAt >= 0 && HasBadCharacter(text.mid(pathAt)))
            return Invalid(QStringLiteral("The mailbox name contains spaces or control characters; "
                                          "write a space as %20."));
        if (rest.startsWith(QStringLiteral(";AUTH="), Qt::CaseInsensitive)) {
            const ServerAddress named = TakeMechanism(&rest, result);
            if (!named.error.isEmpty())
                return named;
            result.mechanism = named.mechanism;
        }
    }

    // The first of these characters, in the order they are listed.
    static const QString kForbidden = QStringLiteral("/\\?#@\"<>");
    const auto forbidden = [](QChar c) {
        switch (c.unicode()) {
        case u'/':
        case u'\\':
        case u'?':
        case u'#':
        case u'@':
        case u'"':
        case u'<':
        case u'>':
            return true;
        default:
            return false;
        }
    };
    if (std::any_of(rest.begin(), rest.end(), forbidden)) {
        if (schemeEnd < 0 && rest.contains(u'/'))
            return Invalid(kPathNotImap);
        for (const QChar c : kForbidden) {
            if (rest.contains(c))
                return Invalid(QStringLiteral("The server name contains \"%1\".").arg(c));
        }
    }

    // A sign-in mechanism goes after a scheme; a host that begins like one could not be told
    // from it.
    if (rest.startsWith(QStringLiteral(";AUTH="), Qt::CaseInsensitive))
        return Invalid(QStringLiteral("Write a sign-in mechanism as imaps://;AUTH=XOAUTH2@host."));

    QString host;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || rest.indexOf(u'[', 1) >= 0 || rest.indexOf(u']', close + 1) >= 0)
            return Invalid(QStringLiteral("The brackets around the address do not match."));
        host = rest.mid(1, close - 1);
        if (!IsIpv6Literal(host))
            return Invalid(QStringLiteral("Only an IPv6 address may stand in brackets."));
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':'))
                return Invalid(QStringLiteral("Unexpected text after the bracketed address."));
            if (!ParsePort(QStringView(after).mid(1), &result.port))
                return Invalid(kBadPort);
        }
    } else if (rest.contains(u'[') || rest.contains(u']')) {
        return Invalid(QStringLiteral("The brackets around the address do not match."));
    } else {
        const qsizetype colons = rest.count(u':');
        if (colons == 0) {
            host = rest;
        } else if (colons == 1) {
            const qsizetype colon = rest.indexOf(u':');
            host = rest.left(colon);
            if (!ParsePort(QStringView(rest).mid(colon + 1), &result.port))
                return Invalid(kBadPort);
        } else if (IsIpv6Literal(rest)) {
            host = rest; // bare IPv6 literal: the whole text is the address
        } else {
            return Invalid(QStringLiteral(
                "Too many colons; write an IPv6 address with a port as [address]:port."));
        }
    }

    if (host.isEmpty())
        return Invalid(QStringLiteral("The server name is empty."));
    if (result.port == 0)
        return Invalid(kBadPort);
    if (result.imap) {
        const ServerAddress named = TakeMailbox(pathAt < 0 ? QString() : text.mid(pathAt));
        if (!named.error.isEmpty())
            return named;
        result.mailbox = named.mailbox;
    }
    result.host = host;
    result.valid = true;
    return result;
}

} // namespace postlark
