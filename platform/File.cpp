#include "File.h"

#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace platform {

namespace {

// Names left behind by a crashed run with the same process id are skipped; this many taken
// in a row is no coincidence but a folder that refuses new files.
constexpr int kTempNameAttempts = 100;

std::string FolderOf(const std::string& nativePath)
{
    const std::string::size_type slash = nativePath.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : nativePath.substr(0, slash);
}

}  // namespace

CFile::~CFile()
{
    // The caller may still be reading errno for the failure that ended the file's use.
    const int err = errno;
    if (fd_ >= 0)
        ::close(fd_);
    errno = err;
}

CFile::CFile(CFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

CFile& CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool CFile::Open(const std::string& nativePath, Mode mode, int permissions)
{
    Close();
    // O_NONBLOCK keeps a FIFO from holding the thread before its kind is checked; regular
    // files ignore it.
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
    if (mode == Mode::Append)
        flags = O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY;
    else if (mode == Mode::CreateNew)
        flags = O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY;
    fd_ = ::open(nativePath.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(permissions));
    return fd_ >= 0;
}

bool CFile::OpenUnnamed(const std::string& nativeFolder, int permissions)
{
    Close();
    // Without O_EXCL the file may be given a name later.
    fd_ = ::open(nativeFolder.empty() ? "." : nativeFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC,
                 static_cast<mode_t>(permissions));
    return fd_ >= 0;
}

bool CFile::OpenScratch(const std::string& nativeFolder)
{
    constexpr int kOwnerOnly = 0600;  // what mkostemp gives, whatever the umask
    if (OpenUnnamed(nativeFolder, kOwnerOnly) || (errno != EOPNOTSUPP && errno != EISDIR))
        return fd_ >= 0;
    std::string name = (nativeFolder.empty() ? std::string(".") : nativeFolder) + "/twspoolXXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        return false;
    ::unlink(name.c_str());
    return true;
}

bool CFile::Link(const std::string& nativePath) const
{
    // Naming a descriptor directly (AT_EMPTY_PATH) needs a privilege; its entry under
    // /proc does not.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, nativePath.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    const int err = errno;
    if (err != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return false;
    if (::linkat(fd_, "", AT_FDCWD, nativePath.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    errno = err;
    return false;
}

bool CFile::Status(FileStatus& status) const
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return false;
    status = FileStatus();
    if (S_ISREG(st.st_mode)) {
        status.kind = PathKind::File;
        status.size = static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
        status.kind = PathKind::Directory;
        status.attributes |= kAttributeDirectory;
    }
    status.modified = static_cast<std::int64_t>(st.st_mtime);
    status.permissions = static_cast<int>(st.st_mode & 07777);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        status.attributes |= kAttributeReadOnly;
    return true;
}

std::int64_t CFile::ReadAt(std::int64_t offset, char* into, std::int64_t size) const
{
    std::int64_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd_, into + got, static_cast<size_t>(size - got), offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

std::int64_t CFile::Read(char* into, std::int64_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd_, into, static_cast<size_t>(size));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool CFile::Write(const char* data, std::int64_t size, std::int64_t& written)
{
    for (written = 0; written < size;) {
        const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        written += n;
    }
    return true;
}

bool CFile::Write(const char* data, std::int64_t size)
{
    std::int64_t written = 0;
    return Write(data, size, written);
}

bool CFile::Sync() const { return ::fsync(fd_) == 0; }

bool CFile::SetPermissions(int permissions) const { return ::fchmod(fd_, static_cast<mode_t>(permissions)) == 0; }

bool CFile::SetOwner(int user, int group) const
{
    return ::fchown(fd_, static_cast<uid_t>(user), static_cast<gid_t>(group)) == 0;
}

bool CFile::SetModifiedTime(std::int64_t seconds, long nanoseconds) const
{
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
    return ::futimens(fd_, times) == 0;
}

bool CFile::Close()
{
    if (fd_ < 0)
        return true;
    return ::close(std::exchange(fd_, -1)) == 0;
}

bool IsOutOfSpace(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

std::string SiblingPath(const std::string& nativePath, const std::string& name)
{
    const std::string::size_type slash = nativePath.rfind('/');
    return (slash == std::string::npos ? std::string() : nativePath.substr(0, slash + 1)) + name;
}

bool RenameNative(const std::string& nativeFrom, const std::string& nativeTo, bool overwrite)
{
    if (overwrite)
        return ::rename(nativeFrom.c_str(), nativeTo.c_str()) == 0;
    if (::renameat2(AT_FDCWD, nativeFrom.c_str(), AT_FDCWD, nativeTo.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag leaves a small window in which a target created
    // meanwhile is replaced.
    struct stat st;
    if (::lstat(nativeTo.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(nativeFrom.c_str(), nativeTo.c_str()) == 0;
}

CReplaceWriter::~CReplaceWriter()
{
    const int err = errno;
    file_.Close();
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    errno = err;
}

bool CReplaceWriter::Begin(const std::string& nativeTarget, const std::string& tempPrefix, int permissions)
{
    target_ = nativeTarget;
    prefix_ = tempPrefix;
    if (file_.OpenUnnamed(FolderOf(tempPrefix), permissions))
        return true;
    if (errno != EOPNOTSUPP && errno != EISDIR)
        return false;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const std::string candidate = prefix_ + UniqueTempSuffix();
        if (file_.Open(candidate, CFile::Mode::CreateNew, permissions)) {
            temp_ = candidate;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return false;
}

CReplaceWriter::Step CReplaceWriter::Finish()
{
    // On disk before the rename, so that a crash leaves the old file or the whole new one.
    if (!file_.Sync())
        return Step::Write;
    // A name is needed because a link never replaces a file; the rename does.
    for (int attempt = 0; temp_.empty() && attempt < kTempNameAttempts; ++attempt) {
        const std::string candidate = prefix_ + UniqueTempSuffix();
        if (file_.Link(candidate))
            temp_ = candidate;
        else if (errno != EEXIST)
            break;
    }
    if (temp_.empty())
        return Step::Name;
    return file_.Close() ? Step::Done : Step::Write;
}

bool CReplaceWriter::Commit(bool overwrite)
{
    if (!RenameNative(temp_, target_, overwrite))
        return false;
    temp_.clear();
    // Make the rename itself durable.
    CFile folder;
    if (folder.Open(FolderOf(target_), CFile::Mode::Read))
        folder.Sync();
    return true;
}

}  // namespace platform
