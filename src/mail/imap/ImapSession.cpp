// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/ImapSession.h"

#include "mail/dialogue/SaslOAuth.h"
#include "mail/imap/ImapLogin.h"
#include "mail/imap/ImapResponse.h"
#include "platform/base/RuntimeError.h"
#include "store/AnsiText.h"
#include "store/PassCryptModule.h"

#include <algorithm>
#include <exception>

namespace postlark {

namespace {

constexpr long kWrongEncryptionString = 20001;

const QString kRefusedAtGreeting = QStringLiteral("The server refused the connection (BYE)");
const QString kBye = QStringLiteral("The server ended the connection (BYE)");
const QString kTooLong = QStringLiteral("The server sent a line or literal longer than 64 KiB");
const QString kLineBreak =
    QStringLiteral("The user name or password holds a line break, which cannot be sent");
const QString kNoStartTls =
    QStringLiteral("The server does not offer STARTTLS, so the password would travel "
                   "unencrypted; use imaps://, or imap+insecure:// for a server without TLS");
const QString kStartTlsRefused = QStringLiteral("The server refused to start TLS (STARTTLS)");
const QString kPreauthInClear =
    QStringLiteral("The server logged in before TLS could be started (PREAUTH)");
const QString kNoUpgrade = QStringLiteral("TLS cannot be started on this connection");
const QString kTokenRefused = QStringLiteral("The server refused the access token");
const QString kTokenNotSendable =
    QStringLiteral("The user name or access token holds a control character, which cannot be sent");

// What stored text becomes on the wire: UTF-8.
QByteArray Utf8(const std::string& stored) {
    return AnsiToQString(stored).toUtf8();
}

// CR and LF would end a command early; NUL cannot travel in any IMAP string.
bool Sendable(const QByteArray& text) {
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

} // namespace

const QString ImapSession::kNotImap =
    QStringLiteral("The server did not answer as an IMAP server does");
const QString ImapSession::kMalformed =
    QStringLiteral("The server refused a command as malformed (BAD)");
const QString ImapSession::kCountUnreadable =
    QStringLiteral("The server's count of unseen messages could not be read");

ImapSession::ImapSession(IMailSocket& socket, std::string applicationKey, ImapSessionOwner& owner)
    : socket_(socket), key_(std::move(applicationKey)), owner_(owner) {}

ImapSession::~ImapSession() {
    ForgetPieces();
}

bool ImapSession::Has(const QByteArray& capability) const {
    if (capabilities_.contains(capability))
        return true;
    // IMAP4rev2 has these in its base protocol.
    return (capability == "IDLE" || capability == "ESEARCH") && capabilities_.contains("IMAP4REV2");
}

void ImapSession::Begin(bool tls, bool capabilitiesAfterLogIn, bool startTls) {
    End();
    phase_ = Phase::Greeting;
    tls_ = tls;
    requireTls_ = startTls;
    capabilitiesAfterLogIn_ = capabilitiesAfterLogIn;
    tagNumber_ = 0;
    tag_.clear();
    capabilities_.clear();
    tokenLogIn_.reset();
    tokenRefusal_.clear();
}

void ImapSession::End() {
    phase_ = Phase::Ended;
    reader_.Clear(); // whatever follows is not judged
    ForgetPieces();
}

void ImapSession::OnData() {
    if (phase_ == Phase::Ended)
        return;
    reader_.Append(socket_.GetData());
    // Judging may handle events (deciphering the password, an owner's handler), so a nested
    // call can take further responses meanwhile: each is taken off the reader before it is
    // judged.
    while (phase_ != Phase::Ended) {
        QByteArray text;
        const ImapReader::Status status = reader_.Next(&text);
        if (status == ImapReader::Status::Incomplete)
            return;
        if (status == ImapReader::Status::TooLong)
            return Fail(kTooLong);
        Judge(text, reader_.DroppedSearchItems());
    }
}

void ImapSession::Judge(const QByteArray& text, qint64 droppedSearchItems) {
    try {
        std::optional<ImapResponse> response = ImapResponse::Parse(text);
        if (!response)
            return Fail(kNotImap);
        response->droppedSearchItems = droppedSearchItems;
        if (response->kind != ImapResponse::Kind::Continuation && response->Code() == "ALERT")
            owner_.ServerAlert(response->Text());
        switch (response->kind) {
        case ImapResponse::Kind::Untagged:
            return HandleUntagged(*response);
        case ImapResponse::Kind::Tagged:
            return HandleTagged(*response);
        case ImapResponse::Kind::Continuation:
            return HandleContinuation(*response);
        }
    } catch (const RuntimeError& e) {
        if (e.Number == kWrongEncryptionString)
            return Fail(QString(), ImapSessionOwner::Failure::PasswordRefused);
        Fail(kNotImap);
    } catch (const std::exception&) {
        // Anything that cannot be made sense of fails this session, not the program.
        Fail(kNotImap);
    }
}

void ImapSession::HandleUntagged(const ImapResponse& response) {
    const QByteArray& word = response.word;
    if (phase_ == Phase::Greeting) {
        if (word == "OK")
            return AfterGreeting(response);
        if (word == "PREAUTH") {
            if (requireTls_ && !tls_)
                return Fail(kPreauthInClear);
            if (const auto announced = response.Capabilities()) {
                capabilities_ = *announced;
                return EnterLoggedIn();
            }
            phase_ = Phase::CapabilityAfterLogIn;
            return SendCommand("CAPABILITY");
        }
        return Fail(word == "BYE" ? kRefusedAtGreeting : kNotImap);
    }
    // Once LOGOUT is sent, the server's farewell and complaints change nothing.
    if (word == "BYE" || word == "BAD") {
        if (phase_ != Phase::LoggingOut)
            Fail(word == "BYE" ? kBye : kMalformed);
        return;
    }
    if (word == "CAPABILITY") {
        capabilities_ = response.Capabilities().value_or(QList<QByteArray>());
        return;
    }
    if (phase_ == Phase::LoggedIn || phase_ == Phase::LoggingOut)
        owner_.Untagged(response);
    // Before the log-in, whatever else the server volunteers (OK [ALERT] ...) is ignored.
}

void ImapSession::AfterGreeting(const ImapResponse& greeting) {
    if (const auto announced = greeting.Capabilities()) {
        capabilities_ = *announced;
        return LogIn();
    }
    phase_ = Phase::Capability;
    SendCommand("CAPABILITY");
}

void ImapSession::HandleTagged(const ImapResponse& response) {
    if (response.tag != tag_)
        return Fail(kNotImap);
    const QByteArray& word = response.word;
    if (word != "OK" && word != "NO" && word != "BAD")
        return Fail(kNotImap);
    switch (phase_) {
    case Phase::Capability:
    case Phase::CapabilityAfterLogIn:
        if (word == "OK")
            return phase_ == Phase::Capability ? LogIn() : EnterLoggedIn();
        return Fail(word == "BAD" ? kMalformed : kNotImap);
    case Phase::StartTls:
        if (word == "OK")
            return AfterStartTlsOk();
        return Fail(word == "BAD" ? kMalformed : kStartTlsRefused);
    case Phase::LogInPieces:
    case Phase::LogIn:
        ForgetPieces();
        if (word == "OK")
            return AfterLogInOk(response);
        if (word == "BAD")
            return Fail(kMalformed);
        if (const QString refusal = ImapLogInRefusal(response.Code(), response.Text(), tls_);
            !refusal.isEmpty())
            return Fail(refusal);
        if (tokenLogIn_)
            return Fail(tokenRefusal_.isEmpty() ? kTokenRefused : tokenRefusal_,
                        ImapSessionOwner::Failure::TokenRefused);
        return Fail(QString(), ImapSessionOwner::Failure::PasswordRefused);
    case Phase::LoggedIn:
    case Phase::LoggingOut:
        return owner_.Tagged(response);
    default:
        return Fail(kNotImap);
    }
}

void ImapSession::AfterLogInOk(const ImapResponse& response) {
    // A log-in cannot succeed before all of it has been sent.
    if (phase_ != Phase::LogIn)
        return Fail(kNotImap);
    if (const auto announced = response.Capabilities()) {
        capabilities_ = *announced;
    } else if (capabilitiesAfterLogIn_) {
        phase_ = Phase::CapabilityAfterLogIn;
        return SendCommand("CAPABILITY");
    }
    EnterLoggedIn();
}

void ImapSession::HandleContinuation(const ImapResponse& response) {
    // A continuation once a token is sent is the server's error challenge: it is answered so
    // that the server ends the exchange with NO, and its reason is kept for the user.
    if (phase_ == Phase::LogIn && tokenLogIn_ && tokenRefusal_.isEmpty()) {
        tokenRefusal_ = SaslOAuthErrorReason(response.rest);
        BearerToken kind;
        kind.oauthBearer = *tokenLogIn_;
        return Send(SaslOAuthErrorAnswer(kind) + "\r\n");
    }
    if (phase_ == Phase::LogInPieces && !pendingPieces_.isEmpty()) {
        QByteArray piece = pendingPieces_.takeFirst();
        if (pendingPieces_.isEmpty())
            phase_ = Phase::LogIn;
        Send(piece);
        piece.fill('\0');
        return;
    }
    if (phase_ != Phase::LoggedIn || !owner_.Continuation())
        Fail(kNotImap);
}

void ImapSession::LogIn() {
    // No password in clear where TLS was asked for, or where the server offers it.
    if (!tls_ && Has("STARTTLS")) {
        phase_ = Phase::StartTls;
        return SendCommand("STARTTLS");
    }
    if (!tls_ && requireTls_)
        return Fail(kNoStartTls, ImapSessionOwner::Failure::Lasting);
    // The phase moves first: deciphering may let a further response be handled meanwhile.
    phase_ = Phase::LogIn;
    StoredCredentials stored = owner_.LogInCredentials();
    if (stored.bearer) {
        LogInWithToken(stored);
        std::fill(stored.bearer->token.begin(), stored.bearer->token.end(), '\0');
        return;
    }
    if (Has("LOGINDISABLED"))
        return Fail(ImapLoginDisabledReason(tls_));
    std::string password = PassCryptModule::DecryptText(stored.storedPassword, key_);
    if (phase_ != Phase::LogIn)
        return; // a response handled meanwhile ended the session
    const QByteArray userText = Utf8(stored.user);
    QByteArray passwordText = Utf8(password);
    std::fill(password.begin(), password.end(), '\0');
    if (!Sendable(userText) || !Sendable(passwordText)) {
        passwordText.fill('\0');
        return Fail(kLineBreak, ImapSessionOwner::Failure::Lasting);
    }
    tag_ = "a" + QByteArray::number(++tagNumber_);
    ImapLogInSteps steps = ImapLogInCommand(capabilities_, tag_, userText, passwordText);
    passwordText.fill('\0');
    pendingPieces_ = std::move(steps.pieces);
    if (!pendingPieces_.isEmpty())
        phase_ = Phase::LogInPieces;
    Send(steps.first);
    steps.first.fill('\0');
}

void ImapSession::LogInWithToken(const StoredCredentials& stored) {
    const BearerToken& bearer = *stored.bearer;
    const QByteArray mechanism = SaslOAuthMechanism(bearer);
    // A token is never sent in clear, whatever the server field allowed.
    if (!tls_)
        return Fail(kNoStartTls, ImapSessionOwner::Failure::Lasting);
    if (!Has("AUTH=" + mechanism))
        return Fail(QStringLiteral("The server does not offer sign-in with %1")
                        .arg(QString::fromLatin1(mechanism)),
                    ImapSessionOwner::Failure::Lasting);
    const QByteArray user = Utf8(stored.user);
    if (!SaslOAuthSendable(user, bearer))
        return Fail(kTokenNotSendable, ImapSessionOwner::Failure::Lasting);
    tokenLogIn_ = bearer.oauthBearer;
    tag_ = "a" + QByteArray::number(++tagNumber_);
    QByteArray response = SaslOAuthInitialResponse(user, bearer);
    const QByteArray command = tag_ + " AUTHENTICATE " + mechanism;
    if (Has("SASL-IR")) {
        QByteArray line = command + ' ' + response + "\r\n";
        Send(line);
        line.fill('\0');
    } else {
        pendingPieces_ = {response + "\r\n"};
        phase_ = Phase::LogInPieces;
        Send(command + "\r\n");
    }
    response.fill('\0');
}

void ImapSession::AfterStartTlsOk() {
    // Whatever followed the OK was sent before TLS, by the server or anyone on the path: it is
    // never judged.
    reader_.Clear();
    if (!socket_.StartTls())
        return Fail(kNoUpgrade, ImapSessionOwner::Failure::Lasting);
    tls_ = true;
    // The capabilities from before TLS are discarded and asked for again over it.
    capabilities_.clear();
    phase_ = Phase::Capability;
    SendCommand("CAPABILITY");
}

void ImapSession::EnterLoggedIn() {
    phase_ = Phase::LoggedIn;
    owner_.LoggedIn();
}

void ImapSession::SendCommand(const QByteArray& command) {
    tag_ = "a" + QByteArray::number(++tagNumber_);
    Send(tag_ + ' ' + command + "\r\n");
}

void ImapSession::Send(const QByteArray& line) {
    socket_.SendData(line);
}

void ImapSession::Logout() {
    phase_ = Phase::LoggingOut;
    SendCommand("LOGOUT");
}

void ImapSession::Fail(const QString& reason, ImapSessionOwner::Failure failure) {
    End();
    owner_.Failed(failure, reason);
}

void ImapSession::ForgetPieces() {
    for (QByteArray& piece : pendingPieces_)
        piece.fill('\0');
    pendingPieces_.clear();
}

} // namespace postlark
