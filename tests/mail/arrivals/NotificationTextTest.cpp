// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/NotificationText.h"

#include "ArrivalsTesting.h"

namespace postlark {
namespace {

AccountNews News(std::vector<const char*> senders, int more = 0) {
    AccountNews news;
    for (const char* sender : senders)
        news.messages.push_back({"1", sender, QString("Re: ") + sender, {}, {}});
    news.more = more;
    return news;
}

struct TextCase {
    const char* name;
    std::vector<AccountMail> accounts;
    const char* count;
    const char* summary;
    const char* detailed;
};

TEST(NotificationText, ThreeStyles) {
    const AccountNews countOnly{{}, 0, true};
    const TextCase cases[] = {
        {"one message",
         {{"a@x.org", 1, News({"Ann"})}},
         "1 new message in 1 account",
         "a@x.org: From Ann",
         "Ann — Re: Ann"},
        {"two named and others",
         {{"a@x.org", 5, News({"Ann", "Bob", "Ann", "Cy"}, 1)}, {"b@x.org", 2, countOnly}},
         "7 new messages in 2 accounts",
         "a@x.org: From Ann, Bob and 2 others\nb@x.org: 2 new",
         "Ann — Re: Ann\nBob — Re: Bob\nAnn — Re: Ann\nCy — Re: Cy\nb@x.org: 2 new\nand 1 more"},
        {"one sender, one other",
         {{"a@x.org", 2, News({"Ann", "Ann"}, 1)}},
         "2 new messages in 1 account",
         "a@x.org: From Ann and 1 other",
         "Ann — Re: Ann\nAnn — Re: Ann\nand 1 more"},
        {"beyond five lines",
         {{"a@x.org", 3, News({"A", "B", "C"})}, {"b@x.org", 4, News({"D", "E", "F", "G"})}},
         "7 new messages in 2 accounts",
         "a@x.org: From A, B and 1 other\nb@x.org: From D, E and 2 others",
         "A — Re: A\nB — Re: B\nC — Re: C\nD — Re: D\nE — Re: E\nand 2 more"},
    };
    for (const TextCase& c : cases) {
        for (const auto style : {NotifyStyle::Count, NotifyStyle::Summary, NotifyStyle::Detailed})
            EXPECT_EQ(NotificationSummary(style, c.accounts), "New mail") << c.name;
        EXPECT_EQ(NotificationBody(NotifyStyle::Count, c.accounts), c.count) << c.name;
        EXPECT_EQ(NotificationBody(NotifyStyle::Summary, c.accounts), c.summary) << c.name;
        EXPECT_EQ(NotificationBody(NotifyStyle::Detailed, c.accounts), c.detailed) << c.name;
    }
    EXPECT_EQ(NotifyStyleFromNumber(2), NotifyStyle::Detailed);
    EXPECT_EQ(NotifyStyleFromNumber(7), NotifyStyle::Summary);
}

} // namespace
} // namespace postlark
