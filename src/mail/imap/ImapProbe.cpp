// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapProbe.h"

#include "mail/dialogue/CheckVerdicts.h"
#include "mail/imap/ImapResponse.h"

namespace postlark {

namespace {

const QString kNoInbox = QStringLiteral("The server did not report the INBOX");

} // namespace

ImapProbe::ImapProbe(IMailSocket& socket, std::string applicationKey, CheckVerdicts& verdicts)
    : socket_(socket), verdicts_(verdicts), session_(socket, std::move(applicationKey), *this) {}

void ImapProbe::BeginDialogue(bool tls, std::optional<StoredCredentials> credentials,
                              bool startTls) {
    credentials_ = std::move(credentials);
    session_.Begin(tls, false, startTls);
    unseen_ = -1;
    reason_.clear();
    tokenRefused_ = false;
    alert_.clear();
}

void ImapProbe::OnConnectionLost() {
    // Once the count is recorded (LOGOUT sent) the verdict stands; before that the account
    // failed.
    const ImapSession::Phase phase = session_.CurrentPhase();
    if (phase == ImapSession::Phase::LoggingOut || phase == ImapSession::Phase::Ended)
        CloseSocket();
    else
        Finish(ResultFailed);
}

StoredCredentials ImapProbe::LogInCredentials() {
    return TakeStoredCredentials(credentials_, verdicts_.CurrentAccount);
}

void ImapProbe::LoggedIn() {
    session_.SendCommand("STATUS INBOX (UNSEEN)");
}

void ImapProbe::Untagged(const ImapResponse& response) {
    if (response.word != "STATUS" || session_.CurrentPhase() != ImapSession::Phase::LoggedIn)
        return; // EXISTS, RECENT, FLAGS, OK [ALERT] ... are ignored
    const auto unseen = response.InboxUnseen();
    if (!unseen || (unseen->inbox && !unseen->count))
        return Finish(ResultFailed, ImapSession::kCountUnreadable);
    if (unseen->inbox)
        unseen_ = *unseen->count;
}

void ImapProbe::Tagged(const ImapResponse& response) {
    if (session_.CurrentPhase() == ImapSession::Phase::LoggingOut)
        return CloseSocket();
    if (response.word == "BAD")
        return Finish(ResultFailed, ImapSession::kMalformed);
    if (response.word != "OK")
        return Finish(ResultFailed, kNoInbox);
    if (unseen_ < 0)
        return Finish(ResultFailed, ImapSession::kCountUnreadable);
    verdicts_.RecordCount(unseen_);
    session_.Logout();
}

void ImapProbe::Failed(Failure failure, const QString& reason) {
    tokenRefused_ = failure == Failure::TokenRefused;
    if (failure == Failure::PasswordRefused)
        return Finish(ResultBadPassword);
    Finish(ResultFailed, reason);
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
