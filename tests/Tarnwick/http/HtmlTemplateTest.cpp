#include "http/HtmlTemplate.h"

#include "ServerTestSupport.h"
#include "http/BuiltinPages.h"

#include "ByteBuffer.h"
#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> SplitCrLfLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type from = 0;
    for (;;) {
        const std::string::size_type end = text.find("\r\n", from);
        if (end == std::string::npos) {
            EXPECT_EQ(from, text.size()) << "text after the last CR LF";
            return lines;
        }
        lines.push_back(text.substr(from, end - from));
        from = end + 2;
    }
}

int LeadingTabs(const std::string& line) { return static_cast<int>(line.find_first_not_of('\t')); }

CHtmlTemplate FromText(const std::string& text)
{
    const servertest::TempFolder folder;
    WriteFile(folder.Path() + "page.html", text);
    CHtmlTemplate page;
    EXPECT_EQ(0, page.LoadFile(folder.Path() + "page.html"));
    return page;
}

TEST(HtmlTemplateTest, LoadFileReadsTheWholeFile)
{
    const std::string bytes = "<p>表示 %A%</p>\r\n" + std::string(70000, 'x');
    const CHtmlTemplate page = FromText(bytes);
    EXPECT_EQ(bytes, page.GetText());
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), page.GetLength());
}

TEST(HtmlTemplateTest, LoadFileCutsTheTextAtTheFirstNul)
{
    struct Case {
        const char* what;
        std::string bytes;
        const char* expected;
    } const cases[] = {
        {"NUL inside", std::string("<p>a\0b</p>", 10), "<p>a"},
        {"NUL first", std::string("\0<p>", 4), ""},
        {"NUL last", std::string("<p>\0", 4), "<p>"},
        {"two NULs", std::string("a\0b\0c", 5), "a"},
    };
    for (const Case& c : cases) {
        const CHtmlTemplate page = FromText(c.bytes);
        EXPECT_EQ(c.expected, page.GetText()) << c.what;
        EXPECT_EQ(static_cast<int64_t>(std::string(c.expected).size()), page.GetLength()) << c.what;
    }
}

TEST(HtmlTemplateTest, UnreadableFileFailsAndLeavesTheTextEmpty)
{
    const servertest::TempFolder folder;
    CHtmlTemplate page;
    ASSERT_EQ(0, page.LoadResource(kStatusPageResource));
    EXPECT_EQ(-1, page.LoadFile(folder.Path() + "missing.html"));
    EXPECT_TRUE(page.IsEmpty());
    EXPECT_EQ(-1, page.LoadFile(folder.Path()));  // a folder
    EXPECT_EQ("", page.GetText());
}

TEST(HtmlTemplateTest, EmptyFileLoadsAsEmptyPage)
{
    const CHtmlTemplate page = FromText("");
    EXPECT_TRUE(page.IsEmpty());
}

TEST(HtmlTemplateTest, LoadingAgainReplacesAFilledPage)
{
    CHtmlTemplate page = FromText("%A%");
    page.Replace("A", "1");
    ASSERT_EQ(0, page.LoadResource(kStatusPageResource));
    std::string builtin;
    ASSERT_TRUE(FindBuiltinPage(kStatusPageResource, builtin));
    EXPECT_EQ(builtin, page.GetText());
}

TEST(HtmlTemplateTest, UnknownResourceFails)
{
    for (const int id : {0, 128, 131, -129}) {
        CHtmlTemplate page;
        EXPECT_EQ(-1, page.LoadResource(id)) << id;
        EXPECT_TRUE(page.IsEmpty()) << id;
    }
}

TEST(HtmlTemplateTest, BuiltinDirectoryPageHasItsNineteenLines)
{
    CHtmlTemplate page;
    ASSERT_EQ(0, page.LoadResource(kDirectoryPageResource));
    const std::vector<std::string> lines = SplitCrLfLines(page.GetText());
    const std::string headerRow =
        "<pre><IMG SRC=\"/icons/blank.gif\" ALT=\"     \"> <a href=\"%Object%?name\">Name</a>" +
        std::string(62, ' ') + "<a href=\"%Object%?modified\">Last modified</a>" + std::string(12, ' ') +
        "<a href=\"%Object%?size\">Size</a>";
    // The comment's gap is an ideographic space, 0x81 0x40 in Shift-JIS.
    const std::string listComment = "<!-- \x88\xc8\x89\xba\x81\x40\x83\x66\x83\x42\x83\x8c\x83\x4e"
                                    "\x83\x67\x83\x8a\x83\x8a\x83\x58\x83\x67 -->";
    struct Line {
        int tabs;
        std::string text;
    } const expected[] = {
        {0, "<html>"},
        {1, "<head>"},
        {2, "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">"},
        {2, "<title>Index of %Object%</title>"},
        {1, "</head>"},
        {1, "<body bgcolor='#FFFFFF'>"},
        {2, "<font color='#0066aa'>"},
        {3, "<h1>Index of %Object%</h1>"},
        {2, "</font><font color='#003366'>"},
        {3, listComment},
        {3, headerRow},
        {0, "<hr>"},
        {0, "%FileList%</pre>"},
        {3, "<hr>"},
        {3, "<!-- ここまで -->"},
        {3, "<address>%ServerSignature%</address>"},
        {2, "</font>"},
        {1, "</body>"},
        {0, "</html>"},
    };
    ASSERT_EQ(std::size(expected), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(expected[i].tabs, LeadingTabs(lines[i])) << "line " << i + 1;
        EXPECT_EQ(expected[i].text, lines[i].substr(expected[i].tabs)) << "line " << i + 1;
    }
    EXPECT_EQ("<!-- \x82\xb1\x82\xb1\x82\xdc\x82\xc5 -->", lines[14].substr(3));
}

TEST(HtmlTemplateTest, ReplaceFillsEveryOccurrence)
{
    struct Case {
        const char* what;
        const char* page;
        const char* key;
        const char* value;
        const char* expected;
    } const cases[] = {
        {"twice", "<t>%A%</t><h1>%A%</h1>", "A", "x", "<t>x</t><h1>x</h1>"},
        {"adjacent", "%A%%A%", "A", "1", "11"},
        {"none", "<p>%B%</p>", "A", "x", "<p>%B%</p>"},
        {"case-sensitive", "%a% %A%", "A", "x", "%a% x"},
        {"whole page", "%A%", "A", "", ""},
        {"unclosed", "%A", "A", "x", "%A"},
        {"value kept raw", "%A%", "A", "<b>&amp;</b>", "<b>&amp;</b>"},
        {"after double-byte text", "設定%A%", "A", "値", "設定値"},
        {"double-byte key", "%表示%.", "表示", "ok", "ok."},
        // 0x81 takes the '%' after it as its second byte: no placeholder starts there.
        {"percent as a second byte", "\x81%A%", "A", "x", "\x81%A%"},
        {"after two lead bytes", "\x81\x81%A%", "A", "x", "\x81\x81x"},
        {"after three lead bytes", "\x81\x81\x81%A%", "A", "x", "\x81\x81\x81%A%"},
        {"after a character ending in a lead byte", "\x81\x81\x81\x81%A%", "A", "x", "\x81\x81\x81\x81x"},
        {"after a single-byte kana and a lead byte", "\xB1\x81%A%", "A", "x", "\xB1\x81%A%"},
        {"lead byte at the end", "%A%\x81", "A", "x", "x\x81"},
        {"percent at the end", "%A%%", "A", "x", "x%"},
        {"adjacent placeholders", "%A%%B%", "B", "x", "%A%x"},
        {"name a prefix of another", "%AB% %A%", "A", "x", "%AB% x"},
        {"name extending another", "%A% %AB%", "AB", "x", "%A% x"},
        {"empty name", "a%%b", "", "x", "axb"},
        {"key holding a percent", "%A%B%", "A%B", "x", "x"},
    };
    for (const Case& c : cases) {
        CHtmlTemplate page = FromText(c.page);
        page.Replace(c.key, c.value);
        EXPECT_EQ(c.expected, page.GetText()) << c.what;
        EXPECT_EQ(static_cast<int64_t>(std::string(c.expected).size()), page.GetLength()) << c.what;
    }
}

TEST(HtmlTemplateTest, PlaceholdersSharingAPercentFillInCallOrder)
{
    CHtmlTemplate first = FromText("%A%B%");
    first.Replace("A", "x");
    first.Replace("B", "y");
    EXPECT_EQ("xB%", first.GetText());

    CHtmlTemplate second = FromText("%A%B%");
    second.Replace("B", "y");
    second.Replace("A", "x");
    EXPECT_EQ("%Ay", second.GetText());
}

TEST(HtmlTemplateTest, ValueHoldingItsOwnPlaceholderIsInsertedOnce)
{
    CHtmlTemplate page = FromText("<pre>%Info%</pre>%Info%");
    page.Replace("Info", "go to /%Info%/ now");
    EXPECT_EQ("<pre>go to /%Info%/ now</pre>go to /%Info%/ now", page.GetText());

    // The bytes sent: the same page, in place of what the buffer held.
    CByteBuffer buffer;
    buffer.AssignString(std::string(100, 'x'));
    page.CopyTo(buffer);
    EXPECT_EQ(page.GetText(), std::string(buffer.GetData(), buffer.GetLength()));
}

TEST(HtmlTemplateTest, InsertedValuesAreNotSearchedAgain)
{
    CHtmlTemplate page = FromText("%A%|%B%");
    page.Replace("A", "%B%");
    page.Replace("B", "b");
    EXPECT_EQ("%B%|b", page.GetText());
}

TEST(HtmlTemplateTest, NoPlaceholderFormsAcrossAnInsertedValue)
{
    CHtmlTemplate page = FromText("%A%Key% and %Key");
    page.Replace("A", "%");
    page.Replace("Key", "bad");
    EXPECT_EQ("%Key% and %Key", page.GetText());

    // Not even an empty value joins the text around it.
    CHtmlTemplate empty = FromText("%%A%Key%");
    empty.Replace("A", "");
    empty.Replace("Key", "bad");
    EXPECT_EQ("%Key%", empty.GetText());
}

TEST(HtmlTemplateTest, ExpandFromViewFillsLeavesEscapedAndWithholdsThePassword)
{
    CConfigClass tree;
    const CConfigAccessor view = tree.GetAccessor("Threads::Thread_0000::RequestInfo");
    view.SetString("Method", "GET");
    view.SetString("Object", "/a<b>&\"c'.html");
    view.SetString("User", "taro");
    view.SetString("Passwd", "secret");
    view.GetSubAccessor("Options").SetString("Host", "example");

    CHtmlTemplate page = FromText("%Method% %Object% %User% %Passwd% %Host% %Options% %Unknown%");
    page.ExpandFromView(view);
    EXPECT_EQ("GET /a&lt;b&gt;&amp;&quot;c&#39;.html taro %Passwd% %Host% %Options% %Unknown%",
              page.GetText());
}

TEST(HtmlTemplateTest, ExpandFromViewDoesNotExpandAValueFromTheRequest)
{
    CConfigClass tree;
    const CConfigAccessor view = tree.GetAccessor("RequestInfo");
    view.SetString("Object", "/%Query%/%Passwd%");
    view.SetString("Query", "q");
    view.SetString("Passwd", "secret");
    CHtmlTemplate page = FromText("%Object% %Query%");
    page.ExpandFromView(view);
    EXPECT_EQ("/%Query%/%Passwd% q", page.GetText());
}

TEST(HtmlTemplateTest, EscapeHtmlWritesTheFiveSpecialCharactersAsReferences)
{
    struct Case {
        const char* what;
        const char* text;
        const char* expected;
    } const cases[] = {
        {"empty", "", ""},
        {"plain", "/docs/index.html", "/docs/index.html"},
        {"ampersand", "a&b", "a&amp;b"},
        {"less and greater", "<script>", "&lt;script&gt;"},
        {"quotes", "\"'", "&quot;&#39;"},
        {"already a reference", "&amp;", "&amp;amp;"},
        {"percent kept", "%Info%", "%Info%"},
        // 0x95 0x5C is one character whose second byte is a backslash.
        {"double-byte text kept", "表示<", "表示&lt;"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CHtmlTemplate::EscapeHtml(c.text)) << c.what;
}

}  // namespace
