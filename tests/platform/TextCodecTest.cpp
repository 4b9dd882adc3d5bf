#include "TextCodec.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

namespace {

using platform::Cp932ToUtf16;
using platform::Cp932ToUtf8;
using platform::Utf16ToCp932;
using platform::Utf8ToCp932;

const std::string kReplacement = u8"\uFFFD";

struct PairCase {
    const char* description;
    std::string cp932;
    std::string utf8;
};

// Characters that convert both ways unchanged. Narrow literals are CP932, u8 ones UTF-8.
TEST(TextCodecTest, MappedCharactersRoundTrip)
{
    const PairCase cases[] = {
        {"empty", "", ""},
        {"backslash stays backslash", "\\", u8"\\"},
        {"tilde stays tilde", "~", u8"~"},
        {"kanji with 5C trail bytes", "表示ソ能", u8"表示ソ能"},
        {"hiragana and katakana", "あいうアイウ", u8"あいうアイウ"},
        {"half-width katakana", "\xB1\xB2\xDF", u8"ｱｲﾟ"},
        {"NEC special characters", "\x87\x40\x87\x54", u8"①Ⅰ"},
        {"IBM extension", "\xFA\x40", u8"ⅰ"},
        {"user-defined area", "\xF0\x40", u8"\uE000"},
        {"wave dash cell", "\x81\x60", u8"\uFF5E"},
        {"embedded zero", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const PairCase& c : cases) {
        EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8) << c.description;
        EXPECT_EQ(Utf8ToCp932(c.utf8), c.cp932) << c.description;
    }
}

TEST(TextCodecTest, EveryAsciiByteMapsToItself)
{
    std::string ascii;
    for (int c = 1; c < 0x80; ++c)
        ascii += static_cast<char>(c);
    EXPECT_EQ(Cp932ToUtf8(ascii), ascii);
    EXPECT_EQ(Utf8ToCp932(ascii), ascii);
}

// After a double-byte character the converter itself maps each ASCII byte, as the
// shortcut for leading ASCII does: both must give the byte back unchanged.
TEST(TextCodecTest, EveryAsciiByteAfterDoubleByteTextMapsToItself)
{
    for (int c = 0; c < 0x80; ++c) {
        const std::string byte(1, static_cast<char>(c));
        EXPECT_EQ(Cp932ToUtf8("表" + byte), u8"表" + byte) << c;
        EXPECT_EQ(Utf8ToCp932(u8"表" + byte), "表" + byte) << c;
    }
}

// Leading ASCII is tested eight bytes at a time: the first non-ASCII byte at each place
// of a word and past it, and the highest ASCII byte beside the lowest non-ASCII one.
TEST(TextCodecTest, NonAsciiByteAnywhereAfterAsciiConverts)
{
    const std::string head = "abcdefghijklmnopq";
    for (const size_t ascii : {0, 1, 7, 8, 9, 15, 16, 17}) {
        const std::string prefix = head.substr(0, ascii);
        EXPECT_EQ(Cp932ToUtf8(prefix + "表\\~"), prefix + u8"表\\~") << ascii;
        EXPECT_EQ(Utf8ToCp932(prefix + u8"表\\~"), prefix + "表\\~") << ascii;
        EXPECT_EQ(Cp932ToUtf8(prefix + "\x7F\x80"), prefix + "\x7F" + kReplacement) << ascii;
        EXPECT_EQ(Utf8ToCp932(prefix + "\x7F\x80"), prefix + "\x7F?") << ascii;
        EXPECT_EQ(Cp932ToUtf8(prefix), prefix) << ascii;
        EXPECT_EQ(Utf8ToCp932(prefix), prefix) << ascii;
    }
}

// A byte above 0x7F at each place of the eight-byte words, and 0x7F itself, which is ASCII.
TEST(TextCodecTest, IsAsciiOnlyWithoutBytesAbove7F)
{
    EXPECT_TRUE(platform::IsAscii(""));
    const std::string head = "abcdefghijklmnopq";
    for (const size_t ascii : {0, 1, 7, 8, 9, 15, 16, 17}) {
        const std::string prefix = head.substr(0, ascii);
        EXPECT_TRUE(platform::IsAscii(prefix + "\x7F")) << ascii;
        EXPECT_FALSE(platform::IsAscii(prefix + "\x80")) << ascii;
        EXPECT_FALSE(platform::IsAscii(prefix + u8"表")) << ascii;
    }
}

TEST(TextCodecTest, IsWellFormedUtf8FollowsTheRfc3629Table)
{
    const struct {
        const char* what;
        std::string bytes;
        bool wellFormed;
    } cases[] = {
        {"empty", "", true},
        {"ASCII", "a.txt", true},
        {"lowest two-byte", "\xC2\x80", true},
        {"highest two-byte", "\xDF\xBF", true},
        {"lowest three-byte", "\xE0\xA0\x80", true},
        {"last before the surrogates", "\xED\x9F\xBF", true},
        {"first after the surrogates", "\xEE\x80\x80", true},
        {"lowest four-byte", "\xF0\x90\x80\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"mixed", "caf\xC3\xA9 \xE8\xA1\xA8", true},
        {"overlong two-byte", "\xC0\xAE", false},
        {"overlong two-byte C1", "\xC1\xBF", false},
        {"overlong three-byte", "\xE0\x9F\xBF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"FF byte", "\xFF", false},
        {"stray continuation", "a\x80", false},
        {"cut off two-byte", "a\xC3", false},
        {"cut off three-byte", "\xE3\x81", false},
        {"ASCII in place of a continuation", "\xE3\x81" "a", false},
        {"Shift-JIS kanji", "\x90\xDD\x92\xE8", false},
        {"Shift-JIS that is also UTF-8", "\xC3\xBD\xC4\x88\xEA\x97\x97", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::IsWellFormedUtf8(c.bytes), c.wellFormed) << c.what;
}

// The seven codes that JIS X 0208 reads otherwise than CP932: either spelling converts to
// the code, which reads back in CP932's spelling, as Cp932Spelling writes the JIS one.
TEST(TextCodecTest, EitherSpellingOfACodeConvertsToItAndReadsBackInCp932s)
{
    const struct {
        const char* what;
        std::string cp932;
        std::string codePage;  // CP932's spelling
        std::string jis;
    } cases[] = {
        {"0x815C", "\x81\x5C", u8"\u2015", u8"\u2014"}, {"0x8160", "\x81\x60", u8"\uFF5E", u8"\u301C"},
        {"0x8161", "\x81\x61", u8"\u2225", u8"\u2016"}, {"0x817C", "\x81\x7C", u8"\uFF0D", u8"\u2212"},
        {"0x8191", "\x81\x91", u8"\uFFE0", u8"\u00A2"}, {"0x8192", "\x81\x92", u8"\uFFE1", u8"\u00A3"},
        {"0x81CA", "\x81\xCA", u8"\uFFE2", u8"\u00AC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8ToCp932(c.jis), c.cp932);
        EXPECT_EQ(Utf8ToCp932(c.codePage), c.cp932);
        EXPECT_EQ(Cp932ToUtf8(c.cp932), c.codePage);
        EXPECT_EQ(platform::Cp932Spelling("a" + c.jis + "b" + c.jis), "a" + c.codePage + "b" + c.codePage);
        EXPECT_EQ(platform::Cp932Spelling(c.codePage), c.codePage);
        EXPECT_TRUE(platform::HoldsCp932OnlySpelling(u8"日本" + c.codePage + ".txt"));
        EXPECT_FALSE(platform::HoldsCp932OnlySpelling(u8"日本" + c.jis + ".txt"));
    }
    // The JIS spelling of 0x815F is the ASCII backslash, and the yen sign iconv writes as
    // 0x5C is no JIS spelling of a double-byte code: both stay.
    EXPECT_EQ(platform::Cp932Spelling(u8"\\\u00A5\uFF3C"), u8"\\\u00A5\uFF3C");
    EXPECT_FALSE(platform::HoldsCp932OnlySpelling(u8"\uFF3C\u00A5 plain"));
}

TEST(TextCodecTest, UnmappableCp932BytesBecomeReplacementCharacters)
{
    const PairCase cases[] = {
        {"byte 80", "\x80", kReplacement},
        {"byte A0", "\xA0", kReplacement},
        {"byte FD", "\xFD", kReplacement},
        {"byte FE", "\xFE", kReplacement},
        {"byte FF", "\xFF", kReplacement},
        {"lead byte at the end", "\x81", kReplacement},
        {"lead byte before a blank loses only the lead", "\x81 ", kReplacement + " "},
        {"lead byte before 7F", "\x81\x7F", kReplacement + "\x7F"},
        {"lead byte before ASCII letter pair", "\x81" "\x30" "A", kReplacement + "0A"},
        {"unassigned cell is one character", "\x85\x40", kReplacement},
        {"two bad bytes", "\xFF\xFF", kReplacement + kReplacement},
    };
    for (const PairCase& c : cases) {
        EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8) << c.description;
        // The rest of the text still converts (a blank is never a trail byte).
        EXPECT_EQ(Cp932ToUtf8("a" + c.cp932 + " 表"), u8"a" + c.utf8 + u8" 表") << c.description;
    }
}

struct BadUtf8Case {
    const char* description;
    std::string bytes;
};

TEST(TextCodecTest, InvalidUtf8BecomesQuestionMarks)
{
    const BadUtf8Case cases[] = {
        {"lone high surrogate", "\xED\xA0\x80"},
        {"lone low surrogate", "\xED\xB0\x80"},
        {"overlong slash", "\xC0\xAF"},
        {"overlong three-byte", "\xE0\x80\xAF"},
        {"truncated sequence", "\xE3\x81"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"stray continuation", "\x80"},
        {"byte FE", "\xFE"},
        {"byte FF", "\xFF"},
    };
    for (const BadUtf8Case& c : cases) {
        const std::string out = Utf8ToCp932(u8"a" + c.bytes + u8"表");
        ASSERT_GE(out.size(), 4u) << c.description;
        EXPECT_EQ(out.substr(0, 1), "a") << c.description;
        EXPECT_EQ(out.substr(out.size() - 2), "表") << c.description;
        const std::string middle = out.substr(1, out.size() - 3);
        EXPECT_EQ(middle, std::string(middle.size(), '?')) << c.description;
    }
}

TEST(TextCodecTest, CharactersOutsideCp932BecomeOneQuestionMark)
{
    EXPECT_EQ(Utf8ToCp932(u8"a\u20ACb"), "a?b");
    EXPECT_EQ(Utf8ToCp932(u8"a\U0001F600b"), "a?b");
    EXPECT_EQ(Utf8ToCp932(kReplacement), "?");
}

TEST(TextCodecTest, LongTextsConvertAcrossBufferBoundaries)
{
    std::string cp932, utf8;
    for (int i = 0; i < 5000; ++i) {
        cp932 += "表a";
        utf8 += u8"表a";
    }
    cp932 += "\xFF";
    utf8 += kReplacement;
    cp932 += "end";
    utf8 += u8"end";
    EXPECT_EQ(Cp932ToUtf8(cp932), utf8);
    EXPECT_EQ(Utf8ToCp932(utf8), cp932.substr(0, cp932.size() - 4) + "?end");
}

TEST(TextCodecTest, Utf16ConversionsMatchTheUtf8Ones)
{
    EXPECT_EQ(Cp932ToUtf16("表示ソ abc"), u"表示ソ abc");
    EXPECT_EQ(Cp932ToUtf16("\xF0\x40"), u"\uE000");
    EXPECT_EQ(Cp932ToUtf16("a\xFF"), u"a\uFFFD");
    EXPECT_EQ(Utf16ToCp932(u"表示ソ abc"), "表示ソ abc");
    EXPECT_EQ(Utf16ToCp932(u"a\U0001F600b"), "a?b") << "a valid pair outside CP932";
    EXPECT_EQ(Utf16ToCp932(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextCodecTest, BrokenUtf16PairsBecomeQuestionMarks)
{
    const std::u16string cases[] = {
        {u'a', char16_t(0xD800), u'b'},                   // lone high surrogate
        {u'a', char16_t(0xDC00), u'b'},                   // lone low surrogate
        {u'a', char16_t(0xDC00), char16_t(0xD800), u'b'},  // pair in the wrong order
        {u'a', char16_t(0xD800)},                         // high surrogate at the end
    };
    EXPECT_EQ(Utf16ToCp932(cases[0]), "a?b");
    EXPECT_EQ(Utf16ToCp932(cases[1]), "a?b");
    EXPECT_EQ(Utf16ToCp932(cases[2]), "a??b");
    EXPECT_EQ(Utf16ToCp932(cases[3]), "a?");
}

TEST(TextCodecTest, ConvertsOnSeveralThreadsAtOnce)
{
    std::string cp932, utf8;
    for (int i = 0; i < 2000; ++i) {
        cp932 += "設定\xFF";
        utf8 += u8"設定" + kReplacement;
    }
    std::vector<std::future<bool>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [&] {
            for (int i = 0; i < 50; ++i) {
                if (Cp932ToUtf8(cp932) != utf8 || Utf8ToCp932(u8"表示") != "表示")
                    return false;
            }
            return true;
        }));
    }
    for (auto& w : workers) {
        ASSERT_EQ(w.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_TRUE(w.get());
    }
}

}  // namespace
