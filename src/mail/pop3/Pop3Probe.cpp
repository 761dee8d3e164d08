// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/Pop3Probe.h"

#include "mail/dialogue/SaslOAuth.h"
#include "platform/base/RuntimeError.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <stdexcept>
#include <utility>

namespace postlark {

namespace {

constexpr long kWrongEncryptionString = 20001;
// The longest reply line taken; a server that sends more without a line end has failed.
constexpr qsizetype kMaxLine = 64 * 1024;

// Dialogue states: what the last command was.
enum : std::int32_t {
    AwaitGreeting = 0,
    AwaitUser = 1,
    AwaitPass = 2,
    AwaitStat = 3,
    AwaitCapa = 4,    // CAPA sent
    ReadCapaList = 5, // its list, up to the line "."
    AwaitQuit = 6,
    AwaitStls = 7,
    AwaitAuth = 8,         // AUTH with a token sent
    ReadHeaders = 9,       // after STAT, UIDL and TOP for the reader (headers_ knows which)
    QuitAfterHeaders = 10, // QUIT after them: whatever comes, the count stands
    AwaitPipeCapa = 11,    // CAPA sent to learn whether the server takes commands at once
    ReadPipeCapaList = 12, // its list
};

// Whether each server, by its server field, announced PIPELINING; asked once per run, and only
// by dialogues that read headers.
std::map<std::string, bool>& PipeliningServers() {
    static std::map<std::string, bool> known;
    return known;
}

// Whether the dialogue is past STAT's count and reading headers, or quitting after them.
bool ReadingHeaders(std::int32_t state) {
    return state == ReadHeaders || state == QuitAfterHeaders;
}

const QString kNoStls =
    QStringLiteral("The server does not offer STLS, so the password would travel unencrypted; "
                   "use pop3s://, or pop3+insecure:// for a server without TLS");
const QString kStlsRefused = QStringLiteral("The server refused to start TLS (STLS)");
const QString kNoUpgrade = QStringLiteral("TLS cannot be started on this connection");
const QString kTokenInClear =
    QStringLiteral("An access token is never sent unencrypted; use pop3s:// or pop3://");
const QString kTokenNotSendable =
    QStringLiteral("The user name or access token holds a control character, which cannot be sent");

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
    // An explicit plus sign is allowed, but only before a digit: "+-5" is no count.
    if (first != last && *first == '+' && last - first > 1 && first[1] >= '0' && first[1] <= '9')
        ++first;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last || value < -32768 || value > 32767)
        throw std::runtime_error("bad STAT count");
    return static_cast<std::int16_t>(value);
}

} // namespace

Pop3Probe::Pop3Probe(IMailSocket& socket, std::string applicationKey, CheckVerdicts& verdicts)
    : socket_(socket), verdicts_(verdicts), key_(std::move(applicationKey)) {}

void Pop3Probe::CloseSocket() {
    pending_.clear(); // whatever follows a verdict is not judged
    socket_.Close();
}

void Pop3Probe::Finish(std::int16_t result, const QString& reason) {
    CloseSocket();
    reason_ = reason;
    verdicts_.Settle(result);
}

void Pop3Probe::BeginDialogue(std::optional<StoredCredentials> credentials, bool startTls,
                              bool tls) {
    startTls_ = startTls;
    tls_ = tls;
    stlsOffered_ = false;
    reason_.clear();
    tokenLogIn_.reset();
    tokenRefused_ = false;
    storedPassword_.clear();
    headers_ = Pop3HeaderFetch(); // a run that was ended leaves a reading unanswered
    pipelined_ = false;
    serverKey_.reset();
    credentials_ = std::move(credentials);
    Pop3State = AwaitGreeting;
    pending_.clear();
}

void Pop3Probe::OnPop3Reply() {
    pending_ += socket_.GetData();
    // Replies may arrive split over several segments, or several in one; each complete line
    // is judged once. Judging may pump events (deciphering the password), so a nested call can
    // take further lines meanwhile: each line is removed before it is judged.
    for (;;) {
        const qsizetype end = pending_.indexOf('\n');
        if (end < 0 ? pending_.size() > kMaxLine : end > kMaxLine) {
            if (ReadingHeaders(Pop3State))
                return AbandonHeaders();
            Finish(ResultFailed);
            return;
        }
        if (end < 0)
            return;
        QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        HandleReply(line);
    }
}

void Pop3Probe::HandleReply(const QByteArray& reply) {
    try {
        if (Pop3State == ReadHeaders) {
            const QByteArray next = headers_.Take(reply);
            if (next.isEmpty()) {
                if (!headers_.Active())
                    Pop3State = QuitAfterHeaders; // QUIT went out with the TOP commands
                return;
            }
            if (!headers_.Active())
                Pop3State = QuitAfterHeaders;
            return SendCommand(std::string_view(next.constData(), next.size()), "");
        }
        if (Pop3State == QuitAfterHeaders)
            return CloseSocket();
        if (Pop3State == ReadCapaList)
            return HandleCapability(reply);
        if (Pop3State == ReadPipeCapaList)
            return HandlePipeCapability(reply);
        if (Pop3State == AwaitPipeCapa && !reply.startsWith('+')) {
            PipeliningServers()[ServerKey()] = false; // no CAPA: one command at a time
            return SendUser();
        }
        if (Pop3State == AwaitAuth)
            return HandleAuthReply(reply);
        if (Pop3State == AwaitCapa && !reply.startsWith('+'))
            return Finish(ResultFailed, kNoStls);
        if (Pop3State == AwaitStls && !reply.startsWith('+'))
            return Finish(ResultFailed, kStlsRefused);
        if (!reply.startsWith('+')) {
            CloseSocket();
            verdicts_.ResultSlot() = Pop3State == AwaitPass ? ResultBadPassword : ResultFailed;
            return;
        }
        HandlePositiveReply(reply);
    } catch (const std::exception& e) {
        // Anything the dialogue cannot make sense of fails this account, not the program; once
        // the count is known, only the headers are given up.
        if (ReadingHeaders(Pop3State))
            return AbandonHeaders();
        const auto* error = dynamic_cast<const RuntimeError*>(&e);
        Finish(error && error->Number == kWrongEncryptionString ? ResultBadPassword : ResultFailed);
    }
}

void Pop3Probe::HandlePositiveReply(const QByteArray& reply) {
    switch (Pop3State) {
    case AwaitGreeting:
        verdicts_.MessageCount = 0;
        if (startTls_) {
            Pop3State = AwaitCapa;
            return SendCommand("CAPA", "");
        }
        if (reader_ && reader_->Wanted() && !PipeliningServers().count(ServerKey())) {
            Pop3State = AwaitPipeCapa;
            return SendCommand("CAPA", "");
        }
        return SendUser();
    case AwaitPipeCapa:
        pipeliningSeen_ = false;
        Pop3State = ReadPipeCapaList;
        break;
    case AwaitCapa:
        Pop3State = ReadCapaList;
        break;
    case AwaitStls:
        // Whatever followed the +OK was sent before TLS, by the server or anyone on the path:
        // it is never judged.
        pending_.clear();
        if (!socket_.StartTls())
            return Finish(ResultFailed, kNoUpgrade);
        return SendUser(); // waits in the socket until the certificate is accepted
    case AwaitUser: {
        // The state moves first: deciphering may let a further reply be handled meanwhile.
        Pop3State = AwaitPass;
        const std::string stored = std::exchange(storedPassword_, std::string());
        const std::string password = PassCryptModule::DecryptText(stored, key_);
        if (HasLineBreak(password))
            return Finish(ResultFailed);
        SendCommand("PASS", password);
        break;
    }
    case AwaitPass: {
        // A server that takes several commands at once gets UIDL with STAT.
        Pop3State = AwaitStat;
        const auto known = PipeliningServers().find(ServerKey());
        pipelined_ =
            reader_ && reader_->Wanted() && known != PipeliningServers().end() && known->second;
        SendCommand(pipelined_ ? "STAT\r\nUIDL" : "STAT", "");
        break;
    }
    case AwaitStat: {
        const std::int16_t count = ParseStatCount(reply);
        verdicts_.RecordCount(count);
        if (reader_ && count > 0 && (pipelined_ || reader_->Wanted())) {
            Pop3State = ReadHeaders;
            const QByteArray first =
                headers_.Begin(*reader_, verdicts_.CurrentAccount, count, pipelined_, pipelined_);
            if (first.isEmpty())
                return; // UIDL went out with STAT
            return SendCommand(std::string_view(first.constData(), first.size()), "");
        }
        SendCommand("QUIT", "");
        // The answer to a UIDL sent with STAT comes first: whatever it is, the count stands.
        Pop3State = pipelined_ ? QuitAfterHeaders : AwaitQuit;
        break;
    }
    case AwaitQuit:
        CloseSocket();
        break;
    default:
        break;
    }
}

// One line of the CAPA list; the list ends with ".". Only a list naming STLS lets the dialogue
// go on.
void Pop3Probe::HandleCapability(const QByteArray& line) {
    if (line != ".") {
        const qsizetype space = line.indexOf(' ');
        stlsOffered_ = stlsOffered_ || (space < 0 ? line : line.left(space)).toUpper() == "STLS";
        return;
    }
    if (!stlsOffered_)
        return Finish(ResultFailed, kNoStls);
    Pop3State = AwaitStls;
    SendCommand("STLS", "");
}

// One line of the CAPA list asked to learn about PIPELINING; the list ends with ".".
void Pop3Probe::HandlePipeCapability(const QByteArray& line) {
    if (line != ".") {
        const qsizetype space = line.indexOf(' ');
        pipeliningSeen_ =
            pipeliningSeen_ || (space < 0 ? line : line.left(space)).toUpper() == "PIPELINING";
        return;
    }
    PipeliningServers()[ServerKey()] = pipeliningSeen_;
    SendUser();
}

std::string Pop3Probe::ServerKey() {
    if (!serverKey_)
        serverKey_ = SettingsStore::GetValue(AccountKey("POP", verdicts_.CurrentAccount), "");
    return *serverKey_;
}

void Pop3Probe::SendUser() {
    Pop3State = AwaitUser;
    // The account's name and enciphered password, as the run read them with the account or
    // from one look at the store; the password is deciphered when the server asks for it.
    StoredCredentials stored = TakeStoredCredentials(credentials_, verdicts_.CurrentAccount);
    if (stored.bearer)
        return SendAuth(stored);
    storedPassword_ = std::move(stored.storedPassword);
    const std::string& user = stored.user;
    if (HasLineBreak(user))
        return Finish(ResultFailed);
    SendCommand("USER", user);
}

// AUTH with the mechanism and its initial response in one line (RFC 5034).
void Pop3Probe::SendAuth(StoredCredentials& stored) {
    BearerToken& bearer = *stored.bearer;
    const QByteArray user = AnsiToQString(stored.user).toUtf8();
    const bool sendable = SaslOAuthSendable(user, bearer);
    QByteArray line = "AUTH " + SaslOAuthMechanism(bearer) + ' ' +
                      (sendable ? SaslOAuthInitialResponse(user, bearer) : QByteArray()) + "\r\n";
    std::fill(bearer.token.begin(), bearer.token.end(), '\0');
    if (!startTls_ && !tls_)
        return Finish(ResultFailed, kTokenInClear);
    if (!sendable)
        return Finish(ResultFailed, kTokenNotSendable);
    Pop3State = AwaitAuth;
    tokenLogIn_ = bearer.oauthBearer;
    socket_.SendData(line);
    line.fill('\0');
}

// The answer to AUTH: +OK signs in; a continuation is the server's error challenge, answered so
// that the server can end the exchange with -ERR, whose reason the user gets.
void Pop3Probe::HandleAuthReply(const QByteArray& reply) {
    if (reply == "+" || reply.startsWith("+ ")) {
        if (!reason_.isEmpty())
            return Finish(ResultFailed, reason_);
        reason_ = SaslOAuthErrorReason(reply.mid(2));
        BearerToken kind;
        kind.oauthBearer = *tokenLogIn_;
        socket_.SendData(SaslOAuthErrorAnswer(kind) + "\r\n");
        return;
    }
    if (reply.startsWith("+OK")) {
        reason_.clear();
        Pop3State = AwaitStat;
        return SendCommand("STAT", "");
    }
    tokenRefused_ = true;
    QString reason = reason_;
    if (reason.isEmpty()) {
        const QByteArray said = reply.mid(5).trimmed().left(200);
        reason =
            said.isEmpty()
                ? QStringLiteral("The server refused the access token")
                : QStringLiteral("The server refused the sign-in: %1").arg(QString::fromUtf8(said));
    }
    Finish(ResultFailed, reason);
}

void Pop3Probe::AbandonHeaders() {
    Pop3State = QuitAfterHeaders;
    CloseSocket();
    headers_.Abandon();
}

void Pop3Probe::OnConnectionLost() {
    // Once the count is recorded the verdict stands; before that the account failed. A silent
    // server given up by the check run ends here too.
    if (ReadingHeaders(Pop3State))
        return AbandonHeaders();
    if (Pop3State == AwaitQuit)
        CloseSocket();
    else
        Finish(ResultFailed);
}

void Pop3Probe::SendCommand(std::string_view verb, const std::string& argument) {
    QByteArray line;
    line.reserve(static_cast<qsizetype>(verb.size() + 1 + argument.size() * 3 + 2));
    line.append(verb.data(), static_cast<qsizetype>(verb.size()));
    if (!argument.empty() || verb == "USER" || verb == "PASS") {
        line += ' ';
        // User name and password are stored as single-byte text; servers today expect UTF-8.
        // ASCII reads the same in both, so only other text goes through the conversion.
        const bool ascii = std::all_of(argument.begin(), argument.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii)
            line.append(argument.data(), static_cast<qsizetype>(argument.size()));
        else
            line += AnsiToQString(argument).toUtf8();
    }
    line += "\r\n";
    socket_.SendData(line);
}

} // namespace postlark
