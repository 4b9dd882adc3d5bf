#include "OpenWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace testsupport {

OpenWatch::OpenWatch(const std::vector<std::string>& paths)
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), ok_(fd_ >= 0)
{
    for (const std::string& path : paths) {
        if (ok_ && ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS) < 0)
            ok_ = false;
    }
}

OpenWatch::~OpenWatch()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::vector<std::string> OpenWatch::Opened()
{
    std::vector<std::string> names;
    if (fd_ < 0)
        return names;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            names.push_back(event->len ? event->name : "");
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return names;
}

}  // namespace testsupport
