#pragma once
// The process-wide time-out watchdog. Blocking work is bracketed by Arm and Disarm; when
// a deadline passes, the watchdog thread sets the target's timed-out flag and calls its
// OnTimeout, which breaks the blocked call (a socket shuts down, a child is terminated).
// Deadlines are 64-bit monotonic milliseconds, so none expires early around a wrap.
//
// Arm and Disarm run around every blocking call of every connection, so they take no lock:
// each target keeps its one deadline in an atomic word, and the watchdog's table of targets
// is locked only when a target is armed for the first time and when it is destroyed.

#include "thread/LockedValue.h"
#include "thread/SpinLock.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CTimeoutTarget {
public:
    CTimeoutTarget() = default;
    CTimeoutTarget(const CTimeoutTarget&) = delete;
    CTimeoutTarget& operator=(const CTimeoutTarget&) = delete;
    // Disarms, waiting for an OnTimeout of this object that is running. A derived class
    // whose OnTimeout uses its own members must Disarm in its own destructor, so that a
    // time-out cannot run on a half-destroyed object.
    virtual ~CTimeoutTarget();

    // Clears the timed-out flag and replaces the deadline of this object with one `ms`
    // from now (ms < 1: the watchdog's default). A time-out of the old deadline either
    // happened before (its OnTimeout has returned, the flag is cleared) or never happens.
    void Arm(int ms);
    // Removes the deadline. When it returns, no OnTimeout of this object runs or will run
    // until it is armed again: it waits for one that is running on the watchdog thread,
    // except when called from that OnTimeout itself.
    void Disarm();
    int IsTimedOut() const { return timedOut_.Get(); }

    // Runs on the watchdog thread while the owner may be blocked in the call it breaks:
    // it must do only what is safe from another thread, and must not destroy this object
    // nor wait for a thread that is arming or disarming it. It may Arm or Disarm this
    // object. The default does nothing.
    virtual void OnTimeout() {}

private:
    friend class CTimeoutWatcher;

    // deadline << 1 | kFiring; deadline 0 is unarmed.
    std::atomic<uint64_t> state_{0};
    // Larger for a later Arm, of the same thread or in a later millisecond: among expired
    // targets the latest armed goes first.
    std::atomic<uint64_t> armOrder_{0};
    // Set once, when the target enters the watchdog's table.
    std::atomic<bool> enrolled_{false};
    // Its place in the table; under the table lock.
    size_t slot_ = 0;
    CLockedValue timedOut_;
};

// Disarms its target when it goes out of scope, so an exception leaves nothing armed.
class CTimeoutGuard {
public:
    explicit CTimeoutGuard(CTimeoutTarget* target) : target_(target) {}
    virtual ~CTimeoutGuard() { target_->Disarm(); }
    CTimeoutGuard(const CTimeoutGuard&) = delete;
    CTimeoutGuard& operator=(const CTimeoutGuard&) = delete;

private:
    CTimeoutTarget* target_;
};

class CTimeoutWatcher {
public:
    // The one watchdog; its thread starts with the first call.
    static CTimeoutWatcher& Instance();

    // Before a server core sets Basic::TimeOut x 1000, targets armed with the default get
    // this: three minutes end a stuck call without cutting short a slow one.
    static constexpr int kInitialDefaultTimeout = 180000;
    // How often the targets are scanned; every target whose deadline has passed expires
    // in the scan, the most recently armed first. Time-outs are set in seconds, so a tenth
    // of one is precise enough for the cost of a scan.
    static constexpr int kScanIntervalMs = 100;

    void SetDefaultTimeout(int ms);
    int GetDefaultTimeout() const;
    // Gives the target one deadline `ms` from now (ms < 1: the default), replacing the one
    // it had; the timed-out flag is left as it is.
    void Register(CTimeoutTarget* target, int ms);
    // Removes the target's deadline, as its Disarm does.
    void Unregister(CTimeoutTarget* target);
    // How many deadlines the target has, 0 or 1 (for tests). The target need not exist
    // any more: a destroyed one has none.
    int CountEntries(const CTimeoutTarget* target) const;

    ~CTimeoutWatcher();

private:
    friend class CTimeoutTarget;

    CTimeoutWatcher();
    void SetDeadline(CTimeoutTarget* target, int ms, bool clearTimedOut);
    void ClearDeadline(CTimeoutTarget* target);
    // Adds the target to the table on its first deadline, and takes it out when it dies.
    void Enrol(CTimeoutTarget* target);
    void Withdraw(CTimeoutTarget* target);
    // Returns once no OnTimeout of the target is running, at once on the thread that runs it.
    void WaitWhileFiring(const CTimeoutTarget* target);
    void Loop();
    // Expires the most recently armed target whose deadline has passed by `now`: false
    // when there was none.
    bool ScanOnce(int64_t now);

    // Guards targets_ and each target's slot_. Not held while OnTimeout runs, so that an
    // OnTimeout may take locks that threads destroying other targets hold. Every socket
    // takes it at its first arm and at its end, for a few steps, and a scan for one pass:
    // a spin lock spares the sockets a sleep when they meet.
    mutable CSpinLock tableLock_;
    std::vector<CTimeoutTarget*> targets_;
    std::atomic<int> defaultTimeout_{kInitialDefaultTimeout};
    // Wakes the threads that wait for an OnTimeout to return.
    std::mutex firingLock_;
    std::condition_variable firingDone_;
    CLockedValue stop_;
    std::thread thread_;
};
