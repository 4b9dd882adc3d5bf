// The bandwidth dialog on a settings file of its own: what it shows, what OK writes and
// refuses, and, against the real server, that a limit set in it paces a download.

#include "dialogs/BandWidthDialog.h"

#include "app/ControllerApp.h"
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
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Fields = std::array<const char*, CBandWidthDialog::kFieldCount>;

const Fields kNames = {"sendServer", "sendHost", "sendConnect", "recvServer", "recvHost", "recvConnect"};

QLineEdit* Field(QWidget& dialog, const char* name) { return dialog.findChild<QLineEdit*>(QLatin1String(name)); }

void Click(QWidget& dialog, const char* name)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
}

class BandWidthDialogTest : public testing::Test {
protected:
    BandWidthDialogTest() { app_.GetSettings().Load(platform::Utf8ToCp932(root_.Path())); }
    void TearDown() override { EXPECT_EQ(prompts_.Unexpected(), 0); }

    std::string File() const { return root_.Path() + CControllerSettings::kFileName; }
    std::string Live() { return testsupport::Describe(app_.GetSettings().GetTree()); }

    testsupport::TempFolder root_;
    ScriptedPrompts prompts_;
    CControllerApp app_;
};

TEST_F(BandWidthDialogTest, ShowsTheStoredLimitsAndZeroForWhatTheServerReadsAsNone)
{
    const CConfigAccessor& setting = app_.GetSetting();
    setting.SetString("Limit::Send::MaxServerBandWidth", "100");
    setting.SetString("Limit::Send::MaxOneHostBandWidth", "-5");
    setting.SetString("Limit::Send::maxoneconnectbandwidth", "7");  // another case is another key
    setting.SetString("Limit::Recv::MaxServerBandWidth", "abc");
    setting.SetString("Limit::Recv::MaxOneConnectBandWidth", "2147483647");
    CBandWidthDialog dialog(app_.GetSettings());
    SaveScreenshot(dialog, "bandwidth-dialog");
    const Fields shown = {"100", "0", "0", "0", "0", "2147483647"};
    for (int i = 0; i < CBandWidthDialog::kFieldCount; ++i)
        EXPECT_EQ(FromQString(Field(dialog, kNames[i])->text()), shown[i]) << kNames[i];
    EXPECT_EQ(FromQString(dialog.windowTitle()), "帯域幅制限");
    EXPECT_EQ(FromQString(dialog.findChild<QLabel*>(QStringLiteral("note"))->text()),
              "※ディレクトリ設定で帯域幅制限を有効にしたパスのみ制限されます。\n設定値を0にすると、制限なしになります。");
}

TEST_F(BandWidthDialogTest, OkWritesTheSixKeysAsDecimalTextAndAsksForARestart)
{
    const struct {
        const char* description;
        Fields entered;  // null: as shown
        const char* saved;
    } cases[] = {
        {"nothing stored: six zeros", {},
         "Send{MaxServerBandWidth=0;MaxOneHostBandWidth=0;MaxOneConnectBandWidth=0;}"
         "Recv{MaxServerBandWidth=0;MaxOneHostBandWidth=0;MaxOneConnectBandWidth=0;}"},
        {"blanks, a sign and the largest value", {"1", " 22 ", "+3", "0", "4294967295", "6"},
         "Send{MaxServerBandWidth=1;MaxOneHostBandWidth=22;MaxOneConnectBandWidth=3;}"
         "Recv{MaxServerBandWidth=0;MaxOneHostBandWidth=4294967295;MaxOneConnectBandWidth=6;}"},
    };
    for (const auto& c : cases) {
        CBandWidthDialog dialog(app_.GetSettings());
        dialog.show();
        for (int i = 0; i < CBandWidthDialog::kFieldCount; ++i) {
            if (c.entered[i])
                Field(dialog, kNames[i])->setText(ToQString(c.entered[i]));
        }
        Click(dialog, "ok");
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.description;
        CConfigClass saved;
        ASSERT_EQ(saved.LoadXml(platform::Utf8ToCp932(File())), 0);
        EXPECT_EQ(testsupport::Describe(saved, "Setting::Limit::"), std::string("Tarnwick{") + c.saved + "}")
            << c.description;
        EXPECT_EQ(app_.IsSettingsChanged(), 1) << c.description;
    }
}

TEST_F(BandWidthDialogTest, EntryThatIsNoUnsignedNumberKeepsTheDialogAndWritesNothing)
{
    for (const char* entry : {"-1", "abc", "", "1.5", "4294967296", "１２"}) {
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        CBandWidthDialog dialog(app_.GetSettings());
        dialog.show();
        Field(dialog, "recvHost")->setText(ToQString(entry));
        Click(dialog, "ok");
        ASSERT_EQ(prompts.MessageBoxes().size(), 1u) << entry;
        EXPECT_EQ(prompts.MessageBoxes()[0].text, "Please enter a positive integer.") << entry;
        EXPECT_EQ(prompts.MessageBoxes()[0].type, unsigned(gui::kMbOk | gui::kMbIconExclamation)) << entry;
        EXPECT_TRUE(dialog.isVisible()) << entry;
        EXPECT_EQ(dialog.focusWidget(), Field(dialog, "recvHost")) << entry;
        EXPECT_EQ(Live(), "Tarnwick{}") << entry;
        EXPECT_EQ(testsupport::GetFile(File()), "") << entry;
    }
}

TEST_F(BandWidthDialogTest, CancelLeavesTheSettingsAndTheFileAsTheyWere)
{
    app_.GetSetting().SetString("Limit::Send::MaxServerBandWidth", "10");
    ASSERT_TRUE(app_.SaveSettings());
    app_.GetSettings().ClearChanged();
    const std::string live = Live();
    const std::string file = testsupport::GetFile(File());
    CBandWidthDialog dialog(app_.GetSettings());
    dialog.show();
    Field(dialog, "sendServer")->setText(QStringLiteral("99"));
    Click(dialog, "cancel");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Live(), live);
    EXPECT_EQ(testsupport::GetFile(File()), file);
    EXPECT_EQ(app_.IsSettingsChanged(), 0);
}

TEST(BandWidthDialogServerTest, ConnectionLimitSetInTheDialogHoldsADownloadNearThatRate)
{
    // The server's first 32 KiB send chunk leaves at once and the limit paces the rest:
    // 32 KiB more at 16 K/Sec take 2 s. The band leaves room for a slow machine, none for a
    // limit taken as bytes rather than KiB, or for no limit at all.
    constexpr int kFileBytes = 64 * 1024;
    constexpr double kLowestSeconds = 1.6;
    constexpr double kHighestSeconds = 6.0;
    ServerSandbox sandbox;
    ScriptedPrompts prompts;
    CControllerApp app(ServerSandbox::ServerProgram());
    ASSERT_TRUE(app.InitInstance());
    testsupport::PutFile(sandbox.Root() + "www/big.bin", std::string(kFileBytes, 'x'));
    app.GetSetting().SetString("Path::Path_0::Options::EnableBandWidthLimit", "1");

    CBandWidthDialog dialog(app.GetSettings());
    QTimer::singleShot(0, &dialog, [&dialog] {
        EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
        Field(dialog, "sendConnect")->setText(QStringLiteral("16"));
        Click(dialog, "ok");
        // A dialog left open by a failed check must not leave the test waiting.
        if (dialog.isVisible())
            dialog.reject();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    app.OnRestartServer();
    const servertest::CurlResult result = servertest::RunCurl(
        {"-o", "/dev/null", "-w", "%{size_download} %{time_total}",
         "http://127.0.0.1:" + std::to_string(sandbox.Port()) + "/big.bin"});
    const std::string::size_type blank = result.out.find(' ');
    ASSERT_NE(blank, std::string::npos) << result.out << result.err;
    EXPECT_EQ(result.out.substr(0, blank), std::to_string(kFileBytes));
    EXPECT_GE(std::stod(result.out.substr(blank + 1)), kLowestSeconds);
    EXPECT_LE(std::stod(result.out.substr(blank + 1)), kHighestSeconds);
    EXPECT_EQ(prompts.Unexpected(), 0);
    app.ExitInstance();
}

}  // namespace
