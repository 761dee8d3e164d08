// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Qt events that the window system would deliver as messages: a minimize by the window manager
// and a context-menu request on a top-level window are handed to the handle table, which sends
// them through the window's procedure chain (WindowLayer.cpp).
#include <functional>

class QPoint;
class QWidget;

namespace postlark::win::detail {

// What the handle table does with a watched window's events.
struct WindowEventHandlers {
    // The window manager has minimized the window; called from the event loop afterwards.
    // True when the window's procedure consumed the command, so that the minimize is undone.
    bool (*minimized)(QWidget* window) = nullptr;
    // A context-menu request; true when a menu was shown.
    bool (*contextMenu)(QWidget* window, const QPoint& globalPos) = nullptr;
};

// Watches a registered widget; only top-level windows are acted on. The handlers are the
// handle table's, the same for every window.
void WatchWindowEvents(QWidget* widget, const WindowEventHandlers& handlers);

// The guard of every call the event loop makes into program code (window messages, timer
// procedures): an error raised by it is reported as a warning naming `what`, instead of
// unwinding through Qt's event dispatch and ending the program. Returns false when it failed.
bool GuardFromEventLoop(const char* what, const std::function<void()>& call);

} // namespace postlark::win::detail
