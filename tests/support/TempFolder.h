#pragma once
// A scratch folder for one test (or one run), and the raw file access that tests use to set
// up and inspect what the code under test reads and writes there.

#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder under testing::TempDir(), removed with everything in it on
// destruction. Throws std::runtime_error, naming the pattern and the reason, when no folder
// can be made.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, with a trailing '/'. Lives as long as this object.
    const std::string& Path() const { return path_; }

    // Names directly inside the folder, hidden ones included, sorted by byte value.
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

// Writes `bytes` to the native (UTF-8) `path` as they are, replacing any file there. A file
// that cannot be written fails the current test, which goes on.
void PutFile(const std::string& path, const std::string& bytes);

// The bytes of the native (UTF-8) `path`, or "" when it cannot be read.
std::string GetFile(const std::string& path);

}  // namespace testsupport
