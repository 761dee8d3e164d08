// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the new-mail alerts need from the main window.
#include "mail/arrivals/AccountNews.h"
#include "platform/base/Win32Types.h"

#include <QString>

namespace postlark {

class AlertTarget {
public:
    virtual ~AlertTarget() = default;

    virtual int AccountRowCount() const = 0;
    // The text of a row of the account list (counted from 0): the account's address.
    virtual QString AccountRowText(int row) const = 0;
    virtual win::HWND Handle() const = 0;
    // Starts the flashing icon with the given tip, showing the icon if it is not shown.
    virtual void StartTrayAlert(const QString& tip) = 0;
    virtual bool TrayIconVisible() const = 0;
    // The "&Show" command: switches between the shown and hidden display states.
    virtual void menu_Show_Click() = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // Shows the desktop's own notification, replacing the one shown before.
    virtual void ShowDesktopNotification(const QString& summary, const QString& body) = 0;
    // The number of new messages drawn on the tray icon's pictures; 0 draws none.
    virtual void ShowNewMailCount(int count) = 0;
    // What has been read of the account's new messages since the last notification (senders,
    // subjects), handed over once; nothing when none was read.
    virtual AccountNews TakeNews(int account) {
        (void)account;
        return {};
    }
};

} // namespace postlark
