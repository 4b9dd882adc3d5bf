// The path entry's four pages on a scratch entry, driven through their real widgets: what
// each stores, what keeps it in front and what it tells the user.

#include "pages/PathPages.h"

#include "app/ControllerApp.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "SheetDriver.h"

#include "ConfigTreeText.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <QCheckBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Leaves = std::vector<std::pair<std::string, std::string>>;
using Rows = std::vector<std::string>;

const char kEntryPath[] = "Setting::Path::Path_0";
const Leaves kUsableEntry = {{"Info", "公開"}, {"ServerPath", "/pub/"}, {"LocalPath", "/srv/pub/"}};
const char kAddressFormText[] =
    "IPアドレスは、「192.168.0.1」のように「*.*.*.*」の形式で入力してください。\r\n数字と「*」、「?」以外は使用できません。";
const unsigned kInformation = gui::kMbOk | gui::kMbIconInformation;
const unsigned kStop = gui::kMbOk | gui::kMbIconStop;

// A message box as one line, so that a test compares all it was shown at once.
std::string Message(const std::string& caption, unsigned type, const std::string& text)
{
    return caption + "|" + std::to_string(type) + "|" + text + "\n";
}

std::string Messages(const ScriptedPrompts& prompts)
{
    std::string lines;
    for (const gui::MessageBoxPrompt& box : prompts.MessageBoxes())
        lines += Message(box.caption, box.type, box.text);
    return lines;
}

// A path entry in a scratch tree and its sheet of four pages, as the directory view builds
// them.
class PathSheet : public SheetDriver {
public:
    PathSheet(CControllerApp& app, const Leaves& stored) : SheetDriver("パスを編集"), entry_(tree_.GetAccessor(kEntryPath))
    {
        for (const auto& [key, value] : stored)
            entry_.SetString(key, value);
        Sheet().AddPage(new CPathPage1(app.GetSettings(), entry_));
        Sheet().AddPage(new CPathPage2(entry_));
        Sheet().AddPage(new CPathPage3(app.GetSettings(), entry_));
        Sheet().AddPage(new CPathPage4(entry_));
    }

    std::string Describe() { return testsupport::Describe(tree_, kEntryPath); }
    bool Stored(const std::string& text) { return Describe().find(text) != std::string::npos; }

private:
    CConfigClass tree_;
    CConfigAccessor entry_;
};

class PathPagesTest : public testing::Test {
protected:
    PathPagesTest()
    {
        const CConfigAccessor& setting = app_.GetSetting();
        setting.SetString("User::Enable::User_0::User", "alice");
        setting.SetString("User::Enable::User_0::Comment", "管理者");
        setting.SetString("User::Enable::User_1::User", "bob");
        setting.SetString("User::Enable::User_2::User", "bad::name");
        setting.SetString("User::Disable::User_3::User", "carol");
    }
    void TearDown() override { EXPECT_EQ(prompts_.Unexpected(), 0); }

    ScriptedPrompts prompts_;
    CControllerApp app_;
};

TEST_F(PathPagesTest, BasicPageStaysWithoutItsRequiredFields)
{
    const struct {
        const char* description;
        const char* info;
        const char* host;
        bool leaves;
    } cases[] = {
        {"the any-host star is something to serve", "i", "*", true},
        {"nothing to serve", "i", "", false},
        {"no info", "", "*", false},
    };
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        PathSheet sheet(app_, {{"ServerPath", "/"}});
        sheet.Show(0);
        sheet.SetText("info", c.info);
        sheet.SetText("virtualHost", c.host);
        if (!c.leaves)
            prompts.QueueMessageBoxAnswer(gui::kIdOk);
        EXPECT_EQ(sheet.Show(1), c.leaves) << c.description;
        EXPECT_EQ(Messages(prompts), c.leaves ? "" : Message("Vollmark", gui::kMbOk, "未入力の項目があります。"))
            << c.description;
        EXPECT_EQ(sheet.Stored("Info"), c.leaves) << c.description;
    }
}

TEST_F(PathPagesTest, TextShiftJisCannotHoldKeepsThePageAndNamesTheField)
{
    const struct {
        const char* field;
        const char* label;
    } cases[] = {
        {"info", "説明"},
        {"localPath", "LocalPath"},
        {"forward", "Forward"},
        {"virtualHost", "ホスト名"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        ScriptedPrompts prompts;
        PathSheet sheet(app_, kUsableEntry);
        sheet.Show(0);
        const std::string stored = sheet.Describe();
        sheet.Find<QLineEdit>(c.field)->setText(QStringLiteral(u"€"));
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        EXPECT_FALSE(sheet.Show(1));
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        EXPECT_FALSE(sheet.Sheet().PressOk());
        EXPECT_EQ(sheet.Sheet().GetActiveIndex(), 0);
        const std::string message = Message("Vollmark", gui::kMbOk | gui::kMbIconExclamation,
                                             std::string("「") + c.label +
                                                 "」に、設定に保存できない文字 (Shift-JIS にない文字) があります。\r\n"
                                                 "その文字を別の文字に置き換えてください。");
        EXPECT_EQ(Messages(prompts), message + message);
        EXPECT_EQ(sheet.Describe(), stored);
        SaveScreenshot(sheet.Sheet(), std::string("path-page-not-shift-jis-") + c.field);
    }
}

TEST_F(PathPagesTest, NewEntryStoresTheBasicPageInOrderWithPathsNormalisedAndNoOptions)
{
    PathSheet sheet(app_, {});
    sheet.Show(0);
    sheet.SetText("info", "公開");
    sheet.SetText("serverPath", "pub");
    sheet.SetText("localPath", "/srv/表");
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_EQ(sheet.Describe(),
              "Tarnwick{Path_0{Info=公開;ServerPath=/pub/;LocalPath=/srv/表/;Forward=;VirtualHost=*;}}");
}

TEST_F(PathPagesTest, UncheckingTheVirtualHostOfWwwStillStoresWww)
{
    Leaves stored = kUsableEntry;
    stored.push_back({"VirtualHost", "www"});
    PathSheet sheet(app_, stored);
    sheet.Show(0);
    EXPECT_TRUE(sheet.Find<QLineEdit>("virtualHost")->isEnabled());
    sheet.Click("useVirtualHost");
    EXPECT_FALSE(sheet.Find<QCheckBox>("useVirtualHost")->isChecked());
    EXPECT_FALSE(sheet.Find<QLineEdit>("virtualHost")->isEnabled());
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_TRUE(sheet.Stored("VirtualHost=www;"));
}

TEST_F(PathPagesTest, BrowseStartsAtTheLocalPathAndTakesTheChosenFolder)
{
    PathSheet sheet(app_, kUsableEntry);
    sheet.Show(0);
    prompts_.QueueFolderAnswer("/srv/公開");
    sheet.Click("browse");
    prompts_.QueueFolderAnswer("");
    sheet.Click("browse");
    EXPECT_EQ(sheet.Text("localPath"), "/srv/公開/");
    ASSERT_EQ(prompts_.FolderPrompts().size(), 2u);
    EXPECT_EQ(prompts_.FolderPrompts()[0].title, "Select Folder");
    EXPECT_EQ(prompts_.FolderPrompts()[0].initialFolder, "/srv/pub/");
}

// Ticks writes and SSI/CGI on the detail page and presses OK, answering the question.
bool OkWithWritesAndScripts(PathSheet& sheet, ScriptedPrompts& prompts, int answer)
{
    EXPECT_TRUE(sheet.Show(1));
    sheet.Click("EnableWrite");
    sheet.Click("EnableSSICGI");
    prompts.QueueMessageBoxAnswer(answer);
    return sheet.Sheet().PressOk();
}

TEST_F(PathPagesTest, WritesWithScriptsAnsweredNoKeepsTheDetailPageAndStoresNoFlag)
{
    PathSheet sheet(app_, kUsableEntry);
    EXPECT_FALSE(OkWithWritesAndScripts(sheet, prompts_, gui::kIdNo));
    EXPECT_EQ(sheet.Sheet().GetActiveIndex(), 1);
    EXPECT_FALSE(sheet.Stored("Options"));
    EXPECT_EQ(Messages(prompts_),
              Message("セキュリティ チェック", gui::kMbYesNo | gui::kMbIconInformation,
                      "「SSI/CGIを許可」と「書き込みを許可」の組み合わせは、セキュリティ上、非常に好ましくありません。"
                      "\r\n続行しますか？"));
}

TEST_F(PathPagesTest, WritesWithScriptsAnsweredYesStoresTheEightFlagsInOrder)
{
    PathSheet sheet(app_, kUsableEntry);
    EXPECT_TRUE(OkWithWritesAndScripts(sheet, prompts_, gui::kIdYes));
    EXPECT_TRUE(sheet.Stored("Options{EnableIndex=1;EnableWebDAV=0;EnableSSICGI=1;EnableBandWidthLimit=0;"
                             "EnableWrite=1;EnableHiddenFile=0;AcceptHTTP=1;AcceptHTTPS=1;}"));
}

TEST_F(PathPagesTest, UserPageOffersEnabledUsersAndAddingTwiceLeavesOneRow)
{
    PathSheet sheet(app_, kUsableEntry);
    sheet.Show(2);
    EXPECT_EQ(sheet.RowsOf("registeredUsers"), (Rows{"alice", "bad::name", "bob"}));
    sheet.Select("registeredUsers", {0});
    sheet.Click("addUsers");
    sheet.Click("addUsers");
    EXPECT_EQ(sheet.RowsOf("allowedUsers"), Rows{"alice"});
    EXPECT_EQ(sheet.RowsOf("registeredUsers").size(), 3u);
    sheet.Click("enableAuthenticate");
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_TRUE(sheet.Stored("Options{EnableAuthenticate=1;}Users{alice=alice;}"));
}

TEST_F(PathPagesTest, UserWithSeparatorIsRefusedAndTheOthersAdded)
{
    PathSheet sheet(app_, kUsableEntry);
    sheet.Show(2);
    sheet.Select("registeredUsers", {1, 2});
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    sheet.Click("addUsers");
    EXPECT_EQ(sheet.RowsOf("allowedUsers"), Rows{"bob"});
    EXPECT_EQ(Messages(prompts_), Message("Vollmark", kStop, "ユーザー名に「::」は使用できません。"));
}

TEST_F(PathPagesTest, HostAddRefusesABadAddressAndReplacesAnEqualRow)
{
    PathSheet sheet(app_, kUsableEntry);
    sheet.Show(3);
    sheet.SetText("acceptAddr", "192.168.*.*");
    sheet.Click("acceptAdd");
    sheet.Click("acceptAdd");
    sheet.SetText("denyAddr", "192.168.0.1::");
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    sheet.Click("denyAdd");
    sheet.SetText("denyAddr", "192.168.0.*");
    sheet.Click("denyAdd");
    sheet.Click("enableHostKick");
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_EQ(Messages(prompts_), Message("IP入力", kStop, kAddressFormText));
    EXPECT_TRUE(sheet.Stored(
        "Options{EnableHostKick=1;}Kick{Accept{192.168.*.*=192.168.*.*;}Denied{192.168.0.*=192.168.0.*;}}"));
}

TEST_F(PathPagesTest, RemoveButtonsDeleteTheSelectedRowsAndTheListIsStoredWhole)
{
    PathSheet sheet(app_, {{"Users::y", "y"}, {"Users::x", "x"}, {"Kick::Denied::1.1.1.1", "1.1.1.1"},
                           {"Kick::Denied::2.2.2.2", "2.2.2.2"}});
    sheet.Show(2);
    sheet.Select("allowedUsers", {0});
    sheet.Click("removeUsers");
    ASSERT_TRUE(sheet.Show(3));
    sheet.Select("denyList", {0});
    sheet.Click("denyDelete");
    sheet.Sheet().PressOk();
    EXPECT_TRUE(sheet.Stored("Users{y=y;}"));
    EXPECT_TRUE(sheet.Stored("Denied{2.2.2.2=2.2.2.2;}"));
}

TEST_F(PathPagesTest, HostImportReadsACrLfFileUpToALineOfSeparators)
{
    testsupport::TempFolder folder;
    const std::string file = folder.Path() + "hosts.csv";
    testsupport::PutFile(file, "10.0.0.1,\r\n:10.0.0.*\r\nabc\r\n1.2.3.4\r\n,,,\r\n5.6.7.8\r\n");
    PathSheet sheet(app_, {{"Kick::Accept::10.0.0.1", "10.0.0.1"}});
    sheet.Show(3);
    prompts_.QueueFileAnswer(platform::Utf8ToCp932(file));
    sheet.Click("acceptImport");
    prompts_.QueueFileAnswer("");
    sheet.Click("acceptImport");
    EXPECT_EQ(sheet.RowsOf("acceptList"), (Rows{"1.2.3.4", "10.0.0.*", "10.0.0.1"}));
    EXPECT_EQ(Messages(prompts_), "");
    ASSERT_EQ(prompts_.FilePrompts().size(), 2u);
    EXPECT_EQ(prompts_.FilePrompts()[0].title, "Open File");
    EXPECT_EQ(prompts_.FilePrompts()[0].filters.size(), 2u);
}

TEST_F(PathPagesTest, HostTestTellsWhatTheListsDecide)
{
    const Leaves kicking = {{"Options::EnableHostKick", "1"}, {"Kick::Denied::192.168.0.*", "192.168.0.*"}};
    Leaves bothLists = kicking;
    bothLists.push_back({"Kick::Accept::*.*.*.*", "*.*.*.*"});
    const struct {
        const char* description;
        Leaves stored;
        const char* address;
        std::string message;
    } cases[] = {
        {"checks off", {}, "1.2.3.4",
         Message("テスト", kInformation,
                 "アクセス制限が有効になっていません、全てのアドレスからのアクセスが許可されます。")},
        {"bad address", kicking, "1.2.3", Message("IP入力", kStop, kAddressFormText)},
        {"denied first", bothLists, "192.168.0.5",
         Message("テスト", kInformation, "× : 192.168.0.5 からのアクセスは拒否されます。")},
        {"accepted", bothLists, "10.0.0.1", Message("テスト", kInformation, "○ : 10.0.0.1 からのアクセスは許可されます。")},
        {"empty accept list", kicking, "10.0.0.1",
         Message("テスト", kInformation, "× : 10.0.0.1 からのアクセスは拒否されます。")},
    };
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        PathSheet sheet(app_, c.stored);
        sheet.Show(3);
        sheet.SetText("testAddr", c.address);
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        sheet.Click("test");
        EXPECT_EQ(Messages(prompts), c.message) << c.description;
    }
}

TEST_F(PathPagesTest, CancelStoresNothing)
{
    PathSheet sheet(app_, kUsableEntry);
    const std::string before = sheet.Describe();
    sheet.Show(3);
    sheet.Click("enableHostKick");
    sheet.SetText("acceptAddr", "1.2.3.4");
    sheet.Click("acceptAdd");
    sheet.Sheet().PressCancel();
    EXPECT_EQ(sheet.Describe(), before);
}

TEST_F(PathPagesTest, EveryPageIsReadable)
{
    Leaves stored = kUsableEntry;
    stored.insert(stored.end(), {{"Users::alice", "alice"},
                                 {"Kick::Accept::*.*.*.*", "*.*.*.*"},
                                 {"Kick::Denied::192.168.0.*", "192.168.0.*"}});
    PathSheet sheet(app_, stored);
    for (int page = 0; page < sheet.Sheet().GetPageCount(); ++page) {
        ASSERT_TRUE(sheet.Show(page));
        SaveScreenshot(sheet.Sheet(), "path-page-" + std::to_string(page + 1));
    }
}

}  // namespace
