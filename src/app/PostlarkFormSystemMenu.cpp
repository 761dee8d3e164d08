// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's system menu: an About item, and minimize hiding the window to the tray.
// Both arrive as WM_SYSCOMMAND through the window's subclass.
#include "app/PostlarkForm.h"

#include "dialogs/AboutForm.h"
#include "dialogs/UpdateForm.h"
#include "platform/window/SystemMenu.h"
#include "winsupport/CSystrayIcon.h"
#include "winsupport/MSubclass.h"

#include <QTimer>

namespace postlark {

namespace {

constexpr win::UINT_PTR kAboutCommand = 1;

} // namespace

void PostlarkForm::ExtendSystemMenu() {
    const win::HMENU menu = win::GetSystemMenu(hWnd_, win::FALSE_);
    win::AppendMenuA(menu, win::MF_SEPARATOR, 0, nullptr);
    win::AppendMenuA(menu, win::MF_STRING, kAboutCommand, "&About Postlark...");
    MSubclass::AttachMessage(this, hWnd_, win::WM_SYSCOMMAND);
    sysCommandsAttached_ = true;
}

void PostlarkForm::DetachSystemCommands() {
    if (!sysCommandsAttached_)
        return;
    sysCommandsAttached_ = false;
    MSubclass::DetachMessage(this, hWnd_, win::WM_SYSCOMMAND);
}

win::LRESULT PostlarkForm::WindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam,
                                      win::LPARAM lParam) {
    if (iMsg != win::WM_SYSCOMMAND)
        return 0;
    if (wParam == kAboutCommand) {
        menu_About_Click();
        return 0;
    }
    // The low four bits of a system command are the system's own.
    if ((wParam & 0xFFF0) == win::SC_MINIMIZE) {
        // Hidden only with a tray icon to come back by; without a notification area the
        // window is minimized as usual.
        if (sysIcon_->ShowIcon() || sysIcon_->Visible()) {
            trayRetry_->stop();
            hide();
            SetShowChecked(false);
            return 0;
        }
    }
    return MSubclass::CallOldWindowProc(hWnd, iMsg, wParam, lParam);
}

void PostlarkForm::menu_About_Click() {
    AboutForm about(this, [this] { menu_Updates_Click(); });
    about.exec();
}

void PostlarkForm::menu_Updates_Click() {
    UpdateForm updates(this);
    updates.exec();
}

} // namespace postlark
