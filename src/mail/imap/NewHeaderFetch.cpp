// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/NewHeaderFetch.h"

#include "mail/imap/FetchResponse.h"
#include "mail/imap/ImapResponse.h"
#include "mail/imap/ImapSession.h"

#include <algorithm>
#include <utility>

namespace postlark {

namespace {

bool Contains(const std::vector<QByteArray>& list, const QByteArray& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

void NewHeaderFetch::Begin(NewMessageReader& reader, std::int16_t account, QByteArray uidValidity) {
    reader_ = &reader;
    account_ = account;
    uidValidity_ = std::move(uidValidity);
    uids_.clear();
    headers_.clear();
    step_ = Step::Search;
    session_.SendCommand("UID SEARCH UNSEEN");
}

bool NewHeaderFetch::Untagged(const ImapResponse& response) {
    if (step_ == Step::Search && response.word == "SEARCH") {
        for (QByteArray& uid : SearchedUids(response))
            uids_.push_back(std::move(uid));
        return true;
    }
    if (step_ != Step::Fetch)
        return false;
    std::optional<FetchedHeader> fetched = ParseFetch(response);
    if (!fetched)
        return false; // a flag change or the like: the owner's
    const bool twice = std::any_of(headers_.begin(), headers_.end(),
                                   [&](const FetchedHeader& h) { return h.id == fetched->id; });
    if (Contains(uids_, fetched->id) && !twice)
        headers_.push_back(std::move(*fetched));
    return true;
}

bool NewHeaderFetch::Tagged(const ImapResponse& response) {
    const bool ok = response.word == "OK";
    if (step_ == Step::Search && ok) {
        std::vector<QByteArray> asked;
        for (const QByteArray& id : reader_->ToFetch(account_, uidValidity_, uids_)) {
            // Only UIDs the search listed go on the wire, each once, no more than the reader
            // may ask for.
            const QByteArray uid = CanonicalUid(id);
            if (Contains(uids_, uid) && !Contains(asked, uid) &&
                asked.size() < std::size_t(NewMessageReader::kMaxHeaders))
                asked.push_back(uid);
        }
        if (asked.empty()) {
            Finish({}, false);
            return true;
        }
        uids_ = std::move(asked);
        step_ = Step::Fetch;
        session_.CutFetchLiterals(true);
        session_.SendCommand(HeaderFetchCommand(uids_));
        return false;
    }
    session_.CutFetchLiterals(false);
    if (ok)
        Finish(std::move(headers_), false);
    else
        Finish({}, true);
    return true;
}

void NewHeaderFetch::Abandon() {
    if (Active())
        Finish({}, true);
}

void NewHeaderFetch::Finish(std::vector<FetchedHeader> headers, bool countOnly) {
    step_ = Step::Idle;
    uids_.clear();
    headers_.clear();
    reader_->Fetched(account_, std::move(headers), countOnly);
}

} // namespace postlark
