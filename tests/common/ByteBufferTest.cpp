#include "ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

std::string Bytes(const CByteBuffer& buffer)
{
    return std::string(buffer.GetData(), buffer.GetLength());
}

CByteBuffer Holding(const std::string& text)
{
    CByteBuffer buffer;
    buffer.AppendCString(text);
    return buffer;
}

TEST(ByteBufferTest, StartsWithoutABlock)
{
    CByteBuffer buffer(0);
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetLength(), 0);
    EXPECT_EQ(buffer.GetCapacity(), 0);
    EXPECT_EQ(buffer.ToString(), "");
}

TEST(ByteBufferTest, FirstByteAllocatesOneGrowStep)
{
    CByteBuffer buffer(0);
    buffer.AppendByte('x');
    EXPECT_EQ(buffer.GetLength(), 1);
    EXPECT_EQ(buffer.GetCapacity(), 1 + 32768);
    EXPECT_EQ(Bytes(buffer), "x");
}

TEST(ByteBufferTest, ConstructorSetsTheLengthAndOneGrowStepOfRoom)
{
    CByteBuffer buffer(10);
    EXPECT_EQ(buffer.GetLength(), 10);
    EXPECT_EQ(buffer.GetCapacity(), 10 + CByteBuffer::kDefaultGrowBy);
}

TEST(ByteBufferTest, AppendsReallocateOncePerGrowStep)
{
    CByteBuffer buffer;
    buffer.SetGrowBy(4);
    buffer.Append("ab", 2);
    EXPECT_EQ(buffer.GetCapacity(), 6);
    const char* block = buffer.GetData();
    buffer.Append("cdef", 4);
    EXPECT_EQ(buffer.GetData(), block) << "still fits";
    buffer.AppendByte('g');
    EXPECT_EQ(buffer.GetCapacity(), 7 + 4);
    EXPECT_EQ(Bytes(buffer), "abcdefg");
}

TEST(ByteBufferTest, GrowKeepsBytesAndNeverShrinks)
{
    CByteBuffer buffer = Holding("abc");
    buffer.Grow(2);
    EXPECT_EQ(Bytes(buffer), "abc") << "capacity suffices: nothing happens";
    buffer.SetGrowBy(0);
    buffer.Grow(40000);
    EXPECT_EQ(buffer.GetLength(), 40000);
    EXPECT_EQ(buffer.GetCapacity(), 40000);
    EXPECT_EQ(std::string(buffer.GetData(), 3), "abc");
    buffer.SetLength(1);
    EXPECT_EQ(Bytes(buffer), "a");
    EXPECT_EQ(buffer.GetCapacity(), 40000);
}

struct DeleteCase {
    const char* description;
    int32_t offset;
    int32_t count;
    std::string expected;
};

TEST(ByteBufferTest, DeleteRemovesOnlyRangesInsideTheBytes)
{
    const DeleteCase cases[] = {
        {"middle", 2, 3, "abfg"},
        {"past the end", 5, 3, "abcdefg"},
        {"up to the end", 4, 3, "abcd"},
        {"everything", 0, 7, ""},
        {"nothing at the end", 7, 0, "abcdefg"},
        {"offset beyond", 8, 0, "abcdefg"},
        {"negative offset", -1, 2, "abcdefg"},
        {"negative count", 2, -1, "abcdefg"},
        {"sum overflows int32", 1, INT32_MAX, "abcdefg"},
    };
    for (const DeleteCase& c : cases) {
        CByteBuffer buffer = Holding("abcdefg");
        buffer.Delete(c.offset, c.count);
        EXPECT_EQ(Bytes(buffer), c.expected) << c.description;
    }
}

TEST(ByteBufferTest, DeleteOnAnEmptyBufferDoesNothing)
{
    CByteBuffer buffer;
    buffer.Delete(0, 0);
    EXPECT_EQ(buffer.GetLength(), 0);
}

TEST(ByteBufferTest, WriteAtBeyondTheLengthExtendsIt)
{
    CByteBuffer buffer = Holding("ab");
    buffer.WriteAt(5, "xy", 2);
    EXPECT_EQ(buffer.GetLength(), 7);
    EXPECT_EQ(Bytes(buffer).substr(0, 2), "ab");
    EXPECT_EQ(Bytes(buffer).substr(5), "xy");
}

TEST(ByteBufferTest, WriteAtInsideOverwritesWithoutChangingTheLength)
{
    CByteBuffer buffer = Holding("abcdef");
    buffer.WriteAt(1, "XY", 2);
    EXPECT_EQ(Bytes(buffer), "aXYdef");
    buffer.WriteAt(4, "ZZ", 2);
    EXPECT_EQ(Bytes(buffer), "aXYdZZ") << "ending exactly at the length";
    buffer.WriteAt(6, "", 0);
    EXPECT_EQ(Bytes(buffer), "aXYdZZ");
}

TEST(ByteBufferTest, AppendingItsOwnBytesSurvivesReallocation)
{
    CByteBuffer buffer;
    buffer.SetGrowBy(0);
    buffer.AppendCString("abc");
    ASSERT_EQ(buffer.GetCapacity(), 3);
    buffer.AppendBuffer(buffer);
    EXPECT_EQ(Bytes(buffer), "abcabc");
    buffer.Append(buffer.GetData() + 1, 2);
    EXPECT_EQ(Bytes(buffer), "abcabcbc");
}

TEST(ByteBufferTest, AppendVariantsAddTheirBytes)
{
    CByteBuffer buffer;
    buffer.AppendString("ab");
    buffer.AppendCString(std::string("c\0d", 3));
    buffer.AppendByte('\0');
    CByteBuffer other = Holding("ef");
    buffer.AppendBuffer(other);
    buffer.AppendBuffer(CByteBuffer());
    buffer.AppendString("");
    EXPECT_EQ(Bytes(buffer), std::string("abc\0d\0ef", 8));
}

TEST(ByteBufferTest, AssignStringReplacesTheBytes)
{
    CByteBuffer buffer = Holding("long old text");
    buffer.AssignString("new");
    EXPECT_EQ(Bytes(buffer), "new");
    buffer.AssignString("");
    EXPECT_EQ(buffer.GetLength(), 0);
}

TEST(ByteBufferTest, ToStringEndsAtTheFirstZeroByte)
{
    EXPECT_EQ(Holding(std::string("ab\0cd", 5)).ToString(), "ab");
    EXPECT_EQ(Holding("abcd").ToString(), "abcd");
    EXPECT_EQ(Holding(std::string("\0x", 2)).ToString(), "");
}

TEST(ByteBufferTest, CopyHasTheSameBytesAndItsOwnBlock)
{
    CByteBuffer original = Holding("abc");
    CByteBuffer copy(original);
    EXPECT_EQ(Bytes(copy), "abc");
    EXPECT_EQ(copy.GetCapacity(), 3 + CByteBuffer::kDefaultGrowBy);
    EXPECT_NE(copy.GetData(), original.GetData());
    copy.WriteAt(0, "X", 1);
    EXPECT_EQ(Bytes(original), "abc");

    CByteBuffer empty;
    CByteBuffer emptyCopy(empty);
    EXPECT_EQ(emptyCopy.GetCapacity(), 0);
    EXPECT_EQ(emptyCopy.GetData(), nullptr);
}

TEST(ByteBufferTest, CopyAssignmentCopiesAndFreesOnce)
{
    CByteBuffer a = Holding("first");
    CByteBuffer b = Holding("second value");
    a = b;
    EXPECT_EQ(Bytes(a), "second value");
    EXPECT_NE(a.GetData(), b.GetData());
    b.WriteAt(0, "X", 1);
    EXPECT_EQ(Bytes(a), "second value");

    a = a;  // self-assignment keeps the bytes
    EXPECT_EQ(Bytes(a), "second value");

    a = CByteBuffer();
    EXPECT_EQ(a.GetLength(), 0);
    a.AppendByte('z');
    EXPECT_EQ(Bytes(a), "z");
    // Both destructors run at the end; a double free would show under the sanitizers.
}

TEST(ByteBufferTest, InitReturnsToTheEmptyStateAndDefaultStep)
{
    CByteBuffer buffer = Holding("abc");
    buffer.SetGrowBy(1);
    buffer.Init();
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetLength(), 0);
    EXPECT_EQ(buffer.GetCapacity(), 0);
    buffer.AppendByte('x');
    EXPECT_EQ(buffer.GetCapacity(), 1 + CByteBuffer::kDefaultGrowBy);
}

TEST(ByteBufferTest, NegativeSizesOffsetsAndCountsAreRefused)
{
    EXPECT_THROW(CByteBuffer(-1), std::out_of_range);
    CByteBuffer buffer = Holding("abc");
    EXPECT_THROW(buffer.Grow(-1), std::out_of_range);
    EXPECT_THROW(buffer.SetLength(-1), std::out_of_range);
    EXPECT_THROW(buffer.SetGrowBy(-1), std::out_of_range);
    EXPECT_THROW(buffer.WriteAt(-1, "x", 1), std::out_of_range);
    EXPECT_THROW(buffer.WriteAt(0, "x", -1), std::out_of_range);
    EXPECT_THROW(buffer.Append("x", -5), std::out_of_range);
    EXPECT_EQ(Bytes(buffer), "abc");
}

TEST(ByteBufferTest, SizesBeyondInt32AreRefusedAndTheBufferKept)
{
    CByteBuffer buffer = Holding("abc");
    const int32_t capacity = buffer.GetCapacity();
    EXPECT_THROW(buffer.Grow(INT32_MAX), std::bad_alloc) << "plus the grow step overflows";
    EXPECT_THROW(buffer.SetLength(INT32_MAX - 100), std::bad_alloc);
    EXPECT_THROW(buffer.WriteAt(INT32_MAX, "x", 1), std::bad_alloc);
    EXPECT_THROW(buffer.WriteAt(1, "x", INT32_MAX), std::bad_alloc);
    EXPECT_EQ(Bytes(buffer), "abc");
    EXPECT_EQ(buffer.GetCapacity(), capacity);

    CByteBuffer full;
    full.SetGrowBy(INT32_MAX);
    EXPECT_THROW(full.AppendByte('x'), std::bad_alloc);
    EXPECT_EQ(full.GetLength(), 0);
}

}  // namespace
