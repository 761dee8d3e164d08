// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/WindowEvents.h"

#include <QContextMenuEvent>
#include <QDebug>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <exception>

namespace postlark::win::detail {

namespace {

// The window manager has minimized the window already, so the command is delivered after the
// fact. When a handler consumes it, the minimize is undone and what the handler did (hiding
// the window, say) is what stays.
void deliverMinimize(const WindowEventHandlers& handlers, QWidget* window) {
    if (!window->isMinimized())
        return;
    const QPointer<QWidget> w = window;
    if (!handlers.minimized(window) || !w || !w->isMinimized())
        return;
    const Qt::WindowStates normal = w->windowState() & ~Qt::WindowMinimized;
    if (w->isVisible()) {
        w->setWindowState(normal);
    } else {
        // Changing the platform window's state now would map it again; it is brought in line
        // when the window is next shown (see syncPlatformState).
        w->overrideWindowState(normal);
    }
}

// A window hidden while minimized by the window manager still has a minimized platform
// window; show it in the state the widget has, not iconified.
void syncPlatformState(QWidget* w) {
    QWindow* window = w->windowHandle();
    if (!window || window->isVisible())
        return;
    const Qt::WindowStates wanted = w->windowState() & ~Qt::WindowActive;
    if ((window->windowStates() & Qt::WindowMinimized) && !(wanted & Qt::WindowMinimized))
        window->setWindowStates(wanted);
}

class WindowEventFilter : public QObject {
public:
    WindowEventHandlers handlers;

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* w = static_cast<QWidget*>(watched);
        if (!w->isWindow())
            return false;
        switch (event->type()) {
        case QEvent::WindowStateChange: {
            auto* change = static_cast<QWindowStateChangeEvent*>(event);
            const bool minimizedNow = (w->windowState() & Qt::WindowMinimized) &&
                                      !(change->oldState() & Qt::WindowMinimized);
            // Only the window system's changes; the program's own go through Qt directly.
            if (minimizedNow && change->spontaneous()) {
                QMetaObject::invokeMethod(
                    w, [this, w] { deliverMinimize(handlers, w); }, Qt::QueuedConnection);
            }
            return false;
        }
        case QEvent::Show:
            // The program's show (sent before the platform window is mapped); a restore from
            // minimized sends a spontaneous one, which must not map a hidden window.
            if (!event->spontaneous())
                syncPlatformState(w);
            return false;
        case QEvent::ContextMenu:
            return handlers.contextMenu(w, static_cast<QContextMenuEvent*>(event)->globalPos());
        default:
            return false;
        }
    }
};

} // namespace

void WatchWindowEvents(QWidget* widget, const WindowEventHandlers& handlers) {
    static WindowEventFilter* filter = new WindowEventFilter;
    filter->handlers = handlers;
    widget->installEventFilter(filter);
}

bool GuardFromEventLoop(const char* what, const std::function<void()>& call) {
    try {
        call();
        return true;
    } catch (const std::exception& error) {
        qWarning() << what << "failed:" << error.what();
    } catch (...) {
        qWarning() << what << "failed";
    }
    return false;
}

} // namespace postlark::win::detail
