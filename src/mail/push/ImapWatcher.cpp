// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/push/ImapWatcher.h"

#include "mail/imap/FetchResponse.h"
#include "mail/imap/ImapResponse.h"
#include "mail/imap/MailboxName.h"
#include "mail/push/PushClock.h"
#include "platform/net/ServerAddress.h"
#include "platform/net/Winsock.h"

#include <algorithm>
#include <utility>

namespace postlark {

namespace {

const QString kNoInbox = QStringLiteral("The server did not open the INBOX");
const QString kNoIdle = QStringLiteral(
    "The server refused to wait for new mail (IDLE): new mail shows with the next check");
const QString kIdleEnded = QStringLiteral(
    "The server ended its wait for new mail (IDLE): new mail shows with the next check");
// Counts are at least this far apart, however often the server announces a change.
constexpr std::chrono::seconds kRecountPause{1};
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
    pause_ = clock_.NewTimer([this] {
        if (step_ == Step::Idling && changed_)
            EndIdle();
    });
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
    ++preparation_; // credentials still asked for are no longer wanted
    prepared_.reset();
    silence_->Stop();
    renew_->Stop();
    retry_->Stop();
    pause_->Stop();
    exists_.reset();
    pending_.reset();
    headers_.Abandon();
    session_.End();
    socket_->Close();
    step_ = Step::Waiting;
}

void ImapWatcher::Connect() {
    Drop();
    if (!credentials_)
        return Dial();
    // The answer may come after the watcher has moved on (stopped, reconnected, ended): only
    // the latest question's answer is taken.
    const int asked = ++preparation_;
    const std::weak_ptr<bool> alive = alive_;
    credentials_->Prepare(credentialAccount_, [this, alive, asked](PreparedCredentials prepared) {
        if (alive.expired() || asked != preparation_ || step_ != Step::Waiting)
            return;
        if (!prepared.credentials) {
            if (prepared.signInNeeded)
                return StopWith(PushReport::Kind::AttemptFailed, prepared.failure);
            return Fail(prepared.failure);
        }
        prepared_ = std::move(prepared.credentials);
        Dial();
    });
}

void ImapWatcher::Dial() {
    unseen_ = -1;
    changed_ = false;
    counted_ = false;
    step_ = Step::LoggingIn;
    const ServerAddress address = ParseServerField(account_.server);
    mailbox_ = address.mailbox.isEmpty() ? QStringLiteral("INBOX") : address.mailbox;
    uidValidity_.clear();
    socket_->KeepAlive = {1, static_cast<unsigned long>(timing_.keepAliveIdle.count()),
                          static_cast<unsigned long>(timing_.keepAliveInterval.count())};
    session_.Begin(address.tls, true, address.startTls);
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
    if (prepared_)
        return *std::exchange(prepared_, std::nullopt);
    return {account_.user, account_.storedPassword};
}

void ImapWatcher::LoggedIn() {
    if (!session_.Has("IDLE")) {
        step_ = Step::Logout;
        session_.Logout();
        report_({PushReport::Kind::NoIdle, 0, kNoIdleOffered});
        return;
    }
    if (!session_.Has("ID"))
        return Examine();
    // Some servers want to know the client before they open a mailbox.
    step_ = Step::Identify;
    session_.SendCommand(QByteArrayLiteral("ID (\"name\" \"Postlark\" \"version\" \"") +
                         POSTLARK_VERSION + "\")");
}

void ImapWatcher::Untagged(const ImapResponse& response) {
    const QByteArray& word = response.word;
    if (step_ == Step::Headers && headers_.Untagged(response))
        return;
    if (step_ == Step::Examine && !UidValidityOf(response).isEmpty()) {
        uidValidity_ = UidValidityOf(response);
        return;
    }
    if (step_ == Step::Count && (word == "SEARCH" || word == "ESEARCH")) {
        const std::optional<qint64> count = response.SearchCount();
        if (!count)
            return Fail(ImapSession::kCountUnreadable);
        unseen_ = *count;
        return;
    }
    if (response.Event().kind != ImapResponse::MailboxEvent::Kind::None)
        return OnMailboxEvent(response);
    // Everything else (RECENT, FLAGS, OK [UIDVALIDITY ...], OK still here ...) is ignored.
}

void ImapWatcher::Tagged(const ImapResponse& response) {
    const bool ok = response.word == "OK";
    switch (step_) {
    case Step::Identify:
        return Examine(); // whatever the answer: ID only informs the server
    case Step::Examine: {
        if (ok)
            return CountUnseen();
        const QByteArray code = response.Code();
        if (mailbox_ == QStringLiteral("INBOX"))
            return Fail(kNoInbox);
        if (code.isEmpty() || code == "NONEXISTENT")
            return Fail(QStringLiteral("No such mailbox: ") + mailbox_);
        return Fail(QStringLiteral("The server did not open the mailbox ") + mailbox_);
    }
    case Step::Count:
        if (!ok || unseen_ < 0)
            return Fail(ImapSession::kCountUnreadable);
        return Counted(unseen_);
    case Step::Headers:
        if (headers_.Tagged(response) && step_ == Step::Headers)
            ReportAndIdle(*std::exchange(pending_, std::nullopt));
        return;
    case Step::IdleContinuation:
    case Step::IdleDone:
        if (ok && step_ == Step::IdleDone)
            return CountUnseen();
        // IDLE refused: the account is left to the checks, not retried for ever.
        return StopWith(PushReport::Kind::NoIdle, kNoIdle);
    case Step::Idling:
        return StopWith(PushReport::Kind::NoIdle, kIdleEnded);
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
    // A change announced before the continuation is counted as soon as the pause allows.
    if (changed_)
        RecountSoon();
    return true;
}

void ImapWatcher::Failed(Failure failure, const QString& reason) {
    switch (failure) {
    case Failure::TokenRefused: // the next attempt signs in with a fresh token
        if (credentials_)
            credentials_->TokenRefused(credentialAccount_);
        return Fail(reason);
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

bool ImapWatcher::StartTls() {
    return socket_->StartTls();
}

void ImapWatcher::Examine() {
    step_ = Step::Examine;
    session_.SendCommand("EXAMINE " + MailboxArgument(mailbox_));
}

void ImapWatcher::OnMailboxEvent(const ImapResponse& response) {
    using Kind = ImapResponse::MailboxEvent::Kind;
    const ImapResponse::MailboxEvent event = response.Event();
    if (event.kind == Kind::Exists) {
        const bool same = exists_ == event.number;
        exists_ = event.number;
        if (same)
            return; // a server may repeat the count with any response
    } else if (event.kind == Kind::Expunge && exists_ && *exists_ > 0) {
        --*exists_;
    }
    // EXAMINE's own EXISTS is where the comparison starts, not a change.
    if (step_ == Step::Examine || step_ == Step::Identify || step_ == Step::LoggingIn)
        return;
    changed_ = true;
    if (step_ == Step::Idling)
        RecountSoon();
}

void ImapWatcher::RecountSoon() {
    const std::chrono::milliseconds since = clock_.Now() - lastCountAt_;
    if (since >= kRecountPause)
        return EndIdle();
    if (!pause_->Active())
        pause_->Start(std::chrono::duration_cast<std::chrono::milliseconds>(kRecountPause) - since);
}

void ImapWatcher::CountUnseen() {
    step_ = Step::Count;
    unseen_ = -1;
    changed_ = false;
    lastCountAt_ = clock_.Now();
    pause_->Stop();
    renew_->Stop();
    session_.SendCommand(session_.Has("ESEARCH") ? "SEARCH RETURN (COUNT) UNSEEN"
                                                 : "SEARCH UNSEEN");
}

void ImapWatcher::Counted(qint64 count) {
    if (!counted_) {
        counted_ = true;
        goodSince_ = clock_.Now();
    }
    // A count above the last one reported (none: 0) may name new messages.
    if (count > reported_.value_or(0) && reader_ && reader_->Wanted()) {
        step_ = Step::Headers;
        pending_ = count;
        return headers_.Begin(*reader_, readerAccount_, uidValidity_);
    }
    ReportAndIdle(count);
}

void ImapWatcher::ReportAndIdle(qint64 count) {
    const Step step = step_;
    reported_ = count;
    report_({PushReport::Kind::Count, count, QString()});
    if (step_ != step)
        return; // the owner stopped or restarted the watcher meanwhile
    // A change during the count is counted once IDLE has begun and the pause is over.
    EnterIdle();
}

void ImapWatcher::EnterIdle() {
    step_ = Step::IdleContinuation;
    session_.SendCommand("IDLE");
}

void ImapWatcher::EndIdle() {
    renew_->Stop();
    pause_->Stop();
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
    // A count whose headers were being read still stands.
    const std::optional<qint64> pending = pending_;
    // A minute of good connection earns the back-off its first, short wait again.
    if (counted && clock_.Now() - goodSince_ >= timing_.goodConnection)
        backOff_ = timing_.backOffFirst;
    Drop();
    const std::chrono::milliseconds wait = backOff_;
    backOff_ = std::min(backOff_ * 2, timing_.backOffMost);
    retry_->Start(wait);
    if (pending) {
        reported_ = *pending;
        report_({PushReport::Kind::Count, *pending, QString()});
    }
    report_({counted ? PushReport::Kind::Dropped : PushReport::Kind::AttemptFailed, 0, reason});
}

void ImapWatcher::StopWith(PushReport::Kind kind, const QString& reason) {
    Stop();
    report_({kind, 0, reason});
}

} // namespace postlark
