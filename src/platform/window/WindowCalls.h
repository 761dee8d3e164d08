// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Showing, placing, re-parenting and destroying registered windows. Positions of child windows
// are in the parent's client area (inside its frame), as the window system counts them.
#include "platform/base/Win32Types.h"

namespace postlark::win {

// Returns whether the window was visible before.
BOOL ShowWindow(HWND hWnd, int nCmdShow);
// Returns the previous parent (0 for none). A new parent of 0 makes the window stand alone.
HWND SetParent(HWND hWndChild, HWND hWndNewParent);
// Windows made by CreateWindowExA are deleted; other registered windows are hidden and leave the
// handle table. Either way the handle is invalid afterwards.
BOOL DestroyWindow(HWND hWnd);
BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
// SWP_FRAMECHANGED applies the window's WS_EX_CLIENTEDGE / WS_EX_STATICEDGE.
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
// Raises and activates a window, restoring it first when it is minimized.
BOOL SetForegroundWindow(HWND hWnd);

} // namespace postlark::win
