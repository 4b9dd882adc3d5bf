// The settings menu: its items, hover and press, scrolling by whole items, what each item
// opens, and the sheets' snapshot: Cancel undoes, OK saves.

#include "views/SettingMenuView.h"

#include "app/ControllerApp.h"
#include "gui/PropertySheet.h"
#include "gui/QtText.h"
#include "Screenshot.h"
#include "ModalDriver.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "SettingsSchema.h"
#include "TextCodec.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Receives the folders the view hands to the desktop.
class FolderOpener : public QObject {
    Q_OBJECT
public:
    FolderOpener() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~FolderOpener() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    std::vector<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

class SettingMenuViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.InitInstance());
        view_ = std::make_unique<CSettingMenuView>(app_.GetDrawTools(), app_.GetSettings());
        view_->resize(600, 400);
        view_->show();
        view_->GetList()->Refresh();
    }
    void TearDown() override
    {
        view_.reset();
        app_.ExitInstance();
    }

    QWidget* Viewport() const { return view_->GetList()->viewport(); }
    QPoint RowPoint(int row) const { return QPoint(100, row * CSettingMenuList::kRowHeight + 20); }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
    std::unique_ptr<CSettingMenuView> view_;
};

TEST_F(SettingMenuViewTest, EveryItemOpensItsSheetOrDialog)
{
    const struct {
        int index;
        const char* className;
        const char* title;
    } items[] = {
        {0, "gui::CPropertySheet", "サーバ基本設定"},
        {1, "CUserDialog", "ユーザー設定"},
        {2, "gui::CPropertySheet", "SSI/CGIの設定"},
        {3, "CBandWidthDialog", nullptr},
        {5, "CFileIconDialog", "ファイル・アイコンの設定"},
        {6, "CFileIconDialog", "MIMEタイプの設定"},
    };
    for (const auto& item : items) {
        SCOPED_TRACE(item.index);
        std::string className, title;
        WhenModalOpens<QDialog>([&](QDialog& modal) {
            className = modal.metaObject()->className();
            title = FromQString(modal.windowTitle());
        });
        view_->OpenItem(item.index);
        EXPECT_EQ(className, item.className);
        if (item.title) {
            EXPECT_EQ(title, item.title);
        }
    }
    EXPECT_EQ(app_.IsSettingsChanged(), 0);
}

TEST_F(SettingMenuViewTest, SheetsUndoOnCancelAndSaveOnOk)
{
    const std::string file = testsupport::GetFile(sandbox_.SettingsFile());
    WhenModalOpens<QDialog>([](QDialog& modal) {
        auto& sheet = static_cast<gui::CPropertySheet&>(modal);
        sheet.GetPage(0)->findChildren<QLineEdit*>().value(0)->setText(QStringLiteral("8123"));
        ASSERT_TRUE(sheet.SetActivePage(1));  // page 1 has written its fields now
        sheet.PressCancel();
    });
    view_->OpenServerSheet();
    EXPECT_EQ(app_.GetSetting().GetString("Basic::Port", ""), std::to_string(sandbox_.Port()));
    EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), file);
    EXPECT_EQ(app_.IsSettingsChanged(), 0);

    WhenModalOpens<QDialog>([](QDialog& modal) { static_cast<gui::CPropertySheet&>(modal).PressOk(); });
    view_->OpenCgiSheet();
    EXPECT_EQ(app_.IsSettingsChanged(), 1);
}

TEST_F(SettingMenuViewTest, OnlyAPressAndReleaseOnOneItemOpensIt)
{
    QTest::mouseMove(Viewport(), RowPoint(1));
    EXPECT_EQ(CSettingMenuList::GetHotItem(), 1);
    SaveScreenshot(*view_, "settings-menu");
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, RowPoint(1));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, RowPoint(2));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(view_->GetList()->GetPressedItem(), -1);
}

TEST_F(SettingMenuViewTest, AShortViewScrollsByWholeItemsAndClicksTheItemUnderTheCursor)
{
    view_->resize(600, 200);
    QApplication::processEvents();
    EXPECT_TRUE(view_->GetList()->verticalScrollBar()->isVisible());
    QWheelEvent down(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -480), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(Viewport(), &down);
    EXPECT_EQ(view_->GetList()->GetScrollPosition(), 1);

    std::string opened;
    WhenModalOpens<QDialog>([&](QDialog& modal) { opened = modal.metaObject()->className(); });
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowPoint(2));  // item 3
    EXPECT_EQ(opened, "CBandWidthDialog");
}

TEST_F(SettingMenuViewTest, TemplateFolderOpensOnlyAnExistingFolder)
{
    FolderOpener opener;
    prompts_.QueueMessageBoxAnswer(gui::kIdNo);
    view_->OpenItem(4);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts_.MessageBoxes()[0].text.rfind(CSettingMenuView::kTemplateQuestion, 0), 0u);
    EXPECT_TRUE(opener.opened.empty());

    // The default folder, Html under the root, is not there yet: said, not opened.
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    view_->OpenItem(4);
    EXPECT_EQ(prompts_.MessageBoxes().size(), 3u);
    EXPECT_TRUE(opener.opened.empty());

    ASSERT_EQ(::mkdir((sandbox_.Root() + "Html").c_str(), 0755), 0);
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    view_->OpenItem(4);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0].toLocalFile().toStdString(), sandbox_.Root() + "Html/");

    // A file named as the folder is never handed to the desktop.
    testsupport::PutFile(sandbox_.Root() + "run-me.sh", "#!/bin/sh\n");
    app_.GetSetting().SetString(schema::kHtmlFileDirectory.path, "%ServerRoot%run-me.sh");
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    view_->OpenItem(4);
    EXPECT_EQ(opener.opened.size(), 1u);
}

TEST_F(SettingMenuViewTest, TemplateFolderOfADefaultRootOpensWithItsTemplates)
{
    ASSERT_TRUE(sandbox_.MakeDefaultRoot());
    FolderOpener opener;
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    view_->OpenItem(4);
    EXPECT_EQ(prompts_.MessageBoxes().size(), 1u);
    ASSERT_EQ(opener.opened.size(), 1u);
    const std::string folder = opener.opened[0].toLocalFile().toStdString();
    EXPECT_EQ(folder, sandbox_.Root() + "Html/");
    for (const char* file : {"Response_default.html", "DirectoryList.html"})
        EXPECT_FALSE(testsupport::GetFile(folder + file).empty()) << file;
}

// A desktop may open nothing and say nothing (an opener that starts and fails later): the
// question has told the user where the folder is before.
TEST_F(SettingMenuViewTest, TemplateQuestionNamesTheFolderByItsFullPath)
{
    const std::string root = platform::Utf8ToCp932(sandbox_.Root());
    const struct {
        const char* description;
        const char* stored;  // nullptr: none stored
        std::string folder;
    } cases[] = {
        {"the default", nullptr, root + "Html/"},
        {"under the root", "%ServerRoot%テンプレート/", root + "テンプレート/"},
        {"anywhere", "/srv/pages/", "/srv/pages/"},
    };
    for (const auto& c : cases) {
        if (c.stored)
            app_.GetSetting().SetString(schema::kHtmlFileDirectory.path, c.stored);
        prompts_.QueueMessageBoxAnswer(gui::kIdNo);
        view_->OpenItem(4);
        EXPECT_EQ(prompts_.MessageBoxes().back().text,
                  std::string(CSettingMenuView::kTemplateQuestion) + "\n\nHTMLフォルダ : " + c.folder)
            << c.description;
    }

    // The box a person sees.
    gui::PromptResponder* scripted = gui::SetPromptResponder(nullptr);
    std::string shown;
    WhenModalOpens<QMessageBox>([&](QMessageBox& box) {
        shown = FromQString(box.text());
        SaveScreenshot(box, "template-folder-question");
        box.reject();
    });
    view_->OpenItem(4);
    gui::SetPromptResponder(scripted);
    EXPECT_NE(shown.find("HTMLフォルダ : /srv/pages/"), std::string::npos) << platform::Cp932ToUtf8(shown);
}

// Where nothing can open a folder, the user learns where it is.
TEST_F(SettingMenuViewTest, TemplateFolderThatTheDesktopCannotOpenIsNamed)
{
    ASSERT_TRUE(sandbox_.MakeDefaultRoot());
    // No program on the search path, and none named, that could open it.
    testsupport::TempFolder emptyPath;
    testsupport::ScopedEnvironment path("PATH", emptyPath.Path());
    testsupport::ScopedEnvironment browser("BROWSER", nullptr);
    testsupport::ScopedEnvironment defaultBrowser("DEFAULT_BROWSER", nullptr);
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    view_->OpenItem(4);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 2u);
    EXPECT_EQ(prompts_.MessageBoxes()[1].text,
              "HTMLフォルダを開けませんでした。\r\n" + platform::Utf8ToCp932(sandbox_.Root()) + "Html/");
    EXPECT_EQ(prompts_.MessageBoxes()[1].type, unsigned(gui::kMbOk | gui::kMbIconExclamation));
}

}  // namespace

#include "SettingMenuViewTest.moc"
