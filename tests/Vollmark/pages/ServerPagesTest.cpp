// The sheet "サーバ基本設定" over the live settings of a controller bound to a sandboxed
// server, driven through its real widgets: what each page shows and stores, what keeps it
// in front, and what reaches Tarnwick.xml.

#include "pages/ServerPages.h"

#include "app/ControllerApp.h"
#include "core/KeyGenerator.h"
#include "dialogs/KeyGenDialog.h"
#include "gui/QtText.h"
#include "pages/SettingsSheet.h"
#include "CurlRunner.h"
#include "ModalDriver.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"
#include "SheetDriver.h"

#include "ConfigTreeText.h"
#include "ScopedEnvironment.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Rows = std::vector<std::string>;

enum Page { kNetworkPage, kIndexPage, kLogPage, kSslPage };
// How often a test looks for a modal dialog to close.
constexpr int kLookMs = 10;
const Rows kIndexRows = {"index.html", "index.htm", "default.htm"};
const std::string kIndexLeaves = "{index.html=index.html;index.htm=index.htm;default.htm=default.htm;}";

// Every message box shown, "caption|type|text" a line.
std::string Messages(const ScriptedPrompts& prompts)
{
    std::string lines;
    for (const gui::MessageBoxPrompt& box : prompts.MessageBoxes())
        lines += box.caption + "|" + std::to_string(box.type) + "|" + box.text + "\n";
    return lines;
}

std::string Refusal(const std::string& text)
{
    return "Vollmark|" + std::to_string(gui::kMbOk | gui::kMbIconExclamation) + "|" + text + "\n";
}

// The sheet as the settings menu builds it.
class ServerSheet : public SheetDriver {
public:
    explicit ServerSheet(CControllerApp& app) : SheetDriver("サーバ基本設定")
    {
        Sheet().AddPage(new CServerPage1(app.GetSetting()));
        Sheet().AddPage(new CServerPage2(app.GetSetting()));
        Sheet().AddPage(new CServerPage3(app.GetSetting()));
        Sheet().AddPage(new CServerPage4(app.GetSettings()));
    }
};

class ServerPagesTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.InitInstance());
        Setting().Clear();
    }
    void TearDown() override
    {
        EXPECT_EQ(prompts_.Unexpected(), 0);
        app_.ExitInstance();
    }

    const CConfigAccessor& Setting() const { return app_.GetSetting(); }
    // The "Setting" node, or the node of that name in it.
    std::string Stored(const std::string& node = "")
    {
        return testsupport::Describe(app_.GetSettings().GetTree(), "Setting::" + (node.empty() ? "" : node + "::"));
    }
    void StoreIndex()
    {
        for (const std::string& name : kIndexRows)
            Setting().SetString("Index::" + name, name);
    }

    // Runs the sheet as the settings menu does, `act` working on it once it is open. The
    // sheet is closed afterwards whatever `act` did or failed, so no test waits on it.
    int RunSheet(ServerSheet& sheet, std::function<void(ServerSheet&)> act)
    {
        QTimer::singleShot(0, &sheet.Sheet(), [&sheet, act] {
            act(sheet);
            if (sheet.Sheet().isVisible())
                sheet.Sheet().PressCancel();
        });
        return RunSettingsSheet(app_.GetSettings(), sheet.Sheet());
    }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(ServerPagesTest, EmptySettingsShowThePageDefaultsAndLeavingStoresEveryField)
{
    ServerSheet sheet(app_);
    for (int page = 0; page < sheet.Sheet().GetPageCount(); ++page)
        ASSERT_TRUE(sheet.Show(page));
    EXPECT_EQ(sheet.Find<QLineEdit>("password")->echoMode(), QLineEdit::Password);
    ASSERT_TRUE(sheet.Sheet().PressOk());
    // A page stores what its fields show.
    EXPECT_EQ(Stored(),
              "Tarnwick{Basic{Port=80;MaxConnect=50;TimeOut=300;EnableKeepAlive=1;MaxKeepAlive=5;KeepAliveTime=20;"
              "MaxOneHostConnect=0;EnableSSL=0;}"
              "Log{LogFilePath=%ServerRoot%Logs/%Year%%Month%%Day%.txt;"
              "LogFormatNoTime=[%Time%] <%Host%> (%RecvSize%,%SendSize%) [%Info%] %Method% %Object%;"
              "SystemLogFilePath=%ServerRoot%Logs/SystemLog.txt;}"
              "SSL{Port=443;PrivateKey=%ServerRoot%SSLKey/Tarnwick.pem;Password=wemp;"
              "Certificate=%ServerRoot%SSLKey/Tarnwick.crt;}}");
}

TEST_F(ServerPagesTest, NumberFieldsOutsideTheirRangeKeepThePage)
{
    const std::string kPositive = Refusal("Please enter a positive integer.");
    const std::string kOneUp = Refusal("Please enter an integer between 1 and 65535.");
    const struct {
        const char* description;
        Page page;
        const char* field;
        const char* text;
        std::string message;  // "" when the page lets go
    } cases[] = {
        {"port 0 on the network page", kNetworkPage, "port", "0", kOneUp},
        {"port 65536", kNetworkPage, "port", "65536", kOneUp},
        {"time-out 4", kNetworkPage, "timeOut", "4", Refusal("Please enter an integer between 5 and 65535.")},
        {"time-out 5", kNetworkPage, "timeOut", "5", ""},
        {"connections not a number", kNetworkPage, "maxConnect", "abc", kPositive},
        {"per host negative", kNetworkPage, "maxOneHostConnect", "-1", kPositive},
        {"keep-alive requests 0", kNetworkPage, "maxKeepAlive", "0", kOneUp},
        {"keep-alive seconds empty", kNetworkPage, "keepAliveTime", "", kPositive},
        {"port 0 on the HTTPS page", kSslPage, "sslPort", "0", ""},
        {"HTTPS port 65536", kSslPage, "sslPort", "65536", Refusal("Please enter an integer between 0 and 65535.")},
    };
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        ServerSheet sheet(app_);
        sheet.Show(c.page);
        sheet.SetText(c.field, c.text);
        EXPECT_EQ(sheet.Show(kIndexPage), c.message.empty()) << c.description;
        EXPECT_EQ(sheet.Sheet().GetActiveIndex(), c.message.empty() ? kIndexPage : c.page) << c.description;
        EXPECT_EQ(Messages(prompts), c.message) << c.description;
    }
}

TEST_F(ServerPagesTest, IndexAddKeepsOneRowPerNameInItsPlaceAndRefusesBadNames)
{
    StoreIndex();
    ServerSheet sheet(app_);
    sheet.Show(kIndexPage);
    EXPECT_EQ(sheet.RowsOf("indexList"), kIndexRows);
    for (const char* name : {"index.htm", " home.html", "", "a::b"}) {
        sheet.SetText("indexName", name);
        prompts_.QueueMessageBoxAnswer(gui::kIdOk);
        sheet.Click("add");
    }
    EXPECT_EQ(Messages(prompts_), "Vollmark|0|名前が入力されていません。\n"
                                  "Vollmark|16|名前に「::」は使用できません。\n");
    ASSERT_TRUE(sheet.Sheet().PressOk());
    EXPECT_EQ(Stored("Index"),
              "Tarnwick{index.html=index.html;index.htm=index.htm;default.htm=default.htm; home.html= home.html;}");
}

TEST_F(ServerPagesTest, IndexDeleteAndMovesKeepTheOrder)
{
    const struct {
        const char* description;
        std::vector<int> selected;
        const char* button;
        Rows rows;
        int selectedAfter;  // the first selected row afterwards
    } cases[] = {
        {"delete the middle", {1}, "delete", {"index.html", "default.htm"}, -1},
        {"delete the ends", {0, 2}, "delete", {"index.htm"}, -1},
        {"up on the first", {0}, "up", kIndexRows, 0},
        {"down on the last", {2}, "down", kIndexRows, 2},
        {"up with none selected", {}, "up", kIndexRows, -1},
        {"up on the last", {2}, "up", {"index.html", "default.htm", "index.htm"}, 1},
        {"down on the first", {0}, "down", {"index.htm", "index.html", "default.htm"}, 1},
    };
    StoreIndex();
    for (const auto& c : cases) {
        ServerSheet sheet(app_);
        sheet.Show(kIndexPage);
        sheet.Select("indexList", c.selected);
        sheet.Click(c.button);
        EXPECT_EQ(sheet.RowsOf("indexList"), c.rows) << c.description;
        EXPECT_EQ(sheet.Find<CReportListCtrl>("indexList")->GetFirstSelected(), c.selectedAfter) << c.description;
    }
}

TEST_F(ServerPagesTest, LogButtonsPutTheirTextsAndStoreNothing)
{
    const struct {
        const char* button;
        const char* field;
        const char* text;
    } cases[] = {
        {"logFilePathDefault", "logFilePath", "%ServerRoot%Logs/%Year%%Month%%Day%.txt"},
        {"logFormatDefault", "logFormat", "[%Time%] <%Host%> (%RecvSize%,%SendSize%) [%Info%] %Method% %Object%"},
        {"systemLogFilePathDefault", "systemLogFilePath", "%ServerRoot%Logs/SystemLog.txt"},
    };
    Setting().SetString("Log::LogFilePath", "a");
    ServerSheet sheet(app_);
    sheet.Show(kLogPage);
    for (const auto& c : cases) {
        sheet.SetText(c.field, "edited");
        sheet.Click(c.button);
        EXPECT_EQ(sheet.Text(c.field), c.text) << c.button;
    }
    EXPECT_EQ(Stored("Log"), "Tarnwick{LogFilePath=a;}");
}

// The log's time stamps are local time: the format's zone is the machine's, not Japan's.
TEST_F(ServerPagesTest, ApacheFormatCarriesTheMachinesUtcOffset)
{
    const struct {
        const char* zone;
        const char* offset;
    } cases[] = {
        {"UTC", "+0000"},
        {"Asia/Tokyo", "+0900"},
        {"Asia/Kolkata", "+0530"},
        {"<-0330>3:30", "-0330"},  // fixed, whatever the date
    };
    ServerSheet sheet(app_);
    sheet.Show(kLogPage);
    for (const auto& c : cases) {
        const testsupport::ScopedTimeZone zone(c.zone);
        sheet.SetText("logFormat", "edited");
        sheet.Click("apacheFormat");
        EXPECT_EQ(sheet.Text("logFormat"),
                  "%Host% - %User% [%Day%/%MonthString%/%Year%:%Time% " + std::string(c.offset) +
                      "] \"%Method% %Object% HTTP/%Version%\" %ResponseCode% %SendSize% \"%Referer%\" \"%User-Agent%\"")
            << c.zone;
        if (std::string(c.zone) == "UTC") {
            // Scrolled to the zone, for the picture.
            QLineEdit* format = sheet.Find<QLineEdit>("logFormat");
            format->setCursorPosition(static_cast<int>(format->text().indexOf(QLatin1String(c.offset))) + 6);
            SaveScreenshot(sheet.Sheet(), "server-log-page-apache-utc");
        }
    }
}

TEST_F(ServerPagesTest, ResetThenCancelLeavesTheLiveSettingsAndTheFile)
{
    Setting().SetString("Log::LogFilePath", "%ServerRoot%日誌.txt");
    StoreIndex();
    ASSERT_TRUE(app_.SaveSettings());
    const std::string before = testsupport::GetFile(sandbox_.SettingsFile());
    ServerSheet sheet(app_);
    const int result = RunSheet(sheet, [](ServerSheet& s) {
        s.Show(kLogPage);
        s.Click("logFilePathDefault");
        ASSERT_TRUE(s.Show(kIndexPage));
        s.Select("indexList", {0});
        s.Click("delete");
        ASSERT_TRUE(s.Show(kNetworkPage));
        s.Sheet().PressCancel();
    });
    EXPECT_EQ(result, gui::kIdCancel);
    EXPECT_EQ(Stored(), "Tarnwick{Log{LogFilePath=%ServerRoot%日誌.txt;}Index" + kIndexLeaves + "}");
    EXPECT_EQ(testsupport::GetFile(sandbox_.SettingsFile()), before);
}

TEST_F(ServerPagesTest, BrowseOffersKeyOrCertificateFilesFromTheFieldAndTakesTheChoice)
{
    const std::string kPem = "PEMファイル (*.pem)=*.pem;全てのファイル (*.*)=*.*;";
    const struct {
        const char* button;
        const char* field;
        std::string filters;
    } cases[] = {{"browseKey", "privateKey", kPem},
                 {"browseCertificate", "certificate", "CRTファイル (*.crt)=*.crt;" + kPem}};
    ServerSheet sheet(app_);
    sheet.Show(kSslPage);
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        // The chooser opens where the field points, %ServerRoot% expanded.
        sheet.SetText(c.field, "%ServerRoot%keys/old");
        prompts.QueueFileAnswer("/keys/新しい");
        sheet.Click(c.button);
        prompts.QueueFileAnswer("");
        sheet.Click(c.button);
        EXPECT_EQ(sheet.Text(c.field), "/keys/新しい") << c.button;
        ASSERT_EQ(prompts.FilePrompts().size(), 2u) << c.button;
        const gui::OpenFilePrompt& first = prompts.FilePrompts()[0];
        std::string filters;
        for (const gui::FileFilter& filter : first.filters)
            filters += filter.description + "=" + filter.pattern + ";";
        EXPECT_EQ(first.title + "|" + first.initialFile + "|" + filters,
                  "Open File|" + platform::Utf8ToCp932(sandbox_.Root()) + "keys/old|" + c.filters);
    }
}

TEST_F(ServerPagesTest, MakeKeyOpensAModalDialogAndLeavesTheFields)
{
    ServerSheet sheet(app_);
    sheet.Show(kSslPage);
    bool opened = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog != &sheet.Sheet()) {
            opened = true;
            dialog->reject();
        }
    });
    closer.start(kLookMs);
    sheet.Click("makeKey");
    EXPECT_TRUE(opened);
    EXPECT_EQ(sheet.Text("privateKey") + "|" + sheet.Text("certificate"),
              "%ServerRoot%SSLKey/Tarnwick.pem|%ServerRoot%SSLKey/Tarnwick.crt");
}

TEST_F(ServerPagesTest, MadeKeyPutsItsFilesAndPassPhraseIntoTheFields)
{
    ServerSheet sheet(app_);
    sheet.Show(kSslPage);
    sheet.SetText("certificate", "/etc/ssl/old.crt");
    WhenModalOpens<CKeyGenDialog>([this](CKeyGenDialog& dialog) {
        for (const char* name : {"passPhrase", "passPhraseAgain"})
            dialog.findChild<QLineEdit*>(QLatin1String(name))->setText(ToQString("新しいパス"));
        prompts_.QueueMessageBoxAnswer(gui::kIdOk);
        dialog.findChild<QPushButton*>(QStringLiteral("create"))->click();
    });
    sheet.Click("makeKey");
    // The key is where the field named it already; the certificate was elsewhere.
    EXPECT_EQ(
        sheet.Text("privateKey") + "|" + sheet.Text("password") + "|" + sheet.Text("certificate"),
        "%ServerRoot%SSLKey/Tarnwick.pem|新しいパス|" + platform::Utf8ToCp932(sandbox_.Root()) + "SSLKey/Tarnwick.crt");
    // Nothing is stored before the page is left.
    EXPECT_EQ(Stored("SSL"), "Tarnwick{}");
}

TEST_F(ServerPagesTest, EveryPageRoundTripsThroughTheSettingsFile)
{
    ServerSheet sheet(app_);
    const int result = RunSheet(sheet, [](ServerSheet& s) {
        const struct {
            Page page;
            const char* field;
            const char* text;
        } edits[] = {
            {kNetworkPage, "port", "8080"}, {kNetworkPage, "maxConnect", "100"}, {kNetworkPage, "timeOut", "60"},
            {kNetworkPage, "maxOneHostConnect", "4"}, {kNetworkPage, "maxKeepAlive", "10"},
            {kNetworkPage, "keepAliveTime", "15"}, {kLogPage, "logFilePath", "/var/log/表.txt"},
            {kLogPage, "logFormat", "%Host% \"%Method%\" <%Object%>"}, {kLogPage, "systemLogFilePath", "sys & log"},
            {kSslPage, "sslPort", "8443"}, {kSslPage, "privateKey", "/k/鍵.pem"}, {kSslPage, "password", "秘密 'x'"},
            {kSslPage, "certificate", "/k/証明書.crt"},
        };
        for (const auto& e : edits) {
            ASSERT_TRUE(s.Show(e.page)) << e.field;
            s.SetText(e.field, e.text);
        }
        ASSERT_TRUE(s.Show(kNetworkPage));
        s.Click("enableKeepAlive");
        ASSERT_TRUE(s.Show(kSslPage));
        s.Click("enableSsl");
        ASSERT_TRUE(s.Show(kIndexPage));
        for (const char* name : {"索引.html", "index.html"}) {
            s.SetText("indexName", name);
            s.Click("add");
        }
        EXPECT_TRUE(s.Sheet().PressOk());
    });
    ASSERT_EQ(result, gui::kIdOk);
    const std::string expected =
        "Tarnwick{Basic{Port=8080;MaxConnect=100;TimeOut=60;EnableKeepAlive=0;MaxKeepAlive=10;KeepAliveTime=15;"
        "MaxOneHostConnect=4;EnableSSL=1;}"
        "Log{LogFilePath=/var/log/表.txt;LogFormatNoTime=%Host% \"%Method%\" <%Object%>;SystemLogFilePath=sys & log;}"
        "SSL{Port=8443;PrivateKey=/k/鍵.pem;Password=秘密 'x';Certificate=/k/証明書.crt;}"
        "Index{索引.html=索引.html;index.html=index.html;}}";
    EXPECT_EQ(Stored(), expected);
    CConfigClass loaded;
    ConfigFileState state = ConfigFileState::Missing;
    ASSERT_EQ(loaded.LoadXml(app_.GetSettings().GetFilePath(), &state), 0);
    EXPECT_EQ(state, ConfigFileState::Read);
    EXPECT_EQ(testsupport::Describe(loaded, "Setting::"), expected);
}

TEST_F(ServerPagesTest, EveryPageIsReadable)
{
    StoreIndex();
    ServerSheet sheet(app_);
    for (int page = 0; page < sheet.Sheet().GetPageCount(); ++page) {
        ASSERT_TRUE(sheet.Show(page));
        SaveScreenshot(sheet.Sheet(), "server-page-" + std::to_string(page + 1));
    }
}

// Against the real server, serving HTTPS with a key of its own.
class SslPageServerTest : public testing::Test {
protected:
    static constexpr const char* kOldPassPhrase = "古いパス";
    static constexpr const char* kNewPassPhrase = "新しいパス";

    void SetUp() override
    {
        ASSERT_TRUE(app_.InitInstance());
        testsupport::PutFile(sandbox_.Root() + "www/index.html", "over TLS");
    }
    void TearDown() override
    {
        EXPECT_EQ(prompts_.Unexpected(), 0);
        app_.ExitInstance();
    }

    std::string Root() const { return platform::Utf8ToCp932(sandbox_.Root()); }
    std::string KeyFile() const { return sandbox_.Root() + "SSLKey/Tarnwick.pem"; }
    std::string CertificateFile() const { return sandbox_.Root() + "SSLKey/Tarnwick.crt"; }
    // What curl fetches over HTTPS once the server answers there, within a bound.
    servertest::CurlResult FetchOverTls(std::vector<std::string> trust)
    {
        trust.push_back("https://127.0.0.1:" + std::to_string(sandbox_.SecurePort()) + "/index.html");
        const auto deadline = std::chrono::steady_clock::now() + kServeLimit;
        servertest::CurlResult run = servertest::RunCurl(trust);
        while (run.exitCode != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kPoll);
            run = servertest::RunCurl(trust);
        }
        return run;
    }

    // A restarted server with TLS answers well within this.
    static constexpr std::chrono::seconds kServeLimit{10};
    static constexpr std::chrono::milliseconds kPoll{10};

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(SslPageServerTest, KeyMadeOverTheWorkingOneServesAfterOkAndARestartAndTheOldOneIsKept)
{
    {
        CKeyGenerator generator;
        generator.SetPassPhrase(kOldPassPhrase);
        CKeyGenerator::Subject subject;
        subject.notAfterSeconds = CKeyGenerator::kSecondsPerDay;
        subject.commonName = "127.0.0.1";
        ASSERT_EQ(generator.GenerateKey(), 0);
        ASSERT_EQ(generator.WritePrivateKey(Root() + "SSLKey/Tarnwick.pem"), 0);
        ASSERT_EQ(generator.WriteSelfSignedCertificate(subject, Root() + "SSLKey/Tarnwick.crt"), 0);
        ASSERT_EQ(generator.Commit(), 0) << generator.GetError();
    }
    const CConfigAccessor& setting = app_.GetSetting();
    setting.SetInt("Basic::EnableSSL", 1);
    setting.SetInt("SSL::Port", sandbox_.SecurePort());
    setting.SetString("SSL::PrivateKey", "%ServerRoot%SSLKey/Tarnwick.pem");
    setting.SetString("SSL::Password", kOldPassPhrase);
    setting.SetString("SSL::Certificate", "%ServerRoot%SSLKey/Tarnwick.crt");
    ASSERT_TRUE(app_.SaveSettings());
    app_.OnRestartServer();
    ASSERT_EQ(FetchOverTls({"-k"}).out, "over TLS");
    const std::string oldKey = testsupport::GetFile(KeyFile());
    const std::string oldCertificate = testsupport::GetFile(CertificateFile());
    const std::string oldSettings = testsupport::GetFile(sandbox_.SettingsFile());

    ServerSheet sheet(app_);
    sheet.Sheet().SetActivePage(kSslPage);
    QTimer::singleShot(0, &sheet.Sheet(), [this, &sheet] {
        WhenModalOpens<CKeyGenDialog>([this](CKeyGenDialog& dialog) {
            for (const char* name : {"passPhrase", "passPhraseAgain"})
                dialog.findChild<QLineEdit*>(QLatin1String(name))->setText(ToQString(kNewPassPhrase));
            dialog.findChild<QLineEdit*>(QStringLiteral("commonName"))->setText(QStringLiteral("127.0.0.1"));
            SaveScreenshot(dialog, "keygen-over-the-working-key");
            prompts_.QueueMessageBoxAnswer(gui::kIdYes);  // replace the two files
            prompts_.QueueMessageBoxAnswer(gui::kIdOk);   // made
            dialog.findChild<QPushButton*>(QStringLiteral("create"))->click();
        });
        sheet.Click("makeKey");
        EXPECT_EQ(sheet.Text("password"), kNewPassPhrase);
        SaveScreenshot(sheet.Sheet(), "ssl-page-after-a-new-key");
        EXPECT_TRUE(sheet.Sheet().PressOk());
    });
    ASSERT_EQ(RunSettingsSheet(app_.GetSettings(), sheet.Sheet()), gui::kIdOk);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 2u);
    EXPECT_EQ(prompts_.MessageBoxes()[0].text, std::string(CKeyGenDialog::kReplaceText) + "\r\n" + Root() +
                                                   "SSLKey/Tarnwick.pem\r\n" + Root() + "SSLKey/Tarnwick.crt");

    // The old files are kept for their owner alone; the new ones took their names.
    for (const auto& [file, old] : {std::pair{KeyFile(), oldKey}, std::pair{CertificateFile(), oldCertificate}}) {
        EXPECT_EQ(testsupport::GetFile(file + ".bak"), old) << file;
        struct stat status {};
        ASSERT_EQ(::stat((file + ".bak").c_str(), &status), 0) << file;
        EXPECT_EQ(status.st_mode & 07777, 0600u) << file;
        EXPECT_NE(testsupport::GetFile(file), old) << file;
    }
    // The settings changed in the pass phrase alone.
    testsupport::PutFile(sandbox_.Root() + "before.xml", oldSettings);
    CConfigClass expected;
    CConfigClass written;
    ASSERT_EQ(expected.LoadXml(Root() + "before.xml"), 0);
    ASSERT_EQ(written.LoadXml(Root() + "Tarnwick.xml"), 0);
    expected.SetValue("Setting::SSL::Password", kNewPassPhrase);
    EXPECT_EQ(testsupport::Describe(written), testsupport::Describe(expected));

    app_.OnRestartServer();
    const servertest::CurlResult insecure = FetchOverTls({"-k"});
    EXPECT_EQ(insecure.exitCode, 0) << insecure.err;
    EXPECT_EQ(insecure.out, "over TLS");
    // The server holds the new key: the new certificate is the one it shows.
    EXPECT_EQ(FetchOverTls({"--cacert", CertificateFile()}).out, "over TLS");
}

}  // namespace
