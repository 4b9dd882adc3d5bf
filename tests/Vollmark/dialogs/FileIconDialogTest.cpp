// The MIME type and file icon dialog on a settings file of its own: the text it shows, the
// node and text OK writes, the editor's keys and limit, and, against the real server, that
// what it writes is the Content-Type of a file and the icon of an index entry.

#include "dialogs/FileIconDialog.h"

#include "app/ControllerApp.h"
#include "core/TypeTable.h"
#include "gui/QtText.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "CurlRunner.h"

#include "ConfigTreeText.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

std::string Shown(const CFileIconDialog& dialog) { return FromQString(dialog.GetEditor()->toPlainText()); }

// Shows the dialog, replaces the editor's text and presses the button.
void Edit(CFileIconDialog& dialog, const std::string& text, const char* button)
{
    dialog.show();
    dialog.GetEditor()->setPlainText(ToQString(text));
    QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
}

class FileIconDialogTest : public testing::Test {
protected:
    FileIconDialogTest() { app_.GetSettings().Load(platform::Utf8ToCp932(root_.Path())); }
    void TearDown() override { EXPECT_EQ(prompts_.Unexpected(), 0); }

    std::string File() const { return root_.Path() + CControllerSettings::kFileName; }
    std::string Live(const std::string& node = "") { return testsupport::Describe(app_.GetSettings().GetTree(), node); }

    testsupport::TempFolder root_;
    ScriptedPrompts prompts_;
    CControllerApp app_;
};

TEST_F(FileIconDialogTest, ModeChoosesTitleAndTableShownLineByLine)
{
    app_.GetSetting().SetString("MimeType::Text", "text/html html\rimage/png png");
    app_.GetSetting().SetString("IconType::Text", "/icons/folder.gif ^^DIRECTORY^^\r\n/icons/text.gif\t.txt");
    const struct {
        int mode;
        const char* caption;
        const char* text;
        const char* screenshot;
    } cases[] = {
        {CFileIconDialog::kMimeTypes, "MIMEタイプの設定", "text/html html\nimage/png png", "file-icon-dialog-mime"},
        {CFileIconDialog::kFileIcons, "ファイル・アイコンの設定", "/icons/folder.gif ^^DIRECTORY^^\n/icons/text.gif\t.txt",
         "file-icon-dialog-icon"},
        {-1, "MIMEタイプの設定", "text/html html\nimage/png png", nullptr},
    };
    for (const auto& c : cases) {
        CFileIconDialog dialog(app_.GetSettings(), c.mode);
        if (c.screenshot)
            SaveScreenshot(dialog, c.screenshot);
        EXPECT_EQ(FromQString(dialog.windowTitle()), c.caption) << c.mode;
        EXPECT_EQ(Shown(dialog), c.text) << c.mode;
        EXPECT_EQ(dialog.GetEditor()->font().pixelSize(), 14);
        EXPECT_EQ(FromQString(dialog.findChild<QLabel*>(QStringLiteral("note"))->text()),
                  "※この設定はテキストベースです、テキストの内容を編集してください。\nタブは「Ctrl+Tab」キーで入力可能です。");
    }
}

TEST_F(FileIconDialogTest, OkBuildsTheTableKeepsTheTextAndSaves)
{
    app_.GetSetting().SetString("MimeType::old/type::Ext_00", "old");
    app_.GetSetting().SetString("IconType::/i/a.gif::Filter_00", ".a");
    CFileIconDialog dialog(app_.GetSettings(), CFileIconDialog::kMimeTypes);
    Edit(dialog, "text/html\thtml,htm\n# text/x-no no\n\n  text/plain  txt  \n", "ok");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    CConfigClass saved;
    ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(File())), 0);
    EXPECT_EQ(testsupport::Describe(saved, "Setting::"),
              "Tarnwick{MimeType{Text=text/html\thtml,htm\r\n# text/x-no no\r\n\r\n  text/plain  txt  \r\n;"
              "text/html{Ext_00=html;Ext_01=htm;}text/plain{Ext_00=txt;}}IconType{/i/a.gif{Filter_00=.a;}}}");
    EXPECT_EQ(app_.IsSettingsChanged(), 1);
}

TEST_F(FileIconDialogTest, IconNamedOnTwoLinesKeepsTheFiltersOfBoth)
{
    CFileIconDialog dialog(app_.GetSettings(), CFileIconDialog::kFileIcons);
    Edit(dialog, "/i/text.gif .txt .log\n/i/image.gif .png\n/i/text.gif *.md", "ok");
    EXPECT_EQ(Live("Setting::IconType::/i/text.gif::"), "Tarnwick{Filter_00=.txt;Filter_01=.log;Filter_02=*.md;}");
}

TEST_F(FileIconDialogTest, CancelLeavesTheSettingsAndTheFileAsTheyWere)
{
    app_.GetSetting().SetString("MimeType::text/html::Ext_00", "html");
    ASSERT_TRUE(app_.SaveSettings());
    app_.GetSettings().ClearChanged();
    const std::string live = Live();
    const std::string file = testsupport::GetFile(File());
    CFileIconDialog dialog(app_.GetSettings(), CFileIconDialog::kMimeTypes);
    Edit(dialog, "a/b c", "cancel");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Live(), live);
    EXPECT_EQ(testsupport::GetFile(File()), file);
    EXPECT_EQ(app_.IsSettingsChanged(), 0);
}

TEST_F(FileIconDialogTest, TabAndCtrlTabTypeATabAndKeepTheFocus)
{
    CFileIconDialog dialog(app_.GetSettings(), CFileIconDialog::kMimeTypes);
    dialog.show();
    QPlainTextEdit* editor = dialog.GetEditor();
    editor->setFocus();
    QTest::keyClick(editor, Qt::Key_A);
    QTest::keyClick(editor, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_B);
    QTest::keyClick(editor, Qt::Key_Tab);
    EXPECT_EQ(Shown(dialog), "a\tb\t");
    EXPECT_EQ(dialog.focusWidget(), editor);
}

TEST_F(FileIconDialogTest, UserTextStopsAtTheLimitWhileAStoredLongerTextShowsWhole)
{
    const int limit = CFileIconDialog::kMaxTextChars;
    const struct {
        const char* description;
        int stored;
        int added;
        int expected;
    } cases[] = {
        {"room for all", limit - 3, 2, limit - 1},
        {"cut at the limit", limit - 1, 2, limit},
        {"a paste is cut too", 0, limit + 10, limit},
        {"stored beyond the limit", limit + 5, 1, limit + 5},
    };
    for (const auto& c : cases) {
        app_.GetSetting().SetString("IconType::Text", std::string(c.stored, 'a'));
        CFileIconDialog dialog(app_.GetSettings(), CFileIconDialog::kFileIcons);
        dialog.GetEditor()->moveCursor(QTextCursor::End);
        dialog.GetEditor()->insertPlainText(QString(c.added, QLatin1Char('x')));
        EXPECT_EQ(dialog.GetEditor()->toPlainText().size(), c.expected) << c.description;
    }
}

// Edits through exec, as the settings menu runs the dialog, then restarts the server on
// what it saved.
class FileIconDialogServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.InitInstance());
        testsupport::PutFile(sandbox_.Root() + "www/sample.twt", "sample\n");
    }
    void TearDown() override
    {
        EXPECT_EQ(prompts_.Unexpected(), 0);
        app_.ExitInstance();
    }

    void EditAndRestart(int mode, const std::string& text)
    {
        CFileIconDialog dialog(app_.GetSettings(), mode);
        QTimer::singleShot(0, &dialog, [&dialog, text] {
            EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
            Edit(dialog, text, "ok");
            // A dialog left open by a failed check must not leave the test waiting.
            if (dialog.isVisible())
                dialog.reject();
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        app_.OnRestartServer();
    }

    std::string Get(std::vector<std::string> options, const std::string& path)
    {
        options.push_back("http://127.0.0.1:" + std::to_string(sandbox_.Port()) + path);
        return servertest::RunCurl(options).out;
    }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(FileIconDialogServerTest, MimeTypeAddedInTheDialogIsTheContentTypeOfItsExtension)
{
    EditAndRestart(CFileIconDialog::kMimeTypes, "text/html html\napplication/x-tarnwick-test twt");
    EXPECT_EQ(Get({"-o", "/dev/null", "-w", "%{http_code} %{content_type}"}, "/sample.twt"),
              "200 application/x-tarnwick-test");
}

TEST_F(FileIconDialogServerTest, IconMappedInTheDialogShowsInTheIndexPage)
{
    app_.GetSetting().SetString("Path::Path_0::Options::EnableIndex", "1");
    EditAndRestart(CFileIconDialog::kFileIcons, "/icons/twt.gif .twt\n/icons/any.gif *");
    const std::string page = Get({}, "/");
    EXPECT_NE(page.find("<IMG SRC=\"/icons/twt.gif\"> <A HREF=\"sample.twt\">"), std::string::npos) << page;
}

// A root as tarnwick-make-root writes it: each editor opens on the tables the root holds,
// and one line added keeps every other type and icon, in the file and on the wire.
class FileIconDialogDefaultRootTest : public FileIconDialogServerTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sandbox_.MakeDefaultRoot());
        FileIconDialogServerTest::SetUp();
        testsupport::PutFile(sandbox_.Root() + "www/style.css", "p {}\n");
        ASSERT_EQ(::mkdir((sandbox_.Root() + "www/listed").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((sandbox_.Root() + "www/listed/sub").c_str(), 0755), 0);
        testsupport::PutFile(sandbox_.Root() + "www/listed/notes.txt", "notes\n");
        testsupport::PutFile(sandbox_.Root() + "www/listed/sample.twt", "sample\n");
    }

    // A table node as the server reads it: its entries without the editor's text.
    static std::string Entries(CConfigClass& tree, const std::string& node)
    {
        CConfigClass copy;
        copy.GetAccessor("T").CopyFrom(tree.GetAccessor(node));
        copy.GetAccessor("T").SetString("Text", "");
        return testsupport::Describe(copy, "T::");
    }

    std::string ContentType(const std::string& path)
    {
        return Get({"-o", "/dev/null", "-w", "%{http_code} %{content_type}"}, path);
    }
};

TEST_F(FileIconDialogDefaultRootTest, EditorsShowTheRootsTablesAndOkKeepsEveryEntry)
{
    CConfigClass before;
    ASSERT_EQ(before.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    const struct {
        int mode;
        const char* node;
        const char* firstLine;  // the line the editor must show first
        const char* added;
        const char* screenshot;
    } cases[] = {
        {CFileIconDialog::kMimeTypes, "Setting::MimeType", nullptr, "application/x-tarnwick-test twt",
         "file-icon-dialog-mime-default-root"},
        {CFileIconDialog::kFileIcons, "Setting::IconType", "/icons/back.gif ..", "/icons/twt.gif .twt",
         "file-icon-dialog-icon-default-root"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        CFileIconDialog dialog(app_.GetSettings(), c.mode);
        QTimer::singleShot(0, &dialog, [&] {
            SaveScreenshot(dialog, c.screenshot);
            QString text = dialog.GetEditor()->toPlainText();
            EXPECT_FALSE(text.isEmpty());
            if (c.firstLine) {
                EXPECT_TRUE(text.startsWith(ToQString(c.firstLine) + QLatin1Char('\n'))) << FromQString(text);
            }
            // An icon line goes first: the default table ends in a catch-all.
            text = c.mode == CFileIconDialog::kFileIcons ? ToQString(c.added) + QLatin1Char('\n') + text
                                                         : text + ToQString(c.added) + QLatin1Char('\n');
            dialog.GetEditor()->setPlainText(text);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            if (dialog.isVisible())
                dialog.reject();
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    }
    app_.OnRestartServer();

    CConfigClass after;
    ASSERT_EQ(after.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
    for (const auto& c : cases) {
        std::vector<std::string> added;
        SplitTableTokens(c.added, added);
        const CConfigAccessor table = after.GetAccessor(c.node);
        EXPECT_EQ(table.GetSubAccessor(added[0]).GetLeafValues(), std::vector<std::string>{added[1]}) << c.node;
        table.RemoveSection(added[0]);
        EXPECT_EQ(Entries(after, c.node), Entries(before, c.node)) << c.node;
    }

    EXPECT_EQ(ContentType("/index.html"), "200 text/html");
    EXPECT_EQ(ContentType("/style.css"), "200 text/css");
    EXPECT_EQ(ContentType("/icons/folder.gif"), "200 image/gif");
    EXPECT_EQ(ContentType("/listed/sample.twt"), "200 application/x-tarnwick-test");
    const std::string page = Get({}, "/listed/");
    EXPECT_NE(page.find("<IMG SRC=\"/icons/folder.gif\"> <A HREF=\"sub/\">"), std::string::npos) << page;
    EXPECT_NE(page.find("<IMG SRC=\"/icons/text.gif\"> <A HREF=\"notes.txt\">"), std::string::npos) << page;
    EXPECT_NE(page.find("<IMG SRC=\"/icons/twt.gif\"> <A HREF=\"sample.twt\">"), std::string::npos) << page;
}

}  // namespace
