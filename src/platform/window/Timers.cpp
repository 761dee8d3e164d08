// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/Timers.h"

#include "platform/window/WindowEvents.h"
#include "platform/window/WindowLayer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <map>

namespace postlark::win {

namespace {

struct RunningTimer {
    QTimer* timer;
    TIMERPROC callback;
};

// Identifier -> running timer. Leaked on purpose: timers may be killed from destructors that
// run during static destruction.
std::map<UINT_PTR, RunningTimer>& Table() {
    static auto* table = new std::map<UINT_PTR, RunningTimer>;
    return *table;
}

UINT_PTR lastId = 0;

UINT_PTR NewTimerId() {
    do {
        ++lastId;
    } while (lastId == 0 || Table().count(lastId) != 0);
    return lastId;
}

// Milliseconds since the system started, wrapping like the window system's tick count.
DWORD TickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

bool OnApplicationThread() {
    const auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void Fire(UINT_PTR id) {
    const auto it = Table().find(id);
    if (it == Table().end())
        return;
    const TIMERPROC callback = it->second.callback;
    // A failing timer procedure is reported like a failing window message; the timer runs on.
    detail::GuardFromEventLoop("timer procedure", [&] { callback(0, WM_TIMER, id, TickCount()); });
}

void Dispose(QTimer* timer) {
    // The timer may be the one whose timeout is being delivered right now.
    timer->stop();
    timer->deleteLater();
}

} // namespace

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (hWnd != 0 || lpTimerFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!OnApplicationThread()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return 0;
    }
    const int interval =
        static_cast<int>(std::clamp(uElapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));

    auto existing = Table().find(nIDEvent);
    if (nIDEvent != 0 && existing != Table().end()) {
        existing->second.callback = lpTimerFunc;
        existing->second.timer->start(interval);
        return nIDEvent;
    }
    if (Table().size() >= TIMER_QUOTA) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return 0;
    }
    const UINT_PTR id = NewTimerId();
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [id] { Fire(id); });
    Table().emplace(id, RunningTimer{timer, lpTimerFunc});
    timer->start(interval);
    return id;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    if (!OnApplicationThread()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE_;
    }
    const auto it = hWnd == 0 ? Table().find(uIDEvent) : Table().end();
    if (it == Table().end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    Dispose(it->second.timer);
    Table().erase(it);
    return TRUE_;
}

std::size_t RunningTimerCount() {
    return Table().size();
}

} // namespace postlark::win
