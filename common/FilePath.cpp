#include "FilePath.h"

#include "CRuntime.h"
#include "FileSystem.h"

#include <cerrno>

namespace {

bool EndsWithSlash(const std::string& path) { return !path.empty() && path.back() == '/'; }

// Whether a search for the pattern yields any entry at all.
bool FindsAnything(const std::string& pattern)
{
    platform::DirectorySearch search(pattern);
    platform::DirectoryEntry entry;
    return search.Next(entry);
}

}  // namespace

std::string GetFileName(const std::string& path)
{
    const std::string::size_type slash = platform::_mbsrchr(path, '/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetFileExtension(const std::string& path)
{
    const std::string::size_type dot = platform::_mbsrchr(path, '.');
    return dot == std::string::npos ? path : path.substr(dot + 1);
}

std::string GetParentDirectory(const std::string& path)
{
    const std::string::size_type slash = platform::_mbsrchr(path, '/');
    if (slash == std::string::npos)
        return "";
    std::string parent = path.substr(0, slash);
    if (!EndsWithSlash(parent))
        parent += '/';
    return parent;
}

int GetPathAttributes(std::string path)
{
    // The root keeps its '/': without it nothing would be left to ask about.
    if (EndsWithSlash(path) && path.size() > 1)
        path.pop_back();
    return platform::GetFileAttributes(path);
}

int GetPathType(const std::string& path)
{
    // The path is taken literally: on this file system '*' and '?' are ordinary name
    // characters, and a request path must never turn into a search pattern.
    platform::FileStatus status;
    if (!platform::GetFileStatus(path, status))
        return 0;
    if (status.kind == platform::PathKind::Directory)
        return 2;
    if (status.kind == platform::PathKind::File && !EndsWithSlash(path))
        return 1;
    return 0;
}

int CreateOneDirectory(std::string path)
{
    while (!path.empty() && (path.back() == '/' || path.back() == ' '))
        path.pop_back();
    path += '/';
    if (FindsAnything(path + "*.*"))
        return 0;
    if (platform::CreateDirectory(path))
        return 1;
    // A folder that this process may not list still exists.
    platform::FileStatus status;
    if (errno == EEXIST && platform::GetFileStatus(path, status) &&
        status.kind == platform::PathKind::Directory)
        return 0;
    return -1;
}

int CreateDirectoryPath(std::string path)
{
    if (!EndsWithSlash(path))
        path += '/';
    int result = 0;
    std::string prefix;
    for (std::string::size_type start = 0; start < path.size();) {
        const std::string::size_type slash = path.find('/', start);
        prefix += path.substr(start, slash + 1 - start);
        result = CreateOneDirectory(prefix);
        start = slash + 1;
    }
    return result;
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}
