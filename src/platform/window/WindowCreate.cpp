// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/WindowCreate.h"

#include "platform/window/WindowFrame.h"
#include "platform/window/WindowTable.h"

#include <QString>
#include <map>

namespace postlark::win {

namespace {

struct WindowClass {
    WindowFactory factory;
    WNDPROC proc = nullptr;
};

std::map<QString, WindowClass>& classes() {
    static std::map<QString, WindowClass> all;
    return all;
}

const WindowClass* findClass(const char* name) {
    if (!name)
        return nullptr;
    auto it = classes().find(QString::fromLatin1(name).toLower());
    return it == classes().end() ? nullptr : &it->second;
}

} // namespace

void RegisterWindowClass(const char* className, WindowFactory factory, WNDPROC classProc) {
    classes()[QString::fromLatin1(className).toLower()] =
        WindowClass{std::move(factory), classProc};
}

BOOL IsWindowClassRegistered(const char* className) {
    return findClass(className) ? TRUE_ : FALSE_;
}

HWND CreateWindowExA(DWORD dwExStyle, const char* lpClassName, const char* lpWindowName,
                     DWORD dwStyle, int X, int Y, int nWidth, int nHeight, HWND hWndParent,
                     HMENU /*hMenu*/, HINSTANCE /*hInstance*/, void* /*lpParam*/) {
    const WindowClass* cls = findClass(lpClassName);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return 0;
    }
    QWidget* parent = nullptr;
    if (hWndParent) {
        parent = WidgetFromHandle(hWndParent);
        if (!parent) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    } else if (dwStyle & WS_CHILD) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return 0;
    }
    QWidget* w = cls->factory(parent, dwStyle);
    if (!w)
        return 0;
    if (lpWindowName)
        w->setWindowTitle(QString::fromLatin1(lpWindowName));
    const HWND hWnd = detail::Register(w, cls->proc);
    detail::WindowEntry* e = detail::Find(hWnd);
    e->createdByLayer = true;
    e->style = static_cast<LONG_PTR>(dwStyle);
    e->exStyle = static_cast<LONG_PTR>(dwExStyle);
    detail::ApplyFrame(*e);
    detail::SetClientGeometry(w, QRect(X, Y, nWidth, nHeight));
    if (dwStyle & WS_VISIBLE)
        w->show();
    return hWnd;
}

} // namespace postlark::win
