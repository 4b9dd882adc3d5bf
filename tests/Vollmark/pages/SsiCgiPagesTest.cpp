// The SSI/CGI sheet on the live settings of a controller bound to a sandbox server: what
// each page shows, refuses and stores, what OK and Cancel leave in Tarnwick.xml, and a
// handler made on the page running a script in the real server.

#include "pages/SsiCgiPages.h"

#include "app/ControllerApp.h"
#include "controls/ReportListCtrl.h"
#include "pages/SettingsSheet.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"
#include "SheetDriver.h"

#include "ConfigTreeText.h"
#include "FreePort.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::string>;

const char kMissingFieldsText[] = "入力されていない項目があります。";
const char kSeparatorText[] = "名前に「::」は使用できません。";
// The start of a message box line as Messages writes it: OK alone, and OK with the stop icon.
const std::string kOkBox = "Vollmark|" + std::to_string(gui::kMbOk) + "|";
const std::string kStopBox = "Vollmark|" + std::to_string(gui::kMbOk | gui::kMbIconStop) + "|";
// More than ten handlers, so the stored names reach two digits.
constexpr int kManyHandlers = 12;
// Every third handler made executable, so both kinds are stored among the many.
constexpr int kExecutableEvery = 3;

// The message boxes shown, one "caption|type|text" line each.
std::string Messages(const ScriptedPrompts& prompts)
{
    std::string lines;
    for (const gui::MessageBoxPrompt& box : prompts.MessageBoxes())
        lines += box.caption + "|" + std::to_string(box.type) + "|" + box.text + "\n";
    return lines;
}

// The sheet as the settings menu builds it, with the widget work of a person.
class SsiCgiSheet : public SheetDriver {
public:
    explicit SsiCgiSheet(CControllerApp& app) : SheetDriver("SSI/CGIの設定")
    {
        Sheet().AddPage(new CSIICGIPage1(app.GetSettings()));
        Sheet().AddPage(new CSSICGIPage2(app.GetSetting()));
        Sheet().AddPage(new CSSICGIPage3(app.GetSetting()));
    }

    // A click on the row's item; -1 clicks below the rows.
    void ClickRow(const char* list, int row)
    {
        CReportListCtrl* view = Find<CReportListCtrl>(list);
        const QPoint below(1, view->viewport()->height() - 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          row < 0 ? below : view->visualItemRect(view->topLevelItem(row)).center());
    }
    // "key|column...|number" a row.
    Rows RowTexts(const char* name)
    {
        Rows rows;
        const CReportListCtrl* list = Find<CReportListCtrl>(name);
        for (int i = 0; i < list->GetRowCount(); ++i) {
            std::string row = list->GetRow(i).key;
            for (const std::string& column : list->GetRow(i).columns)
                row += "|" + column;
            rows.push_back(row + "|" + std::to_string(list->GetRow(i).number));
        }
        return rows;
    }
    void AddHandler(const std::string& ext, const std::string& header, const std::string& command, bool executable)
    {
        SetText("fileExt", ext);
        SetText("fileHeader", header);
        SetText("command", command);
        Find<QCheckBox>("executeFile")->setChecked(executable);
        Click("add");
    }
};

class SsiCgiPagesTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.InitInstance()); }
    void TearDown() override
    {
        app_.ExitInstance();
        EXPECT_EQ(prompts_.Unexpected(), 0);
    }

    // The live node under Setting ("" for Setting itself) as one line.
    std::string Stored(const std::string& node)
    {
        return Describe(app_.GetSettings().GetTree(), "Setting::" + (node.empty() ? node : node + "::"));
    }
    // Handlers named by their extensions; "name=value" leaves after the extension.
    void StoreHandler(const std::string& ext, const Rows& leaves = {})
    {
        app_.GetSetting().SetString("CGI::" + ext + "::FileExt", ext);
        for (const std::string& leaf : leaves)
            app_.GetSetting().SetString("CGI::" + ext + "::" + leaf.substr(0, leaf.find('=')),
                                        leaf.substr(leaf.find('=') + 1));
    }
    // The handlers c, b (a program) and a on the CGI page: out of sorted order, so that a
    // sort would show.
    std::unique_ptr<SsiCgiSheet> OpenOnThreeHandlers()
    {
        StoreHandler("c");
        StoreHandler("b", {"FileHeader=- 実行ファイル -", "Command=cb", "ExecuteFile=1"});
        StoreHandler("a", {"Command=ca"});
        auto sheet = std::make_unique<SsiCgiSheet>(app_);
        sheet->Show(0);
        return sheet;
    }
    // Runs the sheet as the settings menu does, `act` working it once it is open; a failed
    // check cannot leave it open.
    int RunSheet(const std::function<void(SsiCgiSheet&)>& act)
    {
        SsiCgiSheet sheet(app_);
        QTimer::singleShot(0, &sheet.Sheet(), [&] {
            act(sheet);
            if (sheet.Sheet().isVisible())
                sheet.Sheet().PressCancel();
        });
        return RunSettingsSheet(app_.GetSettings(), sheet.Sheet());
    }

    static std::string Describe(CConfigClass& tree, const std::string& node) { return testsupport::Describe(tree, node); }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(SsiCgiPagesTest, HandlersOfAnyNameShowInStoredOrderAndAreWrittenBackNumbered)
{
    StoreHandler("pl", {"FileHeader=perl", "Command=perl %FilePath%"});
    StoreHandler("php");
    SsiCgiSheet sheet(app_);
    sheet.Show(0);
    EXPECT_EQ(sheet.RowTexts("cgiList"), (Rows{"pl|perl|perl %FilePath%|0", "php|||0"}));
    EXPECT_FALSE(sheet.Find<QPushButton>("replace")->isEnabled());
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_EQ(Stored("CGI"), "Tarnwick{CGI_00{FileExt=pl;FileHeader=perl;Command=perl %FilePath%;ExecuteFile=0;}"
                             "CGI_01{FileExt=php;FileHeader=;Command=;ExecuteFile=0;}}");
}

TEST_F(SsiCgiPagesTest, AddRefusesMissingFieldsAndSeparatorsAndAppendsAnEqualExtension)
{
    const std::string missing = kOkBox + kMissingFieldsText + "\n";
    const struct {
        const char* ext;
        const char* command;
        bool executable;
        std::string message;
        const char* added;
    } cases[] = {
        {"", "perl", false, missing, nullptr},
        {"pl", "", false, missing, nullptr},
        {"p::l", "perl", false, kStopBox + kSeparatorText + "\n", nullptr},
        {"pl", "perl", false, "", "pl|#!|perl|0"},
        {"pl", "perl", true, "", "pl|- 実行ファイル -|perl|1"},
    };
    StoreHandler("pl");
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        if (!c.message.empty())
            prompts.QueueMessageBoxAnswer(gui::kIdOk);
        SsiCgiSheet sheet(app_);
        sheet.Show(0);
        sheet.AddHandler(c.ext, "#!", c.command, c.executable);
        EXPECT_EQ(Messages(prompts), c.message) << c.ext << c.command;
        Rows rows{"pl|||0"};
        if (c.added)
            rows.push_back(c.added);
        EXPECT_EQ(sheet.RowTexts("cgiList"), rows) << c.ext << c.command;
    }
}

TEST_F(SsiCgiPagesTest, ClickFillsTheEditsAndReplaceChangesTheRowInPlace)
{
    const std::unique_ptr<SsiCgiSheet> sheet = OpenOnThreeHandlers();
    sheet->ClickRow("cgiList", 1);
    EXPECT_TRUE(sheet->Find<QPushButton>("replace")->isEnabled());
    EXPECT_EQ(sheet->Text("fileExt") + sheet->Text("fileHeader") + sheet->Text("command"), "b- 実行ファイル -cb");
    EXPECT_TRUE(sheet->Find<QCheckBox>("executeFile")->isChecked());
    EXPECT_FALSE(sheet->Find<QLineEdit>("fileHeader")->isEnabled());
    sheet->Click("executeFile");
    EXPECT_TRUE(sheet->Find<QLineEdit>("fileHeader")->isEnabled());
    sheet->SetText("fileHeader", "#!b");
    sheet->Click("replace");
    EXPECT_EQ(sheet->RowTexts("cgiList"), (Rows{"c|||0", "b|#!b|cb|0", "a||ca|0"}));
    sheet->Find<CReportListCtrl>("cgiList")->clearSelection();
    sheet->ClickRow("cgiList", -1);
    EXPECT_FALSE(sheet->Find<QPushButton>("replace")->isEnabled());
}

TEST_F(SsiCgiPagesTest, DeletingTheMiddleHandlerKeepsTheOthersInOrder)
{
    const std::unique_ptr<SsiCgiSheet> sheet = OpenOnThreeHandlers();
    sheet->ClickRow("cgiList", 1);
    sheet->Click("delete");
    ASSERT_TRUE(sheet->Sheet().PressOk());
    EXPECT_EQ(Stored("CGI"), "Tarnwick{CGI_00{FileExt=c;FileHeader=;Command=;ExecuteFile=0;}"
                             "CGI_01{FileExt=a;FileHeader=;Command=ca;ExecuteFile=0;}}");
}

TEST_F(SsiCgiPagesTest, MovesSwapWithTheNeighbourAndChangeNothingAtTheEnds)
{
    const struct {
        const char* description;
        int selected;
        const char* button;
        std::string order;
        int selectedAfter;
    } cases[] = {
        {"up from the middle", 1, "up", "bca", 0},   {"down from the middle", 1, "down", "cab", 2},
        {"up at the top", 0, "up", "cba", 0},        {"down at the bottom", 2, "down", "cba", 2},
        {"nothing selected", -1, "down", "cba", -1},
    };
    for (const auto& c : cases) {
        const std::unique_ptr<SsiCgiSheet> sheet = OpenOnThreeHandlers();
        auto* list = sheet->Find<CReportListCtrl>("cgiList");
        list->SelectRow(c.selected);
        sheet->Click(c.button);
        std::string order;
        for (int i = 0; i < list->GetRowCount(); ++i)
            order += list->GetRow(i).key;
        EXPECT_EQ(order, c.order) << c.description;
        EXPECT_EQ(list->GetFirstSelected(), c.selectedAfter) << c.description;
    }
}

TEST_F(SsiCgiPagesTest, PlaceholdersFollowTheTrimmedCommand)
{
    const std::pair<const char*, const char*> cases[] = {
        {"perl", "perl %FilePath% %Query%"}, {"", "%FilePath% %Query%"}, {" \tperl  ", "perl %FilePath% %Query%"}};
    SsiCgiSheet sheet(app_);
    sheet.Show(0);
    for (const auto& [command, result] : cases) {
        sheet.SetText("command", command);
        sheet.Click("appendPlaceholders");
        EXPECT_EQ(sheet.Text("command"), result) << '"' << command << '"';
    }
}

TEST_F(SsiCgiPagesTest, BrowseOffersEveryFileAndTakesThePathAsTheCommand)
{
    SsiCgiSheet sheet(app_);
    sheet.Show(0);
    sheet.SetText("command", "perl");
    prompts_.QueueFileAnswer("");
    sheet.Click("browse");
    EXPECT_EQ(sheet.Text("command"), "perl");
    prompts_.QueueFileAnswer("/usr/bin/python3");
    sheet.Click("browse");
    EXPECT_EQ(sheet.Text("command"), "/usr/bin/python3");
    ASSERT_EQ(prompts_.FilePrompts().size(), 2u);
    const gui::OpenFilePrompt& prompt = prompts_.FilePrompts()[0];
    ASSERT_EQ(prompt.filters.size(), 1u);
    EXPECT_EQ(prompt.title + "|" + prompt.filters[0].description + "|" + prompt.filters[0].pattern,
              "Open File|実行ファイル (*.exe)|*");
}

TEST_F(SsiCgiPagesTest, BrowseOpensOnTheCommandsProgram)
{
    const std::string root = platform::Utf8ToCp932(sandbox_.Root());
    const struct {
        const char* what;
        std::string command;
        std::string initialFile;
    } cases[] = {
        {"program with placeholders", "/usr/bin/perl %FilePath% %Query%", "/usr/bin/perl"},
        {"under the root, quoted for its blank", "\"%ServerRoot%cgi bin/run.sh\" %FilePath%", root + "cgi bin/run.sh"},
        {"under the root alone", "%ServerRoot%php-cgi", root + "php-cgi"},
        {"a name found on the search path", "perl %FilePath%", "perl"},
        {"the script itself", "%FilePath% %Query%", ""},
        {"empty", "", ""},
    };
    SsiCgiSheet sheet(app_);
    sheet.Show(0);
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        sheet.SetText("command", c.command);
        prompts.QueueFileAnswer("");
        sheet.Click("browse");
        ASSERT_EQ(prompts.FilePrompts().size(), 1u) << c.what;
        EXPECT_EQ(prompts.FilePrompts()[0].initialFile, c.initialFile) << c.what;
        EXPECT_EQ(sheet.Text("command"), c.command) << c.what;
    }
}

TEST_F(SsiCgiPagesTest, SsiNamesLoseTheirDotsStayOnceAndSorted)
{
    app_.GetSetting().SetString("SSI::stm", "stm");
    app_.GetSetting().SetString("SSI::other", "stm");
    const struct {
        const char* typed;
        Rows rows;
        int messages;
    } cases[] = {
        {".shtml.", {"shtml|0", "stm|0"}, 0}, {"...", {"shtml|0", "stm|0"}, 0},
        {"shtml", {"shtml|0", "stm|0"}, 0},   {"a::b", {"shtml|0", "stm|0"}, 1},
        {"html", {"html|0", "shtml|0", "stm|0"}, 1},
    };
    SsiCgiSheet sheet(app_);
    sheet.Show(1);
    EXPECT_EQ(sheet.RowTexts("ssiList"), Rows{"stm|0"});
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    for (const auto& c : cases) {
        sheet.SetText("ssiExt", c.typed);
        sheet.Click("ssiAdd");
        EXPECT_EQ(sheet.RowTexts("ssiList"), c.rows) << c.typed;
        EXPECT_EQ(static_cast<int>(prompts_.MessageBoxes().size()), c.messages) << c.typed;
    }
    EXPECT_EQ(Messages(prompts_), kStopBox + kSeparatorText + "\n");
    sheet.Select("ssiList", {2});
    sheet.Click("ssiDelete");
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_EQ(Stored("SSI"), "Tarnwick{html=html;shtml=shtml;}");
}

TEST_F(SsiCgiPagesTest, EveryPageRoundTripsThroughTheFile)
{
    Rows shown;
    EXPECT_EQ(RunSheet([&](SsiCgiSheet& sheet) {
                  for (int i = 0; i < kManyHandlers; ++i) {
                      const std::string ext = "e" + std::to_string(i);
                      sheet.AddHandler(ext, "#!/bin/" + ext, "run %FilePath% " + ext, i % kExecutableEvery == 0);
                  }
                  shown = sheet.RowTexts("cgiList");
                  ASSERT_TRUE(sheet.Show(1));
                  sheet.SetText("ssiExt", "shtml");
                  sheet.Click("ssiAdd");
                  ASSERT_TRUE(sheet.Show(2));
                  EXPECT_FALSE(sheet.Find<QCheckBox>("enableGetHostName")->isChecked());
                  sheet.Click("enableGetHostName");
                  EXPECT_TRUE(sheet.Sheet().PressOk());
              }),
              gui::kIdOk);
    std::string handlers;
    for (int i = 0; i < kManyHandlers; ++i) {
        const std::string ext = "e" + std::to_string(i);
        const bool executable = i % kExecutableEvery == 0;
        handlers += QString::asprintf("CGI_%02d", i).toStdString() + "{FileExt=" + ext + ";FileHeader=" +
                    (executable ? "- 実行ファイル -" : "#!/bin/" + ext) + ";Command=run %FilePath% " + ext +
                    ";ExecuteFile=" + (executable ? "1" : "0") + ";}";
    }
    CConfigClass saved;
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    EXPECT_EQ(Describe(saved, "Setting::CGI::"), "Tarnwick{" + handlers + "}");
    EXPECT_EQ(Describe(saved, "Setting::SSI::"), "Tarnwick{shtml=shtml;}");
    EXPECT_EQ(Describe(saved, "Setting::CGIEnvironment::"), "Tarnwick{EnableGetHostName=1;}");

    app_.GetSettings().Load(sandbox_.Root());
    SsiCgiSheet again(app_);
    again.Show(0);
    EXPECT_EQ(again.RowTexts("cgiList"), shown);
    ASSERT_TRUE(again.Show(1));
    EXPECT_EQ(again.RowTexts("ssiList"), Rows{"shtml|0"});
    ASSERT_TRUE(again.Show(2));
    EXPECT_TRUE(again.Find<QCheckBox>("enableGetHostName")->isChecked());
}

TEST_F(SsiCgiPagesTest, CancelLeavesTheSettingsAndTheFileAsTheyWere)
{
    StoreHandler("a");
    const std::string settings = Stored("");
    const std::string file = testsupport::GetFile(sandbox_.SettingsFile());
    EXPECT_EQ(RunSheet([](SsiCgiSheet& sheet) {
                  sheet.ClickRow("cgiList", 0);
                  sheet.Click("delete");
                  ASSERT_TRUE(sheet.Show(1));
                  sheet.SetText("ssiExt", "shtml");
                  sheet.Click("ssiAdd");
                  ASSERT_TRUE(sheet.Show(2));
                  sheet.Click("enableGetHostName");
                  ASSERT_TRUE(sheet.Show(0));
                  sheet.Sheet().PressCancel();
              }),
              gui::kIdCancel);
    EXPECT_EQ(Stored(""), settings);
    EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), file);
}

TEST_F(SsiCgiPagesTest, HandlerMadeOnThePageRunsAScriptThroughTheServer)
{
    app_.GetSetting().SetInt("Path::Path_0::Options::EnableSSICGI", 1);
    testsupport::PutFile(sandbox_.Root() + "www/hello.sh",
                         "echo 'Content-Type: text/plain'\necho\necho \"hello $QUERY_STRING\"\n");
    EXPECT_EQ(RunSheet([](SsiCgiSheet& sheet) {
                  sheet.AddHandler("sh", "", "/bin/sh %FilePath%", false);
                  EXPECT_TRUE(sheet.Sheet().PressOk());
              }),
              gui::kIdOk);
    app_.OnRestartServer();
    ASSERT_EQ(app_.IsSettingsChanged(), 0);
    const std::string answer = testsupport::HttpExchange(
        sandbox_.Port(), "GET /hello.sh?to=world HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 200 OK") << answer;
    EXPECT_NE(answer.find("\r\n\r\nhello to=world\n"), std::string::npos) << answer;
}

TEST_F(SsiCgiPagesTest, EveryPageIsReadable)
{
    StoreHandler("pl", {"FileHeader=perl", "Command=/usr/bin/perl %FilePath% %Query%"});
    app_.GetSetting().SetString("SSI::shtml", "shtml");
    SsiCgiSheet sheet(app_);
    for (int page = 0; page < sheet.Sheet().GetPageCount(); ++page) {
        ASSERT_TRUE(sheet.Show(page));
        SaveScreenshot(sheet.Sheet(), "ssi-cgi-page-" + std::to_string(page + 1));
    }
}

}  // namespace
