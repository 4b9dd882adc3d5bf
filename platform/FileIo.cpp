#include "FileIo.h"

#include "File.h"
#include "TextCodec.h"

#include <dirent.h>
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

// The cores of the reads and writes below: nullptr on success, else the step that failed
// ("cannot open", ...), with errno at the reason.
const char* ReadNative(const std::string& native, std::string& contents)
{
    contents.clear();
    CFile file;
    if (!file.Open(native, CFile::Mode::Read))
        return "cannot open";
    char buffer[65536];
    for (;;) {
        const std::int64_t n = file.Read(buffer, sizeof buffer);
        if (n == 0)
            return nullptr;
        if (n < 0) {
            contents.clear();
            return "cannot read";
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
}

// Permission bits a file that only its owner may read can keep.
constexpr mode_t kOwnerBits = S_IRWXU;

const char* WriteNative(const std::string& native, const std::string& contents, FileAccess access)
{
    // Through a symbolic link the file it names is replaced, not the link.
    std::string target = native;
    if (char* resolved = ::realpath(target.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    // Mode 0666 so the umask decides, as for any newly created file; 0600 for secrets,
    // whatever the umask, from the first byte on.
    const bool ownerOnly = access == FileAccess::OwnerOnly;
    CReplaceWriter writer;
    if (!writer.Begin(target, target + ".tmp", ownerOnly ? S_IRUSR | S_IWUSR : 0666))
        return "cannot create";
    struct stat old;
    if (::stat(target.c_str(), &old) == 0) {
        // Only a privileged process may give a file away; then the owner keeps his file. The
        // group is set before the permissions, since a change of owner clears set-id bits.
        writer.File().SetOwner(static_cast<int>(old.st_uid), static_cast<int>(old.st_gid));
        writer.File().SetPermissions(old.st_mode & (ownerOnly ? kOwnerBits : 07777));
    }
    if (!writer.Write(contents.data(), static_cast<std::int64_t>(contents.size())) ||
        writer.Finish() != CReplaceWriter::Step::Done)
        return "cannot write";
    if (!writer.Commit(true))
        return "cannot replace";
    return nullptr;
}

// The name in `folder` (native, "" for the working folder) that reads as `level` once its
// JIS spellings are written as CP932's; false when there is none.
bool FindOtherSpelling(const std::string& folder, const std::string& level, std::string& found)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return false;
    bool matched = false;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // Only a name with a character of two spellings can read as `level`.
        if (!IsAscii(name) && Cp932Spelling(name) == level) {
            found = name;
            matched = true;
            break;
        }
    }
    ::closedir(dir);
    return matched;
}

// `native` (CP932's spelling of a path, as Cp932ToUtf8 gives it) as it is named on disk:
// a level that does not exist in CP932's spelling but whose folder holds it in the JIS
// spelling (U+301C for U+FF5E) takes that name. A level found in neither keeps CP932's
// spelling, the one a new file gets, and so do the levels below it.
std::string ExistingSpelling(const std::string& native)
{
    struct stat st;
    if (::lstat(native.c_str(), &st) == 0)
        return native;
    std::string resolved;
    bool missing = false;
    for (std::string::size_type start = 0; start < native.size();) {
        std::string::size_type end = native.find('/', start);
        if (end == std::string::npos)
            end = native.size();
        std::string level = native.substr(start, end - start);
        if (!missing && HoldsCp932OnlySpelling(level) && ::lstat((resolved + level).c_str(), &st) != 0) {
            std::string found;
            if (FindOtherSpelling(resolved, level, found))
                level = found;
            else
                missing = true;
        }
        resolved += level;
        if (end < native.size())
            resolved += '/';
        start = end + 1;
    }
    return resolved;
}

}  // namespace

std::string UniqueTempSuffix()
{
    static std::atomic<unsigned> counter{0};
    return std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

std::string NativePath(const std::string& cp932Path)
{
    if (IsAscii(cp932Path))
        return cp932Path;
    const std::string native = Cp932ToUtf8(cp932Path);
    return HoldsCp932OnlySpelling(native) ? ExistingSpelling(native) : native;
}

FileReadResult ReadWholeFile(const std::string& path, std::string& contents, std::string& error)
{
    if (const char* failedStep = ReadNative(NativePath(path), contents)) {
        const int err = errno;
        error = Describe(failedStep, path, err);
        return err == ENOENT ? FileReadResult::Missing : FileReadResult::Failed;
    }
    return FileReadResult::Read;
}

bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error,
                         FileAccess access)
{
    if (const char* failedStep = WriteNative(NativePath(path), contents, access)) {
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
    return WriteNative(nativePath, contents, FileAccess::Shared) == nullptr;
}

}  // namespace platform
