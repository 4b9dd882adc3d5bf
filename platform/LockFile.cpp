#include "LockFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

// Readable by all, like any file the program makes in its root.
constexpr mode_t kLockFileMode = 0644;

}  // namespace

LockFile::~LockFile() { Release(); }

void LockFile::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

LockFile::Result LockFile::TryLock(const std::string& nativePath, int* error)
{
    Release();
    fd_ = ::open(nativePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLockFileMode);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0)
        return Result::Locked;
    const int reason = errno;
    Release();
    if (reason == EWOULDBLOCK)
        return Result::HeldElsewhere;
    if (error)
        *error = reason;
    return Result::Failed;
}

}  // namespace platform
