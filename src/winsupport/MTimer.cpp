// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/MTimer.h"

#include "winsupport/CTimer.h"

#include <array>
#include <cstdint>

namespace postlark {

namespace {

struct TimerTable {
    std::array<std::shared_ptr<CTimer>, MTimer::TableSize> entries; // slot n at index n - 1
    std::int16_t highWaterMark = 0;
};

// Never destroyed: destroying it at exit would run timer destructors that search it.
TimerTable& Table() {
    static auto* table = new TimerTable;
    return *table;
}

} // namespace

bool MTimer::AddTimer(const std::shared_ptr<CTimer>& timer) {
    const win::UINT_PTR id =
        win::SetTimer(0, 0, static_cast<win::UINT>(timer->Interval()), &MTimer::TimerProc);
    timer->TimerID(id);
    if (id == 0) {
        timer->Interval(0);
        return false;
    }
    auto& table = Table();
    for (int position = 1; position <= TableSize; ++position) {
        auto& slot = table.entries[position - 1];
        if (!slot) {
            slot = timer;
            if (table.highWaterMark < position)
                table.highWaterMark = static_cast<std::int16_t>(position);
            return true;
        }
    }
    // No slot: stop the system timer again so that it does not run on with nobody to serve.
    win::KillTimer(0, id);
    timer->TimerID(0);
    CTimer::RaiseTimerError(ErrTooManyTimers);
}

bool MTimer::RemoveTimer(CTimer& timer) {
    auto& table = Table();
    for (int position = 1; position <= table.highWaterMark; ++position) {
        auto& slot = table.entries[position - 1];
        if (slot && slot->TimerID() == timer.TimerID()) {
            win::KillTimer(0, slot->TimerID());
            // Released after the slot is empty, in case this was the last reference.
            const auto released = std::move(slot);
            return true;
        }
    }
    return false;
}

int MTimer::SlotOf(const CTimer& timer) {
    const auto& table = Table();
    for (int position = 1; position <= table.highWaterMark; ++position) {
        if (table.entries[position - 1].get() == &timer)
            return position;
    }
    return 0;
}

int MTimer::HighWaterMark() {
    return Table().highWaterMark;
}

void MTimer::TimerProc(win::HWND, win::UINT, win::UINT_PTR idEvent, win::DWORD) {
    const auto& table = Table();
    for (int position = 1; position <= table.highWaterMark; ++position) {
        if (table.entries[position - 1] && table.entries[position - 1]->TimerID() == idEvent) {
            // The handler may stop this timer and so drop the table's reference.
            const auto timer = table.entries[position - 1];
            timer->PulseTimer();
            return;
        }
    }
}

} // namespace postlark
