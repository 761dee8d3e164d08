// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log-in commands of an IMAP dialogue, from a user name and password already in UTF-8 and
// free of CR, LF and NUL.
#include <QByteArray>
#include <QList>
#include <QString>

namespace postlark {

// The client's response for "AUTHENTICATE PLAIN": base64 of NUL, user name, NUL, password.
QByteArray ImapPlainResponse(const QByteArray& user, const QByteArray& password);

// "tag LOGIN user password" with each argument a quoted string ('\' and '"' escaped), or a
// literal when a quoted string cannot hold it (bytes above 127). Every piece but the last ends
// in a literal's announcement and goes out only after the server's continuation; each piece
// ends in CR LF.
QList<QByteArray> ImapLoginPieces(const QByteArray& tag, const QByteArray& user,
                                  const QByteArray& password);

// The log-in a server's capabilities call for: AUTHENTICATE PLAIN (with an initial response
// under SASL-IR) when offered, LOGIN otherwise. `first` goes out at once, each of `pieces` after
// one continuation of the server.
struct ImapLogInSteps {
    QByteArray first;
    QList<QByteArray> pieces;
};
ImapLogInSteps ImapLogInCommand(const QList<QByteArray>& capabilities, const QByteArray& tag,
                                const QByteArray& user, const QByteArray& password);

// Why a log-in the server answered with NO failed for another reason than the credentials,
// from its response code and text; empty when the user name or password was refused (the code
// AUTHENTICATIONFAILED, or none at all).
QString ImapLogInRefusal(const QByteArray& code, const QString& text, bool tls);

// Why no password can be sent to a server announcing LOGINDISABLED.
QString ImapLoginDisabledReason(bool tls);

} // namespace postlark
