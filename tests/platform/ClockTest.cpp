#include "Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace {

uint64_t SteadyMs()
{
    using std::chrono::milliseconds;
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<milliseconds>(sinceEpoch).count());
}

TEST(ClockTest, ReadsTheMonotonicClockInMilliseconds)
{
    // steady_clock is CLOCK_MONOTONIC here, so a reading taken between two of its readings
    // must lie between them: this catches a wrong clock or a wrong unit.
    const uint64_t before = SteadyMs();
    const uint64_t tick = platform::GetTickCount64();
    const uint64_t after = SteadyMs();
    EXPECT_LE(before, tick);
    EXPECT_LE(tick, after);
}

TEST(ClockTest, NeverDecreasesAndAdvances)
{
    const uint64_t first = platform::GetTickCount64();
    uint64_t last = first;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (last == first && std::chrono::steady_clock::now() < deadline) {
        const uint64_t now = platform::GetTickCount64();
        ASSERT_GE(now, last);
        last = now;
    }
    EXPECT_GT(last, first);
}

}  // namespace
