// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/Pop3Link.h"

#include "mail/ImapProbe.h"
#include "mail/Pop3Probe.h"
#include "platform/net/ServerAddress.h"
#include "platform/net/Winsock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

namespace postlark {

namespace {

bool Finished(int state) {
    return state == Winsock::sckClosed || state == Winsock::sckError;
}

} // namespace

Pop3Link::Pop3Link(Winsock& socket) : socket_(socket) {}

Pop3Link::~Pop3Link() {
    QObject::disconnect(arrival_);
    QObject::disconnect(peerClosed_);
    QObject::disconnect(error_);
}

void Pop3Link::Attach(Pop3Probe& probe) {
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

void Pop3Link::ConnectionLost() {
    if (imapActive_)
        imap_->OnConnectionLost();
    else
        probe_->OnConnectionLost();
}

void Pop3Link::Begin(std::int16_t account, const QString& server,
                     std::optional<StoredCredentials> credentials) {
    probe_->CurrentAccount = account;
    const ServerAddress address = ParseServerField(server);
    imapActive_ = imap_ && address.valid && address.imap;
    socket_.Close();
    socket_.LocalPort = 0;
    socket_.Connect(server, address, 110); // parsed once, for both
    if (imapActive_)
        imap_->BeginDialogue(address.tls, std::move(credentials));
    else
        probe_->BeginDialogue(std::move(credentials));
    if (socket_.State() == Winsock::sckError)
        ConnectionLost();
}

QString Pop3Link::ImapFailureReason() const {
    return imapActive_ ? imap_->FailureReason() : QString();
}

QByteArray Pop3Link::GetData() {
    return socket_.GetData();
}

void Pop3Link::SendData(const QByteArray& data) {
    socket_.SendData(data);
}

void Pop3Link::Close() {
    socket_.Close();
}

void WaitWhileConnected(Winsock& socket) {
    // Each pass sleeps until something happens and handles all of it; the state is looked at
    // after every pass. Unlike a nested QEventLoop, ending the wait needs no signal connection
    // and no wake-up of the dispatcher, which cost a system call or two per account.
    const QPointer<Winsock> guard(&socket);
    while (guard && !Finished(guard->State()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace postlark
