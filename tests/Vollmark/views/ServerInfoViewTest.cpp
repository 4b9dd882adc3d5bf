// The server information view against the real server: its figures are the server's own,
// and a stopped server turns the view into the start error with copying disabled.

#include "views/ServerInfoView.h"

#include "app/ControllerApp.h"
#include "core/TransferTotals.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "FreePort.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The server publishes its counts once a second; several periods are a hang.
constexpr auto kPublishLimit = 10s;
constexpr int kRequests = 3;
constexpr auto kPollInterval = 10ms;

std::string Block(const std::string& label, const std::string& value)
{
    std::string text;
    AppendTextBlock(text, label, value);
    return text;
}

class ServerInfoViewTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.InitInstance()); }
    void TearDown() override { app_.ExitInstance(); }

    // The server's info node as it answers now, in a tree of the test's own.
    std::string Info(const std::string& key)
    {
        info_.LoadSerializedText(app_.GetClient().GetServerInfo());
        return info_.GetValue("ServerInfo::" + key, "");
    }

    // Sends kRequests requests and waits until the server's published counts hold them.
    void MakeTraffic()
    {
        const std::string request = "GET / HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n";
        for (int i = 0; i < kRequests; ++i)
            ASSERT_FALSE(testsupport::HttpExchange(sandbox_.Port(), request).empty()) << "request " << i;
        const auto deadline = std::chrono::steady_clock::now() + kPublishLimit;
        while (Info("AllConnected") != std::to_string(kRequests)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "AllConnected " << Info("AllConnected");
            std::this_thread::sleep_for(kPollInterval);
        }
    }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
    CServerInfoView view_{app_.GetDrawTools(), app_.GetSettings(), app_.GetClient()};
    CConfigClass info_;
};

TEST_F(ServerInfoViewTest, ShowsTheServersOwnFiguresAndEnablesCopying)
{
    ASSERT_NO_FATAL_FAILURE(MakeTraffic());
    view_.resize(600, 420);
    view_.grab();
    EXPECT_TRUE(view_.IsCopyEnabled());

    const std::string text = view_.GetCopyText();
    const auto total = [&](const char* send, const char* receive) {
        return FormatTransferTotals(std::stoll(Info(send)), std::stoll(Info(receive)));
    };
    const std::string expected[] = {
        Block("■サーバ動作状況", app_.GetClient().GetServerErrorString()),
        Block("■サーバ・タイプ", "スタンドアロン アプリケーション"),
        Block("■サーバ・ルート", platform::Utf8ToCp932(sandbox_.Root())),
        Block("■サーバが起動してから現在までの接続数", std::to_string(kRequests)),
        Block("■サーバが起動してから現在までの合計転送量", total("AllSendSize", "AllRecvSize")),
        Block("■過去１時間の接続数", std::to_string(kRequests) + " 接続"),
        Block("■過去１時間の合計転送量", total("SendSize1Hour", "RecvSize1Hour")),
    };
    for (const std::string& block : expected)
        EXPECT_NE(text.find(block), std::string::npos) << platform::Cp932ToUtf8(block) << "\nin\n"
                                                       << platform::Cp932ToUtf8(text);
    EXPECT_NE(Info("ServerSignature"), "");
    EXPECT_NE(text.find(Block("■サーバ・バージョン", Info("ServerSignature"))), std::string::npos);
    SaveScreenshot(view_, "server-info-view");
}

TEST_F(ServerInfoViewTest, StoppedServerShowsWhyAndCanBeCopied)
{
    view_.grab();
    ASSERT_TRUE(view_.IsCopyEnabled());
    app_.GetClient().StopServer();
    ASSERT_EQ(app_.GetClient().IsRunning(), 0);

    view_.grab();
    EXPECT_TRUE(view_.IsCopyEnabled());
    const std::string status = app_.GetClient().GetServerErrorString();
    EXPECT_NE(status, "");
    const std::string text = view_.GetCopyText();
    EXPECT_EQ(text.rfind(Block("■サーバ動作状況", status), 0), 0u) << platform::Cp932ToUtf8(text);
    view_.resize(600, 420);
    SaveScreenshot(view_, "server-info-view-stopped");
}

// With no path entry the server answers no request, however normal its status reads.
TEST_F(ServerInfoViewTest, WarnsForAsLongAsNoPathEntryExists)
{
    const std::string warning = "※パスが１つもないため、サーバはどのリクエストにも応答しません。";
    const CConfigAccessor path = app_.GetSetting().GetSubAccessor("Path");
    ASSERT_GT(path.GetSectionCount(), 0);
    view_.resize(600, 440);
    // The warning's line starts under the status value, 42 pixels down; the figures follow.
    constexpr int kWarningTop = 10 + 16 + 16;
    const auto redInWarningLine = [&] {
        const QImage picture = view_.grab().toImage();
        int red = 0;
        for (int y = kWarningTop; y < kWarningTop + 16; ++y) {
            for (int x = 0; x < picture.width(); ++x)
                red += picture.pixelColor(x, y) == QColor(Qt::red) ? 1 : 0;
        }
        return red;
    };
    EXPECT_EQ(redInWarningLine(), 0);
    EXPECT_EQ(view_.GetCopyText().find(warning), std::string::npos);

    path.Clear();
    EXPECT_GT(redInWarningLine(), 0);
    const std::string status = app_.GetClient().GetServerErrorString();
    EXPECT_EQ(view_.GetCopyText().rfind(Block("■サーバ動作状況", status + "\r\n　" + warning), 0), 0u)
        << platform::Cp932ToUtf8(view_.GetCopyText());
    SaveScreenshot(view_, "server-info-view-no-path-entry");

    // Stopped, the start error and the warning both stand.
    app_.GetClient().StopServer();
    EXPECT_GT(redInWarningLine(), 0);
    EXPECT_NE(view_.GetCopyText().find(warning), std::string::npos);

    path.GetSubAccessor("Path_0").SetString("ServerPath", "/");
    EXPECT_EQ(redInWarningLine(), 0);
    EXPECT_EQ(view_.GetCopyText().find(warning), std::string::npos);
}

TEST_F(ServerInfoViewTest, LongStartErrorIsWrappedNotCut)
{
    // SSL on with a key file that is not there: the start fails with a long reason.
    app_.GetSetting().SetInt("Basic::EnableSSL", 1);
    app_.GetSetting().SetInt("SSL::Port", sandbox_.SecurePort());
    app_.GetSetting().SetString("SSL::PrivateKey", "%ServerRoot%SSLKey/missing.pem");
    ASSERT_TRUE(app_.SaveSettings());
    EXPECT_NE(app_.GetClient().StartServer(), 0);
    ASSERT_EQ(app_.GetClient().IsRunning(), 0);

    view_.resize(360, 200);
    const QImage picture = view_.grab().toImage();
    SaveScreenshot(view_, "server-info-view-long-status");
    // The value's first line starts 26 pixels down; red below its second line's top means
    // the text went on to a further line instead of running off the edge.
    constexpr int kSecondLineTop = 10 + 16 + 16;
    int redBelow = 0;
    for (int y = kSecondLineTop; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            redBelow += picture.pixelColor(x, y) == QColor(Qt::red) ? 1 : 0;
    }
    EXPECT_GT(redBelow, 0);
    EXPECT_TRUE(view_.IsCopyEnabled());
    EXPECT_NE(view_.GetCopyText().find("SSL初期化に失敗しました"), std::string::npos);
}

}  // namespace
