// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One desktop notification of a program, shown through the freedesktop notification server
// (org.freedesktop.Notifications on the session bus). Each Show replaces the notification this
// object showed before instead of adding another. Every call is asynchronous: a missing or
// hung server never holds up the caller; it is reported by Unavailable.
#include <QIcon>
#include <QObject>
#include <QString>

#include <optional>

class QDBusConnection;

namespace postlark {

class DesktopNotification : public QObject {
    Q_OBJECT
public:
    // `appName` names the program to the server, `desktopEntry` is its desktop file's name
    // without ".desktop", `icon` its picture (sent with the notification, so it shows whether or
    // not the program's icon is installed in the theme). `busAddress` empty means the session
    // bus; tests give the address of a private one.
    DesktopNotification(QString appName, QString desktopEntry, QIcon icon, QString busAddress = {},
                        QObject* parent = nullptr);
    ~DesktopNotification() override;

    // Shows the notification with its default action, replacing the one shown before. Body
    // text is shown as it stands (markup characters are escaped for servers that read markup).
    // With `openAction`, a server that offers actions also shows an "Open" button.
    void Show(const QString& summary, const QString& body, bool openAction = false);

    // The server's id of the notification shown last; 0 before a server has answered.
    quint32 Id() const { return id_; }

signals:
    // The user chose the notification itself (its default action).
    void DefaultAction();
    // The user chose its "Open" button.
    void OpenAction();
    // A notification could not be shown: no server answered, or it refused. `reason` is the
    // bus's error text.
    void Unavailable(const QString& reason);

private slots:
    void OnActionInvoked(uint id, const QString& action);

private:
    struct Content {
        QString summary;
        QString body;
        bool openAction = false;
    };
    QDBusConnection Bus() const;
    void AskCapabilities(const Content& first);
    void Send(const Content& content);
    // A request has ended (`error` empty when it succeeded); the queued content goes next.
    void Done(const QString& error);

    const QString appName_;
    const QString desktopEntry_;
    const QIcon icon_;
    const QString connectionName_;
    quint32 id_ = 0;
    std::optional<bool> markup_;    // whether the server reads markup in the body; unknown first
    bool actions_ = false;          // whether it shows action buttons (known with markup_)
    bool waiting_ = false;          // a request is on its way
    std::optional<Content> queued_; // the latest content asked for meanwhile
};

} // namespace postlark
