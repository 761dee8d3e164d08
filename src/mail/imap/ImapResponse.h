// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One IMAP server response taken apart as far as a mail check needs: its tag, its first word
// and the rest; the capabilities it announces; the INBOX's unseen count of a STATUS response.
#include <QByteArray>
#include <QList>
#include <optional>

namespace postlark {

struct ImapResponse {
    enum class Kind { Tagged, Untagged, Continuation };

    Kind kind = Kind::Untagged;
    QByteArray tag;  // the tag of a tagged response
    QByteArray word; // upper case: OK, NO, BAD, BYE, PREAUTH, CAPABILITY, STATUS, a number ...
    QByteArray rest; // what follows the word and its space

    // Nothing when the text has no tag and word; a continuation needs neither.
    static std::optional<ImapResponse> Parse(const QByteArray& text);

    // The capabilities announced (upper case): the list of a CAPABILITY response, or the
    // "[CAPABILITY ...]" code opening the text of an OK or PREAUTH; nothing when none.
    std::optional<QList<QByteArray>> Capabilities() const;
    // The response code opening the text of a status response ("AUTHENTICATIONFAILED" of
    // "[AUTHENTICATIONFAILED] ..."), upper case; empty when there is none.
    QByteArray Code() const;

    // What a STATUS response says about the INBOX.
    struct Unseen {
        bool inbox = false;       // the response is about the INBOX
        std::optional<int> count; // its UNSEEN value, when one is there and reads as 0..32767
    };
    // Only for a STATUS response; nothing when it cannot be read at all.
    std::optional<Unseen> InboxUnseen() const;

    // The number of messages a SEARCH response lists, or the COUNT of an ESEARCH response;
    // nothing for other responses, for a count that cannot be read or one over 32767.
    std::optional<int> SearchCount() const;
    // True for "* n EXISTS", "* n EXPUNGE" and "* n FETCH ...": the selected mailbox changed.
    bool MailboxChange() const;
};

} // namespace postlark
