// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A record of the messages sent with SendMessageA, switched on by tests that need to know
// which messages reached a window (and that none did).
#include "platform/base/Win32Types.h"

#include <vector>

namespace postlark::win {

struct LoggedMessage {
    HWND hWnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const LoggedMessage&) const = default;
};

// Switching the log on or off empties it.
void SetMessageLogging(bool on);
std::vector<LoggedMessage> MessageLog();
std::vector<LoggedMessage> MessagesSentTo(HWND hWnd);
void ClearMessageLog();

namespace detail {
void LogMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
}

} // namespace postlark::win
