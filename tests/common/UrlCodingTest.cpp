#include "UrlCoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* what;
    std::string input;
    std::string expected;
};

// True when the path is rooted and no segment is "." or ".." (as a file system splits it at
// '/'), so that mapping it below a folder cannot leave that folder.
bool StaysBelowRoot(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return false;
    size_t begin = 1;
    while (begin <= path.size()) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(begin, end - begin);
        if (segment == "." || segment == "..")
            return false;
        begin = end + 1;
    }
    return true;
}

}  // namespace

TEST(UrlCoding, SplitsAtTheFirstQuestionMark)
{
    const struct {
        const char* url;
        const char* path;
        const char* query;
    } cases[] = {
        {"/a?b?c", "/a", "b?c"},
        {"/a?", "/a", ""},
        {"/a", "/a", ""},
        {"?x", "", "x"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetUrlPath(c.url), c.path) << c.url;
        EXPECT_EQ(GetUrlQuery(c.url), c.query) << c.url;
    }
}

TEST(UrlCoding, DecodeUrlText)
{
    const Case cases[] = {
        {"plus and escape", "a+b%20c", "a b c"},
        {"invalid digits keep the bytes", "%41%zz", "Azz"},
        {"percent at the end", "100%", "100%"},
        {"percent with one byte after it", "a%4", "a%4"},
        {"percent with two bytes after it", "a%41", "aA"},
        {"zero value drops only the percent", "%00x", "00x"},
        {"one hex digit", "%4gx", "\x04x"},
        {"upper and lower case", "%4A%4a", "JJ"},
        {"percent before an escape", "%%41", "A"},
        {"sign is not a digit", "%-1x", "-1x"},
        {"blank is not a digit", "% 1x", " 1x"},
        {"escaped plus stays", "%2B", "+"},
        {"UTF-8", "%E3%81%82", "\x82\xA0"},
        {"EUC-JP", "%a4%a2", "\x82\xA0"},
        {"Shift-JIS stays", "%90%DD%92%E8", "設定"},
        {"raw UTF-8", u8"設定", "設定"},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeUrlText(c.input), c.expected) << c.what;
}

TEST(UrlCoding, NormalizeUrlPath)
{
    const Case cases[] = {
        {"separators and blanks, ':' a name's own", "  a\\b:c//d \t", "/a/b:c/d"},
        {"parent not resolved", "/x/../../y", "/x/y"},
        {"parent between names", "/a/../b", "/a/b"},
        {"empty", "", "/"},
        {"blanks only", "   ", "/"},
        {"root", "/", "/"},
        {"plus stays", "/a+b", "/a+b"},
        {"escaped blank", "/a%20b", "/a b"},
        {"folder keeps its slash", "/dir/", "/dir/"},
        {"drive letter is a name", "C:\\windows\\", "/C:/windows/"},
        {"three dots are a name", "/.../a..b/.x", "/.../a..b/.x"},
        {"UTF-8 name", "/%E8%A8%AD%E5%AE%9A/", "/設定/"},
        {"trail byte 0x5C kept", "/表\\a", "/表/a"},
        {"escaped trail byte 0x5C kept", "/%95%5C", "/表"},
        {"UTF-8 of a name with trail 0x5C", "/%E8%A1%A8.txt", "/表.txt"},
        {"zero escape dropped", "/%00../x", "/00../x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormalizeUrlPath(c.input), c.expected) << c.what;
}

// Input methods type the JIS X 0208 spelling (U+301C WAVE DASH), Windows the code page's
// (U+FF5E FULLWIDTH TILDE): both name the one Shift-JIS code. Two-byte UTF-8 such as the
// cent sign reads as EUC-JP to the detection, or as undecided beside kanji.
TEST(UrlCoding, EitherSpellingOfACodeDecodesToThatCode)
{
    const Case cases[] = {
        {"wave dash", "/a%E3%80%9Cz", "/a\x81\x60z"},
        {"fullwidth tilde", "/a%EF%BD%9Ez", "/a\x81\x60z"},
        {"wave dash sent raw", "/a\xE3\x80\x9Cz", "/a\x81\x60z"},
        {"em dash", "/%E2%80%94", "/\x81\x5C"},
        {"horizontal bar", "/%E2%80%95", "/\x81\x5C"},
        {"double vertical line", "/%E2%80%96", "/\x81\x61"},
        {"parallel to", "/%E2%88%A5", "/\x81\x61"},
        {"minus sign", "/p%E2%88%92q", "/p\x81\x7Cq"},
        {"fullwidth hyphen-minus", "/p%EF%BC%8Dq", "/p\x81\x7Cq"},
        {"cent sign alone, read as EUC-JP", "/%C2%A2", "/\x81\x91"},
        {"fullwidth cent sign", "/%EF%BF%A0", "/\x81\x91"},
        {"pound sign", "/%C2%A3.txt", "/\x81\x92.txt"},
        {"not sign", "/%C2%AC", "/\x81\xCA"},
        {"fullwidth not sign", "/%EF%BF%A2", "/\x81\xCA"},
        {"cent sign beside kanji, undecided", "/%E8%A1%A8%C2%A2", "/表\x81\x91"},
        {"EUC-JP of the wave dash", "/%A4%A2%A1%C1", "/\x82\xA0\x81\x60"},
        {"Shift-JIS of the wave dash", "/%81%60", "/\x81\x60"},
        {"UTF-8 Greek alpha, read as EUC-JP", "/%CE%B1", "/\x83\xBF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormalizeUrlPath(c.input), c.expected) << c.what;
        EXPECT_TRUE(IsShiftJisUrlPath(c.input)) << c.what;
    }
}

// Japanese names hold the code page's own characters (髙橋, 山﨑, ①, Ⅱ, ㈱): a UTF-8 URL names
// each by the code in which the file-name conversion writes it, and a Shift-JIS URL keeps
// whichever of a character's codes it sent.
TEST(UrlCoding, CodePageExtensionsDecodeToTheCodesOfFileNames)
{
    const Case cases[] = {
        {"IBM extension kanji", "/%E9%AB%99%E6%A9%8B.txt", "/\xFB\xFC\x8B\xB4.txt"},
        {"IBM extension kanji JIS X 0213 has elsewhere", "/%E5%B1%B1%EF%A8%91", "/\x8E\x52\xFA\xB1"},
        {"small roman numeral", "/%E2%85%B0", "/\xFA\x40"},
        {"circled digit", "/%E2%91%A0", "/\x87\x40"},
        {"roman numeral", "/%E2%85%A1", "/\x87\x55"},
        {"parenthesized ideograph stock", "/%E3%88%B1", "/\x87\x8A"},
        {"because", "/%E2%88%B5", "/\x81\xE6"},
        {"n-ary summation", "/%E2%88%91", "/\x87\x94"},
        {"not sign beside an IBM extension kanji", "/%C2%AC%E9%AB%99", "/\x81\xCA\xFB\xFC"},
        {"Shift-JIS IBM extension", "/%FB%FC", "/\xFB\xFC"},
        {"Shift-JIS in NEC's selection", "/%EE%E0", "/\xEE\xE0"},
        {"Shift-JIS of NEC row 13's because", "/%87%9A", "/\x87\x9A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormalizeUrlPath(c.input), c.expected) << c.what;
        EXPECT_TRUE(IsShiftJisUrlPath(c.input)) << c.what;
    }
}

TEST(UrlCoding, NormalizeUrlPathNeverLeavesTheRoot)
{
    const std::string utf8Name = "%E3%81%82%E3%81%82%E3%81%82%E3%81%82";
    const Case cases[] = {
        {"final parent", "/..", "/"},
        {"final parent after a name", "/a/..", "/a/"},
        {"final current", "/a/.", "/a/"},
        {"current in the middle", "/a/./b/./", "/a/b/"},
        {"relative parent", "../x", "/x"},
        {"bare parent", "..", "/"},
        {"bare current", ".", "/"},
        {"relative current", "./x", "/x"},
        {"parents to the top", "/../../etc/passwd", "/etc/passwd"},
        {"escaped dots", "/%2e%2e/%2E%2E/etc", "/etc"},
        {"escaped slash", "/..%2f..%2Fetc", "/etc"},
        {"escaped everything", "%2f%2e%2e%2f%2e%2e%2fetc", "/etc"},
        {"escaped backslash", "/..%5c..%5Cetc", "/etc"},
        {"backslashes", "\\..\\..\\etc", "/etc"},
        {"mixed separators", "/a\\..\\/./etc", "/a/etc"},
        {"colon and dots are a name", "/a\\../:..\\/./etc", "/a/:../etc"},
        {"colon is no separator", "/..:..:etc", "/..:..:etc"},
        {"blanks around parents", " ../../etc ", "/etc"},
        {"escaped blank is a name", "/%20../x", "/ ../x"},
        {"double-escaped dots stay escaped", "/%252e%252e/x", "/%2e%2e/x"},
        {"percent before an escaped dot", "/%%2e%%2e/x", "/x"},
        {"lead byte before a slash", "/\x81/../../etc", "/\x81/etc"},
        {"lead byte before a backslash pair", "/\x81\\..\\x", "/\x81\\../x"},
        {"overlong UTF-8 dots", "/" + utf8Name + "/..%c0%af..%c0%afetc", "/ああああ/..?..?etc"},
        {"overlong three-byte UTF-8 dots", "/%e0%80%ae%e0%80%ae/x", "/?" "?/x"},
        {"UTF-8 lead before dots", "/" + utf8Name + "/%c0..%c0/..", "/ああああ/?..?/"},
    };
    for (const Case& c : cases) {
        const std::string result = NormalizeUrlPath(c.input);
        EXPECT_EQ(result, c.expected) << c.what;
        EXPECT_TRUE(StaysBelowRoot(result)) << c.what;
    }
}

TEST(UrlCoding, HostileEncodingsOfParentsStayBelowRoot)
{
    // Whatever charset these are taken for, no "." or ".." segment may come out.
    const std::vector<std::string> inputs = {
        "/%c0%ae%c0%ae/%c0%ae%c0%ae/etc",
        "/%c0%ae%c0%ae%c0%af%c0%ae%c0%ae%c0%afetc",
        "/%e0%80%ae%e0%80%ae%e0%80%af%e0%80%ae%e0%80%ae%e0%80%afetc",
        "/%f0%80%80%ae%f0%80%80%ae/etc",
        "/%fc%80%80%80%80%ae./etc",
        "/%8e%ae%8e%ae/%8e%2e%8e%2e/etc",
        "/%8f%ae%ae./etc",
        "/%a1%ae./%a1./etc",
        "/%81%2e%81%2e/etc",
        "/%82%2f../%82%2f../etc",
        "/%fe%ff%2e%00%2e%00%2f%00",
        "/%ff%fe%2e%00%2e%00%2f%00",
        "/+AC4-+AC4-/etc",
        "/%1b$B%2e%2e/../etc",
        "/%2e%2e%c0%af%2e%2e%c0%afetc",
        "/.%2e/.%2e/%2e./etc",
        "/.. /..\t/etc",
    };
    for (const std::string& input : inputs)
        EXPECT_TRUE(StaysBelowRoot(NormalizeUrlPath(input))) << input << " -> " << NormalizeUrlPath(input);
}

TEST(UrlCoding, NormalizeUrlPathCollapsesLongRuns)
{
    std::string parents = "/";
    for (int i = 0; i < 200000; ++i)
        parents += "../";
    EXPECT_EQ(NormalizeUrlPath(parents + "x"), "/x");
    EXPECT_EQ(NormalizeUrlPath(std::string(1 << 20, '/')), "/");
    std::string mixed;
    for (int i = 0; i < 100000; ++i)
        mixed += i % 3 == 0 ? "/./" : i % 3 == 1 ? "\\..\\" : "//";
    EXPECT_EQ(NormalizeUrlPath(mixed + ".."), "/");
}

TEST(UrlCoding, IsShiftJisUrlPathRefusesWhatWouldBecomeASubstitute)
{
    const struct {
        const char* what;
        std::string path;
        bool faithful;
    } cases[] = {
        {"ASCII", "/a/b%20c.txt", true},
        {"empty", "", true},
        {"question mark sent escaped", "/a%3Fb", true},
        {"Shift-JIS escaped", "/%82%a0.txt", true},
        {"Shift-JIS with trail byte 0x5C", "/%95%5C", true},
        {"Shift-JIS raw", "/表", true},
        {"half-width katakana", "/%B1", true},
        {"UTF-8 of Shift-JIS characters", "/%E8%A8%AD%E5%AE%9A", true},
        {"EUC-JP of Shift-JIS characters", "/%C0%DF%C4%EA", true},
        {"lone lead byte", "/%81.txt", false},
        {"lead byte at the end", "/a%82", false},
        {"0x80", "/%80.txt", false},
        {"0xA0", "/%a0.txt", false},
        {"0xFD to 0xFF", "/%FD%FE%FF", false},
        {"unassigned cell", "/%85%40", false},
        {"UTF-8 of a character Shift-JIS lacks", "/%E2%82%AC%E2%82%AC", false},
        {"UTF-8 beyond 16 bits", "/%F0%9F%98%80", false},
        {"UTF-8 of a kanji whose JIS X 0213 code the code page reads as another", "/%E4%89%A4", false},
        {"question mark beside a lost character", "/%3F%E2%82%AC%E2%82%AC", false},
        // Two-byte UTF-8 reads as EUC-JP; its UTF-8 reading decides.
        {"UTF-8 e acute, also EUC-JP of a kanji", "/%C3%A9", false},
        {"UTF-8 e acute at a name's end", "/caf%C3%A9.txt", false},
        {"UTF-8 u umlaut", "/z%C3%BCrich", false},
        {"UTF-8 e acute sent raw", "/caf\xC3\xA9.txt", false},
        {"UTF-8 n tilde between kanji", "/%E8%A1%A8%C3%B1%E8%A1%A8", false},
        {"EUC-JP that is no UTF-8", "/%B4%C1%BB%FA.txt", true},
        {"Shift-JIS that is also UTF-8", "/%C3%BD%C4%88%EA%97%97.txt", true},
        {"Shift-JIS that is also UTF-8, raw", "/\xC3\xBD\xC4\x97p.txt", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsShiftJisUrlPath(c.path), c.faithful) << c.what;
}

TEST(UrlCoding, HoldsDotDotSegmentSeesEverySpellingOfTheParentFolder)
{
    const struct {
        const char* what;
        std::string path;
        bool holds;
    } cases[] = {
        {"no segment", "/a/b/c", false},
        {"empty", "", false},
        {"last segment", "/a/b/..", true},
        {"last segment with its slash", "/a/b/../", true},
        {"middle segment", "/a/../b", true},
        {"first segment", "/../a", true},
        {"escaped, lower case", "/a/%2e%2e", true},
        {"escaped, mixed case", "/a/%2E%2e/b", true},
        {"half escaped", "/a/.%2E", true},
        {"escaped slashes around it", "/a%2f..%2Fb", true},
        {"backslashes around it", "/a\\..\\b", true},
        {"escaped backslash before it", "/a%5c..", true},
        {"blank after it, trimmed", "/a/.. ", true},
        {"one dot", "/a/./b", false},
        {"three dots", "/a/.../b", false},
        {"dots inside a name", "/a/b..c/..d", false},
        {"escaped twice", "/a/%252e%252e", false},
        {"Shift-JIS whose trail byte is 0x5C before dots", "/\x95\x5C..", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HoldsDotDotSegment(c.path), c.holds) << c.what;
}

TEST(UrlCoding, DecodesToControlByteSeesTheNulTheDecodingDrops)
{
    const struct {
        const char* what;
        std::string path;
        bool holds;
    } cases[] = {
        {"plain", "/a/b.txt", false},
        {"escaped NUL", "/x%00z.txt", true},
        {"escaped NUL at the end", "/x%00", true},
        {"zero by its leading digit", "/x%0z.txt", true},
        {"escaped 0x01", "/a%01b", true},
        {"escaped 0x1F", "/a%1fb", true},
        {"escaped blank", "/a%20b", false},
        {"escaped 0x7F", "/a%7Fb", true},
        {"one digit short at the end", "/a%0", false},
        {"no digits", "/a%zz", false},
        {"escaped percent before zeros", "/a%2500", false},
        {"high byte", "/%82%a0", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodesToControlByte(c.path), c.holds) << c.what;
}

// A plain path is one the decoding functions would have nothing to say about.
TEST(UrlCoding, PlainUrlPathIsWhatNormalizeUrlPathKeepsAndNoCheckFlags)
{
    const struct {
        const char* what;
        std::string path;
        bool plain;
    } cases[] = {
        {"file", "/4k.txt", true},
        {"folder", "/dir/sub/", true},
        {"root", "/", true},
        {"dots inside names", "/a.b/..c/d../...", true},
        {"punctuation", "/a~b/c+d=e&f", true},
        {"not rooted", "a/b", false},
        {"empty", "", false},
        {"escape", "/a%20b", false},
        {"high byte", "/\x82\xa0", false},
        {"blank", "/a b", false},
        {"control byte", "/a\x01", false},
        {"0x7F", "/a\x7F", false},
        {"backslash", "/a\\b", false},
        {"empty segment", "/a//b", false},
        {"leading empty segment", "//a", false},
        {"dot segment", "/a/./b", false},
        {"dot-dot segment", "/a/../b", false},
        {"final dot", "/a/.", false},
        {"final dot-dot", "/a/..", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsPlainUrlPath(c.path), c.plain);
        if (!c.plain)
            continue;
        EXPECT_EQ(NormalizeUrlPath(c.path), c.path);
        EXPECT_FALSE(HoldsDotDotSegment(c.path));
        EXPECT_FALSE(DecodesToControlByte(c.path));
        EXPECT_FALSE(HoldsBackslashSeparator(c.path));
        EXPECT_TRUE(IsShiftJisUrlPath(c.path));
    }
}

TEST(UrlCoding, EscapeUrl)
{
    const Case cases[] = {
        {"blank, hash and percent", "a b#%.txt", "a%20b%23%25.txt"},
        {"control bytes", "\x01\x1F\x7F", "%01%1f\x7F"},
        {"zero byte", std::string("a\0b", 3), "a%00b"},
        {"high byte stays", "\xE3", "\xE3"},
        {"Shift-JIS stays", "設定.txt", "設定.txt"},
        {"names Windows allows", "a&b+c=d;e,f!g~h(i)[j]{k}@l$m^n`o", "a&b+c=d;e,f!g~h(i)[j]{k}@l$m^n`o"},
        {"bytes only a Linux name holds", "a\"b'c<d>e?f\\g*h|i:j", "a%22b%27c%3cd%3ee%3ff%5cg%2ah%7ci%3aj"},
        {"trail bytes belong to their character", "表|ソ", "表%7cソ"},
        {"lead byte before a blank", "\x82 ", "\x82%20"},
        {"lead byte at the end", "a\x82", "a\x82"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeUrl(c.input), c.expected) << c.what;
        // Appended behind text already there, which stays as it is.
        std::string out = "/x%20y/";
        AppendEscapedUrl(out, c.input);
        EXPECT_EQ(out, "/x%20y/" + c.expected) << c.what;
    }
}

TEST(UrlCoding, EscapeUrlAll)
{
    const Case cases[] = {
        {"blank, hash and percent", "a b#%.txt", "a%20b%23%25.txt"},
        {"high byte", "\xE3", "%e3"},
        {"Shift-JIS", "設定", "%90%dd%92%e8"},
        {"trail bytes stand alone", "表|ソ", "%95%5c%7c%83%5c"},
        {"trail letter", "\x82\x60", "%82`"},
        {"bytes only a Linux name holds", "\"'<>?\\*|:", "%22%27%3c%3e%3f%5c%2a%7c%3a"},
        {"names Windows allows", "a&b+c=d;e,f!g~h", "a&b+c=d;e,f!g~h"},
        {"every high byte", "\x80\xA0\xFF", "%80%a0%ff"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EscapeUrlAll(c.input), c.expected) << c.what;
}

TEST(UrlCoding, EscapeNonUrlBytesLeavesAUrlItsMeaning)
{
    const Case cases[] = {
        {"a URL as it stands", "http://h:80/a%20b/?q=1&r=2#f", "http://h:80/a%20b/?q=1&r=2#f"},
        {"blank and controls", "/a b\r\n\t\x7f", "/a%20b%0d%0a%09%7f"},
        {"UTF-8 bytes", "/\xE8\xB3\x87", "/%e8%b3%87"},
        {"every high byte", "\x80\xFF", "%80%ff"},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EscapeNonUrlBytes(c.input), c.expected) << c.what;
}

TEST(UrlCoding, EscapedNamesDecodeToThemselves)
{
    const std::string names[] = {"設定 #1%.txt", "表.txt", "ソフト&<b>.html", "a+b'c\"?*|.txt",
                                 "100%"};
    for (const std::string& name : names) {
        EXPECT_EQ(NormalizeUrlPath("/" + EscapeUrlAll(name)), "/" + name) << name;
        EXPECT_EQ(NormalizeUrlPath("/" + EscapeUrl(name)), "/" + name) << name;
    }
}

TEST(UrlCoding, PrependChar)
{
    EXPECT_EQ(PrependChar('/', "a"), "/a");
    EXPECT_EQ(PrependChar('x', ""), "x");
}
