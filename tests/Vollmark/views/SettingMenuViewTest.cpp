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

#include "ConfigTreeText.h"
#include "SettingsSchema.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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

// The item "帯域幅制限".
constexpr int kBandWidthItem = 3;

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

// Tarnwick.xml as the controller last saved it, with KeepAliveTime 20, and then edited by
// hand to 45 while the controller runs.
class ChangedOnDiskTest : public SettingMenuViewTest {
protected:
    void SetUp() override
    {
        SettingMenuViewTest::SetUp();
        app_.GetSetting().SetInt("Basic::KeepAliveTime", 20);
        ASSERT_TRUE(app_.SaveSettings());
        saved_ = testsupport::GetFile(sandbox_.SettingsFile());
        edited_ = saved_;
        const std::string leaf = "<Leaf key=\"KeepAliveTime\">";
        const size_t at = edited_.find(leaf + "20<");
        ASSERT_NE(at, std::string::npos);
        edited_.replace(at + leaf.size(), 2, "45");
    }
    // The controller freshly loaded, the file edited behind it.
    void EditBehindTheController()
    {
        testsupport::PutFile(sandbox_.SettingsFile(), saved_);
        app_.GetSettings().Load(platform::Utf8ToCp932(sandbox_.Root()));
        app_.GetSettings().ClearChanged();
        testsupport::PutFile(sandbox_.SettingsFile(), edited_);
    }
    // The one question asked, as the user saw it.
    void ExpectTheQuestion(const ScriptedPrompts& prompts)
    {
        ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
        EXPECT_EQ(prompts.MessageBoxes()[0].type, unsigned(gui::kMbYesNoCancel | gui::kMbIconExclamation));
        EXPECT_EQ(prompts.MessageBoxes()[0].text,
                  "次の設定ファイルは、読み込んだ後にほかのプログラムによって変更されています。\r\n" +
                      platform::Utf8ToCp932(sandbox_.SettingsFile()) +
                      "\r\n\r\nはい: ファイルを読み込み直します (保存していない変更は失われます)\r\n"
                      "いいえ: このファイルを上書きします\r\nキャンセル: 今は保存しません");
    }
    std::string Live(const char* key) { return app_.GetSetting().GetString(key, "none"); }

    std::string saved_;
    std::string edited_;
};

TEST_F(ChangedOnDiskTest, BandwidthOkAsksAndEachAnswerDoesWhatItSays)
{
    const struct {
        const char* description;
        int answer;
        bool fileKept;              // else the controller's settings are written
        const char* keepAliveTime;  // in memory afterwards
        bool limitsKept;            // the dialog's six limits are still in memory
        int changed;
    } cases[] = {
        {"read again", gui::kIdYes, true, "45", false, 0},
        {"overwrite", gui::kIdNo, false, "20", true, 1},
        {"not now", gui::kIdCancel, true, "20", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EditBehindTheController();
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(c.answer);
        WhenModalOpens<QDialog>([&c](QDialog& dialog) {
            SaveScreenshot(dialog, std::string("changed-on-disk-bandwidth-") + c.description);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
        });
        view_->OpenItem(kBandWidthItem);
        ExpectTheQuestion(prompts);
        const std::string file = testsupport::GetFile(sandbox_.SettingsFile());
        if (c.fileKept) {
            EXPECT_EQ(file, edited_);
        } else {
            CConfigClass written;
            ASSERT_EQ(written.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
            EXPECT_EQ(testsupport::Describe(written), testsupport::Describe(app_.GetSettings().GetTree()));
            EXPECT_EQ(written.GetValue("Setting::Basic::KeepAliveTime", ""), "20");
            EXPECT_EQ(written.GetValue("Setting::Limit::Send::MaxServerBandWidth", ""), "0");
        }
        EXPECT_EQ(Live("Basic::KeepAliveTime"), c.keepAliveTime);
        EXPECT_EQ(app_.GetSetting().HasSection("Limit"), c.limitsKept);
        EXPECT_EQ(app_.IsSettingsChanged(), c.changed);
    }
}

TEST_F(ChangedOnDiskTest, ALeftFileIsAskedAboutAgainAtTheNextSave)
{
    EditBehindTheController();
    prompts_.QueueMessageBoxAnswer(gui::kIdCancel);
    prompts_.QueueMessageBoxAnswer(gui::kIdCancel);
    EXPECT_FALSE(app_.SaveSettings());
    EXPECT_FALSE(app_.SaveSettings());
    EXPECT_EQ(prompts_.MessageBoxes().size(), 2u);
    EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), edited_);
}

TEST_F(ChangedOnDiskTest, EverySheetAndDialogOfTheMenuAsksBeforeSaving)
{
    for (const int item : {0, 1, 2, kBandWidthItem, 5, 6}) {
        SCOPED_TRACE(item);
        EditBehindTheController();
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdCancel);
        WhenModalOpens<QDialog>([](QDialog& dialog) {
            if (auto* sheet = qobject_cast<gui::CPropertySheet*>(&dialog))
                sheet->PressOk();
            else
                QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
        });
        view_->OpenItem(item);
        ExpectTheQuestion(prompts);
        EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), edited_);
    }
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
