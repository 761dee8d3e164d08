// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the probes for one stored account over a real socket, the way a check run does:
// connect, then sleep in an event loop until the socket reads closed or error. The server field
// chooses the POP3 or the IMAP probe.
#include "mail/check/AccountWait.h"
#include "mail/check/MailLink.h"
#include "mail/dialogue/CheckVerdicts.h"
#include "mail/imap/ImapProbe.h"
#include "mail/pop3/Pop3Probe.h"
#include "platform/net/Winsock.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <QTimer>

#include <vector>

namespace postlark::test {

class ProbeHarness {
public:
    ProbeHarness()
        : link_(socket_, verdicts_), probe_(link_, BuildApplicationKey(), verdicts_),
          imap_(link_, BuildApplicationKey(), verdicts_) {
        link_.Attach(probe_);
        link_.AttachImap(imap_);
    }

    // Stores account 0 (replacing what an earlier call stored) with the password enciphered by
    // the application key.
    void StoreAccount(const std::string& server, const std::string& user,
                      const std::string& password) {
        std::string key = BuildApplicationKey();
        StoreAccountRaw(server, user, PassCryptModule::EncryptText(password, key));
    }
    void StoreAccountRaw(const std::string& server, const std::string& user,
                         const std::string& storedPassword) {
        const AccountRecord record{"someone@example.invalid", server, user, storedPassword, ""};
        std::vector<SettingsStore::Change> changes;
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            changes.push_back(
                SettingsStore::Change::Set(AccountKey(AccountFields[f], 0), record.Field(f)));
        changes.push_back(SettingsStore::Change::Set(NumAcctsKey, "1"));
        SettingsStore::Apply(changes);
    }

    // Probes account 0 at `server`, with `credentials` when given; gives up (and fails) after
    // 15 s.
    void Run(const QString& server, std::optional<StoredCredentials> credentials = std::nullopt) {
        verdicts_.ResetResults(1);
        link_.Begin(0, server, std::move(credentials));
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &guard, [this] {
            timedOut_ = true;
            socket_.Close();
        });
        guard.start(15000);
        WaitWhileConnected(socket_);
    }

    int Result() const { return verdicts_.CheckResults.at(0); }
    std::string Count() const { return verdicts_.MessageCounts.at(0); }
    bool TimedOut() const { return timedOut_; }
    // Why the IMAP dialogue failed, when it found out itself.
    QString ImapReason() const { return imap_.FailureReason(); }
    // Why the dialogue of either protocol failed, when it found out itself.
    QString Reason() const { return link_.FailureReason(); }
    bool TokenRefused() const { return link_.TokenRefused(); }
    Winsock& Socket() { return socket_; }
    ImapProbe& Imap() { return imap_; }
    Pop3Probe& Pop3() { return probe_; }
    // Ends the dialogue as a check run gives up a silent server, or as a Skip does.
    void GiveUp() { link_.ConnectionLost(); }

private:
    TestEnvironment env_;
    Winsock socket_;
    CheckVerdicts verdicts_;
    MailLink link_;
    Pop3Probe probe_;
    ImapProbe imap_;
    bool timedOut_ = false;
};

} // namespace postlark::test
