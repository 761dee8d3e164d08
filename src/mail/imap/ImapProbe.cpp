// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapProbe.h"

#include "mail/dialogue/CheckVerdicts.h"
#include "mail/imap/FetchResponse.h"
#include "mail/imap/ImapResponse.h"
#include "mail/imap/MailboxName.h"

namespace postlark {

namespace {

const QString kNoInbox = QStringLiteral("The server did not report the INBOX");

} // namespace

ImapProbe::ImapProbe(IMailSocket& socket, std::string applicationKey, CheckVerdicts& verdicts)
    : socket_(socket), verdicts_(verdicts), session_(socket, std::move(applicationKey), *this) {}

void ImapProbe::BeginDialogue(bool tls, std::optional<StoredCredentials> credentials, bool startTls,
                              const QString& mailbox) {
    TellCountOnly(); // a dialogue dropped before its reader heard of it
    credentials_ = std::move(credentials);
    mailbox_ = mailbox.isEmpty() ? QStringLiteral("INBOX") : mailbox;
    session_.Begin(tls, false, startTls);
    step_ = Step::Status;
    uidValidity_.clear();
    unseen_ = -1;
    reason_.clear();
    tokenRefused_ = false;
    alert_.clear();
}

void ImapProbe::OnConnectionLost() {
    // Once the count is recorded (LOGOUT sent, or the headers being read) the verdict stands;
    // before that the account failed.
    const ImapSession::Phase phase = session_.CurrentPhase();
    if (phase == ImapSession::Phase::LoggingOut || phase == ImapSession::Phase::Ended ||
        step_ != Step::Status) {
        TellCountOnly();
        CloseSocket();
    } else {
        Finish(ResultFailed);
    }
}

StoredCredentials ImapProbe::LogInCredentials() {
    return TakeStoredCredentials(credentials_, verdicts_.CurrentAccount);
}

void ImapProbe::LoggedIn() {
    session_.SendCommand("STATUS " + MailboxArgument(mailbox_) + " (UNSEEN)");
}

void ImapProbe::Untagged(const ImapResponse& response) {
    if (session_.CurrentPhase() != ImapSession::Phase::LoggedIn)
        return;
    switch (step_) {
    case Step::Status: {
        if (response.word != "STATUS")
            return; // EXISTS, RECENT, FLAGS, OK [ALERT] ... are ignored
        const auto unseen = response.MailboxUnseen(EncodeMailboxName(mailbox_));
        if (!unseen || (unseen->inbox && !unseen->count))
            return Finish(ResultFailed, ImapSession::kCountUnreadable);
        if (unseen->inbox)
            unseen_ = *unseen->count;
        return;
    }
    case Step::Examine:
        if (const QByteArray validity = UidValidityOf(response); !validity.isEmpty())
            uidValidity_ = validity;
        return;
    case Step::Headers:
        headers_.Untagged(response);
        return;
    case Step::Done:
        return;
    }
}

void ImapProbe::Tagged(const ImapResponse& response) {
    if (session_.CurrentPhase() == ImapSession::Phase::LoggingOut)
        return CloseSocket();
    switch (step_) {
    case Step::Status:
        return AfterStatus(response);
    case Step::Examine:
        return AfterExamine(response);
    case Step::Headers:
        if (!headers_.Tagged(response))
            return;
        step_ = Step::Done;
        break;
    case Step::Done:
        break;
    }
    if (session_.CurrentPhase() == ImapSession::Phase::LoggedIn)
        session_.Logout();
}

void ImapProbe::AfterStatus(const ImapResponse& response) {
    if (response.word == "BAD")
        return Finish(ResultFailed, ImapSession::kMalformed);
    if (response.word != "OK") {
        const QByteArray code = response.Code();
        if (mailbox_ == QStringLiteral("INBOX"))
            return Finish(ResultFailed, kNoInbox);
        if (code.isEmpty() || code == "NONEXISTENT")
            return Finish(ResultFailed, QStringLiteral("No such mailbox: ") + mailbox_);
        return Finish(ResultFailed,
                      QStringLiteral("The server did not report the mailbox ") + mailbox_);
    }
    if (unseen_ < 0)
        return Finish(ResultFailed, ImapSession::kCountUnreadable);
    verdicts_.RecordCount(unseen_);
    if (!reader_ || unseen_ == 0 || !reader_->Wanted())
        return session_.Logout();
    // Read-only, so that reading changes nothing in the mailbox.
    step_ = Step::Examine;
    account_ = verdicts_.CurrentAccount;
    session_.SendCommand("EXAMINE " + MailboxArgument(mailbox_));
}

void ImapProbe::AfterExamine(const ImapResponse& response) {
    if (response.word != "OK") {
        TellCountOnly();
        return session_.Logout();
    }
    step_ = Step::Headers;
    headers_.Begin(*reader_, account_, uidValidity_);
}

void ImapProbe::Failed(Failure failure, const QString& reason) {
    tokenRefused_ = failure == Failure::TokenRefused;
    if (step_ != Step::Status) { // the count stands
        TellCountOnly();
        return CloseSocket();
    }
    if (failure == Failure::PasswordRefused)
        return Finish(ResultBadPassword);
    Finish(ResultFailed, reason);
}

void ImapProbe::TellCountOnly() {
    if (step_ == Step::Headers)
        headers_.Abandon();
    else if (step_ == Step::Examine && reader_)
        reader_->Fetched(account_, {}, true);
    if (step_ != Step::Status)
        step_ = Step::Done;
}

void ImapProbe::CloseSocket() {
    session_.End();
    socket_.Close();
}

void ImapProbe::Finish(std::int16_t result, const QString& reason) {
    CloseSocket();
    reason_ = reason;
    verdicts_.Settle(result);
}

} // namespace postlark
