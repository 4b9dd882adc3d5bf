#pragma once
// Re-entrant locks that objects shared between threads derive from or hold. The owning
// thread may lock them again without blocking itself; waits are unbounded.

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace platform {

// An exclusive lock.
class CCriticalSection {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    // BasicLockable, so std::lock_guard and std::unique_lock can hold it. Const, because
    // reading a shared object still needs its lock.
    void lock() const { mutex_.lock(); }
    void unlock() const { mutex_.unlock(); }

private:
    mutable std::recursive_mutex mutex_;
};

// The same with a shared hold besides the exclusive one, so that threads that only read
// an object do not wait for one another. Both holds are re-entrant; a thread that holds
// the lock exclusively passes through lock_shared (it then counts as one more exclusive
// hold). A thread holding it only shared must not ask for it exclusively: it would wait
// for itself.
class CSharedCriticalSection {
public:
    CSharedCriticalSection() = default;
    CSharedCriticalSection(const CSharedCriticalSection&) = delete;
    CSharedCriticalSection& operator=(const CSharedCriticalSection&) = delete;

    // BasicLockable and SharedLockable, so std::lock_guard, std::unique_lock and
    // std::shared_lock can hold it.
    void lock() const;
    void unlock() const;
    void lock_shared() const;
    void unlock_shared() const;

    // Whether the calling thread holds the lock, exclusively or shared.
    bool IsHeldByThisThread() const;
    // Whether the calling thread holds it exclusively.
    bool IsOwnedByThisThread() const { return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

private:
    mutable std::shared_mutex mutex_;
    mutable std::atomic<std::thread::id> owner_{};
    mutable int depth_ = 0;  // exclusive holds of the owner; touched by the owner only
};

}  // namespace platform
