#include "platform/clock/Clock.h"

#include <gtest/gtest.h>

#include "platform/clock/FakeClock.h"

namespace {

using namespace std::chrono_literals;

TEST(Clock, TheSystemClockUnlessAFakeIsInstalledForAScope) {
    EXPECT_EQ(&clocks::Current(), &clocks::SystemClock());
    EXPECT_FALSE(clocks::Current().SkipsIdleWaits());
    {
        clocks::ScopedFakeClock outer;
        EXPECT_EQ(&clocks::Current(), &outer);
        {
            clocks::ScopedFakeClock inner(5ms);
            EXPECT_EQ(&clocks::Current(), &inner);
            EXPECT_EQ(clocks::Current().SettleMs(), 5);
        }
        EXPECT_EQ(&clocks::Current(), &outer);
    }
    EXPECT_EQ(&clocks::Current(), &clocks::SystemClock());
}

TEST(Clock, AFakeMovesOnlyForwardAndItsDatesMoveWithIt) {
    clocks::ScopedFakeClock fake;
    const auto wallBefore = clocks::WallNow();
    const auto before = clocks::Now();
    fake.Advance(10min);
    EXPECT_GE(clocks::Now() - before, 10min);
    EXPECT_GE(clocks::WallNow() - wallBefore, 10min);
    EXPECT_EQ(fake.Skipped(), 10min);

    fake.Advance(-1h);                // ignored
    fake.SkipTo(clocks::Now() - 1s);  // never back
    EXPECT_EQ(fake.Skipped(), 10min);
    fake.SkipTo(clocks::Now() + 1h);
    EXPECT_GT(fake.Skipped(), 69min);  // less the real time between the two readings

    // A date that is set moves on from there with the clock.
    const clocks::WallTime newYear = std::chrono::sys_days{std::chrono::year{2001} / 1 / 1};
    fake.SetWallNow(newYear);
    const auto set = clocks::WallNow();
    EXPECT_GE(set, newYear);
    EXPECT_LT(set, newYear + 1min);
    fake.Advance(24h);
    EXPECT_GE(clocks::WallNow(), newYear + 24h);
    EXPECT_LT(clocks::WallNow(), newYear + 24h + 1min);
}

}  // namespace
