#include "FileIo.h"

#include "TextCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string Describe(const std::string& what, const std::string& path, int err)
{
    return what + " " + path + ": " + std::strerror(err);
}

// Retries the interrupted calls that a signal can cause.
bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Gives up a write: closes and removes the temporary file, keeping errno for the caller.
const char* Abandon(int fd, const std::string& temp, const char* failedStep)
{
    const int err = errno;
    if (fd >= 0)
        ::close(fd);
    ::unlink(temp.c_str());
    errno = err;
    return failedStep;
}

// The cores of the reads and writes below: nullptr on success, else the step that failed
// ("cannot open", ...), with errno at the reason.
const char* ReadNative(const std::string& native, std::string& contents)
{
    contents.clear();
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "cannot open";
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            contents.clear();
            ::close(fd);
            errno = err;
            return "cannot read";
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return nullptr;
}

const char* WriteNative(const std::string& native, const std::string& contents)
{
    // Through a symbolic link the file it names is replaced, not the link.
    std::string target = native;
    if (char* resolved = ::realpath(target.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    const std::string temp =
        target + ".tmp" + UniqueTempSuffix();

    // Mode 0666 so the umask decides, as for any newly created file.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return "cannot create";
    struct stat old;
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);  // keep the permissions the file had

    if (!WriteAll(fd, contents.data(), contents.size()) || ::fsync(fd) != 0)
        return Abandon(fd, temp, "cannot write");
    if (::close(fd) != 0)
        return Abandon(-1, temp, "cannot write");
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return Abandon(-1, temp, "cannot replace");
    // Make the rename itself durable.
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return nullptr;
}

}  // namespace

std::string UniqueTempSuffix()
{
    static std::atomic<unsigned> counter{0};
    return std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

std::string NativePath(const std::string& cp932Path) { return Cp932ToUtf8(cp932Path); }

FileReadResult ReadWholeFile(const std::string& path, std::string& contents, std::string& error)
{
    if (const char* failedStep = ReadNative(NativePath(path), contents)) {
        const int err = errno;
        error = Describe(failedStep, path, err);
        return err == ENOENT ? FileReadResult::Missing : FileReadResult::Failed;
    }
    return FileReadResult::Read;
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error)
{
    if (const char* failedStep = WriteNative(NativePath(path), contents)) {
        error = Describe(failedStep, path, errno);
        return false;
    }
    return true;
}

bool ReadNativeFile(const std::string& nativePath, std::string& contents)
{
    return ReadNative(nativePath, contents) == nullptr;
}

bool WriteNativeFileAtomically(const std::string& nativePath, const std::string& contents)
{
    return WriteNative(nativePath, contents) == nullptr;
}

int OpenUnnamedFile(const std::string& nativeFolder, int mode)
{
    // Without O_EXCL the file may be given a name later.
    return ::open(nativeFolder.empty() ? "." : nativeFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC,
                  static_cast<mode_t>(mode));
}

bool LinkUnnamedFile(int fd, const std::string& nativePath)
{
    // Naming a descriptor directly (AT_EMPTY_PATH) needs a privilege; its entry under
    // /proc does not.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, nativePath.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    const int err = errno;
    if (err != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return false;
    if (::linkat(fd, "", AT_FDCWD, nativePath.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    errno = err;
    return false;
}

}  // namespace platform
