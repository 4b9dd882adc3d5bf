#include "ConfigClass.h"

#include "ConfigTreeText.h"
#include "FileSizeLimit.h"
#include "NestedEntities.h"
#include "OpenWatch.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::Describe;
using testsupport::FileSizeLimit;
using testsupport::GetFile;
using testsupport::NestedEntityDeclarations;
using testsupport::OpenWatch;
using testsupport::PutFile;
using testsupport::TempFolder;

std::string Reference(const std::string& name)
{
    const std::string path = std::string(TW_TEST_DATA_DIR) + "/ConfigXml/" + name;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
    return GetFile(path);
}

// The tree of Mixed.xml and SettingOnly.xml (literals here are CP932).
void FillMixed(CConfigClass& tree)
{
    tree.SetValue("ServerName", "Tarnwick");
    tree.SetValue("表示", "日本語のテキスト");
    tree.SetValue("Markup", "a < b && c > d");
    tree.SetValue("Blank", "  \t  ");
    tree.SetValue("Setting::Root", "C:\\Tarnwick\\表\\");
    tree.SetValue("Setting::Path::Path_0::Url", "/");
    tree.GetSectionCount("Empty");  // creates the empty node
}

class ConfigXmlTest : public testing::Test {
protected:
    // Saves `tree`, loads the file into a new tree and describes that.
    std::string RoundTrip(CConfigClass& tree)
    {
        EXPECT_EQ(tree.SaveXml(file_, ""), 0);
        CConfigClass back;
        ConfigFileState state = ConfigFileState::Missing;
        EXPECT_EQ(back.LoadXml(file_, &state), 0);
        EXPECT_EQ(state, ConfigFileState::Read);
        return Describe(back);
    }

    // Loads a document given as UTF-8 bytes.
    std::string LoadDocument(const std::string& bytes, ConfigFileState& state, int& result)
    {
        PutFile(file_, bytes);
        CConfigClass tree;
        tree.SetValue("stale", "x");
        result = tree.LoadXml(file_, &state);
        return Describe(tree);
    }

    TempFolder folder_;
    const std::string dir_ = folder_.Path();  // ends in '/'
    const std::string file_ = dir_ + "Tarnwick.xml";
};

// --- Layout ------------------------------------------------------------------------------

TEST_F(ConfigXmlTest, SavesTheSettingExampleByteForByte)
{
    CConfigClass tree;
    tree.SetValue("Setting::Basic::Port", "80");
    ASSERT_EQ(tree.SaveXml(file_, ""), 0);
    EXPECT_EQ(GetFile(file_), Reference("PortExample.xml"));
}

TEST_F(ConfigXmlTest, SavesAnEmptyRootAsOneEmptyNode)
{
    CConfigClass tree;
    ASSERT_EQ(tree.SaveXml(file_, ""), 0);
    EXPECT_EQ(GetFile(file_), Reference("EmptyRoot.xml"));
}

TEST_F(ConfigXmlTest, SavesLeavesBeforeChildrenWithEscapesAndJapanese)
{
    CConfigClass tree;
    FillMixed(tree);
    ASSERT_EQ(tree.SaveXml(file_, ""), 0);
    EXPECT_EQ(GetFile(file_), Reference("Mixed.xml"));
}

TEST_F(ConfigXmlTest, SavesTheNodeThePathNames)
{
    CConfigClass tree;
    FillMixed(tree);
    ASSERT_EQ(tree.SaveXml(file_, "Setting::"), 0);
    EXPECT_EQ(GetFile(file_), Reference("SettingOnly.xml"));
    ASSERT_EQ(tree.SaveXml(file_, "Setting::Root"), 0) << "taken unchanged: the last level is a key";
    EXPECT_EQ(GetFile(file_), Reference("SettingOnly.xml"));
}

TEST_F(ConfigXmlTest, LoadsTheReferenceFilesAndSavesThemUnchanged)
{
    for (const char* name : {"PortExample.xml", "EmptyRoot.xml", "Mixed.xml"}) {
        PutFile(file_, Reference(name));
        CConfigClass tree;
        ConfigFileState state = ConfigFileState::Missing;
        ASSERT_EQ(tree.LoadXml(file_, &state), 0) << name;
        EXPECT_EQ(state, ConfigFileState::Read) << name;
        ASSERT_EQ(tree.SaveXml(file_, ""), 0) << name;
        EXPECT_EQ(GetFile(file_), Reference(name)) << name;
    }
    CConfigClass expected, loaded;
    FillMixed(expected);
    PutFile(file_, Reference("Mixed.xml"));
    loaded.LoadXml(file_);
    EXPECT_EQ(Describe(loaded), Describe(expected));
}

TEST_F(ConfigXmlTest, TheTopNodesNameIsNotUsed)
{
    PutFile(file_, Reference("SettingOnly.xml"));
    CConfigClass tree;
    ASSERT_EQ(tree.LoadXml(file_), 0);
    EXPECT_EQ(tree.GetValue("Root", ""), "C:\\Tarnwick\\表\\");
    EXPECT_EQ(tree.SerializeNode("").substr(0, 11), "STarnwick\\0");
}

// --- Round trips -------------------------------------------------------------------------

TEST_F(ConfigXmlTest, TextsRoundTripExactly)
{
    const std::string texts[] = {
        "", " ", "\t", "\n", "\r", "\r\n", "  a  ", "\n\t\t", "\n\t</Leaf>",
        "<&>\"'", "]]>", "&amp;", "&#x41;", "表示ソ能", "\xB1\xB2", "①ⅰ", "C:\\dir\\",
        "%ServerRoot%Html\\", "line1\r\nline2\n", "\x7F", std::string(100000, 'x'),
    };
    CConfigClass tree;
    int i = 0;
    for (const std::string& text : texts) {
        const std::string n = std::to_string(i++);
        tree.SetValue("Values::" + n, text);
        tree.SetValue("Keys::" + text, n);
        tree.SetValue("Names::" + text + "::k", n);
    }
    EXPECT_EQ(RoundTrip(tree), Describe(tree));
}

TEST_F(ConfigXmlTest, ControlCharactersAreWrittenAsQuestionMarks)
{
    CConfigClass tree;
    tree.SetValue("N\x1B::k\x02", "a\x01" "b\x1F" "c\t\n\r\x7F");
    CConfigClass expected;
    expected.SetValue("N?::k?", "a?b?c\t\n\r\x7F");
    EXPECT_EQ(RoundTrip(tree), Describe(expected));
}

TEST_F(ConfigXmlTest, InvalidCp932IsSubstitutedAndNeverFailsTheSave)
{
    CConfigClass tree;
    tree.SetValue("k", "\x80\xFF\x85\x40ok\x81");
    tree.SetValue("\xFD", "v");
    CConfigClass expected;
    expected.SetValue("k", "???ok?");
    expected.SetValue("?", "v");
    EXPECT_EQ(RoundTrip(tree), Describe(expected));
}

TEST_F(ConfigXmlTest, AZeroByteInATextDoesNotFailTheSave)
{
    CConfigClass tree;
    tree.SetValue(std::string("k\0x", 3), std::string("v\0y", 3));
    EXPECT_EQ(tree.SaveXml(file_, ""), 0);
    CConfigClass back;
    ConfigFileState state;
    EXPECT_EQ(back.LoadXml(file_, &state), 0);
    EXPECT_EQ(state, ConfigFileState::Read);
}

TEST_F(ConfigXmlTest, DeepTreesRoundTrip)
{
    CConfigClass tree;
    std::string path;
    for (int i = 0; i < 200; ++i)
        path += "L" + std::to_string(i) + "::";
    tree.SetValue(path + "k", "deep");
    EXPECT_EQ(RoundTrip(tree), Describe(tree));
}

TEST_F(ConfigXmlTest, JapaneseFileNamesAreUtf8OnDisk)
{
    const std::string name = dir_ + "設定.xml";
    CConfigClass tree;
    tree.SetValue("k", "v");
    ASSERT_EQ(tree.SaveXml(name, ""), 0);
    EXPECT_TRUE(fs::exists(dir_ + u8"設定.xml"));
    CConfigClass back;
    ASSERT_EQ(back.LoadXml(name), 0);
    EXPECT_EQ(back.GetValue("k", ""), "v");
}

// --- Load rules --------------------------------------------------------------------------

struct LoadCase {
    const char* description;
    std::string document;  // UTF-8
    std::string tree;
    ConfigFileState state;
};

std::string Doc(const std::string& body)
{
    return "<?xml version='1.0'?>\n<!--Tarnwick CConfig class.-->\n" + body;
}

TEST_F(ConfigXmlTest, LoadRulesForEachDocument)
{
    using S = ConfigFileState;
    const LoadCase cases[] = {
        {"type in another case", Doc("<CConfigClass type=\"tarnwick\"><Node><Leaf key=\"k\">v</Leaf></Node></CConfigClass>"),
         "Tarnwick{}", S::Unrecognised},
        {"no type", Doc("<CConfigClass><Node><Leaf key=\"k\">v</Leaf></Node></CConfigClass>"), "Tarnwick{}",
         S::Unrecognised},
        {"no children", Doc("<CConfigClass type=\"Tarnwick\"/>"), "Tarnwick{}", S::Unrecognised},
        {"only whitespace", Doc("<CConfigClass type=\"Tarnwick\">\n\t</CConfigClass>"), "Tarnwick{}",
         S::Unrecognised},
        {"comment first", Doc("<CConfigClass type=\"Tarnwick\"><!--c--><Node><Leaf key=\"k\">v</Leaf></Node></CConfigClass>"),
         "Tarnwick{}", S::Unrecognised},
        {"text first", Doc("<CConfigClass type=\"Tarnwick\">x<Node><Leaf key=\"k\">v</Leaf></Node></CConfigClass>"),
         "Tarnwick{}", S::Unrecognised},
        {"other element first", Doc("<CConfigClass type=\"Tarnwick\"><Nodes/><Node><Leaf key=\"k\">v</Leaf></Node></CConfigClass>"),
         "Tarnwick{}", S::Unrecognised},
        {"no CConfigClass", Doc("<Settings><Node><Leaf key=\"k\">v</Leaf></Node></Settings>"), "Tarnwick{}",
         S::Unrecognised},
        {"only the first top Node",
         Doc("<CConfigClass type=\"Tarnwick\">\n\t<Node><Leaf key=\"a\">1</Leaf></Node>\n\t<Node><Leaf key=\"b\">2</Leaf></Node></CConfigClass>"),
         "Tarnwick{a=1;}", S::Read},
        {"a later CConfigClass of the right type",
         Doc("<All><CConfigClass type=\"Other\"><Node><Leaf key=\"a\">1</Leaf></Node></CConfigClass>"
             "<Deeper><CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"b\">2</Leaf></Node></CConfigClass></Deeper>"
             "<CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"c\">3</Leaf></Node></CConfigClass></All>"),
         "Tarnwick{b=2;}", S::Read},
        {"duplicate node names stay apart",
         Doc("<CConfigClass type=\"Tarnwick\"><Node><Node name=\"A\"><Leaf key=\"k\">1</Leaf></Node>"
             "<Node name=\"A\"><Leaf key=\"k\">2</Leaf></Node></Node></CConfigClass>"),
         "Tarnwick{A{k=1;}A{k=2;}}", S::Read},
        {"duplicate leaf keys keep the second value",
         Doc("<CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"k\">1</Leaf><Leaf key=\"j\">x</Leaf>"
             "<Leaf key=\"k\">2</Leaf></Node></CConfigClass>"),
         "Tarnwick{k=2;j=x;}", S::Read},
        {"missing or differently cased attributes read as empty",
         Doc("<CConfigClass type=\"Tarnwick\"><Node><Node Name=\"A\"><Leaf>v</Leaf><Leaf KEY=\"K\">w</Leaf></Node></Node></CConfigClass>"),
         "Tarnwick{{=w;}}", S::Read},
        {"other content inside a node is ignored",
         Doc("<CConfigClass type=\"Tarnwick\"><Node>text<!--c--><Other><Leaf key=\"hidden\">h</Leaf></Other>"
             "<?pi x?><Leaf key=\"k\">v</Leaf></Node></CConfigClass>"),
         "Tarnwick{k=v;}", S::Read},
        {"leaf text joins its descendants and CDATA",
         Doc("<CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"k\">a<b>c</b><![CDATA[<d>]]>&amp;&#x8868;</Leaf></Node></CConfigClass>"),
         "Tarnwick{k=ac<d>&表;}", S::Read},
        {"whitespace-only leaf text is kept",
         Doc("<CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"k\">\n\t </Leaf><Leaf key=\"e\"/></Node></CConfigClass>"),
         "Tarnwick{k=\n\t ;e=;}", S::Read},
        {"Japanese names, keys and values", Doc(u8"<CConfigClass type=\"Tarnwick\"><Node><Node name=\"表示\"><Leaf key=\"ソ\">能</Leaf></Node></Node></CConfigClass>"),
         "Tarnwick{表示{ソ=能;}}", S::Read},
        {"not XML", "hello", "Tarnwick{}", S::Unreadable},
        {"empty file", "", "Tarnwick{}", S::Unreadable},
        {"truncated", Doc("<CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"k\">v</Leaf>"), "Tarnwick{}",
         S::Unreadable},
    };
    for (const LoadCase& c : cases) {
        ConfigFileState state = ConfigFileState::Missing;
        int result = -2;
        EXPECT_EQ(LoadDocument(c.document, state, result), c.tree) << c.description;
        EXPECT_EQ(result, 0) << c.description;
        EXPECT_EQ(state, c.state) << c.description;
    }
}

TEST_F(ConfigXmlTest, AMissingFileLeavesAnEmptyTree)
{
    CConfigClass tree;
    tree.SetValue("old", "x");
    ConfigFileState state = ConfigFileState::Read;
    EXPECT_EQ(tree.LoadXml(dir_ + "none.xml", &state), 0);
    EXPECT_EQ(state, ConfigFileState::Missing);
    EXPECT_EQ(Describe(tree), "Tarnwick{}");
    EXPECT_EQ(tree.LoadXml(dir_ + "none.xml"), 0) << "the state is optional";
}

TEST_F(ConfigXmlTest, LoadTellsWhyAFileWasNotRead)
{
    struct Case {
        const char* description;
        const char* document;  // UTF-8; null for no file
        std::string reason;    // "" when it was read
    };
    const Case cases[] = {
        {"read", "<CConfigClass type=\"Tarnwick\"><Node name=\"Tarnwick\"/></CConfigClass>", ""},
        {"missing", nullptr, "cannot open " + file_ + ": " + std::strerror(ENOENT)},
        {"another program's document", "<CConfigClass type=\"Other\"><Node name=\"Tarnwick\"/></CConfigClass>",
         file_ + " holds no Tarnwick settings document"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        ::unlink(file_.c_str());
        if (c.document)
            PutFile(file_, c.document);
        CConfigClass tree;
        std::string reason = "stale";
        EXPECT_EQ(tree.LoadXml(file_, nullptr, &reason), 0);
        EXPECT_EQ(reason, c.reason);
    }
}

// The first error is the cause; the parser's wording is its own.
TEST_F(ConfigXmlTest, LoadGivesTheParsersReasonWithWhereItStopped)
{
    PutFile(file_, "<CConfigClass type=\"Tarnwick\">\n\t<Node name=\"Tarnwick\">\n</CConfigClass>\n");
    CConfigClass tree;
    ConfigFileState state = ConfigFileState::Read;
    std::string reason;
    EXPECT_EQ(tree.LoadXml(file_, &state, &reason), 0);
    EXPECT_EQ(state, ConfigFileState::Unreadable);
    EXPECT_EQ(reason.rfind(file_ + ": line 3, column ", 0), 0u) << reason;
    EXPECT_NE(reason.find("mismatch: Node line 2 and CConfigClass"), std::string::npos) << reason;
}

TEST_F(ConfigXmlTest, ADirectoryIsUnreadable)
{
    // With and without the final '/'.
    for (const std::string& dir : {dir_, dir_.substr(0, dir_.size() - 1)}) {
        CConfigClass tree;
        ConfigFileState state = ConfigFileState::Read;
        EXPECT_EQ(tree.LoadXml(dir, &state), 0) << dir;
        EXPECT_EQ(state, ConfigFileState::Unreadable) << dir;
    }
}

// --- Hostile files -----------------------------------------------------------------------

TEST_F(ConfigXmlTest, NestedEntitiesAreNotExpanded)
{
    PutFile(file_, "<?xml version='1.0'?><!DOCTYPE CConfigClass [" + NestedEntityDeclarations() +
                       "]><CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"&l9;\">&l9;</Leaf>"
                       "<Leaf key=\"plain\">ok</Leaf></Node></CConfigClass>");
    CConfigClass tree;
    ConfigFileState state;
    EXPECT_EQ(tree.LoadXml(file_, &state), 0);
    EXPECT_LT(tree.SerializeNode("").size(), 1000u);
}

TEST_F(ConfigXmlTest, ExternalDtdsAndEntitiesAreNeverRead)
{
    PutFile(dir_ + "ext.dtd", "<!ENTITY fromdtd \"SECRET\">");
    PutFile(dir_ + "secret.txt", "SECRET");
    PutFile(file_, "<?xml version='1.0'?>\n<!DOCTYPE CConfigClass SYSTEM \"file://" + dir_ +
                       "ext.dtd\" [<!ENTITY ext SYSTEM \"" + dir_ +
                       "secret.txt\">]>\n<CConfigClass type=\"Tarnwick\"><Node><Leaf key=\"k\">a&ext;b</Leaf></Node>"
                       "</CConfigClass>");
    OpenWatch watch({dir_ + "ext.dtd", dir_ + "secret.txt"});
    ASSERT_TRUE(watch.ok());

    CConfigClass tree;
    EXPECT_EQ(tree.LoadXml(file_), 0);
    const std::string all = tree.SerializeNode("");
    EXPECT_EQ(all.find("SECRET"), std::string::npos) << all;
    EXPECT_TRUE(watch.Opened().empty()) << "a referenced file was opened";
}

TEST_F(ConfigXmlTest, DamagedFilesNeverCrashTheLoader)
{
    const std::string valid = Reference("Mixed.xml");
    CConfigClass tree;
    for (size_t cut = 0; cut + 1 < valid.size(); ++cut) {  // all but the final newline
        PutFile(file_, valid.substr(0, cut));
        ConfigFileState state;
        EXPECT_EQ(tree.LoadXml(file_, &state), 0) << cut;
        EXPECT_EQ(state, ConfigFileState::Unreadable) << cut;
    }
    std::mt19937 random(4242);
    std::uniform_int_distribution<size_t> position(0, valid.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 300; ++round) {
        std::string damaged = valid;
        for (int n = 1 + round % 5; n > 0 && !damaged.empty(); --n) {
            const size_t at = position(random) % damaged.size();
            if (round % 2)
                damaged[at] = static_cast<char>(byte(random));
            else
                damaged.erase(at, 1 + byte(random) % 16);
        }
        PutFile(file_, damaged);
        const int result = tree.LoadXml(file_);
        EXPECT_TRUE(result == 0 || result == -1);
        ASSERT_EQ(tree.SaveXml(dir_ + "resaved.xml", ""), 0) << "whatever was read saves again";
    }
}

// --- Saving safely -----------------------------------------------------------------------

TEST_F(ConfigXmlTest, SaveReplacesTheFileByRenameAndLeavesNoTemporaryFile)
{
    PutFile(file_, "old");
    ASSERT_EQ(::link(file_.c_str(), (dir_ + "old-link").c_str()), 0);
    CConfigClass tree;
    tree.SetValue("k", "v");
    ASSERT_EQ(tree.SaveXml(file_, ""), 0);
    EXPECT_EQ(GetFile(dir_ + "old-link"), "old");
    CConfigClass back;
    back.LoadXml(file_);
    EXPECT_EQ(back.GetValue("k", ""), "v");
    EXPECT_EQ(folder_.Entries(), (std::vector<std::string>{"Tarnwick.xml", "old-link"}));
}

// The settings hold passwords, the dumps the requests' credentials: a new file and a
// world-readable one alike end up readable by the owner alone.
TEST_F(ConfigXmlTest, SaveLeavesAFileOnlyItsOwnerCanRead)
{
    const mode_t umask = ::umask(022);
    CConfigClass tree;
    tree.SetValue("User::Password", "secret");
    ASSERT_EQ(tree.SaveXml(file_, ""), 0);
    EXPECT_EQ(fs::status(file_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    ASSERT_EQ(tree.SaveXml(file_, ""), 0);
    EXPECT_EQ(fs::status(file_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ::umask(umask);
}

TEST_F(ConfigXmlTest, SaveFailsWhenTheFolderIsAFile)
{
    PutFile(dir_ + "file", "x");
    CConfigClass tree;
    EXPECT_EQ(tree.SaveXml(dir_ + "file/Tarnwick.xml", ""), -1);
    EXPECT_EQ(GetFile(dir_ + "file"), "x");
}

TEST_F(ConfigXmlTest, SaveTellsWhyItFailedNamingTheFile)
{
    PutFile(dir_ + "file", "x");
    CConfigClass tree;
    std::string reason;
    EXPECT_EQ(tree.SaveXml(dir_ + "file/Tarnwick.xml", "", &reason), -1);
    EXPECT_EQ(reason, "cannot create " + dir_ + "file/Tarnwick.xml: " + std::strerror(ENOTDIR));
}

TEST_F(ConfigXmlTest, ASaveThatFailsWhileWritingKeepsTheOldFile)
{
    PutFile(file_, Reference("PortExample.xml"));
    CConfigClass tree;
    tree.SetValue("Big", std::string(100000, 'b'));
    int result;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.ok());
        result = tree.SaveXml(file_, "");
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(GetFile(file_), Reference("PortExample.xml"));
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"Tarnwick.xml"});
}

}  // namespace
