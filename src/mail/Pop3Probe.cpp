#include "mail/Pop3Probe.h"

#include "platform/RuntimeError.h"
#include "store/AccountRecord.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <charconv>
#include <stdexcept>

namespace postlark {

namespace {

constexpr long kWrongEncryptionString = 20001;

// Dialogue states: what the last command was.
enum : std::int32_t {
    AwaitGreeting = 0,
    AwaitUser = 1,
    AwaitPass = 2,
    AwaitStat = 3,
    AwaitQuit = 6,
};

// A protocol line must never carry a line break taken from stored text.
bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// The count of "+OK count size": from the fifth character up to the next space.
std::int16_t ParseStatCount(const QByteArray& reply) {
    const qsizetype space = reply.indexOf(' ', 4);
    if (reply.size() < 5 || space < 0)
        throw std::runtime_error("malformed STAT reply");
    const QByteArray text = reply.mid(4, space - 4);
    const char* first = text.constData();
    const char* last = first + text.size();
    if (first != last && *first == '+')
        ++first;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last || value < -32768 || value > 32767)
        throw std::runtime_error("bad STAT count");
    return static_cast<std::int16_t>(value);
}

} // namespace

Pop3Probe::Pop3Probe(IPop3Socket& socket, std::string applicationKey)
    : socket_(socket), key_(std::move(applicationKey)) {}

void Pop3Probe::ResetResults(int accountCount) {
    CheckResults.assign(static_cast<size_t>(std::max(accountCount, 0)), ResultNoMail);
    MessageCounts.assign(CheckResults.size(), std::string());
}

std::int16_t& Pop3Probe::ResultSlot() {
    if (CurrentAccount < 0 || static_cast<size_t>(CurrentAccount) >= CheckResults.size())
        throw std::out_of_range("account without a result slot");
    return CheckResults[static_cast<size_t>(CurrentAccount)];
}

void Pop3Probe::Finish(std::int16_t result) {
    socket_.Close();
    if (CurrentAccount >= 0 && static_cast<size_t>(CurrentAccount) < CheckResults.size())
        CheckResults[static_cast<size_t>(CurrentAccount)] = result;
}

void Pop3Probe::OnPop3Reply() {
    const QByteArray reply = socket_.GetData();
    if (reply.isEmpty())
        return;
    try {
        if (reply.at(0) != '+') {
            socket_.Close();
            ResultSlot() = Pop3State == AwaitPass ? ResultBadPassword : ResultFailed;
            return;
        }
        HandlePositiveReply(reply);
    } catch (const RuntimeError& e) {
        Finish(e.Number == kWrongEncryptionString ? ResultBadPassword : ResultFailed);
    } catch (const std::exception&) {
        // Anything the dialogue cannot make sense of fails this account, not the program.
        Finish(ResultFailed);
    }
}

void Pop3Probe::HandlePositiveReply(const QByteArray& reply) {
    switch (Pop3State) {
    case AwaitGreeting: {
        MessageCount = 0;
        Pop3State = AwaitUser;
        const std::string user =
            SettingsStore::GetValue(AccountKey("UserName", CurrentAccount), "");
        if (HasLineBreak(user))
            return Finish(ResultFailed);
        SendCommand("USER", user);
        break;
    }
    case AwaitUser: {
        // The state moves first: deciphering may let a further reply be handled meanwhile.
        Pop3State = AwaitPass;
        const std::string stored =
            SettingsStore::GetValue(AccountKey("Password", CurrentAccount), "");
        const std::string password = PassCryptModule::DecryptText(stored, key_);
        if (HasLineBreak(password))
            return Finish(ResultFailed);
        SendCommand("PASS", password);
        break;
    }
    case AwaitPass:
        Pop3State = AwaitStat;
        SendCommand("STAT", "");
        break;
    case AwaitStat: {
        MessageCount = ParseStatCount(reply);
        ResultSlot() = MessageCount > 0 ? ResultNewMail : ResultNoMail;
        MessageCounts[static_cast<size_t>(CurrentAccount)] = std::to_string(MessageCount);
        SendCommand("QUIT", "");
        Pop3State = AwaitQuit;
        break;
    }
    case AwaitQuit:
        socket_.Close();
        break;
    default:
        break;
    }
}

void Pop3Probe::OnConnectionLost() {
    // Once the count is recorded the verdict stands; before that the account failed.
    if (Pop3State == AwaitQuit)
        socket_.Close();
    else
        Finish(ResultFailed);
}

void Pop3Probe::SendCommand(const std::string& verb, const std::string& argument) {
    QByteArray line(verb.data(), static_cast<qsizetype>(verb.size()));
    if (!argument.empty() || verb == "USER" || verb == "PASS")
        line += ' ' + QByteArray(argument.data(), static_cast<qsizetype>(argument.size()));
    line += "\r\n";
    socket_.SendData(line);
}

} // namespace postlark
