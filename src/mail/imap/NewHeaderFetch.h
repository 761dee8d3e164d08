// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads the headers of unseen messages in the mailbox a session has open read-only (EXAMINE),
// for a NewMessageReader: "UID SEARCH UNSEEN", the reader's choice among the UIDs, one UID
// FETCH of their header fields with BODY.PEEK (no flag changes on the server), and the reader
// told what came. Its owner, the session's owner, hands it the responses while it is active.
#include "mail/dialogue/NewMessageReader.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace postlark {

class ImapSession;
struct ImapResponse;

class NewHeaderFetch {
public:
    explicit NewHeaderFetch(ImapSession& session) : session_(session) {}

    // Sends UID SEARCH UNSEEN for the reader, about `account`, whose mailbox has `uidValidity`.
    void Begin(NewMessageReader& reader, std::int16_t account, QByteArray uidValidity);
    bool Active() const { return step_ != Step::Idle; }
    // Takes the SEARCH, and the FETCH responses carrying a header; false for any other.
    bool Untagged(const ImapResponse& response);
    // Takes the tagged response to its command; true once the reader has been told, when the
    // owner goes on. A NO or BAD tells the reader that only the count is known.
    bool Tagged(const ImapResponse& response);
    // The dialogue ended first: the reader learns that only the count is known.
    void Abandon();

private:
    enum class Step { Idle, Search, Fetch };
    void Finish(std::vector<FetchedHeader> headers, bool countOnly);

    ImapSession& session_;
    NewMessageReader* reader_ = nullptr;
    std::int16_t account_ = 0;
    QByteArray uidValidity_;
    Step step_ = Step::Idle;
    std::vector<QByteArray> uids_; // listed by the search, then those asked for
    std::vector<FetchedHeader> headers_;
};

} // namespace postlark
