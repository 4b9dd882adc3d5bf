#include "IntervalTimer.h"

#include "Clock.h"

CIntervalTimer::CIntervalTimer(uint32_t intervalMs)
    : CIntervalTimer(intervalMs, platform::GetTickCount64())
{
}

CIntervalTimer::CIntervalTimer(uint32_t intervalMs, uint64_t nowMs) : interval_(intervalMs), start_(nowMs) {}

CIntervalTimer::~CIntervalTimer() = default;

int CIntervalTimer::IsElapsed() { return IsElapsed(platform::GetTickCount64()); }

int CIntervalTimer::IsElapsed(uint64_t nowMs)
{
    // Compared as a difference, never as start + interval, which could overflow.
    if (nowMs < start_ || nowMs - start_ <= interval_)
        return 0;
    start_ = nowMs;
    return 1;
}

int CIntervalTimer::Check() { return IsElapsed(); }

int CIntervalTimer::Check(uint64_t nowMs) { return IsElapsed(nowMs); }
