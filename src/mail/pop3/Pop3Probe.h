// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The POP3 dialogue for one account at a time: USER, PASS, STAT, QUIT (or AUTH with an OAuth2
// access token in place of USER and PASS), driven by the
// server's replies; for a pop3:// field first CAPA and STLS, so that the log-in goes over TLS. It
// records one result code and one message count per account in the run's verdicts. With a
// NewMessageReader that wants them, the headers of the messages counted are read between STAT
// and QUIT (UIDL, TOP n 0); the count stands whatever that reading meets.
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/dialogue/IMailSocket.h"
#include "mail/dialogue/NewMessageReader.h"
#include "mail/dialogue/StoredCredentials.h"
#include "mail/pop3/Pop3HeaderFetch.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace postlark {

class Pop3Probe {
public:
    Pop3Probe(IMailSocket& socket, std::string applicationKey, CheckVerdicts& verdicts);

    // Starts the dialogue of a new connection: awaiting the greeting, nothing received yet.
    // With `credentials`, the dialogue uses them instead of reading the store. With `startTls`,
    // the connection is upgraded with STLS before the log-in, and a server that does not offer
    // or refuses it fails the account.
    // `tls` tells that the connection is encrypted from the first byte.
    void BeginDialogue(std::optional<StoredCredentials> credentials = std::nullopt,
                       bool startTls = false, bool tls = false);
    // Handles an arrival of data: what arrived is collected up to each line end, and every
    // complete line is judged as the server's reply to the last command.
    void OnPop3Reply();
    // The connection failed or the server closed it; ends the account's dialogue.
    void OnConnectionLost();
    // Why the last dialogue failed, when it is more than the result code says; empty otherwise.
    QString FailureReason() const { return reason_; }
    // Whether the last dialogue failed because the server refused the OAuth2 access token.
    bool TokenRefused() const { return tokenRefused_; }
    // Who reads the headers of the messages waiting, from the next dialogue on; null for the
    // count alone. The reader outlives the probe or is taken away first.
    void SetNewMessageReader(NewMessageReader* reader) { reader_ = reader; }

    std::int32_t Pop3State = 0;

private:
    void HandleReply(const QByteArray& reply);
    void HandlePositiveReply(const QByteArray& reply);
    void HandleCapability(const QByteArray& line);
    void HandlePipeCapability(const QByteArray& line);
    // The account's server field, which names what is known of its server.
    std::string ServerKey();
    void SendUser();
    void SendAuth(StoredCredentials& stored);
    void HandleAuthReply(const QByteArray& reply);
    void CloseSocket();
    void SendCommand(std::string_view verb, const std::string& argument);
    void Finish(std::int16_t result, const QString& reason = QString());
    // Ends the header reading with the connection, keeping the count.
    void AbandonHeaders();

    IMailSocket& socket_;
    CheckVerdicts& verdicts_;
    std::string key_;
    std::string storedPassword_; // enciphered, from the greeting until the server asks for it
    std::optional<StoredCredentials> credentials_;
    QByteArray pending_; // received, not yet a complete line
    bool startTls_ = false;
    bool tls_ = false;
    bool stlsOffered_ = false;    // the CAPA list so far names STLS
    bool pipeliningSeen_ = false; // the CAPA list so far names PIPELINING
    bool pipelined_ = false;      // UIDL went out with STAT; TOP commands go out together
    std::optional<std::string> serverKey_;
    QString reason_;
    std::optional<bool> tokenLogIn_; // AUTH with a token was sent: whether OAUTHBEARER
    bool tokenRefused_ = false;
    NewMessageReader* reader_ = nullptr;
    Pop3HeaderFetch headers_;
};

} // namespace postlark
