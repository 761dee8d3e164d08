// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/Arrivals.h"

#include "ArrivalsTesting.h"

namespace postlark {
namespace {

using Ids = std::vector<QByteArray>;
using ArrivalsTest = test::StateHome;

Arrivals Reader() {
    return Arrivals([] { return true; },
                    [](std::int16_t account) {
                        return account == 0 ? QString("a@example.org\nann\nimaps://example.org")
                                            : QString();
                    });
}

std::vector<FetchedHeader> Headers(const Ids& ids) {
    std::vector<FetchedHeader> headers;
    for (const QByteArray& id : ids)
        headers.push_back({id, "From: Sender " + id + " <s@example.org>\r\n\r\n"});
    return headers;
}

TEST_F(ArrivalsTest, FetchesTheNewestTwentyAndCountsTheRest) {
    Ids present;
    for (int uid = 1; uid <= 25; ++uid)
        present.push_back(QByteArray::number(uid));
    Arrivals arrivals = Reader();
    const Ids fetch = arrivals.ToFetch(0, "9", present);
    ASSERT_EQ(fetch.size(), 20u);
    EXPECT_EQ(fetch.front(), "25");
    EXPECT_EQ(fetch.back(), "6");
    Ids answered(fetch.rbegin(), fetch.rend()); // the server's order, oldest first
    arrivals.Fetched(0, Headers(answered), false);
    AccountNews news = arrivals.TakeNews(0);
    ASSERT_EQ(news.messages.size(), 20u);
    EXPECT_EQ(news.messages.front().sender, "Sender 25");
    EXPECT_EQ(news.more, 5);
    EXPECT_FALSE(arrivals.HasNews(0));

    // The five beyond the cap are not told again, after a restart neither; the new one is.
    present.push_back("26");
    Arrivals restarted = Reader();
    EXPECT_EQ(restarted.ToFetch(0, "9", present), (Ids{"26"}));
    EXPECT_TRUE(restarted.ToFetch(1, "9", present).empty()); // no such account
}

TEST_F(ArrivalsTest, CountOnlyTellsNothingAndNewsAddsUp) {
    Arrivals arrivals = Reader();
    EXPECT_EQ(arrivals.ToFetch(0, "", {"u1", "u2"}), (Ids{"u2", "u1"}));
    arrivals.Fetched(0, {}, true);
    EXPECT_TRUE(arrivals.TakeNews(0).countOnly);
    EXPECT_EQ(arrivals.ToFetch(0, "", {"u1", "u2"}), (Ids{"u2", "u1"}));
    arrivals.Fetched(0, Headers({"u2", "u1"}), false);
    arrivals.ToFetch(0, "", {"u1", "u2", "u3"});
    arrivals.Fetched(0, Headers({"u3"}), false);
    const AccountNews news = arrivals.TakeNews(0);
    ASSERT_EQ(news.messages.size(), 3u);
    EXPECT_EQ(news.messages[0].id, "u3");
    EXPECT_EQ(news.messages[2].id, "u1");
    EXPECT_FALSE(news.countOnly);
}

} // namespace
} // namespace postlark
