#include "Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct DecodeCase {
    const char* description;
    const char* text;
    std::string bytes;  // what Base64DecodeBytes writes
    int length;         // Base64DecodedLength
};

TEST(Base64Test, DecodesUpToTheFirstByteOutsideTheAlphabet)
{
    const DecodeCase cases[] = {
        {"empty", "", "", 1},
        {"one character gives nothing", "Y", "", 4},
        {"two characters give one byte", "YQ", "a", 4},
        {"three characters give two bytes", "YWI", "ab", 4},
        {"one full group", "YWJj", "abc", 4},
        {"lone character after a group", "YWJjZ", "abc", 7},
        {"two full groups", "YWJjZGVm", "abcdef", 7},
        {"padding ends the input", "YWJjZGU=", "abcde", 7},
        {"last group of two", "YWJjZG", "abcd", 7},
        {"double padding", "YQ==", "a", 4},
        {"blank ends the input", "YWJj ZGVm", "abc", 4},
        {"line break ends the input", "YW\r\nJj", "a", 4},
        {"high byte ends the input", "YW\xFFJj", "a", 4},
        {"URL-safe alphabet is not accepted", "-_8", "", 1},
        {"the two extra characters", "+/8A", std::string("\xFB\xFF\x00", 3), 4},
        {"all ones", "////", "\xFF\xFF\xFF", 4},
        {"zero bytes decode too", "AAAA", std::string(3, '\0'), 4},
        {"credentials", "dXNlcjpwYXNz", "user:pass", 10},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(Base64DecodedLength(c.text), c.length) << c.description;
        std::vector<unsigned char> out(Base64DecodedLength(c.text), 0xEE);
        const int written = Base64DecodeBytes(out.data(), c.text);
        ASSERT_EQ(written, static_cast<int>(c.bytes.size())) << c.description;
        ASSERT_LT(written, static_cast<int>(out.size())) << c.description << ": room for the zero";
        EXPECT_EQ(std::string(out.begin(), out.begin() + written), c.bytes) << c.description;
    }
}

TEST(Base64Test, DecodeGivesTextCutAtItsFirstZeroByte)
{
    EXPECT_EQ(Base64Decode("YWJjZGVm"), "abcdef");
    EXPECT_EQ(Base64Decode("YWJjZGU="), "abcde");
    EXPECT_EQ(Base64Decode("YWJjZG"), "abcd");
    EXPECT_EQ(Base64Decode("YWJj ZGVm"), "abc");
    EXPECT_EQ(Base64Decode(""), "");
    EXPECT_EQ(Base64Decode("YQBi"), "a") << "a, zero, b";
    EXPECT_EQ(Base64Decode("AGE="), "");
    EXPECT_EQ(Base64Decode(std::string("YQ\0Yg", 5)), "a") << "the text ends at its zero byte";
}

TEST(Base64Test, DecodesEveryByteValue)
{
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string raw;
    for (int i = 0; i < 256; ++i)
        raw += static_cast<char>(i);
    raw += raw;  // 512 bytes: the last group is partial
    std::string encoded;
    for (size_t i = 0; i < raw.size(); i += 3) {
        const unsigned b0 = static_cast<unsigned char>(raw[i]);
        const unsigned b1 = i + 1 < raw.size() ? static_cast<unsigned char>(raw[i + 1]) : 0;
        const unsigned b2 = i + 2 < raw.size() ? static_cast<unsigned char>(raw[i + 2]) : 0;
        const unsigned group = b0 << 16 | b1 << 8 | b2;
        encoded += alphabet[group >> 18 & 63];
        encoded += alphabet[group >> 12 & 63];
        if (i + 1 < raw.size())
            encoded += alphabet[group >> 6 & 63];
        if (i + 2 < raw.size())
            encoded += alphabet[group & 63];
    }
    std::vector<unsigned char> out(Base64DecodedLength(encoded.c_str()));
    const int written = Base64DecodeBytes(out.data(), encoded.c_str());
    ASSERT_EQ(written, static_cast<int>(raw.size()));
    EXPECT_EQ(std::string(out.begin(), out.begin() + written), raw);
}

}  // namespace
