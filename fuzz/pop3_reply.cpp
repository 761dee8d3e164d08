// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 reply handler, driven through its socket interface by arbitrary chunks of server
// data, canned replies and lost connections, over several stored accounts whose user names and
// stored passwords are arbitrary too.
//  - Only the four commands are ever sent, each as one line ending in CR LF with no other CR
//    or LF: "USER " and the stored user name, "PASS " and the deciphered password, "STAT",
//    "QUIT"; per account in that order, each at most once, and nothing after a close.
//  - Result codes stay within -2..1 and change only for the account being checked; "new mail"
//    needs a STAT and a positive count; "bad password" needs a PASS or an undecipherable
//    stored password.
#include "FuzzSupport.h"
#include "mail/dialogue/IMailSocket.h"
#include "mail/pop3/Pop3Probe.h"
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
    std::string user;
    std::optional<std::string> password; // deciphered; empty when the stored form fails
};

const std::array<const char*, 7> kReplies = {
    "+OK ready\r\n",
    "+OK\r\n",
    "+OK 2 320\r\n",
    "+OK 0 0\r\n",
    "-ERR no\r\n",
    "+OK 40000 1\r\n",
    "+OK 3 12345\r\n+OK bye\r\n",
};

// The lines the probe may send for an account, in order.
std::array<QByteArray, 4> ExpectedLines(const Account& account) {
    const auto line = [](const char* verb, const std::string& argument) {
        // Stored single-byte text goes out as UTF-8.
        return QByteArray(verb) + postlark::AnsiToQString(argument).toUtf8() + "\r\n";
    };
    return {line("USER ", account.user), line("PASS ", account.password.value_or("")),
            QByteArray("STAT\r\n"), QByteArray("QUIT\r\n")};
}

void CheckSentLines(const std::vector<QByteArray>& sent, const Account& account) {
    POSTLARK_FUZZ_CHECK(sent.size() <= 4, std::to_string(sent.size()));
    const auto expected = ExpectedLines(account);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const QByteArray& line = sent[i];
        POSTLARK_FUZZ_CHECK(line.endsWith("\r\n"), line.toStdString());
        POSTLARK_FUZZ_CHECK(line.count('\r') == 1 && line.count('\n') == 1, line.toStdString());
        POSTLARK_FUZZ_CHECK(line == expected[i], line.toStdString());
        if (i == 1)
            POSTLARK_FUZZ_CHECK(account.password.has_value(), line.toStdString());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    postlark::fuzz::ScratchConfigHome();
    static const std::string applicationKey = postlark::BuildApplicationKey();
    FuzzedDataProvider input(data, size);

    // Accounts: arbitrary user names; passwords enciphered properly or arbitrary stored forms.
    const int count = input.ConsumeIntegralInRange(1, 4);
    std::vector<Account> accounts;
    std::vector<SettingsStore::Change> changes;
    for (int i = 0; i < count; ++i) {
        Account account;
        account.user = input.ConsumeRandomLengthString(24);
        std::string stored = input.ConsumeRandomLengthString(24);
        std::string key = applicationKey;
        if (input.ConsumeBool())
            stored = postlark::PassCryptModule::EncryptText(stored, key);
        try {
            account.password = postlark::PassCryptModule::DecryptText(stored, key);
        } catch (const postlark::RuntimeError&) {
        }
        changes.push_back(
            SettingsStore::Change::Set(postlark::AccountKey("UserName", i), account.user));
        changes.push_back(SettingsStore::Change::Set(postlark::AccountKey("Password", i), stored));
        accounts.push_back(account);
    }
    SettingsStore::Apply(changes);

    ScriptedSocket socket;
    postlark::CheckVerdicts verdicts;
    postlark::Pop3Probe probe(socket, applicationKey, verdicts);
    verdicts.ResetResults(count);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        // What the check run does for each account: fresh connection, state 0.
        verdicts.CurrentAccount = static_cast<std::int16_t>(i);
        socket.Close();
        socket.open = true;
        socket.sent.clear();
        socket.pending.clear();
        probe.BeginDialogue();
        const auto othersBefore = verdicts.CheckResults;

        while (socket.open && input.remaining_bytes() > 0) {
            const int event = input.ConsumeIntegralInRange(0, 9);
            if (event <= 5) {
                socket.pending += QByteArray::fromStdString(input.ConsumeRandomLengthString(96));
                probe.OnPop3Reply();
            } else if (event <= 7) {
                const auto which =
                    input.ConsumeIntegralInRange<std::size_t>(0, kReplies.size() - 1);
                socket.pending += kReplies[which];
                probe.OnPop3Reply();
            } else if (event == 8) {
                probe.OnConnectionLost();
                socket.open = false;
            } else {
                break; // skipped by the user
            }
            CheckSentLines(socket.sent, accounts[static_cast<std::size_t>(i)]);
        }

        POSTLARK_FUZZ_CHECK(verdicts.CheckResults.size() == static_cast<std::size_t>(count), "");
        POSTLARK_FUZZ_CHECK(verdicts.MessageCounts.size() == static_cast<std::size_t>(count), "");
        for (int j = 0; j < count; ++j) {
            const auto result = verdicts.CheckResults[static_cast<std::size_t>(j)];
            POSTLARK_FUZZ_CHECK(result >= -2 && result <= 1, std::to_string(result));
            if (j != i)
                POSTLARK_FUZZ_CHECK(result == othersBefore[static_cast<std::size_t>(j)], "");
        }
        const auto result = verdicts.CheckResults[static_cast<std::size_t>(i)];
        const std::string& counted = verdicts.MessageCounts[static_cast<std::size_t>(i)];
        if (result == postlark::ResultNewMail) {
            POSTLARK_FUZZ_CHECK(socket.sent.size() >= 3, counted);
            POSTLARK_FUZZ_CHECK(!counted.empty() && std::stol(counted) > 0, counted);
        }
        if (result == postlark::ResultBadPassword)
            POSTLARK_FUZZ_CHECK(
                socket.sent.size() >= 2 || !accounts[static_cast<std::size_t>(i)].password, "");
    }
    return 0;
}
