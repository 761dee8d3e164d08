// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Message subclassing: chosen messages of a window of this process reach ISubclass handlers
// before, after or instead of the window's own procedure. All bookkeeping lives in the
// window's property list:
//   H          the window procedure before subclassing
//   "C"H       attachments on the window, over all messages and handlers
//   H#M"C"     handlers attached to message M
//   H#M#i      the i-th handler for M (its address; a weak reference)
#include "platform/base/Win32Types.h"
#include "winsupport/ISubclass.h"

namespace postlark::MSubclass {

// Errors raised as vbObjectError + code with source "Postlark.WindowProc".
constexpr long ErrCantSubclass = 13081;
constexpr long ErrAlreadyHandled = 13082;
constexpr long ErrInvalidWindow = 13083;
constexpr long ErrExternalWindow = 13084;

// Start subclassing for a particular message.
void AttachMessage(ISubclass* handler, win::HWND hWnd, win::UINT iMsg);
// Stop subclassing for a particular message. A handler, window and message that were not
// attached together leave every property as it was.
void DetachMessage(ISubclass* handler, win::HWND hWnd, win::UINT iMsg);
// The message currently being worked on; valid inside a handler's MsgResponse and WindowProc.
win::UINT CurrentMessage();
// Calls the window procedure that was installed before the subclass; meaningful inside a
// handler.
win::LRESULT CallOldWindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam,
                               win::LPARAM lParam);

// The shared window procedure installed on every subclassed window.
win::LRESULT WindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam, win::LPARAM lParam);

// Raises the component's error for a code (codes of 1000 and below unchanged, no description).
[[noreturn]] void ErrRaise(long code);

} // namespace postlark::MSubclass
