// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windowless timers in the shape of SetTimer/KillTimer, running on Qt timers of the
// application's thread. A timer calls its callback with (0, WM_TIMER, identifier, tick count)
// from the event loop each time its interval elapses, until KillTimer.
#include "platform/base/Win32Types.h"

#include <cstddef>

namespace postlark::win {

using UINT_PTR = std::uintptr_t;
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Intervals are clamped to this range, as the window system does.
constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

// Most timers the process may hold at once (the window system's per-process object quota);
// SetTimer fails with ERROR_NOT_ENOUGH_QUOTA beyond it.
constexpr std::size_t TIMER_QUOTA = 10000;

// Last-error codes set by SetTimer and KillTimer.
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444; // not on the application's thread, or no app
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;  // TIMER_QUOTA timers already running

// Starts a timer and returns its identifier, or 0 on failure (GetLastError says why).
// Only windowless timers with a callback exist: hWnd must be 0 and lpTimerFunc set, else
// the call fails with ERROR_INVALID_PARAMETER. When nIDEvent names a running timer, that timer is
// restarted with the new interval and callback and keeps its identifier; otherwise nIDEvent
// is ignored and a new identifier is made. Identifiers are never handed out twice.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);

// Stops a timer made by SetTimer; FALSE (ERROR_INVALID_PARAMETER) when no such timer runs.
// Safe to call from inside the timer's own callback.
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// How many timers run now (diagnostics and tests).
std::size_t RunningTimerCount();

} // namespace postlark::win
