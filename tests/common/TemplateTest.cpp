#include "Template.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    const char* what;
    const char* format;
    int placeholders;
    const char* withDash;   // GetText("-") of the unfilled template
    const char* withEmpty;  // GetText("")
};

TEST(TemplateTest, ParsesPlaceholdersLiteralsAndTail)
{
    const ParseCase cases[] = {
        {"three placeholders", "[%Time%] %Method% %Object%", 3, "[-] - -", "[Time] Method Object"},
        {"lone percent is text", "a%b", 0, "a%b", "a%b"},
        {"unclosed second", "x%A%y%z", 1, "x-y%z", "xAy%z"},
        {"double percent is an empty name", "100%%", 1, "100-", "100"},
        {"bare placeholder", "%Who%", 1, "-", "Who"},
        {"adjacent placeholders", "%A%%B%", 2, "--", "AB"},
        {"empty format", "", 0, "", ""},
        {"only a percent", "%", 0, "%", "%"},
        {"trailing text", "%A% done", 1, "- done", "A done"},
        {"double-byte literal", "設定%A%値", 1, "設定-値", "設定A値"},
    };
    for (const ParseCase& c : cases) {
        CTemplate tpl;
        tpl.Parse(c.format);
        EXPECT_EQ(c.placeholders, tpl.CountUnfilled()) << c.what;
        EXPECT_EQ(c.withDash, tpl.GetText("-")) << c.what;
        EXPECT_EQ(c.withEmpty, tpl.GetText("")) << c.what;
    }
}

TEST(TemplateTest, FormatWithoutPlaceholdersGivesItselfBack)
{
    CTemplate tpl;
    tpl.Parse("plain line");
    EXPECT_EQ(0, tpl.CountUnfilled());
    EXPECT_EQ("plain line", tpl.GetText("-"));
    EXPECT_EQ("plain line", tpl.GetText(""));
}

TEST(TemplateTest, UnparsedTemplateIsEmpty)
{
    const CTemplate tpl;
    EXPECT_EQ(0, tpl.CountUnfilled());
    EXPECT_EQ("", tpl.GetText("-"));
}

TEST(TemplateTest, EachValueFillsOneOccurrenceInOrder)
{
    CTemplate tpl;
    tpl.Parse("%A%-%A%");
    tpl.SetValue("A", "1");
    EXPECT_EQ(1, tpl.CountUnfilled());
    EXPECT_EQ("1--", tpl.GetText("-"));
    tpl.SetValue("A", "2");
    EXPECT_EQ(0, tpl.CountUnfilled());
    EXPECT_EQ("1-2", tpl.GetText("-"));
    tpl.SetValue("A", "3");  // nothing left to fill
    EXPECT_EQ("1-2", tpl.GetText("-"));
}

TEST(TemplateTest, AViewedValueIsTakenAsItStandsWhenTheTextIs)
{
    CTemplate tpl;
    tpl.Parse("[%A%|%B%]");
    std::string viewed = "one";
    tpl.ViewValue("A", viewed);
    tpl.SetValue("B", std::string("copied"));
    viewed[0] = 'O';
    EXPECT_EQ("[One|copied]", tpl.GetText("-"));
    tpl.Unfill();
    tpl.ViewValue("B", viewed);
    EXPECT_EQ("[-|One]", tpl.GetText("-"));
}

// A format parsed onto a filled template moves the placeholders; short stored values live
// inside them.
TEST(TemplateTest, StoredValuesSurviveMorePlaceholdersParsed)
{
    CTemplate tpl;
    tpl.Parse("%A%,");
    tpl.SetValue("A", "a");
    for (int i = 0; i < 40; ++i)
        tpl.Parse("%B%,");
    // Each format's text after its last placeholder is the tail until the next is parsed.
    EXPECT_EQ(tpl.GetText("-"), "a" + std::string(40, '-') + ",");
}

TEST(TemplateTest, NamesMatchExactly)
{
    CTemplate tpl;
    tpl.Parse("%Method%");
    tpl.SetValue("method", "GET");
    tpl.SetValue("Method ", "GET");
    EXPECT_EQ(1, tpl.CountUnfilled());
    tpl.SetValue("Method", "GET");
    EXPECT_EQ("GET", tpl.GetText("-"));
}

TEST(TemplateTest, FilledValuesAreNotNamesAnyMore)
{
    // A value equal to another placeholder's name must not be taken for that placeholder.
    CTemplate tpl;
    tpl.Parse("%A% %B%");
    tpl.SetValue("A", "B");
    tpl.SetValue("B", "x");
    EXPECT_EQ("B x", tpl.GetText("-"));
}

TEST(TemplateTest, EmptyValueCountsAsFilled)
{
    CTemplate tpl;
    tpl.Parse("[%A%]");
    tpl.SetValue("A", "");
    EXPECT_EQ(0, tpl.CountUnfilled());
    EXPECT_EQ("[]", tpl.GetText("-"));
}

TEST(TemplateTest, ParseAppendsAndReplacesTheTail)
{
    CTemplate tpl;
    tpl.Parse("a%X%b");
    tpl.Parse("c%Y%d");
    EXPECT_EQ(2, tpl.CountUnfilled());
    EXPECT_EQ("aXcYd", tpl.GetText(""));
}

class TemplateConfigTest : public testing::Test {
protected:
    CConfigClass tree_;
};

TEST_F(TemplateConfigTest, FillsFromTheLeavesOfTheNode)
{
    tree_.SetValue("Thread::Method", "GET");
    tree_.SetValue("Thread::Object", "/index.html");
    tree_.SetValue("Thread::Other", "unused");
    CTemplate tpl;
    tpl.Parse("%Method% %Object% %Status%");
    tpl.SetFromConfig(tree_.GetAccessor("Thread"));
    EXPECT_EQ(1, tpl.CountUnfilled());
    EXPECT_EQ("GET /index.html -", tpl.GetText("-"));
}

TEST_F(TemplateConfigTest, LaterNodesFillOnlyWhatIsLeft)
{
    tree_.SetValue("Thread::Host", "10.0.0.1");
    tree_.SetValue("Thread::RequestInfo::Host", "www.example.com");
    tree_.SetValue("Thread::RequestInfo::Method", "GET");
    CTemplate tpl;
    tpl.Parse("%Host% %Method% %Host%");
    tpl.SetFromConfig(tree_.GetAccessor("Thread"));
    tpl.SetFromConfig(tree_.GetAccessor("Thread::RequestInfo"));
    EXPECT_EQ("10.0.0.1 GET www.example.com", tpl.GetText("-"));
}

TEST_F(TemplateConfigTest, FullTemplateDoesNotTouchTheTree)
{
    // Reading a node creates it; a template with nothing left to fill must not read.
    CTemplate tpl;
    tpl.Parse("%A%");
    tpl.SetValue("A", "1");
    tpl.SetFromConfig(tree_.GetAccessor("Missing"));
    EXPECT_EQ(0, tree_.GetSectionCount(""));
    EXPECT_EQ("1", tpl.GetText("-"));
}

TEST_F(TemplateConfigTest, EmptyAccessorFillsNothing)
{
    CTemplate tpl;
    tpl.Parse("%A%");
    tpl.SetFromConfig(CConfigAccessor());
    EXPECT_EQ(1, tpl.CountUnfilled());
}

TEST(TemplateTest, UnfilledTemplateFillsAgainAsFreshlyParsed)
{
    CTemplate tpl;
    tpl.Parse("[%A%] %B% %A% tail");
    tpl.SetValue("A", "first");
    tpl.SetValue("B", "b");
    tpl.SetValue("A", "second");
    EXPECT_EQ("[first] b second tail", tpl.GetText("-"));

    tpl.Unfill();
    EXPECT_EQ(3, tpl.CountUnfilled());
    EXPECT_EQ("[-] - - tail", tpl.GetText("-")) << "no value of the last line is left";
    tpl.SetValue("A", "again");
    EXPECT_EQ("[again] B A tail", tpl.GetText(""));
    std::string line = "kept: ";
    tpl.AppendText(line, "-");
    EXPECT_EQ("kept: [again] - - tail", line);
}

}  // namespace
