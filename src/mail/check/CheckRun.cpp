// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/check/CheckRun.h"

#include "mail/check/AccountWait.h"
#include "mail/check/CheckRunView.h"
#include "mail/check/MailLink.h"
#include "mail/dialogue/CheckVerdicts.h"
#include "platform/net/Winsock.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/AnsiText.h"
#include "store/SettingsStore.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QLocale>

#include <cmath>
#include <memory>

namespace postlark {

CheckRun::CheckRun(CheckRunView& view, Winsock& socket, MailLink& link, CheckVerdicts& verdicts)
    : view_(view), socket_(socket), link_(link), verdicts_(verdicts) {
    peerClosedWatch_ =
        QObject::connect(&socket_, &Winsock::PeerClosed, &socket_, [this] { peerClosed_ = true; });
    // Every arrival starts the silence limit afresh. It only notes the time: the timer, when it
    // runs out, waits on for whatever is left of the limit since the last arrival, so a chatty
    // dialogue does not stop and start a timer for every line.
    arrivalWatch_ =
        QObject::connect(&socket_, &Winsock::DataArrival, &socket_, [this] { quiet_.restart(); });
    silence_.setSingleShot(true);
    QObject::connect(&silence_, &QTimer::timeout, &socket_, [this] {
        const qint64 left = SilenceLimit.count() - quiet_.elapsed();
        if (left > 0) {
            silence_.start(static_cast<int>(left));
            return;
        }
        GiveUp((preparing_ ? QStringLiteral("The keyring or the sign-in service did not answer "
                                            "within %1 seconds")
                           : QStringLiteral("The server did not answer within %1 seconds"))
                   .arg(kServerSilenceLimit.count()));
    });
}

CheckRun::~CheckRun() {
    QObject::disconnect(peerClosedWatch_);
    QObject::disconnect(arrivalWatch_);
}

void CheckRun::Skip() {
    GiveUp(QStringLiteral("Skipped: the server had not answered"));
}

void CheckRun::SkipIfQuiet() {
    if (quiet_.isValid() && quiet_.elapsed() >= TickSkipQuiet.count())
        Skip();
}

void CheckRun::GiveUp(const QString& reason) {
    silence_.stop();
    if (preparing_) {
        // The account's credentials are still awaited: it ends here.
        giveUpReason_ = reason;
        preparing_ = false;
        return;
    }
    if (socket_.State() == Winsock::sckClosed || socket_.State() == Winsock::sckError)
        return; // the account's wait has already ended
    giveUpReason_ = reason;
    link_.ConnectionLost();
}

void CheckRun::Abort() {
    if (!running_)
        return;
    aborted_ = true;
    preparing_ = false;
    silence_.stop();
    socket_.Close();
}

std::optional<PreparedCredentials> CheckRun::AwaitCredentials(const CredentialAccount& account) {
    if (!credentials_)
        return PreparedCredentials{StoredCredentials{account.user, account.storedPassword}};
    // The answer may come after this account was given up, or after the run: it then lands
    // nowhere.
    auto answer = std::make_shared<std::optional<PreparedCredentials>>();
    preparing_ = true;
    credentials_->Prepare(account, [answer](PreparedCredentials prepared) {
        *answer = std::move(prepared);
        // An answer that came as a posted event would otherwise leave the wait below asleep
        // until some later event.
        if (auto* dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->interrupt();
    });
    while (preparing_ && !*answer && !view_.Unloading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    preparing_ = false;
    return std::move(*answer);
}

bool CheckRun::CheckAccount(const CredentialAccount& account, QString* alert, bool retried) {
    const auto slot = static_cast<size_t>(account.number);
    peerClosed_ = false;
    giveUpReason_.clear();
    quiet_.start();
    if (!silence_.isActive()) // it runs on from one account to the next
        silence_.start(SilenceLimit);
    std::optional<PreparedCredentials> prepared = AwaitCredentials(account);
    quiet_.start(); // the server's time begins with the connection
    if (view_.Unloading())
        return false;
    if (aborted_) {
        view_.EnableLaunchAndCheck();
        view_.EndRunControls();
        return false;
    }
    if (!prepared || !prepared->credentials) {
        // Given up while waiting, or no credentials: the account fails without a connection.
        verdicts_.CurrentAccount = account.number;
        verdicts_.ResultSlot() = ResultFailed;
        failureReasons_[slot] = prepared ? prepared->failure : giveUpReason_;
        signInNeeded_[slot] = prepared && prepared->signInNeeded;
        return true;
    }
    link_.Begin(account.number, AnsiToQString(account.server), std::move(prepared->credentials));
    WaitWhileConnected(socket_);
    if (view_.Unloading()) {
        socket_.Close();
        return false;
    }
    if (aborted_) {
        view_.EnableLaunchAndCheck();
        view_.EndRunControls();
        return false;
    }
    // A refused access token is replaced once by a fresh one.
    if (credentials_ && link_.TokenRefused() && giveUpReason_.isEmpty() && !retried) {
        credentials_->TokenRefused(account);
        return CheckAccount(account, alert, true);
    }
    if (verdicts_.CheckResults[slot] == ResultFailed)
        failureReasons_[slot] = giveUpReason_.isEmpty() ? FailureReason() : giveUpReason_;
    if (const QString said = link_.ServerAlert(); !said.isEmpty())
        *alert = "The server says: " + said;
    return true;
}

QString CheckRun::FailureReason() const {
    if (const QString reason = link_.FailureReason(); !reason.isEmpty())
        return reason;
    const QString host = socket_.RemoteHost().contains(':') ? '[' + socket_.RemoteHost() + ']'
                                                            : socket_.RemoteHost();
    const QString server = host + ':' + QString::number(socket_.RemotePort());
    switch (socket_.LastErrorNumber()) {
    case 0:
        break;
    case Winsock::sckConnectionRefused:
        return "Connection refused (" + server + ")";
    case Winsock::sckConnectionReset:
        return "The server closed the connection before answering";
    case Winsock::sckTimedout:
        return "The server did not answer in time (" + server + ")";
    case Winsock::sckSecureChannelFailed:
        if (!socket_.CertificateErrors().isEmpty())
            return "The certificate of " + socket_.RemoteHost() +
                   " is not trusted: " + socket_.CertificateErrors();
        return socket_.LastErrorDescription();
    default:
        return socket_.LastErrorDescription();
    }
    if (peerClosed_)
        return "The server closed the connection before answering";
    return link_.ImapAccount() ? "The server did not answer as an IMAP server does"
                               : "The server did not answer as a POP3 server does";
}

std::int16_t CheckRun::ProgressStep(int accountCount) {
    return static_cast<std::int16_t>(std::lrint(10000.0 / accountCount));
}

QString CheckRun::NewMailText(std::int16_t result, const std::string& count) {
    switch (result) {
    case ResultNewMail:
        return "Yes, " + AnsiToQString(count);
    case ResultNoMail:
        return "No";
    case ResultBadPassword:
        return "Bad Password";
    case ResultFailed:
        return "Failed";
    default:
        return QString();
    }
}

QString CheckRun::LastCheckText(const QString& ending) {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    QString time = locale.timeFormat(QLocale::LongFormat);
    time.remove(QLatin1Char('t')).replace(QLatin1String("  "), QLatin1String(" "));
    return "Last Check: " + locale.toString(now.date(), QLocale::ShortFormat) + ' ' +
           locale.toString(now.time(), time.trimmed()) + ending;
}

void CheckRun::Run() {
    const int n = view_.AccountRowCount();
    if (n == 0) {
        MsgBox("No email accounts in list.", vbInformation, "Postlark");
        view_.EndRunControls();
        return;
    }
    verdicts_.ResetResults(n);
    newMailTexts_.assign(static_cast<size_t>(n), QString());
    failureReasons_.assign(static_cast<size_t>(n), QString());
    signInNeeded_.assign(static_cast<size_t>(n), false);
    std::vector<QString> alerts(static_cast<size_t>(n));
    view_.BeginRunControls();
    running_ = true;
    aborted_ = false;
    struct Ended {
        CheckRun& run;
        ~Ended() {
            run.running_ = false;
            run.silence_.stop();
            // The waits ran the event dispatcher nested, and each of its turns clears a request
            // to stop waiting: an event loop told to quit meanwhile (a dialog closed, a wait
            // of the caller that timed out) would sleep on until its next event. Woken once
            // here, it looks again as soon as the run returns to it.
            if (auto* dispatcher = QAbstractEventDispatcher::instance())
                dispatcher->interrupt();
        }
    } ended{*this};

    bool anyMail = false;
    const std::int16_t step = ProgressStep(n);
    view_.SetProgressPosition(0);
    // The address each result is obtained for: another running copy may change the stored
    // accounts during the run, and a row that no longer shows that account gets no result.
    std::vector<QString> checkedAddress(static_cast<size_t>(n));
    const std::string storePath = SettingsStore::FilePath();
    for (int i = 0; i < n; ++i) {
        // The account's values from one look at the store.
        std::vector<std::string> stored = SettingsStore::GetValuesAt(
            storePath, {AccountKey("EmailAddress", i), AccountKey("POP", i),
                        AccountKey("UserName", i), AccountKey("Password", i)});
        checkedAddress[static_cast<size_t>(i)] = AnsiToQString(stored[0]);
        view_.SetStatusText("Checking " + checkedAddress[static_cast<size_t>(i)]);
        const CredentialAccount account{static_cast<std::int16_t>(i), std::move(stored[0]),
                                        std::move(stored[1]), std::move(stored[2]),
                                        std::move(stored[3])};
        if (!CheckAccount(account, &alerts[static_cast<size_t>(i)]))
            return;
        view_.SetProgressPosition(view_.ProgressPosition() + step);
    }

    for (int j = 0; j < n; ++j) {
        const QString& address = checkedAddress[static_cast<size_t>(j)];
        const std::optional<QString> shown = view_.RowAddress(j);
        if (shown && *shown != address && !(address.isEmpty() && *shown == "Bad Read")) {
            verdicts_.CheckResults[static_cast<size_t>(j)] = ResultNoMail; // no verdict for it
            verdicts_.MessageCounts[static_cast<size_t>(j)].clear();
            failureReasons_[static_cast<size_t>(j)].clear();
            signInNeeded_[static_cast<size_t>(j)] = false;
            alerts[static_cast<size_t>(j)].clear();
            continue; // its text stays empty
        }
        const auto result = verdicts_.CheckResults[static_cast<size_t>(j)];
        newMailTexts_[static_cast<size_t>(j)] =
            NewMailText(result, verdicts_.MessageCounts[static_cast<size_t>(j)]);
        anyMail = anyMail || result == ResultNewMail;
    }
    for (int k = 0; k < n; ++k) {
        view_.SetNewMailText(k, newMailTexts_[static_cast<size_t>(k)]);
        const bool failed = verdicts_.CheckResults[static_cast<size_t>(k)] == ResultFailed;
        // A failure says why; otherwise the server's alert, if it had one, is the tip.
        view_.SetNewMailToolTip(k, failed ? failureReasons_[static_cast<size_t>(k)]
                                          : alerts[static_cast<size_t>(k)]);
    }
    view_.EnableLaunchAndCheck();
    if (anyMail)
        view_.GotMail();
    else {
        view_.NoNewMail();
        view_.SetStatusText(LastCheckText(", no new mail."));
    }
    // A server's alert, which the user must see, stays in its row's tool tip and takes the
    // status bar once: the first run that brings it.
    for (int k = 0; k < n; ++k) {
        const QString& alert = alerts[static_cast<size_t>(k)];
        const QString shown = checkedAddress[static_cast<size_t>(k)] + ": " + alert;
        if (!alert.isEmpty() && shownAlerts_.insert(shown).second) {
            view_.SetStatusText(shown);
            break;
        }
    }
    view_.EndRunControls();
}

} // namespace postlark
