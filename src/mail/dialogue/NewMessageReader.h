// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a dialogue reads of the messages waiting, for a desktop notification that names their
// senders and subjects. Reading changes nothing on the server (IMAP BODY.PEEK, POP3 TOP n 0).
// The dialogue lists the messages present, asks which of them to fetch (those not told to the
// user before, at most kMaxHeaders) and hands over what it fetched; its owner keeps what has
// been told. Without a reader, or while it wants nothing, the dialogue is the plain count.
#include <QByteArray>

#include <cstdint>
#include <vector>

namespace postlark {

struct FetchedHeader {
    QByteArray id;     // IMAP: the message's UID in decimal; POP3: its UIDL
    QByteArray header; // the header lines as the server sent them, CR LF included
};

class NewMessageReader {
public:
    // Headers fetched per account and dialogue; the messages beyond are counted only.
    static constexpr int kMaxHeaders = 20;

    virtual ~NewMessageReader() = default;
    // Whether to read beyond the count at all (the notification shows senders or subjects).
    virtual bool Wanted() const = 0;
    // The ids among `present` (the unseen messages' UIDs, or every UIDL, in the server's
    // order) whose headers to fetch for account `account`: those not told before, at most
    // kMaxHeaders, the newest first. `uidValidity` is the IMAP mailbox's (empty for POP3); a
    // new one forgets what was told of the account.
    virtual std::vector<QByteArray> ToFetch(std::int16_t account, const QByteArray& uidValidity,
                                            const std::vector<QByteArray>& present) = 0;
    // What was fetched for the account, after ToFetch. `countOnly`: the server could not list
    // or fetch (no UIDL or TOP, a refusal), so only the count can be told.
    virtual void Fetched(std::int16_t account, std::vector<FetchedHeader> headers,
                         bool countOnly) = 0;
};

} // namespace postlark
