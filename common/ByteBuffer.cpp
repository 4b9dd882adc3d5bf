#include "ByteBuffer.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

void RequireNonNegative(int64_t value, const char* what)
{
    if (value < 0)
        throw std::out_of_range(std::string("CByteBuffer: negative ") + what);
}

// Sums of sizes are taken in 64 bits, so no int32 overflow can go unnoticed.
int32_t CheckedSize(int64_t size)
{
    if (size > INT32_MAX)
        throw std::bad_alloc();
    return static_cast<int32_t>(size);
}

}  // namespace

CByteBuffer::CByteBuffer(int32_t initialLength) { Grow(initialLength); }

CByteBuffer::CByteBuffer(const CByteBuffer& other)
{
    if (other.length_ > 0) {
        Grow(other.length_);
        std::memcpy(data_.get(), other.data_.get(), other.length_);
    }
}

CByteBuffer& CByteBuffer::operator=(const CByteBuffer& other)
{
    if (this != &other) {
        CByteBuffer copy(other);
        copy.growBy_ = growBy_;
        std::swap(data_, copy.data_);
        std::swap(length_, copy.length_);
        std::swap(capacity_, copy.capacity_);
    }
    return *this;
}

CByteBuffer::~CByteBuffer() = default;

void CByteBuffer::Init()
{
    data_.reset();
    length_ = 0;
    capacity_ = 0;
    growBy_ = kDefaultGrowBy;
}

void CByteBuffer::Grow(int32_t n)
{
    RequireNonNegative(n, "size");
    if (capacity_ >= n)
        return;
    const int32_t capacity = CheckedSize(int64_t{n} + growBy_);
    std::unique_ptr<char[]> block(new char[capacity]);
    if (length_ > 0)
        std::memcpy(block.get(), data_.get(), length_ < n ? length_ : n);
    data_ = std::move(block);
    capacity_ = capacity;
    length_ = n;
}

void CByteBuffer::SetLength(int32_t n)
{
    Grow(n);
    length_ = n;
}

void CByteBuffer::SetGrowBy(int32_t step)
{
    RequireNonNegative(step, "grow step");
    growBy_ = step;
}

void CByteBuffer::WriteAt(int32_t offset, const void* bytes, int32_t count)
{
    RequireNonNegative(offset, "offset");
    RequireNonNegative(count, "count");
    const int32_t end = CheckedSize(int64_t{offset} + count);
    // The source may lie inside this buffer; growing would free it before the copy.
    std::string inside;
    if (end > capacity_ && count > 0 && data_ && bytes >= static_cast<const void*>(data_.get()) &&
        bytes < static_cast<const void*>(data_.get() + capacity_)) {
        inside.assign(static_cast<const char*>(bytes), count);
        bytes = inside.data();
    }
    if (end >= length_)
        SetLength(end);
    if (count > 0)
        std::memmove(data_.get() + offset, bytes, count);
}

void CByteBuffer::Append(const void* bytes, int32_t count) { WriteAt(length_, bytes, count); }

void CByteBuffer::AppendBuffer(const CByteBuffer& other) { Append(other.data_.get(), other.length_); }

void CByteBuffer::AppendString(const char* text) { Append(text, CheckedSize(std::strlen(text))); }

void CByteBuffer::AppendCString(const std::string& text)
{
    Append(text.data(), CheckedSize(static_cast<int64_t>(text.size())));
}

void CByteBuffer::AppendByte(char byte) { Append(&byte, 1); }

void CByteBuffer::AssignString(const std::string& text)
{
    const int32_t size = CheckedSize(static_cast<int64_t>(text.size()));
    SetLength(size);
    if (size > 0)
        std::memcpy(data_.get(), text.data(), size);
}

void CByteBuffer::Delete(int32_t offset, int32_t count)
{
    // A count of 0 returns early too: an empty buffer has no block to move within.
    if (offset < 0 || count <= 0 || int64_t{offset} + count > length_)
        return;
    std::memmove(data_.get() + offset, data_.get() + offset + count, length_ - offset - count);
    length_ -= count;
}

std::string CByteBuffer::ToString() const
{
    if (length_ == 0)
        return std::string();
    const void* zero = std::memchr(data_.get(), 0, length_);
    const size_t size = zero ? static_cast<const char*>(zero) - data_.get() : length_;
    return std::string(data_.get(), size);
}
