#pragma once
// Paces periodic work (the core's once-a-second duties, bandwidth accounting) on the
// monotonic millisecond clock (platform/Clock.h). Not locked: one owner thread.

#include <cstdint>

class CIntervalTimer {
public:
    // Starts at the current tick.
    explicit CIntervalTimer(uint32_t intervalMs);
    // Starts at nowMs, a reading of platform::GetTickCount64 (or a test's own time line).
    CIntervalTimer(uint32_t intervalMs, uint64_t nowMs);
    virtual ~CIntervalTimer();

    // 1 when more than the interval has passed since the start, and the timer restarts at
    // the moment of the test (not at start + interval: a late test does not make the next
    // one due sooner); else 0 and nothing changes. A time before the start reads as not
    // passed, so no wrap or backward step can make the timer fire early or repeatedly.
    int IsElapsed();
    int IsElapsed(uint64_t nowMs);
    // The same as IsElapsed.
    int Check();
    int Check(uint64_t nowMs);

private:
    uint32_t interval_;
    uint64_t start_;
};
