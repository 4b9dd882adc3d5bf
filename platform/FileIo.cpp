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

}  // namespace

std::string NativePath(const std::string& cp932Path) { return Cp932ToUtf8(cp932Path); }

FileReadResult ReadWholeFile(const std::string& path, std::string& contents, std::string& error)
{
    contents.clear();
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = Describe("cannot open", path, err);
        return err == ENOENT ? FileReadResult::Missing : FileReadResult::Failed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = Describe("cannot read", path, errno);
            contents.clear();
            ::close(fd);
            return FileReadResult::Failed;
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return FileReadResult::Read;
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error)
{
    static std::atomic<unsigned> counter{0};
    // Through a symbolic link the file it names is replaced, not the link.
    std::string target = NativePath(path);
    if (char* resolved = ::realpath(target.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    const std::string temp =
        target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);

    // Mode 0666 so the umask decides, as for any newly created file.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = Describe("cannot create", path, errno);
        return false;
    }
    struct stat old;
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);  // keep the permissions the file had

    if (!WriteAll(fd, contents.data(), contents.size()) || ::fsync(fd) != 0) {
        error = Describe("cannot write", path, errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    if (::close(fd) != 0) {
        error = Describe("cannot write", path, errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = Describe("cannot replace", path, errno);
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace platform
