#pragma once
// A growable block of raw bytes: socket buffers, child-process output, the tree's marker
// text. Growth allocates the requested size plus a grow step, so a stream of appends
// reallocates once per step rather than once per piece.

#include <cstdint>
#include <memory>
#include <string>

class CByteBuffer {
public:
    static constexpr int32_t kDefaultGrowBy = 0x8000;

    // Empty, then Grow(initialLength): the first initialLength bytes are uninitialised.
    explicit CByteBuffer(int32_t initialLength = 0);
    // Same bytes; the capacity is the other's length plus the grow step.
    CByteBuffer(const CByteBuffer& other);
    CByteBuffer& operator=(const CByteBuffer& other);
    virtual ~CByteBuffer();

    // Frees the block: no data, length 0, capacity 0, default grow step.
    void Init();

    // When the capacity is below n: a new block of n + grow step bytes keeps the old bytes
    // and the length becomes n. Otherwise nothing happens.
    void Grow(int32_t n);
    void SetLength(int32_t n);
    void SetGrowBy(int32_t step);

    char* GetData() { return data_.get(); }
    const char* GetData() const { return data_.get(); }
    int32_t GetLength() const { return length_; }
    int32_t GetCapacity() const { return capacity_; }

    // Copies count bytes to the offset; the length grows to offset + count when that is
    // beyond it (bytes between the old length and the offset stay uninitialised).
    void WriteAt(int32_t offset, const void* bytes, int32_t count);
    void Append(const void* bytes, int32_t count);
    void AppendBuffer(const CByteBuffer& other);
    void AppendString(const char* text);
    void AppendCString(const std::string& text);
    void AppendByte(char byte);
    // Sets the length to the text's length and copies the text to the start.
    void AssignString(const std::string& text);

    // Removes count bytes at offset; does nothing when the range is not inside the bytes
    // in use.
    void Delete(int32_t offset, int32_t count);

    // The bytes in use up to the first zero byte.
    std::string ToString() const;

    // Sizes that would pass 2^31 - 1 throw std::bad_alloc and negative sizes, offsets or
    // counts throw std::out_of_range; in both cases the buffer is left as it was.

private:
    std::unique_ptr<char[]> data_;
    int32_t length_ = 0;
    int32_t capacity_ = 0;
    int32_t growBy_ = kDefaultGrowBy;
};
