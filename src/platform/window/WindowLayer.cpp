// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/WindowLayer.h"

#include "platform/window/WindowEvents.h"
#include "platform/window/WindowMessageLog.h"
#include "platform/window/WindowTable.h"

#include <QObject>
#include <cctype>
#include <memory>
#include <string>
#include <unistd.h>
#include <unordered_map>

namespace postlark::win {

namespace {

struct Table {
    std::unordered_map<HWND, std::unique_ptr<detail::WindowEntry>> byHandle;
    std::unordered_map<const QWidget*, HWND> byWidget;
    HWND next = 0x10000;
};

// Never freed, so widgets that outlive static destruction still find it.
Table& table() {
    static Table* t = new Table;
    return *t;
}

std::string atomName(const char* name) {
    std::string s(name);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

detail::WindowEntry* liveEntry(HWND hWnd) {
    detail::WindowEntry* e = detail::Find(hWnd);
    if (!e)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return e;
}

// Keeps the entry's dispatch depth while a message is delivered; the entry may go meanwhile.
class DispatchScope {
public:
    explicit DispatchScope(HWND hWnd) : hWnd_(hWnd) {
        if (auto* e = detail::Find(hWnd_))
            ++e->dispatchDepth;
    }
    ~DispatchScope() {
        if (auto* e = detail::Find(hWnd_))
            --e->dispatchDepth;
    }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

private:
    HWND hWnd_;
};

int buttonsOf(WPARAM keys) {
    return ((keys & MK_LBUTTON) ? 1 : 0) | ((keys & MK_RBUTTON) ? 2 : 0) |
           ((keys & MK_MBUTTON) ? 4 : 0);
}

int shiftOf(WPARAM keys) {
    return ((keys & MK_SHIFT) ? 1 : 0) | ((keys & MK_CONTROL) ? 2 : 0);
}

// A minimize by the window manager, sent as SC_MINIMIZE; true when the window's procedure
// consumed it instead of passing it to the default procedure.
bool minimizeConsumed(QWidget* w) {
    detail::WindowEntry* e = detail::Find(w);
    if (!e)
        return false;
    const HWND hWnd = e->handle;
    const unsigned long before = e->defaultMinimizes;
    detail::SendFromEventLoop(hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    e = detail::Find(hWnd);
    return e && e->defaultMinimizes == before;
}

// A context-menu request shows the window's system menu, when it has one.
bool showContextMenu(QWidget* w, const QPoint& globalPos) {
    detail::WindowEntry* e = detail::Find(w);
    if (!e || !e->contextMenu)
        return false;
    const auto show = e->contextMenu;
    show(globalPos);
    return true;
}

LRESULT defaultSysCommand(detail::WindowEntry& e, WPARAM command) {
    QWidget* w = e.widget;
    const HWND hWnd = e.handle;
    switch (command & 0xFFF0) {
    case SC_MINIMIZE:
        ++e.defaultMinimizes;
        if (w->isWindow() && !w->isMinimized())
            w->showMinimized();
        break;
    case SC_MAXIMIZE:
        if (w->isWindow())
            w->showMaximized();
        break;
    case SC_RESTORE:
        if (w->isWindow())
            w->showNormal();
        break;
    case SC_CLOSE:
        SendMessageA(hWnd, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
    return 0;
}

} // namespace

detail::WindowEntry* detail::Find(HWND hWnd) {
    auto it = table().byHandle.find(hWnd);
    if (it == table().byHandle.end() || !it->second->widget)
        return nullptr;
    return it->second.get();
}

detail::WindowEntry* detail::Find(const QWidget* widget) {
    auto it = table().byWidget.find(widget);
    return it == table().byWidget.end() ? nullptr : Find(it->second);
}

HWND detail::Register(QWidget* widget, WNDPROC initialProc) {
    if (!widget)
        return 0;
    if (auto* e = Find(widget))
        return e->handle;
    Table& t = table();
    const HWND hWnd = t.next;
    t.next += 4;
    auto entry = std::make_unique<WindowEntry>();
    entry->handle = hWnd;
    entry->key = widget;
    entry->widget = widget;
    entry->proc = initialProc;
    entry->processId = GetCurrentProcessId();
    entry->threadId = static_cast<DWORD>(::gettid());
    t.byHandle.emplace(hWnd, std::move(entry));
    t.byWidget[widget] = hWnd;
    QObject::connect(widget, &QObject::destroyed, [hWnd] { Unregister(hWnd); });
    static const WindowEventHandlers handlers{&minimizeConsumed, &showContextMenu};
    WatchWindowEvents(widget, handlers);
    return hWnd;
}

void detail::Unregister(HWND hWnd) {
    Table& t = table();
    auto it = t.byHandle.find(hWnd);
    if (it == t.byHandle.end())
        return;
    auto w = t.byWidget.find(it->second->key);
    if (w != t.byWidget.end() && w->second == hWnd)
        t.byWidget.erase(w);
    t.byHandle.erase(it);
}

bool detail::SendFromEventLoop(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const std::string what = "window message " + std::to_string(msg);
    return GuardFromEventLoop(what.c_str(), [&] { SendMessageA(hWnd, msg, wParam, lParam); });
}

HWND RegisterWindow(QWidget* widget) {
    return detail::Register(widget, &DefWindowProcA);
}

QWidget* WidgetFromHandle(HWND hWnd) {
    auto* e = detail::Find(hWnd);
    return e ? e->widget.data() : nullptr;
}

BOOL IsWindow(HWND hWnd) {
    return detail::Find(hWnd) ? TRUE_ : FALSE_;
}

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* e = liveEntry(hWnd);
    if (!e)
        return 0;
    detail::LogMessage(hWnd, msg, wParam, lParam);
    const WNDPROC proc = e->proc;
    if (!proc)
        return 0;
    DispatchScope scope(hWnd);
    return proc(hWnd, msg, wParam, lParam);
}

BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* e = liveEntry(hWnd);
    if (!e)
        return FALSE_;
    QMetaObject::invokeMethod(
        e->widget.data(),
        [hWnd, msg, wParam, lParam] { detail::SendFromEventLoop(hWnd, msg, wParam, lParam); },
        Qt::QueuedConnection);
    return TRUE_;
}

LRESULT DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* e = detail::Find(hWnd);
    if (!e)
        return 0;
    switch (msg) {
    case WM_SYSCOMMAND:
        return defaultSysCommand(*e, wParam);
    case WM_CLOSE:
        e->widget->close();
        return 0;
    case WM_MOUSEMOVE:
        if (e->mouseMove) {
            const MouseMoveHandler handler = e->mouseMove; // may replace itself while running
            handler(buttonsOf(wParam), shiftOf(wParam), static_cast<std::int16_t>(LOWORD(lParam)),
                    static_cast<std::int16_t>(HIWORD(lParam)));
        }
        return 0;
    default:
        return 0;
    }
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hWnd, msg, wParam, lParam) : 0;
}

LONG_PTR GetWindowLongA(HWND hWnd, int index) {
    auto* e = liveEntry(hWnd);
    if (!e)
        return 0;
    switch (index) {
    case GWL_WNDPROC:
        return reinterpret_cast<LONG_PTR>(e->proc);
    case GWL_STYLE:
        return e->style;
    case GWL_EXSTYLE:
        return e->exStyle;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

LONG_PTR SetWindowLongA(HWND hWnd, int index, LONG_PTR newLong) {
    auto* e = liveEntry(hWnd);
    if (!e)
        return 0;
    LONG_PTR old = 0;
    switch (index) {
    case GWL_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(e->proc);
        e->proc = reinterpret_cast<WNDPROC>(newLong);
        break;
    case GWL_STYLE:
        old = e->style;
        e->style = newLong;
        break;
    case GWL_EXSTYLE:
        old = e->exStyle;
        e->exStyle = newLong;
        break;
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return old;
}

HANDLE GetPropA(HWND hWnd, const char* name) {
    auto* e = detail::Find(hWnd);
    if (!e || !name)
        return 0;
    auto it = e->props.find(atomName(name));
    return it == e->props.end() ? 0 : it->second.second;
}

BOOL SetPropA(HWND hWnd, const char* name, HANDLE data) {
    auto* e = liveEntry(hWnd);
    if (!e)
        return FALSE_;
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    auto [it, added] = e->props.try_emplace(atomName(name), name, data);
    if (!added)
        it->second.second = data;
    return TRUE_;
}

HANDLE RemovePropA(HWND hWnd, const char* name) {
    auto* e = detail::Find(hWnd);
    if (!e || !name)
        return 0;
    auto it = e->props.find(atomName(name));
    if (it == e->props.end())
        return 0;
    const HANDLE value = it->second.second;
    e->props.erase(it);
    return value;
}

int EnumPropsA(HWND hWnd, PROPENUMPROCA lpEnumFunc) {
    auto* e = detail::Find(hWnd);
    if (!e || !lpEnumFunc || e->props.empty())
        return -1;
    // A copy, so that the callback may change the list.
    const auto props = e->props;
    int last = -1;
    for (const auto& [key, entry] : props) {
        last = lpEnumFunc(hWnd, entry.first.c_str(), entry.second);
        if (!last)
            break;
    }
    return last;
}

DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* processId) {
    auto* e = liveEntry(hWnd);
    if (!e)
        return 0;
    if (processId)
        *processId = e->processId;
    return e->threadId;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

void SetMouseMoveHandler(HWND hWnd, MouseMoveHandler handler) {
    if (auto* e = liveEntry(hWnd))
        e->mouseMove = std::move(handler);
}

void SetWindowProcessId(HWND hWnd, DWORD processId) {
    if (auto* e = liveEntry(hWnd))
        e->processId = processId;
}

} // namespace postlark::win
