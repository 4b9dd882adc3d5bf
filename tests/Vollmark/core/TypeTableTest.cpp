// The MIME type and file icon tables as text: how lines and tokens are cut, the node a text
// builds, and what storing it leaves in the settings tree.

#include "core/TypeTable.h"

#include "ConfigTreeText.h"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

TEST(TypeTableTest, NextLineCutsAtCrLfOnceLineEndsAreMadeCrLf)
{
    const struct {
        const char* description;
        const char* text;
        Strings lines;
    } cases[] = {
        {"empty text has no line", "", {}},
        {"LF, CR and CR LF all end a line", "a\nb\rc\r\nd", {"a", "b", "c", "d"}},
        {"a final end adds no line", "a\r\n", {"a"}},
        {"empty lines are lines", "\n\nx", {"", "", "x"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        std::string text = ToCrLfLineEnds(c.text);
        std::string line;
        Strings lines;
        while (NextTableLine(text, line))
            lines.push_back(line);
        EXPECT_EQ(lines, c.lines) << c.description;
    }
}

TEST(TypeTableTest, TokensAreCutAtBlanksTabsAndCommas)
{
    const struct {
        const char* description;
        const char* line;
        Strings tokens;
    } cases[] = {
        {"white space only", " \t ", {}},
        {"one token", "text/html", {"text/html"}},
        {"runs of mixed separators", " a \t,, b,c\t", {"a", "b", "c"}},
        {"commas only", ",,,", {}},
        {"full-width space is no separator", "a　b c", {"a　b", "c"}},
    };
    for (const auto& c : cases) {
        Strings tokens = {"stale"};
        EXPECT_EQ(SplitTableTokens(c.line, tokens), static_cast<int>(c.tokens.size())) << c.description;
        EXPECT_EQ(tokens, c.tokens) << c.description;
    }
}

TEST(TypeTableTest, BuildSkipsCommentsEmptyLinesAndSingleTokens)
{
    const struct {
        const char* description;
        const TypeTableKeys& keys;
        const char* text;
        const char* node;
    } cases[] = {
        {"MIME entry", kMimeTypeTable, "text/html html htm", "T{text/html{Ext_00=html;Ext_01=htm;}}"},
        {"icon entry", kIconTypeTable, "/i/t.gif .txt *.log", "T{/i/t.gif{Filter_00=.txt;Filter_01=*.log;}}"},
        {"trimmed before the checks", kMimeTypeTable, "  # x y\r\n\t// x y\r\n  a b  ", "T{a{Ext_00=b;}}"},
        {"one slash is no comment", kMimeTypeTable, "/a b", "T{/a{Ext_00=b;}}"},
        {"a single token adds nothing", kMimeTypeTable, "text/plain\r\n\r\n", ""},
        {"two lines of one name keep both", kMimeTypeTable, "t a b\r\nu x\r\nt c",
         "T{t{Ext_00=a;Ext_01=b;Ext_02=c;}u{Ext_00=x;}}"},
        {"from ten without a leading zero", kMimeTypeTable, "t 0 1 2 3 4 5 6 7 8 9 10",
         "T{t{Ext_00=0;Ext_01=1;Ext_02=2;Ext_03=3;Ext_04=4;Ext_05=5;Ext_06=6;Ext_07=7;Ext_08=8;Ext_09=9;Ext_10=10;}}"},
    };
    for (const auto& c : cases) {
        CConfigClass tree;
        BuildTypeTable(c.text, c.keys, tree.GetAccessor("T"));
        EXPECT_EQ(testsupport::Describe(tree), std::string("Tarnwick{") + c.node + "}") << c.description;
    }
}

TEST(TypeTableTest, StoreReplacesOnlyItsNodeAndKeepsTheTextWithCrLf)
{
    CConfigClass tree;
    const CConfigAccessor setting = tree.GetAccessor("Setting");
    setting.SetString("MimeType::old/type::Ext_00", "old");
    setting.SetString("MimeType::Stray", "x");
    setting.SetString("IconType::i::Filter_00", "kept");
    StoreTypeTable(setting, kMimeTypeTable, "a/b c\nd/e f");
    EXPECT_EQ(testsupport::Describe(tree, "Setting::"),
              "Tarnwick{MimeType{Text=a/b c\r\nd/e f;a/b{Ext_00=c;}d/e{Ext_00=f;}}IconType{i{Filter_00=kept;}}}");
    EXPECT_EQ(LoadTypeTableText(setting, kMimeTypeTable), "a/b c\r\nd/e f");
}

TEST(TypeTableTest, ATableWithoutTextIsShownAsItsLinesAndStoresBackUnchanged)
{
    CConfigClass tree;
    const CConfigAccessor setting = tree.GetAccessor("Setting");
    setting.SetString("MimeType::text/html::Ext_00", "html");
    setting.SetString("MimeType::text/html::Ext_01", "htm");
    setting.SetString("MimeType::empty/type::Ext_00", "");
    setting.GetSubAccessor("MimeType::no/leaves");
    setting.SetString("MimeType::image/png::Ext_00", "png");
    setting.SetString("IconType::/icons/folder.gif::Filter_00", "^^DIRECTORY^^");
    setting.SetString("IconType::/icons/any.gif::Filter_00", "*");
    const std::string mime = LoadTypeTableText(setting, kMimeTypeTable);
    const std::string icons = LoadTypeTableText(setting, kIconTypeTable);
    EXPECT_EQ(mime, "text/html html htm\r\nimage/png png\r\n");
    EXPECT_EQ(icons, "/icons/folder.gif ^^DIRECTORY^^\r\n/icons/any.gif *\r\n");
    StoreTypeTable(setting, kMimeTypeTable, mime);
    StoreTypeTable(setting, kIconTypeTable, icons);
    EXPECT_EQ(testsupport::Describe(tree, "Setting::"),
              "Tarnwick{MimeType{Text=text/html html htm\r\nimage/png png\r\n;text/html{Ext_00=html;Ext_01=htm;}"
              "image/png{Ext_00=png;}}IconType{Text=/icons/folder.gif ^^DIRECTORY^^\r\n/icons/any.gif *\r\n;"
              "/icons/folder.gif{Filter_00=^^DIRECTORY^^;}/icons/any.gif{Filter_00=*;}}}");
    // An empty Text leaf is the user's own empty table.
    StoreTypeTable(setting, kIconTypeTable, "");
    EXPECT_EQ(LoadTypeTableText(setting, kIconTypeTable), "");
}

TEST(TypeTableTest, LoadingAMissingTableGivesNothingAndCreatesNoNode)
{
    CConfigClass tree;
    EXPECT_EQ(LoadTypeTableText(tree.GetAccessor("Setting"), kIconTypeTable), "");
    EXPECT_EQ(testsupport::Describe(tree), "Tarnwick{}");
}

}  // namespace
