// The directory section: the rows it draws from the live entries, selection by click, Ctrl
// and Shift, the wheel, and the new, edit and delete buttons with the path sheet.

#include "views/DirectoryView.h"

#include "app/ControllerApp.h"
#include "gui/PropertySheet.h"
#include "gui/QtText.h"
#include "Screenshot.h"
#include "ModalDriver.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "CurlRunner.h"
#include "controls/ReportListCtrl.h"

#include "ConfigClass.h"
#include "TextCodec.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

namespace {

class DirectoryViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.InitInstance());
        Path().Clear();
    }
    void TearDown() override { app_.ExitInstance(); }

    CConfigAccessor Path() const { return app_.GetSetting().GetSubAccessor("Path"); }

    void AddEntry(const std::string& name, const std::string& info, const std::string& serverPath)
    {
        const CConfigAccessor entry = Path().GetSubAccessor(name);
        entry.SetString("Info", info);
        entry.SetString("ServerPath", serverPath);
        entry.SetString("LocalPath", "/srv/" + name + "/");
    }

    // A view as the section frame shows it, rows laid out.
    std::unique_ptr<CDirectoryView> MakeView(int height = 400)
    {
        auto view = std::make_unique<CDirectoryView>(app_.GetDrawTools(), app_.GetSettings());
        view->resize(600, height);
        view->show();
        view->GetList()->Refresh();
        return view;
    }

    void Click(CDirectoryView& view, int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(view.GetList()->viewport(), Qt::LeftButton, modifiers,
                          QPoint(100, row * CDirectoryListCtrl::kRowHeight + 10));
    }

    std::vector<int> Selected() const
    {
        std::vector<std::string> names;
        Path().GetSections(names);
        std::vector<int> selected;
        for (size_t i = 0; i < names.size(); ++i) {
            if (Path().GetSubAccessor(names[i]).GetInt("Selected", 0))
                selected.push_back(static_cast<int>(i));
        }
        return selected;
    }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(DirectoryViewTest, RowLinesComeFromTheEntry)
{
    CConfigClass tree;
    const CConfigAccessor entry(&tree, "Path_0");
    entry.SetString("ServerPath", "/pub/");
    EXPECT_EQ(CDirectoryListCtrl::FormatServerLine(entry), "Server : /pub/");
    EXPECT_EQ(CDirectoryListCtrl::FormatLocationLine(entry), "Local : ");
    EXPECT_EQ(CDirectoryListCtrl::FormatOptions(entry),
              "認証 : ×    Index : ×    SSI/CGI : ×    WebDAV : ×    書き込み : ×    "
              "隠しファイル : ×    帯域制限 : ×    HTTP : ○    HTTPS : ○    ");
    entry.SetString("VirtualHost", "www");
    entry.SetString("Forward", "http://elsewhere/");
    entry.SetString("LocalPath", "/srv/pub/");
    entry.SetInt("Options::EnableWrite", 1);
    entry.SetInt("Options::AcceptHTTPS", 0);
    EXPECT_EQ(CDirectoryListCtrl::FormatServerLine(entry), "Server : <www> /pub/");
    EXPECT_EQ(CDirectoryListCtrl::FormatLocationLine(entry), "Forward : http://elsewhere/");
    const std::string options = CDirectoryListCtrl::FormatOptions(entry);
    EXPECT_NE(options.find("書き込み : ○"), std::string::npos);
    EXPECT_NE(options.find("HTTPS : ×"), std::string::npos);
}

TEST_F(DirectoryViewTest, NewEntryNameIsTheFirstFreeOneExactly)
{
    AddEntry("Path_0", "a", "/a/");
    AddEntry("Path_2", "c", "/c/");
    AddEntry("path_1", "b", "/b/");
    auto view = MakeView();
    EXPECT_EQ(view->MakeNewPathKey(), "Path_1");
}

TEST_F(DirectoryViewTest, ClicksSelectWithControlAndShift)
{
    for (int i = 0; i < 4; ++i)
        AddEntry("Path_" + std::to_string(i), "エントリ " + std::to_string(i), "/e" + std::to_string(i) + "/");
    auto view = MakeView();
    Click(*view, 1, Qt::ShiftModifier);  // no anchor yet: a plain click
    EXPECT_EQ(Selected(), (std::vector<int>{1}));
    Click(*view, 3, Qt::ControlModifier);
    EXPECT_EQ(Selected(), (std::vector<int>{1, 3}));
    Click(*view, 0, Qt::ShiftModifier);  // from the anchor 3
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1, 2, 3}));
    Click(*view, 3, Qt::ControlModifier);
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1, 2}));
    // Below the last row: nothing selected, the anchor kept.
    QTest::mouseClick(view->GetList()->viewport(), Qt::LeftButton, {}, QPoint(100, 4 * CDirectoryListCtrl::kRowHeight + 5));
    EXPECT_TRUE(Selected().empty());
    Click(*view, 1, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (std::vector<int>{1, 2, 3}));
    SaveScreenshot(*view, "directory-view");
}

TEST_F(DirectoryViewTest, DeleteAsksOnceRemovesEverySelectedEntryAndClampsTheAnchor)
{
    for (int i = 0; i < 5; ++i)
        AddEntry("Path_" + std::to_string(i), "e", "/e/");
    auto view = MakeView();
    Click(*view, 2);
    Click(*view, 3, Qt::ShiftModifier);
    Click(*view, 4, Qt::ControlModifier);  // the anchor is now the last entry
    prompts_.QueueMessageBoxAnswer(gui::kIdCancel);
    view->OnButton(CDirectoryView::kIdDelete);
    EXPECT_EQ(Path().GetSectionCount(), 5);

    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    view->OnButton(CDirectoryView::kIdDelete);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 2u);
    EXPECT_EQ(prompts_.MessageBoxes()[1].text,
              "次のパスを削除します。\n　e (/e/)\n　e (/e/)\n　e (/e/)\n\n削除してもよろしいですか？");
    EXPECT_EQ(prompts_.MessageBoxes()[1].type, unsigned(gui::kMbOkCancel | gui::kMbIconQuestion));
    EXPECT_EQ(prompts_.MessageBoxes()[1].caption, "削除");
    EXPECT_EQ(Path().GetSectionCount(), 2);
    CConfigClass saved;
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    EXPECT_EQ(saved.GetSectionCount("Setting::Path::"), 2);

    // Shift-click from an anchor whose entry is gone reaches only entries that exist.
    Click(*view, 0, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1}));
}

// With no entry the server answers no request: the last one goes only after a question
// that names it and says so.
TEST_F(DirectoryViewTest, DeletingTheLastEntryNamesItAndWarnsFirst)
{
    AddEntry("Path_0", "トップ", "/");
    Path().SetString("Path_0::VirtualHost", "www");
    ASSERT_TRUE(app_.SaveSettings());
    const std::string fileBefore = testsupport::GetFile(sandbox_.SettingsFile());
    auto view = MakeView();
    Click(*view, 0);
    const std::string question = "次のパスを削除します。\n　トップ (<www> /)\n\n"
                                 "パスが１つもなくなるため、サーバはどのリクエストにも応答しなくなります。\n"
                                 "削除してもよろしいですか？";

    prompts_.QueueMessageBoxAnswer(gui::kIdCancel);
    view->OnButton(CDirectoryView::kIdDelete);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts_.MessageBoxes()[0].text, question);
    EXPECT_EQ(prompts_.MessageBoxes()[0].type, unsigned(gui::kMbOkCancel | gui::kMbIconExclamation));
    EXPECT_EQ(Path().GetSectionCount(), 1);
    EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), fileBefore);

    // The box a person sees; closing it keeps the entry too.
    gui::PromptResponder* scripted = gui::SetPromptResponder(nullptr);
    std::string shown;
    WhenModalOpens<QMessageBox>([&](QMessageBox& box) {
        shown = FromQString(box.text());
        SaveScreenshot(box, "directory-delete-last-entry");
        box.reject();
    });
    view->OnButton(CDirectoryView::kIdDelete);
    gui::SetPromptResponder(scripted);
    EXPECT_EQ(shown, question);
    EXPECT_EQ(Path().GetSectionCount(), 1);

    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    view->OnButton(CDirectoryView::kIdDelete);
    EXPECT_EQ(Path().GetSectionCount(), 0);
    CConfigClass saved;
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    EXPECT_EQ(saved.GetSectionCount("Setting::Path::"), 0);
}

TEST_F(DirectoryViewTest, EditRunsTheSheetOnACopyOfTheFirstSelectedEntry)
{
    AddEntry("Path_0", "first", "/a/");
    AddEntry("Path_1", "second", "/b/");
    auto view = MakeView();
    Click(*view, 0);
    Click(*view, 1, Qt::ControlModifier);

    // Cancel: the live entry and the file stay as they were.
    const std::string fileBefore = testsupport::GetFile(sandbox_.SettingsFile());
    WhenModalOpens<gui::CPropertySheet>([](gui::CPropertySheet& sheet) {
        EXPECT_EQ(FromQString(sheet.windowTitle()), "パスを編集");
        auto* info = sheet.GetPage(0)->findChild<QLineEdit*>(QStringLiteral("info"));
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(FromQString(info->text()), "first");
        info->setText(QStringLiteral("changed"));
        sheet.PressCancel();
    });
    view->OnButton(CDirectoryView::kIdEdit);
    EXPECT_EQ(Path().GetString("Path_0::Info", ""), "first");
    EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), fileBefore);

    // OK: the copy goes back into the live entry and the file is saved.
    WhenModalOpens<gui::CPropertySheet>([](gui::CPropertySheet& sheet) {
        sheet.GetPage(0)->findChild<QLineEdit*>(QStringLiteral("info"))->setText(QStringLiteral("changed"));
        EXPECT_TRUE(sheet.PressOk());
    });
    QTest::mouseDClick(view->GetList()->viewport(), Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Path().GetString("Path_0::Info", "") == "changed"; }, 2000));
    EXPECT_EQ(Path().GetString("Path_1::Info", ""), "second");
    EXPECT_EQ(app_.IsSettingsChanged(), 1);
}

TEST_F(DirectoryViewTest, WheelScrollsOneEntryOnlyWhenRowsDoNotFit)
{
    AddEntry("Path_0", "a", "/a/");
    AddEntry("Path_1", "b", "/b/");
    auto view = MakeView(400);
    const auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->GetList()->viewport(), &event);
    };
    wheel(-120);
    EXPECT_EQ(view->GetList()->GetScrollPosition(), 0);

    for (int i = 2; i < 12; ++i)
        AddEntry("Path_" + std::to_string(i), "x", "/x/");
    view->GetList()->Refresh();
    wheel(-360);
    EXPECT_EQ(view->GetList()->GetScrollPosition(), 1);
    wheel(120);
    wheel(120);
    EXPECT_EQ(view->GetList()->GetScrollPosition(), 0);
}

// The whole road: an entry made and changed through the pages reaches the file, and after a
// restart the server serves it as the pages said.
TEST_F(DirectoryViewTest, EntriesMadeThroughThePagesAreServedAfterARestart)
{
    const std::string www2 = sandbox_.Root() + "www2/";
    ASSERT_EQ(::mkdir(www2.c_str(), 0755), 0);
    testsupport::PutFile(www2 + "hello.txt", "hello from www2\n");
    const CConfigAccessor account = app_.GetSetting().GetSubAccessor("User::Enable::taro");
    account.SetString("User", "taro");
    account.SetString("Passwd", "secret");
    const std::string url = "http://127.0.0.1:" + std::to_string(sandbox_.Port()) + "/new/hello.txt";
    const auto status = [&](std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"-o", "/dev/null", "-w", "%{http_code}", url});
        return servertest::RunCurl(extra).out;
    };
    const auto text = [](QWidget& page, const char* name, const std::string& value) {
        page.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(ToQString(value));
    };
    const auto click = [](QWidget& page, const char* name) {
        QTest::mouseClick(page.findChild<QAbstractButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    };
    auto view = MakeView();

    WhenModalOpens<gui::CPropertySheet>([&](gui::CPropertySheet& sheet) {
        EXPECT_EQ(FromQString(sheet.windowTitle()), "新規パス");
        QWidget& page = *sheet.GetPage(0);
        text(page, "info", "新しい入口");
        text(page, "serverPath", "new");
        text(page, "localPath", platform::Utf8ToCp932(sandbox_.Root()) + "www2");
        EXPECT_TRUE(sheet.PressOk());
    });
    view->OnButton(CDirectoryView::kIdNew);
    CConfigClass saved;
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    EXPECT_EQ(saved.GetValue("Setting::Path::Path_0::Info", ""), "新しい入口");
    EXPECT_EQ(saved.GetValue("Setting::Path::Path_0::ServerPath", ""), "/new/");
    EXPECT_EQ(saved.GetValue("Setting::Path::Path_0::LocalPath", ""), platform::Utf8ToCp932(www2));
    EXPECT_EQ(saved.GetValue("Setting::Path::Path_0::VirtualHost", ""), "*");
    app_.OnRestartServer();
    EXPECT_EQ(status(), "200");

    // Users: only taro may come in.
    Click(*view, 0);
    WhenModalOpens<gui::CPropertySheet>([&](gui::CPropertySheet& sheet) {
        ASSERT_TRUE(sheet.SetActivePage(2));
        QWidget& page = *sheet.GetPage(2);
        page.findChild<QCheckBox*>(QStringLiteral("enableAuthenticate"))->setChecked(true);
        page.findChild<CReportListCtrl*>(QStringLiteral("registeredUsers"))->SelectRow(0);
        click(page, "addUsers");
        EXPECT_TRUE(sheet.PressOk());
    });
    view->OnButton(CDirectoryView::kIdEdit);
    app_.OnRestartServer();
    EXPECT_EQ(status(), "401");
    EXPECT_EQ(status({"-u", "taro:secret"}), "200");

    // Hosts: 127.0.0.1 denied.
    WhenModalOpens<gui::CPropertySheet>([&](gui::CPropertySheet& sheet) {
        ASSERT_TRUE(sheet.SetActivePage(3));
        QWidget& page = *sheet.GetPage(3);
        page.findChild<QCheckBox*>(QStringLiteral("enableHostKick"))->setChecked(true);
        text(page, "denyAddr", "127.0.0.1");
        click(page, "denyAdd");
        EXPECT_TRUE(sheet.PressOk());
    });
    view->OnButton(CDirectoryView::kIdEdit);
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    EXPECT_EQ(saved.GetValue("Setting::Path::Path_0::Kick::Denied::127.0.0.1", ""), "127.0.0.1");
    EXPECT_EQ(saved.GetValue("Setting::Path::Path_0::Users::taro", ""), "taro");
    app_.OnRestartServer();
    EXPECT_EQ(status({"-u", "taro:secret"}), "403");

    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    view->OnButton(CDirectoryView::kIdDelete);
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    EXPECT_EQ(saved.GetSectionCount("Setting::Path::"), 0);
    app_.OnRestartServer();
    EXPECT_NE(status({"-u", "taro:secret"}), "200");
}

}  // namespace
