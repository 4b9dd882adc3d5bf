#include "Wildcard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

struct MatchCase {
    const char* pattern;
    const char* text;
    int expected;
};

TEST(WildcardTest, MatchesStarsQuestionMarksAndLiterals)
{
    const MatchCase cases[] = {
        {"*", "", 1},
        {"*", "anything at all", 1},
        {"**", "", 1},
        {"", "", 1},
        {"", "a", 0},
        {"a", "", 0},
        {"?", "", 0},
        {"?", "a", 1},
        {"?", "ab", 0},
        {"192.168.*", "192.168.0.10", 1},
        {"192.168.*", "192.168.", 1},
        {"192.168.*", "192.169.0.10", 0},
        {"?.example", ".example", 0},
        {"?.example", "a.example", 1},
        {"a*b*c", "abc", 1},
        {"a*b*c", "aXbYc", 1},
        {"a*b*c", "acb", 0},
        {"a*b*c", "abcabc", 1},
        {"a*b*c", "abcab", 0},
        {"*.example.com", "www.example.com", 1},
        {"*.example.com", "example.com", 0},
        {"*a", "bbba", 1},
        {"*a", "bbab", 0},
        {"a*", "a", 1},
        {"*?*", "", 0},
        {"*?*", "x", 1},
        {"abc", "abcd", 0},
        {"abcd", "abc", 0},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(c.expected, WildcardMatch(c.pattern, c.text))
            << '"' << c.pattern << "\" vs \"" << c.text << '"';
}

TEST(WildcardTest, CaseMattersUnlessIgnored)
{
    EXPECT_EQ(0, WildcardMatch("*.HTML", "index.html"));
    EXPECT_EQ(1, WildcardMatchNoCase("*.HTML", "index.html"));
    EXPECT_EQ(1, WildcardMatchNoCase("WWW.Example.*", "www.EXAMPLE.com"));
    EXPECT_EQ(0, WildcardMatchNoCase("*.htm", "INDEX.HTML"));
}

TEST(WildcardTest, QuestionMarkTakesOneByteOfADoubleByteCharacter)
{
    // "設定" is four bytes of Shift-JIS.
    EXPECT_EQ(1, WildcardMatch("????", "設定"));
    EXPECT_EQ(0, WildcardMatch("??", "設定"));
    EXPECT_EQ(1, WildcardMatch("*定", "設定"));
}

TEST(WildcardTest, NoCaseLeavesDoubleByteCharactersAlone)
{
    // "ア" is 83 41 and "ヂ" is 83 61: lowering the trail byte 'A' would make them equal.
    ASSERT_EQ(std::string("\x83\x41"), std::string("ア"));
    ASSERT_EQ(std::string("\x83\x61"), std::string("ヂ"));
    EXPECT_EQ(0, WildcardMatchNoCase("ア", "ヂ"));
    EXPECT_EQ(0, WildcardMatchNoCase("ヂ", "ア"));
    EXPECT_EQ(1, WildcardMatchNoCase("ア*.TXT", "アイ.txt"));
}

// The recursive definition, kept here as the reference that the matcher must agree with.
int ReferenceMatch(const char* p, const char* t)
{
    if (*p == '\0')
        return *t == '\0';
    if (*p == '*')
        return ReferenceMatch(p + 1, t) || (*t != '\0' && ReferenceMatch(p, t + 1));
    if (*t == '\0')
        return 0;
    if (*p == '?' || *p == *t)
        return ReferenceMatch(p + 1, t + 1);
    return 0;
}

void AllStrings(const std::string& alphabet, size_t maxLength, std::vector<std::string>& out)
{
    out.assign(1, "");
    for (size_t begin = 0, length = 1; length <= maxLength; ++length) {
        const size_t end = out.size();
        for (size_t i = begin; i < end; ++i)
            for (char c : alphabet)
                out.push_back(out[i] + c);
        begin = end;
    }
}

TEST(WildcardTest, AgreesWithTheRecursiveDefinitionOnAllShortInputs)
{
    std::vector<std::string> patterns;
    std::vector<std::string> texts;
    AllStrings("ab*?", 5, patterns);
    AllStrings("ab", 6, texts);
    int disagreements = 0;
    for (const std::string& p : patterns) {
        for (const std::string& t : texts) {
            if (WildcardMatch(p, t) != ReferenceMatch(p.c_str(), t.c_str()) && ++disagreements <= 5)
                ADD_FAILURE() << '"' << p << "\" vs \"" << t << '"';
        }
    }
    EXPECT_EQ(0, disagreements);
}

TEST(WildcardTest, HostilePatternTakesPolynomialTime)
{
    // Against 4000 bytes of "a", the recursive definition tries every way of sharing them
    // among 40 stars before failing on the final "b": far more steps than could ever finish.
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    pattern += "b";
    const std::string text(4000, 'a');
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(0, WildcardMatch(pattern, text));
    EXPECT_EQ(0, WildcardMatchNoCase(pattern, text));
    EXPECT_EQ(1, WildcardMatch(pattern, text + "b"));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

TEST(WildcardTest, LongTextNeedsNoDeepStack)
{
    // One recursion level per byte would overflow the stack long before 4 MiB.
    const std::string text = std::string(4u << 20, 'x') + "end";
    EXPECT_EQ(1, WildcardMatch("*end", text));
    EXPECT_EQ(1, WildcardMatch("x*x?n*", text));
    EXPECT_EQ(0, WildcardMatch("*x", text));
}

}  // namespace
