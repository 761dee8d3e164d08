// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the notifications have told of one account's messages, kept across runs in the owner-only
// file $XDG_STATE_HOME/postlark/told (default ~/.local/state/postlark/told), one section per
// account named by a hash of the account's identity. For IMAP a section holds the mailbox's
// UIDVALIDITY and the UIDs told, for POP3 the UIDLs told; only ids still on the server are kept.
// A missing, unreadable or damaged file (or section) means nothing was told. All accounts share
// one file, written by Flush in one atomic step: a check of 200 accounts writes it once, not 200
// files.
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
    // Adds `told`, keeps only the ids in `present` and stores `uidValidity`, for every
    // ToldState of this program at once; the file follows at the next Flush. Whether anything
    // changed.
    bool MarkTold(const QByteArray& uidValidity, const std::vector<QByteArray>& told,
                  const std::vector<QByteArray>& present);

    // Writes the file when a state has changed since it was read or written, in one atomic
    // step. False when it cannot be written: the file stays as it was, and the states in memory
    // are kept, so this run does not tell the same messages twice.
    static bool Flush();
    // Forgets what was read, as a new program would not know it (the next ToldState reads the
    // file again); what has not been flushed is lost.
    static void ForgetRead();

    // The folder and the file.
    static QString Folder();
    static QString FilePath();

private:
    QByteArray Section() const;

    QByteArray hash_;
    QByteArray validity_; // in its stored form; empty for POP3
    ToldIds told_;
};

} // namespace postlark
