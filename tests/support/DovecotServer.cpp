// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DovecotServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace postlark::test {

namespace {

const QString kDovecot = QStringLiteral("/usr/sbin/dovecot");
constexpr int kStartTimeoutMs = 10000;
constexpr int kStartAttempts = 3;

bool WriteFile(const QString& path, const QByteArray& content, QFile::Permissions permissions) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

constexpr QFile::Permissions kReadableByAll =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

// Free ports on 127.0.0.1, all held open together so that they differ.
QList<quint16> FreePorts(int count) {
    QList<QTcpServer*> servers;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto* server = new QTcpServer;
        if (server->listen(QHostAddress::LocalHost, 0))
            ports << server->serverPort();
        servers << server;
    }
    qDeleteAll(servers);
    return ports;
}

bool ChownTree(const QString& path, uid_t uid, gid_t gid) {
    if (::chown(QFile::encodeName(path).constData(), uid, gid) != 0)
        return false;
    if (!QFileInfo(path).isDir())
        return true;
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (!ChownTree(entry.filePath(), uid, gid))
            return false;
    }
    return true;
}

QByteArray Message(const DovecotUser& user, int number) {
    return QStringLiteral("From: Postlark Test <sender@example.com>\n"
                          "To: %1@example.com\n"
                          "Subject: Test message %2\n"
                          "Date: Mon, 01 Jan 2024 10:00:00 +0000\n"
                          "Message-ID: <%2.%1@postlark.test>\n"
                          "\n"
                          "This is test message %2.\n")
        .arg(user.name)
        .arg(number)
        .toUtf8();
}

} // namespace

DovecotServer::DovecotServer(Options options) : options_(std::move(options)) {}

DovecotServer::DovecotServer(QList<DovecotUser> users)
    : DovecotServer(Options{std::move(users), false, {}, {}}) {}

DovecotServer::~DovecotServer() {
    stop();
}

bool DovecotServer::Available(QString* why) {
    QString reason;
    if (!QFileInfo(kDovecot).isExecutable())
        reason = QStringLiteral("%1 is not installed (Debian packages dovecot-core, "
                                "dovecot-pop3d, dovecot-imapd)")
                     .arg(kDovecot);
    else if (::geteuid() != 0)
        reason = QStringLiteral("a Dovecot test server needs root");
    else if (!::getpwnam("dovecot") || !::getpwnam("dovenull"))
        reason = QStringLiteral("the users dovecot and dovenull do not exist");
    if (why)
        *why = reason;
    return reason.isEmpty();
}

bool DovecotServer::writeMailbox(const DovecotUser& user, QString* error) {
    const QString home = dir_.filePath(QStringLiteral("mail/") + user.name);
    const QString maildir = home + QStringLiteral("/Maildir");
    for (const char* sub : {"new", "cur", "tmp"}) {
        if (!QDir().mkpath(maildir + u'/' + QLatin1String(sub))) {
            *error = QStringLiteral("cannot create the maildir of %1").arg(user.name);
            return false;
        }
    }
    for (int i = 1; i <= user.messages; ++i) {
        // A seen message lives in cur/ with the S flag in its name.
        const bool seen = i > user.messages - user.seen;
        const QString name = QStringLiteral("%1/%2/1700000000.M%3P%4.postlark-test%5")
                                 .arg(maildir, seen ? QStringLiteral("cur") : QStringLiteral("new"))
                                 .arg(i)
                                 .arg(::getpid())
                                 .arg(seen ? QStringLiteral(":2,S") : QString());
        if (!WriteFile(name, Message(user, i), kReadableByAll)) {
            *error = QStringLiteral("cannot write a message for %1").arg(user.name);
            return false;
        }
    }
    const passwd* account = ::getpwnam("dovecot");
    if (!account || !ChownTree(home, account->pw_uid, account->pw_gid)) {
        *error = QStringLiteral("cannot give the maildir of %1 to dovecot").arg(user.name);
        return false;
    }
    return true;
}

bool DovecotServer::writeFiles(QString* error) {
    // dovecot and dovenull must be able to traverse the folder.
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
    QDir().mkpath(dir_.filePath(QStringLiteral("run")));
    QDir().mkpath(dir_.filePath(QStringLiteral("mail")));

    QByteArray users;
    for (const DovecotUser& user : options_.users) {
        users += (user.name + QStringLiteral(":{PLAIN}") + user.password + u'\n').toUtf8();
        if (!QFileInfo::exists(dir_.filePath(QStringLiteral("mail/") + user.name)) &&
            !writeMailbox(user, error))
            return false;
    }
    if (!WriteFile(dir_.filePath(QStringLiteral("users")), users, kReadableByAll)) {
        *error = QStringLiteral("cannot write the users file");
        return false;
    }

    const QString base = dir_.path();
    // %u is dovecot's own variable; arg() only replaces %1.
    QString config = QStringLiteral("protocols = pop3%2\n"
                                    "listen = 127.0.0.1\n"
                                    "base_dir = %1/run\n"
                                    "state_dir = %1/run\n"
                                    "log_path = %1/dovecot.log\n"
                                    "disable_plaintext_auth = no\n"
                                    "auth_mechanisms = plain\n"
                                    "auth_failure_delay = 0\n"
                                    // user names outside ASCII, as many servers allow
                                    "auth_username_chars =\n"
                                    "default_internal_user = dovecot\n"
                                    "default_internal_group = dovecot\n"
                                    "default_login_user = dovenull\n"
                                    "first_valid_uid = 1\n"
                                    "passdb {\n"
                                    "  driver = passwd-file\n"
                                    "  args = scheme=PLAIN username_format=%u %1/users\n"
                                    "}\n"
                                    "userdb {\n"
                                    "  driver = static\n"
                                    "  args = uid=dovecot gid=dovecot home=%1/mail/%u\n"
                                    "}\n"
                                    "mail_location = maildir:%1/mail/%u/Maildir\n"
                                    // IMAP names use "/" between levels, as servers commonly do
                                    "namespace inbox {\n"
                                    "  inbox = yes\n"
                                    "  separator = /\n"
                                    "}\n")
                         .arg(base, options_.imap ? QStringLiteral(" imap") : QString());
    if (!options_.oauth2Secret.isEmpty()) {
        if (!writeOAuth2Files(error))
            return false;
        config.replace(QStringLiteral("auth_mechanisms = plain\n"),
                       QStringLiteral("auth_mechanisms = plain xoauth2 oauthbearer\n"));
        // Tried before the users file, for the token mechanisms only.
        config.replace(QStringLiteral("passdb {\n"),
                       QStringLiteral("passdb {\n"
                                      "  driver = oauth2\n"
                                      "  mechanisms = xoauth2 oauthbearer\n"
                                      "  args = %1/oauth2.conf\n"
                                      "}\n"
                                      "passdb {\n")
                           .arg(base));
    }
    if (options_.tls) {
        config += QStringLiteral("ssl = yes\n"
                                 "ssl_cert = <%1\n"
                                 "ssl_key = <%2\n")
                      .arg(options_.certFile, options_.keyFile);
    } else {
        config += QStringLiteral("ssl = no\n");
    }
    // No growing delay after failed logins from the same address, so that tests with a wrong
    // password do not slow down the ones after them.
    config += QStringLiteral("service anvil {\n"
                             "  unix_listener anvil-auth-penalty {\n"
                             "    mode = 0\n"
                             "  }\n"
                             "}\n"
                             "service pop3-login {\n"
                             "  inet_listener pop3 {\n"
                             "    port = %1\n"
                             "  }\n"
                             "  inet_listener pop3s {\n"
                             "    port = %2\n"
                             "    ssl = yes\n"
                             "  }\n"
                             "}\n")
                  .arg(port_)
                  .arg(options_.tls ? tlsPort_ : 0);
    if (options_.imap) {
        config += QStringLiteral("service imap-login {\n"
                                 "  inet_listener imap {\n"
                                 "    port = %1\n"
                                 "  }\n"
                                 "  inet_listener imaps {\n"
                                 "    port = %2\n"
                                 "    ssl = yes\n"
                                 "  }\n"
                                 "}\n")
                      .arg(imapPort_)
                      .arg(options_.tls ? imapsPort_ : 0);
        if (!options_.imapCapability.isEmpty())
            config += QStringLiteral("imap_capability = %1\n").arg(options_.imapCapability);
    }
    if (!WriteFile(dir_.filePath(QStringLiteral("dovecot.conf")), config.toUtf8(),
                   kReadableByAll)) {
        *error = QStringLiteral("cannot write the configuration");
        return false;
    }
    return true;
}

// The token passdb checks signatures itself (no introspection server). It looks the key up as
// "shared/<azp>/<alg>/<kid>" in a dictionary; the fs dictionary drops "shared/", and our tokens
// carry neither azp nor kid, so the key file is keys/default/HS256/default: the secret in base64.
bool DovecotServer::writeOAuth2Files(QString* error) {
    const QString keys = dir_.filePath(QStringLiteral("keys/default/HS256"));
    const QString config = QStringLiteral("introspection_mode = local\n"
                                          "local_validation_key_dict = fs:posix:prefix=%1/keys/\n"
                                          "username_attribute = sub\n"
                                          "username_format = %u\n")
                               .arg(dir_.path());
    if (!QDir().mkpath(keys) ||
        !WriteFile(keys + QStringLiteral("/default"), options_.oauth2Secret.toBase64(),
                   kReadableByAll) ||
        !WriteFile(dir_.filePath(QStringLiteral("oauth2.conf")), config.toUtf8(), kReadableByAll)) {
        *error = QStringLiteral("cannot write the token settings");
        return false;
    }
    return true;
}

bool DovecotServer::waitUntilListening(quint16 port) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartTimeoutMs) {
        if (process_.state() != QProcess::Running)
            return false;
        QTcpSocket probe;
        probe.connectToHost(host(), port);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

bool DovecotServer::start(QString* error) {
    return launch(error, false);
}

bool DovecotServer::restart(QString* error) {
    stop();
    return launch(error, true);
}

QString DovecotServer::maildir(const QString& user) const {
    return dir_.filePath(QStringLiteral("mail/") + user + QStringLiteral("/Maildir"));
}

bool DovecotServer::deliver(const QString& user, int number) {
    const QString name =
        QStringLiteral("1700000100.M%1P%2.postlark-delivery").arg(number).arg(::getpid());
    const QString temporary = maildir(user) + QStringLiteral("/tmp/") + name;
    const passwd* account = ::getpwnam("dovecot");
    if (!account || !WriteFile(temporary, Message({user, {}, 0, 0}, number), kReadableByAll) ||
        ::chown(QFile::encodeName(temporary).constData(), account->pw_uid, account->pw_gid) != 0)
        return false;
    return QFile::rename(temporary, maildir(user) + QStringLiteral("/new/") + name);
}

bool DovecotServer::deliverTo(const QString& user, const QString& folder,
                              const QByteArray& message) {
    static int delivered = 0;
    const QString box = maildir(user) + (folder.isEmpty() ? QString() : u'/' + folder);
    const passwd* account = ::getpwnam("dovecot");
    for (const char* sub : {"", "/new", "/cur", "/tmp"}) {
        const QString path = box + QLatin1String(sub);
        if (!account || !QDir().mkpath(path) ||
            ::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid) != 0)
            return false;
    }
    if (!folder.isEmpty() && !WriteFile(box + QStringLiteral("/maildirfolder"), {}, kReadableByAll))
        return false;
    const QString name =
        QStringLiteral("1700000200.M%1P%2.postlark-delivery").arg(++delivered).arg(::getpid());
    const QString temporary = box + QStringLiteral("/tmp/") + name;
    if (!WriteFile(temporary, message, kReadableByAll) ||
        ::chown(QFile::encodeName(temporary).constData(), account->pw_uid, account->pw_gid) != 0)
        return false;
    return QFile::rename(temporary, box + QStringLiteral("/new/") + name);
}

bool DovecotServer::markOneSeen(const QString& user) {
    // The server may have moved the message from new/ to cur/ already, with flags or without.
    for (const char* sub : {"new", "cur"}) {
        const QDir folder(maildir(user) + u'/' + QLatin1String(sub));
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
            const qsizetype info = name.indexOf(QStringLiteral(":2,"));
            if (info >= 0 && name.mid(info + 3).contains(u'S'))
                continue;
            const QString base = info >= 0 ? name.left(info) : name;
            const QString flags = info >= 0 ? name.mid(info + 3) : QString();
            return QFile::rename(folder.filePath(name), maildir(user) + QStringLiteral("/cur/") +
                                                            base + QStringLiteral(":2,") + flags +
                                                            u'S');
        }
    }
    return false;
}

bool DovecotServer::launch(QString* error, bool keepPorts) {
    QString why;
    if (!Available(&why) || !dir_.isValid()) {
        if (error)
            *error = why.isEmpty() ? QStringLiteral("no temporary folder") : why;
        return false;
    }
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        stop();
        if (!keepPorts) {
            const QList<quint16> ports = FreePorts(4);
            if (ports.size() != 4)
                continue;
            port_ = ports[0];
            tlsPort_ = options_.tls ? ports[1] : 0;
            imapPort_ = options_.imap ? ports[2] : 0;
            imapsPort_ = options_.imap && options_.tls ? ports[3] : 0;
        }
        QString problem;
        if (!writeFiles(&problem)) {
            if (error)
                *error = problem;
            return false;
        }
        QFile::remove(dir_.filePath(QStringLiteral("dovecot.log")));
        process_.setStandardOutputFile(dir_.filePath(QStringLiteral("stdout.log")));
        process_.setStandardErrorFile(dir_.filePath(QStringLiteral("stderr.log")));
        process_.start(kDovecot, {QStringLiteral("-F"), QStringLiteral("-c"),
                                  dir_.filePath(QStringLiteral("dovecot.conf"))});
        if (process_.waitForStarted(5000) && waitUntilListening(port_) &&
            (!options_.tls || waitUntilListening(tlsPort_)) &&
            (!imapPort_ || waitUntilListening(imapPort_)) &&
            (!imapsPort_ || waitUntilListening(imapsPort_)))
            return true;
        // Another program may have taken a port between choosing and binding: try again.
        if (!logTail().contains(QStringLiteral("Address already in use")))
            break;
    }
    if (error)
        *error = QStringLiteral("Dovecot did not start:\n") + logTail();
    stop();
    return false;
}

void DovecotServer::requestStop() {
    if (process_.state() != QProcess::NotRunning)
        process_.terminate(); // SIGTERM: dovecot stops its own processes
}

void DovecotServer::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    requestStop();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
    endClientProcesses();
}

// A mail process serving a client outlives the server's main process while its client stays
// connected; a real restart ends it. Its working folder (the user's home) lies in ours.
void DovecotServer::endClientProcesses() {
    const QString ours = dir_.path() + u'/';
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number || pid == ::getpid())
            continue;
        const QString cwd = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
        if ((cwd + u'/').startsWith(ours))
            ::kill(pid, SIGKILL);
    }
}

QString DovecotServer::logTail(int lines) const {
    QString text;
    for (const char* name : {"stderr.log", "dovecot.log"}) {
        QFile file(dir_.filePath(QLatin1String(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    QStringList all = text.split(u'\n', Qt::SkipEmptyParts);
    if (all.size() > lines)
        all = all.mid(all.size() - lines);
    return all.join(u'\n');
}

} // namespace postlark::test
