// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log-in commands of an IMAP dialogue, from a user name and password already in UTF-8 and
// free of CR, LF and NUL.
#include <QByteArray>
#include <QList>

namespace postlark {

// The client's response for "AUTHENTICATE PLAIN": base64 of NUL, user name, NUL, password.
QByteArray ImapPlainResponse(const QByteArray& user, const QByteArray& password);

// "tag LOGIN user password" with each argument a quoted string ('\' and '"' escaped), or a
// literal when a quoted string cannot hold it (bytes above 127). Every piece but the last ends
// in a literal's announcement and goes out only after the server's continuation; each piece
// ends in CR LF.
QList<QByteArray> ImapLoginPieces(const QByteArray& tag, const QByteArray& user,
                                  const QByteArray& password);

} // namespace postlark
