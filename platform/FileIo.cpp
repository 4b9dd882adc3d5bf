#include "FileIo.h"

#include "File.h"
#include "TextCodec.h"

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
