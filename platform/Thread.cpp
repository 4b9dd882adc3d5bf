#include "Thread.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <type_traits>
#include <vector>

namespace platform {

static_assert(std::is_same<ThreadHandle, pthread_t>::value, "a handle holds a pthread_t as it is");

size_t DefaultThreadStackBytes()
{
    pthread_attr_t defaults;
    size_t bytes = 0;
    if (::pthread_getattr_default_np(&defaults) != 0)
        return 0;
    if (::pthread_attr_getstacksize(&defaults, &bytes) != 0)
        bytes = 0;
    ::pthread_attr_destroy(&defaults);
    return bytes;
}

namespace {

struct ThreadStart {
    ThreadEntry entry;
    void* param;
};

// A new thread takes its creator's nice value; it starts at the process's instead, as a
// new thread starts at the normal priority: an accept thread runs raised, and the
// connection threads it starts must not.
void* StartAtProcessPriority(void* start)
{
    const ThreadStart what = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    const int process = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    const id_t self = static_cast<id_t>(::gettid());
    if (::getpriority(PRIO_PROCESS, self) != process)
        ::setpriority(PRIO_PROCESS, self, process);  // EPERM: keep the creator's
    return what.entry(what.param);
}

}  // namespace

int StartThread(ThreadHandle& handle, ThreadEntry entry, void* param, size_t guardBytes, bool detached)
{
    auto* const start = new (std::nothrow) ThreadStart{entry, param};
    if (!start)
        return ENOMEM;
    pthread_attr_t attributes;
    int result = ::pthread_attr_init(&attributes);
    if (result != 0) {
        delete start;
        return result;
    }
    result = ::pthread_attr_setguardsize(&attributes, guardBytes);
    if (result == 0 && detached)
        result = ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (result == 0)
        result = ::pthread_create(&thread, &attributes, StartAtProcessPriority, start);
    if (result == 0)
        handle = thread;
    else
        delete start;
    ::pthread_attr_destroy(&attributes);
    return result;
}

void JoinThread(ThreadHandle handle) { ::pthread_join(handle, nullptr); }

bool TryJoinThread(ThreadHandle handle) { return ::pthread_tryjoin_np(handle, nullptr) == 0; }

bool GetCurrentThreadStack(char*& low, size_t& bytes)
{
    pthread_attr_t attributes;
    if (::pthread_getattr_np(::pthread_self(), &attributes) != 0)
        return false;
    void* address = nullptr;
    size_t size = 0;
    const bool known = ::pthread_attr_getstack(&attributes, &address, &size) == 0;
    ::pthread_attr_destroy(&attributes);
    if (known) {
        low = static_cast<char*>(address);
        bytes = size;
    }
    return known;
}

size_t GetPageSize() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }

void ReleaseStackPages(char* low, size_t length, size_t probe)
{
    // Releasing pages flushes them from every core's address cache, which interrupts every
    // core that runs a thread of the process: only a stack that went deep pays for it.
    // Asking about the whole range would walk thousands of page entries every time.
    probe = std::min(probe, length);
    const size_t page = GetPageSize();
    std::vector<unsigned char> resident((probe + page - 1) / page);
    if (::mincore(low + length - probe, probe, resident.data()) == 0 &&
        std::none_of(resident.begin(), resident.end(), [](unsigned char bits) { return bits & 1; }))
        return;
    ::madvise(low, length, MADV_DONTNEED);
}

}  // namespace platform
