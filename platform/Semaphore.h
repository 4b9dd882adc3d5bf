#pragma once
// A counting semaphore, for handing a thread work: a Post wakes a thread that waits, or
// lets the next Wait return at once. Unlike a condition variable, which makes the woken
// thread take its mutex again (and the next unlock wake whoever might queue on it), a
// hand-over costs one wake.

#include <chrono>
#include <memory>

namespace platform {

class CSemaphore {
public:
    // Count 0.
    CSemaphore();
    ~CSemaphore();
    CSemaphore(const CSemaphore&) = delete;
    CSemaphore& operator=(const CSemaphore&) = delete;

    // Adds one to the count. What the posting thread wrote before is seen by the thread
    // whose wait the post ends.
    void Post();
    // Waits until the count is above 0 and takes one; false when `limit` passed first
    // (measured on the monotonic clock), nothing taken.
    bool WaitFor(std::chrono::milliseconds limit);
    // The same, waiting until `deadline` at most.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace platform
