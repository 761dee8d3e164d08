// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An object whose members forward to the subclassing routines of MSubclass.
#include "winsupport/MSubclass.h"

namespace postlark {

class GSubclass {
public:
    // Start subclassing for a particular message.
    void AttachMessage(ISubclass* handler, win::HWND hWnd, win::UINT iMsg);
    // Stop subclassing for a particular message.
    void DetachMessage(ISubclass* handler, win::HWND hWnd, win::UINT iMsg);
    // Returns the message currently being worked on.  Only valid in the MsgResponse and
    // WindowProc items of your implemented interface.
    win::UINT CurrentMessage() const;
    // Calls the window procedure for this handle which was installed before you added the
    // subclass.
    win::LRESULT CallOldWindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam,
                                   win::LPARAM lParam);
};

} // namespace postlark
