// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/SecretServiceState.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>

namespace postlark {

namespace {

constexpr int kAnswerTime = 10000; // ms

bool NoService(QDBusError::ErrorType type) {
    switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
        return true;
    default:
        return false;
    }
}

} // namespace

void AskSecretServiceState(std::function<void(SecretServiceState)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, [done = std::move(done)] { done(SecretServiceState::Absent); });
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"),
        QStringLiteral("/org/freedesktop/secrets/aliases/default"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kAnswerTime));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [done = std::move(done)](QDBusPendingCallWatcher* answered) {
                         answered->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *answered;
                         if (reply.isError()) {
                             // Any other error: the service runs but has no default keyring.
                             done(NoService(reply.error().type()) ? SecretServiceState::Absent
                                                                  : SecretServiceState::Locked);
                             return;
                         }
                         done(reply.value().variant().toBool() ? SecretServiceState::Locked
                                                               : SecretServiceState::Open);
                     });
}

} // namespace postlark
