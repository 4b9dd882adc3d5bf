#pragma once
// Proves that code read no file it was not meant to: an inotify watch for openings and reads.

#include <string>
#include <vector>

namespace testsupport {

// Watches files or folders (a folder: every file in it) for being opened or read from
// construction on. Not copyable; the watch ends with the object.
class OpenWatch {
public:
    explicit OpenWatch(const std::vector<std::string>& paths);
    ~OpenWatch();
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // Whether every path is watched; a test asserts it before relying on Opened().
    bool ok() const { return ok_; }

    // One entry per event since the last call: the file's name inside a watched folder, ""
    // for a watched file itself. Empty when nothing was opened or read.
    std::vector<std::string> Opened();

private:
    int fd_;
    bool ok_;
};

}  // namespace testsupport
