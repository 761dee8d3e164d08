// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic checking with the tick called directly: the countdown, the connection condition,
// a tick during a run, the stored interval, and the early check after a resume or reconnect.
#include "mail/check/AutoCheck.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <vector>

namespace postlark {
namespace {

using namespace std::chrono_literals;
using Ms = AutoCheck::Milliseconds;

class AutoCheckTest : public ::testing::Test {
protected:
    // Arms as start-up and the settings dialog do: the countdown from the stored interval.
    AutoCheck& Arm(const char* interval) {
        SettingsStore::SaveValue("AutoCheckValue", interval);
        countdown_ = AutoCheckInterval();
        check_ = std::make_unique<AutoCheck>(
            countdown_,
            [this] {
                presses_.push_back(tick_);
                if (onPress_)
                    onPress_();
            },
            [this] {
                ++connectedReads_;
                return connected_;
            },
            [this] { return present_; },
            AutoCheck::Clock{[this] { return wall_; }, [this] { return timer_; }});
        return *check_;
    }
    // One minute passes and the timer ticks.
    void Tick(Ms sleptBefore = 0ms) {
        ++tick_;
        wall_ += 60s + sleptBefore;
        timer_ += 60s;
        check_->Tick();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i)
            Tick();
    }

    test::TestEnvironment env_;
    std::int16_t countdown_ = 0;
    std::unique_ptr<AutoCheck> check_;
    std::vector<int> presses_; // the ticks that pressed the check button
    std::function<void()> onPress_;
    int tick_ = 0;
    bool connected_ = true;
    int connectedReads_ = 0;
    bool present_ = true;
    Ms wall_{1'800'000'000'000};
    Ms timer_{5'000'000};
};

TEST_F(AutoCheckTest, ChecksComeIntervalPlusOneMinutesApart) {
    for (const auto& [value, minutes] :
         std::vector<std::pair<const char*, int>>{{"0", 1}, {"1", 2}, {"5", 6}, {"", 2}}) {
        presses_.clear();
        tick_ = 0;
        Arm(value);
        Ticks(3 * minutes + minutes - 1); // three intervals, and nearly a fourth
        EXPECT_EQ(presses_, (std::vector<int>{minutes, 2 * minutes, 3 * minutes}))
            << "AutoCheckValue \"" << value << "\"";
    }
}

TEST_F(AutoCheckTest, TheConnectionIsReadOnlyAtACheckingTickAndOnlyWhenAsked) {
    Arm("2");
    Ticks(3);
    EXPECT_EQ(connectedReads_, 0) << "CheckConnection is off by default";
    EXPECT_EQ(presses_.size(), 1u);

    SettingsStore::SaveValue("CheckConnection", "1");
    connected_ = false;
    Ticks(3);
    EXPECT_EQ(connectedReads_, 1) << "read at the checking tick only";
    EXPECT_EQ(presses_.size(), 1u) << "no connection: no check";
    EXPECT_EQ(countdown_, 2) << "the next chance is a full interval later";

    connected_ = true;
    Ticks(3);
    EXPECT_EQ(presses_, (std::vector<int>{3, 9}));

    // Only the value 1 turns the condition on.
    SettingsStore::SaveValue("CheckConnection", "2");
    connected_ = false;
    Ticks(3);
    EXPECT_EQ(presses_.size(), 3u);
}

TEST_F(AutoCheckTest, ATickDuringARunPressesAgainAndTheCountdownIsReloadedAfterTheRun) {
    Arm("3");
    // The first press starts a run that lasts over the next tick (events are handled while
    // it waits, so the timer ticks inside it); the second press is the skip.
    onPress_ = [this] {
        if (presses_.size() == 1) {
            EXPECT_EQ(countdown_, 0) << "the countdown is reloaded only after the run";
            Tick();
            EXPECT_EQ(countdown_, 3);
        }
    };
    Ticks(4);
    EXPECT_EQ(presses_, (std::vector<int>{4, 5}));
    EXPECT_EQ(countdown_, 3);
}

TEST_F(AutoCheckTest, StoredIntervalsThatAreNotUsableReadAsOneMinute) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"0", 0},     {"1", 1},   {"240", 240}, {" 7 ", 7}, {"2.5", 2}, {"3.5", 4},
        {"", 1},      {"x", 1},   {"5x", 1},    {"-3", 1},  {"-0", 0},  {"32767", 32767},
        {"32768", 1}, {"1e9", 1}, {"nan", 1},   {"inf", 1}};
    for (const auto& [text, minutes] : cases) {
        SettingsStore::SaveValue("AutoCheckValue", text);
        EXPECT_EQ(AutoCheckInterval(), minutes) << '"' << text << '"';
    }
    SettingsStore::DeleteValue("AutoCheckValue");
    EXPECT_EQ(AutoCheckInterval(), 1);
}

TEST_F(AutoCheckTest, AResumeFromSuspendChecksAtTheNextTick) {
    Arm("30");
    Ticks(5);
    Tick(3h); // the machine slept for three hours
    EXPECT_EQ(presses_, (std::vector<int>{6}));
    EXPECT_EQ(countdown_, 30);

    // The clock being set or slewed a little, or back, is not a resume.
    Tick(90s);
    Tick(-2h);
    Ticks(3);
    EXPECT_EQ(presses_.size(), 1u);
}

TEST_F(AutoCheckTest, AConnectionComingUpChecksAtThatTick) {
    present_ = false;
    Arm("30");
    Ticks(2);
    present_ = true;
    Tick();
    EXPECT_EQ(presses_, (std::vector<int>{3}));
    // Staying connected, or losing the connection, does not.
    Ticks(2);
    present_ = false;
    Ticks(2);
    EXPECT_EQ(presses_.size(), 1u);

    // A connection that is there from the first tick is no change.
    present_ = true;
    presses_.clear();
    Arm("30");
    Ticks(3);
    EXPECT_TRUE(presses_.empty());
}

// The check at start: one press at once, under the same connection condition, and the
// countdown to the first tick's check untouched.
TEST_F(AutoCheckTest, CheckNowPressesOnceAndLeavesTheCountdown) {
    Arm("3");
    check_->CheckNow();
    EXPECT_EQ(presses_, (std::vector<int>{0}));
    EXPECT_EQ(countdown_, 3);
    Ticks(4);
    EXPECT_EQ(presses_, (std::vector<int>{0, 4}));

    SettingsStore::SaveValue("CheckConnection", "1");
    connected_ = false;
    presses_.clear();
    check_->CheckNow();
    EXPECT_TRUE(presses_.empty());
    EXPECT_EQ(connectedReads_, 1);
    connected_ = true;
    check_->CheckNow();
    EXPECT_EQ(presses_.size(), 1u);
}

} // namespace
} // namespace postlark
