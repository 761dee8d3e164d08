// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/push/ImapWatcher.h"

#include "mail/imap/ImapResponse.h"
#include "mail/push/PushClock.h"
#include "platform/net/ServerAddress.h"
#include "platform/net/Winsock.h"

#include <algorithm>

namespace postlark {

namespace {

const QString kNoInbox = QStringLiteral("The server did not open the INBOX");
const QString kNoIdle = QStringLiteral("The server refused to wait for new mail (IDLE)");
const QString kBadPassword = QStringLiteral(
    "The server refused the user name or password; push waits until the account is modified");
const QString kNoIdleOffered =
    QStringLiteral("The server does not offer IDLE: new mail shows with the next check");

} // namespace

ImapWatcher::ImapWatcher(PushAccount account, std::string applicationKey, PushClock& clock,
                         std::function<void(const PushReport&)> report, PushTiming timing)
    : account_(std::move(account)), clock_(clock), report_(std::move(report)), timing_(timing),
      socket_(std::make_unique<Winsock>()), session_(*this, std::move(applicationKey), *this),
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
    QObject::connect(socket_.get(), &Winsock::DataArrival, socket_.get(), [this] {
        if (step_ == Step::Waiting || step_ == Step::Stopped)
            return;
        ArmSilence();
        session_.OnData();
    });
    QObject::connect(socket_.get(), &Winsock::PeerClosed, socket_.get(),
                     [this] { OnLost(QStringLiteral("The server closed the connection")); });
    QObject::connect(socket_.get(), &Winsock::ErrorOccurred, socket_.get(),
                     [this](int, const QString&) { OnLost(SocketReason()); });
}

ImapWatcher::~ImapWatcher() {
    session_.End();
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
    session_.End();
    socket_->Close();
    step_ = Step::Waiting;
}

void ImapWatcher::Connect() {
    Drop();
    unseen_ = -1;
    changed_ = false;
    counted_ = false;
    step_ = Step::LoggingIn;
    session_.Begin(ParseServerField(account_.server).tls, true);
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

StoredCredentials ImapWatcher::LogInCredentials() {
    return {account_.user, account_.storedPassword};
}

void ImapWatcher::LoggedIn() {
    if (!session_.Has("IDLE")) {
        step_ = Step::Logout;
        session_.Logout();
        report_({PushReport::Kind::NoIdle, 0, kNoIdleOffered});
        return;
    }
    Examine();
}

void ImapWatcher::Untagged(const ImapResponse& response) {
    const QByteArray& word = response.word;
    if (step_ == Step::Count && (word == "SEARCH" || word == "ESEARCH")) {
        const std::optional<int> count = response.SearchCount();
        if (!count)
            return Fail(ImapSession::kCountUnreadable);
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

void ImapWatcher::Tagged(const ImapResponse& response) {
    const bool ok = response.word == "OK";
    switch (step_) {
    case Step::Examine:
        return ok ? CountUnseen() : Fail(kNoInbox);
    case Step::Count: {
        if (!ok || unseen_ < 0)
            return Fail(ImapSession::kCountUnreadable);
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
        return ok ? CountUnseen() : Fail(kNoIdle);
    case Step::Logout:
        return Stop();
    default:
        return Fail(ImapSession::kNotImap);
    }
}

bool ImapWatcher::Continuation() {
    if (step_ != Step::IdleContinuation)
        return false;
    step_ = Step::Idling;
    ArmSilence();
    renew_->Start(timing_.idleRenew);
    // A change announced before the continuation ends the wait at once.
    if (changed_)
        EndIdle();
    return true;
}

void ImapWatcher::Failed(Failure failure, const QString& reason) {
    switch (failure) {
    case Failure::Retry:
        return Fail(reason);
    case Failure::Lasting:
        return StopWith(PushReport::Kind::AttemptFailed, reason);
    case Failure::PasswordRefused:
        return StopWith(PushReport::Kind::BadPassword, kBadPassword);
    }
}

QByteArray ImapWatcher::GetData() {
    return socket_->GetData();
}

void ImapWatcher::SendData(const QByteArray& data) {
    socket_->SendData(data);
    ArmSilence();
}

void ImapWatcher::Close() {
    socket_->Close();
}

void ImapWatcher::Examine() {
    step_ = Step::Examine;
    session_.SendCommand("EXAMINE INBOX");
}

void ImapWatcher::CountUnseen() {
    step_ = Step::Count;
    unseen_ = -1;
    changed_ = false;
    renew_->Stop();
    session_.SendCommand(session_.Has("ESEARCH") ? "SEARCH RETURN (COUNT) UNSEEN"
                                                 : "SEARCH UNSEEN");
}

void ImapWatcher::EnterIdle() {
    step_ = Step::IdleContinuation;
    session_.SendCommand("IDLE");
}

void ImapWatcher::EndIdle() {
    renew_->Stop();
    step_ = Step::IdleDone;
    session_.Send("DONE\r\n");
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

} // namespace postlark
