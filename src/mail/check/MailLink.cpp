// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/check/MailLink.h"

#include "mail/imap/ImapProbe.h"
#include "mail/pop3/Pop3Probe.h"
#include "platform/net/ServerAddress.h"
#include "platform/net/Winsock.h"

namespace postlark {

MailLink::MailLink(Winsock& socket, CheckVerdicts& verdicts)
    : socket_(socket), verdicts_(verdicts) {}

MailLink::~MailLink() {
    QObject::disconnect(arrival_);
    QObject::disconnect(peerClosed_);
    QObject::disconnect(error_);
}

void MailLink::Attach(Pop3Probe& probe) {
    QObject::disconnect(arrival_);
    QObject::disconnect(peerClosed_);
    QObject::disconnect(error_);
    probe_ = &probe;
    arrival_ = QObject::connect(&socket_, &Winsock::DataArrival, &socket_, [this](qint64) {
        if (imapActive_)
            imap_->OnImapReply();
        else
            probe_->OnPop3Reply();
    });
    peerClosed_ =
        QObject::connect(&socket_, &Winsock::PeerClosed, &socket_, [this] { ConnectionLost(); });
    error_ = QObject::connect(&socket_, &Winsock::ErrorOccurred, &socket_,
                              [this](int, const QString&) { ConnectionLost(); });
}

void MailLink::ConnectionLost() {
    if (imapActive_)
        imap_->OnConnectionLost();
    else
        probe_->OnConnectionLost();
}

void MailLink::Begin(std::int16_t account, const QString& server,
                     std::optional<StoredCredentials> credentials) {
    verdicts_.CurrentAccount = account;
    const ServerAddress address = ParseServerField(server);
    imapActive_ = imap_ && address.valid && address.imap;
    socket_.Close();
    socket_.LocalPort = 0;
    socket_.Connect(server, address, 110); // parsed once, for both
    if (imapActive_)
        imap_->BeginDialogue(address.tls, std::move(credentials), address.startTls,
                             address.mailbox);
    else
        probe_->BeginDialogue(std::move(credentials), address.startTls, address.tls);
    if (socket_.State() == Winsock::sckError)
        ConnectionLost();
}

QString MailLink::FailureReason() const {
    return imapActive_ ? imap_->FailureReason() : probe_->FailureReason();
}

bool MailLink::TokenRefused() const {
    return imapActive_ ? imap_->TokenRefused() : probe_->TokenRefused();
}

QString MailLink::ServerAlert() const {
    return imapActive_ ? imap_->ServerAlert() : QString();
}

QByteArray MailLink::GetData() {
    return socket_.GetData();
}

void MailLink::SendData(const QByteArray& data) {
    socket_.SendData(data);
}

bool MailLink::StartTls() {
    return socket_.StartTls();
}

void MailLink::Close() {
    socket_.Close();
}

} // namespace postlark
