#include "Semaphore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A wait that must not end early is this long; one that must end ends well within kLimit.
constexpr auto kShortWait = 50ms;
constexpr auto kLimit = 10s;

TEST(SemaphoreTest, APostBeforeTheWaitLetsItReturnAtOnce)
{
    platform::CSemaphore semaphore;
    semaphore.Post();
    semaphore.Post();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(semaphore.WaitFor(kLimit));
    EXPECT_TRUE(semaphore.WaitFor(kLimit));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kLimit);
    EXPECT_FALSE(semaphore.WaitFor(0ms)) << "two posts, two waits";
}

TEST(SemaphoreTest, AWaitWithoutAPostEndsAtItsLimit)
{
    platform::CSemaphore semaphore;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(semaphore.WaitFor(kShortWait));
    EXPECT_GE(std::chrono::steady_clock::now() - start, kShortWait);
    EXPECT_FALSE(semaphore.WaitUntil(std::chrono::steady_clock::now() - 1s)) << "a deadline passed";
}

TEST(SemaphoreTest, APostFromAnotherThreadEndsAWaitAndShowsWhatWasWritten)
{
    platform::CSemaphore semaphore;
    int handed = 0;
    std::thread poster([&] {
        handed = 42;
        semaphore.Post();
    });
    EXPECT_TRUE(semaphore.WaitFor(kLimit));
    EXPECT_EQ(handed, 42);
    poster.join();
}

}  // namespace
