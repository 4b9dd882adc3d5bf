#pragma once
// The system's millisecond tick, in place of a 32-bit tick count: CLOCK_MONOTONIC read as
// 64 bits, so it neither wraps in the life of a process nor jumps when the wall clock is set.

#include <cstdint>

namespace platform {

// Milliseconds since an unspecified fixed point; never decreases. Thread-safe.
uint64_t GetTickCount64();

}  // namespace platform
