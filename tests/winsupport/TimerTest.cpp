// SPDX-License-Identifier: GPL-3.0-or-later
// Timer objects and the windowless system timers under them.
#include "platform/base/RuntimeError.h"
#include "platform/window/Timers.h"
#include "platform/window/WindowLayer.h"
#include "winsupport/CTimer.h"
#include "winsupport/MTimer.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace postlark;

namespace {

// Runs the event loop until `ticks` ThatTime events arrived from `timer`, or `ms` elapsed.
int WaitForTicks(CTimer& timer, int ticks, int ms = 2000) {
    int seen = 0;
    QEventLoop loop;
    const auto connection = QObject::connect(&timer, &CTimer::ThatTime, &loop, [&] {
        if (++seen >= ticks)
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return seen;
}

void RunEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::shared_ptr<CTimer> Started(std::int32_t interval) {
    auto timer = CTimer::Create();
    timer->Interval(interval);
    return timer;
}

void ExpectTimerError(const std::function<void()>& action, long code, const char* text) {
    try {
        action();
        ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number, vbObjectError + code);
        EXPECT_EQ(e.Description, text);
        EXPECT_EQ(e.Source, "Postlark.WindowProc");
    }
}

} // namespace

TEST(CTimer, FiresUntilStoppedAndLeavesNoSystemTimer) {
    const auto before = win::RunningTimerCount();
    auto timer = Started(10);
    EXPECT_EQ(WaitForTicks(*timer, 3), 3);

    timer->Interval(0);
    EXPECT_EQ(timer->Interval(), 0);
    EXPECT_EQ(MTimer::SlotOf(*timer), 0);
    EXPECT_EQ(win::RunningTimerCount(), before);
    EXPECT_EQ(WaitForTicks(*timer, 1, 60), 0);
}

TEST(CTimer, SameIntervalTwiceKeepsOneSystemTimer) {
    const auto before = win::RunningTimerCount();
    auto timer = Started(1000);
    const int slot = MTimer::SlotOf(*timer);
    timer->Interval(1000);
    EXPECT_EQ(win::RunningTimerCount(), before + 1);
    EXPECT_EQ(MTimer::SlotOf(*timer), slot);

    // A new interval replaces the system timer instead of adding a second one.
    timer->Interval(20);
    EXPECT_EQ(win::RunningTimerCount(), before + 1);
    EXPECT_EQ(WaitForTicks(*timer, 1), 1);
    timer->Interval(0);
}

TEST(CTimer, ZeroOrNegativeStopsOnlyARunningTimer) {
    const auto before = win::RunningTimerCount();
    auto stopped = CTimer::Create();
    stopped->Interval(-5);
    stopped->Interval(0);
    EXPECT_EQ(stopped->Interval(), 0);
    EXPECT_EQ(win::RunningTimerCount(), before);

    auto running = Started(1000);
    running->Interval(-1);
    EXPECT_EQ(running->Interval(), 0);
    EXPECT_EQ(MTimer::SlotOf(*running), 0);
    EXPECT_EQ(win::RunningTimerCount(), before);
}

TEST(CTimer, EmptiedSlotIsReusedAndHighWaterMarkStays) {
    std::vector<std::shared_ptr<CTimer>> timers;
    for (int i = 0; i < 5; ++i)
        timers.push_back(Started(1000));
    const int third = MTimer::SlotOf(*timers[2]);
    ASSERT_GT(third, 0);
    const int mark = MTimer::HighWaterMark();
    EXPECT_GE(mark, MTimer::SlotOf(*timers[4]));

    timers[2]->Interval(0);
    auto next = Started(1000);
    EXPECT_EQ(MTimer::SlotOf(*next), third);
    EXPECT_EQ(MTimer::HighWaterMark(), mark);

    next->Interval(0);
    for (auto& t : timers)
        t->Interval(0);
    EXPECT_EQ(MTimer::HighWaterMark(), mark); // never goes down
}

TEST(CTimer, HundredAndFirstTimerRaisesAndLeavesNothingRunning) {
    std::vector<std::shared_ptr<CTimer>> timers;
    for (int i = 0; i < MTimer::TableSize; ++i)
        timers.push_back(Started(1000));
    const auto running = win::RunningTimerCount();

    auto extra = CTimer::Create();
    ExpectTimerError([&] { extra->Interval(1000); }, 13651,
                     "No more than 10 timers allowed per class");
    EXPECT_EQ(extra->Interval(), 1000);
    EXPECT_EQ(MTimer::SlotOf(*extra), 0);
    EXPECT_EQ(win::RunningTimerCount(), running); // the new system timer was stopped again

    for (auto& t : timers)
        t->Interval(0);
    extra->Interval(0);
    EXPECT_EQ(extra->Interval(), 0);
}

TEST(CTimer, NoSystemTimerRaisesAndReadsZero) {
    std::vector<win::UINT_PTR> hogs;
    while (win::RunningTimerCount() < win::TIMER_QUOTA)
        hogs.push_back(
            win::SetTimer(0, 0, 3600000, [](win::HWND, win::UINT, win::UINT_PTR, win::DWORD) {}));

    auto timer = CTimer::Create();
    ExpectTimerError([&] { timer->Interval(50); }, 13652, "Can't create system timer");
    EXPECT_EQ(timer->Interval(), 0);
    EXPECT_EQ(MTimer::SlotOf(*timer), 0);

    for (auto id : hogs)
        EXPECT_EQ(win::KillTimer(0, id), win::TRUE_);
}

TEST(CTimer, RunningTimerOutlivesItsOwnerUntilItStopsItself) {
    std::weak_ptr<CTimer> watch;
    int ticks = 0;
    std::int32_t afterStop = -1;
    {
        auto timer = Started(10);
        watch = timer;
        CTimer* raw = timer.get();
        QObject::connect(raw, &CTimer::ThatTime, [&ticks, &afterStop, raw] {
            if (++ticks == 2) {
                raw->Interval(0);            // drops the table's reference, the last one
                afterStop = raw->Interval(); // still alive until the tick is over
            }
        });
    }
    ASSERT_FALSE(watch.expired());
    RunEventsFor(200);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(afterStop, 0);
    EXPECT_TRUE(watch.expired());
}

namespace {

std::vector<win::UINT_PTR> seenIds;
win::UINT seenMessage = 0;
win::HWND seenWindow = -1;

void RecordTick(win::HWND hWnd, win::UINT msg, win::UINT_PTR id, win::DWORD) {
    seenWindow = hWnd;
    seenMessage = msg;
    seenIds.push_back(id);
}

void KillOnFirstTick(win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
    seenIds.push_back(id);
    win::KillTimer(0, id);
}

} // namespace

TEST(CTimer, ErrorInAHandlerIsReportedAndTheTimerRunsOn) {
    auto timer = Started(10);
    int fired = 0;
    QObject::connect(timer.get(), &CTimer::ThatTime, [&] {
        ++fired;
        throw RuntimeError(5, "Invalid procedure call or argument");
    });
    for (int i = 0; i < 100 && fired < 3; ++i)
        RunEventsFor(20);
    EXPECT_GE(fired, 3);
    timer->Interval(0);
}

TEST(SetTimer, CallsBackWithTimerMessageAndCanBeKilledFromItsCallback) {
    seenIds.clear();
    const auto id = win::SetTimer(0, 0, 10, &RecordTick);
    ASSERT_NE(id, 0u);
    RunEventsFor(80);
    EXPECT_EQ(seenWindow, 0);
    EXPECT_EQ(seenMessage, win::WM_TIMER);
    ASSERT_FALSE(seenIds.empty());
    EXPECT_EQ(seenIds.front(), id);
    EXPECT_EQ(win::KillTimer(0, id), win::TRUE_);
    EXPECT_EQ(win::KillTimer(0, id), win::FALSE_);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);

    seenIds.clear();
    const auto once = win::SetTimer(0, 0, 10, &KillOnFirstTick);
    RunEventsFor(80);
    EXPECT_EQ(seenIds, std::vector<win::UINT_PTR>{once});
}
