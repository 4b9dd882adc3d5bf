#pragma once
// A re-entrant lock that objects shared between threads derive from or hold. The owning
// thread may lock it again without blocking itself; waits are unbounded.

#include <mutex>

namespace platform {

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

}  // namespace platform
