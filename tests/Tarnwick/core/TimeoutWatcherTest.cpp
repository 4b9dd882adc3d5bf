#include "TimeoutWatcher.h"

#include "../ServerTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>
#include <new>
#include <vector>

namespace {

using servertest::WaitUntil;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Deadlines in these tests are far beyond any test's run.
constexpr int kFarAway = 600000;

class RecordingTarget : public CTimeoutTarget {
public:
    ~RecordingTarget() override { Disarm(); }

    void OnTimeout() override
    {
        flagSeenInTimeout = IsTimedOut();
        firedAt = Clock::now();
        if (action)
            action();
        ++calls;
    }

    std::function<void()> action;
    std::atomic<int> calls{0};
    std::atomic<int> flagSeenInTimeout{-1};
    Clock::time_point firedAt;
};

class TimeoutWatcherTest : public testing::Test {
protected:
    CTimeoutWatcher& watcher = CTimeoutWatcher::Instance();
    void TearDown() override { watcher.SetDefaultTimeout(CTimeoutWatcher::kInitialDefaultTimeout); }
};

TEST_F(TimeoutWatcherTest, DefaultIsThreeMinutesUntilSet)
{
    EXPECT_EQ(180000, watcher.GetDefaultTimeout());
    watcher.SetDefaultTimeout(30000);
    EXPECT_EQ(30000, watcher.GetDefaultTimeout());
}

TEST_F(TimeoutWatcherTest, ZeroOrNegativeTimeoutTakesTheDefault)
{
    constexpr int kDefaultMs = 150;
    watcher.SetDefaultTimeout(kDefaultMs);
    for (int ms : {0, -1, INT_MIN}) {
        SCOPED_TRACE(ms);
        RecordingTarget target;
        const Clock::time_point registered = Clock::now();
        watcher.Register(&target, ms);
        ASSERT_TRUE(WaitUntil([&] { return target.calls.load() == 1; }, 3s));
        EXPECT_GE(target.firedAt - registered, std::chrono::milliseconds(kDefaultMs) - servertest::kTickSlack);
    }
}

TEST_F(TimeoutWatcherTest, ExpiryNotBeforeTheDeadlineAndSetsTheFlagFirst)
{
    RecordingTarget target;
    const Clock::time_point armed = Clock::now();
    target.Arm(120);
    EXPECT_EQ(0, target.IsTimedOut());
    ASSERT_TRUE(WaitUntil([&] { return target.calls.load() == 1; }, 3s));
    EXPECT_GE(target.firedAt - armed, 120ms - servertest::kTickSlack);
    EXPECT_EQ(1, target.flagSeenInTimeout.load());
    EXPECT_EQ(1, target.IsTimedOut());
    EXPECT_EQ(0, watcher.CountEntries(&target));  // an expired entry is gone
}

TEST_F(TimeoutWatcherTest, UnregisterRemovesEveryEntryOfTheTargetOnly)
{
    RecordingTarget target;
    RecordingTarget other;
    watcher.Register(&target, kFarAway);
    watcher.Register(&other, kFarAway);
    watcher.Register(&target, kFarAway);
    ASSERT_EQ(2, watcher.CountEntries(&target));
    watcher.Unregister(&target);
    EXPECT_EQ(0, watcher.CountEntries(&target));
    EXPECT_EQ(1, watcher.CountEntries(&other));
}

TEST_F(TimeoutWatcherTest, ArmLeavesExactlyOneEntry)
{
    RecordingTarget target;
    watcher.Register(&target, kFarAway);
    watcher.Register(&target, kFarAway);
    target.Arm(kFarAway);
    EXPECT_EQ(1, watcher.CountEntries(&target));
    target.Arm(kFarAway);
    EXPECT_EQ(1, watcher.CountEntries(&target));
    target.Disarm();
    EXPECT_EQ(0, watcher.CountEntries(&target));
}

TEST_F(TimeoutWatcherTest, ArmClearsTheTimedOutFlag)
{
    RecordingTarget target;
    target.Arm(1);
    ASSERT_TRUE(WaitUntil([&] { return target.IsTimedOut() == 1; }, 3s));
    target.Arm(kFarAway);
    EXPECT_EQ(0, target.IsTimedOut());
}

TEST_F(TimeoutWatcherTest, DestroyedTargetLeavesNoEntry)
{
    // Storage that outlives the object, so its address can still be looked for.
    alignas(RecordingTarget) unsigned char storage[sizeof(RecordingTarget)];
    auto* target = new (storage) RecordingTarget;
    const CTimeoutTarget* address = target;
    target->Arm(kFarAway);
    target->~RecordingTarget();
    EXPECT_EQ(0, watcher.CountEntries(address));
}

// Both targets are registered inside one scan (from a third target's OnTimeout, which runs
// under the watcher lock), so both have expired by the next scan.
TEST_F(TimeoutWatcherTest, OfTwoExpiredTargetsTheLaterRegisteredGoesFirstOnePerScan)
{
    RecordingTarget earlier;
    RecordingTarget later;
    std::mutex orderLock;
    std::vector<const CTimeoutTarget*> order;
    auto record = [&](const CTimeoutTarget* target) {
        std::lock_guard<std::mutex> lock(orderLock);
        order.push_back(target);
    };
    earlier.action = [&] { record(&earlier); };
    later.action = [&] { record(&later); };
    RecordingTarget trigger;
    trigger.action = [&] {
        watcher.Register(&earlier, 1);
        watcher.Register(&later, 1);
    };
    trigger.Arm(1);
    ASSERT_TRUE(WaitUntil([&] { return earlier.calls.load() == 1 && later.calls.load() == 1; }, 3s));
    std::lock_guard<std::mutex> lock(orderLock);
    ASSERT_EQ(2u, order.size());
    EXPECT_EQ(&later, order[0]);
    EXPECT_EQ(&earlier, order[1]);
    EXPECT_GE(earlier.firedAt - later.firedAt, std::chrono::milliseconds(CTimeoutWatcher::kScanIntervalMs / 2));
}

TEST_F(TimeoutWatcherTest, OnTimeoutMayArmAndDisarmItsOwnTarget)
{
    RecordingTarget target;
    std::atomic<int> entriesAfterRearm{-1};
    target.action = [&] {
        target.Arm(kFarAway);
        entriesAfterRearm = watcher.CountEntries(&target);
        target.Disarm();
    };
    target.Arm(1);
    ASSERT_TRUE(WaitUntil([&] { return target.calls.load() == 1; }, 3s));
    EXPECT_EQ(1, entriesAfterRearm.load());
    EXPECT_EQ(0, watcher.CountEntries(&target));
}

// A deadline past the 32-bit millisecond range must not wrap into the past.
TEST_F(TimeoutWatcherTest, LongestTimeoutDoesNotExpireEarly)
{
    RecordingTarget witness;
    RecordingTarget longest;
    witness.Arm(1);
    longest.Arm(INT_MAX);  // registered later: were it expired, it would go first
    ASSERT_TRUE(WaitUntil([&] { return witness.calls.load() == 1; }, 3s));
    EXPECT_EQ(0, longest.calls.load());
    EXPECT_EQ(1, watcher.CountEntries(&longest));
}

}  // namespace
