// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One check run: every account in list order through its protocol's dialogue (POP3 or IMAP, as
// its server field says), then the results in the list, the status bar and, when any account has
// mail, the alerts.
#include "mail/check/CredentialSource.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace postlark {

class CheckRunView;
class MailLink;
struct CheckVerdicts;
class Winsock;

// How long a server may send nothing during a dialogue before its account is given up.
inline constexpr std::chrono::seconds kServerSilenceLimit{60};

class CheckRun {
public:
    CheckRun(CheckRunView& view, Winsock& socket, MailLink& link, CheckVerdicts& verdicts);
    // Where credentials beyond the stored password come from (the keyring, OAuth2 tokens);
    // without one, every account signs in with its stored password.
    void SetCredentialSource(CredentialSource* source) { credentials_ = source; }
    ~CheckRun();
    CheckRun(const CheckRun&) = delete;
    CheckRun& operator=(const CheckRun&) = delete;

    // Runs over every account; returns when the run has ended. Events are handled meanwhile.
    void Run();
    // True from the start of a run over accounts until it has ended.
    bool Running() const { return running_; }
    // Gives up the account being probed (the Skip button, or a tick during a run): it fails
    // unless its server had already given the verdict, and the run goes on with the next one.
    void Skip();
    // The automatic check's press during a run: skips the account being probed only when its
    // server has sent nothing for `TickSkipQuiet`, so a tick never fails an account whose
    // server is answering (one that was just begun after the silence limit gave up another).
    void SkipIfQuiet();
    // Ends the run at once without writing any result: the account list is about to change,
    // so no row may receive a result obtained for another account.
    void Abort();

    // The silence limit in force and the quiet a tick's skip needs; tests shorten them.
    std::chrono::milliseconds SilenceLimit = kServerSilenceLimit;
    std::chrono::milliseconds TickSkipQuiet = std::chrono::seconds(5);

    // 10000 divided by the account count, rounded to the nearest integer, ties to even.
    static std::int16_t ProgressStep(int accountCount);
    // The "New Mail?" text for a result code and message count.
    static QString NewMailText(std::int16_t result, const std::string& count);
    // "Last Check: " with the current date and time in the system's general format.
    static QString LastCheckText(const QString& ending);

    // The column texts of the last run, by account.
    const std::vector<QString>& NewMailTexts() const { return newMailTexts_; }
    // Why each account of the last run failed; empty for accounts that did not fail.
    const std::vector<QString>& FailureReasons() const { return failureReasons_; }
    // The accounts of the last run whose OAuth2 sign-in must be done again in the browser.
    const std::vector<bool>& SignInNeeded() const { return signInNeeded_; }

private:
    // Why the account just checked failed, from what its connection went through.
    QString FailureReason() const;
    void GiveUp(const QString& reason);
    // Sleeps until the account's credentials are at hand or the account is given up.
    std::optional<PreparedCredentials> AwaitCredentials(const CredentialAccount& account);
    // Probes one account, its server's alert into `alert`; true when the run goes on.
    bool CheckAccount(const CredentialAccount& account, QString* alert, bool retried = false);

    CheckRunView& view_;
    Winsock& socket_;
    MailLink& link_;
    CheckVerdicts& verdicts_;
    std::vector<QString> newMailTexts_;
    std::vector<QString> failureReasons_;
    std::vector<bool> signInNeeded_;
    std::set<QString> shownAlerts_; // "address: alert" once shown in the status bar
    bool peerClosed_ = false;       // the server closed the connection of the current account
    QString giveUpReason_;          // why the current account was given up, if it was
    CredentialSource* credentials_ = nullptr;
    bool preparing_ = false; // the current account's credentials are awaited
    bool running_ = false;
    bool aborted_ = false;
    QTimer silence_;
    QElapsedTimer quiet_; // since the current account began or its server last sent something
    QMetaObject::Connection peerClosedWatch_, arrivalWatch_;
};

} // namespace postlark
