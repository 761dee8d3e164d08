// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts of the new-mail desktop notification, in the style the setting AlertNotifyStyle
// chooses. All of them are here, translatable in the context "NotificationText"; without a
// translation they read in English as below. Markup is left as it is: the notification escapes
// it where the notification server reads markup.
#include "mail/arrivals/AccountNews.h"

#include <QString>

#include <vector>

namespace postlark {

enum class NotifyStyle {
    Count = 0,    // "3 new messages in 2 accounts"
    Summary = 1,  // "alice@example.org: From Alice, Bob and 2 others", one line per account
    Detailed = 2, // "Alice — Lunch?" for up to 5 messages, then "and n more"
};

// The stored number's style; a number out of range is the default, Summary.
NotifyStyle NotifyStyleFromNumber(long long number);

// One account with mail waiting, in list order.
struct AccountMail {
    QString address;
    int waiting = 0; // the count on its row
    AccountNews news;
};

QString NotificationSummary(NotifyStyle style, const std::vector<AccountMail>& accounts);
QString NotificationBody(NotifyStyle style, const std::vector<AccountMail>& accounts);

} // namespace postlark
