#pragma once
// Qt events that the window system would deliver as messages, sent through the window's
// procedure chain: a minimize by the window manager becomes WM_SYSCOMMAND/SC_MINIMIZE and a
// context-menu request shows the system menu.
#include "platform/base/Win32Types.h"

#include <functional>

class QWidget;

namespace postlark::win::detail {

// Watches a registered widget; only top-level windows are acted on.
void WatchWindowEvents(QWidget* widget);

// Sends a message on behalf of the event loop: a failure raised by a handler is reported as a
// warning instead of unwinding through Qt's event dispatch. Returns false when it failed.
bool SendFromEventLoop(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The guard of every call the event loop makes into program code (window messages, timer
// procedures): an error raised by it is reported as a warning naming `what`, instead of
// unwinding through Qt's event dispatch and ending the program. Returns false when it failed.
bool GuardFromEventLoop(const char* what, const std::function<void()>& call);

} // namespace postlark::win::detail
