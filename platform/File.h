#pragma once
// An open file that owns its descriptor, and the one way the program replaces a file whole.
// Paths are in the file system's spelling (NativePath, FileIo.h). Nothing here throws: a
// failure returns false (or -1) and leaves errno at the system's reason, for the caller to
// report with the file's name.

#include "FileSystem.h"

#include <cstdint>
#include <string>

namespace platform {

class CFile {
public:
    enum class Mode {
        Read,       // reading only; a FIFO or device does not hold the open
        Append,     // writing at the end, created when missing
        CreateNew,  // writing; fails with EEXIST when the name is taken
    };

    CFile() = default;
    // Closes the descriptor when one is open.
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Closes what was open, then opens the path (close-on-exec); a created file gets
    // `permissions` less the umask. A folder opens in Mode::Read, for Sync.
    bool Open(const std::string& nativePath, Mode mode, int permissions = 0666);
    // A file without a name in the folder, for reading and writing, `permissions` less the
    // umask: no other process can find it, and the system frees it with its last
    // descriptor, however this process ends. EOPNOTSUPP (or EISDIR on an old kernel) when
    // the folder's file system cannot make one.
    bool OpenUnnamed(const std::string& nativeFolder, int permissions);
    // OpenUnnamed with mode 0600, or where the file system has none, a named file removed
    // at once: only a crash between the two steps leaves it behind. Never for Link.
    bool OpenScratch(const std::string& nativeFolder);
    // Gives a file from OpenUnnamed the name. EEXIST when something has that name: nothing
    // is ever replaced.
    bool Link(const std::string& nativePath) const;

    // The open file's kind, size, last write and read-only bit (the hidden bit and isLink
    // need a name and stay unset).
    bool Status(FileStatus& status) const;
    // Up to `size` bytes from `offset`, the file position unmoved: fewer only at the end.
    // -1 on failure.
    std::int64_t ReadAt(std::int64_t offset, char* into, std::int64_t size) const;
    // Up to `size` bytes from the file position: 0 at the end, -1 on failure.
    std::int64_t Read(char* into, std::int64_t size);
    // All of the bytes, at the file position (the end in Mode::Append). `written` counts
    // those written, all of them unless the write failed.
    bool Write(const char* data, std::int64_t size, std::int64_t& written);
    bool Write(const char* data, std::int64_t size);
    bool Sync() const;
    bool SetPermissions(int permissions) const;
    // Gives the file this owner and group; a user without the privilege can change neither
    // (EPERM), except to a group of his own.
    bool SetOwner(int user, int group) const;
    // The last write time to the second and nanosecond of another file's status.
    bool SetModifiedTime(std::int64_t seconds, long nanoseconds) const;
    // Closes now, to learn whether the close failed (the destructor cannot tell).
    bool Close();

    bool IsOpen() const { return fd_ >= 0; }
    // The descriptor, for calls that take one (sending a file to a socket); it stays owned
    // here and lives until Close or destruction. -1 when closed.
    int GetHandle() const { return fd_; }

private:
    int fd_ = -1;
};

// The path of `name` in the folder of `nativePath`: a temporary file must stand on the
// same file system as the file it replaces.
std::string SiblingPath(const std::string& nativePath, const std::string& name);

// Renames a file, link or folder. With `overwrite` false it fails with EEXIST, changing
// nothing, when the target exists.
bool RenameNative(const std::string& nativeFrom, const std::string& nativeTo, bool overwrite);

// Whether a write's errno says that the storage had no room for it (a full disk, a quota,
// a file size limit) rather than that something is wrong.
bool IsOutOfSpace(int error);

// Replaces a file so that a crash, a full disk or a failure midway leaves either the old
// file whole or the new one, and no temporary file once the writer is gone: the bytes go to
// a temporary file beside the target (unnamed where the file system allows), which is
// flushed to disk, named, and renamed over the target. The target is replaced, never
// written through: a symbolic link there is replaced, not followed.
class CReplaceWriter {
public:
    CReplaceWriter() = default;
    // Removes the temporary file unless Commit put it in place.
    ~CReplaceWriter();
    CReplaceWriter(const CReplaceWriter&) = delete;
    CReplaceWriter& operator=(const CReplaceWriter&) = delete;

    // Opens the temporary file for `nativeTarget`; its name, when it needs one, is
    // `tempPrefix` (a path beside the target) and a unique suffix. Created with
    // `permissions` less the umask.
    bool Begin(const std::string& nativeTarget, const std::string& tempPrefix, int permissions);
    bool Write(const char* data, std::int64_t size) { return file_.Write(data, size); }
    // The open temporary file, for its permissions and times.
    const CFile& File() const { return file_; }

    enum class Step { Done, Write, Name };
    // Flushes the temporary file to disk, names it, closes it: Done, or the step that
    // failed (Write for the flush or close, Name for the naming).
    Step Finish();
    // After Finish: renames the temporary file over the target, with `overwrite` false only
    // when nothing has the target's name (EEXIST), and makes the rename durable.
    bool Commit(bool overwrite);

private:
    CFile file_;
    std::string target_;
    std::string prefix_;
    std::string temp_;  // the temporary file's name; "" while unnamed or once in place
};

}  // namespace platform
