// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/CSystrayIcon.h"

#include "platform/window/WindowLayer.h"

namespace postlark {

CSystrayIcon::CSystrayIcon(QObject* parent) : QObject(parent) {}

CSystrayIcon::~CSystrayIcon() {
    HideIcon();
}

long CSystrayIcon::Initialize(win::HWND hWnd, win::HICON hIcon, const QString& sTip,
                              win::UINT uCallbackMessage) {
    // An icon shown under the old record would be left behind with nothing to remove it.
    HideIcon();
    nid_.cbSize = win::NOTIFYICONDATA_V1_SIZE;
    nid_.hWnd = hWnd;
    nid_.uID = 1;
    nid_.uFlags = AllFlags;
    nid_.uCallbackMessage = uCallbackMessage;
    nid_.hIcon = hIcon;
    nid_.szTip = win::NotifyIconTip(sTip);
    shown_ = false;
    updateOnChange_ = true;
    return 0;
}

bool CSystrayIcon::ShowIcon() {
    if (shown_)
        return false;
    const bool accepted = Call(win::NIM_ADD);
    if (accepted)
        shown_ = true;
    return accepted;
}

bool CSystrayIcon::HideIcon() {
    if (!shown_)
        return false;
    // A refused delete means the shell no longer has the icon (its host restarted, say): it is
    // not shown either way, and ShowIcon must be able to add it again.
    shown_ = false;
    return Call(win::NIM_DELETE);
}

bool CSystrayIcon::Update() {
    if (!shown_)
        return false;
    return Call(win::NIM_MODIFY);
}

void CSystrayIcon::IconHandle(win::HICON hIcon) {
    nid_.hIcon = hIcon;
    SendField(win::NIF_ICON);
}

void CSystrayIcon::TipText(const QString& sTip) {
    nid_.szTip = win::NotifyIconTip(sTip);
    SendField(win::NIF_TIP);
}

void CSystrayIcon::CallbackMessage(win::UINT uCallbackMessage) {
    nid_.uCallbackMessage = uCallbackMessage;
    SendField(win::NIF_MESSAGE);
}

void CSystrayIcon::Visible(bool bVisible) {
    if (bVisible)
        ShowIcon();
    else
        HideIcon();
}

bool CSystrayIcon::Call(win::DWORD message) {
    if (win::Shell_NotifyIconA(message, &nid_))
        return true;
    emit NIError(static_cast<long>(win::GetLastError()));
    return false;
}

void CSystrayIcon::SendField(win::UINT flag) {
    if (!UpdateOnChange())
        return;
    nid_.uFlags = flag;
    Update();
    nid_.uFlags = AllFlags;
}

} // namespace postlark
