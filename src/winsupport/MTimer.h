// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table of running CTimer objects and the system-timer callback that routes each tick to
// its object. The table has 100 slots; a started timer takes the first empty one.
#include "platform/window/Timers.h"

#include <memory>

namespace postlark {

class CTimer;

class MTimer {
public:
    static constexpr int TableSize = 100;

    // Error codes, raised as vbObjectError + code.
    static constexpr long ErrTooManyTimers = 13651;
    static constexpr long ErrNoSystemTimer = 13652;

    // Starts a system timer for the object's interval and puts the object in the table.
    // False when the system timer could not be made (the object's interval is then set to 0);
    // raises ErrTooManyTimers when every slot is taken, after stopping the new system timer.
    static bool AddTimer(const std::shared_ptr<CTimer>& timer);
    // Stops the object's system timer and empties its slot; false when it has none.
    static bool RemoveTimer(CTimer& timer);

    // The slot (1 to TableSize) holding the object, or 0 when it is not in the table.
    static int SlotOf(const CTimer& timer);
    // The highest slot ever filled; it never goes down.
    static int HighWaterMark();

private:
    static void TimerProc(win::HWND hWnd, win::UINT uMsg, win::UINT_PTR idEvent, win::DWORD dwTime);
};

} // namespace postlark
