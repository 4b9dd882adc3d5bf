#pragma once
// Makes a write fail midway, as a full disk would, for tests of what a failed write leaves.

#include <sys/resource.h>

#include <csignal>

namespace testsupport {

// While alive, files of this process cannot grow beyond `bytes` (root is bound too), and
// SIGXFSZ is ignored so that a write past the limit reports EFBIG instead of ending the
// process. The old limit and handler come back on destruction. Not for use from two
// threads at once: both are process-wide.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // Whether the limit is in force; a test asserts it before relying on it.
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool savedOk_ = false;
    sighandler_t oldHandler_;
    bool ok_ = false;
};

}  // namespace testsupport
