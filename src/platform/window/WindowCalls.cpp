// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/WindowCalls.h"

#include "platform/window/WindowFrame.h"
#include "platform/window/WindowTable.h"

#include <QWidget>

namespace postlark::win {

namespace {

detail::WindowEntry* entryOrError(HWND hWnd) {
    auto* e = detail::Find(hWnd);
    if (!e)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return e;
}

} // namespace

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    auto* e = entryOrError(hWnd);
    if (!e)
        return FALSE_;
    QWidget* w = e->widget;
    const BOOL wasVisible = w->isVisible() ? TRUE_ : FALSE_;
    const bool top = w->isWindow();
    switch (nCmdShow) {
    case SW_HIDE:
        w->hide();
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
        top ? w->showNormal() : w->show();
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        top ? w->showMinimized() : w->show();
        break;
    case SW_SHOWMAXIMIZED:
        top ? w->showMaximized() : w->show();
        break;
    default:
        w->show();
        break;
    }
    return wasVisible;
}

HWND SetParent(HWND hWndChild, HWND hWndNewParent) {
    auto* e = entryOrError(hWndChild);
    if (!e)
        return 0;
    QWidget* newParent = nullptr;
    if (hWndNewParent) {
        newParent = WidgetFromHandle(hWndNewParent);
        if (!newParent) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    QWidget* w = e->widget;
    QWidget* oldParent = w->parentWidget();
    const HWND oldHandle = oldParent ? RegisterWindow(oldParent) : 0;
    const bool shown = !w->isHidden();
    const QRect client = detail::ClientGeometry(w);
    w->setParent(newParent); // Qt hides a widget it re-parents; the window keeps its visibility
    detail::SetClientGeometry(w, client);
    if (shown && newParent)
        w->show();
    return oldHandle;
}

BOOL DestroyWindow(HWND hWnd) {
    auto* e = entryOrError(hWnd);
    if (!e)
        return FALSE_;
    QWidget* w = e->widget;
    const bool owned = e->createdByLayer;
    const bool busy = e->dispatchDepth > 0;
    detail::Unregister(hWnd);
    w->hide();
    if (owned) {
        if (busy)
            w->deleteLater(); // a message to it is still being handled
        else
            delete w;
    }
    return TRUE_;
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
    auto* e = entryOrError(hWnd);
    if (!e)
        return FALSE_;
    detail::SetClientGeometry(e->widget, QRect(X, Y, nWidth, nHeight));
    if (bRepaint)
        e->widget->update();
    return TRUE_;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    auto* e = entryOrError(hWnd);
    if (!e)
        return FALSE_;
    QWidget* w = e->widget;
    QRect r = detail::ClientGeometry(w);
    if (!(uFlags & SWP_NOMOVE))
        r.moveTo(X, Y);
    if (!(uFlags & SWP_NOSIZE))
        r.setSize(QSize(cx, cy));
    if (!(uFlags & SWP_NOMOVE) || !(uFlags & SWP_NOSIZE))
        detail::SetClientGeometry(w, r);
    if (!(uFlags & SWP_NOZORDER)) {
        if (hWndInsertAfter == HWND_TOP)
            w->raise();
        else if (hWndInsertAfter == HWND_BOTTOM)
            w->lower();
    }
    if (uFlags & SWP_FRAMECHANGED)
        detail::ApplyFrame(*e);
    if (uFlags & SWP_SHOWWINDOW)
        w->show();
    else if (uFlags & SWP_HIDEWINDOW)
        w->hide();
    return TRUE_;
}

BOOL SetForegroundWindow(HWND hWnd) {
    auto* e = entryOrError(hWnd);
    if (!e)
        return FALSE_;
    QWidget* w = e->widget->window();
    if (w->isMinimized())
        w->showNormal();
    w->raise();
    w->activateWindow();
    return TRUE_;
}

} // namespace postlark::win
