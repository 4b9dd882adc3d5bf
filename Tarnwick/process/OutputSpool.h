#pragma once
// A program's output as it arrives: the first part in memory, the rest in a file without a
// name in the system's folder for temporary files (TMPDIR, else /tmp), so that one answer
// holds little memory however much its program writes and however many programs answer at
// once. The system frees the file when
// the spool is destroyed or the process ends, however it ends.
//
// Used by one thread at a time.

#include "File.h"

#include <cstdint>
#include <string>

class COutputSpool {
public:
    // Bytes kept in memory before the rest goes to the file: most generated pages fit and
    // never touch the disk, and a few hundred answers at once still hold only tens of MiB.
    static constexpr int32_t kMemoryPart = 256 * 1024;

    // `memoryPart` (tests set a small one) is never below kMinMemoryPart.
    explicit COutputSpool(int32_t memoryPart = kMemoryPart);
    COutputSpool(const COutputSpool&) = delete;
    COutputSpool& operator=(const COutputSpool&) = delete;

    // A header block must be found without reading the file: the memory part is never
    // smaller than the search window of a CGI header.
    static constexpr int32_t kMinMemoryPart = 4096;

    // Appends the bytes. False with errno at the reason when the file cannot be made or
    // written; the bytes kept before stay readable.
    bool Append(const char* bytes, int64_t count);
    // The bytes kept, less those DropFront has dropped.
    int64_t GetLength() const { return length_ - dropped_; }
    // Forgets the first `count` bytes (all of them when there are fewer).
    void DropFront(int64_t count);
    // Forgets every byte: the length becomes 0.
    void Clear() { dropped_ = length_; }
    // Copies up to `count` bytes from `offset` (counted after the dropped bytes) to `into`:
    // the number copied, 0 at the end, -1 with errno at the reason when the file cannot be
    // read.
    int64_t Read(int64_t offset, char* into, int64_t count) const;
    // Up to `count` bytes from the start, "" on a read failure.
    std::string ReadText(int64_t count) const;
    // Every byte, zero bytes included, "" on a read failure. For outputs that are wanted in
    // memory whole anyway.
    std::string ReadAll() const { return ReadText(GetLength()); }
    // Whether part of the output lives in the file.
    bool IsSpooled() const { return file_.IsOpen(); }

private:
    const int32_t memoryPart_;
    std::string memory_;   // the first bytes, at most memoryPart_
    platform::CFile file_; // the rest, from offset 0 of the file
    int64_t length_ = 0;   // every byte appended
    int64_t dropped_ = 0;  // of them, forgotten at the start
};
