#include "ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void SetCurrentThreadPriority(ThreadPriority priority)
{
    // On Linux a nice value set for a thread id applies to that thread alone.
    int nice = 0;
    switch (priority) {
    case ThreadPriority::BelowNormal: nice = 5; break;
    case ThreadPriority::Normal: nice = 0; break;
    case ThreadPriority::Highest: nice = -10; break;
    }
    const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);  // EPERM: keep the current one
}

}  // namespace platform
