// The users dialog and its import dialog through their real widgets: what the lists hold,
// where added, moved and imported accounts go, what OK writes and Cancel keeps, and that
// the server lets an added user in.

#include "dialogs/UserDialog.h"

#include "app/ControllerApp.h"
#include "controls/ReportListCtrl.h"
#include "gui/QtText.h"
#include "Screenshot.h"
#include "ModalDriver.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "ConfigClass.h"
#include "ConfigTreeText.h"
#include "CurlRunner.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kColonText[] = "ユーザー名に「:」は使用できません。";
const unsigned kStop = gui::kMbOk | gui::kMbIconStop;
const unsigned kExclamation = gui::kMbOk | gui::kMbIconExclamation;
const unsigned kYesNo = gui::kMbYesNo | gui::kMbIconQuestion;
const char kImportQuestion[] =
    "次のユーザーはすでに登録されています。置き換えますか？\r\n"
    "「いいえ」を選ぶと、これらのユーザーは読み込みません。\r\n";

// The one message box shown, with the application's title as its caption.
void ExpectOneBox(const ScriptedPrompts& prompts, unsigned type, const std::string& text)
{
    ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
    const gui::MessageBoxPrompt& box = prompts.MessageBoxes()[0];
    EXPECT_EQ(box.caption, "Vollmark");
    EXPECT_EQ(box.type, type);
    EXPECT_EQ(box.text, text);
}

template <class Widget>
Widget* Find(QWidget& dialog, const char* name)
{
    auto* widget = dialog.findChild<Widget*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

void Click(QWidget& dialog, const char* name) { QTest::mouseClick(Find<QAbstractButton>(dialog, name), Qt::LeftButton); }

void SetText(QWidget& dialog, const char* name, const std::string& text)
{
    Find<QLineEdit>(dialog, name)->setText(ToQString(text));
}

void Select(QWidget& dialog, const char* list, int row) { Find<CReportListCtrl>(dialog, list)->SelectRow(row); }

// "key|column...|*hidden...;" a row, in list order.
std::string Rows(QWidget& dialog, const char* list)
{
    std::string text;
    const CReportListCtrl* rows = Find<CReportListCtrl>(dialog, list);
    for (int i = 0; i < rows->GetRowCount(); ++i) {
        const CReportRow& row = rows->GetRow(i);
        text += row.key;
        for (const std::string& column : row.columns)
            text += "|" + column;
        for (const std::string& hidden : row.hidden)
            text += "|*" + hidden;
        text += ";";
    }
    return text;
}

class UserDialogTest : public testing::Test {
protected:
    UserDialogTest()
    {
        app_.GetSettings().Load(Root());
        Account("User::Enable::User_0", "bob", "pw-b", "営業");
        Account("User::Enable::User_1", "alice", "pw-a", "");
        Account("User::Disable::carol", "carol", "pw-c", "休職");
    }
    void TearDown() override { EXPECT_EQ(prompts_.Unexpected(), 0); }

    std::string Root() const { return platform::Utf8ToCp932(folder_.Path()); }
    void Account(const std::string& node, const std::string& name, const std::string& password,
                 const std::string& comment)
    {
        const CConfigAccessor account = app_.GetSetting().GetSubAccessor(node);
        account.SetString("User", name);
        account.SetString("Passwd", password);
        account.SetString("Comment", comment);
    }
    // A file in the scratch folder, for the import dialog to open; its CP932 path.
    std::string PutUserFile(const std::string& name, const std::string& bytes)
    {
        testsupport::PutFile(folder_.Path() + name, bytes);
        return Root() + name;
    }
    void Import(CUserDialog& dialog, const std::string& file, bool ok)
    {
        WhenModalOpens<QDialog>([this, file, ok](QDialog& import) {
            prompts_.QueueFileAnswer(file);
            Click(import, "open");
            Click(import, ok ? "ok" : "cancel");
        });
        Click(dialog, "import");
    }
    // The rows the import dialog shows for a file of these bytes.
    std::string ImportRows(const std::string& bytes)
    {
        CUserImportDialog dialog;
        dialog.ImportFile(PutUserFile("users.csv", bytes));
        return Rows(dialog, "importList");
    }
    std::string Stored() { return testsupport::Describe(app_.GetSettings().GetTree(), "Setting::User"); }

    testsupport::TempFolder folder_;
    ScriptedPrompts prompts_;
    CControllerApp app_;
};

TEST_F(UserDialogTest, LoadUsersFillsBothListsSortedFromTheLeavesWithPasswordsHidden)
{
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    EXPECT_EQ(FromQString(dialog.windowTitle()), "ユーザー設定");
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "alice||*pw-a;bob|営業|*pw-b;");
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "carol|休職|*pw-c;");
    EXPECT_EQ(Find<CReportListCtrl>(dialog, "enabledUsers")->columnCount(), 2);
}

TEST_F(UserDialogTest, AddRefusesAnEmptyNameAndOneHoldingTheSeparator)
{
    const struct {
        const char* description;
        const char* name;
        unsigned type;
        const char* message;
    } cases[] = {
        {"empty", "", gui::kMbOk, "ユーザー名を入力してください。"},
        // RFC 7617 2: the user-id ends at the first colon.
        {"colon", "a:b", kStop, kColonText},
        {"the settings separator", "a::b", kStop, kColonText},
        {"colon at the end", "alice:", kStop, kColonText},
    };
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        CUserDialog dialog(app_.GetSettings());
        dialog.show();
        SetText(dialog, "userName", c.name);
        SetText(dialog, "password", "pw");
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        Click(dialog, "add");
        SCOPED_TRACE(c.description);
        ExpectOneBox(prompts, c.type, c.message);
        EXPECT_EQ(Rows(dialog, "enabledUsers"), "alice||*pw-a;bob|営業|*pw-b;");
    }
}

TEST_F(UserDialogTest, AddUpdatesADisabledUserThereAndPutsANewOneAmongTheEnabled)
{
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    const std::pair<const char*, const char*> adds[] = {{"carol", "new-c"}, {"Dave", "pw-d"}};
    for (const auto& [name, password] : adds) {
        SetText(dialog, "userName", name);
        SetText(dialog, "password", password);
        SetText(dialog, "comment", "c");
        Click(dialog, "add");
    }
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "carol|c|*new-c;");
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "Dave|c|*pw-d;alice||*pw-a;bob|営業|*pw-b;");
    EXPECT_EQ(FromQString(Find<QLineEdit>(dialog, "userName")->text()), "Dave");
    EXPECT_EQ(Find<QLineEdit>(dialog, "password")->echoMode(), QLineEdit::Password);
}

TEST_F(UserDialogTest, AddOfAListedNameReplacesItOnlyWhenTheUserAgrees)
{
    const struct {
        const char* description;
        const char* name;
        int answer;
        const char* enabled;
        const char* disabled;
    } cases[] = {
        {"enabled, yes", "alice", gui::kIdYes, "alice|new|*pw-new;bob|営業|*pw-b;", "carol|休職|*pw-c;"},
        {"enabled, no", "alice", gui::kIdNo, "alice||*pw-a;bob|営業|*pw-b;", "carol|休職|*pw-c;"},
        {"disabled, yes", "carol", gui::kIdYes, "alice||*pw-a;bob|営業|*pw-b;", "carol|new|*pw-new;"},
        {"disabled, no", "carol", gui::kIdNo, "alice||*pw-a;bob|営業|*pw-b;", "carol|休職|*pw-c;"},
        // Names are told apart by their bytes, as the server compares them.
        {"another case is another name", "Alice", 0, "Alice|new|*pw-new;alice||*pw-a;bob|営業|*pw-b;",
         "carol|休職|*pw-c;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ScriptedPrompts prompts;
        CUserDialog dialog(app_.GetSettings());
        dialog.show();
        SetText(dialog, "userName", c.name);
        SetText(dialog, "password", "pw-new");
        SetText(dialog, "comment", "new");
        if (c.answer != 0)
            prompts.QueueMessageBoxAnswer(c.answer);
        Click(dialog, "add");
        if (c.answer != 0)
            ExpectOneBox(prompts, kYesNo,
                         "ユーザー「" + std::string(c.name) + "」はすでに登録されています。置き換えますか？");
        else
            EXPECT_TRUE(prompts.MessageBoxes().empty());
        EXPECT_EQ(Rows(dialog, "enabledUsers"), c.enabled);
        EXPECT_EQ(Rows(dialog, "disabledUsers"), c.disabled);
        if (std::string(c.description) == "enabled, yes")
            SaveScreenshot(dialog, "user-dialog-replaced");
    }
}

TEST_F(UserDialogTest, DeleteRemovesTheSelectedRowOfEachList)
{
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    Select(dialog, "enabledUsers", 1);
    Select(dialog, "disabledUsers", 0);
    Click(dialog, "delete");
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "alice||*pw-a;");
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "");
}

TEST_F(UserDialogTest, ArrowsMoveTheSelectedRowsReplacingAnEqualName)
{
    Account("User::Disable::alice", "alice", "old", "");
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    Select(dialog, "enabledUsers", 0);
    Click(dialog, "disableUsers");
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "bob|営業|*pw-b;");
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "alice||*pw-a;carol|休職|*pw-c;");
    Select(dialog, "disabledUsers", 1);
    Click(dialog, "enableUsers");
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "bob|営業|*pw-b;carol|休職|*pw-c;");
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "alice||*pw-a;");
}

TEST_F(UserDialogTest, ImportKeepsADisabledNameDisabledAndEnablesTheOthers)
{
    const std::string file = PutUserFile("users.csv", "carol,new-c,戻る\nDave\tpw-d\nerin\n");
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    prompts_.QueueMessageBoxAnswer(gui::kIdYes);
    Import(dialog, file, true);
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "carol|戻る|*new-c;");
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "Dave||*pw-d;alice||*pw-a;bob|営業|*pw-b;");
    ASSERT_EQ(prompts_.FilePrompts().size(), 1u);
    const gui::OpenFilePrompt& prompt = prompts_.FilePrompts()[0];
    EXPECT_EQ(prompt.title, "Open File");
    ASSERT_EQ(prompt.filters.size(), 2u);
    EXPECT_EQ(prompt.filters[0].description + prompt.filters[0].pattern, "CSVファイル (*.csv)*.csv");
    EXPECT_EQ(prompt.filters[1].description + prompt.filters[1].pattern, "テキストファイル (*.txt)*.txt");
}

TEST_F(UserDialogTest, CancelledImportTakesNothing)
{
    const std::string file = PutUserFile("users.csv", "dave,pw\n");
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    Import(dialog, file, false);
    EXPECT_EQ(Rows(dialog, "enabledUsers"), "alice||*pw-a;bob|営業|*pw-b;");
}

TEST_F(UserDialogTest, ImportDialogShowsTheFileInWhateverEncoding)
{
    const std::string cp932 = "山田,パス1,営業\r\n佐藤\tパス2\n";
    EXPECT_EQ(ImportRows(cp932), "佐藤|パス2|;山田|パス1|営業;") << "Shift-JIS";
    EXPECT_EQ(ImportRows(platform::Cp932ToUtf8(cp932)), "佐藤|パス2|;山田|パス1|営業;") << "UTF-8";
}

TEST_F(UserDialogTest, ImportAsksOnceBeforeReplacingListedUsers)
{
    const struct {
        const char* description;
        int answer;
        const char* enabled;
        const char* disabled;
    } cases[] = {
        {"replace", gui::kIdYes, "Dave||*pw-d;alice|dup|*newpass;bob|営業|*pw-b;", "carol|戻る|*new-c;"},
        {"skip", gui::kIdNo, "Dave||*pw-d;alice||*pw-a;bob|営業|*pw-b;", "carol|休職|*pw-c;"},
    };
    const std::string file = PutUserFile("users.csv", "alice,newpass,dup\ncarol,new-c,戻る\nDave\tpw-d\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ScriptedPrompts prompts;
        CUserDialog dialog(app_.GetSettings());
        dialog.show();
        prompts.QueueMessageBoxAnswer(c.answer);
        WhenModalOpens<QDialog>([&prompts, file](QDialog& import) {
            prompts.QueueFileAnswer(file);
            Click(import, "open");
            Click(import, "ok");
        });
        Click(dialog, "import");
        ExpectOneBox(prompts, kYesNo, std::string(kImportQuestion) + "alice, carol");
        EXPECT_EQ(Rows(dialog, "enabledUsers"), c.enabled);
        EXPECT_EQ(Rows(dialog, "disabledUsers"), c.disabled);
    }
}

TEST_F(UserDialogTest, ImportDialogLeavesOutRefusedLinesAndNamesThemInOneMessage)
{
    const struct {
        const char* description;
        std::string bytes;
        const char* rows;
        std::string message;
    } cases[] = {
        {"colons", "a::b,pw\nok,pw\nc:d,pw\n", "ok|pw|;",
         "ユーザー名に「:」を含むため、次の行は読み込みませんでした。\r\n行: 1, 3"},
        {"a character Shift-JIS lacks, in UTF-8",
         platform::Cp932ToUtf8("山田,パス,営業\n") + "euro\xE2\x82\xAC,x,bad\n", "山田|パス|営業;",
         "Shift-JISで表せない文字を含むため、次の行は読み込みませんでした。\r\n行: 2"},
        {"both", "x\xFD,pw\na:b,pw\nok,pw\n\x82,pw\n", "ok|pw|;",
         "Shift-JISで表せない文字を含むため、次の行は読み込みませんでした。\r\n行: 1, 4\r\n\r\n"
         "ユーザー名に「:」を含むため、次の行は読み込みませんでした。\r\n行: 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        EXPECT_EQ(ImportRows(c.bytes), c.rows);
        ExpectOneBox(prompts, kExclamation, c.message);
    }
}

TEST_F(UserDialogTest, ImportDialogNamesAtMostSoManyLines)
{
    std::string bytes;
    for (int line = 0; line < 25; ++line)
        bytes += "u:" + std::to_string(line) + ",pw\n";
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    EXPECT_EQ(ImportRows(bytes), "");
    ExpectOneBox(
        prompts_, kExclamation,
        "ユーザー名に「:」を含むため、次の行は読み込みませんでした。\r\n行: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, "
        "12, 13, 14, 15, 16, 17, 18, 19, 20 ほか 5 件");
}

TEST_F(UserDialogTest, ImportDialogEmptiesItsListForAFileThatCannotBeRead)
{
    CUserImportDialog dialog;
    dialog.ImportFile(PutUserFile("users.csv", "a,1\n"));
    dialog.ImportFile(Root() + "missing.csv");
    EXPECT_EQ(Rows(dialog, "importList"), "");
}

TEST_F(UserDialogTest, OkWritesBothNodesWholeInByteOrderToTheFile)
{
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    SetText(dialog, "userName", "Zed");
    SetText(dialog, "password", "pw-z");
    Click(dialog, "add");
    Click(dialog, "ok");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    CConfigClass saved;
    ASSERT_EQ(saved.LoadXml(Root() + "Tarnwick.xml"), 0);
    EXPECT_EQ(testsupport::Describe(saved, "Setting::User"),
              "Tarnwick{User{Enable{Zed{User=Zed;Passwd=pw-z;Comment=;}alice{User=alice;Passwd=pw-a;Comment=;}"
              "bob{User=bob;Passwd=pw-b;Comment=営業;}}Disable{carol{User=carol;Passwd=pw-c;Comment=休職;}}}}");
    EXPECT_EQ(app_.IsSettingsChanged(), 1);
}

TEST_F(UserDialogTest, OkLeavesOutANameTheTreeCannotHold)
{
    Account("User::Disable::User_9", "x::y", "pw", "");
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    EXPECT_EQ(Rows(dialog, "disabledUsers"), "carol|休職|*pw-c;x::y||*pw;");
    Click(dialog, "ok");
    EXPECT_EQ(Stored(), "Tarnwick{User{Enable{alice{User=alice;Passwd=pw-a;Comment=;}bob{User=bob;Passwd=pw-b;"
                        "Comment=営業;}}Disable{carol{User=carol;Passwd=pw-c;Comment=休職;}}}}");
}

TEST_F(UserDialogTest, CancelLeavesTheSettingsAndTheFileUntouched)
{
    ASSERT_TRUE(app_.SaveSettings());
    const std::string file = testsupport::GetFile(folder_.Path() + "Tarnwick.xml");
    const std::string before = Stored();
    CUserDialog dialog(app_.GetSettings());
    dialog.show();
    SetText(dialog, "userName", "dave");
    Click(dialog, "add");
    Select(dialog, "enabledUsers", 0);
    Click(dialog, "delete");
    Import(dialog, PutUserFile("users.csv", "erin,pw\n"), true);
    Click(dialog, "cancel");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(testsupport::GetFile(folder_.Path() + "Tarnwick.xml"), file);
}

TEST_F(UserDialogTest, BothDialogsAreReadable)
{
    const std::string file = PutUserFile("users.csv", "山田太郎,secret,営業部\nsuzuki,pass,経理\n");
    CUserDialog dialog(app_.GetSettings());
    SaveScreenshot(dialog, "user-dialog");
    WhenModalOpens<QDialog>([&](QDialog& import) {
        prompts_.QueueFileAnswer(file);
        Click(import, "open");
        EXPECT_EQ(FromQString(import.windowTitle()), "インポート");
        SaveScreenshot(import, "user-import-dialog");
    });
    Click(dialog, "import");
}

// The whole road: an account added in the dialog reaches the file, and after a restart the
// server asks a protected path for it.
class UserDialogServerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.InitInstance()); }
    void TearDown() override { app_.ExitInstance(); }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(UserDialogServerTest, AddedUserLogsInAfterARestart)
{
    testsupport::PutFile(sandbox_.Root() + "www/index.html", "<p>hello</p>\n");
    CUserDialog dialog(app_.GetSettings());
    WhenModalOpens<QDialog>([](QDialog& users) {
        SetText(users, "userName", "hanako");
        SetText(users, "password", "秘密");
        Click(users, "add");
        Click(users, "ok");
    });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    const CConfigAccessor entry = app_.GetSetting().GetSubAccessor("Path::Path_0");
    entry.SetInt("Options::EnableAuthenticate", 1);
    entry.SetString("Users::hanako", "hanako");
    ASSERT_TRUE(app_.SaveSettings());
    app_.OnRestartServer();

    const auto status = [this](std::vector<std::string> extra) {
        extra.insert(extra.end(), {"-o", "/dev/null", "-w", "%{http_code}",
                                   "http://127.0.0.1:" + std::to_string(sandbox_.Port()) + "/index.html"});
        return servertest::RunCurl(extra).out;
    };
    EXPECT_EQ(status({"-u", "hanako:秘密"}), "200");
    EXPECT_EQ(status({}), "401");
    EXPECT_EQ(status({"-u", "hanako:wrong"}), "401");
}

TEST_F(UserDialogServerTest, ImportReplacesOnlyWhatTheUserAgreedToAndRefusesWhatCannotLogIn)
{
    testsupport::PutFile(sandbox_.Root() + "www/index.html", "<p>hello</p>\n");
    const CConfigAccessor setting = app_.GetSetting();
    const CConfigAccessor alice = setting.GetSubAccessor("User::Enable::alice");
    alice.SetString("User", "alice");
    alice.SetString("Passwd", "pw-a");
    alice.SetString("Comment", "");
    const CConfigAccessor entry = setting.GetSubAccessor("Path::Path_0");
    entry.SetInt("Options::EnableAuthenticate", 1);
    for (const char* name : {"alice", "hanako"})
        entry.SetString(std::string("Users::") + name, name);
    ASSERT_TRUE(app_.SaveSettings());
    // An editor's UTF-8: the euro sign has no Shift-JIS form, and no Basic credentials can
    // carry a name with a colon.
    const std::string users = sandbox_.Root() + "users.csv";
    testsupport::PutFile(
        users, platform::Cp932ToUtf8("alice,newpass,dup\nhanako,秘密,新人\n") + "euro\xE2\x82\xAC,x,bad\nx:y,pw\n");
    const std::string before = testsupport::GetFile(sandbox_.SettingsFile());

    const struct {
        const char* description;
        int answer;
        const char* alicePassword;
    } cases[] = {{"skip", gui::kIdNo, "pw-a"}, {"replace", gui::kIdYes, "newpass"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        testsupport::PutFile(sandbox_.SettingsFile(), before);
        app_.GetSettings().Load(platform::Utf8ToCp932(sandbox_.Root()));
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdOk);  // the lines left out
        prompts.QueueMessageBoxAnswer(c.answer);    // alice is listed already
        prompts.QueueFileAnswer(platform::Utf8ToCp932(users));
        CUserDialog dialog(app_.GetSettings());
        WhenModalOpens<QDialog>([&](QDialog& shown) {
            WhenModalOpens<QDialog>([&](QDialog& import) {
                Click(import, "open");
                SaveScreenshot(import, std::string("user-import-refused-") + c.description);
                Click(import, "ok");
            });
            Click(shown, "import");
            SaveScreenshot(shown, std::string("user-dialog-imported-") + c.description);
            Click(shown, "ok");
        });
        ASSERT_EQ(dialog.exec(), QDialog::Accepted);
        ASSERT_EQ(prompts.MessageBoxes().size(), 2u);
        EXPECT_EQ(prompts.MessageBoxes()[0].text,
                  "Shift-JISで表せない文字を含むため、次の行は読み込みませんでした。\r\n行: 3\r\n\r\n"
                  "ユーザー名に「:」を含むため、次の行は読み込みませんでした。\r\n行: 4");
        EXPECT_EQ(prompts.MessageBoxes()[1].type, kYesNo);

        // The file is the one before with hanako added and, only when agreed, alice's password.
        CConfigClass beforeTree;
        CConfigClass written;
        testsupport::PutFile(sandbox_.Root() + "before.xml", before);
        ASSERT_EQ(beforeTree.LoadXml(platform::Utf8ToCp932(sandbox_.Root() + "before.xml")), 0);
        ASSERT_EQ(written.LoadXml(platform::Utf8ToCp932(sandbox_.SettingsFile())), 0);
        beforeTree.SetValue("Setting::User::Enable::alice::Passwd", c.alicePassword);
        beforeTree.SetValue("Setting::User::Enable::alice::Comment", c.answer == gui::kIdYes ? "dup" : "");
        for (const auto& [key, value] :
             {std::pair<const char*, const char*>{"User", "hanako"}, {"Passwd", "秘密"}, {"Comment", "新人"}})
            beforeTree.SetValue(std::string("Setting::User::Enable::hanako::") + key, value);
        EXPECT_EQ(testsupport::Describe(written), testsupport::Describe(beforeTree));

        app_.OnRestartServer();
        const auto status = [this](const std::string& credentials) {
            return servertest::RunCurl({"-u", credentials, "-o", "/dev/null", "-w", "%{http_code}",
                                        "http://127.0.0.1:" + std::to_string(sandbox_.Port()) + "/index.html"})
                .out;
        };
        EXPECT_EQ(status(std::string("alice:") + c.alicePassword), "200");
        EXPECT_EQ(status(std::string("alice:") + (c.answer == gui::kIdYes ? "pw-a" : "newpass")), "401");
        EXPECT_EQ(status("hanako:秘密"), "200");
    }
}

}  // namespace
