// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP response handler, driven through its socket interface by arbitrary chunks of server
// data, canned responses and lost connections, over several stored accounts whose user names
// and stored passwords are arbitrary too.
//  - Only the expected commands are sent, in order, each ending in one CR LF and holding no
//    other CR or LF: CAPABILITY (at most once), STARTTLS where offered (then nothing more: this
//    connection cannot be upgraded), one log-in (AUTHENTICATE PLAIN with the
//    base64 of the stored user name and deciphered password in UTF-8, with or without an
//    initial response, or LOGIN whose two strings read back as those), STATUS INBOX (UNSEEN),
//    LOGOUT; tags a1, a2, ... one per command; nothing after a close.
//  - Result codes stay within -2..1 and change only for the account being checked; "new mail"
//    needs a STATUS and a positive count of at most 4294967295; "bad password" needs a log-in or
//    an undecipherable stored password.
// Besides, the response reader on the raw input, whole and in pieces of any size:
//  - the same responses come out either way, a SEARCH with the same count, however much of it
//    was counted and dropped while it streamed; nothing kept exceeds the reader's limits;
//  - a status response or continuation request ends at its first line: "{n}" at its end is
//    text, never a literal.
#include "FuzzSupport.h"
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/dialogue/IMailSocket.h"
#include "mail/imap/ImapProbe.h"
#include "mail/imap/ImapReader.h"
#include "mail/imap/ImapResponse.h"
#include "platform/base/RuntimeError.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <array>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <vector>

namespace {

using postlark::SettingsStore;

class ScriptedSocket : public postlark::IMailSocket {
public:
    QByteArray GetData() override { return std::exchange(pending, QByteArray()); }
    void SendData(const QByteArray& data) override {
        POSTLARK_FUZZ_CHECK(open, data.toStdString());
        sent.push_back(data);
    }
    void Close() override { open = false; }

    QByteArray pending;
    bool open = false;
    std::vector<QByteArray> sent;
};

struct Account {
    QByteArray user;                    // as sent: UTF-8
    std::optional<QByteArray> password; // deciphered, UTF-8; empty when the stored form fails
};

const std::array<const char*, 16> kResponses = {
    "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n",
    "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n",
    "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n",
    "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN] ready\r\n",
    "* OK ready\r\n",
    "* PREAUTH hello\r\n",
    "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n",
    "+ \r\n",
    "a1 OK done\r\n",
    "a2 OK done\r\n",
    "a3 OK done\r\n",
    "a2 NO [AUTHENTICATIONFAILED] no\r\n",
    "* STATUS INBOX (UNSEEN 3)\r\n",
    "* STATUS {5}\r\nINBOX (MESSAGES 2 UNSEEN 0)\r\n",
    "* 4 EXISTS\r\n* BYE bye\r\n",
    "a4 OK done\r\n",
};

// One IMAP string (quoted, with its escapes, or a literal) read at `at` of what was sent.
struct StringRead {
    enum { Read, Waiting, Bad } outcome; // Waiting: a literal announced, its bytes not yet sent
    QByteArray value;
};
StringRead ReadString(const QByteArray& text, qsizetype& at) {
    QByteArray value;
    if (at < text.size() && text[at] == '"') {
        for (++at; at < text.size(); ++at) {
            char c = text[at];
            if (c == '"') {
                ++at;
                return {StringRead::Read, value};
            }
            if (c == '\\' && ++at < text.size())
                c = text[at];
            value += c;
        }
        return {StringRead::Bad, {}};
    }
    const qsizetype close = text.indexOf("}\r\n", at);
    if (at >= text.size() || text[at] != '{' || close < 0)
        return {StringRead::Bad, {}};
    bool ok = false;
    const qsizetype length = text.mid(at + 1, close - at - 1).toLongLong(&ok);
    if (!ok || length < 0)
        return {StringRead::Bad, {}};
    if (close + 3 == text.size())
        return {StringRead::Waiting, {}};
    if (close + 3 + length > text.size())
        return {StringRead::Bad, {}};
    at = close + 3 + length;
    return {StringRead::Read, text.mid(close + 3, length)};
}

// The lines a LOGIN command took from `first` on: its strings must read back as the user name
// and password, and it must end at a line's end. Returns the index after its last line.
std::size_t CheckLogin(const std::vector<QByteArray>& sent, std::size_t first,
                       const QByteArray& prefix, const Account& account) {
    QByteArray rest;
    for (std::size_t k = first; k < sent.size(); ++k)
        rest += sent[k];
    qsizetype at = prefix.size() + 6; // after "LOGIN "
    const StringRead user = ReadString(rest, at);
    POSTLARK_FUZZ_CHECK(user.outcome != StringRead::Bad, rest.toStdString());
    if (user.outcome == StringRead::Waiting)
        return sent.size();
    POSTLARK_FUZZ_CHECK(user.value == account.user, rest.toStdString());
    POSTLARK_FUZZ_CHECK(at < rest.size() && rest[at] == ' ', rest.toStdString());
    ++at;
    const StringRead password = ReadString(rest, at);
    POSTLARK_FUZZ_CHECK(password.outcome != StringRead::Bad, "LOGIN password");
    if (password.outcome == StringRead::Waiting)
        return sent.size();
    POSTLARK_FUZZ_CHECK(password.value == *account.password, "LOGIN password");
    POSTLARK_FUZZ_CHECK(rest.mid(at, 2) == "\r\n", "LOGIN end");
    at += 2;
    std::size_t k = first;
    qsizetype consumed = 0;
    while (consumed < at)
        consumed += sent[k++].size();
    POSTLARK_FUZZ_CHECK(consumed == at, "LOGIN ends inside a line");
    return k;
}

// Walks the lines sent so far against the only dialogue allowed.
void CheckSentLines(const std::vector<QByteArray>& sent, const Account& account) {
    for (const QByteArray& line : sent) {
        POSTLARK_FUZZ_CHECK(line.endsWith("\r\n"), line.toStdString());
        POSTLARK_FUZZ_CHECK(line.count('\r') == 1 && line.count('\n') == 1, line.toStdString());
    }
    std::size_t i = 0;
    int tag = 1;
    const auto tagged = [&](const QByteArray& command) {
        return "a" + QByteArray::number(tag) + ' ' + command + "\r\n";
    };
    const auto next = [&] { return i < sent.size() ? sent[i] : QByteArray(); };
    if (next() == tagged("CAPABILITY"))
        ++i, ++tag;
    // This connection cannot be upgraded: nothing follows a STARTTLS.
    if (next() == tagged("STARTTLS")) {
        POSTLARK_FUZZ_CHECK(i + 1 == sent.size(), "a command after STARTTLS");
        return;
    }
    const QByteArray prefix = "a" + QByteArray::number(tag) + ' ';
    if (next().startsWith(prefix + "AUTHENTICATE") || next().startsWith(prefix + "LOGIN")) {
        POSTLARK_FUZZ_CHECK(account.password.has_value(), "log-in without a password");
        const QByteArray plain =
            (QByteArray(1, '\0') + account.user + QByteArray(1, '\0') + *account.password)
                .toBase64();
        if (next() == tagged("AUTHENTICATE PLAIN")) {
            ++i;
            if (i < sent.size())
                POSTLARK_FUZZ_CHECK(sent[i++] == plain + "\r\n", "PLAIN response");
        } else if (next().startsWith(prefix + "AUTHENTICATE")) {
            POSTLARK_FUZZ_CHECK(sent[i++] == tagged("AUTHENTICATE PLAIN " + plain), "SASL-IR");
        } else {
            POSTLARK_FUZZ_CHECK(next().startsWith(prefix + "LOGIN "), next().toStdString());
            i = CheckLogin(sent, i, prefix, account);
        }
        ++tag;
    }
    if (next() == tagged("STATUS INBOX (UNSEEN)"))
        ++i, ++tag;
    if (next() == tagged("LOGOUT"))
        ++i;
    POSTLARK_FUZZ_CHECK(i == sent.size(), next().toStdString());
}

bool Sent(const std::vector<QByteArray>& sent, const char* command) {
    for (const QByteArray& line : sent) {
        if (line.contains(command))
            return true;
    }
    return false;
}

} // namespace

// What the reader makes of `bytes` fed in pieces of `piece` bytes (0: all at once): each
// response as the text a check compares, a SEARCH by its count.
std::vector<QByteArray> ReadAll(const QByteArray& bytes, qsizetype piece) {
    using postlark::ImapReader;
    ImapReader reader;
    std::vector<QByteArray> out;
    for (qsizetype at = 0; at<bytes.size(); at += piece> 0 ? piece : bytes.size()) {
        reader.Append(bytes.mid(at, piece > 0 ? piece : -1));
        QByteArray text;
        ImapReader::Status status;
        while ((status = reader.Next(&text)) == ImapReader::Status::Response) {
            POSTLARK_FUZZ_CHECK(text.size() <= ImapReader::kMaxResponse, "");
            auto response = postlark::ImapResponse::Parse(text);
            if (response && response->word == "SEARCH" &&
                response->kind == postlark::ImapResponse::Kind::Untagged) {
                response->droppedSearchItems = reader.DroppedSearchItems();
                const auto count = response->SearchCount();
                out.push_back("SEARCH " + (count ? QByteArray::number(*count) : "?"));
                continue;
            }
            const bool status = text.startsWith('+') ||
                                (response && (response->word == "OK" || response->word == "NO" ||
                                              response->word == "BAD" || response->word == "BYE" ||
                                              response->word == "PREAUTH"));
            POSTLARK_FUZZ_CHECK(!status || !text.contains('\n'), text.toStdString());
            out.push_back(text);
        }
        if (status == ImapReader::Status::TooLong) {
            out.push_back("too long");
            break;
        }
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    postlark::fuzz::ScratchConfigHome();
    if (size > 0) {
        const QByteArray bytes(reinterpret_cast<const char*>(data + 1),
                               static_cast<qsizetype>(size - 1));
        const std::vector<QByteArray> whole = ReadAll(bytes, 0);
        const std::vector<QByteArray> pieces = ReadAll(bytes, 1 + data[0] % 64);
        // A reader refusing an overlong line in pieces may have given the responses before it.
        const bool refused = !whole.empty() && whole.back() == "too long";
        POSTLARK_FUZZ_CHECK(refused || whole == pieces, "");
    }
    static const std::string applicationKey = postlark::BuildApplicationKey();
    FuzzedDataProvider input(data, size);

    // Accounts: arbitrary user names; passwords enciphered properly or arbitrary stored forms.
    const int count = input.ConsumeIntegralInRange(1, 4);
    std::vector<Account> accounts;
    std::vector<SettingsStore::Change> changes;
    for (int i = 0; i < count; ++i) {
        Account account;
        const std::string user = input.ConsumeRandomLengthString(24);
        account.user = postlark::AnsiToQString(user).toUtf8();
        std::string stored = input.ConsumeRandomLengthString(24);
        std::string key = applicationKey;
        if (input.ConsumeBool())
            stored = postlark::PassCryptModule::EncryptText(stored, key);
        try {
            account.password =
                postlark::AnsiToQString(postlark::PassCryptModule::DecryptText(stored, key))
                    .toUtf8();
        } catch (const postlark::RuntimeError&) {
        }
        changes.push_back(SettingsStore::Change::Set(postlark::AccountKey("UserName", i), user));
        changes.push_back(SettingsStore::Change::Set(postlark::AccountKey("Password", i), stored));
        accounts.push_back(account);
    }
    SettingsStore::Apply(changes);

    ScriptedSocket socket;
    postlark::CheckVerdicts results;
    postlark::ImapProbe probe(socket, applicationKey, results);
    results.ResetResults(count);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        // What the check run does for each account: fresh connection, awaiting the greeting.
        results.CurrentAccount = static_cast<std::int16_t>(i);
        socket.Close();
        socket.open = true;
        socket.sent.clear();
        socket.pending.clear();
        probe.BeginDialogue(input.ConsumeBool());
        const auto othersBefore = results.CheckResults;
        const Account& account = accounts[static_cast<std::size_t>(i)];

        while (socket.open && input.remaining_bytes() > 0) {
            const int event = input.ConsumeIntegralInRange(0, 9);
            if (event <= 4) {
                socket.pending += QByteArray::fromStdString(input.ConsumeRandomLengthString(96));
                probe.OnImapReply();
            } else if (event <= 7) {
                const auto which =
                    input.ConsumeIntegralInRange<std::size_t>(0, kResponses.size() - 1);
                socket.pending += kResponses[which];
                probe.OnImapReply();
            } else if (event == 8) {
                probe.OnConnectionLost();
                socket.open = false;
            } else {
                break; // skipped by the user
            }
            CheckSentLines(socket.sent, account);
        }

        POSTLARK_FUZZ_CHECK(results.CheckResults.size() == static_cast<std::size_t>(count), "");
        POSTLARK_FUZZ_CHECK(results.MessageCounts.size() == static_cast<std::size_t>(count), "");
        for (int j = 0; j < count; ++j) {
            const auto result = results.CheckResults[static_cast<std::size_t>(j)];
            POSTLARK_FUZZ_CHECK(result >= -2 && result <= 1, std::to_string(result));
            if (j != i)
                POSTLARK_FUZZ_CHECK(result == othersBefore[static_cast<std::size_t>(j)], "");
        }
        const auto result = results.CheckResults[static_cast<std::size_t>(i)];
        const std::string& counted = results.MessageCounts[static_cast<std::size_t>(i)];
        if (result == postlark::ResultNewMail) {
            POSTLARK_FUZZ_CHECK(Sent(socket.sent, " STATUS INBOX (UNSEEN)\r\n"), counted);
            POSTLARK_FUZZ_CHECK(!counted.empty() && std::stol(counted) > 0, counted);
            POSTLARK_FUZZ_CHECK(std::stoll(counted) <= 4294967295, counted);
        }
        if (result == postlark::ResultBadPassword)
            POSTLARK_FUZZ_CHECK(Sent(socket.sent, " LOGIN ") ||
                                    Sent(socket.sent, " AUTHENTICATE PLAIN") || !account.password,
                                "");
    }
    return 0;
}
