#include "process/OutputSpool.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Where the file goes: the folder the system names for temporary files.
std::string TemporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] == '/' ? folder : "/tmp";
}

}  // namespace

COutputSpool::COutputSpool(int32_t memoryPart) : memoryPart_(std::max(memoryPart, kMinMemoryPart)) {}

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
    if (!file_.IsOpen() && !file_.OpenScratch(TemporaryFolder()))
        return false;
    // Only appends move the file position, so it stays at the end of what was kept.
    int64_t written = 0;
    const bool ok = file_.Write(bytes, count, written);
    length_ += written;
    return ok;
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
    if (copied >= count)
        return copied;
    const int64_t fromFile = file_.ReadAt(at - memoryPart_, into + copied, count - copied);
    return fromFile < 0 ? -1 : copied + fromFile;
}

std::string COutputSpool::ReadText(int64_t count) const
{
    std::string text(static_cast<size_t>(std::max<int64_t>(std::min(count, GetLength()), 0)), '\0');
    const int64_t got = Read(0, text.data(), static_cast<int64_t>(text.size()));
    text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return text;
}
