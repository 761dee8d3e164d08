// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/KeychainKeyring.h"

#include "mail/secrets/SecretServiceState.h"
#include "platform/system/GlibContextPump.h"

#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>

namespace postlark {

namespace {

KeyringResult Failure(const QString& reason, bool notFound = false) {
    KeyringResult result;
    result.notFound = notFound;
    result.error = reason;
    return result;
}

// The result of a failed request, in the program's words. The library reports a locked keyring
// as a missing item (a read) or as denied access (a write), and a missing service as some other
// error; the Secret Service's own state tells them apart.
void Explain(QKeychain::Error error, const QString& text, const Keyring::Done& done) {
    if (error == QKeychain::AccessDeniedByUser) {
        done(Failure(QString::fromLatin1(KeyringRefusedText)));
        return;
    }
    if (error == QKeychain::NoBackendAvailable) {
        done(Failure(QString::fromLatin1(NoKeyringText)));
        return;
    }
    AskSecretServiceState([error, text, done](SecretServiceState state) {
        if (state == SecretServiceState::Absent)
            done(Failure(QString::fromLatin1(NoKeyringText)));
        else if (state == SecretServiceState::Locked)
            done(Failure(QString::fromLatin1(KeyringLockedText)));
        else if (error == QKeychain::EntryNotFound)
            done(Failure(QString::fromLatin1(NoKeyringSecretText), true));
        else if (error == QKeychain::AccessDenied)
            done(Failure(QString::fromLatin1(KeyringRefusedText)));
        else
            done(Failure(QStringLiteral("The keyring failed: %1").arg(text)));
    });
}

// Starts the job and answers through `done` once it has finished. The library finishes its
// work in GLib's main loop, which the pump turns until then; the answer is delivered from Qt's
// event loop afterwards, never from inside GLib's.
void Run(QKeychain::Job* job, const QString& key, Keyring::Done done) {
    job->setKey(key);
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    auto pump = std::make_shared<GlibContextPump>();
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [pump, done = std::move(done)](QKeychain::Job* finished) {
                         KeyringResult result;
                         result.ok = finished->error() == QKeychain::NoError ||
                                     // removing an absent item succeeds
                                     (qobject_cast<QKeychain::DeletePasswordJob*>(finished) &&
                                      finished->error() == QKeychain::EntryNotFound);
                         if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished);
                             read && result.ok)
                             result.secret = read->textData();
                         const QKeychain::Error error = finished->error();
                         const QString text = finished->errorString();
                         QTimer::singleShot(0, [pump, done, result, error, text] {
                             if (result.ok)
                                 done(result);
                             else
                                 Explain(error, text, done);
                         });
                     });
    job->start();
}

} // namespace

void KeychainKeyring::Read(const QString& service, const QString& key, Done done) {
    Run(new QKeychain::ReadPasswordJob(service), key, std::move(done));
}

void KeychainKeyring::Write(const QString& service, const QString& key, const QString& secret,
                            Done done) {
    auto* job = new QKeychain::WritePasswordJob(service);
    job->setTextData(secret);
    Run(job, key, std::move(done));
}

void KeychainKeyring::Delete(const QString& service, const QString& key, Done done) {
    Run(new QKeychain::DeletePasswordJob(service), key, std::move(done));
}

} // namespace postlark

extern "C" __attribute__((visibility("default"))) postlark::Keyring* postlark_new_keyring() {
    return new postlark::KeychainKeyring;
}
