#pragma once
// An exclusive lock on a file, in place of a named mutex: held while the object (and so the
// process) lives, and let go by the system however the process ends.

#include <string>

namespace platform {

class LockFile {
public:
    enum class Result {
        Locked,         // this object now holds the lock
        HeldElsewhere,  // another holder has it
        Failed,         // the file cannot be made, opened or locked
    };

    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    // Lets go of the lock and the file.
    ~LockFile();

    // Opens the file at the native path (made when missing) and takes the lock without
    // waiting. Failed leaves the system's reason (an errno value) in *error when given. A
    // lock this object held before is let go first.
    Result TryLock(const std::string& nativePath, int* error = nullptr);

private:
    void Release();

    int fd_ = -1;
};

}  // namespace platform
