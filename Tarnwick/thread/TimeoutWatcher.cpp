#include "thread/TimeoutWatcher.h"

#include "Clock.h"
#include "ThreadPriority.h"

#include <algorithm>
#include <chrono>

namespace {

// In a target's state word: its OnTimeout is running.
constexpr uint64_t kFiring = 1;

uint64_t DeadlineOf(uint64_t state) { return state >> 1; }

// The arm order is the millisecond above these bits and a count of the thread's own arms
// within it below them; a count that runs over moves into the next millisecond's range,
// which keeps the thread's order.
constexpr int kArmOrderTickShift = 20;

// Orders the arms of one thread exactly and those of different threads by their
// millisecond: one counter for all would be written by every connection at every arm.
uint64_t NextArmOrder(int64_t now)
{
    thread_local uint64_t last = 0;
    last = std::max(last + 1, static_cast<uint64_t>(std::max<int64_t>(now, 0)) << kArmOrderTickShift);
    return last;
}

// The target whose OnTimeout the current thread is running, so that its own Arm and
// Disarm do not wait for themselves.
thread_local const CTimeoutTarget* tFiringTarget = nullptr;

}  // namespace

CTimeoutTarget::~CTimeoutTarget()
{
    Disarm();
    if (enrolled_.load())
        CTimeoutWatcher::Instance().Withdraw(this);
}

void CTimeoutTarget::Arm(int ms) { CTimeoutWatcher::Instance().SetDeadline(this, ms, true); }

void CTimeoutTarget::Disarm()
{
    // Never armed, or expired and finished: the watchdog has nothing of this object.
    if (state_.load() == 0)
        return;
    CTimeoutWatcher::Instance().ClearDeadline(this);
}

CTimeoutWatcher& CTimeoutWatcher::Instance()
{
    static CTimeoutWatcher watcher;
    return watcher;
}

CTimeoutWatcher::CTimeoutWatcher()
{
    thread_ = std::thread([this] {
        platform::SetCurrentThreadPriority(platform::ThreadPriority::BelowNormal);
        Loop();
    });
}

CTimeoutWatcher::~CTimeoutWatcher()
{
    stop_.Set(1);
    if (thread_.joinable())
        thread_.join();
}

void CTimeoutWatcher::SetDefaultTimeout(int ms) { defaultTimeout_.store(ms); }

int CTimeoutWatcher::GetDefaultTimeout() const { return defaultTimeout_.load(); }

void CTimeoutWatcher::Register(CTimeoutTarget* target, int ms) { SetDeadline(target, ms, false); }

void CTimeoutWatcher::Unregister(CTimeoutTarget* target) { ClearDeadline(target); }

void CTimeoutWatcher::SetDeadline(CTimeoutTarget* target, int ms, bool clearTimedOut)
{
    if (!target->enrolled_.load())
        Enrol(target);
    if (ms < 1)
        ms = defaultTimeout_.load();
    uint64_t state = target->state_.load();
    for (;;) {
        // An expiry that has begun completes first: it belongs to the old deadline.
        if ((state & kFiring) && tFiringTarget != target) {
            WaitWhileFiring(target);
            state = target->state_.load();
            continue;
        }
        const int64_t now = static_cast<int64_t>(platform::GetTickCount64());
        // Never 0, which would read as unarmed, even with a default that is not positive.
        const uint64_t deadline = static_cast<uint64_t>(std::max<int64_t>(now + ms, 1));
        if (clearTimedOut && target->timedOut_.Get() != 0)
            target->timedOut_.Set(0);
        target->armOrder_.store(NextArmOrder(now));
        // Fails when the watchdog has claimed the old deadline meanwhile: then its expiry
        // runs first and the flag is cleared after it.
        if (target->state_.compare_exchange_weak(state, deadline << 1 | (state & kFiring)))
            return;
    }
}

void CTimeoutWatcher::ClearDeadline(CTimeoutTarget* target)
{
    uint64_t state = target->state_.load();
    while (DeadlineOf(state) != 0 && !target->state_.compare_exchange_weak(state, state & kFiring)) {
    }
    if ((target->state_.load() & kFiring) && tFiringTarget != target)
        WaitWhileFiring(target);
}

void CTimeoutWatcher::Enrol(CTimeoutTarget* target)
{
    std::lock_guard<CSpinLock> lock(tableLock_);
    if (target->enrolled_.load())
        return;
    target->slot_ = targets_.size();
    targets_.push_back(target);
    target->enrolled_.store(true);
}

void CTimeoutWatcher::Withdraw(CTimeoutTarget* target)
{
    std::lock_guard<CSpinLock> lock(tableLock_);
    const size_t slot = target->slot_;
    targets_[slot] = targets_.back();
    targets_[slot]->slot_ = slot;
    targets_.pop_back();
}

void CTimeoutWatcher::WaitWhileFiring(const CTimeoutTarget* target)
{
    std::unique_lock<std::mutex> lock(firingLock_);
    firingDone_.wait(lock, [target] { return (target->state_.load() & kFiring) == 0; });
}

int CTimeoutWatcher::CountEntries(const CTimeoutTarget* target) const
{
    std::lock_guard<CSpinLock> lock(tableLock_);
    // Looked up before it is read: a destroyed target has left the table.
    if (std::find(targets_.begin(), targets_.end(), target) == targets_.end())
        return 0;
    return DeadlineOf(target->state_.load()) != 0 ? 1 : 0;
}

void CTimeoutWatcher::Loop()
{
    while (!stop_.Get()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kScanIntervalMs));
        const int64_t now = static_cast<int64_t>(platform::GetTickCount64());
        // Every deadline that has passed goes in the same scan: a connection's time-out
        // frees its slot at once, however many expire together.
        while (ScanOnce(now)) {
        }
    }
}

bool CTimeoutWatcher::ScanOnce(int64_t now)
{
    CTimeoutTarget* expired = nullptr;
    {
        std::lock_guard<CSpinLock> lock(tableLock_);
        for (;;) {
            uint64_t expiredState = 0;
            uint64_t latestOrder = 0;
            for (CTimeoutTarget* target : targets_) {
                const uint64_t state = target->state_.load();
                const uint64_t deadline = DeadlineOf(state);
                if (deadline == 0 || static_cast<int64_t>(deadline) > now)
                    continue;
                const uint64_t order = target->armOrder_.load();
                if (!expired || order > latestOrder) {
                    expired = target;
                    expiredState = state;
                    latestOrder = order;
                }
            }
            if (!expired)
                return false;
            // Claimed under the table lock, so the target cannot leave the table before
            // its destructor has waited for the expiry to finish.
            if (expired->state_.compare_exchange_strong(expiredState, kFiring))
                break;
            expired = nullptr;  // re-armed or disarmed meanwhile: look again
        }
    }
    expired->timedOut_.Set(1);
    tFiringTarget = expired;
    expired->OnTimeout();
    tFiringTarget = nullptr;
    // The last touch of the target: once the bit is clear its owner may destroy it.
    expired->state_.fetch_and(~kFiring);
    { std::lock_guard<std::mutex> lock(firingLock_); }
    firingDone_.notify_all();
    return true;
}
