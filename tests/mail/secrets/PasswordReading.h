// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a stored account's password as the check finds it (where the rule puts it), waiting in
// the event loop, and deciphers it.
#include "mail/secrets/AccountSecrets.h"
#include "store/PassCryptModule.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <optional>

namespace postlark::test {

// The password, or nullopt with the reason the keyring gave.
inline std::optional<std::string> ReadPassword(long account, const std::string& applicationKey,
                                               QString* reason = nullptr) {
    std::optional<SecretRead> read;
    ReadAccountSecret(static_cast<std::int16_t>(account), StoredAccountValues(account),
                      applicationKey, [&](SecretRead answer) {
                          read = std::move(answer);
                          QAbstractEventDispatcher::instance()->wakeUp();
                      });
    while (!read)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (reason)
        *reason = read->error;
    if (!read->ok)
        return std::nullopt;
    std::string key = applicationKey;
    return PassCryptModule::DecryptText(read->storedPassword, key);
}

} // namespace postlark::test
