#include "IntervalTimer.h"

#include "Clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

struct TimerCase {
    const char* what;
    uint64_t start;
    uint64_t now;
    int expected;
};

TEST(IntervalTimerTest, FiresOnlyOnceMoreThanTheIntervalHasPassed)
{
    const uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const TimerCase cases[] = {
        {"at the start", 5000, 5000, 0},
        {"one before the interval", 5000, 5999, 0},
        {"exactly the interval", 5000, 6000, 0},
        {"one past the interval", 5000, 6001, 1},
        {"long past", 5000, 1000000, 1},
        {"before the start", 5000, 4999, 0},
        {"a 32-bit tick would have wrapped", 0xFFFFFF00ull, 0x100000000ull, 0},
        {"past the interval across 2^32", 0xFFFFFF00ull, 0xFFFFFF00ull + 1001, 1},
        {"start + interval would overflow 64 bits", kMax - 10, kMax, 0},
        {"zero start", 0, 1001, 1},
    };
    for (const TimerCase& c : cases) {
        CIntervalTimer timer(1000, c.start);
        EXPECT_EQ(c.expected, timer.IsElapsed(c.now)) << c.what;
    }
}

TEST(IntervalTimerTest, RestartsAtTheMomentOfTheTest)
{
    CIntervalTimer timer(1000, 5000);
    ASSERT_EQ(1, timer.IsElapsed(6500));
    // Restarted at 6500, not at 6000: due only after 7500.
    EXPECT_EQ(0, timer.IsElapsed(7000));
    EXPECT_EQ(0, timer.IsElapsed(7500));
    EXPECT_EQ(1, timer.IsElapsed(7501));
}

TEST(IntervalTimerTest, FailedTestChangesNothing)
{
    CIntervalTimer timer(1000, 5000);
    EXPECT_EQ(0, timer.IsElapsed(5500));
    EXPECT_EQ(0, timer.IsElapsed(4000));
    EXPECT_EQ(1, timer.IsElapsed(6001));
}

TEST(IntervalTimerTest, DoesNotFireRepeatedlyAroundTheOld32BitWrap)
{
    // A 32-bit tick fired on every test from start + interval wrapping until the tick
    // itself wrapped; here one firing per interval, straight through 2^32.
    const uint64_t start = 0xFFFFFFFFull - 500;
    CIntervalTimer timer(1000, start);
    int fired = 0;
    for (uint64_t now = start; now <= start + 3000; now += 10)
        fired += timer.IsElapsed(now);
    EXPECT_EQ(2, fired);  // at start + 1010 and start + 2020
}

TEST(IntervalTimerTest, ZeroIntervalFiresOnEveryNewMillisecond)
{
    CIntervalTimer timer(0, 100);
    EXPECT_EQ(0, timer.IsElapsed(100));
    EXPECT_EQ(1, timer.IsElapsed(101));
    EXPECT_EQ(0, timer.IsElapsed(101));
}

TEST(IntervalTimerTest, CheckIsIsElapsed)
{
    CIntervalTimer timer(1000, 5000);
    EXPECT_EQ(0, timer.Check(6000));
    EXPECT_EQ(1, timer.Check(6001));
    EXPECT_EQ(0, timer.Check(7001));
}

TEST(IntervalTimerTest, RunsOnTheSystemClock)
{
    // A long interval started now is not due now; the same timer set back by its whole
    // interval and more is.
    CIntervalTimer fresh(60000);
    EXPECT_EQ(0, fresh.IsElapsed());
    EXPECT_EQ(0, fresh.Check());

    const uint64_t now = platform::GetTickCount64();
    CIntervalTimer old(1000, now >= 2000 ? now - 2000 : 0);
    if (now >= 2000) {
        EXPECT_EQ(1, old.IsElapsed());
        EXPECT_EQ(0, old.IsElapsed());  // restarted at the system tick
    }
}

}  // namespace
