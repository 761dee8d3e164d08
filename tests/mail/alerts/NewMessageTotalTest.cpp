// SPDX-License-Identifier: GPL-3.0-or-later
// The number drawn on the tray icon: the message counts of the accounts with new mail.
#include "mail/alerts/Alerts.h"

#include <gtest/gtest.h>

namespace postlark {
namespace {

TEST(NewMessageTotal, AddsTheCountsOfTheAccountsWithNewMailOnly) {
    // New mail, none, new mail, failed (a stale count), new mail with a count that is no number.
    EXPECT_EQ(NewMessageTotal({1, 0, 1, -2, 1}, {"3", "5", "120", "7", "x"}), 123);
    EXPECT_EQ(NewMessageTotal({0, -1}, {"4", "2"}), 0);
    // Arrays of different lengths (a run ended early) count only what both hold.
    EXPECT_EQ(NewMessageTotal({1, 1, 1}, {"2"}), 2);
    EXPECT_EQ(NewMessageTotal({1, 1}, {"2147483647", "2147483647"}), 2147483647);
}

} // namespace
} // namespace postlark
