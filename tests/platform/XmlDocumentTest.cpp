#include "XmlDocument.h"

#include "NestedEntities.h"
#include "OpenWatch.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::XmlDocument;
using platform::XmlNode;
using testsupport::OpenWatch;
using testsupport::PutFile;
using testsupport::TempFolder;

std::unique_ptr<XmlDocument> MustParse(const std::string& bytes)
{
    std::string error;
    std::unique_ptr<XmlDocument> doc = XmlDocument::Parse(bytes, error);
    EXPECT_TRUE(doc) << error << "\n" << bytes;
    return doc;
}

XmlNode Only(const XmlDocument& doc, const std::string& name)
{
    const std::vector<XmlNode> found = doc.ElementsByTagName(name);
    EXPECT_EQ(found.size(), 1u) << name;
    return found.at(0);
}

TEST(XmlDocumentTest, SerializesDeclarationCommentAndElementExactly)
{
    XmlDocument doc;
    doc.AppendComment("Tarnwick CConfig class.");
    XmlNode top = doc.AppendElement("CConfigClass");
    top.SetAttribute("type", "Tarnwick");
    top.AppendText("\n\t");
    XmlNode node = top.AppendElement("Node");
    node.SetAttribute("name", u8"表");
    node.AppendText("\n\t");
    top.AppendText("\n");
    EXPECT_EQ(doc.Serialize("<?xml version='1.0'?>"),
              u8"<?xml version='1.0'?>\n"
              u8"<!--Tarnwick CConfig class.-->\n"
              u8"<CConfigClass type=\"Tarnwick\">\n\t<Node name=\"表\">\n\t</Node>\n</CConfigClass>\n");
}

TEST(XmlDocumentTest, EscapedTextAndAttributesReadBackUnchanged)
{
    const std::string hostile = "a\"<&>\t\n\r' ]]> \r\n end";
    XmlDocument doc;
    XmlNode top = doc.AppendElement("r");
    top.SetAttribute("k", hostile);
    XmlNode child = top.AppendElement("e");
    child.AppendText(hostile);
    child.AppendText("&amp;");  // text is raw, never parsed for references
    const std::string bytes = doc.Serialize("<?xml version='1.0'?>");

    std::unique_ptr<XmlDocument> back = MustParse(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(Only(*back, "r").Attribute("k"), hostile);
    EXPECT_EQ(Only(*back, "e").Text(), hostile + "&amp;");
}

TEST(XmlDocumentTest, AttributeIsTheFirstOfThatExactName)
{
    std::unique_ptr<XmlDocument> doc = MustParse("<r a=\"1\" A=\"2\" b=\"&lt;&#x41;&amp;\"/>");
    ASSERT_TRUE(doc);
    const XmlNode r = Only(*doc, "r");
    EXPECT_EQ(r.Attribute("a"), "1");
    EXPECT_EQ(r.Attribute("A"), "2");
    EXPECT_EQ(r.Attribute("b"), "<A&");
    EXPECT_EQ(r.Attribute("c"), "");
}

TEST(XmlDocumentTest, FindsElementsAtAnyDepthInDocumentOrder)
{
    std::unique_ptr<XmlDocument> doc =
        MustParse("<r><x i=\"1\"><x i=\"2\"/></x><y><x i=\"3\"/></y><X i=\"4\"/></r>");
    ASSERT_TRUE(doc);
    std::vector<std::string> order;
    for (const XmlNode& x : doc->ElementsByTagName("x"))
        order.push_back(x.Attribute("i"));
    EXPECT_EQ(order, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_TRUE(doc->ElementsByTagName("z").empty());
}

TEST(XmlDocumentTest, ChildrenKeepEveryKindAndWhitespaceTextIsRecognised)
{
    std::unique_ptr<XmlDocument> doc = MustParse("<r> \t\r\n<a/>x<!--c--> y </r>");
    ASSERT_TRUE(doc);
    const std::vector<XmlNode> children = Only(*doc, "r").Children();
    ASSERT_EQ(children.size(), 5u);
    EXPECT_TRUE(children[0].IsWhitespaceText());
    EXPECT_FALSE(children[0].IsElement());
    EXPECT_TRUE(children[1].IsElement());
    EXPECT_EQ(children[1].Name(), "a");
    EXPECT_FALSE(children[1].IsWhitespaceText());
    EXPECT_FALSE(children[2].IsWhitespaceText()) << "x";
    EXPECT_FALSE(children[3].IsWhitespaceText()) << "a comment";
    EXPECT_FALSE(children[4].IsWhitespaceText()) << "text with blanks around a letter";
}

TEST(XmlDocumentTest, TextJoinsTextAndCdataOfDescendants)
{
    std::unique_ptr<XmlDocument> doc = MustParse("<r>a<![CDATA[<b>]]><c>d</c><!--no--><?pi no?>e&#x8868;</r>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(Only(*doc, "r").Text(), u8"a<b>de表");
}

TEST(XmlDocumentTest, KeepsWhitespaceOnlyText)
{
    std::unique_ptr<XmlDocument> doc = MustParse("<r><a>  \t </a><b>\n\t\t</b><c></c></r>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(Only(*doc, "a").Text(), "  \t ");
    EXPECT_EQ(Only(*doc, "b").Text(), "\n\t\t");
    EXPECT_EQ(Only(*doc, "c").Text(), "");
}

std::string DeepNesting(int levels)
{
    std::string bytes;
    for (int i = 0; i < levels; ++i)
        bytes += "<a>";
    for (int i = 0; i < levels; ++i)
        bytes += "</a>";
    return bytes;
}

struct BadDocument {
    const char* description;
    std::string bytes;
};

TEST(XmlDocumentTest, RefusesMalformedDocumentsWithAReason)
{
    const BadDocument cases[] = {
        {"empty", ""},
        {"plain text", "hello"},
        {"mismatched tags", "<r><a></r>"},
        {"unclosed", "<r>"},
        {"two roots", "<r/><s/>"},
        {"zero byte", std::string("<r>\0</r>", 8)},
        {"invalid UTF-8", "<r>\xFF\xFE</r>"},
        {"undeclared entity", "<r>&nope;</r>"},
        {"nesting beyond the parser's limit", DeepNesting(10000)},
    };
    for (const BadDocument& c : cases) {
        std::string error;
        EXPECT_FALSE(XmlDocument::Parse(c.bytes, error)) << c.description;
        EXPECT_FALSE(error.empty()) << c.description;
    }
}

TEST(XmlDocumentTest, LeavesEntitiesUnexpanded)
{
    std::unique_ptr<XmlDocument> doc =
        MustParse("<!DOCTYPE r [<!ENTITY e \"EXPANDED\">]><r k=\"x\">a&e;b</r>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(Only(*doc, "r").Text(), "ab");
}

std::string BillionLaughs()
{
    return "<?xml version=\"1.0\"?><!DOCTYPE r [" + testsupport::NestedEntityDeclarations() +
           "]><r k=\"&l9;\">&l9;<s>&l9;</s></r>";
}

TEST(XmlDocumentTest, NestedEntitiesAreNeverExpanded)
{
    std::string error;
    std::unique_ptr<XmlDocument> doc = XmlDocument::Parse(BillionLaughs(), error);
    if (doc) {
        const XmlNode r = Only(*doc, "r");
        EXPECT_LT(r.Text().size(), 1000u);
        EXPECT_LT(r.Attribute("k").size(), 1000u);
    }
}

TEST(XmlDocumentTest, OneLargeEntityReferencedOftenIsNotExpanded)
{
    std::string doc = "<!DOCTYPE r [<!ENTITY big \"" + std::string(100000, 'x') + "\">]><r>";
    for (int i = 0; i < 100000; ++i)
        doc += "&big;";
    doc += "</r>";
    std::string error;
    std::unique_ptr<XmlDocument> parsed = XmlDocument::Parse(doc, error);
    if (parsed) {
        EXPECT_LT(Only(*parsed, "r").Text().size(), 1000u);
    }
}

TEST(XmlDocumentTest, NeverReadsExternalDtdsOrEntities)
{
    const TempFolder folder;
    const std::string& dir = folder.Path();  // ends in '/'
    PutFile(dir + "ext.dtd", "<!ENTITY fromdtd \"SECRET-DTD\">");
    PutFile(dir + "secret.txt", "SECRET-FILE");

    OpenWatch watch({dir});
    ASSERT_TRUE(watch.ok());
    const std::string bytes = "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"file://" + dir +
                              "ext.dtd\" [<!ENTITY ext SYSTEM \"file://" + dir +
                              "secret.txt\"><!ENTITY rel SYSTEM \"" + dir +
                              "secret.txt\">]>\n<r>a&ext;&rel;b</r>";
    std::string error;
    std::unique_ptr<XmlDocument> doc = XmlDocument::Parse(bytes, error);
    if (doc) {
        const std::string text = Only(*doc, "r").Text();
        EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    }
    EXPECT_TRUE(watch.Opened().empty());
}

TEST(XmlDocumentTest, NamespacedDocumentSerializesCompactlyWithOneDeclaration)
{
    XmlDocument doc;
    XmlNode root = doc.AppendElementNS("DAV:", "D:multistatus");
    XmlNode response = root.AppendElementNS("DAV:", "D:response");
    response.AppendElementNS("DAV:", "D:href").AppendText("/a%20b?&<");
    response.AppendElementNS("DAV:", "D:getetag");
    response.AppendElementNS("DAV:", "D:displayname").AppendText(u8"表");
    EXPECT_EQ(doc.Serialize("<?xml version=\"1.0\"?>"),
              u8"<?xml version=\"1.0\"?>\n"
              u8"<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/a%20b?&amp;&lt;</D:href>"
              u8"<D:getetag/><D:displayname>表</D:displayname></D:response></D:multistatus>\n");
}

TEST(XmlDocumentTest, BuiltNamespacesReadBackByNamespaceName)
{
    XmlDocument doc;
    XmlNode root = doc.AppendElementNS("DAV:", "D:r");
    root.AppendElementNS("DAV:", "D:x").AppendText("dav");
    // The prefix bound to another name further in: declared again on that element.
    XmlNode other = root.AppendElementNS("urn:other", "D:x");
    other.AppendText("other");
    other.AppendElementNS("DAV:", "D:x").AppendText("dav again");
    root.AppendElementNS("urn:default", "x").AppendText("default");

    std::unique_ptr<XmlDocument> back = MustParse(doc.Serialize("<?xml version=\"1.0\"?>"));
    ASSERT_TRUE(back);
    std::vector<std::string> texts;
    for (const XmlNode& x : back->ElementsByTagNameNS("DAV:", "x"))
        texts.push_back(x.Text());
    EXPECT_EQ(texts, (std::vector<std::string>{"dav", "dav again"}));
    const std::vector<XmlNode> others = back->ElementsByTagNameNS("urn:other", "x");
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(others[0].Name(), "x");
    EXPECT_EQ(others[0].NamespaceUri(), "urn:other");
    EXPECT_EQ(back->ElementsByTagNameNS("urn:default", "x").size(), 1u);
    EXPECT_EQ(back->ElementsByTagName("x").size(), 4u) << "local names";
}

TEST(XmlDocumentTest, ElementsByNamespaceIgnoreThePrefix)
{
    std::unique_ptr<XmlDocument> doc = MustParse(
        "<a:r xmlns:a=\"DAV:\"><a:x i=\"1\"/><x i=\"none\"/><b:x xmlns:b=\"urn:b\" i=\"b\"/>"
        "<x xmlns=\"DAV:\" i=\"2\"/><c:x xmlns:c=\"DAV:\" i=\"3\"/><a:X i=\"case\"/></a:r>");
    ASSERT_TRUE(doc);
    std::vector<std::string> order;
    for (const XmlNode& x : doc->ElementsByTagNameNS("DAV:", "x"))
        order.push_back(x.Attribute("i"));
    EXPECT_EQ(order, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Only(*doc, "r").NamespaceUri(), "DAV:");
    EXPECT_TRUE(doc->ElementsByTagNameNS("dav:", "x").empty()) << "namespace names are compared exactly";
    for (const XmlNode& x : doc->ElementsByTagName("x")) {
        if (x.Attribute("i") == "none") {
            EXPECT_EQ(x.NamespaceUri(), "");
        }
    }
}

TEST(XmlDocumentTest, RefusesNamespacedNamesThatCannotBeWritten)
{
    const struct {
        const char* description;
        std::string uri;
        std::string name;
    } cases[] = {
        {"no namespace name", "", "D:x"},
        {"no namespace name, no prefix", "", "x"},
        {"empty prefix", "DAV:", ":x"},
        {"empty local name", "DAV:", "D:"},
        {"empty name", "DAV:", ""},
    };
    for (const auto& c : cases) {
        XmlDocument doc;
        EXPECT_THROW(doc.AppendElementNS(c.uri, c.name), std::invalid_argument) << c.description;
        XmlNode root = doc.AppendElement("r");
        EXPECT_THROW(root.AppendElementNS(c.uri, c.name), std::invalid_argument) << c.description;
        EXPECT_TRUE(root.Children().empty()) << c.description;
    }
}

}  // namespace
