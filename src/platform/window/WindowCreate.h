// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Window classes and CreateWindowExA: a class names a widget factory and a class procedure.
#include "platform/base/Win32Types.h"

#include <functional>

class QWidget;

namespace postlark::win {

// Makes the widget for a new window of a class (parent may be null; style as given).
using WindowFactory = std::function<QWidget*(QWidget* parent, DWORD style)>;

// Registers a window class; class names compare without regard to case.
void RegisterWindowClass(const char* className, WindowFactory factory, WNDPROC classProc);
BOOL IsWindowClassRegistered(const char* className);

// Creates a window of a registered class: the widget, its handle with the class procedure,
// style and extended style, placed in the parent's client area and shown when WS_VISIBLE is set.
// Fails with 0 and ERROR_CANNOT_FIND_WND_CLASS, ERROR_INVALID_WINDOW_HANDLE (bad parent) or
// ERROR_TLW_WITH_WSCHILD (WS_CHILD without a parent).
HWND CreateWindowExA(DWORD dwExStyle, const char* lpClassName, const char* lpWindowName,
                     DWORD dwStyle, int X, int Y, int nWidth, int nHeight, HWND hWndParent,
                     HMENU hMenu, HINSTANCE hInstance, void* lpParam);

} // namespace postlark::win
