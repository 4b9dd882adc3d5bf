#pragma once
// An exclusive lock on a file, in place of a named mutex: held while the object (and so the
// process) lives, and let go by the system however the process ends.

#include <string>

namespace platform {

class LockFile {
public:
    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    // Lets go of the lock and the file.
    ~LockFile();

    // Opens the file at the native path (made when missing) and takes the lock without
    // waiting: true when this object now holds it; false when another holder has it or the
    // file cannot be opened. A lock this object held before is let go first.
    bool TryLock(const std::string& nativePath);

private:
    void Release();

    int fd_ = -1;
};

}  // namespace platform
