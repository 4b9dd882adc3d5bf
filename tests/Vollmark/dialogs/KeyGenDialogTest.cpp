// The key dialog through its real widgets: what it refuses, which files it leaves after a
// success or a failure and what it tells the user; and the files it makes serving HTTPS
// from the real server to the real curl.

#include "dialogs/KeyGenDialog.h"

#include "app/ControllerApp.h"
#include "core/KeyGenerator.h"
#include "gui/QtText.h"
#include "CurlRunner.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "TempFolder.h"
#include "TextCodec.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::GetFile;
using testsupport::PutFile;

// A chooser shows at once; a server restarted with TLS answers well within this.
constexpr auto kShowLimit = 5s;
constexpr auto kServeLimit = 10s;
constexpr auto kPoll = 10ms;
const char kPassPhrase[] = "証明書のパス";
const unsigned kExclamation = gui::kMbOk | gui::kMbIconExclamation;
const unsigned kInformation = gui::kMbOk | gui::kMbIconInformation;

// Every message box as one line, so a test compares all it was shown at once.
std::string Messages(const ScriptedPrompts& prompts)
{
    std::string lines;
    for (const gui::MessageBoxPrompt& box : prompts.MessageBoxes())
        lines += box.caption + "|" + std::to_string(box.type) + "|" + box.text + "\n";
    return lines;
}

testsupport::ChildResult RunOpenssl(const std::vector<std::string>& args)
{
    return testsupport::ChildProcess("/usr/bin/openssl", args).Wait(kShowLimit);
}

// The dialog's widgets by their object names.
class DialogDriver {
public:
    explicit DialogDriver(CKeyGenDialog& dialog) : dialog_(dialog) {}

    template <class Widget>
    Widget* Find(const char* name)
    {
        auto* widget = dialog_.findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void Set(const char* name, const std::string& text) { Find<QLineEdit>(name)->setText(ToQString(text)); }
    std::string Text(const char* name) { return FromQString(Find<QLineEdit>(name)->text()); }
    void PassPhrase(const std::string& first, const std::string& again)
    {
        Set("passPhrase", first);
        Set("passPhraseAgain", again);
    }
    void Click(const char* name) { Find<QPushButton>(name)->click(); }

private:
    CKeyGenDialog& dialog_;
};

class KeyGenDialogTest : public testing::Test {
protected:
    KeyGenDialogTest()
    {
        driver_.Set("keyFile", keyFile_);
        driver_.Set("certificateFile", certificateFile_);
        driver_.Set("requestFile", requestFile_);
        driver_.PassPhrase(kPassPhrase, kPassPhrase);
        driver_.Set("commonName", "www.example.jp");
    }

    // Presses "作成", answering the one message box it shows.
    void Create(ScriptedPrompts& prompts)
    {
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        driver_.Click("create");
    }
    bool Exists(const std::string& path) const
    {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0;
    }
    std::vector<bool> Written() const { return {Exists(keyFile_), Exists(certificateFile_), Exists(requestFile_)}; }

    ScriptedPrompts prompts_;
    testsupport::TempFolder folder_;
    const std::string keyFile_ = folder_.Path() + "SSLKey/Tarnwick.pem";
    const std::string certificateFile_ = folder_.Path() + "SSLKey/Tarnwick.crt";
    const std::string requestFile_ = folder_.Path() + "SSLKey/CSR.pem";
    CControllerApp app_;
    CKeyGenDialog dialog_{app_.GetSettings()};
    DialogDriver driver_{dialog_};
};

const std::vector<bool> kNoFiles = {false, false, false};

TEST_F(KeyGenDialogTest, PassPhraseMustBeGivenTwiceAlike)
{
    const struct {
        const char* description;
        const char* first;
        const char* again;
    } cases[] = {
        {"none", "", ""}, {"no repetition", "secret", ""}, {"a repetition differing by case", "secret", "Secret"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ScriptedPrompts prompts;
        driver_.PassPhrase(c.first, c.again);
        Create(prompts);
        EXPECT_EQ(Messages(prompts), "Tarnwick|" + std::to_string(kExclamation) + "|パスワードが一致しないか、空欄です。\n");
        EXPECT_EQ(Written(), kNoFiles);
        EXPECT_NE(dialog_.result(), QDialog::Accepted);
    }
}

TEST_F(KeyGenDialogTest, CountryMustBeTwoBytes)
{
    for (const char* country : {"J", "JPN", ""}) {
        SCOPED_TRACE(country);
        ScriptedPrompts prompts;
        driver_.Set("country", country);
        Create(prompts);
        EXPECT_EQ(Messages(prompts), "Tarnwick|" + std::to_string(kExclamation) + "|国名は2文字です。\n");
        EXPECT_EQ(Written(), kNoFiles);
    }
}

TEST_F(KeyGenDialogTest, DaysThatAreNoIntegerGetTheFrameworksMessage)
{
    driver_.Set("endDays", "ten");
    Create(prompts_);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts_.MessageBoxes()[0].text, "Please enter an integer.");
    EXPECT_EQ(Written(), kNoFiles);
}

TEST_F(KeyGenDialogTest, CreatesKeyAndCertificateInANewFolderAndClosesWithOk)
{
    Create(prompts_);
    EXPECT_EQ(Messages(prompts_), "Tarnwick|" + std::to_string(kInformation) + "|秘密鍵とサイト証明書の生成に成功しました。\n");
    EXPECT_EQ(Written(), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
}

TEST_F(KeyGenDialogTest, RequestBoxAddsTheRequest)
{
    driver_.Find<QCheckBox>("makeRequest")->setChecked(true);
    Create(prompts_);
    EXPECT_EQ(Written(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(RunOpenssl({"req", "-in", requestFile_, "-verify", "-noout"}).exitCode, 0);
}

TEST_F(KeyGenDialogTest, FieldsReachTheCertificate)
{
    const struct {
        const char* name;
        const char* text;
    } fields[] = {{"state", "東京都"}, {"locality", "千代田区"}, {"organization", "テスト株式会社"},
                  {"unit", "開発部"}, {"commonName", "127.0.0.1"}, {"email", "admin@example.jp"},
                  {"startDays", "10"}, {"endDays", "20"}};
    for (const auto& field : fields)
        driver_.Set(field.name, field.text);
    Create(prompts_);
    EXPECT_EQ(RunOpenssl({"x509", "-in", certificateFile_, "-noout", "-subject", "-nameopt", "utf8"}).out,
              platform::Cp932ToUtf8("subject=C=JP, ST=東京都, L=千代田区, O=テスト株式会社, OU=開発部, CN=127.0.0.1, "
                                    "emailAddress=admin@example.jp\n"));
    // Valid from day 10 to day 20: not yet now, still in 19 days, no more in 21.
    const auto run = RunOpenssl({"verify", "-CAfile", certificateFile_, certificateFile_});
    EXPECT_NE(run.err.find("certificate is not yet valid"), std::string::npos) << run.err;
    const auto expiresWithin = [&](int days) {
        const std::string seconds = std::to_string(days * CKeyGenerator::kSecondsPerDay);
        return RunOpenssl({"x509", "-in", certificateFile_, "-noout", "-checkend", seconds}).exitCode == 1;
    };
    EXPECT_FALSE(expiresWithin(19));
    EXPECT_TRUE(expiresWithin(21));
}

TEST_F(KeyGenDialogTest, FailureNamesItsFileAndLeavesNone)
{
    PutFile(folder_.Path() + "plain", "x");
    const std::string blocked = folder_.Path() + "plain/SSLKey/file.pem";
    const std::string taken = folder_.Path() + "taken.crt";
    ASSERT_EQ(::mkdir(taken.c_str(), 0755), 0);
    const struct {
        const char* description;
        const char* field;
        std::string path;
        const char* message;
        const char* reason;
    } cases[] = {
        {"key folder under a file", "keyFile", blocked, "RSA秘密鍵の生成に失敗しました。", "cannot create "},
        {"request folder under a file", "requestFile", blocked, "認証要求ファイルの生成に失敗しました。", "cannot create "},
        {"certificate folder under a file", "certificateFile", blocked, "サイト証明書の生成に失敗しました。", "cannot create "},
        {"a folder in the certificate's place", "certificateFile", taken, "サイト証明書の生成に失敗しました。", "cannot replace "},
    };
    driver_.Find<QCheckBox>("makeRequest")->setChecked(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ScriptedPrompts prompts;
        driver_.Set("keyFile", keyFile_);
        driver_.Set("certificateFile", certificateFile_);
        driver_.Set("requestFile", requestFile_);
        driver_.Set(c.field, c.path);
        Create(prompts);
        ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
        EXPECT_EQ(prompts.MessageBoxes()[0].text, std::string(c.message) + "\r\n" + c.reason + c.path + ": " +
                                                      (c.path == blocked ? "Not a directory" : "Is a directory"));
        EXPECT_EQ(prompts.MessageBoxes()[0].type, kExclamation);
        EXPECT_EQ(Written(), kNoFiles);
        EXPECT_NE(dialog_.result(), QDialog::Accepted);
    }
}

TEST_F(KeyGenDialogTest, FilesThereAreReplacedOnlyWhenTheUserAgreesAndKeptBesideThem)
{
    const struct {
        const char* description;
        bool request;
        int answer;
    } cases[] = {
        {"declined", false, gui::kIdNo},
        {"declined, with the request", true, gui::kIdNo},
        {"agreed", false, gui::kIdYes},
        {"agreed, with the request", true, gui::kIdYes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::vector<std::string> files = {keyFile_, certificateFile_, requestFile_};
        ::mkdir((folder_.Path() + "SSLKey").c_str(), 0755);
        for (const std::string& file : files) {
            PutFile(file, "old " + file);
            ::unlink((file + ".bak").c_str());
        }
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(c.answer);
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        driver_.Find<QCheckBox>("makeRequest")->setChecked(c.request);
        dialog_.setResult(QDialog::Rejected);
        driver_.Click("create");

        ASSERT_FALSE(prompts.MessageBoxes().empty());
        const gui::MessageBoxPrompt& question = prompts.MessageBoxes()[0];
        EXPECT_EQ(question.caption + "|" + std::to_string(question.type),
                  "Tarnwick|" + std::to_string(gui::kMbYesNo | gui::kMbIconQuestion));
        EXPECT_EQ(
            question.text,
            "次のファイルはすでにあります。置き換えますか？\r\n元のファイルは、名前に .bak を付けて残します。\r\n" +
                keyFile_ + "\r\n" + certificateFile_ + (c.request ? "\r\n" + requestFile_ : ""));
        const bool agreed = c.answer == gui::kIdYes;
        EXPECT_EQ(dialog_.result() == QDialog::Accepted, agreed);
        EXPECT_EQ(prompts.MessageBoxes().size(), agreed ? 2u : 1u);
        for (const std::string& file : files) {
            const bool replaced = agreed && (file != requestFile_ || c.request);
            EXPECT_EQ(GetFile(file) == "old " + file, !replaced) << file;
            EXPECT_EQ(GetFile(file + ".bak"), replaced ? "old " + file : "") << file;
            if (replaced) {
                struct stat status {};
                ASSERT_EQ(::stat((file + ".bak").c_str(), &status), 0);
                EXPECT_EQ(status.st_mode & 07777, 0600u) << file;
            }
        }
    }
}

TEST_F(KeyGenDialogTest, BrowseOffersASaveChooserAndTakesItsChoice)
{
    const struct {
        const char* button;
        const char* field;
        const char* extension;
        const char* fileName;
    } cases[] = {{"browseKey", "keyFile", "pem", "Tarnwick.pem"},
                 {"browseCertificate", "certificateFile", "crt", "Tarnwick.crt"},
                 {"browseRequest", "requestFile", "pem", "CSR.pem"}};
    dialog_.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        const std::string chosen = platform::Utf8ToCp932(folder_.Path()) + "鍵-" + c.fileName;
        prompts_.QueueSaveFileAnswer(chosen);
        driver_.Click(c.button);
        EXPECT_EQ(driver_.Text(c.field), chosen);
        const gui::SaveFilePrompt& prompt = prompts_.SaveFilePrompts().back();
        EXPECT_EQ(prompt.defaultExtension, c.extension);
        EXPECT_EQ(prompt.initialFile, c.fileName);
    }
}

TEST_F(KeyGenDialogTest, CancelledChooserKeepsTheField)
{
    dialog_.show();
    prompts_.QueueSaveFileAnswer("");
    driver_.Click("browseKey");
    EXPECT_EQ(driver_.Text("keyFile"), keyFile_);
}

// Against the real server: its root gives the default files, which it then serves with.
class KeyGenServerTest : public testing::Test {
protected:
    std::string RootCp932() const { return platform::Utf8ToCp932(sandbox_.Root()); }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(KeyGenServerTest, DefaultsNameTheServerRootsKeyFolder)
{
    ASSERT_TRUE(app_.InitInstance());
    CKeyGenDialog dialog(app_.GetSettings());
    DialogDriver driver(dialog);
    EXPECT_EQ(dialog.windowTitle(), ToQString("公開鍵とサイト証明書の作成"));
    EXPECT_EQ(driver.Text("keyFile"), RootCp932() + "SSLKey/Tarnwick.pem");
    EXPECT_EQ(driver.Text("certificateFile"), RootCp932() + "SSLKey/Tarnwick.crt");
    EXPECT_EQ(driver.Text("requestFile"), RootCp932() + "SSLKey/CSR.pem");
    EXPECT_EQ(driver.Text("country"), "JP");
    EXPECT_EQ(driver.Text("startDays"), "0");
    EXPECT_EQ(driver.Text("endDays"), "3650");
    EXPECT_EQ(driver.Text("passPhrase"), "");
    EXPECT_FALSE(driver.Find<QCheckBox>("makeRequest")->isChecked());
    SaveScreenshot(dialog, "keygen-dialog");
    app_.ExitInstance();
}

TEST_F(KeyGenServerTest, GeneratedFilesServeHttpsThatCurlTrusts)
{
    ASSERT_TRUE(app_.InitInstance());
    PutFile(sandbox_.Root() + "www/index.html", "over TLS");
    CKeyGenDialog dialog(app_.GetSettings());
    DialogDriver driver(dialog);
    QTimer::singleShot(0, &dialog, [&] {
        driver.PassPhrase(kPassPhrase, kPassPhrase);
        driver.Set("commonName", "127.0.0.1");
        prompts_.QueueMessageBoxAnswer(gui::kIdOk);
        driver.Click("create");
    });
    QTimer::singleShot(kServeLimit, &dialog, &QDialog::reject);
    ASSERT_EQ(dialog.exec(), QDialog::Accepted) << Messages(prompts_);

    const int port = sandbox_.SecurePort();
    const CConfigAccessor& setting = app_.GetSetting();
    setting.SetInt("Basic::EnableSSL", 1);
    setting.SetInt("SSL::Port", port);
    setting.SetString("SSL::PrivateKey", "%ServerRoot%SSLKey/Tarnwick.pem");
    setting.SetString("SSL::Certificate", "%ServerRoot%SSLKey/Tarnwick.crt");
    setting.SetString("SSL::Password", kPassPhrase);
    ASSERT_TRUE(app_.SaveSettings());
    app_.OnRestartServer();

    const std::vector<std::string> args = {"--cacert", sandbox_.Root() + "SSLKey/Tarnwick.crt",
                                           "https://127.0.0.1:" + std::to_string(port) + "/index.html"};
    const auto deadline = std::chrono::steady_clock::now() + kServeLimit;
    servertest::CurlResult run = servertest::RunCurl(args);
    while (run.exitCode != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPoll);
        run = servertest::RunCurl(args);
    }
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "over TLS");
    app_.ExitInstance();
}

}  // namespace
