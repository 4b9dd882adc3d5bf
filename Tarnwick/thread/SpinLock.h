#pragma once
// A lock for data that its owner thread changes often and another thread reads seldom and
// briefly: taken free, it costs one atomic exchange where a mutex costs two calls. A
// waiter yields its time slice between tries, so a holder that was preempted gets on.

#include <atomic>
#include <thread>

class CSpinLock {
public:
    CSpinLock() = default;
    CSpinLock(const CSpinLock&) = delete;
    CSpinLock& operator=(const CSpinLock&) = delete;

    void lock()
    {
        while (held_.test_and_set(std::memory_order_acquire))
            std::this_thread::yield();
    }
    void unlock() { held_.clear(std::memory_order_release); }

private:
    std::atomic_flag held_ = ATOMIC_FLAG_INIT;
};
