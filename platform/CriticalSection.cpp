#include "CriticalSection.h"

#include <algorithm>
#include <cassert>
#include <vector>

namespace platform {

namespace {

// The shared holds of the calling thread, one entry per lock, so that a thread that reads
// under a lock it already holds shared does not ask the mutex again: a second shared
// request could queue behind a waiting writer and wait for itself.
struct SharedHold {
    const CSharedCriticalSection* lock;
    int depth;
};

std::vector<SharedHold>& ThreadSharedHolds()
{
    thread_local std::vector<SharedHold> holds;
    return holds;
}

std::vector<SharedHold>::iterator FindHold(std::vector<SharedHold>& holds, const CSharedCriticalSection* lock)
{
    return std::find_if(holds.begin(), holds.end(), [lock](const SharedHold& hold) { return hold.lock == lock; });
}

}  // namespace

void CSharedCriticalSection::lock() const
{
    if (IsOwnedByThisThread()) {
        ++depth_;
        return;
    }
    assert(!IsHeldByThisThread() && "a shared hold cannot become exclusive");
    mutex_.lock();
    owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    depth_ = 1;
}

void CSharedCriticalSection::unlock() const
{
    if (--depth_ > 0)
        return;
    owner_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
}

void CSharedCriticalSection::lock_shared() const
{
    if (IsOwnedByThisThread()) {
        ++depth_;
        return;
    }
    std::vector<SharedHold>& holds = ThreadSharedHolds();
    const auto hold = FindHold(holds, this);
    if (hold != holds.end()) {
        ++hold->depth;
        return;
    }
    mutex_.lock_shared();
    holds.push_back({this, 1});
}

void CSharedCriticalSection::unlock_shared() const
{
    // The owner's shared holds were counted as exclusive ones, and it still owns the lock:
    // an exclusive hold cannot end inside a shared one it encloses.
    if (IsOwnedByThisThread()) {
        unlock();
        return;
    }
    std::vector<SharedHold>& holds = ThreadSharedHolds();
    const auto hold = FindHold(holds, this);
    assert(hold != holds.end());
    if (--hold->depth > 0)
        return;
    holds.erase(hold);
    mutex_.unlock_shared();
}

bool CSharedCriticalSection::IsHeldByThisThread() const
{
    if (IsOwnedByThisThread())
        return true;
    std::vector<SharedHold>& holds = ThreadSharedHolds();
    return FindHold(holds, this) != holds.end();
}

}  // namespace platform
