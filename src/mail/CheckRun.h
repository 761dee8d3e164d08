// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One check run: every account in list order through the POP3 probe, then the results in the
// list, the status bar and, when any account has mail, the alerts.
#include <QMetaObject>
#include <QString>
#include <cstdint>
#include <vector>

namespace postlark {

class CheckRunView;
class Pop3Link;
class Pop3Probe;
class Winsock;

class CheckRun {
public:
    CheckRun(CheckRunView& view, Winsock& socket, Pop3Link& link, Pop3Probe& probe);
    ~CheckRun();
    CheckRun(const CheckRun&) = delete;
    CheckRun& operator=(const CheckRun&) = delete;

    // Runs over every account; returns when the run has ended. Events are handled meanwhile.
    void Run();

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

private:
    // Why the account just checked failed, from what its connection went through.
    QString FailureReason() const;

    CheckRunView& view_;
    Winsock& socket_;
    Pop3Link& link_;
    Pop3Probe& probe_;
    std::vector<QString> newMailTexts_;
    std::vector<QString> failureReasons_;
    bool peerClosed_ = false; // the server closed the connection of the current account
    QMetaObject::Connection peerClosedWatch_;
};

} // namespace postlark
