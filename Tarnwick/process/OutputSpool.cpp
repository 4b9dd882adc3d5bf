#include "process/OutputSpool.h"

#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Where the file goes: the folder the system names for temporary files.
std::string TemporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] == '/' ? folder : "/tmp";
}

// A file system without unnamed files gets a named one that is removed at once: only a
// crash between the two calls leaves it behind.
int OpenRemovedFile(const std::string& folder)
{
    std::string name = folder + "/twspoolXXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

}  // namespace

COutputSpool::COutputSpool(int32_t memoryPart) : memoryPart_(std::max(memoryPart, kMinMemoryPart)) {}

COutputSpool::~COutputSpool()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool COutputSpool::OpenFile()
{
    const std::string folder = TemporaryFolder();
    fd_ = platform::OpenUnnamedFile(folder, 0600);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR))
        fd_ = OpenRemovedFile(folder);
    return fd_ >= 0;
}

bool COutputSpool::Append(const char* bytes, int64_t count)
{
    const int64_t intoMemory = std::min<int64_t>(count, memoryPart_ - static_cast<int64_t>(memory_.size()));
    if (intoMemory > 0) {
        memory_.append(bytes, static_cast<size_t>(intoMemory));
        length_ += intoMemory;
        bytes += intoMemory;
        count -= intoMemory;
    }
    if (count <= 0)
        return true;
    if (fd_ < 0 && !OpenFile())
        return false;
    const int64_t fileEnd = length_ - memoryPart_;
    for (int64_t done = 0; done < count;) {
        const ssize_t n = ::pwrite(fd_, bytes + done, static_cast<size_t>(count - done), fileEnd + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
        length_ += n;
    }
    return true;
}

void COutputSpool::DropFront(int64_t count) { dropped_ += std::min(std::max<int64_t>(count, 0), GetLength()); }

int64_t COutputSpool::Read(int64_t offset, char* into, int64_t count) const
{
    int64_t at = dropped_ + std::max<int64_t>(offset, 0);
    count = std::min(count, length_ - at);
    int64_t copied = 0;
    if (count > 0 && at < memoryPart_) {
        const int64_t fromMemory = std::min(count, static_cast<int64_t>(memory_.size()) - at);
        std::memcpy(into, memory_.data() + at, static_cast<size_t>(fromMemory));
        copied = fromMemory;
        at += fromMemory;
    }
    while (copied < count) {
        const ssize_t n = ::pread(fd_, into + copied, static_cast<size_t>(count - copied), at - memoryPart_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        copied += n;
        at += n;
    }
    return copied;
}

std::string COutputSpool::ReadText(int64_t count) const
{
    std::string text(static_cast<size_t>(std::max<int64_t>(std::min(count, GetLength()), 0)), '\0');
    const int64_t got = Read(0, text.data(), static_cast<int64_t>(text.size()));
    text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return text;
}
