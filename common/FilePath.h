#pragma once
// Taking CP932 paths apart and asking the file system about them. '/' separates levels;
// the cuts are multi-byte aware. No function here throws.

#include <string>

// The text after the last '/' ("" for a path ending in '/'); the whole path without one.
std::string GetFileName(const std::string& path);

// The text after the last '.' of the path, without the dot and in its own case; the whole
// path when it holds no '.'.
std::string GetFileExtension(const std::string& path);

// The path up to its last '/', ending in '/' ("/a/b.txt" and "/a/" give "/a/", "/" gives
// "/"); "" when the path holds no '/'.
std::string GetParentDirectory(const std::string& path);

// The path without its trailing '/'s, so that a status call sees the link itself rather
// than the folder it names; "/" stays "/".
std::string WithoutTrailingSlash(std::string path);

// The attribute bits of platform::GetFileAttributes (read-only 0x01, hidden 0x02,
// directory 0x10) of the path without one trailing '/'; -1 when its status cannot be read.
int GetPathAttributes(std::string path);

// 2 for a folder (a path ending in '/' must be one), 1 for a regular file whose name is
// spelled as the path's last level, 0 for anything else: missing, a wildcard that matches
// other names, a FIFO, socket or device. Symbolic links are followed.
int GetPathType(const std::string& path);

// Creates one folder, the path taken without trailing '/' and blanks. 1 created, 0 it
// existed already, -1 failed (its parent is missing, or a file has the name).
int CreateOneDirectory(std::string path);

// Creates the folder with every missing level above it. The result is that of the deepest
// level (1, 0 or -1, as CreateOneDirectory); failures above it are not reported by
// themselves. 0 for a path without any level.
int CreateDirectoryPath(std::string path);
