// Account files without a window: lines, fields, records, the file's encoding and the lines
// refused.

#include "core/UserImport.h"

#include "TextCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A record as one line, so that a test compares all it got at once.
std::string Describe(const std::vector<ImportedUser>& users)
{
    std::string text;
    for (const ImportedUser& user : users)
        text += "[" + user.name + "|" + user.password + "|" + user.comment + "]";
    return text;
}

TEST(UserImportTest, ReadTrimmedLineCutsWhiteSpaceAndReadsAnUnendedLastLine)
{
    const std::string text = "  a,b \r\n\t\r\nlast ";
    size_t pos = 0;
    std::vector<std::string> lines;
    while (pos < text.size())
        lines.push_back(ReadTrimmedLine(text, pos));
    EXPECT_EQ(lines, (std::vector<std::string>{"a,b", "", "last"}));
    EXPECT_EQ(pos, text.size());
}

TEST(UserImportTest, SplitFieldCutsAtTheFirstCommaElseTheFirstTab)
{
    const struct {
        const char* description;
        const char* text;
        const char* field;
        const char* rest;
    } cases[] = {
        {"comma, blanks around", " name , pw ,c", "name", " pw ,c"},
        {"tab", "name\tpw", "name", "pw"},
        {"a comma later wins over a tab before it", "na\tme,pw", "na\tme", "pw"},
        {"quotes stay and a comma inside them separates", "\"a,b\",pw", "\"a", "b\",pw"},
        {"no separator", " all ", "all", ""},
        {"empty", "", "", ""},
        {"double-byte name", "山田,pw", "山田", "pw"},
    };
    for (const auto& c : cases) {
        std::string rest = c.text;
        EXPECT_EQ(SplitField(rest), c.field) << c.description;
        EXPECT_EQ(rest, c.rest) << c.description;
    }
}

TEST(UserImportTest, ParseUserFileKeepsLinesWithNameAndPassword)
{
    const struct {
        const char* description;
        const char* text;
        const char* users;
    } cases[] = {
        {"three fields, blanks around separators", "alice , secret , 管理者\n", "[alice|secret|管理者]"},
        {"tab, no comment", "bob\tpw\n", "[bob|pw|]"},
        {"name only", "carol\n", ""},
        {"no name", ",pw,c\n", ""},
        {"fourth field dropped", "a,b,c,d\n", "[a|b|c]"},
        {"comma after a tab", "x\ty,pw\n", "[x\ty|pw|]"},
        {"quotes kept", "\"q\",\"p\"\n", "[\"q\"|\"p\"|]"},
        {"last line without end, CR LF before", "a,1\r\nb,2", "[a|1|][b|2|]"},
        {"equal names all kept", "a,1\na,2\n", "[a|1|][a|2|]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Describe(ParseUserFile(c.text).users), c.users) << c.description;
}

TEST(UserImportTest, OverLongLineIsOneUser)
{
    // Well past the 1022 bytes a line was once read in: the tail must not become a user.
    constexpr size_t kOverLongBytes = 3000;
    const std::string password(kOverLongBytes, 'p');
    const std::vector<ImportedUser> users = ParseUserFile("long," + password + ",c\nnext,pw\n").users;
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, "long");
    EXPECT_EQ(users[0].password, password);
    EXPECT_EQ(users[1].name, "next");
}

// The bytes of UTF-16LE text, as a file holds them.
std::string Utf16Le(const std::u16string& text)
{
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST(UserImportTest, ParseUserFileGivesCp932WhateverTheEncoding)
{
    const std::string cp932 = "山田太郎,パスワード,営業部\r\n";
    const std::string utf8 = platform::Cp932ToUtf8(cp932);
    const struct {
        const char* description;
        std::string bytes;
    } cases[] = {
        {"Shift-JIS", cp932},
        {"UTF-8", utf8},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + utf8},
        {"UTF-16LE with a byte-order mark", Utf16Le(u"\uFEFF山田太郎,パスワード,営業部\r\n")},
        // 山田太郎,パスワード,営業部 in EUC-JP.
        {"EUC-JP",
         "\xBB\xB3\xC5\xC4\xC2\xC0\xCF\xBA,\xA5\xD1\xA5\xB9\xA5\xEF\xA1\xBC\xA5\xC9,"
         "\xB1\xC4\xB6\xC8\xC9\xF4\r\n"},
    };
    for (const auto& c : cases) {
        const UserFile file = ParseUserFile(c.bytes);
        EXPECT_EQ(Describe(file.users), "[山田太郎|パスワード|営業部]") << c.description;
        EXPECT_TRUE(file.unencodableLines.empty()) << c.description;
    }
}

TEST(UserImportTest, LinesShiftJisCannotHoldAreLeftOutByNumber)
{
    const struct {
        const char* description;
        std::string bytes;
        const char* users;
        std::vector<int> lines;
    } cases[] = {
        {"UTF-8 euro sign in a name", "alice,pw\neuro\xE2\x82\xAC,x,bad\nbob,pw\n", "[alice|pw|][bob|pw|]", {2}},
        {"UTF-8, in the password and the comment",
         "\xE5\xB1\xB1,p\xE2\x82\xAC\nok,pw\nc,pw,\xF0\x9F\x98\x80\n",
         "[ok|pw|]",
         {1, 3}},
        {"UTF-8, in a fourth field that is dropped", "\xE5\xB1\xB1,pw,c,\xE2\x82\xAC\n", "[山|pw|c]", {}},
        {"UTF-8, in a line without a password", "\xE2\x82\xAC\nok,pw\n", "[ok|pw|]", {1}},
        {"UTF-16LE lone surrogate", Utf16Le(u"\uFEFFa,pw\r\nb,\xD800x\r\n"), "[a|pw|]", {2}},
        {"UTF-16LE emoji", Utf16Le(u"\uFEFF山,pw\r\n山,\U0001F600\r\n"), "[山|pw|]", {2}},
        {"zero bytes", std::string("ok,pw\nz\0ro,pw\n", 14), "[ok|pw|]", {2}},
        {"Shift-JIS with a byte CP932 lacks", "\x8E\x52,pw\nx\xFD,pw\n\x82\xA0,pw\n", "[山|pw|][あ|pw|]", {2}},
        {"Shift-JIS lead byte without a trail", "ok,pw\nbad\x82,pw\n", "[ok|pw|]", {2}},
    };
    for (const auto& c : cases) {
        const UserFile file = ParseUserFile(c.bytes);
        EXPECT_EQ(Describe(file.users), c.users) << c.description;
        EXPECT_EQ(file.unencodableLines, c.lines) << c.description;
        EXPECT_TRUE(file.colonLines.empty()) << c.description;
    }
}

TEST(UserImportTest, NamesWithAColonAreLeftOutByNumber)
{
    const struct {
        const char* description;
        const char* text;
        const char* users;
        std::vector<int> lines;
    } cases[] = {
        {"one colon", "a:b,pw\nok,pw\n", "[ok|pw|]", {1}},
        {"the settings separator", "ok,pw\nc::d,pw\n", "[ok|pw|]", {2}},
        {"at the end", "e:,pw\n", "", {1}},
        {"in the password only", "ok,p:w\n", "[ok|p:w|]", {}},
        {"in a name without a password", "a:b\n", "", {}},
    };
    for (const auto& c : cases) {
        const UserFile file = ParseUserFile(c.text);
        EXPECT_EQ(Describe(file.users), c.users) << c.description;
        EXPECT_EQ(file.colonLines, c.lines) << c.description;
    }
}

TEST(UserImportTest, UserNameHoldsColon)
{
    EXPECT_TRUE(UserNameHoldsColon("a:b"));
    EXPECT_TRUE(UserNameHoldsColon(":"));
    EXPECT_FALSE(UserNameHoldsColon("山田"));
    // The trail byte of ソ is 0x5C, never ':'.
    EXPECT_FALSE(UserNameHoldsColon("ソ"));
    EXPECT_FALSE(UserNameHoldsColon(""));
}

}  // namespace
