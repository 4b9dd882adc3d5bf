#include "CriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace {

using platform::CSharedCriticalSection;
using namespace std::chrono_literals;

// Runs `attempt` on another thread and tells whether it finished within `limit`; the
// thread is joined either way (the caller releases what it waits for).
class OtherThread {
public:
    template <typename Attempt>
    explicit OtherThread(Attempt attempt) : thread_([this, attempt] { attempt(); done_.store(true); }) {}
    ~OtherThread() { thread_.join(); }
    bool FinishesWithin(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done_.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        return done_.load();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST(CriticalSectionTest, SharedHoldsOfTwoThreadsOverlap)
{
    CSharedCriticalSection lock;
    std::shared_lock<const CSharedCriticalSection> mine(lock);
    OtherThread reader([&] { std::shared_lock<const CSharedCriticalSection> theirs(lock); });
    EXPECT_TRUE(reader.FinishesWithin(5000ms));
}

TEST(CriticalSectionTest, WritersAreKeptOutByAnyHoldAndReadersByAnExclusiveOne)
{
    const struct {
        const char* description;
        bool holderShared;
        bool otherShared;
    } cases[] = {
        {"exclusive holder, reader", false, true},
        {"exclusive holder, writer", false, false},
        {"shared holder, writer", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        CSharedCriticalSection lock;
        if (c.holderShared)
            lock.lock_shared();
        else
            lock.lock();
        OtherThread other([&] {
            if (c.otherShared)
                std::shared_lock<const CSharedCriticalSection> theirs(lock);
            else
                std::lock_guard<const CSharedCriticalSection> theirs(lock);
        });
        EXPECT_FALSE(other.FinishesWithin(50ms));
        if (c.holderShared)
            lock.unlock_shared();
        else
            lock.unlock();
        EXPECT_TRUE(other.FinishesWithin(5000ms));
    }
}

TEST(CriticalSectionTest, BothHoldsAreReentrant)
{
    CSharedCriticalSection lock;
    {
        std::lock_guard<const CSharedCriticalSection> outer(lock);
        std::lock_guard<const CSharedCriticalSection> inner(lock);
        std::shared_lock<const CSharedCriticalSection> read(lock);
        EXPECT_TRUE(lock.IsOwnedByThisThread());
    }
    EXPECT_FALSE(lock.IsHeldByThisThread()) << "every hold released";
    {
        std::shared_lock<const CSharedCriticalSection> outer(lock);
        std::shared_lock<const CSharedCriticalSection> inner(lock);
        EXPECT_TRUE(lock.IsHeldByThisThread());
        EXPECT_FALSE(lock.IsOwnedByThisThread());
    }
    EXPECT_FALSE(lock.IsHeldByThisThread());
    // Released whole: another thread can take it exclusively now.
    OtherThread writer([&] { std::lock_guard<const CSharedCriticalSection> theirs(lock); });
    EXPECT_TRUE(writer.FinishesWithin(5000ms));
}

TEST(CriticalSectionTest, ASecondSharedHoldDoesNotQueueBehindAWaitingWriter)
{
    CSharedCriticalSection lock;
    std::shared_lock<const CSharedCriticalSection> outer(lock);
    OtherThread writer([&] { std::lock_guard<const CSharedCriticalSection> theirs(lock); });
    EXPECT_FALSE(writer.FinishesWithin(20ms));
    {
        std::shared_lock<const CSharedCriticalSection> inner(lock);  // must not wait for the writer
    }
    outer.unlock();
    EXPECT_TRUE(writer.FinishesWithin(5000ms));
}

TEST(CriticalSectionTest, HoldsAreCountedPerLock)
{
    CSharedCriticalSection first, second;
    std::shared_lock<const CSharedCriticalSection> a(first);
    EXPECT_TRUE(first.IsHeldByThisThread());
    EXPECT_FALSE(second.IsHeldByThisThread());
    std::lock_guard<const CSharedCriticalSection> b(second);
    EXPECT_TRUE(second.IsOwnedByThisThread());
    EXPECT_FALSE(first.IsOwnedByThisThread());
}

}  // namespace
