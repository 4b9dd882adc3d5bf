#include "ByteScan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every byte value at every place of texts longer than a word, against the plain test.
TEST(ByteScanTest, EveryByteAtEveryPlaceIsSeenAsThePlainTestSeesIt)
{
    // No byte of the first filler is below 0x41 or a control byte; none of the second's
    // is below 0x80.
    const std::string filler = "abcdefghijklmnopqrs\x80\xFF~";
    const std::string highFiller(filler.size(), '\x80');
    for (std::string::size_type at = 0; at < filler.size(); ++at) {
        for (int value = 0; value < 256; ++value) {
            std::string text = filler;
            text[at] = static_cast<char>(value);
            std::string high = highFiller;
            high[at] = static_cast<char>(value);
            SCOPED_TRACE(testing::Message() << "byte " << value << " at " << at);
            EXPECT_EQ(HoldsControlByte(text), value < 0x20 || value == 0x7F);
            for (const unsigned char limit : {0x01, 0x0E, 0x20, 0x41})
                EXPECT_EQ(HoldsByteBelow(text, limit), value < limit) << "limit " << int{limit};
            EXPECT_EQ(HoldsByteBelow(high, 0x80), value < 0x80);
        }
    }
}

TEST(ByteScanTest, AnEmptyTextHoldsNothing)
{
    EXPECT_FALSE(HoldsControlByte(""));
    EXPECT_FALSE(HoldsByteBelow("", 0x80));
}

}  // namespace
