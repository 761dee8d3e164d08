// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/HeaderDecoder.h"

#include "ArrivalsTesting.h"

namespace postlark {
namespace {

struct DecodeCase {
    const char* name;
    QByteArray header;
    QString sender;
    QString subject;
};

const QString kLong = QString(2000, u'x');

TEST(HeaderDecoder, DecodesForDisplay) {
    const DecodeCase cases[] = {
        {"utf8 B",
         "From: =?UTF-8?B?SsO8cmdlbg==?= <j@example.org>\r\nSubject: =?utf-8?b?R3LDvMOfZQ?=\r\n",
         "Jürgen", "Grüße"},
        {"latin1 Q", "From: a@example.org\r\nSubject: =?ISO-8859-1?Q?caf=E9_au_lait?=\r\n",
         "a@example.org", "café au lait"},
        {"koi8-r", "Subject: =?KOI8-R?B?8NLJ18XU?=\r\n", "", "Привет"},
        {"adjacent words",
         "Subject: =?UTF-8?Q?Gr=C3?=\r\n =?UTF-8?Q?=BC=C3=9Fe?= =?UTF-8?Q?_x?=\r\n", "", "Grüße x"},
        {"broken words shown as sent",
         "From: =?X-NONE?Q?Bob?= <bob@example.org>\r\nSubject: =?UTF-8?B?!!bad?= now\r\n",
         "bob@example.org", "=?UTF-8?B?!!bad?= now"},
        {"raw utf-8", "From: J\xC3\xBCrgen <j@example.org>\r\nSubject: caf\xC3\xA9\r\n", "Jürgen",
         "café"},
        {"raw windows-1252", "Subject: caf\xE9 \x80 5\r\n", "", "café € 5"},
        {"folded", "Subject: one\r\n two\r\n\t three\r\n", "", "one two three"},
        {"long subject", "Subject: " + kLong.toLatin1() + "\r\n", "", QString(199, u'x') + u'…'},
        {"cut before a surrogate pair",
         "Subject: " + QByteArray(198, 'x') + "\xF0\x9F\x98\x80yy\r\n", "",
         QString(198, u'x') + u'…'},
        {"bidi and controls", "Subject: =?UTF-8?Q?a=E2=80=AEb=01c=0Ad?=\r\n", "", "abc d"},
        {"markup kept", "From: \"<b>Bob</b>\" <b@example.org>\r\nSubject: <b>hi</b>\r\n",
         "<b>Bob</b>", "<b>hi</b>"},
        {"quoted comma", "From: \"Lee, Ann\" <ann@example.org>, x@example.org\r\n", "Lee, Ann", ""},
        {"no from", "Subject: hello\r\n", "", "hello"},
        {"nothing readable", "\x01\x02 no header", "", ""},
    };
    for (const DecodeCase& c : cases) {
        const ArrivedMessage message = DecodeHeader("7", c.header + "\r\n");
        EXPECT_EQ(message.id, "7") << c.name;
        EXPECT_EQ(message.sender, c.sender) << c.name;
        EXPECT_EQ(message.subject, c.subject) << c.name;
    }
}

TEST(HeaderDecoder, ReadsDateAndMessageId) {
    const ArrivedMessage message = DecodeHeader(
        "1", "Date: Tue, 1 Jul 2003 10:52:37 +0200\r\nMessage-ID: <abc@example.org>\r\n\r\n");
    EXPECT_EQ(message.date, QDateTime::fromString("2003-07-01T08:52:37Z", Qt::ISODate));
    EXPECT_EQ(message.messageId, "abc@example.org");
}

} // namespace
} // namespace postlark
