#include "TextTrim.h"

#include <gtest/gtest.h>

namespace {

struct TrimCase {
    const char* description;
    const char* text;
    const char* trimmed;  // by TrimText with its default blanks
    const char* ows;      // by TrimOws
};

void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.description; }

class TrimTable : public testing::TestWithParam<TrimCase> {};

TEST_P(TrimTable, TrimTextCutsAllWhiteSpaceAndTrimOwsOnlySpaceAndTab)
{
    EXPECT_EQ(TrimText(GetParam().text), GetParam().trimmed);
    EXPECT_EQ(TrimOws(GetParam().text), GetParam().ows);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TrimTable,
    testing::Values(TrimCase{"empty", "", "", ""}, TrimCase{"only blanks", " \t ", "", ""},
                    TrimCase{"nothing to cut", "a b", "a b", "a b"},
                    TrimCase{"space and tab at both ends", "\t a b \t", "a b", "a b"},
                    TrimCase{"line ends are no optional white space", "\r\nx\r\n", "x", "\r\nx\r\n"},
                    TrimCase{"one character", " x ", "x", "x"},
                    TrimCase{"double-byte text kept whole", " 表示 ", "表示", "表示"}));

TEST(TrimTextTest, CutsOnlyTheGivenBytes)
{
    EXPECT_EQ(TrimText("\"\"a\"b\"", "\""), "a\"b");
    EXPECT_EQ(TrimText("..", "."), "");
}

}  // namespace
