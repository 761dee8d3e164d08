// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the POP3 dialogue reads after STAT for a NewMessageReader, changing nothing on the
// server: UIDL lists the messages, the reader picks those to fetch, and "TOP n 0" reads each
// one's header. A refusal (a server without UIDL or TOP), a list that cannot be read or a lost
// connection leaves the reader with the count only. Its owner sends the commands it gives and
// hands it every line of the server until it gives QUIT. With a server that announces
// PIPELINING (RFC 2449), the TOP commands and QUIT go out together, so the reading costs one
// round trip instead of one per message.
#include "mail/dialogue/NewMessageReader.h"
#include "mail/pop3/Pop3MultiLine.h"

#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

namespace postlark {

class Pop3HeaderFetch {
public:
    // Starts the reading for `account`, whose STAT counted `count` messages; returns the first
    // command (UIDL), or nothing when `uidlSent` (it went out with STAT). `pipelining`: the
    // server takes several commands at once.
    QByteArray Begin(NewMessageReader& reader, std::int16_t account, int count,
                     bool pipelining = false, bool uidlSent = false);
    // Takes the server's next line, without its CR LF. Returns the next command: "TOP n 0" (or
    // all of them and QUIT, one per line, when pipelining), or "QUIT" once the reader has had
    // what was fetched; empty while an answer goes on, and when the reading ends with QUIT
    // already sent.
    QByteArray Take(const QByteArray& line);
    // The dialogue ends without the reading: the reader gets the count only.
    void Abandon();
    // Whether the reading has begun and the reader has not been answered yet.
    bool Active() const { return reader_ != nullptr; }

private:
    enum class Stage { AwaitUidl, UidlList, AwaitTop, TopAnswer };

    void TakeUidl(const QByteArray& text);
    QByteArray Ask();
    QByteArray NextTop();
    QByteArray End(bool countOnly);

    NewMessageReader* reader_ = nullptr;
    std::int16_t account_ = 0;
    int count_ = 0;
    bool pipelining_ = false;
    bool quitSent_ = false; // with the TOP commands
    bool topRefused_ = false;
    Stage stage_ = Stage::AwaitUidl;
    bool listBroken_ = false;
    std::vector<std::pair<int, QByteArray>> listed_; // message number and UIDL
    std::vector<bool> numbered_;                     // by message number: listed already
    std::vector<std::pair<int, QByteArray>> wanted_; // in the order the reader gave them
    std::size_t next_ = 0;                           // of wanted_, the one TOP reads
    Pop3HeaderReader top_;
    std::vector<FetchedHeader> fetched_;
};

} // namespace postlark
