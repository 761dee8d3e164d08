// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/KeyringWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <memory>
#include <optional>

namespace postlark {

KeyringResult WaitForKeyring(const std::function<void(Keyring::Done)>& start) {
    // Shared with the callback, which a keyring may keep after it has answered.
    auto answer = std::make_shared<std::optional<KeyringResult>>();
    start([answer](KeyringResult result) {
        *answer = std::move(result);
        // An answer that came as a posted event would otherwise leave the dispatcher asleep.
        if (auto* dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->wakeUp();
    });
    while (!*answer)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return std::move(**answer);
}

KeyringResult ReadAndWait(Keyring& keyring, const QString& service, const QString& key) {
    return WaitForKeyring([&](Keyring::Done done) { keyring.Read(service, key, std::move(done)); });
}

KeyringResult WriteAndWait(Keyring& keyring, const QString& service, const QString& key,
                           const QString& secret) {
    return WaitForKeyring(
        [&](Keyring::Done done) { keyring.Write(service, key, secret, std::move(done)); });
}

KeyringResult DeleteAndWait(Keyring& keyring, const QString& service, const QString& key) {
    return WaitForKeyring(
        [&](Keyring::Done done) { keyring.Delete(service, key, std::move(done)); });
}

} // namespace postlark
