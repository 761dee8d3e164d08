// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private session bus (dbus-daemon) and, on a test's X display, the notification server
// dunst on it, started with -print so that every notification it receives can be read back.
// Everything started here is stopped when the object goes.
#include "support/XServer.h"

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

namespace postlark::test {

class NotificationServer {
public:
    struct Notification {
        QString appName;
        QString summary;
        QString body;
        quint32 id = 0;
        bool picture = false; // the notification carried its own picture (image-data)
        QStringList actions;  // the names of its actions ("default", ...)
    };

    // With `x` a notification server runs on its display; without, the bus has none. With
    // `markup` the server reads markup in the body (as desktop servers do), else plain text.
    explicit NotificationServer(const XServer* x, bool markup = true);
    ~NotificationServer();
    NotificationServer(const NotificationServer&) = delete;
    NotificationServer& operator=(const NotificationServer&) = delete;

    // Empty when the programs it needs are installed; otherwise what is missing.
    static QString missingPrograms();
    // Empty when everything asked for is running; otherwise why not.
    QString failure() const { return failure_; }
    QString busAddress() const { return address_; }

    // `base` (a display's environment, say) pointed at this bus.
    QProcessEnvironment environment(QProcessEnvironment base) const;

    // Every notification the server has received so far, in order.
    QList<Notification> received();
    // Runs the event loop until `count` notifications have arrived; whether they did.
    bool waitForReceived(int count, int timeoutMs);
    // Chooses the newest notification shown, as a click on it does (its default action).
    bool invokeDefaultAction();

private:
    QString dunstctl(const QStringList& arguments) const;

    QString failure_;
    QString address_;
    QProcessEnvironment environment_;
    QProcess bus_;
    QTemporaryFile config_;
    QProcess server_;
    QByteArray printed_;
};

} // namespace postlark::test
