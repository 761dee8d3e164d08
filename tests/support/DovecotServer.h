// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real Dovecot POP3 (and optionally IMAP) server for tests: its own configuration, users and
// maildirs in a temporary folder, listening on 127.0.0.1 at free ports. Needs the dovecot
// binary and root.
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace postlark::test {

struct DovecotUser {
    QString name;
    QString password;
    int messages = 0; // small messages placed in the mailbox before start
    int seen = 0;     // of those, how many are already seen (the last ones)
};

class DovecotServer {
public:
    struct Options {
        QList<DovecotUser> users;
        // With TLS, a second listener speaks TLS from the first byte (tlsPort()).
        bool tls = false;
        QString certFile;
        QString keyFile;
        // An IMAP listener too (imapPort()), and with TLS an IMAP one speaking TLS from the
        // first byte (imapsPort()).
        bool imap = false;
        // Replaces the capabilities the IMAP server announces (Dovecot still adds its AUTH=
        // mechanisms); empty for Dovecot's own.
        QString imapCapability = QString();
        // Non-empty: SASL XOAUTH2 and OAUTHBEARER are offered too, and a bearer token is good when
        // it is a JWT signed (HS256) with this secret, not expired, whose "sub" names the user
        // logging in (OAuthServer makes such tokens). Password users log in as before.
        QByteArray oauth2Secret = QByteArray();
    };

    explicit DovecotServer(Options options);
    explicit DovecotServer(QList<DovecotUser> users);
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Whether tests can run a server here; otherwise `why` says what is missing.
    static bool Available(QString* why);

    // Starts the server and waits until it accepts connections (at most about 10 s).
    // On failure returns false and puts the end of the server's log into `error`.
    bool start(QString* error = nullptr);
    // Stops the server and waits for it (about a second). requestStop() only asks, so that
    // several servers can shut down side by side before their destructors wait.
    void stop();
    void requestStop();
    // Stops the server and starts it again on the same ports, with the same mailboxes.
    bool restart(QString* error = nullptr);

    // Delivers a new message to a user's INBOX as a mail delivery agent does: written in tmp/,
    // then moved into new/ (the server's file watch notices the move).
    bool deliver(const QString& user, int number);
    // Delivers `message` (raw bytes, LF or CR LF) to a user's folder as `deliver` does; the
    // folder is named as it lies in the maildir (".Listen.Arbeit" for the IMAP name
    // "Listen/Arbeit", ".Entw&APw-rfe" for "Entwürfe"), created when missing; empty for INBOX.
    bool deliverTo(const QString& user, const QString& folder, const QByteArray& message);
    // Marks one unseen message of a user's INBOX as seen, as another mail program would: its
    // file moves into cur/ with the S flag.
    bool markOneSeen(const QString& user);
    // A user's INBOX; a seen message is a file in cur/ whose name ends in ":2," and flags with S.
    QString maildir(const QString& user) const;

    static QString host() { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return port_; }
    quint16 tlsPort() const { return tlsPort_; }
    quint16 imapPort() const { return imapPort_; }
    quint16 imapsPort() const { return imapsPort_; }
    QString logTail(int lines = 30) const;

private:
    bool writeFiles(QString* error);
    bool writeMailbox(const DovecotUser& user, QString* error);
    bool writeOAuth2Files(QString* error);
    bool waitUntilListening(quint16 port);
    bool launch(QString* error, bool keepPorts);
    void endClientProcesses();

    Options options_;
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    quint16 tlsPort_ = 0;
    quint16 imapPort_ = 0;
    quint16 imapsPort_ = 0;
};

} // namespace postlark::test
