// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interface an object implements to receive the window messages it has attached to.
#include "platform/base/Win32Types.h"

#include <cstdint>

namespace postlark {

// How a handler responds to a message (its MsgResponse).
enum MsgResponseValue : std::int32_t {
    ResponseConsume = 0,        // the previous window procedure is not called
    ResponseAfterPrevious = 1,  // the previous procedure runs after the last handler
    ResponseBeforePrevious = 2, // the previous procedure runs before the first handler
};

class ISubclass {
public:
    virtual ~ISubclass() = default;

    // Get/set how you will respond to a message.  Raised whenever a message is encountered.
    // Call the CurrentMessage property to determine what message you are currently responding
    // to.
    virtual std::int32_t MsgResponse() = 0;
    virtual void SetMsgResponse(std::int32_t response) = 0;

    // Raised whenever a message you have subclassed is sent.
    virtual win::LRESULT WindowProc(win::HWND hWnd, win::UINT iMsg, win::WPARAM wParam,
                                    win::LPARAM lParam) = 0;
};

} // namespace postlark
