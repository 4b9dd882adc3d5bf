#include "thread/TimeoutWatcher.h"

#include "../ServerTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
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

// Two targets that note the order in which they expire.
struct ExpiryOrder {
    ExpiryOrder()
    {
        earlier.action = [this] { Note(&earlier); };
        later.action = [this] { Note(&later); };
    }
    void Note(const CTimeoutTarget* target)
    {
        std::lock_guard<std::mutex> hold(lock);
        order.push_back(target);
    }
    bool BothFired() const { return earlier.calls.load() == 1 && later.calls.load() == 1; }
    // The later target first, then the earlier one.
    bool LaterFirst()
    {
        std::lock_guard<std::mutex> hold(lock);
        return order == std::vector<const CTimeoutTarget*>{&later, &earlier};
    }

    RecordingTarget earlier;
    RecordingTarget later;
    std::mutex lock;
    std::vector<const CTimeoutTarget*> order;
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

TEST_F(TimeoutWatcherTest, RegisterReplacesTheDeadlineAndUnregisterRemovesItForItsTargetOnly)
{
    RecordingTarget target;
    RecordingTarget other;
    watcher.Register(&target, kFarAway);
    watcher.Register(&other, kFarAway);
    watcher.Register(&target, kFarAway);
    ASSERT_EQ(1, watcher.CountEntries(&target));
    watcher.Unregister(&target);
    EXPECT_EQ(0, watcher.CountEntries(&target));
    EXPECT_EQ(1, watcher.CountEntries(&other));
}

TEST_F(TimeoutWatcherTest, ALaterArmReplacesAnExpiringDeadline)
{
    RecordingTarget witness;
    RecordingTarget target;
    witness.Arm(1);
    target.Arm(1);  // armed later: were this deadline left, the target would go first
    target.Arm(kFarAway);
    ASSERT_TRUE(WaitUntil([&] { return witness.calls.load() == 1; }, 3s));
    EXPECT_EQ(0, target.calls.load());
    EXPECT_EQ(1, watcher.CountEntries(&target));
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

// Both targets are registered inside one scan (from a third target's OnTimeout, on the
// watchdog thread), so both have expired by the next scan, which expires them both.
TEST_F(TimeoutWatcherTest, OfTwoExpiredTargetsTheLaterRegisteredGoesFirstInTheSameScan)
{
    ExpiryOrder two;
    RecordingTarget trigger;
    trigger.action = [&] {
        watcher.Register(&two.earlier, 1);
        watcher.Register(&two.later, 1);
    };
    trigger.Arm(1);
    ASSERT_TRUE(WaitUntil([&] { return two.BothFired(); }, 3s));
    EXPECT_TRUE(two.LaterFirst());
    EXPECT_LT(two.earlier.firedAt - two.later.firedAt, std::chrono::milliseconds(CTimeoutWatcher::kScanIntervalMs / 2));
}

TEST_F(TimeoutWatcherTest, OfTargetsArmedOnTwoThreadsTheLaterArmedGoesFirst)
{
    ExpiryOrder two;
    // The later arm's deadline comes first, so it leads whether the two expire in one scan
    // or in two.
    std::thread([&] { two.earlier.Arm(150); }).join();
    std::this_thread::sleep_for(5ms);
    two.later.Arm(140);
    ASSERT_TRUE(WaitUntil([&] { return two.BothFired(); }, 3s));
    EXPECT_TRUE(two.LaterFirst());
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

// What a blocking time-out and the test share; kept outside the target, so that it can be
// read after the target is gone.
struct Gate {
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
};

// A target whose OnTimeout stays inside until the test releases it.
class BlockingTarget : public CTimeoutTarget {
public:
    BlockingTarget(Gate& gate, bool rearmInside) : gate_(gate), rearmInside_(rearmInside) {}
    ~BlockingTarget() override { Disarm(); }

    void OnTimeout() override
    {
        if (rearmInside_) {
            Arm(kFarAway);
            Disarm();
        }
        gate_.inside = true;
        WaitUntil([this] { return gate_.release.load(); }, 5s);
        gate_.finished = true;
    }

private:
    Gate& gate_;
    bool rearmInside_;
};

struct RunningTimeoutCase {
    const char* what;
    bool rearmInside;
    std::function<void(std::unique_ptr<BlockingTarget>&)> end;
    int timedOutAfter;  // of a target that still exists
    int entriesAfter;
};

// The owner must not go on (and may not free the object) while the watchdog is still
// inside the object's OnTimeout.
TEST_F(TimeoutWatcherTest, DisarmArmAndDestructionWaitForARunningOnTimeout)
{
    const RunningTimeoutCase cases[] = {
        {"Disarm", false, [](std::unique_ptr<BlockingTarget>& target) { target->Disarm(); }, 1, 0},
        {"Disarm after OnTimeout armed and disarmed itself", true,
         [](std::unique_ptr<BlockingTarget>& target) { target->Disarm(); }, 0, 0},
        // The flag is cleared after the expiry, which belongs to the old deadline.
        {"Arm", false, [](std::unique_ptr<BlockingTarget>& target) { target->Arm(kFarAway); }, 0, 1},
        {"destruction", false, [](std::unique_ptr<BlockingTarget>& target) { target.reset(); }, 0, 0},
    };
    for (const RunningTimeoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        Gate gate;
        auto target = std::make_unique<BlockingTarget>(gate, c.rearmInside);
        target->Arm(1);
        ASSERT_TRUE(WaitUntil([&] { return gate.inside.load(); }, 3s));
        auto ended = std::async(std::launch::async, [&] {
            c.end(target);
            return gate.finished.load();
        });
        EXPECT_EQ(std::future_status::timeout, ended.wait_for(50ms));
        gate.release = true;
        ASSERT_EQ(std::future_status::ready, ended.wait_for(5s));
        EXPECT_TRUE(ended.get());
        if (target) {
            EXPECT_EQ(c.timedOutAfter, target->IsTimedOut());
            EXPECT_EQ(c.entriesAfter, watcher.CountEntries(target.get()));
        }
    }
}

// A target that counts its time-outs and those that came after its owner had disarmed it.
class CountingTarget : public CTimeoutTarget {
public:
    CountingTarget(std::atomic<int>& expiries, std::atomic<int>& late) : expiries_(expiries), late_(late) {}
    ~CountingTarget() override { Disarm(); }

    void OnTimeout() override
    {
        if (disarmed.load())
            ++late_;
        ++expiries_;
    }

    std::atomic<bool> disarmed{false};

private:
    std::atomic<int>& expiries_;
    std::atomic<int>& late_;
};

// Owners arm short deadlines, let some expire and disarm or destroy their targets while the
// watchdog scans: no time-out may reach a target after its Disarm has returned (the
// sanitizer builds also catch one that reaches a destroyed target).
TEST_F(TimeoutWatcherTest, NoTimeoutReachesATargetAfterItsDisarmReturned)
{
    constexpr int kOwners = 8;
    // Enough expiries that several scans met owners in the middle of their cycles.
    constexpr int kWantedExpiries = 4;
    constexpr auto kLongestHold = 2ms;
    std::atomic<int> expiries{0};
    std::atomic<int> late{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> owners;
    for (int i = 0; i < kOwners; ++i) {
        owners.emplace_back([&, i] {
            for (unsigned cycle = 0; !stop.load(); ++cycle) {
                auto target = std::make_unique<CountingTarget>(expiries, late);
                target->Arm(1);
                const auto until = Clock::now() + kLongestHold * ((cycle + static_cast<unsigned>(i)) % 3);
                while (Clock::now() < until && !target->IsTimedOut())
                    std::this_thread::yield();
                if ((cycle & 1) == 0) {
                    target->Disarm();
                    target->disarmed = true;
                    std::this_thread::yield();
                }
            }
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return expiries.load() >= kWantedExpiries; }, 10s));
    stop = true;
    for (std::thread& owner : owners)
        owner.join();
    EXPECT_EQ(0, late.load());
}

}  // namespace
