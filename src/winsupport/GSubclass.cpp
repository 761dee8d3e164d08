// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/GSubclass.h"

namespace postlark {

void GSubclass::AttachMessage(ISubclass* handler, win::HWND hWnd, win::UINT iMsg) {
    MSubclass::AttachMessage(handler, hWnd, iMsg);
}

void GSubclass::DetachMessage(ISubclass* handler, win::HWND hWnd, win::UINT iMsg) {
    MSubclass::DetachMessage(handler, hWnd, iMsg);
}

win::UINT GSubclass::CurrentMessage() const {
    return MSubclass::CurrentMessage();
}

win::LRESULT GSubclass::CallOldWindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam,
                                          win::LPARAM lParam) {
    return MSubclass::CallOldWindowProc(hWnd, iMsg, wParam, lParam);
}

} // namespace postlark
