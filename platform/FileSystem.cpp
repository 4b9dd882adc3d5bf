#include "FileSystem.h"

#include "CRuntime.h"
#include "File.h"
#include "FileIo.h"
#include "TextCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string_view>
#include <vector>

namespace platform {

namespace {

constexpr unsigned kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsDotName(std::string_view name) { return name == "." || name == ".."; }

// Fills `status` for the native path, relative to the open folder `folder` (AT_FDCWD: the
// working folder); `name` decides the hidden bit.
bool StatNative(int folder, const char* native, const std::string& name, FileStatus& status)
{
    struct stat own;
    if (::fstatat(folder, native, &own, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    status = FileStatus();
    status.isLink = S_ISLNK(own.st_mode);
    struct stat target = own;
    const bool reached = !status.isLink || ::fstatat(folder, native, &target, 0) == 0;
    const struct stat& st = reached ? target : own;
    if (reached && S_ISREG(st.st_mode)) {
        status.kind = PathKind::File;
        status.size = static_cast<std::uint64_t>(st.st_size);
    } else if (reached && S_ISDIR(st.st_mode)) {
        status.kind = PathKind::Directory;
        status.attributes |= kAttributeDirectory;
    }
    status.modified = static_cast<std::int64_t>(st.st_mtime);
    status.permissions = static_cast<int>(st.st_mode & 07777);
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

// '*' any run of characters, '?' one character; a double-byte character is one, unless
// `bytes` makes every byte one.
bool MatchName(const std::string& pattern, const std::string& name, bool bytes)
{
    const auto length = [bytes](const std::string& text, std::string::size_type i) {
        return bytes ? std::string::size_type{1} : CharLength(text, i);
    };
    if (pattern == std::string_view("*.*"))
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
            const std::string::size_type lp = length(pattern, p);
            const std::string::size_type ln = length(name, n);
            if ((lp == 1 && pattern[p] == '?') || pattern.compare(p, lp, name, n, ln) == 0) {
                p += lp;
                n += ln;
                continue;
            }
        }
        if (starP == std::string::npos)
            return false;
        // Let the last '*' swallow one more character and retry from there.
        starN += length(name, starN);
        p = starP;
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// The next entry of the folder other than "." and "..", by its CP932 name and its name on
// disk; names without a CP932 spelling are passed over, unless `stored` asks for every
// name as stored (in both). False at the end.
bool NextName(DIR* dir, std::string& name, std::string& native, bool stored = false)
{
    while (const struct dirent* found = ::readdir(dir)) {
        if (IsDotName(found->d_name))
            continue;
        native = found->d_name;
        if (stored) {
            name = native;
            return true;
        }
        // An ASCII name is its own CP932 spelling: the round trip would only copy it twice.
        if (IsAscii(native)) {
            name = native;
            return true;
        }
        name = Utf8ToCp932(native);
        const std::string back = Cp932ToUtf8(name);
        if (back == native)
            return true;
        // A name typed in the JIS spelling (U+301C) reads back in CP932's (U+FF5E), which
        // NativePath leads to it, unless a file has that name too: that one is meant.
        struct stat st;
        if (Cp932Spelling(native) == back && ::fstatat(::dirfd(dir), back.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return true;
    }
    return false;
}

bool CopyContents(CFile& in, CReplaceWriter& out)
{
    char buffer[65536];
    for (;;) {
        const std::int64_t got = in.Read(buffer, sizeof buffer);
        if (got <= 0)
            return got == 0;
        if (!out.Write(buffer, got))
            return false;
    }
}

}  // namespace

bool GetFileStatus(const std::string& path, FileStatus& status)
{
    return StatNative(AT_FDCWD, NativePath(path).c_str(), LastLevel(path), status);
}

bool GetNativeStatus(const std::string& nativePath, FileStatus& status)
{
    // Byte-wise: a UTF-8 byte may look like a CP932 lead byte before the '/'.
    return StatNative(AT_FDCWD, nativePath.c_str(), nativePath.substr(nativePath.rfind('/') + 1), status);
}

int GetFileAttributes(const std::string& path)
{
    FileStatus status;
    return GetFileStatus(path, status) ? status.attributes : -1;
}

DirectorySearch::DirectorySearch(const std::string& pattern, Spelling spelling, Dots dots)
    : dotsGiven_(dots == Dots::Leave ? 2 : 0), stored_(spelling == Spelling::Stored)
{
    const std::string::size_type slash = stored_ ? pattern.rfind('/') : _mbsrchr(pattern, '/');
    if (slash != std::string::npos) {
        folder_ = pattern.substr(0, slash + 1);
        namePattern_ = pattern.substr(slash + 1);
    } else {
        namePattern_ = pattern;
    }
    single_ = !HasWildcard(namePattern_);
    if (!single_)
        dir_ = ::opendir(folder_.empty() ? "." : stored_ ? folder_.c_str() : NativePath(folder_).c_str());
}

DirectorySearch::~DirectorySearch()
{
    if (dir_ != nullptr)
        ::closedir(static_cast<DIR*>(dir_));
}

bool DirectorySearch::Produce(const std::string& name, const std::string& native, DirectoryEntry& entry) const
{
    // Relative to the open folder: the folder's path is neither converted nor walked again.
    const bool found =
        dir_ != nullptr ? StatNative(::dirfd(static_cast<DIR*>(dir_)), native.c_str(), name, entry.status)
                        : StatNative(AT_FDCWD, stored_ ? (folder_ + name).c_str() : NativePath(folder_ + name).c_str(),
                                     name, entry.status);
    if (!found)
        return false;
    entry.name = name;
    return true;
}

bool DirectorySearch::Next(DirectoryEntry& entry)
{
    if (single_) {
        single_ = false;  // the one lookup is used up either way
        return !namePattern_.empty() && Produce(namePattern_, std::string(), entry);
    }
    if (dir_ == nullptr)
        return false;
    // readdir keeps no promise about where "." and ".." come; callers skip the first two.
    while (dotsGiven_ < 2) {
        const std::string dot = dotsGiven_++ == 0 ? "." : "..";
        if (MatchName(namePattern_, dot, stored_) && Produce(dot, dot, entry))
            return true;
    }
    DIR* dir = static_cast<DIR*>(dir_);
    std::string name;
    std::string native;
    while (NextName(dir, name, native, stored_)) {
        if (MatchName(namePattern_, name, stored_) && Produce(name, native, entry))
            return true;
    }
    ::closedir(dir);
    dir_ = nullptr;
    return false;
}

bool ListDirectoryNames(const std::string& folder, std::vector<std::string>& names)
{
    names.clear();
    DIR* dir = ::opendir(folder.empty() ? "." : NativePath(folder).c_str());
    if (dir == nullptr)
        return false;
    std::string name;
    std::string native;
    while (NextName(dir, name, native))
        names.push_back(name);
    ::closedir(dir);
    return true;
}

bool CreateDirectory(const std::string& path) { return CreateNativeDirectory(NativePath(path)); }

bool CreateNativeDirectory(const std::string& nativePath) { return ::mkdir(nativePath.c_str(), 0777) == 0; }

bool RemoveDirectory(const std::string& path) { return RemoveNativeDirectory(NativePath(path)); }

bool RemoveNativeDirectory(const std::string& nativePath) { return ::rmdir(nativePath.c_str()) == 0; }

bool DeleteFile(const std::string& path) { return DeleteNativeFile(NativePath(path)); }

bool DeleteNativeFile(const std::string& native)
{
    struct stat st;
    if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;  // unlink of a folder is refused anyway, but not by every system
        return false;
    }
    return ::unlink(native.c_str()) == 0;
}

bool MoveFile(const std::string& from, const std::string& to, bool overwrite)
{
    return RenameNative(NativePath(from), NativePath(to), overwrite);
}

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    return ::stat(NativePath(a).c_str(), &first) == 0 && ::stat(NativePath(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool CopyFile(const std::string& from, const std::string& to, bool overwrite)
{
    return CopyNativeFile(NativePath(from), NativePath(to), overwrite);
}

bool CopyNativeFile(const std::string& nativeFrom, const std::string& target, bool overwrite)
{
    CFile in;
    if (!in.Open(nativeFrom, CFile::Mode::Read))
        return false;
    struct stat source;
    if (::fstat(in.GetHandle(), &source) != 0)
        return false;
    if (!S_ISREG(source.st_mode)) {
        errno = S_ISDIR(source.st_mode) ? EISDIR : EINVAL;
        return false;
    }

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
            errno = err;
            return false;
        }
    }

    CReplaceWriter out;
    return out.Begin(target, SiblingPath(target, ".twcopy"), 0600) && CopyContents(in, out) &&
           out.File().SetPermissions(source.st_mode & 0777) &&
           out.File().SetModifiedTime(source.st_mtim.tv_sec, source.st_mtim.tv_nsec) &&
           out.Finish() == CReplaceWriter::Step::Done && out.Commit(overwrite);
}

bool ReadLink(const std::string& path, std::string& text) { return ReadNativeLink(NativePath(path), text); }

bool ReadNativeLink(const std::string& nativePath, std::string& text)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink(nativePath.c_str(), buffer.data(), buffer.size());
    if (length < 0)
        return false;
    if (static_cast<std::size_t>(length) >= buffer.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    text.assign(buffer.data(), static_cast<std::size_t>(length));
    return true;
}

bool PlaceLink(const std::string& text, const std::string& path) { return PlaceNativeLink(text, NativePath(path)); }

bool PlaceNativeLink(const std::string& text, const std::string& target)
{
    const std::string temp = SiblingPath(target, ".twlink" + UniqueTempSuffix());
    if (::symlink(text.c_str(), temp.c_str()) != 0)
        return false;
    if (RenameNative(temp, target, true))
        return true;
    const int err = errno;
    ::unlink(temp.c_str());
    errno = err;
    return false;
}

bool GetCreationTime(const std::string& path, std::int64_t& created)
{
    struct statx status {};
    if (::statx(AT_FDCWD, NativePath(path).c_str(), 0, STATX_BTIME, &status) != 0 ||
        (status.stx_mask & STATX_BTIME) == 0)
        return false;
    created = status.stx_btime.tv_sec;
    return true;
}

}  // namespace platform
