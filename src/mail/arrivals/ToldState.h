// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the notifications have told of one account's messages, kept across runs in
// $XDG_STATE_HOME/postlark/ (default ~/.local/state/postlark/), one owner-only file per account
// named by a hash of the account's identity. For IMAP it holds the mailbox's UIDVALIDITY and the
// UIDs told, for POP3 the UIDLs told; only ids still on the server are kept. A missing, unreadable
// or damaged file means nothing was told.
#include "mail/arrivals/ToldIds.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace postlark {

class ToldState {
public:
    // `accountKey`: the account's address, user and server field joined by '\n'.
    explicit ToldState(const QString& accountKey);

    // The ids of `present` (in its order) not told before; with a `uidValidity` other than the
    // stored one nothing was told.
    std::vector<QByteArray> Untold(const QByteArray& uidValidity,
                                   const std::vector<QByteArray>& present) const;
    // Adds `told`, keeps only the ids in `present`, stores `uidValidity` and writes the file in
    // one atomic step. False when it cannot be written: the file stays as it was, the state in
    // memory changes all the same, so this run does not tell the same messages twice.
    bool MarkTold(const QByteArray& uidValidity, const std::vector<QByteArray>& told,
                  const std::vector<QByteArray>& present);

    // The folder of the files, and this account's file in it.
    static QString Folder();
    QString FilePath() const { return path_; }

private:
    void Read();
    bool Write() const;

    QString path_;
    QByteArray validity_; // in its stored form; empty for POP3
    ToldIds told_;
};

} // namespace postlark
