// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/ImapProbe.h"

#include "mail/ImapLogin.h"
#include "mail/ImapResponse.h"
#include "mail/Pop3Probe.h"
#include "platform/base/RuntimeError.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"

#include <stdexcept>

namespace postlark {

namespace {

constexpr long kWrongEncryptionString = 20001;

// Dialogue states: what the probe waits for.
enum : std::int32_t {
    AwaitGreeting = 0,
    AwaitCapability = 1,
    AwaitContinuation = 2, // a log-in piece waits for the server's "+"
    AwaitLogin = 3,
    AwaitStatus = 4,
    AwaitLogout = 6,
    Closed = 9, // the probe closed the connection; nothing more is judged
};

const QString kNotImap = QStringLiteral("The server did not answer as an IMAP server does");
const QString kRefusedAtGreeting = QStringLiteral("The server refused the connection (BYE)");
const QString kBye = QStringLiteral("The server ended the dialogue early (BYE)");
const QString kBad = QStringLiteral("The server refused a command as malformed (BAD)");
const QString kTooLong = QStringLiteral("The server sent a line or literal longer than 64 KiB");
const QString kCount = QStringLiteral("The server's count of unseen messages could not be read");
const QString kNoInbox = QStringLiteral("The server did not report the INBOX");
const QString kLineBreak =
    QStringLiteral("The user name or password holds a line break, which cannot be sent");

// What stored text becomes on the wire: UTF-8.
QByteArray Utf8(const std::string& stored) {
    return AnsiToQString(stored).toUtf8();
}

// CR and LF would end a command early; NUL cannot travel in any IMAP string.
bool Sendable(const QByteArray& text) {
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

} // namespace

ImapProbe::ImapProbe(IPop3Socket& socket, std::string applicationKey, Pop3Probe& results)
    : socket_(socket), key_(std::move(applicationKey)), results_(results) {}

void ImapProbe::BeginDialogue(bool tls, std::optional<StoredCredentials> credentials) {
    credentials_ = std::move(credentials);
    ImapState = AwaitGreeting;
    tls_ = tls;
    reader_.Clear();
    tagNumber_ = 0;
    tag_.clear();
    capabilities_.clear();
    ForgetCredentials();
    unseen_ = -1;
    reason_.clear();
}

void ImapProbe::OnImapReply() {
    if (ImapState == Closed)
        return;
    reader_.Append(socket_.GetData());
    // Judging may pump events (deciphering the password), so a nested call can take further
    // responses meanwhile: each is taken off the reader before it is judged.
    while (ImapState != Closed) {
        QByteArray text;
        const ImapReader::Status status = reader_.Next(&text);
        if (status == ImapReader::Status::Incomplete)
            return;
        if (status == ImapReader::Status::TooLong)
            return Fail(kTooLong);
        HandleResponse(text);
    }
}

void ImapProbe::OnConnectionLost() {
    // Once the count is recorded the verdict stands; before that the account failed.
    if (ImapState == AwaitLogout || ImapState == Closed)
        CloseSocket();
    else
        Finish(ResultFailed);
}

void ImapProbe::HandleResponse(const QByteArray& text) {
    try {
        const std::optional<ImapResponse> response = ImapResponse::Parse(text);
        if (!response)
            return Fail(kNotImap);
        switch (response->kind) {
        case ImapResponse::Kind::Untagged:
            return HandleUntagged(*response);
        case ImapResponse::Kind::Tagged:
            return HandleTagged(*response);
        case ImapResponse::Kind::Continuation:
            return HandleContinuation();
        }
    } catch (const RuntimeError& e) {
        if (e.Number == kWrongEncryptionString)
            return Finish(ResultBadPassword);
        Fail(kNotImap);
    } catch (const std::exception&) {
        // Anything the dialogue cannot make sense of fails this account, not the program.
        Fail(kNotImap);
    }
}

void ImapProbe::HandleUntagged(const ImapResponse& response) {
    const QByteArray& word = response.word;
    if (ImapState == AwaitGreeting) {
        if (word == "OK")
            return AfterGreeting(response);
        if (word == "PREAUTH")
            return AskStatus();
        return Fail(word == "BYE" ? kRefusedAtGreeting : kNotImap);
    }
    if (word == "BYE") {
        if (ImapState != AwaitLogout)
            Fail(kBye);
        return;
    }
    if (word == "BAD")
        return Fail(kBad);
    if (word == "CAPABILITY") {
        capabilities_ = response.Capabilities().value_or(QList<QByteArray>());
        return;
    }
    if (word == "STATUS" && ImapState == AwaitStatus) {
        const auto unseen = response.InboxUnseen();
        if (!unseen || (unseen->inbox && !unseen->count))
            return Fail(kCount);
        if (unseen->inbox)
            unseen_ = *unseen->count;
    }
    // Everything else the server volunteers (EXISTS, RECENT, FLAGS, OK [ALERT] ...) is ignored.
}

void ImapProbe::AfterGreeting(const ImapResponse& greeting) {
    if (const auto announced = greeting.Capabilities()) {
        capabilities_ = *announced;
        return LogIn();
    }
    ImapState = AwaitCapability;
    SendCommand("CAPABILITY");
}

void ImapProbe::HandleTagged(const ImapResponse& response) {
    if (response.tag != tag_)
        return Fail(kNotImap);
    const QByteArray& word = response.word;
    if (word != "OK" && word != "NO" && word != "BAD")
        return Fail(kNotImap);
    if (word == "BAD" && ImapState != AwaitLogout)
        return Fail(kBad);
    switch (ImapState) {
    case AwaitCapability:
        return word == "OK" ? LogIn() : Fail(kNotImap);
    case AwaitContinuation:
    case AwaitLogin: {
        ForgetCredentials();
        // A log-in cannot succeed before all of it has been sent.
        if (word == "OK")
            return ImapState == AwaitLogin ? AskStatus() : Fail(kNotImap);
        if (const QString refusal = ImapLogInRefusal(response.Code(), tls_); !refusal.isEmpty())
            return Fail(refusal);
        return Finish(ResultBadPassword);
    }
    case AwaitStatus: {
        if (word != "OK")
            return Fail(kNoInbox);
        if (unseen_ < 0)
            return Fail(kCount);
        const std::int16_t account = results_.CurrentAccount;
        if (account < 0 || static_cast<size_t>(account) >= results_.CheckResults.size())
            throw std::out_of_range("account without a result slot");
        results_.MessageCount = static_cast<std::int16_t>(unseen_);
        results_.CheckResults[static_cast<size_t>(account)] =
            unseen_ > 0 ? ResultNewMail : ResultNoMail;
        results_.MessageCounts[static_cast<size_t>(account)] = std::to_string(unseen_);
        ImapState = AwaitLogout;
        SendCommand("LOGOUT");
        return;
    }
    case AwaitLogout:
        return CloseSocket();
    default:
        return Fail(kNotImap);
    }
}

void ImapProbe::HandleContinuation() {
    if (ImapState != AwaitContinuation || pendingPieces_.isEmpty())
        return Fail(kNotImap);
    const QByteArray piece = pendingPieces_.takeFirst();
    if (pendingPieces_.isEmpty())
        ImapState = AwaitLogin;
    Send(piece);
}

void ImapProbe::LogIn() {
    if (capabilities_.contains("LOGINDISABLED"))
        return Fail(ImapLoginDisabledReason(tls_));
    const std::int16_t account = results_.CurrentAccount;
    StoredCredentials stored = TakeStoredCredentials(credentials_, account);
    const std::string& user = stored.user;
    // The state moves first: deciphering may let a further response be handled meanwhile.
    ImapState = AwaitLogin;
    const std::string password = PassCryptModule::DecryptText(stored.storedPassword, key_);
    if (ImapState != AwaitLogin)
        return; // a response handled meanwhile ended the dialogue
    const QByteArray userText = Utf8(user);
    const QByteArray passwordText = Utf8(password);
    if (!Sendable(userText) || !Sendable(passwordText))
        return Fail(kLineBreak);

    tag_ = "a" + QByteArray::number(++tagNumber_);
    ImapLogInSteps steps = ImapLogInCommand(capabilities_, tag_, userText, passwordText);
    pendingPieces_ = std::move(steps.pieces);
    if (!pendingPieces_.isEmpty())
        ImapState = AwaitContinuation;
    Send(steps.first);
    steps.first.fill('\0');
}

void ImapProbe::AskStatus() {
    ImapState = AwaitStatus;
    SendCommand("STATUS INBOX (UNSEEN)");
}

void ImapProbe::SendCommand(const QByteArray& command) {
    tag_ = "a" + QByteArray::number(++tagNumber_);
    Send(tag_ + ' ' + command + "\r\n");
}

void ImapProbe::Send(const QByteArray& line) {
    socket_.SendData(line);
}

void ImapProbe::ForgetCredentials() {
    for (QByteArray& piece : pendingPieces_)
        piece.fill('\0');
    pendingPieces_.clear();
}

void ImapProbe::CloseSocket() {
    ImapState = Closed;
    reader_.Clear(); // whatever follows a verdict is not judged
    ForgetCredentials();
    socket_.Close();
}

void ImapProbe::Finish(std::int16_t result, const QString& reason) {
    CloseSocket();
    reason_ = reason;
    const std::int16_t account = results_.CurrentAccount;
    if (account >= 0 && static_cast<size_t>(account) < results_.CheckResults.size())
        results_.CheckResults[static_cast<size_t>(account)] = result;
}

void ImapProbe::Fail(const QString& reason) {
    Finish(ResultFailed, reason);
}

} // namespace postlark
