// SPDX-License-Identifier: GPL-3.0-or-later
// The header reading after STAT (UIDL, then TOP n 0 for what the reader picks) under arbitrary
// server data. Input: the STAT count (first byte), which listed messages the reader picks
// (second byte, a bit per message; bit 7 adds an id that was never listed), a stretch factor
// (third byte), then the server's bytes, cut into lines as the POP3 dialogue cuts them. A line
// beginning with "*" stands for its rest repeated 64 times the stretch factor, so that headers
// and lines reach the 64 KiB limits.
//  - The commands are UIDL, then "TOP n 0" for each picked and listed id in the reader's order,
//    n being its number in the list, then QUIT once the reader has its answer; nothing after.
//  - The reader is asked at most once, with valid UIDLs only, and answered exactly once.
//  - Each kept header is at most 64 KiB of lines ending in CR LF, and it is the beginning of the
//    TOP answer's lines before the first empty one, each without the dot the server added; it
//    is all of them when they fit.
#include "FuzzSupport.h"
#include "mail/pop3/Pop3HeaderFetch.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace {

using postlark::FetchedHeader;

constexpr qsizetype kMaxLine = 64 * 1024;

struct Reader : postlark::NewMessageReader {
    bool Wanted() const override { return true; }
    std::vector<QByteArray> ToFetch(std::int16_t, const QByteArray&,
                                    const std::vector<QByteArray>& present) override {
        POSTLARK_FUZZ_CHECK(++asked == 1 && answers == 0, "");
        std::vector<QByteArray> ids;
        if (picks & 0x80)
            ids.push_back("never-listed");
        for (std::size_t i = present.size(); i-- > 0;) {
            const QByteArray& id = present[i];
            POSTLARK_FUZZ_CHECK(!id.isEmpty() && id.size() <= 70, id.toStdString());
            POSTLARK_FUZZ_CHECK(!id.contains(' ') && !id.contains('\r'), id.toStdString());
            if (picks & (1u << (i % 7)))
                ids.push_back(id);
        }
        picked = ids;
        return ids;
    }
    void Fetched(std::int16_t, std::vector<FetchedHeader> got, bool countOnly) override {
        POSTLARK_FUZZ_CHECK(++answers == 1, "");
        POSTLARK_FUZZ_CHECK(!countOnly || got.empty(), "");
        headers = std::move(got);
    }

    unsigned picks = 0;
    int asked = 0, answers = 0;
    std::vector<QByteArray> picked;
    std::vector<FetchedHeader> headers;
};

// The header a TOP answer's raw lines should give.
QByteArray ExpectedHeader(const std::vector<QByteArray>& answer) {
    QByteArray header;
    for (const QByteArray& raw : answer) {
        const QByteArray line = raw.startsWith('.') ? raw.mid(1) : raw;
        if (line.isEmpty() || header.size() + line.size() + 2 > 64 * 1024)
            break;
        header += line + "\r\n";
    }
    return header;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const int count = std::max(1, int{data[0]});
    Reader reader;
    reader.picks = data[1];
    const int stretch = data[2];
    QByteArray stream(reinterpret_cast<const char*>(data + 3), static_cast<qsizetype>(size - 3));

    postlark::Pop3HeaderFetch fetch;
    std::vector<QByteArray> sent{fetch.Begin(reader, 0, count)};
    std::map<QByteArray, int> numbers; // UIDL to number, as listed
    bool listing = false;
    std::vector<std::vector<QByteArray>> answers; // raw lines of each TOP answer
    bool inAnswer = false;
    while (fetch.Active()) {
        const qsizetype end = stream.indexOf('\n');
        if (end < 0 || end > kMaxLine) {
            fetch.Abandon(); // the connection ends, or the dialogue's line limit is hit
            break;
        }
        QByteArray line = stream.left(end);
        stream.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('*'))
            line = line.mid(1).repeated(stretch * 64);
        if (line.size() > kMaxLine) {
            fetch.Abandon();
            break;
        }
        const QByteArray& last = sent.back();
        if (last == "UIDL" && line != "." && listing) {
            const QList<QByteArray> parts =
                (line.startsWith('.') ? line.mid(1) : line).simplified().split(' ');
            if (parts.size() == 2) {
                // An id listed twice is read under its lowest number.
                const auto at = numbers.emplace(parts[1], parts[0].toInt()).first;
                at->second = std::min(at->second, parts[0].toInt());
            }
        }
        listing = last == "UIDL" && (listing || line.startsWith('+')) && line != ".";
        if (inAnswer && line != ".")
            answers.back().push_back(line);
        if (last.startsWith("TOP") && !inAnswer && line.startsWith('+')) {
            answers.emplace_back();
            inAnswer = true;
        } else if (line == ".") {
            inAnswer = false;
        }
        const QByteArray next = fetch.Take(line);
        if (!next.isEmpty())
            sent.push_back(next);
    }
    POSTLARK_FUZZ_CHECK(reader.answers == 1 && reader.asked <= 1, "");

    // The commands: UIDL, the TOPs of the picked ids that were listed, QUIT when answered.
    std::vector<QByteArray> tops;
    for (const QByteArray& id : reader.picked) {
        const QByteArray top = "TOP " + QByteArray::number(numbers[id]) + " 0";
        if (numbers[id] > 0 && std::find(tops.begin(), tops.end(), top) == tops.end())
            tops.push_back(top);
    }
    POSTLARK_FUZZ_CHECK(sent.front() == "UIDL", sent.front().toStdString());
    for (std::size_t i = 1; i < sent.size(); ++i) {
        const bool quit = sent[i] == "QUIT";
        POSTLARK_FUZZ_CHECK(quit ? i + 1 == sent.size()
                                 : i - 1 < tops.size() && sent[i] == tops[i - 1],
                            sent[i].toStdString());
    }

    // What the reader got: one header per TOP answer read whole.
    POSTLARK_FUZZ_CHECK(reader.headers.size() <= answers.size(), "");
    for (std::size_t i = 0; i < reader.headers.size(); ++i) {
        const QByteArray& header = reader.headers[i].header;
        POSTLARK_FUZZ_CHECK(header.size() <= 64 * 1024, std::to_string(header.size()));
        POSTLARK_FUZZ_CHECK(header == ExpectedHeader(answers[i]), header.toStdString());
        POSTLARK_FUZZ_CHECK("TOP " + QByteArray::number(numbers[reader.headers[i].id]) + " 0" ==
                                sent[i + 1],
                            reader.headers[i].id.toStdString());
    }
    return 0;
}
