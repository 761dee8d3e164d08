// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/NotificationText.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <climits>

namespace postlark {

namespace {

constexpr int kDetailedLines = 5;

QString Tr(const char* text) {
    return QCoreApplication::translate("NotificationText", text);
}

// A text with a count "%n"; untranslated, its "(s)" reads as English: "1 other", "2 others".
QString Counted(const char* text, int n) {
    QString counted = QCoreApplication::translate("NotificationText", text, nullptr, n);
    if (counted == QString::fromUtf8(text).replace(QLatin1String("%n"), QString::number(n)))
        counted.replace(QLatin1String("(s)"), n == 1 ? QString() : QStringLiteral("s"));
    return counted;
}

bool Names(const AccountMail& account) {
    return !account.news.countOnly && !account.news.messages.empty();
}

QString CountLine(const AccountMail& account) {
    return Tr("%1: %2 new").arg(account.address, QString::number(account.waiting));
}

// "From Alice, Bob and 2 others": the senders newest first, two by name, the others counted
// (the messages not read counting one each).
QString FromLine(const AccountNews& news) {
    QStringList named;
    QStringList others;
    for (const ArrivedMessage& message : news.messages) {
        if (message.sender.isEmpty() || named.contains(message.sender) ||
            others.contains(message.sender))
            continue;
        (named.size() < 2 ? named : others) << message.sender;
    }
    int unnamed = static_cast<int>(others.size()) + news.more;
    for (const ArrivedMessage& message : news.messages)
        unnamed += message.sender.isEmpty() ? 1 : 0;
    if (named.isEmpty())
        return QString();
    if (named.size() == 1)
        return unnamed == 0 ? Tr("From %1").arg(named[0])
                            : Counted("From %1 and %n other(s)", unnamed).arg(named[0]);
    return unnamed == 0 ? Tr("From %1 and %2").arg(named[0], named[1])
                        : Counted("From %1, %2 and %n other(s)", unnamed).arg(named[0], named[1]);
}

QString CountBody(const std::vector<AccountMail>& accounts) {
    long long total = 0;
    for (const AccountMail& account : accounts)
        total += account.waiting;
    const int messages = static_cast<int>(std::min<long long>(total, INT_MAX));
    return Tr("%1 in %2")
        .arg(Counted("%n new message(s)", messages),
             Counted("%n account(s)", static_cast<int>(accounts.size())));
}

QString SummaryBody(const std::vector<AccountMail>& accounts) {
    QStringList lines;
    for (const AccountMail& account : accounts) {
        const QString from = Names(account) ? FromLine(account.news) : QString();
        lines << (from.isEmpty() ? CountLine(account) : Tr("%1: %2").arg(account.address, from));
    }
    return lines.join('\n');
}

QString MessageLine(const AccountMail& account, const ArrivedMessage& message) {
    if (message.sender.isEmpty() || message.subject.isEmpty()) {
        const QString known = message.sender + message.subject;
        return known.isEmpty() ? account.address : known;
    }
    return Tr("%1 \u2014 %2").arg(message.sender, message.subject);
}

QString DetailedBody(const std::vector<AccountMail>& accounts) {
    QStringList lines;
    int shown = 0;
    int notShown = 0;
    for (const AccountMail& account : accounts) {
        if (!Names(account)) {
            lines << CountLine(account);
            continue;
        }
        for (const ArrivedMessage& message : account.news.messages) {
            if (shown < kDetailedLines) {
                lines << MessageLine(account, message);
                ++shown;
            } else {
                ++notShown;
            }
        }
        notShown += account.news.more;
    }
    if (notShown > 0)
        lines << Counted("and %n more", notShown);
    return lines.join('\n');
}

} // namespace

NotifyStyle NotifyStyleFromNumber(long long number) {
    switch (number) {
    case 0:
        return NotifyStyle::Count;
    case 2:
        return NotifyStyle::Detailed;
    default:
        return NotifyStyle::Summary;
    }
}

QString NotificationSummary(NotifyStyle, const std::vector<AccountMail>&) {
    return Tr("New mail");
}

QString NotificationBody(NotifyStyle style, const std::vector<AccountMail>& accounts) {
    switch (style) {
    case NotifyStyle::Count:
        return CountBody(accounts);
    case NotifyStyle::Detailed:
        return DetailedBody(accounts);
    case NotifyStyle::Summary:
        break;
    }
    return SummaryBody(accounts);
}

} // namespace postlark
