// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One icon in the notification area: keeps the notification-icon record, adds the icon,
// changes its picture, tip or callback message, and removes it. The icon's mouse events go
// to the window given to Initialize as its callback message. Destroying the object removes
// the icon.
#include "platform/shell/ShellNotify.h"

#include <QObject>
#include <QString>

namespace postlark {

class CSystrayIcon : public QObject {
    Q_OBJECT

public:
    explicit CSystrayIcon(QObject* parent = nullptr);
    ~CSystrayIcon() override;

    // Fills the record and leaves the icon hidden with UpdateOnChange on. Always returns 0.
    long Initialize(win::HWND hWnd, win::HICON hIcon, const QString& sTip,
                    win::UINT uCallbackMessage);

    // Each returns true when the shell accepted the request; false when there was nothing to
    // do (already shown, not shown) or the shell refused (NIError is raised then).
    bool ShowIcon();
    bool HideIcon();
    bool Update();

    // Assignments store the value and, with UpdateOnChange on, send that one field at once.
    void IconHandle(win::HICON hIcon);
    void TipText(const QString& sTip); // cut to 63 characters
    void CallbackMessage(win::UINT uCallbackMessage);

    win::HICON IconHandle() const { return nid_.hIcon; }
    QString TipText() const { return nid_.szTip; }
    win::UINT CallbackMessage() const { return nid_.uCallbackMessage; }

    void UpdateOnChange(bool bUpdate) { updateOnChange_ = bUpdate; }

    bool Visible() const { return shown_; }
    void Visible(bool bVisible);

    // The record as kept (for diagnostics and tests).
    const win::NOTIFYICONDATA& Record() const { return nid_; }

signals:
    // The shell refused an add, change or removal; ErrorNumber is its last-error code.
    void NIError(long ErrorNumber);

private:
    static constexpr win::UINT AllFlags = win::NIF_MESSAGE | win::NIF_ICON | win::NIF_TIP;

    bool UpdateOnChange() const { return updateOnChange_; }
    bool Call(win::DWORD message);
    void SendField(win::UINT flag);

    win::NOTIFYICONDATA nid_;
    bool shown_ = false;
    bool updateOnChange_ = false;
};

} // namespace postlark
