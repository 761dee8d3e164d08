#pragma once
// The handle table: Qt widgets registered with the layer get an HWND, a property list and a
// window procedure chain, so that code written against window messages runs on Qt.
#include "platform/Win32Types.h"

class QWidget;

namespace postlark::win {

// Registers a widget (idempotent) and returns its handle; the entry goes when the widget dies.
HWND RegisterWindow(QWidget* widget);
// The widget behind a handle, or nullptr when the handle is not a live window of ours.
QWidget* WidgetFromHandle(HWND hWnd);

BOOL IsWindow(HWND hWnd);
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

DWORD GetLastError();
void SetLastError(DWORD error);

} // namespace postlark::win
