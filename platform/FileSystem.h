#pragma once
// File-system queries and changes on CP932 paths, in place of the Win32 file functions.
// Every path is converted to the file system's UTF-8 with NativePath (FileIo.h); names
// read from a folder come back as CP932. '/' separates path levels. Nothing here throws:
// a failure returns false (or -1) and leaves errno at the system's reason.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The attribute bits that this platform can tell; the values are those of the Win32
// attribute word, which the callers test.
constexpr int kAttributeReadOnly = 0x01;   // no write permission bit set
constexpr int kAttributeHidden = 0x02;     // the name starts with '.' ("." and ".." excepted)
constexpr int kAttributeDirectory = 0x10;

enum class PathKind { Other, File, Directory };

struct FileStatus {
    PathKind kind = PathKind::Other;  // what the path leads to, symbolic links followed;
                                      // Other for a FIFO, socket, device or dangling link
    bool isLink = false;              // the path itself is a symbolic link
    std::uint64_t size = 0;           // bytes of a file; 0 for anything else
    std::int64_t modified = 0;        // last write, seconds since 1970 UTC
    int attributes = 0;               // kAttribute* bits
    int permissions = 0;              // the mode's permission bits (07777)
};

// Status of the path. False when nothing is there (a dangling link is there: kind Other).
// A trailing '/' is passed on, so "file/" fails as the system says.
bool GetFileStatus(const std::string& path, FileStatus& status);

// The attribute bits of the path (links followed), or -1 when the status cannot be read.
int GetFileAttributes(const std::string& path);

struct DirectoryEntry {
    std::string name;  // CP932 (as stored in a Spelling::Stored search), no folder part
    FileStatus status;
};

// How a search spells its pattern and the names it gives.
enum class Spelling {
    Cp932,   // CP932, converted from the names on disk; names without a CP932 spelling are left out
    Stored,  // the file system's own spelling (NativePath, FileIo.h): every name as stored
};

// Whether a wildcard search gives "." and "..": a caller that skips them spares the two
// status reads.
enum class Dots { Give, Leave };

// A search in the manner of FindFirstFile: the pattern is a folder, '/', and a name
// pattern in which '*' stands for any run of characters and '?' for one character; "*.*"
// matches every name. A name pattern without wildcards looks up that one entry. In a
// wildcard search "." and ".." come first (when they match, unless Dots::Leave), then the
// other entries in the order the file system keeps them. Entries whose names have no CP932
// spelling are left out: the converted name would name another file or none. A name that
// spells a CP932 code the JIS way (U+301C for 0x8160, see NativePath) is given by that
// code, unless the folder also holds the name in CP932's spelling: then only that entry is
// given, the one the name leads to. A pattern without '/' searches the working folder. A
// missing or unreadable folder is an empty search. The folder stays open until the search
// ends or the object is destroyed.
// With Spelling::Stored the pattern is in the file system's spelling, every entry is given
// by its name as stored, and the wildcards stand for bytes rather than CP932 characters:
// for work on a whole tree, which must reach every entry.
class DirectorySearch {
public:
    explicit DirectorySearch(const std::string& pattern, Spelling spelling = Spelling::Cp932,
                             Dots dots = Dots::Give);
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // The next matching entry; false when there is none left.
    bool Next(DirectoryEntry& entry);

private:
    // `native` is the name on disk, read relative to the open folder; without an open
    // folder (a single lookup) the whole path is used.
    bool Produce(const std::string& name, const std::string& native, DirectoryEntry& entry) const;

    std::string folder_;       // CP932, ends in '/' unless empty (the working folder)
    std::string namePattern_;  // CP932
    void* dir_ = nullptr;      // DIR*, kept opaque
    int dotsGiven_ = 0;        // how many of "." and ".." were offered
    bool single_ = false;      // no wildcard: one lookup
    bool stored_ = false;      // Spelling::Stored: folder_ and namePattern_ are native too
};

// The names in the folder (CP932, '/'-terminated or "" for the working folder) as a
// wildcard search gives them, "." and ".." left out, without reading any entry's status:
// an entry removed meanwhile may still be named. False, with `names` empty, when the
// folder cannot be read.
bool ListDirectoryNames(const std::string& folder, std::vector<std::string>& names);

// mkdir with mode 0777 (the umask decides). Fails when anything exists at the path.
bool CreateDirectory(const std::string& path);

// rmdir: only an empty folder.
bool RemoveDirectory(const std::string& path);

// unlink: a file or a symbolic link, never a folder.
bool DeleteFile(const std::string& path);

// Renames a file, a link itself or a whole folder. With overwrite false it fails, changing
// nothing, when the target exists; with overwrite true a file or link there is replaced.
bool MoveFile(const std::string& from, const std::string& to, bool overwrite);

// Both paths exist and lead to one file (links followed).
bool IsSameFile(const std::string& a, const std::string& b);

// Copies a regular file (links followed) with its permission bits and last write time.
// The copy goes to a temporary file beside the target, flushed to disk, which then takes
// the target's name, so a failed copy leaves the old target whole. Fails when the source
// is no regular file, when source and target are one file, and, with overwrite false,
// when the target exists.
bool CopyFile(const std::string& from, const std::string& to, bool overwrite);

// The text of the symbolic link at the path, in the file system's spelling, for PlaceLink.
bool ReadLink(const std::string& path, std::string& text);

// Puts a symbolic link with that text at the path by a rename, so that it replaces a file
// or link there and never writes through one.
bool PlaceLink(const std::string& text, const std::string& path);

// When the path (links followed) was made, where the file system keeps that; false when
// it does not, or the status cannot be read.
bool GetCreationTime(const std::string& path, std::int64_t& created);

// The same operations on paths in the file system's spelling (NativePath, FileIo.h), for
// the work on a whole tree (Spelling::Stored), which must reach every entry, those whose
// names have no CP932 spelling included. Each function above is its twin here applied to
// NativePath of its paths.
bool GetNativeStatus(const std::string& nativePath, FileStatus& status);
bool CreateNativeDirectory(const std::string& nativePath);
bool RemoveNativeDirectory(const std::string& nativePath);
bool DeleteNativeFile(const std::string& nativePath);
bool CopyNativeFile(const std::string& nativeFrom, const std::string& nativeTo, bool overwrite);
bool ReadNativeLink(const std::string& nativePath, std::string& text);
bool PlaceNativeLink(const std::string& text, const std::string& nativePath);

}  // namespace platform
