// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/shell/ShellNotify.h"

#include "platform/window/WindowLayer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QWidget>

#include <map>
#include <utility>

namespace postlark::win {

namespace {

using IconKey = std::pair<HWND, UINT>;

struct NotifyIcon {
    QSystemTrayIcon* tray = nullptr;
    bool hasCallback = false;
    UINT callbackMessage = 0;
    QElapsedTimer sinceLeftPress; // a double click starts with a left press
};

// Leaked on purpose: icons and pictures may be looked up from destructors at exit.
std::map<IconKey, NotifyIcon>& Icons() {
    static auto* icons = new std::map<IconKey, NotifyIcon>;
    return *icons;
}

std::map<HICON, QIcon>& Pictures() {
    static auto* pictures = new std::map<HICON, QIcon>;
    return *pictures;
}

HICON lastIconHandle = 0x10000;
std::optional<bool> availabilityOverride;
bool logging = false;

std::vector<ShellNotifyCall>& Log() {
    static auto* log = new std::vector<ShellNotifyCall>;
    return *log;
}

QIcon EmptyPicture() {
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}

QIcon Picture(HICON hIcon) {
    const QIcon icon = IconFromHandle(hIcon);
    return icon.isNull() ? EmptyPicture() : icon;
}

void Remove(const IconKey& key) {
    const auto it = Icons().find(key);
    if (it == Icons().end())
        return;
    QSystemTrayIcon* tray = it->second.tray;
    Icons().erase(it);
    tray->hide();
    tray->deleteLater(); // its activation may be the one being delivered right now
}

void Apply(NotifyIcon& icon, const NOTIFYICONDATA& data) {
    if (data.uFlags & NIF_MESSAGE) {
        icon.hasCallback = true;
        icon.callbackMessage = data.uCallbackMessage;
    }
    if (data.uFlags & NIF_ICON)
        icon.tray->setIcon(Picture(data.hIcon));
    if (data.uFlags & NIF_TIP)
        icon.tray->setToolTip(NotifyIconTip(data.szTip));
}

// Whether Qt's tray icons go to a StatusNotifierItem host on the session bus rather than to an
// XEmbed tray: Qt makes that choice once per process, when a watcher with a registered host is
// on the bus, and so does this.
bool HostedByStatusNotifier() {
    static const bool hosted = [] {
        const char* const watcher = "org.kde.StatusNotifierWatcher";
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface() ||
            !bus.interface()->isServiceRegistered(watcher).value())
            return false;
        QDBusInterface host(watcher, "/StatusNotifierWatcher", watcher, bus);
        return host.isValid() && host.property("IsStatusNotifierHostRegistered").toBool();
    }();
    return hosted;
}

// Clicks are posted, as the shell posts them: the window's handler may remove or delete this
// very icon, which must not happen while Qt is still inside the icon's own event handling.
void OnActivated(const IconKey& key, QSystemTrayIcon::ActivationReason reason) {
    const auto it = Icons().find(key);
    if (it == Icons().end() || !it->second.hasCallback)
        return;
    const HWND hWnd = key.first; // named copies: lambdas below capture them
    const UINT uID = key.second;
    const UINT message = it->second.callbackMessage;
    const auto send = [&](UINT mouse) { PostMessageA(hWnd, message, uID, mouse); };

    switch (reason) {
    case QSystemTrayIcon::Trigger:
        it->second.sinceLeftPress.start();
        send(WM_LBUTTONDOWN);
        // A StatusNotifierItem host reports one activation and never a double click, so the
        // activation also stands for the double click that brings the window back.
        if (HostedByStatusNotifier())
            send(WM_LBUTTONDBLCLK);
        break;
    case QSystemTrayIcon::DoubleClick: {
        // Some tray hosts report the first press of a double click, others only the double
        // click; the window gets exactly one press either way.
        auto& pressed = it->second.sinceLeftPress;
        const bool reported =
            pressed.isValid() &&
            !pressed.hasExpired(QGuiApplication::styleHints()->mouseDoubleClickInterval());
        pressed.invalidate();
        if (!reported)
            send(WM_LBUTTONDOWN);
        send(WM_LBUTTONDBLCLK);
        break;
    }
    case QSystemTrayIcon::Context:
        send(WM_RBUTTONUP);
        break;
    default:
        break;
    }
}

BOOL Add(const NOTIFYICONDATA& data) {
    const IconKey key{data.hWnd, data.uID};
    if (Icons().count(key) != 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE_;
    }
    if (!NotificationAreaAvailable()) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE_;
    }
    auto& icon = Icons()[key];
    // No context menu is set, so Qt shows none of its own: the window decides on the message.
    icon.tray = new QSystemTrayIcon;
    icon.tray->setIcon(EmptyPicture());
    Apply(icon, data);
    QObject::connect(icon.tray, &QSystemTrayIcon::activated, icon.tray,
                     [key](QSystemTrayIcon::ActivationReason reason) { OnActivated(key, reason); });
    // An icon does not outlive its window.
    if (QWidget* window = WidgetFromHandle(data.hWnd))
        QObject::connect(window, &QObject::destroyed, icon.tray, [key] { Remove(key); });
    icon.tray->show();
    return TRUE_;
}

BOOL ModifyOrDelete(DWORD dwMessage, const NOTIFYICONDATA& data) {
    const IconKey key{data.hWnd, data.uID};
    const auto it = Icons().find(key);
    if (it == Icons().end()) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE_;
    }
    if (dwMessage == NIM_MODIFY)
        Apply(it->second, data);
    else
        Remove(key);
    return TRUE_;
}

BOOL Dispatch(DWORD dwMessage, const NOTIFYICONDATA* lpData) {
    if (lpData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    switch (dwMessage) {
    case NIM_ADD:
        return Add(*lpData);
    case NIM_MODIFY:
    case NIM_DELETE:
        return ModifyOrDelete(dwMessage, *lpData);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
}

} // namespace

BOOL Shell_NotifyIconA(DWORD dwMessage, const NOTIFYICONDATA* lpData) {
    const BOOL result = Dispatch(dwMessage, lpData);
    if (logging)
        Log().push_back({dwMessage, lpData ? *lpData : NOTIFYICONDATA{}, result});
    return result;
}

QString NotifyIconTip(const QString& tip) {
    QString cut = tip.left(tip.indexOf(QChar(0)));
    if (cut.size() > NOTIFYICON_TIP_LENGTH) {
        cut.truncate(NOTIFYICON_TIP_LENGTH);
        if (cut.back().isHighSurrogate()) // never half a character
            cut.chop(1);
    }
    return cut;
}

HICON RegisterIcon(const QIcon& icon) {
    const HICON handle = ++lastIconHandle;
    Pictures().emplace(handle, icon);
    return handle;
}

QIcon IconFromHandle(HICON hIcon) {
    const auto it = Pictures().find(hIcon);
    return it == Pictures().end() ? QIcon() : it->second;
}

BOOL DestroyIcon(HICON hIcon) {
    if (Pictures().erase(hIcon) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    return TRUE_;
}

bool NotificationAreaAvailable() {
    return availabilityOverride.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void SetNotificationAreaOverride(std::optional<bool> available) {
    availabilityOverride = available;
}

QSystemTrayIcon* NotifyIconObject(HWND hWnd, UINT uID) {
    const auto it = Icons().find({hWnd, uID});
    return it == Icons().end() ? nullptr : it->second.tray;
}

void SetShellNotifyLogging(bool on) {
    logging = on;
    Log().clear();
}

const std::vector<ShellNotifyCall>& ShellNotifyLog() {
    return Log();
}

} // namespace postlark::win
