// SPDX-License-Identifier: GPL-3.0-or-later
// What reading the headers of new messages puts on the wire and takes from it: mailbox names
// in modified UTF-7, the UID set of the fetch, FETCH responses in the forms servers send, and
// header literals over 64 KiB cut as they stream.
#include "mail/imap/FetchResponse.h"
#include "mail/imap/ImapReader.h"
#include "mail/imap/MailboxName.h"

#include <gtest/gtest.h>

namespace postlark {
namespace {

TEST(MailboxName, ModifiedUtf7AsAnAtomOrAQuotedString) {
    const struct {
        const char* name;
        const char* argument;
    } cases[] = {
        {"INBOX", "INBOX"},
        {"Lists/Work", "Lists/Work"},
        {"Entwürfe", "Entw&APw-rfe"},
        {"R&D \"x\\y\"", "\"R&-D \\\"x\\\\y\\\"\""},
        {"台北/日本語", "&U,BTFw-/&ZeVnLIqe-"},
        {"📬 50%", "\"&2D3c7A- 50%\""},
        {"a]", "\"a]\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MailboxArgument(QString::fromUtf8(c.name)), QByteArray(c.argument));
    }
}

TEST(FetchResponse, HeaderAndUidInAnyOrderOthersIgnored) {
    const QByteArray kItem = "BODY[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID)]";
    const struct {
        QByteArray text;
        const char* id; // empty: no header taken
        QByteArray header;
    } cases[] = {
        {"* 1 FETCH (UID 17 " + kItem + " {11}\r\nFrom: a\r\n\r\n)", "17", "From: a\r\n\r\n"},
        {"* 2 FETCH (" + kItem + " {3}\r\n)\r\n UID 018 FLAGS (\\Seen))", "18", ")\r\n"},
        {"* 3 fetch (uid 4 MODSEQ (7) body[header.fields (from)]<0> \"S: x\")", "4", "S: x"},
        {"* 3 FETCH (UID 4 " + kItem + " NIL)", "4", ""},
        {"* 3 FETCH (FLAGS (\\Seen) UID 4)", "", ""},
        {"* 3 FETCH (UID 4 BODY[HEADER.FIELDS.NOT (TO)] {1}\r\nx)", "", ""},
        {"* 3 FETCH (UID 0 " + kItem + " NIL)", "", ""},
        {"* 3 FETCH (UID 4 " + kItem + " NIL", "", ""},
        {"* 3 FETCH (UID 4 ENVELOPE (NIL (\"a\" {1}\r\nb)) " + kItem + " NIL)", "4", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const auto response = ImapResponse::Parse(c.text);
        ASSERT_TRUE(response);
        const auto fetched = ParseFetch(*response);
        EXPECT_EQ(fetched.has_value(), *c.id != '\0');
        if (fetched) {
            EXPECT_EQ(fetched->id, c.id);
            EXPECT_EQ(fetched->header, c.header);
        }
    }
    EXPECT_EQ(HeaderFetchCommand({"12", "9", "7", "8", "3", "4294967295"}),
              "UID FETCH 3,7:9,12,4294967295 "
              "(BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE MESSAGE-ID)])");
}

// A header literal over 64 KiB in a FETCH is cut to 64 KiB, whatever the segments.
TEST(FetchResponse, LongHeaderLiteralIsCutAsItStreams) {
    QByteArray header(200 * 1024, 'h');
    header.replace(10 * 1024, 2, "\r\n");
    const QByteArray bytes = "* 1 FETCH (UID 5 BODY[HEADER.FIELDS (FROM)] {" +
                             QByteArray::number(header.size()) + "}\r\n" + header +
                             ")\r\n* 2 EXISTS\r\n";
    for (const qsizetype piece : {qsizetype(7001), bytes.size()}) {
        SCOPED_TRACE(piece);
        ImapReader reader;
        reader.CutFetchLiterals(true);
        std::vector<QByteArray> responses;
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            reader.Append(bytes.mid(at, piece));
            QByteArray text;
            ImapReader::Status status;
            while ((status = reader.Next(&text)) == ImapReader::Status::Response)
                responses.push_back(text);
            ASSERT_EQ(status, ImapReader::Status::Incomplete);
        }
        ASSERT_EQ(responses.size(), 2u);
        const auto fetched = ParseFetch(*ImapResponse::Parse(responses[0]));
        ASSERT_TRUE(fetched);
        EXPECT_EQ(fetched->header, header.left(kMaxFetchedHeader));
        EXPECT_EQ(responses[1], "* 2 EXISTS");
    }
}

} // namespace
} // namespace postlark
