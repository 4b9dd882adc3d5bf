#include "Semaphore.h"

#include <semaphore.h>
#include <time.h>

#include <cerrno>

namespace platform {

struct CSemaphore::Native {
    sem_t semaphore;
};

CSemaphore::CSemaphore() : native_(new Native)
{
    // Only a count above SEM_VALUE_MAX fails: 0 never does.
    ::sem_init(&native_->semaphore, 0, 0);
}

CSemaphore::~CSemaphore() { ::sem_destroy(&native_->semaphore); }

void CSemaphore::Post() { ::sem_post(&native_->semaphore); }

bool CSemaphore::WaitFor(std::chrono::milliseconds limit)
{
    return WaitUntil(std::chrono::steady_clock::now() + limit);
}

bool CSemaphore::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto sinceEpoch = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const timespec until{static_cast<time_t>(seconds.count()),
                         static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count())};
    for (;;) {
        // steady_clock is CLOCK_MONOTONIC on this platform.
        if (::sem_clockwait(&native_->semaphore, CLOCK_MONOTONIC, &until) == 0)
            return true;
        if (errno != EINTR)
            return false;  // ETIMEDOUT
    }
}

}  // namespace platform
