// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Notification-area icons in the shape of Shell_NotifyIconA, one QSystemTrayIcon per
// (hWnd, uID). Mouse events over an icon come back to hWnd as its callback message, with the
// icon's uID in wParam and the mouse message in lParam: WM_LBUTTONDOWN (513) for a left press,
// 513 then WM_LBUTTONDBLCLK (515) for a double click, WM_RBUTTONUP (517) for a right click.
// They are posted (see PostMessageA), never sent from inside the icon's own event handling.
// Where the icon is hosted through StatusNotifierItem (no double click exists there), an
// activation arrives as 513 followed by 515.
// Icon pictures are QIcons registered here under an icon handle.
#include "platform/base/Win32Types.h"

#include <QIcon>
#include <QString>

#include <optional>
#include <vector>

class QSystemTrayIcon;

namespace postlark::win {

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;

constexpr UINT NIF_MESSAGE = 1;
constexpr UINT NIF_ICON = 2;
constexpr UINT NIF_TIP = 4;

// The size of the record in its first form; tips hold up to 63 characters.
constexpr DWORD NOTIFYICONDATA_V1_SIZE = 88;
constexpr int NOTIFYICON_TIP_LENGTH = 63;

// Last-error codes of Shell_NotifyIconA.
constexpr DWORD ERROR_ALREADY_EXISTS = 183;      // NIM_ADD for an icon that is already there
constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062; // NIM_ADD with no notification area running
constexpr DWORD ERROR_NOT_FOUND = 1168;          // NIM_MODIFY or NIM_DELETE of an unknown icon

// The notification-icon record. The tip is text (callers convert stored bytes with the one
// conversion module); only its first 63 characters are used.
struct NOTIFYICONDATA {
    DWORD cbSize = 0;
    HWND hWnd = 0;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = 0;
    QString szTip;
};

// Adds, changes or removes an icon; only the fields named in uFlags are taken. Returns TRUE
// on success, else FALSE with GetLastError set (ERROR_INVALID_PARAMETER for a null record or
// an unknown message). An icon goes away by itself when its window is destroyed.
BOOL Shell_NotifyIconA(DWORD dwMessage, const NOTIFYICONDATA* lpData);

// The tip as the record holds it: up to the first NUL, at most 63 characters.
QString NotifyIconTip(const QString& tip);

// Icon handles: a registered picture gets a handle (never 0) that the record can carry. The
// shell copies the picture, so destroying a handle leaves icons that show it unchanged.
// A handle that names no picture shows an empty one.
HICON RegisterIcon(const QIcon& icon);
QIcon IconFromHandle(HICON hIcon);
BOOL DestroyIcon(HICON hIcon);

// --- For diagnostics and tests ---

// Whether a notification area is present: a tray host is running. Tests may pretend either
// way (std::nullopt goes back to asking the desktop).
bool NotificationAreaAvailable();
void SetNotificationAreaOverride(std::optional<bool> available);

// The Qt icon behind (hWnd, uID), or nullptr when the shell shows no such icon.
QSystemTrayIcon* NotifyIconObject(HWND hWnd, UINT uID);

// A log of Shell_NotifyIconA calls with the record as passed and the answer. Turning the log
// on empties it.
struct ShellNotifyCall {
    DWORD message;
    NOTIFYICONDATA data;
    BOOL result;
};
void SetShellNotifyLogging(bool on);
const std::vector<ShellNotifyCall>& ShellNotifyLog();

} // namespace postlark::win
