// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A push clock that stands still until a test advances it: timers fire in order of their due
// time as the clock passes it, so minutes of waiting take no time at all.
#include "mail/push/PushClock.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace postlark::test {

class FakePushClock : public PushClock {
public:
    using Ms = std::chrono::milliseconds;

    std::chrono::milliseconds Now() const override { return now_; }
    std::unique_ptr<PushTimer> NewTimer(std::function<void()> fire) override {
        return std::make_unique<Timer>(*this, std::move(fire));
    }

    // Moves the clock on by `by`, firing each timer whose time comes, earliest first.
    void Advance(Ms by) {
        const Ms target = now_ + by;
        for (;;) {
            Timer* next = nullptr;
            for (Timer* t : timers_) {
                if (t->due && *t->due <= target && (!next || *t->due < *next->due))
                    next = t;
            }
            if (!next)
                break;
            now_ = *next->due;
            next->due.reset();
            next->fire(); // may create or destroy timers
        }
        now_ = target;
    }

    // Every interval a timer was started with, in order.
    std::vector<Ms> started;

private:
    struct Timer : PushTimer {
        Timer(FakePushClock& clock, std::function<void()> f) : clock(clock), fire(std::move(f)) {
            clock.timers_.push_back(this);
        }
        ~Timer() override {
            auto& all = clock.timers_;
            all.erase(std::remove(all.begin(), all.end(), this), all.end());
        }
        void Start(Ms interval) override {
            due = clock.now_ + interval;
            clock.started.push_back(interval);
        }
        void Stop() override { due.reset(); }
        bool Active() const override { return due.has_value(); }

        FakePushClock& clock;
        std::function<void()> fire;
        std::optional<Ms> due;
    };

    Ms now_{1'000'000};
    std::vector<Timer*> timers_;
};

} // namespace postlark::test
