#include "TimeoutWatcher.h"

#include "Clock.h"
#include "ThreadPriority.h"

#include <chrono>
#include <mutex>

namespace {
using Lock = std::lock_guard<const platform::CCriticalSection>;
}

CTimeoutTarget::~CTimeoutTarget() { Disarm(); }

void CTimeoutTarget::Arm(int ms)
{
    CTimeoutWatcher& watcher = CTimeoutWatcher::Instance();
    // One locked step: a time-out that fires now either happened before (and is cleared)
    // or belongs to the new deadline; it is never lost in between.
    Lock lock(watcher.lock_);
    timedOut_.Set(0);
    watcher.Unregister(this);
    watcher.Register(this, ms);
}

void CTimeoutTarget::Disarm() { CTimeoutWatcher::Instance().Unregister(this); }

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

void CTimeoutWatcher::SetDefaultTimeout(int ms)
{
    Lock lock(lock_);
    defaultTimeout_ = ms;
}

int CTimeoutWatcher::GetDefaultTimeout() const
{
    Lock lock(lock_);
    return defaultTimeout_;
}

void CTimeoutWatcher::Register(CTimeoutTarget* target, int ms)
{
    Lock lock(lock_);
    if (ms < 1)
        ms = defaultTimeout_;
    const int64_t now = platform::GetTickCount64();
    entries_.push_back({target, now, now + ms});
}

void CTimeoutWatcher::Unregister(CTimeoutTarget* target)
{
    Lock lock(lock_);
    for (size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].target == target)
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

int CTimeoutWatcher::CountEntries(const CTimeoutTarget* target) const
{
    Lock lock(lock_);
    int count = 0;
    for (const Entry& entry : entries_)
        count += entry.target == target ? 1 : 0;
    return count;
}

void CTimeoutWatcher::Loop()
{
    while (!stop_.Get()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kScanIntervalMs));
        ScanOnce(platform::GetTickCount64());
    }
}

void CTimeoutWatcher::ScanOnce(int64_t now)
{
    Lock lock(lock_);
    for (size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].deadline > now)
            continue;
        CTimeoutTarget* target = entries_[i].target;
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        target->timedOut_.Set(1);
        target->OnTimeout();
        return;
    }
}
