// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One new message as the notification names it: who sent it and what it is about, decoded
// and made safe for display.
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace postlark {

struct ArrivedMessage {
    QByteArray id;        // the id the dialogue fetched it by (IMAP UID, POP3 UIDL)
    QString sender;       // the display name, else the address; empty without a From
    QString subject;      // empty without a Subject
    QDateTime date;       // invalid without a readable Date
    QByteArray messageId; // without the angle brackets
};

} // namespace postlark
