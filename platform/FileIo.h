#pragma once
// Whole-file reads and crash-safe whole-file writes. Paths are CP932 texts, as everywhere
// in the program; they are converted to the file system's UTF-8 here.

#include <string>

namespace platform {

// The file system's name for a CP932 path: its UTF-8. A CP932 code that JIS X 0208 reads
// as another character (0x8160: U+FF5E, the JIS WAVE DASH U+301C; Cp932Spelling,
// TextCodec.h) names a file or folder that exists under either spelling; where only the
// JIS one exists, it is the name given. Otherwise, and for anything new, the name is
// spelled as CP932 reads it. Only a path holding such a code is looked up on disk.
std::string NativePath(const std::string& cp932Path);

enum class FileReadResult { Read, Missing, Failed };

// Reads the whole file into `contents`. On Missing or Failed, `error` says why, naming
// the file; `contents` is left empty.
FileReadResult ReadWholeFile(const std::string& path, std::string& contents, std::string& error);

// Who may read what a write leaves: the new file's permissions as the umask gives them and
// a replaced file's kept, or, for a file that holds secrets, the owner's alone: a new file
// is created 0600 and a replaced file keeps only its owner's permission bits.
enum class FileAccess { Shared, OwnerOnly };

// Replaces the file with `contents` so that a crash leaves either the old or the new file,
// never a truncated one: the bytes go to a temporary file beside it, which is flushed to
// disk and renamed over the target. A replaced file keeps its owner and group where this
// process may give them. Returns false with `error` set when nothing was replaced.
bool WriteFileAtomically(const std::string& path, const std::string& contents, std::string& error,
                         FileAccess access = FileAccess::Shared);

// A piece for the name of a temporary file that no earlier call in this process and no
// other live process has given: the process id and a count. Callers add their own prefix.
std::string UniqueTempSuffix();

// The same two for callers that keep paths in the file system's spelling and report
// failures through errno: false with errno at the reason (ENOENT for a missing file).
// On failure `contents` is left empty, and nothing was replaced.
bool ReadNativeFile(const std::string& nativePath, std::string& contents);
bool WriteNativeFileAtomically(const std::string& nativePath, const std::string& contents);

}  // namespace platform
