#pragma once
// Thread priorities, best effort: raising a priority needs privileges that a server started
// by a user does not have, and then the thread simply keeps the normal one.

namespace platform {

enum class ThreadPriority { BelowNormal, Normal, Highest };

// Applies to the calling thread only.
void SetCurrentThreadPriority(ThreadPriority priority);

}  // namespace platform
