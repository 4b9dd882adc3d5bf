#include "ByteBuffer.h"
#include "JapaneseText.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// Every two-byte Shift_JISX0213 code, in code order.
std::vector<uint16_t> AllTwoByteCodes()
{
    std::vector<uint16_t> codes;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead == 0xA0)
            lead = 0xE0;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail)
            if (trail != 0x7F)
                codes.push_back(static_cast<uint16_t>(lead << 8 | trail));
    }
    return codes;
}

std::string Bytes(uint16_t code) { return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}; }

int Detect(const std::string& text) { return DetectCharset(text.data(), text.size()); }

std::string Utf8Of(uint16_t unit)
{
    char bytes[3];
    return std::string(bytes, EncodeUtf8Char(bytes, unit));
}

// The code in which the file-name conversion writes `unit`, one byte or two; 0 when it has none.
uint16_t FileNameCode(uint16_t unit)
{
    bool substituted = false;
    const std::string bytes = platform::Utf8ToCp932(Utf8Of(unit), &substituted);
    if (substituted || bytes.empty() || bytes.size() > 2)
        return 0;
    const auto first = static_cast<unsigned char>(bytes[0]);
    return static_cast<uint16_t>(bytes.size() == 1 ? first : first << 8 | static_cast<unsigned char>(bytes[1]));
}

bool IsPrivateUse(uint16_t unit) { return unit >= 0xE000 && unit <= 0xF8FF; }

// A copy on the heap of exactly its size, so that AddressSanitizer sees a read past the end.
std::unique_ptr<char[]> ExactCopy(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size()]);
    text.copy(copy.get(), text.size());
    return copy;
}

CByteBuffer Utf16Buffer(const std::u16string& units)
{
    CByteBuffer buffer;
    for (char16_t u : units) {
        buffer.AppendByte(static_cast<char>(u & 0xFF));
        buffer.AppendByte(static_cast<char>(u >> 8));
    }
    return buffer;
}

std::string Utf16LeBytes(const std::u16string& units)
{
    const CByteBuffer buffer = Utf16Buffer(units);
    return std::string(buffer.GetData(), buffer.GetLength());
}

struct DecodeCase {
    const char* what;
    const char* bytes;
    uint16_t code;
    int length;
};

// Each case read by `decode`: the code it gives and how many bytes it took.
void ExpectDecodes(DecodedChar (*decode)(const char*), std::initializer_list<DecodeCase> cases)
{
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const DecodedChar d = decode(c.bytes);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.length, c.length);
    }
}

struct ConvertCase {
    const char* what;
    std::string input;
    std::string expected;
};

// Each case's input through `convert`.
void ExpectConverts(std::string (*convert)(const std::string&), std::initializer_list<ConvertCase> cases)
{
    for (const ConvertCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(convert(c.input), c.expected);
    }
}

// ConvertEucJpToShiftJis into a buffer sized by its own first pass.
std::string EucJpToShiftJis(const std::string& input)
{
    const int n = ConvertEucJpToShiftJis(nullptr, input.c_str(), 0);
    std::vector<char> out(n + 1);
    EXPECT_EQ(ConvertEucJpToShiftJis(out.data(), input.c_str(), n + 1), n) << "the counting pass disagrees";
    return std::string(out.data());
}

}  // namespace

// --- Code tables ---------------------------------------------------------------------------

TEST(JapaneseTextTables, ForwardTableHoldsTheDocumentedCounts)
{
    int unassigned = 0, substitutes = 0, real = 0;
    for (uint16_t code : AllTwoByteCodes()) {
        const uint16_t unit = ShiftJisCodeToUnicode(code);
        ASSERT_NE(unit, 0) << std::hex << code;
        if (unit == 0x3013 && code != 0x81AC)  // 0x81AC is the geta mark itself
            ++unassigned;
        else if (unit == 0x30FB && code != 0x8145)  // 0x8145 is the middle dot itself
            ++substitutes;
        else
            ++real;
    }
    EXPECT_EQ(unassigned, 57);
    EXPECT_EQ(substitutes, 25 + 302 + 164);
    EXPECT_EQ(real, 11280 - 57 - 491);
}

TEST(JapaneseTextTables, CellsReadAsTheSystemCodePage)
{
    const struct {
        uint16_t code;
        uint16_t unit;
    } cases[] = {
        {0x815F, 0xFF3C}, {0x8160, 0xFF5E}, {0x8161, 0x2225}, {0x817C, 0xFF0D}, {0x8191, 0xFFE0},
        {0x8192, 0xFFE1}, {0x81AD, 0x0027}, {0x81AE, 0x0022}, {0x81AF, 0x002D}, {0x81CA, 0xFFE2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShiftJisCodeToUnicode(c.code), c.unit) << std::hex << c.code;
}

TEST(JapaneseTextTables, SubstituteCellsHaveNoInverse)
{
    EXPECT_EQ(ShiftJisCodeToUnicode(0x8397), 0x30FB);  // KA with semi-voiced mark: a sequence
    EXPECT_EQ(ShiftJisCodeToUnicode(0xF040), 0x30FB);  // U+20089, outside the BMP
    EXPECT_EQ(ShiftJisCodeToUnicode(0x84BF), 0x30FB);  // U+3251, listed as not rendered
    EXPECT_EQ(ShiftJisCodeToUnicode(0x87B6), 0x30FB);  // U+FA30
    EXPECT_EQ(ShiftJisCodeToUnicode(0x82FA), 0x3013);  // unassigned in JIS X 0213:2000
    const uint16_t listed[] = {0x2047, 0x2051, 0x23BE, 0x23CC, 0x23CE, 0x24EB, 0x24FE, 0x2616,
                               0x2617, 0x2934, 0x2985, 0x29BF, 0x29FA, 0x303B, 0x303D, 0x3095,
                               0x309F, 0x30A0, 0x30FF, 0x31F0, 0x31FF, 0x3251, 0x325F, 0x32B1,
                               0x32BF, 0x69EA, 0x9B2D, 0xFA30, 0xFA6A, 0xFE45, 0xFE46};
    for (uint16_t unit : listed)
        EXPECT_EQ(UnicodeToShiftJisCode(unit), 0) << std::hex << unit;
}

TEST(JapaneseTextTables, InverseTableHasTheDocumentedPagesAndAdditions)
{
    std::set<int> pages;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit)
        if (UnicodeToShiftJisCode(static_cast<uint16_t>(unit)))
            pages.insert(unit >> 8);
    EXPECT_EQ(pages.size(), 114u);

    const struct {
        uint16_t unit;
        uint16_t code;
    } cases[] = {
        {0x0041, 0x41},   {0x005C, 0x5C},   {0x007E, 0x7E},   {0x0027, 0x27},   {0x0022, 0x22},
        {0x002D, 0x2D},   {0x0080, 0x80},   {0x00B5, 0x83CA}, {0x2211, 0x8794}, {0xF8F0, 0xA0},
        {0xF8F1, 0xFD},   {0xF8F2, 0xFE},   {0xF8F3, 0xFF},
        {0xFF5E, 0x8160}, {0xFF3C, 0x815F}, {0x2225, 0x8161}, {0x3042, 0x82A0}, {0xE000, 0},
        // Both spellings of the codes JIS X 0208 reads otherwise than the code page; the
        // backslash stays ASCII.
        {0x2015, 0x815C}, {0x2014, 0x815C}, {0x301C, 0x8160}, {0x2016, 0x8161}, {0xFF0D, 0x817C},
        {0x2212, 0x817C}, {0xFFE0, 0x8191}, {0x00A2, 0x8191}, {0xFFE1, 0x8192}, {0x00A3, 0x8192},
        {0xFFE2, 0x81CA}, {0x00AC, 0x81CA},
        // A UTF-8 URL names half-width katakana and the middle dot by their own code points.
        {0xFF61, 0xA1},   {0xFF71, 0xB1},   {0xFF9F, 0xDF},   {0x30FB, 0x8145}, {0xFF60, 0},
        {0xFFA0, 0},
        // Yen sign and overline are not the ASCII backslash and tilde here, which would
        // change a path's meaning.
        {0x00A5, 0},      {0x203E, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnicodeToShiftJisCode(c.unit), c.code) << std::hex << c.unit;
}

// A URL names a file by the code of its name: a character the system code page holds is
// written in the code the file-name conversion gives it, where it holds a character twice or
// three times (NEC row 13, NEC's selection of the IBM extensions, the IBM extensions) too.
// Any other character's code is one the code page leaves unassigned, so that such a name is
// refused rather than taken for another file's; only the micro sign is written as the Greek
// mu the code page has. The user-defined area's private-use code points have no code.
TEST(JapaneseTextTables, EveryCharacterIsWrittenAsTheFileNameConversionWritesIt)
{
    int codePageCharacters = 0;
    for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF)
            continue;
        const uint16_t code = UnicodeToShiftJisCode(static_cast<uint16_t>(unit));
        const uint16_t fileNameCode = FileNameCode(static_cast<uint16_t>(unit));
        if (fileNameCode >= 0x100 && !IsPrivateUse(static_cast<uint16_t>(unit))) {
            EXPECT_EQ(code, fileNameCode) << std::hex << unit;
            ++codePageCharacters;
        } else if (code >= 0x100 && unit != 0x00B5) {
            EXPECT_EQ(platform::Cp932ToUtf8(Bytes(code)), u8"\uFFFD") << std::hex << unit;
        }
    }
    // 7,326 characters in two-byte cells, and the JIS spelling of seven of them.
    EXPECT_EQ(codePageCharacters, 7326 + 7);

    const struct {
        const char* what;
        uint16_t unit;
        uint16_t code;
    } cases[] = {
        {"IBM extension kanji JIS X 0213 lacks", 0x9AD9, 0xFBFC},
        {"IBM extension kanji JIS X 0213 puts at 0x9892", 0xFA11, 0xFAB1},
        {"IBM extension kanji, not NEC's selection of it", 0x7E8A, 0xFA5C},
        {"small roman numeral, only among the IBM extensions", 0x2170, 0xFA40},
        {"fullwidth broken bar", 0xFFE4, 0xFA55},
        {"fullwidth apostrophe", 0xFF07, 0xFA56},
        {"circled digit, NEC row 13", 0x2460, 0x8740},
        {"roman numeral, NEC row 13 before the IBM extensions", 0x2161, 0x8755},
        {"parenthesized ideograph stock, NEC row 13", 0x3231, 0x878A},
        {"n-ary summation, NEC row 13, not the Greek sigma", 0x2211, 0x8794},
        {"because, row 2 before NEC row 13 and the IBM extensions", 0x2235, 0x81E6},
        {"not sign, row 2 before the IBM extensions", 0xFFE2, 0x81CA},
        {"JIS X 0213 kanji whose code is NEC's selection of another", 0x4264, 0},
        {"JIS X 0213 kanji whose code is in the user-defined area", 0x3406, 0},
        {"JIS X 0213 letter the code page leaves unassigned", 0x00E9, 0x857E},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnicodeToShiftJisCode(c.unit), c.code) << c.what;
}

TEST(JapaneseTextTables, CellsTheCodePageLeavesFreeRoundTripThroughUnicode)
{
    int compared = 0;
    for (uint16_t code : AllTwoByteCodes()) {
        const uint16_t unit = ShiftJisCodeToUnicode(code);
        if (unit == 0x3013 || unit == 0x30FB || FileNameCode(unit) != 0)
            continue;
        if (platform::Cp932ToUtf8(Bytes(code)) != u8"\uFFFD")
            continue;  // the code names another character of the code page
        // The three cells read as ASCII quotes and minus give those ASCII bytes back.
        EXPECT_EQ(UnicodeToShiftJisCode(unit), unit < 0x80 ? unit : code) << std::hex << code;
        ++compared;
    }
    EXPECT_EQ(compared, 1266);
}

TEST(JapaneseTextTables, KanjiOfJisX0208ReadAsTheSystemCodePageReadsThem)
{
    int compared = 0;
    for (uint16_t code : AllTwoByteCodes()) {
        if (code < 0x889F || code > 0xEAA4 || (code >= 0xA000 && code < 0xE040))
            continue;
        const std::string expected = platform::Cp932ToUtf8(Bytes(code));
        if (expected == u8"\uFFFD")
            continue;  // not in JIS X 0208
        EXPECT_EQ(ShiftJisToUtf8(Bytes(code)), expected) << std::hex << code;
        ++compared;
    }
    EXPECT_EQ(compared, 6355);
}

TEST(JapaneseTextTables, JisRowsAndCellsCoverEveryShiftJisCodeOnce)
{
    std::set<uint16_t> seen;
    for (int plane = 1; plane <= 2; ++plane) {
        for (unsigned row = 0x21; row <= 0x7E; ++row) {
            for (unsigned cell = 0x21; cell <= 0x7E; ++cell) {
                const uint16_t code = JisToShiftJis(static_cast<uint16_t>(row << 8 | cell), plane);
                if (code) {
                    EXPECT_TRUE(seen.insert(code).second) << std::hex << code;
                }
            }
        }
    }
    const std::vector<uint16_t> all = AllTwoByteCodes();
    EXPECT_EQ(seen, std::set<uint16_t>(all.begin(), all.end()));
}

TEST(JapaneseTextTables, JisToShiftJisRejectsOutOfRangeInput)
{
    const struct {
        const char* what;
        uint16_t code;
        int plane;
        uint16_t expected;
    } cases[] = {
        {"hiragana a", 0x2422, 1, 0x82A0},
        {"first cell", 0x2121, 1, 0x8140},
        {"last cell of plane 1", 0x7E7E, 1, 0xEFFC},
        {"plane 2 row 1", 0x2121, 2, 0xF040},
        {"plane 2 row 8", 0x2821, 2, 0xF09F},
        {"plane 2 last cell", 0x7E7E, 2, 0xFCFC},
        {"plane 2 row without mapping", 0x2221, 2, 0},
        {"plane 2 row 0x6D", 0x6D21, 2, 0},
        {"row below range", 0x2021, 1, 0},
        {"row above range", 0x7F21, 1, 0},
        {"cell below range", 0x2120, 1, 0},
        {"cell above range", 0x217F, 1, 0},
        {"high bits set", 0xA4A2, 1, 0},
        {"plane 0", 0x2422, 0, 0},
        {"plane 3", 0x2422, 3, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JisToShiftJis(c.code, c.plane), c.expected) << c.what;
}

// --- Character readers and writers -----------------------------------------------------------

TEST(JapaneseTextChars, ReadShiftJisChar)
{
    ExpectDecodes(ReadShiftJisChar, {
        {"ASCII", "A", 0x41, 1},
        {"two-byte", "\x82\xA0", 0x82A0, 2},
        {"trail 0x5C", "\x95\x5C", 0x955C, 2},
        {"half-width alone", "\xB1", 0x8341, 1},
        {"half-width before ASCII", "\xB6" "A", 0x834A, 1},
        {"voiced pair", "\xB6\xDE", 0x834B, 2},
        {"semi-voiced pair", "\xCA\xDF", 0x8370, 2},
        {"semi-voiced KA", "\xB6\xDF", 0x8397, 2},
        {"VU", "\xB3\xDE", 0x8394, 2},
        {"WA voiced", "\xDC\xDE", 0x8492, 2},
        {"WA semi-voiced", "\xDC\xDF", 0x8492, 2},
        {"A has no voiced form", "\xB1\xDE", 0x8341, 1},
        {"voiced mark alone", "\xDE", 0x814A, 1},
        {"semi-voiced mark alone", "\xDF", 0x814B, 1},
        {"unmapped single byte", "\x80", 0x80, 1},
        {"lead byte at the end", "\x82", 0, 0},
        {"end", "", 0, 0},
    });
}

TEST(JapaneseTextChars, ShiftJisCodeToUnicode)
{
    EXPECT_EQ(ShiftJisCodeToUnicode(0x41), 0x41);
    EXPECT_EQ(ShiftJisCodeToUnicode(0x7F), 0x7F);
    EXPECT_EQ(ShiftJisCodeToUnicode(0xA1), 0xFF61);
    EXPECT_EQ(ShiftJisCodeToUnicode(0xDF), 0xFF9F);
    EXPECT_EQ(ShiftJisCodeToUnicode(0x82A0), 0x3042);
    for (uint16_t code : {0x80, 0xA0, 0xE0, 0xFD, 0xFF, 0x8000, 0x813F, 0x817F, 0x81FD, 0xFD40, 0x1234})
        EXPECT_EQ(ShiftJisCodeToUnicode(code), 0) << std::hex << code;
}

TEST(JapaneseTextChars, DecodeUtf8Char)
{
    ExpectDecodes(DecodeUtf8Char, {
        {"ASCII", "A", 0x41, 1},
        {"two bytes", "\xC3\xA9", 0xE9, 2},
        {"three bytes", "\xE3\x81\x82", 0x3042, 3},
        {"highest two-byte", "\xDF\xBF", 0x7FF, 2},
        {"stray continuation", "\xAE", 0xAE, 1},
        {"four bytes", "\xF0\x9F\x98\x80", 0xFFFF, 4},
        {"five bytes", "\xF8\x88\x80\x80\x80", 0xFFFF, 5},
        {"six bytes", "\xFC\x84\x80\x80\x80\x80", 0xFFFF, 6},
        {"overlong dot", "\xC0\xAE", 0xFFFF, 2},
        {"overlong slash", "\xC0\xAF", 0xFFFF, 2},
        {"overlong three-byte dot", "\xE0\x80\xAE", 0xFFFF, 3},
        {"overlong highest", "\xE0\x9F\xBF", 0xFFFF, 3},
        {"lead before slash", "\xC0/", 0xFFFF, 1},
        {"lead before dot", "\xE0\x80.", 0xFFFF, 2},
        {"cut off two-byte", "\xC3", 0, 0},
        {"cut off three-byte", "\xE3\x81", 0, 0},
        {"cut off four-byte", "\xF0\x9F\x98", 0, 0},
        {"end", "", 0, 0},
    });
}

TEST(JapaneseTextChars, EncodeUtf8CharWritesEachUnitAlone)
{
    const struct {
        uint16_t unit;
        std::string bytes;
    } cases[] = {
        {0x0041, "A"},
        {0x007F, "\x7F"},
        {0x0080, "\xC2\x80"},
        {0x07FF, "\xDF\xBF"},
        {0x0800, "\xE0\xA0\x80"},
        {0x3042, "\xE3\x81\x82"},
        {0xD83D, "\xED\xA0\xBD"},
        {0xFFFF, "\xEF\xBF\xBF"},
    };
    for (const auto& c : cases) {
        char out[3];
        const int n = EncodeUtf8Char(out, c.unit);
        EXPECT_EQ(std::string(out, n), c.bytes) << std::hex << c.unit;
        EXPECT_EQ(EncodeUtf8Char(nullptr, c.unit), n);
    }
}

TEST(JapaneseTextChars, WriteShiftJisChar)
{
    char out[2];
    EXPECT_EQ(WriteShiftJisChar(out, 0x82A0), 2);
    EXPECT_EQ(std::string(out, 2), "\x82\xA0");
    EXPECT_EQ(WriteShiftJisChar(out, 0x41), 1);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(WriteShiftJisChar(out, 0xB1), 1);
    EXPECT_EQ(out[0], '\xB1');
    EXPECT_EQ(WriteShiftJisChar(out, 0), 1);
    EXPECT_EQ(out[0], '?');
}

// --- Classification --------------------------------------------------------------------------

TEST(JapaneseTextDetect, ClassifiesByCountingPatterns)
{
    const struct {
        const char* what;
        std::string bytes;
        int expected;
    } cases[] = {
        {"empty", "", kCharsetUndecided},
        {"one byte", "a", kCharsetUndecided},
        {"one high byte", "\xE3", kCharsetUndecided},
        {"plain ASCII", "index.html", kCharsetAscii},
        {"valid UTF-7 run", "a+MEI-b", kCharsetAscii},
        {"blank in a UTF-7 run", "a+b c", kCharsetInvalidUtf7},
        {"UTF-8 hiragana", "\xE3\x81\x82", kCharsetUtf8},
        {"UTF-8 word", u8"設定ファイル", kCharsetUtf8},
        {"two-byte UTF-8 only", "\xC3\xA9t\xC3\xA9", kCharsetEucJp},
        {"UTF-8 four-byte", "\xF0\x9F\x98\x80", kCharsetUtf8},
        {"Shift-JIS", "\x90\xDD\x92\xE8", kCharsetShiftJis},
        {"EUC-JP", "\xA4\xA2", kCharsetEucJp},
        {"EUC-JP half-width", "\x8E\xB1", kCharsetShiftJis},
        {"Shift-JIS equals EUC", "\x82\xA0 \xA4\xA2", kCharsetUndecided},
        {"ISO-2022-JP", "\x1B$B$\"\x1B(B", kCharsetIso2022Jp},
        {"JIS X 0213 escape", "\x1B$(O!!", kCharsetIso2022Jp},
        {"escape cut short", "a\x1B$", kCharsetAscii},
        {"UTF-16LE with line end", std::string("a\0\r\0\n\0", 6), kCharsetUtf16Le},
        {"UTF-16LE of kana", std::string("\x42\x30\r\0", 4), kCharsetUtf16Le},
        {"odd high byte rules out UTF-16", std::string("\x00\xA4\r\0", 4), kCharsetBinary},
        {"zero byte", std::string("ab\0c", 4), kCharsetBinary},
        {"two zero bytes at an even offset", std::string("\0\0ab", 4), kCharsetBinary},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<char[]> copy = ExactCopy(c.bytes);
        EXPECT_EQ(DetectCharset(copy.get(), c.bytes.size()), c.expected) << c.what;
    }
}

TEST(JapaneseTextDetect, NeverReadsPastTheInput)
{
    // Each ends in the middle of a pattern the pass looks ahead for.
    const std::string cases[] = {"a\x1B", "ab\x1B$", "a\x1B$(", "\x1B$(", "a\xE3\x81", "\xE3\x81",
                                 "a\x82", "a\xA4"};
    for (const std::string& text : cases) {
        const std::unique_ptr<char[]> copy = ExactCopy(text);
        DetectCharset(copy.get(), text.size());
    }
    EXPECT_EQ(Detect("\xE3\x81"), kCharsetShiftJis);
}

// --- Conversions -----------------------------------------------------------------------------

TEST(JapaneseTextConvert, ConvertToShiftJis)
{
    ExpectConverts(ConvertToShiftJis, {
        {"UTF-8 hiragana", "\xE3\x81\x82", "\x82\xA0"},
        {"UTF-8 text", u8"設定/ファイル.txt", "設定/ファイル.txt"},
        {"UTF-8 half-width katakana", u8"ｱｲ.txt", "\xB1\xB2.txt"},
        {"UTF-8 middle dot", u8"あ・い", "\x82\xA0\x81\x45\x82\xA2"},
        {"UTF-8 four-byte", u8"\U0001F600あい", "?\x82\xA0\x82\xA2"},
        {"UTF-8 wave dash", u8"\u301Cあい", "\x81\x60\x82\xA0\x82\xA2"},
        {"UTF-8 fullwidth tilde", u8"\uFF5Eあい", "\x81\x60\x82\xA0\x82\xA2"},
        {"UTF-8 IBM extension kanji", u8"髙橋", "\xFB\xFC\x8B\xB4"},
        {"EUC-JP hiragana", "\xA4\xA2", "\x82\xA0"},
        {"EUC-JP word", "\xC0\xDF\xC4\xEA", "設定"},
        {"UTF-16LE", Utf16LeBytes(u"あ\r\n"), "\x82\xA0\r\n"},
        {"ASCII", "plain.txt", "plain.txt"},
        {"invalid UTF-7", "a+b c", "a+b c"},
        {"Shift-JIS", "\x90\xDD\x92\xE8", "\x90\xDD\x92\xE8"},
        {"undecided", "\x82\xA0 \xA4\xA2", "\x82\xA0 \xA4\xA2"},
        {"ISO-2022-JP", "\x1B$B$\"\x1B(B", "\x1B$B$\"\x1B(B"},
        {"one byte", "\xE3", "\xE3"},
        {"zero bytes", std::string("a\0b", 3), std::string("a\0b", 3)},
    });
}

TEST(JapaneseTextConvert, EucJpToShiftJis)
{
    ExpectConverts(EucJpToShiftJis, {
        {"hiragana", "\xA4\xA2", "\x82\xA0"},
        {"half-width katakana", "\x8E\xB1", "\xB1"},
        {"half-width with top bit clear", "\x8E\x31", "\xB1"},
        {"half-width out of range", "\x8E\xE0", "?"},
        {"JIS X 0212 kanji", "\x8F\xB1\xA1", "\xF0\x6B"},
        {"JIS X 0212 kanji not in JIS X 0213", "\x8F\xB1\xA2", "?"},
        {"plane 2 row 1", "\x8F\xA1\xA1", "\xF0\x40"},
        {"plane 2 row without mapping", "\x8F\xA2\xA1", "?"},
        {"ASCII copied", "a/b", "a/b"},
        {"row 0x7F", "\xFF\xA1", "?"},
        {"cell outside the EUC range", "\xA4\x2F", "?"},
        {"cut off two-byte", "a\xA4", "a"},
        {"cut off half-width", "a\x8E", "a"},
        {"cut off three-byte", "a\x8F\xB1", "a"},
        {"cut off after the plane byte", "a\x8F", "a"},
    });
}

TEST(JapaneseTextConvert, Utf8ToShiftJisReadsEveryTextAsUtf8)
{
    ExpectConverts(Utf8ToShiftJis, {
        {"three-byte hiragana", "\xE3\x81\x82", "\x82\xA0"},
        {"two-byte Greek alpha, which the detection reads as EUC-JP", "\xCE\xB1", "\x83\xBF"},
        {"two-byte e acute, a JIS X 0213 code", "caf\xC3\xA9", "caf\x85\x7E"},
        {"wave dash, the fullwidth tilde's code", "\xE3\x80\x9C", "\x81\x60"},
        {"two-byte cent sign, the fullwidth one's code", "\xC2\xA2", "\x81\x91"},
        {"IBM extension kanji", u8"山\uFA11", "\x8E\x52\xFA\xB1"},
        {"small roman numeral", u8"\u2170", "\xFA\x40"},
        {"JIS X 0213 kanji whose code names another", u8"\u4264", "?"},
        {"four-byte", "\xF0\x9F\x98\x80.txt", "?.txt"},
        {"ASCII", "plain.txt", "plain.txt"},
        {"empty", "", ""},
    });
}

TEST(JapaneseTextConvert, Utf8ToUtf16SubstitutesInvalidSequences)
{
    const struct {
        const char* what;
        const char* input;
        std::u16string expected;
    } cases[] = {
        {"text", u8"aあ", u"aあ"},
        {"four-byte", "\xF0\x9F\x98\x80x", u"?x"},
        {"overlong dot dot slash", "\xC0\xAE\xC0\xAE\xC0\xAF", u"???"},
        {"three-byte overlong dots", "\xE0\x80\xAE\xE0\x80\xAE/", u"?" u"?/"},
        {"lead before dots", "\xC0..", u"?.."},
        {"cut off", "a\xE3\x81", u"a"},
        {"stray continuation", "\x80", u"\u0080"},
    };
    for (const auto& c : cases) {
        const int n = ConvertUtf8ToUtf16(nullptr, c.input, 0);
        std::u16string out(n + 1, u'\0');
        ASSERT_EQ(ConvertUtf8ToUtf16(&out[0], c.input, n + 1), n) << c.what;
        out.resize(n);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(JapaneseTextConvert, OutputCapacityIncludesTheTerminator)
{
    const char* input = "\x82\xA0\x82\xA2";
    EXPECT_EQ(ConvertShiftJisToUtf16(nullptr, input, 0), 2);
    EXPECT_EQ(ConvertShiftJisToUtf16(nullptr, input, -5), 2);
    char16_t units[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(ConvertShiftJisToUtf16(units, input, 2), -1);
    EXPECT_EQ(units[2], u'x');  // nothing written beyond the capacity
    EXPECT_EQ(ConvertShiftJisToUtf16(units, input, 3), 2);
    EXPECT_EQ(std::u16string(units), u"あい");

    char bytes[7];
    EXPECT_EQ(ConvertUtf16ToUtf8(nullptr, u"あい", 0), 6);
    EXPECT_EQ(ConvertUtf16ToUtf8(bytes, u"あい", 6), -1);
    EXPECT_EQ(ConvertUtf16ToUtf8(bytes, u"あい", 7), 6);
    EXPECT_EQ(std::string(bytes), u8"あい");

    EXPECT_EQ(ConvertUtf16ToShiftJis(nullptr, u"あa\uFFFF", 0), 4);
    EXPECT_EQ(ConvertUtf16ToShiftJis(bytes, u"あa\uFFFF", 4), -1);
    EXPECT_EQ(ConvertUtf16ToShiftJis(bytes, u"あa\uFFFF", 5), 4);
    EXPECT_EQ(std::string(bytes), "\x82\xA0" "a?");
    EXPECT_EQ(ConvertUtf16ToShiftJis(bytes, u"", 0), -1);
    EXPECT_EQ(ConvertUtf16ToShiftJis(bytes, u"", 1), 0);
}

TEST(JapaneseTextConvert, WholeTableRoundTripsThroughUtf8)
{
    std::string sjis;
    for (uint16_t code : AllTwoByteCodes()) {
        const uint16_t unit = ShiftJisCodeToUnicode(code);
        if (unit != 0x3013 && unit != 0x30FB && unit >= 0x80 && UnicodeToShiftJisCode(unit) == code)
            sjis += Bytes(code);
    }
    const std::string utf8 = ShiftJisToUtf8(sjis);
    ASSERT_FALSE(utf8.empty());
    const int units = ConvertUtf8ToUtf16(nullptr, utf8.c_str(), 0);
    std::u16string utf16(units + 1, u'\0');
    ASSERT_EQ(ConvertUtf8ToUtf16(&utf16[0], utf8.c_str(), units + 1), units);
    const int bytes = ConvertUtf16ToShiftJis(nullptr, utf16.c_str(), 0);
    std::string back(bytes + 1, '\0');
    ASSERT_EQ(ConvertUtf16ToShiftJis(&back[0], utf16.c_str(), bytes + 1), bytes);
    back.resize(bytes);
    EXPECT_EQ(back, sjis);
    EXPECT_EQ(Utf16ToUtf8(Utf16Buffer(utf16.substr(0, units))), utf8);
}

TEST(JapaneseTextConvert, ShiftJisToUtf8)
{
    ExpectConverts(ShiftJisToUtf8, {
        {"text", "設定.xml", u8"設定.xml"},
        {"voiced half-width", "\xB6\xDE", u8"ガ"},
        {"semi-voiced half-width", "\xCA\xDF", u8"パ"},
        {"mark after a sign without voiced form", "\xB1\xDE\xB2", u8"ア゛イ"},
        {"trail 0x5C", "表", u8"表"},
        {"code page cell", "\x81\x60", u8"\uFF5E"},
        {"unassigned cell", "\x82\xFA", u8"\u3013"},
        {"combining cell", "\x83\x97", u8"\u30FB"},
        {"unmapped byte ends the text", "a\x80" "b", "a"},
        {"invalid trail ends the text", "a\x82\x20" "b", "a"},
        {"lead byte at the end is dropped", "ab\x82", "ab"},
        {"empty", "", ""},
    });
}

TEST(JapaneseTextConvert, Utf16ToUtf8StopsAtZeroUnitOrBufferEnd)
{
    EXPECT_EQ(Utf16ToUtf8(Utf16Buffer(std::u16string(u"aあ\0b", 4))), u8"aあ");
    EXPECT_EQ(Utf16ToUtf8(Utf16Buffer(u"<D:href>")), "<D:href>");
    EXPECT_EQ(Utf16ToUtf8(Utf16Buffer(u"\U0001F600")), "\xED\xA0\xBD\xED\xB8\x80");
    CByteBuffer odd = Utf16Buffer(u"a");
    odd.AppendByte('b');  // half a unit is ignored
    EXPECT_EQ(Utf16ToUtf8(odd), "a");
    EXPECT_EQ(Utf16ToUtf8(CByteBuffer()), "");
}
