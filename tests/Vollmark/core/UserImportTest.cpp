// Account files without a window: lines, fields, records and the file's encoding.

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

TEST(UserImportTest, ParseUserLinesKeepsLinesWithNameAndPassword)
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
        EXPECT_EQ(Describe(ParseUserLines(c.text)), c.users) << c.description;
}

TEST(UserImportTest, OverLongLineIsOneUser)
{
    // Well past the 1022 bytes a line was once read in: the tail must not become a user.
    constexpr size_t kOverLongBytes = 3000;
    const std::string password(kOverLongBytes, 'p');
    const std::vector<ImportedUser> users = ParseUserLines("long," + password + ",c\nnext,pw\n");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, "long");
    EXPECT_EQ(users[0].password, password);
    EXPECT_EQ(users[1].name, "next");
}

TEST(UserImportTest, DecodeUserFileGivesCp932WhateverTheEncoding)
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUserFile(c.bytes), cp932) << c.description;
}

}  // namespace
