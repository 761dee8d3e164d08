// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapLogin.h"

namespace postlark {

namespace {

bool FitsQuoted(const QByteArray& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0 || byte == '\r' || byte == '\n' || byte > 127)
            return false;
    }
    return true;
}

QByteArray Quoted(const QByteArray& text) {
    QByteArray quoted = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

QByteArray ImapPlainResponse(const QByteArray& user, const QByteArray& password) {
    return (QByteArray(1, '\0') + user + QByteArray(1, '\0') + password).toBase64();
}

QList<QByteArray> ImapLoginPieces(const QByteArray& tag, const QByteArray& user,
                                  const QByteArray& password) {
    QList<QByteArray> pieces;
    QByteArray line = tag + " LOGIN";
    for (const QByteArray* argument : {&user, &password}) {
        line += ' ';
        if (FitsQuoted(*argument)) {
            line += Quoted(*argument);
        } else {
            // The literal's bytes begin the next piece, after the server's continuation.
            pieces << line + '{' + QByteArray::number(argument->size()) + "}\r\n";
            line = *argument;
        }
    }
    pieces << line + "\r\n";
    return pieces;
}

ImapLogInSteps ImapLogInCommand(const QList<QByteArray>& capabilities, const QByteArray& tag,
                                const QByteArray& user, const QByteArray& password) {
    if (capabilities.contains("AUTH=PLAIN")) {
        const QByteArray response = ImapPlainResponse(user, password);
        if (capabilities.contains("SASL-IR"))
            return {tag + " AUTHENTICATE PLAIN " + response + "\r\n", {}};
        return {tag + " AUTHENTICATE PLAIN\r\n", {response + "\r\n"}};
    }
    QList<QByteArray> pieces = ImapLoginPieces(tag, user, password);
    const QByteArray first = pieces.takeFirst();
    return {first, pieces};
}

QString ImapLogInRefusal(const QByteArray& code, const QString& text, bool tls) {
    if (code.isEmpty() || code == "AUTHENTICATIONFAILED")
        return QString();
    if (code == "PRIVACYREQUIRED")
        return ImapLoginDisabledReason(tls);
    // Anything else (UNAVAILABLE, SERVERBUG, INUSE, LIMIT, CONTACTADMIN, EXPIRED, ALERT ...) is
    // not a wrong password: the server's own words say what it is.
    const QString said = text.isEmpty() ? QString::fromLatin1(code) : text;
    if (code == "UNAVAILABLE")
        return QStringLiteral("The server cannot log in now; try again later (%1)").arg(said);
    return QStringLiteral("The server refused the log-in: %1").arg(said);
}

QString ImapLoginDisabledReason(bool tls) {
    return tls ? QStringLiteral("The server does not accept a password")
               : QStringLiteral("The server does not accept a password on an unencrypted "
                                "connection; use imaps://");
}

} // namespace postlark
