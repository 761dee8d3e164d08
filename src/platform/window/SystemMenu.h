// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Each window's system menu: the standard Restore, Minimize and Close plus the items a program
// appends. It is shown as the window's context menu; choosing an item sends WM_SYSCOMMAND with
// the item's identifier through the window's procedure chain.
#include "platform/base/Win32Types.h"

#include <QString>
#include <vector>

class QMenu;
class QPoint;

namespace postlark::win {

// The window's system menu (made on first use). With bRevert true the menu goes back to the
// standard items and the result is 0.
HMENU GetSystemMenu(HWND hWnd, BOOL bRevert);
// Appends a text item (MF_STRING, optionally MF_GRAYED/MF_DISABLED/MF_CHECKED) or a separator.
BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, const char* lpNewItem);

struct SystemMenuItem {
    UINT flags;
    UINT_PTR id;
    QString text;
};

// The window's items, empty when it has no system menu yet.
std::vector<SystemMenuItem> SystemMenuItems(HWND hWnd);
BOOL HasSystemMenu(HWND hWnd);
// Pops the menu up at a global position; returns it (it deletes itself when closed), or
// nullptr when the window has no system menu.
QMenu* ShowSystemMenu(HWND hWnd, const QPoint& globalPos);

} // namespace postlark::win
