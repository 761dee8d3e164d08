// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The IMAP dialogue for one account at a time, driven by the server's responses: greeting,
// capabilities, log-in (AUTHENTICATE PLAIN or LOGIN), "STATUS INBOX (UNSEEN)", LOGOUT. The
// INBOX's unseen count goes into the same result arrays as a POP3 account's message count,
// those of the POP3 probe it is given, with the same result codes.
#include "mail/IPop3Socket.h"
#include "mail/ImapReader.h"
#include "mail/StoredCredentials.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace postlark {

class Pop3Probe;
struct ImapResponse;

class ImapProbe {
public:
    // `results` keeps the current account's number and the result arrays for both probes.
    ImapProbe(IPop3Socket& socket, std::string applicationKey, Pop3Probe& results);

    // Starts the dialogue of a new connection: awaiting the greeting, nothing received yet.
    // `tls` tells whether the connection is encrypted.
    // With `credentials`, the log-in uses them instead of reading the store.
    void BeginDialogue(bool tls, std::optional<StoredCredentials> credentials = std::nullopt);
    // Handles an arrival of data: every whole response that has arrived is judged once.
    void OnImapReply();
    // The connection failed or the server closed it; ends the account's dialogue.
    void OnConnectionLost();

    // Why the last dialogue failed, when the dialogue itself found out; empty otherwise.
    QString FailureReason() const { return reason_; }

    std::int32_t ImapState = 0;

private:
    void HandleResponse(const QByteArray& text);
    void HandleUntagged(const ImapResponse& response);
    void HandleTagged(const ImapResponse& response);
    void HandleContinuation();
    void AfterGreeting(const ImapResponse& response);
    void LogIn();
    void AskStatus();
    void SendCommand(const QByteArray& command);
    void Send(const QByteArray& line);
    void CloseSocket();
    void Fail(const QString& reason);
    void Finish(std::int16_t result, const QString& reason = QString());
    void ForgetCredentials();

    IPop3Socket& socket_;
    std::string key_;
    std::optional<StoredCredentials> credentials_;
    Pop3Probe& results_;
    ImapReader reader_;
    bool tls_ = false;
    int tagNumber_ = 0;
    QByteArray tag_;                  // of the command awaiting its tagged response
    QList<QByteArray> capabilities_;  // as last announced
    QList<QByteArray> pendingPieces_; // of the log-in, sent one per continuation
    int unseen_ = -1;                 // the INBOX's count from the STATUS response
    QString reason_;
};

} // namespace postlark
