// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/CTimer.h"

#include "platform/base/RuntimeError.h"
#include "winsupport/MTimer.h"

namespace postlark {

namespace {

const char* const kErrorSource = "Postlark.WindowProc";

std::string TimerErrorText(long code) {
    switch (code) {
    case MTimer::ErrTooManyTimers:
        return "No more than 10 timers allowed per class";
    case MTimer::ErrNoSystemTimer:
        return "Can't create system timer";
    default:
        return {};
    }
}

} // namespace

std::shared_ptr<CTimer> CTimer::Create() {
    return std::shared_ptr<CTimer>(new CTimer);
}

CTimer::~CTimer() {
    Interval(0);
}

void CTimer::Interval(std::int32_t iIntervalA) {
    // Leaving the table may drop the last reference to this object.
    const auto keepAlive = weak_from_this().lock();
    if (iIntervalA > 0) {
        if (iIntervalA == interval_)
            return;
        if (interval_ != 0)
            MTimer::RemoveTimer(*this);
        interval_ = iIntervalA;
        if (!MTimer::AddTimer(keepAlive))
            RaiseTimerError(MTimer::ErrNoSystemTimer);
    } else if (interval_ > 0) {
        interval_ = 0;
        MTimer::RemoveTimer(*this);
    }
}

void CTimer::PulseTimer() {
    emit ThatTime();
}

void CTimer::RaiseTimerError(long code) {
    if (code > 1000)
        throw RuntimeError(vbObjectError + code, TimerErrorText(code), kErrorSource);
    throw RuntimeError(code, std::string(), kErrorSource);
}

} // namespace postlark
