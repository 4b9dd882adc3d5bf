#include "FileList.h"

#include "FileSystem.h"

namespace {

// The pattern's folder with its '/', and its name pattern. Byte-wise: in UTF-8 a byte
// that is a CP932 lead byte may stand before the '/'.
std::string FolderOf(const std::string& pattern) { return pattern.substr(0, pattern.rfind('/') + 1); }
std::string NamePatternOf(const std::string& pattern) { return pattern.substr(pattern.rfind('/') + 1); }

// The entries of one folder, read whole so that no folder stays open while the ones
// below it are read: a deep tree would otherwise run out of file descriptors.
std::vector<platform::DirectoryEntry> ReadEntries(const std::string& pattern)
{
    std::vector<platform::DirectoryEntry> entries;
    platform::DirectorySearch search(pattern, platform::Spelling::Stored, platform::Dots::Leave);
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
        // A pattern without wildcards may still name a dot entry.
        if (entry.name != "." && entry.name != "..")
            entries.push_back(entry);
    }
    return entries;
}

// A folder to descend into: a link to one is left alone, it may lead out of the tree or
// back up into it.
bool IsRealDirectory(const platform::DirectoryEntry& entry)
{
    return entry.status.kind == platform::PathKind::Directory && !entry.status.isLink;
}

}  // namespace

int CFileList::ScanFiles(const std::string& pattern, bool recursive)
{
    totalSize_ = 0;
    const std::string folder = FolderOf(pattern);
    const std::string namePattern = NamePatternOf(pattern);
    for (const platform::DirectoryEntry& entry : ReadEntries(pattern)) {
        const std::string path = folder + entry.name;
        if (!IsRealDirectory(entry)) {
            paths_.push_back(path);
            totalSize_ += static_cast<double>(entry.status.size);
        } else if (recursive) {
            const double before = totalSize_;
            ScanFiles(path + "/" + namePattern, true);
            totalSize_ += before;
        }
    }
    return 0;
}

int CFileList::AddDirectories(const std::string& pattern)
{
    const std::string folder = FolderOf(pattern);
    const std::string namePattern = NamePatternOf(pattern);
    for (const platform::DirectoryEntry& entry : ReadEntries(pattern)) {
        if (!IsRealDirectory(entry))
            continue;
        const std::string path = folder + entry.name;
        AddDirectories(path + "/" + namePattern);
        paths_.push_back(path);
    }
    return 0;
}

std::string CFileList::GetAt(int index) const
{
    if (index < 0 || index >= GetCount())
        return "";
    return paths_[static_cast<std::size_t>(index)];
}
