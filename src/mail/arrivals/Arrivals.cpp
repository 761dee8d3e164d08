// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/Arrivals.h"

#include "mail/arrivals/HeaderDecoder.h"

#include <algorithm>
#include <utility>

namespace postlark {

Arrivals::Arrivals(std::function<bool()> wanted, std::function<QString(std::int16_t)> accountKey)
    : wanted_(std::move(wanted)), accountKey_(std::move(accountKey)) {
    flush_.setSingleShot(true);
    flush_.setInterval(1000);
    QObject::connect(&flush_, &QTimer::timeout, [] { ToldState::Flush(); });
}

Arrivals::~Arrivals() {
    ToldState::Flush();
}

bool Arrivals::Wanted() const {
    return wanted_ && wanted_();
}

ToldState& Arrivals::StateOf(const QString& key) {
    auto found = states_.find(key);
    if (found == states_.end())
        found = states_.emplace(key, ToldState(key)).first;
    return found->second;
}

std::vector<QByteArray> Arrivals::ToFetch(std::int16_t account, const QByteArray& uidValidity,
                                          const std::vector<QByteArray>& present) {
    asked_.erase(account);
    const QString key = accountKey_ ? accountKey_(account) : QString();
    if (key.isEmpty())
        return {};
    Asked asked{key, uidValidity, present, StateOf(key).Untold(uidValidity, present), {}};
    const std::size_t fetched = std::min<std::size_t>(asked.untold.size(), kMaxHeaders);
    asked.fetch.assign(asked.untold.rbegin(), asked.untold.rbegin() + fetched);
    const std::vector<QByteArray> fetch = asked.fetch;
    asked_.emplace(account, std::move(asked));
    return fetch;
}

void Arrivals::Fetched(std::int16_t account, std::vector<FetchedHeader> headers, bool countOnly) {
    const auto found = asked_.find(account);
    if (countOnly) {
        // Nothing is marked told: the next notification that can name them will.
        asked_.erase(account);
        AddNews(account, AccountNews{{}, 0, true});
        return;
    }
    if (found == asked_.end())
        return;
    const Asked asked = std::move(found->second);
    asked_.erase(found);
    AccountNews news;
    // In the order asked for (the newest first), whatever order the server answered in.
    for (const QByteArray& id : asked.fetch) {
        const auto header = std::find_if(headers.begin(), headers.end(),
                                         [&](const FetchedHeader& h) { return h.id == id; });
        if (header != headers.end())
            news.messages.push_back(DecodeHeader(id, header->header));
    }
    news.more = static_cast<int>(asked.untold.size() - news.messages.size());
    if (StateOf(asked.key).MarkTold(asked.uidValidity, asked.untold, asked.present))
        flush_.start();
    AddNews(account, std::move(news));
}

void Arrivals::AddNews(std::int16_t account, AccountNews news) {
    if (news.messages.empty() && news.more == 0 && !news.countOnly)
        return; // nothing new
    const auto earlier = news_.find(account);
    if (earlier != news_.end()) {
        // The earlier news is older: it goes after the new messages.
        AccountNews& old = earlier->second;
        news.messages.insert(news.messages.end(), old.messages.begin(), old.messages.end());
        news.more += old.more;
        news.countOnly = news.countOnly || old.countOnly;
    }
    if (news.messages.size() > static_cast<std::size_t>(kMaxHeaders)) {
        news.more += static_cast<int>(news.messages.size()) - kMaxHeaders;
        news.messages.resize(kMaxHeaders);
    }
    news_[account] = std::move(news);
}

bool Arrivals::HasNews(std::int16_t account) const {
    return news_.count(account) > 0;
}

AccountNews Arrivals::TakeNews(std::int16_t account) {
    const auto found = news_.find(account);
    if (found == news_.end())
        return {};
    AccountNews news = std::move(found->second);
    news_.erase(found);
    return news;
}

} // namespace postlark
