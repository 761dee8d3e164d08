#include "winsupport/MSubclass.h"

#include "platform/RuntimeError.h"
#include "platform/WindowLayer.h"

#include <string>

namespace postlark::MSubclass {

using namespace win;

namespace {

UINT currentMessage = 0;
WNDPROC oldWindowProc = nullptr;

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
    return currentMessage;
}

LRESULT CallOldWindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(oldWindowProc, hWnd, iMsg, wParam, lParam);
}

LRESULT WindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) {
    const auto old = reinterpret_cast<WNDPROC>(prop(hWnd, std::to_string(hWnd)));
    const HANDLE n = prop(hWnd, handlerCountName(hWnd, iMsg));
    if (n < 1)
        return callPrevious(old, hWnd, iMsg, wParam, lParam);

    LRESULT result = 0;
    bool previousCalled = false;
    for (HANDLE i = 1; i <= n; ++i) {
        const HANDLE id = prop(hWnd, handlerName(hWnd, iMsg, i));
        if (id == 0) {
            result = callPrevious(old, hWnd, iMsg, wParam, lParam);
            continue;
        }
        auto* handler = reinterpret_cast<ISubclass*>(id);
        currentMessage = iMsg;
        oldWindowProc = old;
        if (i == 1 && handler->MsgResponse() == ResponseBeforePrevious && !previousCalled) {
            callPrevious(old, hWnd, iMsg, wParam, lParam);
            previousCalled = true;
        }
        result = handler->WindowProc(hWnd, iMsg, wParam, lParam);
        if (i == n && handler->MsgResponse() == ResponseAfterPrevious && !previousCalled) {
            previousCalled = true;
            result = callPrevious(old, hWnd, iMsg, wParam, lParam);
        }
    }
    return result;
}

} // namespace postlark::MSubclass
