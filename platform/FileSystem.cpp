#include "FileSystem.h"

#include "CRuntime.h"
#include "FileIo.h"
#include "TextCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

namespace {

constexpr unsigned kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

// Fills `status` for the native path; `name` decides the hidden bit.
bool StatNative(const std::string& native, const std::string& name, FileStatus& status)
{
    struct stat own;
    if (::lstat(native.c_str(), &own) != 0)
        return false;
    status = FileStatus();
    status.isLink = S_ISLNK(own.st_mode);
    struct stat target = own;
    const bool reached = !status.isLink || ::stat(native.c_str(), &target) == 0;
    const struct stat& st = reached ? target : own;
    if (reached && S_ISREG(st.st_mode)) {
        status.kind = PathKind::File;
        status.size = static_cast<std::uint64_t>(st.st_size);
    } else if (reached && S_ISDIR(st.st_mode)) {
        status.kind = PathKind::Directory;
        status.attributes |= kAttributeDirectory;
    }
    status.modified = static_cast<std::int64_t>(st.st_mtime);
    if ((st.st_mode & kWriteBits) == 0)
        status.attributes |= kAttributeReadOnly;
    if (!name.empty() && name[0] == '.' && !IsDotName(name))
        status.attributes |= kAttributeHidden;
    return true;
}

std::string LastLevel(const std::string& path)
{
    const std::string::size_type slash = _mbsrchr(path, '/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasWildcard(const std::string& pattern)
{
    return pattern.find_first_of("*?") != std::string::npos;
}

// '*' any run of characters, '?' one character; a double-byte character is one.
bool MatchName(const std::string& pattern, const std::string& name)
{
    if (pattern == "*.*")
        return true;
    std::string::size_type p = 0, n = 0;
    std::string::size_type starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            const std::string::size_type lp = CharLength(pattern, p);
            const std::string::size_type ln = CharLength(name, n);
            if ((lp == 1 && pattern[p] == '?') || pattern.compare(p, lp, name, n, ln) == 0) {
                p += lp;
                n += ln;
                continue;
            }
        }
        if (starP == std::string::npos)
            return false;
        // Let the last '*' swallow one more character and retry from there.
        starN += CharLength(name, starN);
        p = starP;
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// Renames without replacing; the fallback for file systems that lack the flag leaves a
// small window in which a target created meanwhile is replaced.
bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CopyContents(int in, int out)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += put;
        }
    }
}

}  // namespace

bool GetFileStatus(const std::string& path, FileStatus& status)
{
    return StatNative(NativePath(path), LastLevel(path), status);
}

int GetFileAttributes(const std::string& path)
{
    FileStatus status;
    return GetFileStatus(path, status) ? status.attributes : -1;
}

DirectorySearch::DirectorySearch(const std::string& pattern)
{
    const std::string::size_type slash = _mbsrchr(pattern, '/');
    if (slash != std::string::npos) {
        folder_ = pattern.substr(0, slash + 1);
        namePattern_ = pattern.substr(slash + 1);
    } else {
        namePattern_ = pattern;
    }
    single_ = !HasWildcard(namePattern_);
    if (!single_)
        dir_ = ::opendir(folder_.empty() ? "." : NativePath(folder_).c_str());
}

DirectorySearch::~DirectorySearch()
{
    if (dir_ != nullptr)
        ::closedir(static_cast<DIR*>(dir_));
}

bool DirectorySearch::Produce(const std::string& name, DirectoryEntry& entry) const
{
    if (!StatNative(NativePath(folder_ + name), name, entry.status))
        return false;
    entry.name = name;
    return true;
}

bool DirectorySearch::Next(DirectoryEntry& entry)
{
    if (single_) {
        single_ = false;  // the one lookup is used up either way
        return !namePattern_.empty() && Produce(namePattern_, entry);
    }
    if (dir_ == nullptr)
        return false;
    // readdir keeps no promise about where "." and ".." come; callers skip the first two.
    while (dotsGiven_ < 2) {
        const std::string dot = dotsGiven_++ == 0 ? "." : "..";
        if (MatchName(namePattern_, dot) && Produce(dot, entry))
            return true;
    }
    DIR* dir = static_cast<DIR*>(dir_);
    while (const struct dirent* found = ::readdir(dir)) {
        const std::string native = found->d_name;
        if (IsDotName(native))
            continue;
        const std::string name = Utf8ToCp932(native);
        if (Cp932ToUtf8(name) != native)
            continue;
        if (MatchName(namePattern_, name) && Produce(name, entry))
            return true;
    }
    ::closedir(dir);
    dir_ = nullptr;
    return false;
}

bool CreateDirectory(const std::string& path) { return ::mkdir(NativePath(path).c_str(), 0777) == 0; }

bool RemoveDirectory(const std::string& path) { return ::rmdir(NativePath(path).c_str()) == 0; }

bool DeleteFile(const std::string& path)
{
    const std::string native = NativePath(path);
    struct stat st;
    if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;  // unlink of a folder is refused anyway, but not by every system
        return false;
    }
    return ::unlink(native.c_str()) == 0;
}

bool MoveFile(const std::string& from, const std::string& to)
{
    return RenameNoReplace(NativePath(from), NativePath(to));
}

bool CopyFile(const std::string& from, const std::string& to, bool overwrite)
{
    const std::string target = NativePath(to);

    // O_NONBLOCK so that opening a FIFO cannot hang before the type check refuses it.
    const int in = ::open(NativePath(from).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat source;
    int sourceErr = 0;
    if (::fstat(in, &source) != 0)
        sourceErr = errno;
    else if (!S_ISREG(source.st_mode))
        sourceErr = S_ISDIR(source.st_mode) ? EISDIR : EINVAL;
    if (sourceErr != 0) {
        ::close(in);
        errno = sourceErr;
        return false;
    }
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);

    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0) {
        int err = 0;
        if (existing.st_dev == source.st_dev && existing.st_ino == source.st_ino)
            err = EINVAL;  // copying a file onto itself would only destroy it
        else if (!overwrite)
            err = EEXIST;
        else if (S_ISDIR(existing.st_mode))
            err = EISDIR;
        if (err != 0) {
            ::close(in);
            errno = err;
            return false;
        }
    }

    const std::string::size_type slash = target.rfind('/');
    const std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) +
                             ".twcopy" + UniqueTempSuffix();
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        errno = err;
        return false;
    }
    bool ok = CopyContents(in, out) && ::fchmod(out, source.st_mode & 0777) == 0;
    int err = errno;
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok) {
        ok = overwrite ? ::rename(temp.c_str(), target.c_str()) == 0 : RenameNoReplace(temp, target);
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = err;
    }
    return ok;
}

}  // namespace platform
