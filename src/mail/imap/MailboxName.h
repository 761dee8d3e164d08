// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A mailbox name as IMAP carries it: modified UTF-7 (printable ASCII as itself, "&" as "&-",
// everything else as UTF-16 in modified base64 between "&" and "-"), sent as an atom when it
// is one and as a quoted string otherwise.
#include <QByteArray>
#include <QString>

namespace postlark {

// The name in modified UTF-7.
QByteArray EncodeMailboxName(const QString& name);
// The name as a command's argument: its modified UTF-7 as an atom, or quoted with "\" before
// every "\" and quote.
QByteArray MailboxArgument(const QString& name);

} // namespace postlark
