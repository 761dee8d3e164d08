// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The handle table: Qt widgets registered with the layer get an HWND, a property list and a
// window procedure chain, so that code written against window messages runs on Qt.
#include "platform/base/LastError.h"
#include "platform/base/Win32Types.h"

#include <functional>

class QWidget;

namespace postlark::win {

// Registers a widget (idempotent) and returns its handle; the entry goes when the widget dies.
HWND RegisterWindow(QWidget* widget);
// The widget behind a handle, or nullptr when the handle is not a live window of ours.
QWidget* WidgetFromHandle(HWND hWnd);

BOOL IsWindow(HWND hWnd);
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues the message and returns at once; it is delivered from the event loop once the current
// event has been handled, and a failure raised by its handler is reported, not propagated.
// A message for a window that is gone by then is dropped. FALSE for an unknown handle.
BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Window procedures. Every registered window starts with DefWindowProcA (or its class's
// procedure); GWL_WNDPROC replaces it, and CallWindowProcA calls a procedure directly.
LRESULT DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcA(WNDPROC proc, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// GWL_WNDPROC (the procedure's address), GWL_STYLE and GWL_EXSTYLE. An unknown handle gives 0
// with ERROR_INVALID_WINDOW_HANDLE, an unknown index 0 with ERROR_INVALID_INDEX.
LONG_PTR GetWindowLongA(HWND hWnd, int index);
// Returns the previous value (0 and the last error on failure).
LONG_PTR SetWindowLongA(HWND hWnd, int index, LONG_PTR newLong);

// The window's property list; names compare without regard to case, as atoms do.
HANDLE GetPropA(HWND hWnd, const char* name);
BOOL SetPropA(HWND hWnd, const char* name, HANDLE data);
HANDLE RemovePropA(HWND hWnd, const char* name);
// Calls the function for each property until it returns FALSE; returns its last result, or -1
// when there was no property.
using PROPENUMPROCA = BOOL (*)(HWND hWnd, const char* name, HANDLE data);
int EnumPropsA(HWND hWnd, PROPENUMPROCA lpEnumFunc);

DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* processId);
DWORD GetCurrentProcessId();

// What the default procedure does with WM_MOUSEMOVE: the form's mouse-move event, with the
// buttons (1 left, 2 right, 4 middle) and shift keys (1 shift, 2 control) held and the
// position in pixels taken from lParam as signed 16-bit halves.
using MouseMoveHandler = std::function<void(int button, int shift, int x, int y)>;
void SetMouseMoveHandler(HWND hWnd, MouseMoveHandler handler);

// Makes a window report another owning process, standing in for a window of another program.
void SetWindowProcessId(HWND hWnd, DWORD processId);

} // namespace postlark::win
