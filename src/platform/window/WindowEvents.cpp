#include "platform/window/WindowEvents.h"

#include "platform/window/SystemMenu.h"
#include "platform/window/WindowTable.h"

#include <QContextMenuEvent>
#include <QDebug>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <exception>
#include <string>

namespace postlark::win::detail {

namespace {

// The window manager has minimized the window already, so the command is delivered after the
// fact. When a handler consumes it, the minimize is undone and what the handler did (hiding
// the window, say) is what stays.
void deliverMinimize(HWND hWnd) {
    WindowEntry* e = Find(hWnd);
    if (!e || !e->widget->isMinimized())
        return;
    const QPointer<QWidget> w = e->widget;
    const unsigned long before = e->defaultMinimizes;
    SendFromEventLoop(hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    e = Find(hWnd);
    if (!e || !w || e->defaultMinimizes != before || !w->isMinimized())
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
                auto* e = Find(w);
                if (e) {
                    const HWND hWnd = e->handle;
                    QMetaObject::invokeMethod(
                        w, [hWnd] { deliverMinimize(hWnd); }, Qt::QueuedConnection);
                }
            }
            return false;
        }
        case QEvent::Show:
            // The program's show (sent before the platform window is mapped); a restore from
            // minimized sends a spontaneous one, which must not map a hidden window.
            if (!event->spontaneous())
                syncPlatformState(w);
            return false;
        case QEvent::ContextMenu: {
            auto* e = Find(w);
            if (!e || !HasSystemMenu(e->handle))
                return false;
            ShowSystemMenu(e->handle, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        default:
            return false;
        }
    }
};

} // namespace

void WatchWindowEvents(QWidget* widget) {
    static WindowEventFilter* filter = new WindowEventFilter;
    widget->installEventFilter(filter);
}

bool SendFromEventLoop(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const std::string what = "window message " + std::to_string(msg);
    return GuardFromEventLoop(what.c_str(), [&] { SendMessageA(hWnd, msg, wParam, lParam); });
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
