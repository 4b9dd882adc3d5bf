#pragma once
// The contents of a folder tree as a list of full paths, for removing or copying a whole
// tree. Patterns and paths are in the file system's spelling (NativePath, FileIo.h) with
// every name as stored, so that the whole tree goes along: also the entries whose names
// have no CP932 spelling, which listings leave out. Symbolic links are listed as files and
// never entered, so a scan stays in the tree and ends even when a link points back up.

#include <string>
#include <vector>

class CFileList {
public:
    CFileList() = default;
    virtual ~CFileList() = default;

    // Appends every entry that is not a folder and matches the pattern ("folder/*.*", the
    // wildcards standing for bytes), in the order the file system keeps them; with `recursive`, each subfolder's entries
    // where the subfolder is met, searched with the same name pattern. Sets the byte total
    // to the sum of the appended files' sizes. A missing folder appends nothing. Always 0.
    int ScanFiles(const std::string& pattern, bool recursive);

    // Appends every folder below the pattern's folder, each after the folders inside it
    // (deepest first), so that removing them in list order never meets a subfolder.
    // Always 0.
    int AddDirectories(const std::string& pattern);

    int GetCount() const { return static_cast<int>(paths_.size()); }

    // A copy of the entry; "" for an index outside 0..GetCount()-1.
    std::string GetAt(int index) const;

    // Bytes of the files that the last ScanFiles appended.
    double GetTotalSize() const { return totalSize_; }

private:
    std::vector<std::string> paths_;
    double totalSize_ = 0;
};
