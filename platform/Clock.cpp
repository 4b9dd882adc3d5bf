#include "Clock.h"

#include <ctime>

namespace platform {

uint64_t GetTickCount64()
{
    timespec now{};
    // Cannot fail: the clock id is valid and the buffer ours.
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace platform
