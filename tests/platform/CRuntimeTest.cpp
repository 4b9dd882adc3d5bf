#include "CRuntime.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using platform::Atoi;
using platform::CharLength;
using platform::IsLeadByte;

// Sign of a comparison result, so tables can state <0, 0, >0 as -1, 0, 1.
int Sign(int v) { return (v > 0) - (v < 0); }

// The narrow literals below are stored as CP932; the byte comments say what they hold.
TEST(CRuntimeTest, LiteralsAreCompiledAsShiftJis)
{
    EXPECT_EQ(std::string("表"), "\x95\x5C");
    EXPECT_EQ(std::string("ソ"), "\x83\x5C");
    EXPECT_EQ(std::string("ア"), "\x83\x41");
}

struct LeadByteCase {
    unsigned char byte;
    bool lead;
};

TEST(CRuntimeTest, LeadBytesAreTheTwoShiftJisRanges)
{
    const LeadByteCase cases[] = {
        {0x00, false}, {0x41, false}, {0x5C, false}, {0x7F, false}, {0x80, false},
        {0x81, true},  {0x9F, true},  {0xA0, false}, {0xB1, false},  // half-width kana
        {0xDF, false}, {0xE0, true},  {0xFC, true},  {0xFD, false}, {0xFF, false},
    };
    for (const LeadByteCase& c : cases)
        EXPECT_EQ(IsLeadByte(c.byte), c.lead) << std::hex << int(c.byte);
}

TEST(CRuntimeTest, CharLengthCountsDoubleByteCharacters)
{
    const std::string s = "a表\xB1" "\x83";  // a, 表 (95 5C), half-width kana, lone lead byte
    EXPECT_EQ(CharLength(s, 0), 1u);
    EXPECT_EQ(CharLength(s, 1), 2u);
    EXPECT_EQ(CharLength(s, 3), 1u);
    EXPECT_EQ(CharLength(s, 4), 1u) << "a lead byte at the end stands alone";
}

struct CompareCase {
    const char* description;
    std::string a;
    std::string b;
    int exact;    // sign of _mbscmp
    int folded;   // sign of _mbsicmp
};

TEST(CRuntimeTest, CompareExactAndFolded)
{
    const CompareCase cases[] = {
        {"equal", "abc", "abc", 0, 0},
        {"both empty", "", "", 0, 0},
        {"empty first", "", "a", -1, -1},
        {"prefix is less", "ab", "abc", -1, -1},
        {"longer is greater", "abc", "ab", 1, 1},
        {"ASCII case", "ABC", "abc", -1, 0},
        {"bytes compare unsigned", "表", "a", 1, 1},
        {"embedded zero is content", std::string("a\0b", 3), std::string("a\0c", 3), -1, -1},
        {"trail byte A is not folded", "ア", "\x83" "a", -1, -1},
        {"letters after a double-byte char fold", "表A", "表a", -1, 0},
        {"letters after ソ fold", "ソZ", "ソz", -1, 0},
        {"full-width letters do not fold", "Ａ", "ａ", -1, -1},
        {"folding is to lower case", "_", "A", 1, -1},
        {"half-width kana unchanged", "\xB1", "\xB1", 0, 0},
        {"lone lead byte at end", "a\x83", "A\x83", 1, 0},
        {"lead byte pair against lone lead", "\x83\x41", "\x83", 1, 1},
    };
    for (const CompareCase& c : cases) {
        EXPECT_EQ(Sign(platform::_mbscmp(c.a, c.b)), c.exact) << c.description;
        EXPECT_EQ(Sign(platform::_mbscmp(c.b, c.a)), -c.exact) << c.description << " (swapped)";
        EXPECT_EQ(Sign(platform::_mbsicmp(c.a, c.b)), c.folded) << c.description;
        EXPECT_EQ(Sign(platform::_mbsicmp(c.b, c.a)), -c.folded) << c.description << " (swapped)";
        EXPECT_EQ(platform::EqualsIgnoringCase(c.a, c.b), c.folded == 0) << c.description;
        EXPECT_EQ(platform::EqualsIgnoringCase(c.b, c.a), c.folded == 0) << c.description << " (swapped)";
    }
}

struct FindCase {
    const char* description;
    std::string haystack;
    std::string needle;
    std::string::size_type from;
    std::string::size_type expected;
};

TEST(CRuntimeTest, FindsSubstringsOnlyAtCharacterBoundaries)
{
    const auto npos = std::string::npos;
    const FindCase cases[] = {
        {"plain", "abcabc", "ca", 0, 2},
        {"from skips earlier match", "abab", "ab", 1, 2},
        {"empty needle", "abc", "", 0, 0},
        {"empty needle at end", "abc", "", 3, 3},
        {"empty needle past end", "abc", "", 4, npos},
        {"needle longer", "ab", "abc", 0, npos},
        {"needle at end", "xyz", "yz", 0, 1},
        {"trail 5C of 表 is no backslash", "表示", "\\", 0, npos},
        {"trail 5C of ソ is no backslash", "ソ\\", "\\", 0, 2},
        {"trail 41 of ア is no A", "アA", "A", 0, 2},
        {"match starting on a trail byte", "\x83\x41\x42", "\x41\x42", 0, npos},
        {"double-byte needle", "aソ表", "表", 0, 3},
        {"from past end", "abc", "a", 5, npos},
    };
    for (const FindCase& c : cases)
        EXPECT_EQ(platform::_mbsstr(c.haystack, c.needle, c.from), c.expected) << c.description;
}

TEST(CRuntimeTest, LowersOnlyAsciiLettersOutsideDoubleByteCharacters)
{
    EXPECT_EQ(platform::_mbslwr("ABC xyz 09@[`{"), "abc xyz 09@[`{");
    // ア is 83 41 and Ａ is 82 60: neither byte pair may change.
    EXPECT_EQ(platform::_mbslwr("アＡ表Z"), "アＡ表z");
    EXPECT_EQ(platform::_mbslwr("Q\x83"), "q\x83");
    EXPECT_EQ(platform::_mbslwr(""), "");
}

TEST(CRuntimeTest, FindsLastSingleByteCharacter)
{
    const auto npos = std::string::npos;
    EXPECT_EQ(platform::_mbsrchr("C:\\dir\\表", '\\'), 6u) << "the trail byte of 表 is not the last backslash";
    EXPECT_EQ(platform::_mbsrchr("ソ", '\\'), npos);
    EXPECT_EQ(platform::_mbsrchr("ア", 'A'), npos);
    EXPECT_EQ(platform::_mbsrchr("a/b/c", '/'), 3u);
    EXPECT_EQ(platform::_mbsrchr("", '/'), npos);
    EXPECT_EQ(platform::_mbsrchr("/", '/'), 0u);
}

struct AtoiCase {
    const char* text;
    int expected;
};

TEST(CRuntimeTest, AtoiParsesLikeTheCRuntimeAndClamps)
{
    const AtoiCase cases[] = {
        {"0", 0},
        {"42", 42},
        {"  42", 42},
        {"\t\n\v\f\r 7", 7},
        {"+5", 5},
        {"-5", -5},
        {"12abc", 12},
        {"1 2", 1},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"0000000000000000000042", 42},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"99999999999999999999999999", INT_MAX},
        {"-99999999999999999999999999", INT_MIN},
        {"１２", 0},  // full-width digits are not digits
    };
    for (const AtoiCase& c : cases)
        EXPECT_EQ(Atoi(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
