#pragma once
// The process-wide time-out watchdog. Blocking work is bracketed by Arm and Disarm; when
// a deadline passes, the watchdog thread sets the target's timed-out flag and calls its
// OnTimeout, which breaks the blocked call (a socket shuts down, a child is terminated).
// Deadlines are 64-bit monotonic milliseconds, so none expires early around a wrap.

#include "CriticalSection.h"
#include "LockedValue.h"

#include <cstdint>
#include <thread>
#include <vector>

class CTimeoutTarget {
public:
    CTimeoutTarget() = default;
    CTimeoutTarget(const CTimeoutTarget&) = delete;
    CTimeoutTarget& operator=(const CTimeoutTarget&) = delete;
    // Disarms. A derived class whose OnTimeout uses its own members must Disarm in its own
    // destructor, so that a time-out cannot run on a half-destroyed object.
    virtual ~CTimeoutTarget();

    // Clears the timed-out flag and replaces every deadline of this object with one `ms`
    // from now (ms < 1: the watchdog's default).
    void Arm(int ms);
    void Disarm();
    int IsTimedOut() const { return timedOut_.Get(); }

    // Runs on the watchdog thread while the owner may be blocked in the call it breaks:
    // it must do only what is safe from another thread. The default does nothing.
    virtual void OnTimeout() {}

private:
    friend class CTimeoutWatcher;
    CLockedValue timedOut_;
};

class CTimeoutWatcher {
public:
    // The one watchdog; its thread starts with the first call.
    static CTimeoutWatcher& Instance();

    // Before a server core sets Basic::TimeOut x 1000, targets armed with the default get this.
    static constexpr int kInitialDefaultTimeout = 180000;
    // How often the table is scanned; at most one target expires per scan.
    static constexpr int kScanIntervalMs = 100;

    void SetDefaultTimeout(int ms);
    int GetDefaultTimeout() const;
    // Adds a deadline `ms` from now (ms < 1: the default) at the end of the table.
    void Register(CTimeoutTarget* target, int ms);
    // Removes every deadline of the target.
    void Unregister(CTimeoutTarget* target);
    // How many deadlines the target has in the table (for tests).
    int CountEntries(const CTimeoutTarget* target) const;

    ~CTimeoutWatcher();

private:
    friend class CTimeoutTarget;
    struct Entry {
        CTimeoutTarget* target;
        int64_t start;
        int64_t deadline;
    };

    CTimeoutWatcher();
    void Loop();
    // Expires the most recently registered entry whose deadline has passed, if any.
    void ScanOnce(int64_t now);

    // Held through each scan, OnTimeout included; re-entrant, so OnTimeout may Arm or Disarm.
    platform::CCriticalSection lock_;
    std::vector<Entry> entries_;
    int defaultTimeout_ = kInitialDefaultTimeout;
    CLockedValue stop_;
    std::thread thread_;
};
