// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/MSubclass.h"

#include "platform/base/RuntimeError.h"
#include "platform/window/WindowLayer.h"

#include <string>
#include <vector>

namespace postlark::MSubclass {

using namespace win;

namespace {

// The message and previous procedure of each dispatch in progress, innermost last: a handler
// that sends a message to another subclassed window finds its own values again afterwards.
// `last` keeps the values of the latest dispatch once none is in progress.
struct DispatchState {
    UINT message = 0;
    WNDPROC oldWindowProc = nullptr;
};
std::vector<DispatchState> dispatches;
DispatchState last;

const DispatchState& Current() {
    return dispatches.empty() ? last : dispatches.back();
}

// Keeps one dispatch's state on the stack for as long as the dispatch runs, errors included.
class DispatchScope {
public:
    DispatchScope(UINT message, WNDPROC old) { dispatches.push_back({message, old}); }
    ~DispatchScope() {
        last = dispatches.back();
        dispatches.pop_back();
    }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;
};

std::string countName(HWND hWnd) {
    return "C" + std::to_string(hWnd);
}
std::string handlerCountName(HWND hWnd, UINT msg) {
    return std::to_string(hWnd) + "#" + std::to_string(msg) + "C";
}
std::string handlerName(HWND hWnd, UINT msg, HANDLE i) {
    return std::to_string(hWnd) + "#" + std::to_string(msg) + "#" + std::to_string(i);
}

HANDLE prop(HWND hWnd, const std::string& name) {
    return GetPropA(hWnd, name.c_str());
}
void setProp(HWND hWnd, const std::string& name, HANDLE value) {
    SetPropA(hWnd, name.c_str(), value);
}

HANDLE identity(ISubclass* handler) {
    return reinterpret_cast<HANDLE>(handler);
}

// Position (1..n) of the handler among the message's handlers, 0 when absent.
HANDLE findHandler(HWND hWnd, UINT msg, HANDLE id, HANDLE n) {
    for (HANDLE i = 1; i <= n; ++i)
        if (prop(hWnd, handlerName(hWnd, msg, i)) == id)
            return i;
    return 0;
}

LRESULT callPrevious(WNDPROC old, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(old, hWnd, msg, wParam, lParam);
}

} // namespace

void ErrRaise(long code) {
    const std::string source = "Postlark.WindowProc";
    if (code <= 1000)
        throw RuntimeError(code, std::string(), source);
    const char* description = "";
    switch (code) {
    case ErrCantSubclass:
        description = "Can't subclass window";
        break;
    case ErrAlreadyHandled:
        description = "Message already handled by another class";
        break;
    case ErrInvalidWindow:
        description = "Invalid window";
        break;
    case ErrExternalWindow:
        description = "Can't modify external window";
        break;
    default:
        break;
    }
    throw RuntimeError(vbObjectError + code, description, source);
}

void AttachMessage(ISubclass* handler, HWND hWnd, UINT iMsg) {
    if (!IsWindow(hWnd))
        ErrRaise(ErrInvalidWindow);
    DWORD process = 0;
    GetWindowThreadProcessId(hWnd, &process);
    if (process != GetCurrentProcessId())
        ErrRaise(ErrExternalWindow);

    // The duplicate check comes before any change, so a refused attach leaves the window's
    // count as it was and the matching detaches still restore the window.
    const HANDLE id = identity(handler);
    const HANDLE n = prop(hWnd, handlerCountName(hWnd, iMsg));
    if (findHandler(hWnd, iMsg, id, n))
        ErrRaise(ErrAlreadyHandled);

    const HANDLE count = prop(hWnd, countName(hWnd));
    if (count == 0) {
        const LONG_PTR old =
            SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&MSubclass::WindowProc));
        if (old == 0) {
            SetWindowLongA(hWnd, GWL_WNDPROC, 0); // leave the window as it was
            ErrRaise(ErrCantSubclass);
        }
        setProp(hWnd, std::to_string(hWnd), old);
        setProp(hWnd, countName(hWnd), 1);
    } else {
        setProp(hWnd, countName(hWnd), count + 1);
    }

    setProp(hWnd, handlerCountName(hWnd, iMsg), n + 1);
    setProp(hWnd, handlerName(hWnd, iMsg, n + 1), id);
}

void DetachMessage(ISubclass* handler, HWND hWnd, UINT iMsg) {
    const HANDLE n = prop(hWnd, handlerCountName(hWnd, iMsg));
    if (n <= 0)
        return;
    const HANDLE d = findHandler(hWnd, iMsg, identity(handler), n);
    if (d == 0)
        return; // never attached together: nothing to undo

    const HANDLE count = prop(hWnd, countName(hWnd));
    if (count == 1) {
        SetWindowLongA(hWnd, GWL_WNDPROC, prop(hWnd, std::to_string(hWnd)));
        RemovePropA(hWnd, std::to_string(hWnd).c_str());
        RemovePropA(hWnd, countName(hWnd).c_str());
    } else {
        setProp(hWnd, countName(hWnd), count - 1);
    }

    for (HANDLE j = d + 1; j <= n; ++j)
        setProp(hWnd, handlerName(hWnd, iMsg, j - 1), prop(hWnd, handlerName(hWnd, iMsg, j)));
    RemovePropA(hWnd, handlerName(hWnd, iMsg, n).c_str());
    if (n - 1 > 0)
        setProp(hWnd, handlerCountName(hWnd, iMsg), n - 1);
    else
        RemovePropA(hWnd, handlerCountName(hWnd, iMsg).c_str());
}

UINT CurrentMessage() {
    return Current().message;
}

LRESULT CallOldWindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(Current().oldWindowProc, hWnd, iMsg, wParam, lParam);
}

LRESULT WindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) {
    const auto old = reinterpret_cast<WNDPROC>(prop(hWnd, std::to_string(hWnd)));
    const HANDLE n = prop(hWnd, handlerCountName(hWnd, iMsg));
    if (n < 1)
        return callPrevious(old, hWnd, iMsg, wParam, lParam);

    // The handlers as they stand when the message arrives: a handler that detaches itself or
    // another one meanwhile moves the stored entries, but not this list. A handler detached
    // before its turn is skipped (it may be gone); one attached meanwhile waits for the next
    // message.
    std::vector<HANDLE> snapshot;
    for (HANDLE i = 1; i <= n; ++i)
        snapshot.push_back(prop(hWnd, handlerName(hWnd, iMsg, i)));
    const auto attached = [&](HANDLE id) {
        return findHandler(hWnd, iMsg, id, prop(hWnd, handlerCountName(hWnd, iMsg))) != 0;
    };

    const DispatchScope scope(iMsg, old);
    LRESULT result = 0;
    bool previousCalled = false;
    for (std::size_t i = 0; i < snapshot.size(); ++i) {
        const HANDLE id = snapshot[i];
        if (id == 0) {
            result = callPrevious(old, hWnd, iMsg, wParam, lParam);
            continue;
        }
        if (!attached(id))
            continue;
        auto* handler = reinterpret_cast<ISubclass*>(id);
        if (i == 0 && handler->MsgResponse() == ResponseBeforePrevious && !previousCalled) {
            callPrevious(old, hWnd, iMsg, wParam, lParam);
            previousCalled = true;
        }
        const bool isLast = i + 1 == snapshot.size();
        std::int32_t response = isLast ? handler->MsgResponse() : ResponseConsume;
        result = handler->WindowProc(hWnd, iMsg, wParam, lParam);
        // The handler may change its answer while handling the message; one that detached
        // itself meanwhile keeps the answer it gave before (it may no longer be asked).
        if (isLast && attached(id))
            response = handler->MsgResponse();
        if (isLast && response == ResponseAfterPrevious && !previousCalled) {
            previousCalled = true;
            result = callPrevious(old, hWnd, iMsg, wParam, lParam);
        }
    }
    return result;
}

} // namespace postlark::MSubclass
