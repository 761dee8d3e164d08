// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What reading the headers of unseen messages takes from IMAP responses and puts into its
// commands: the UIDs a SEARCH lists, the mailbox's UIDVALIDITY, the UID FETCH of the header
// fields a notification shows (BODY.PEEK: the messages stay unseen), and the header a FETCH
// response carries.
#include "mail/dialogue/NewMessageReader.h"
#include "mail/imap/ImapResponse.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace postlark {

// A header longer than this is cut to it.
constexpr qsizetype kMaxFetchedHeader = 64 * 1024;

// `text` as a UID in plain decimal (1 to 4294967295, no leading zeros); empty when it is none.
QByteArray CanonicalUid(const QByteArray& text);
// The UIDs an untagged SEARCH response lists, in its order, each in plain decimal; of a long
// list only those the reader kept (the last ones). Empty for any other response.
std::vector<QByteArray> SearchedUids(const ImapResponse& response);
// The value of an untagged "OK [UIDVALIDITY n]"; empty for any other response.
QByteArray UidValidityOf(const ImapResponse& response);
// "UID FETCH <set> (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID)])": the set lists
// the UIDs in ascending order, adjacent ones as ranges ("3:5,9"). `uids` are plain decimal.
QByteArray HeaderFetchCommand(const std::vector<QByteArray>& uids);
// The UID and header fields of an untagged FETCH response, its items in any order (NIL for
// the header is an empty one); nothing when the response lacks either or cannot be read.
std::optional<FetchedHeader> ParseFetch(const ImapResponse& response);

} // namespace postlark
