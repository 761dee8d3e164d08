// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the headers of new messages under arbitrary server bytes.
//  - The reader, cutting FETCH literals, gives the same responses whole and in pieces; every
//    header ParseFetch takes is at most 64 KiB and its id a UID in plain decimal; so is every
//    UID a SEARCH lists.
//  - After a scripted log-in, count (UNSEEN 3) and EXAMINE, the check's dialogue with a reader
//    sends only UID SEARCH UNSEEN, one UID FETCH of UIDs the search listed, with BODY.PEEK,
//    and LOGOUT, each one line; the reader is told once, headers at most 64 KiB with ids it
//    asked for, none when only the count is known; the verdict stays "3 new".
#include "FuzzSupport.h"
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/dialogue/IMailSocket.h"
#include "mail/dialogue/NewMessageReader.h"
#include "mail/imap/FetchResponse.h"
#include "mail/imap/ImapProbe.h"
#include "mail/imap/ImapReader.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using postlark::FetchedHeader;

bool IsUid(const QByteArray& id) {
    return !id.isEmpty() && postlark::CanonicalUid(id) == id;
}

bool Has(const std::vector<QByteArray>& list, const QByteArray& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// The responses the reader takes from `bytes` in pieces of `piece` bytes (0: all at once),
// checking what ParseFetch and SearchedUids make of each.
std::vector<QByteArray> ReadAll(const QByteArray& bytes, qsizetype piece) {
    postlark::ImapReader reader;
    reader.CutFetchLiterals(true);
    std::vector<QByteArray> out;
    for (qsizetype at = 0; at<bytes.size(); at += piece> 0 ? piece : bytes.size()) {
        reader.Append(bytes.mid(at, piece > 0 ? piece : -1));
        QByteArray text;
        postlark::ImapReader::Status status;
        while ((status = reader.Next(&text)) == postlark::ImapReader::Status::Response) {
            auto response = postlark::ImapResponse::Parse(text);
            // How much of a long SEARCH was dropped depends on the pieces; its count does not.
            if (response && response->word == "SEARCH") {
                response->droppedSearchItems = reader.DroppedSearchItems();
                const auto count = response->SearchCount();
                out.push_back("SEARCH " + (count ? QByteArray::number(*count) : "?"));
            } else {
                out.push_back(text);
            }
            if (!response)
                continue;
            if (const auto fetched = postlark::ParseFetch(*response)) {
                POSTLARK_FUZZ_CHECK(fetched->header.size() <= 64 * 1024, text.toStdString());
                POSTLARK_FUZZ_CHECK(IsUid(fetched->id), fetched->id.toStdString());
            }
            for (const QByteArray& uid : postlark::SearchedUids(*response))
                POSTLARK_FUZZ_CHECK(IsUid(uid), uid.toStdString());
        }
        if (status == postlark::ImapReader::Status::TooLong) {
            out.push_back("too long");
            break;
        }
    }
    return out;
}

class Socket : public postlark::IMailSocket {
public:
    QByteArray GetData() override { return std::exchange(pending, QByteArray()); }
    void SendData(const QByteArray& data) override {
        POSTLARK_FUZZ_CHECK(open, data.toStdString());
        sent.push_back(data);
    }
    void Close() override { open = false; }

    QByteArray pending;
    bool open = true;
    std::vector<QByteArray> sent;
};

struct Reader : postlark::NewMessageReader {
    bool Wanted() const override { return true; }
    std::vector<QByteArray> ToFetch(std::int16_t, const QByteArray& validity,
                                    const std::vector<QByteArray>& present) override {
        POSTLARK_FUZZ_CHECK(validity == "7", validity.toStdString());
        for (const QByteArray& uid : present)
            POSTLARK_FUZZ_CHECK(IsUid(uid), uid.toStdString());
        listed = present;
        asked.assign(present.rbegin(), present.rend());
        if (asked.size() > 20)
            asked.resize(20);
        return asked;
    }
    void Fetched(std::int16_t, std::vector<FetchedHeader> headers, bool countOnly) override {
        ++told;
        POSTLARK_FUZZ_CHECK(!countOnly || headers.empty(), "headers with the count only");
        for (const FetchedHeader& header : headers) {
            POSTLARK_FUZZ_CHECK(header.header.size() <= 64 * 1024, "header over 64 KiB");
            POSTLARK_FUZZ_CHECK(Has(asked, header.id), header.id.toStdString());
        }
    }
    std::vector<QByteArray> listed, asked;
    int told = 0;
};

// The lines sent after the prelude's STATUS and EXAMINE: in this order, each at most once.
void CheckSent(const std::vector<QByteArray>& sent, const Reader& reader) {
    std::size_t i = 3; // AUTHENTICATE, STATUS, EXAMINE
    POSTLARK_FUZZ_CHECK(sent.size() >= 4 && sent[3] == "a4 UID SEARCH UNSEEN\r\n", "");
    ++i;
    if (i < sent.size() && sent[i].startsWith("a5 UID FETCH ")) {
        POSTLARK_FUZZ_CHECK(sent[i] == "a5 " + postlark::HeaderFetchCommand(reader.asked) + "\r\n",
                            sent[i].toStdString());
        for (const QByteArray& uid : reader.asked)
            POSTLARK_FUZZ_CHECK(Has(reader.listed, uid), uid.toStdString());
        ++i;
    }
    if (i < sent.size()) {
        POSTLARK_FUZZ_CHECK(sent[i].endsWith(" LOGOUT\r\n"), sent[i].toStdString());
        ++i;
    }
    POSTLARK_FUZZ_CHECK(i == sent.size(), sent.back().toStdString());
    for (const QByteArray& line : sent)
        POSTLARK_FUZZ_CHECK(line.count('\n') == 1 && line.count('\r') == 1, line.toStdString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    const qsizetype piece = 1 + data[0] % 64;
    const std::vector<QByteArray> whole = ReadAll(bytes, 0);
    // A reader refusing an overlong line in pieces may have given the responses before it.
    const bool refused = !whole.empty() && whole.back() == "too long";
    POSTLARK_FUZZ_CHECK(refused || whole == ReadAll(bytes, piece), "pieces read differently");

    static std::string key = postlark::BuildApplicationKey();
    static const std::string password = postlark::PassCryptModule::EncryptText("pw", key);
    Socket socket;
    postlark::CheckVerdicts verdicts;
    verdicts.ResetResults(1);
    Reader reader;
    postlark::ImapProbe probe(socket, key, verdicts);
    probe.SetNewMessageReader(&reader);
    probe.BeginDialogue(false, postlark::StoredCredentials{"u", password});
    socket.pending = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] hi\r\na1 OK\r\n"
                     "* STATUS INBOX (UNSEEN 3)\r\na2 OK\r\n* OK [UIDVALIDITY 7] x\r\na3 OK\r\n";
    probe.OnImapReply();
    for (qsizetype at = 0; at < bytes.size() && socket.open; at += piece) {
        socket.pending += bytes.mid(at, piece);
        probe.OnImapReply();
    }
    probe.OnConnectionLost();
    CheckSent(socket.sent, reader);
    POSTLARK_FUZZ_CHECK(reader.told == 1, std::to_string(reader.told));
    POSTLARK_FUZZ_CHECK(verdicts.CheckResults[0] == 1 && verdicts.MessageCounts[0] == "3", "");
    return 0;
}
