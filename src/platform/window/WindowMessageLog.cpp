// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/WindowMessageLog.h"

namespace postlark::win {

namespace {
bool logging = false;
std::vector<LoggedMessage>& log() {
    static std::vector<LoggedMessage> messages;
    return messages;
}
} // namespace

void SetMessageLogging(bool on) {
    logging = on;
    log().clear();
}

std::vector<LoggedMessage> MessageLog() {
    return log();
}

std::vector<LoggedMessage> MessagesSentTo(HWND hWnd) {
    std::vector<LoggedMessage> result;
    for (const auto& m : log())
        if (m.hWnd == hWnd)
            result.push_back(m);
    return result;
}

void ClearMessageLog() {
    log().clear();
}

void detail::LogMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (logging)
        log().push_back({hWnd, msg, wParam, lParam});
}

} // namespace postlark::win
