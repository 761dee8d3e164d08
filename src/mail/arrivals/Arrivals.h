// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The dialogues' NewMessageReader: picks the messages not told before (ToldState), decodes the
// headers fetched of them (DecodeHeader) and collects per account the news the next desktop
// notification names. Fetching marks every message it was asked about as told, those beyond
// the cap too: they are counted in the news ("and n more") and never named later.
#include "mail/arrivals/AccountNews.h"
#include "mail/arrivals/ToldState.h"
#include "mail/dialogue/NewMessageReader.h"

#include <QString>
#include <QTimer>

#include <functional>
#include <map>

namespace postlark {

class Arrivals final : public NewMessageReader {
public:
    // `wanted`: whether the notification shows more than counts. `accountKey`: the account's
    // identity for ToldState; empty for an account that does not exist (nothing is fetched).
    Arrivals(std::function<bool()> wanted, std::function<QString(std::int16_t)> accountKey);
    // Writes what is left to write of the told state.
    ~Arrivals() override;

    bool Wanted() const override;
    std::vector<QByteArray> ToFetch(std::int16_t account, const QByteArray& uidValidity,
                                    const std::vector<QByteArray>& present) override;
    void Fetched(std::int16_t account, std::vector<FetchedHeader> headers, bool countOnly) override;

    bool HasNews(std::int16_t account) const;
    // Hands over the account's news and forgets it.
    AccountNews TakeNews(std::int16_t account);

private:
    // What ToFetch found, until the headers arrive.
    struct Asked {
        QString key;
        QByteArray uidValidity;
        std::vector<QByteArray> present;
        std::vector<QByteArray> untold;
        std::vector<QByteArray> fetch; // the newest first
    };

    ToldState& StateOf(const QString& key);
    void AddNews(std::int16_t account, AccountNews news);

    std::function<bool()> wanted_;
    std::function<QString(std::int16_t)> accountKey_;
    std::map<QString, ToldState> states_; // by account identity, read once
    std::map<std::int16_t, Asked> asked_;
    std::map<std::int16_t, AccountNews> news_;
    // The told state is written a second after the last change: once per check, however many
    // accounts it read.
    QTimer flush_;
};

} // namespace postlark
