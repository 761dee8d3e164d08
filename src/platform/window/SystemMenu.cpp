// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/SystemMenu.h"

#include "platform/window/WindowLayer.h"
#include "platform/window/WindowTable.h"

#include <QCoreApplication>
#include <QMenu>
#include <QWidget>
#include <map>

namespace postlark::win {

namespace {

struct Menu {
    HWND owner = 0;
    std::vector<SystemMenuItem> items;
};

std::map<HMENU, Menu>& menus() {
    static std::map<HMENU, Menu> all;
    return all;
}

std::map<HWND, HMENU>& menuOfWindow() {
    static std::map<HWND, HMENU> all;
    return all;
}

std::vector<SystemMenuItem> standardItems() {
    return {{MF_STRING, SC_RESTORE, QStringLiteral("&Restore")},
            {MF_STRING, SC_MINIMIZE, QStringLiteral("Mi&nimize")},
            {MF_SEPARATOR, 0, QString()},
            {MF_STRING, SC_CLOSE, QStringLiteral("&Close")}};
}

Menu* menuFor(HWND hWnd) {
    auto it = menuOfWindow().find(hWnd);
    return it == menuOfWindow().end() ? nullptr : &menus()[it->second];
}

// Restore only applies to a minimized or maximized window, Minimize not to a minimized one.
bool commandApplies(QWidget* w, UINT_PTR id) {
    const bool minimized = w->isMinimized();
    const bool maximized = w->isMaximized();
    switch (id & 0xFFF0) {
    case SC_RESTORE:
        return minimized || maximized || !w->isVisible();
    case SC_MINIMIZE:
        return !minimized;
    default:
        return true;
    }
}

} // namespace

HMENU GetSystemMenu(HWND hWnd, BOOL bRevert) {
    if (!IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    static HMENU next = 0x20000;
    Menu* menu = menuFor(hWnd);
    if (!menu) {
        const HMENU hMenu = next;
        next += 4;
        menus()[hMenu] = Menu{hWnd, standardItems()};
        menuOfWindow()[hWnd] = hMenu;
        menu = &menus()[hMenu];
        // From now on the window's context menu is its system menu.
        detail::Find(hWnd)->contextMenu = [hWnd](const QPoint& globalPos) {
            ShowSystemMenu(hWnd, globalPos);
        };
    }
    if (bRevert) {
        menu->items = standardItems();
        return 0;
    }
    return menuOfWindow()[hWnd];
}

BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, const char* lpNewItem) {
    auto it = menus().find(hMenu);
    if (it == menus().end() || !IsWindow(it->second.owner)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE_;
    }
    if (uFlags & MF_SEPARATOR)
        it->second.items.push_back({uFlags, 0, QString()});
    else
        it->second.items.push_back(
            {uFlags, uIDNewItem, QString::fromLatin1(lpNewItem ? lpNewItem : "")});
    return TRUE_;
}

std::vector<SystemMenuItem> SystemMenuItems(HWND hWnd) {
    const Menu* menu = menuFor(hWnd);
    return menu ? menu->items : std::vector<SystemMenuItem>{};
}

BOOL HasSystemMenu(HWND hWnd) {
    return IsWindow(hWnd) && menuFor(hWnd) ? TRUE_ : FALSE_;
}

QMenu* ShowSystemMenu(HWND hWnd, const QPoint& globalPos) {
    QWidget* owner = WidgetFromHandle(hWnd);
    const Menu* menu = menuFor(hWnd);
    if (!owner || !menu)
        return nullptr;
    auto* popup = new QMenu(owner);
    popup->setObjectName(QStringLiteral("SystemMenu"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    for (const SystemMenuItem& item : menu->items) {
        if (item.flags & MF_SEPARATOR) {
            popup->addSeparator();
            continue;
        }
        QAction* action = popup->addAction(item.text);
        action->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)) &&
                           commandApplies(owner, item.id));
        if (item.flags & MF_CHECKED) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        const UINT_PTR id = item.id;
        // The command arrives once the menu has closed, as the system sends it.
        QObject::connect(action, &QAction::triggered, qApp, [hWnd, id] {
            QMetaObject::invokeMethod(
                qApp, [hWnd, id] { detail::SendFromEventLoop(hWnd, WM_SYSCOMMAND, id, 0); },
                Qt::QueuedConnection);
        });
    }
    popup->popup(globalPos);
    return popup;
}

} // namespace postlark::win
