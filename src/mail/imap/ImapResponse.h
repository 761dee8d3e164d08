// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One IMAP server response taken apart as far as a mail check needs: its tag, its first word
// and the rest; the capabilities it announces; the INBOX's unseen count of a STATUS response.
#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace postlark {

struct ImapResponse {
    enum class Kind { Tagged, Untagged, Continuation };

    Kind kind = Kind::Untagged;
    QByteArray tag;  // the tag of a tagged response
    QByteArray word; // upper case: OK, NO, BAD, BYE, PREAUTH, CAPABILITY, STATUS, a number ...
    QByteArray rest; // what follows the word and its space
    // The numbers of an untagged SEARCH that the reader counted and dropped before the line
    // ended (ImapReader::DroppedSearchItems); -1 when one of them was not a number.
    qint64 droppedSearchItems = 0;

    // Nothing when the text has no tag and word; a continuation needs neither.
    static std::optional<ImapResponse> Parse(const QByteArray& text);
    // Reads an atom, quoted string or literal at `at` of a response's text and moves `at` past
    // it; nothing when none stands there whole.
    static std::optional<QByteArray> ReadString(const QByteArray& text, qsizetype& at);

    // The capabilities announced (upper case): the list of a CAPABILITY response, or the
    // "[CAPABILITY ...]" code opening the text of an OK or PREAUTH; nothing when none.
    std::optional<QList<QByteArray>> Capabilities() const;
    // The response code opening the text of a status response ("AUTHENTICATIONFAILED" of
    // "[AUTHENTICATIONFAILED] ..."), upper case; empty when there is none.
    QByteArray Code() const;
    // The human-readable text of a status response, after its response code, as the user may
    // read it: UTF-8, control characters dropped, white space folded, at most 200 characters.
    QString Text() const;

    // What a STATUS response says about the INBOX (or the mailbox asked for).
    struct Unseen {
        bool inbox = false;          // the response is about the INBOX (the mailbox asked for)
        std::optional<qint64> count; // its UNSEEN value, when one is there and reads as a count
    };
    // Only for a STATUS response; nothing when it cannot be read at all.
    std::optional<Unseen> InboxUnseen() const { return MailboxUnseen("INBOX"); }
    // The same for the mailbox named `mailbox` on the wire (modified UTF-7; INBOX in any case).
    std::optional<Unseen> MailboxUnseen(const QByteArray& mailbox) const;

    // The number of messages a SEARCH response lists (those the reader dropped included), or
    // the COUNT of an ESEARCH response; nothing for other responses, or for a count that cannot
    // be read.
    std::optional<qint64> SearchCount() const;

    // What "* n EXISTS", "* n EXPUNGE" and "* n FETCH ..." say of the selected mailbox.
    struct MailboxEvent {
        enum class Kind { None, Exists, Expunge, Fetch };
        Kind kind = Kind::None;
        qint64 number = 0; // the message count of EXISTS, the message number otherwise
    };
    MailboxEvent Event() const;

    // The largest message count IMAP can state (a 32-bit number).
    static constexpr qint64 kMaxCount = 4294967295;
};

} // namespace postlark
