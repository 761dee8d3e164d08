// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/ImapWatcher.h"

#include "mail/ImapLogin.h"
#include "mail/ImapResponse.h"
#include "mail/PushClock.h"
#include "platform/base/RuntimeError.h"
#include "platform/net/ServerAddress.h"
#include "platform/net/Winsock.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"

#include <algorithm>

namespace postlark {

namespace {

constexpr long kWrongEncryptionString = 20001;

const QString kNotImap = QStringLiteral("The server did not answer as an IMAP server does");
const QString kBye = QStringLiteral("The server ended the connection (BYE)");
const QString kBad = QStringLiteral("The server refused a command as malformed (BAD)");
const QString kTooLong = QStringLiteral("The server sent a line or literal longer than 64 KiB");
const QString kCount = QStringLiteral("The server's count of unseen messages could not be read");
const QString kNoInbox = QStringLiteral("The server did not open the INBOX");
const QString kNoIdle = QStringLiteral("The server refused to wait for new mail (IDLE)");
const QString kLineBreak =
    QStringLiteral("The user name or password holds a line break, which cannot be sent");
const QString kBadPassword = QStringLiteral(
    "The server refused the user name or password; push waits until the account is modified");
const QString kNoIdleOffered =
    QStringLiteral("The server does not offer IDLE: new mail shows with the next check");

QByteArray Utf8(const std::string& stored) {
    return AnsiToQString(stored).toUtf8();
}

bool Sendable(const QByteArray& text) {
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

} // namespace

ImapWatcher::ImapWatcher(PushAccount account, std::string applicationKey, PushClock& clock,
                         std::function<void(const PushReport&)> report, PushTiming timing)
    : account_(std::move(account)), key_(std::move(applicationKey)), clock_(clock),
      report_(std::move(report)), timing_(timing), socket_(std::make_unique<Winsock>()),
      backOff_(timing.backOffFirst) {
    silence_ = clock_.NewTimer([this] {
        Fail(step_ == Step::Idling ? QStringLiteral("The server sent nothing for %1 minutes")
                                         .arg(timing_.idleSilence.count() / 60000)
                                   : QStringLiteral("The server did not answer within %1 seconds")
                                         .arg(timing_.answerLimit.count() / 1000));
    });
    renew_ = clock_.NewTimer([this] {
        if (step_ == Step::Idling)
            EndIdle();
    });
    retry_ = clock_.NewTimer([this] { Connect(); });
    QObject::connect(socket_.get(), &Winsock::DataArrival, socket_.get(), [this] { OnData(); });
    QObject::connect(socket_.get(), &Winsock::PeerClosed, socket_.get(),
                     [this] { OnLost(QStringLiteral("The server closed the connection")); });
    QObject::connect(socket_.get(), &Winsock::ErrorOccurred, socket_.get(),
                     [this](int, const QString&) { OnLost(SocketReason()); });
}

ImapWatcher::~ImapWatcher() {
    ForgetCredentials();
    socket_->disconnect();
    socket_->Close();
}

void ImapWatcher::Start() {
    if (step_ == Step::Waiting && !retry_->Active())
        Connect();
}

void ImapWatcher::ReconnectNow() {
    if (step_ == Step::Stopped)
        return;
    backOff_ = timing_.backOffFirst;
    Drop();
    Connect();
}

void ImapWatcher::Stop() {
    Drop();
    step_ = Step::Stopped;
}

void ImapWatcher::Drop() {
    silence_->Stop();
    renew_->Stop();
    retry_->Stop();
    ForgetCredentials();
    reader_.Clear();
    socket_->Close();
    step_ = Step::Waiting;
}

void ImapWatcher::Connect() {
    Drop();
    const ServerAddress address = ParseServerField(account_.server);
    tls_ = address.tls;
    tagNumber_ = 0;
    tag_.clear();
    capabilities_.clear();
    unseen_ = -1;
    changed_ = false;
    counted_ = false;
    step_ = Step::Greeting;
    socket_->Connect(account_.server, 143);
    if (socket_->State() == Winsock::sckError)
        return Fail(socket_->LastErrorDescription());
    ArmSilence();
}

QString ImapWatcher::SocketReason() const {
    const QString host = socket_->RemoteHost().contains(':') ? '[' + socket_->RemoteHost() + ']'
                                                             : socket_->RemoteHost();
    switch (socket_->LastErrorNumber()) {
    case Winsock::sckConnectionRefused:
        return "Connection refused (" + host + ':' + QString::number(socket_->RemotePort()) + ")";
    case Winsock::sckConnectionReset:
        return QStringLiteral("The server closed the connection");
    case Winsock::sckSecureChannelFailed:
        if (!socket_->CertificateErrors().isEmpty())
            return "The certificate of " + socket_->RemoteHost() +
                   " is not trusted: " + socket_->CertificateErrors();
        break;
    default:
        break;
    }
    return socket_->LastErrorDescription();
}

void ImapWatcher::OnLost(const QString& reason) {
    if (step_ == Step::Logout)
        return Stop();
    if (step_ != Step::Waiting && step_ != Step::Stopped)
        Fail(reason);
}

void ImapWatcher::OnData() {
    if (step_ == Step::Waiting || step_ == Step::Stopped)
        return;
    reader_.Append(socket_->GetData());
    ArmSilence();
    // Each response is taken off the reader before it is judged: judging may handle events.
    while (step_ != Step::Waiting && step_ != Step::Stopped) {
        QByteArray text;
        const ImapReader::Status status = reader_.Next(&text);
        if (status == ImapReader::Status::Incomplete)
            return;
        if (status == ImapReader::Status::TooLong)
            return Fail(kTooLong);
        Handle(text);
    }
}

void ImapWatcher::Handle(const QByteArray& text) {
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
            return StopWith(PushReport::Kind::BadPassword, kBadPassword);
        Fail(kNotImap);
    } catch (const std::exception&) {
        Fail(kNotImap);
    }
}

void ImapWatcher::HandleUntagged(const ImapResponse& response) {
    const QByteArray& word = response.word;
    if (step_ == Step::Greeting) {
        if (word == "OK")
            return AfterGreeting(response);
        if (word == "PREAUTH") {
            capabilities_ = response.Capabilities().value_or(QList<QByteArray>());
            return AfterLogIn();
        }
        return Fail(word == "BYE" ? QStringLiteral("The server refused the connection (BYE)")
                                  : kNotImap);
    }
    if (word == "BYE") {
        if (step_ != Step::Logout)
            Fail(kBye);
        return;
    }
    if (word == "CAPABILITY") {
        capabilities_ = response.Capabilities().value_or(QList<QByteArray>());
        return;
    }
    if (step_ == Step::Count && (word == "SEARCH" || word == "ESEARCH")) {
        const std::optional<int> count = response.SearchCount();
        if (!count)
            return Fail(kCount);
        unseen_ = *count;
        return;
    }
    if (response.MailboxChange()) {
        if (step_ == Step::Idling)
            return EndIdle();
        // A change while counting or entering or leaving IDLE is counted right after.
        if (step_ == Step::Count || step_ == Step::IdleContinuation || step_ == Step::IdleDone)
            changed_ = true;
    }
    // Everything else (RECENT, FLAGS, OK [UIDVALIDITY ...], OK still here ...) is ignored.
}

void ImapWatcher::AfterGreeting(const ImapResponse& greeting) {
    if (const auto announced = greeting.Capabilities()) {
        capabilities_ = *announced;
        return LogIn();
    }
    step_ = Step::Capability;
    SendCommand("CAPABILITY");
}

void ImapWatcher::HandleTagged(const ImapResponse& response) {
    if (response.tag != tag_)
        return Fail(kNotImap);
    const QByteArray& word = response.word;
    if (word != "OK" && word != "NO" && word != "BAD")
        return Fail(kNotImap);
    switch (step_) {
    case Step::Capability:
        return word == "OK" ? LogIn() : Fail(kNotImap);
    case Step::LogInContinuation:
    case Step::LogIn:
        ForgetCredentials();
        if (word == "OK") {
            if (step_ != Step::LogIn)
                return Fail(kNotImap);
            // Servers often announce more once the user is known.
            if (const auto announced = response.Capabilities()) {
                capabilities_ = *announced;
                return AfterLogIn();
            }
            step_ = Step::PostLogInCapability;
            return SendCommand("CAPABILITY");
        }
        if (word == "BAD")
            return Fail(kBad);
        if (const QString refusal = ImapLogInRefusal(response.Code(), tls_); !refusal.isEmpty())
            return Fail(refusal);
        return StopWith(PushReport::Kind::BadPassword, kBadPassword);
    case Step::PostLogInCapability:
        return word == "OK" ? AfterLogIn() : Fail(kNotImap);
    case Step::Examine:
        return word == "OK" ? CountUnseen() : Fail(kNoInbox);
    case Step::Count: {
        if (word != "OK" || unseen_ < 0)
            return Fail(kCount);
        const int count = unseen_;
        if (!counted_) {
            counted_ = true;
            goodSince_ = clock_.Now();
        }
        report_({PushReport::Kind::Count, count, QString()});
        if (step_ != Step::Count)
            return; // the owner stopped or restarted the watcher meanwhile
        return changed_ ? CountUnseen() : EnterIdle();
    }
    case Step::IdleContinuation:
        return Fail(kNoIdle); // IDLE refused
    case Step::IdleDone:
        return word == "OK" ? CountUnseen() : Fail(kNoIdle);
    case Step::Logout:
        return Stop();
    default:
        return Fail(kNotImap);
    }
}

void ImapWatcher::HandleContinuation() {
    if (step_ == Step::LogInContinuation && !pendingPieces_.isEmpty()) {
        QByteArray piece = pendingPieces_.takeFirst();
        if (pendingPieces_.isEmpty())
            step_ = Step::LogIn;
        Send(piece);
        piece.fill('\0');
        return;
    }
    if (step_ == Step::IdleContinuation) {
        step_ = Step::Idling;
        ArmSilence();
        renew_->Start(timing_.idleRenew);
        // A change announced before the continuation ends the wait at once.
        if (changed_)
            EndIdle();
        return;
    }
    Fail(kNotImap);
}

void ImapWatcher::LogIn() {
    if (capabilities_.contains("LOGINDISABLED"))
        return Fail(ImapLoginDisabledReason(tls_));
    // The step moves first: deciphering may let a further response be handled meanwhile.
    step_ = Step::LogIn;
    const std::string password = PassCryptModule::DecryptText(account_.storedPassword, key_);
    if (step_ != Step::LogIn)
        return;
    QByteArray userText = Utf8(account_.user);
    QByteArray passwordText = Utf8(password);
    if (!Sendable(userText) || !Sendable(passwordText)) {
        passwordText.fill('\0');
        return StopWith(PushReport::Kind::AttemptFailed, kLineBreak);
    }
    tag_ = "a" + QByteArray::number(++tagNumber_);
    ImapLogInSteps steps = ImapLogInCommand(capabilities_, tag_, userText, passwordText);
    passwordText.fill('\0');
    pendingPieces_ = std::move(steps.pieces);
    if (!pendingPieces_.isEmpty())
        step_ = Step::LogInContinuation;
    Send(steps.first);
    steps.first.fill('\0');
}

void ImapWatcher::AfterLogIn() {
    if (!capabilities_.contains("IDLE")) {
        step_ = Step::Logout;
        SendCommand("LOGOUT");
        report_({PushReport::Kind::NoIdle, 0, kNoIdleOffered});
        return;
    }
    Examine();
}

void ImapWatcher::Examine() {
    step_ = Step::Examine;
    SendCommand("EXAMINE INBOX");
}

void ImapWatcher::CountUnseen() {
    step_ = Step::Count;
    unseen_ = -1;
    changed_ = false;
    renew_->Stop();
    if (capabilities_.contains("ESEARCH"))
        SendCommand("SEARCH RETURN (COUNT) UNSEEN");
    else
        SendCommand("SEARCH UNSEEN");
}

void ImapWatcher::EnterIdle() {
    step_ = Step::IdleContinuation;
    SendCommand("IDLE");
}

void ImapWatcher::EndIdle() {
    renew_->Stop();
    step_ = Step::IdleDone;
    Send("DONE\r\n");
    ArmSilence();
}

void ImapWatcher::SendCommand(const QByteArray& command) {
    tag_ = "a" + QByteArray::number(++tagNumber_);
    Send(tag_ + ' ' + command + "\r\n");
}

void ImapWatcher::Send(const QByteArray& line) {
    socket_->SendData(line);
    ArmSilence();
}

void ImapWatcher::ArmSilence() {
    if (step_ == Step::Waiting || step_ == Step::Stopped)
        return silence_->Stop();
    silence_->Start(step_ == Step::Idling ? timing_.idleSilence : timing_.answerLimit);
}

void ImapWatcher::Fail(const QString& reason) {
    const bool counted = counted_;
    // A minute of good connection earns the back-off its first, short wait again.
    if (counted && clock_.Now() - goodSince_ >= timing_.goodConnection)
        backOff_ = timing_.backOffFirst;
    Drop();
    const std::chrono::milliseconds wait = backOff_;
    backOff_ = std::min(backOff_ * 2, timing_.backOffMost);
    retry_->Start(wait);
    report_({counted ? PushReport::Kind::Dropped : PushReport::Kind::AttemptFailed, 0, reason});
}

void ImapWatcher::StopWith(PushReport::Kind kind, const QString& reason) {
    Stop();
    report_({kind, 0, reason});
}

void ImapWatcher::ForgetCredentials() {
    for (QByteArray& piece : pendingPieces_)
        piece.fill('\0');
    pendingPieces_.clear();
}

} // namespace postlark
