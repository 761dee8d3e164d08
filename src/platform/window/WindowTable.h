// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The handle table as the window layer's own files see it: one entry per registered widget.
#include "platform/window/WindowLayer.h"

#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

namespace postlark::win::detail {

struct WindowEntry {
    HWND handle = 0;
    const QWidget* key = nullptr; // the widget's address, for the reverse map
    QPointer<QWidget> widget;
    // Keyed by the upper-cased name: the name as first given, and the value.
    std::map<std::string, std::pair<std::string, HANDLE>> props;
    WNDPROC proc = nullptr;
    LONG_PTR style = 0;
    LONG_PTR exStyle = 0;
    DWORD processId = 0;
    DWORD threadId = 0;
    bool createdByLayer = false;        // made by CreateWindowExA, so DestroyWindow deletes it
    int dispatchDepth = 0;              // messages being delivered to it right now
    unsigned long defaultMinimizes = 0; // SC_MINIMIZE commands the default procedure carried out
    MouseMoveHandler mouseMove;
    std::function<void(const QPoint& globalPos)> contextMenu; // set once it has a system menu
};

// Implemented by window classes that draw the WS_EX_ edges themselves; other frames are
// drawn by QFrame.
class EdgeDrawing {
public:
    virtual ~EdgeDrawing() = default;
    virtual void applyExStyle(LONG_PTR exStyle) = 0;
};

// The live entry for a handle or a widget, or nullptr.
WindowEntry* Find(HWND hWnd);
WindowEntry* Find(const QWidget* widget);
// Registers a widget with the given window procedure (RegisterWindow uses DefWindowProcA).
HWND Register(QWidget* widget, WNDPROC initialProc);
// Drops the entry; the handle is never valid again.
void Unregister(HWND hWnd);

// Sends a message on behalf of the event loop: a failure raised by a handler is reported as a
// warning instead of unwinding through Qt's event dispatch. Returns false when it failed.
bool SendFromEventLoop(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

} // namespace postlark::win::detail
