// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/shell/DesktopNotification.h"

#include <QAtomicInteger>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QImage>
#include <QStringList>
#include <QVariantMap>

#include <utility>

namespace postlark {

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 10000;
constexpr int kImageSize = 64;

QString PrivateConnectionName() {
    static QAtomicInteger<int> next = 0;
    return QStringLiteral("postlark-notifications-%1").arg(next.fetchAndAddRelaxed(1));
}

// The picture as the "image-data" hint carries it: width, height, row length, alpha, bits per
// sample, channels, then the RGBA bytes.
QDBusArgument ImageData(const QIcon& icon) {
    const QImage image =
        icon.pixmap(kImageSize, kImageSize).toImage().convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument data;
    data.beginStructure();
    data << image.width() << image.height() << int(image.bytesPerLine()) << true << 8 << 4
         << QByteArray(reinterpret_cast<const char*>(image.constBits()),
                       qsizetype(image.sizeInBytes()));
    data.endStructure();
    return data;
}

} // namespace

DesktopNotification::DesktopNotification(QString appName, QString desktopEntry, QIcon icon,
                                         QString busAddress, QObject* parent)
    : QObject(parent), appName_(std::move(appName)), desktopEntry_(std::move(desktopEntry)),
      icon_(std::move(icon)),
      connectionName_(busAddress.isEmpty() ? QString() : PrivateConnectionName()) {
    QDBusConnection bus = connectionName_.isEmpty()
                              ? QDBusConnection::sessionBus()
                              : QDBusConnection::connectToBus(busAddress, connectionName_);
    // The server sends its signals to the connection that showed the notification; the match
    // follows the service to whichever program owns it, now or later.
    bus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                SLOT(OnActionInvoked(uint, QString)));
}

DesktopNotification::~DesktopNotification() {
    if (!connectionName_.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName_);
}

QDBusConnection DesktopNotification::Bus() const {
    return connectionName_.isEmpty() ? QDBusConnection::sessionBus()
                                     : QDBusConnection(connectionName_);
}

void DesktopNotification::Show(const QString& summary, const QString& body, bool openAction) {
    const Content content{summary, body, openAction};
    if (waiting_) {
        queued_ = content; // only the newest counts; it replaces the one on its way
        return;
    }
    waiting_ = true;
    if (!Bus().isConnected()) {
        // No call can go out; the answer comes from the event loop all the same.
        QString reason = Bus().lastError().message();
        if (reason.isEmpty())
            reason = QStringLiteral("The session bus cannot be reached");
        QMetaObject::invokeMethod(
            this, [this, reason] { Done(reason); }, Qt::QueuedConnection);
        return;
    }
    if (markup_)
        Send(content);
    else
        AskCapabilities(content);
}

void DesktopNotification::AskCapabilities(const Content& first) {
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
    auto* watcher = new QDBusPendingCallWatcher(Bus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, first] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError()) {
            Done(reply.error().message());
            return;
        }
        markup_ = reply.value().contains("body-markup");
        actions_ = reply.value().contains("actions");
        Send(first);
    });
}

void DesktopNotification::Send(const Content& content) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    QVariantMap hints;
    hints.insert("desktop-entry", desktopEntry_);
    hints.insert("category", QStringLiteral("email.arrived"));
    hints.insert("image-data", QVariant::fromValue(ImageData(icon_)));
    const QString body = *markup_ ? content.body.toHtmlEscaped() : content.body;
    QStringList actions{"default", "Show"};
    if (content.openAction && actions_)
        actions << "open"
                << "Open";
    call << appName_ << id_ << desktopEntry_ << content.summary << body << actions << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(Bus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (!reply.isError())
            id_ = reply.value();
        Done(reply.isError() ? reply.error().message() : QString());
    });
}

void DesktopNotification::Done(const QString& error) {
    waiting_ = false;
    if (!error.isEmpty()) {
        markup_.reset(); // a server that starts later is asked afresh
        emit Unavailable(error);
    }
    if (queued_) {
        const Content next = *std::exchange(queued_, std::nullopt);
        Show(next.summary, next.body, next.openAction);
    }
}

void DesktopNotification::OnActionInvoked(uint id, const QString& action) {
    if (id == 0 || id != id_)
        return;
    if (action == QLatin1String("default"))
        emit DefaultAction();
    else if (action == QLatin1String("open"))
        emit OpenAction();
}

} // namespace postlark
