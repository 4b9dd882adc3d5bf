// The controller's application object against the real server program: binding (with the
// install it falls back on), start, exit with and without a service, saves and restarts,
// and what the user is told when any of it fails.

#include "app/ControllerApp.h"

#include "app/MainFrame.h"
#include "ProgramRunner.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "ConfigClass.h"
#include "ControlClient.h"
#include "FreePort.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testsupport::GetFile;
using testsupport::PutFile;

// A program that comes up and answers within this is healthy; longer is a hang.
constexpr auto kProgramLimit = 10s;
// The call bound of the stalled-server tests: long enough to tell from an immediate
// failure, short enough for a quick test.
constexpr uint64_t kCallBoundMs = 300;

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kProgramLimit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A second client of the same server, as another controller would be.
class OtherClient {
public:
    OtherClient() { EXPECT_EQ(client_.Connect(), 0) << client_.GetConnectError(); }
    CServerControlClient* operator->() { return &client_; }

private:
    CServerControlClient client_{ServerSandbox::ServerProgram()};
};

class ControllerAppTest : public testing::Test {
protected:
    std::string RootCp932() const { return platform::Utf8ToCp932(sandbox_.Root()); }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
};

TEST_F(ControllerAppTest, BindsInstallingTheServerThenStartsAndStopsIt)
{
    ASSERT_TRUE(app_.InitInstance());
    EXPECT_TRUE(prompts_.MessageBoxes().empty());
    EXPECT_EQ(app_.GetClient().IsConnected(), 1);
    EXPECT_EQ(app_.GetClient().IsRunning(), 1);
    EXPECT_EQ(app_.GetClient().GetServerRoot(), RootCp932());
    EXPECT_EQ(app_.GetSetting().GetString("Basic::Port", ""), std::to_string(sandbox_.Port()));
    ASSERT_NE(app_.GetMainWnd(), nullptr);
    EXPECT_TRUE(app_.GetMainWnd()->isVisible());
    EXPECT_EQ(app_.GetMainWnd()->windowTitle(), QStringLiteral("Tarnwick - Vollmark"));
    SaveScreenshot(*app_.GetMainWnd(), "main-frame");

    const pid_t server = sandbox_.ServingProcess();
    ASSERT_GT(server, 0);
    EXPECT_EQ(app_.ExitInstance(), 0);
    EXPECT_EQ(app_.GetClient().IsConnected(), 0);
    // Stopped, then released: the activated server ends with its last client.
    EXPECT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(server); }));
}

TEST_F(ControllerAppTest, MissingServerProgramSaysSoAndShowsNoWindow)
{
    CControllerApp app("/nonexistent/folder/Tarnwick");
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.GetMainWnd(), nullptr);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    const gui::MessageBoxPrompt& box = prompts_.MessageBoxes()[0];
    EXPECT_TRUE(StartsWith(box.text, CControllerApp::kBindFailedText)) << platform::Cp932ToUtf8(box.text);
    EXPECT_NE(box.text.find("/nonexistent/folder/Tarnwick /InstallApp"), std::string::npos);
    EXPECT_EQ(box.type, unsigned(gui::kMbOk | gui::kMbIconStop));
    EXPECT_FALSE(sandbox_.ServerServes());
}

TEST_F(ControllerAppTest, FailedRegistrationIsNamedInTheStartMessage)
{
    PutFile(sandbox_.Root() + "plain", "x");
    testsupport::ScopedEnvironment registry("TARNWICK_REGISTRY", sandbox_.Root() + "plain/registry");
    EXPECT_FALSE(app_.InitInstance());
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    const std::string& text = prompts_.MessageBoxes()[0].text;
    EXPECT_NE(text.find("/InstallApp: exit code"), std::string::npos) << platform::Cp932ToUtf8(text);
}

TEST_F(ControllerAppTest, RunningServerIsNotRestartedAndIsStoppedOnExit)
{
    OtherClient other;
    ASSERT_EQ(other->StartServer(), 0);
    // One request in the server's recent list: a restart would begin a fresh, empty one.
    const int fd = testsupport::ConnectLoopback(sandbox_.Port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET / HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    const auto recentRequests = [&] {
        CConfigClass context;
        context.LoadSerializedText(other->GetServerContext());
        return context.GetSectionCount("ThreadLogs::");
    };
    EXPECT_TRUE(WaitUntil([&] { return recentRequests() == 1; }));
    ::close(fd);

    ASSERT_TRUE(app_.InitInstance());
    EXPECT_EQ(recentRequests(), 1);
    app_.ExitInstance();
    EXPECT_EQ(other->IsRunning(), 0);
}

TEST_F(ControllerAppTest, ServiceKeepsRunningWhenTheControllerEnds)
{
    // As the unit runs it: its control socket in the system's runtime folder.
    programtest::ProgramRunner service(ServerSandbox::ServerProgram(), {"/Service"},
                                       {"TARNWICK_RUNTIME_DIR=" + sandbox_.ServiceRuntime()});
    ASSERT_TRUE(WaitUntil([&] { return sandbox_.ServerServes(); })) << service.ErrorOutput();

    ASSERT_TRUE(app_.InitInstance());
    EXPECT_EQ(app_.GetClient().IsService(), 1);
    EXPECT_EQ(app_.GetClient().IsRunning(), 1);
    // Closing stops nothing, so nothing is asked.
    EXPECT_TRUE(app_.GetMainWnd()->close());
    EXPECT_TRUE(prompts_.MessageBoxes().empty());
    app_.ExitInstance();

    OtherClient other;
    EXPECT_EQ(other->IsService(), 1);
    EXPECT_EQ(other->IsRunning(), 1);
    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(kProgramLimit).exitCode, 0);
}

TEST_F(ControllerAppTest, SaveWritesTheFileAndARestartClearsTheNotice)
{
    ASSERT_TRUE(app_.InitInstance());
    app_.GetSetting().SetString("Basic::ServerName", "保存テスト");
    ASSERT_TRUE(app_.SaveSettings());
    EXPECT_EQ(app_.IsSettingsChanged(), 1);
    CConfigClass written;
    ASSERT_EQ(written.LoadXml(RootCp932() + "Tarnwick.xml"), 0);
    EXPECT_EQ(written.GetValue("Setting::Basic::ServerName", ""), "保存テスト");

    app_.OnRestartServer();
    EXPECT_EQ(app_.IsSettingsChanged(), 0);
    EXPECT_EQ(app_.GetClient().IsRunning(), 1);
    app_.ExitInstance();
}

TEST_F(ControllerAppTest, FailedRestartKeepsTheNotice)
{
    ASSERT_TRUE(app_.InitInstance());
    // A port that something else holds: the server cannot start on it.
    const int busy = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(busy, 1), 0);
    ASSERT_EQ(::getsockname(busy, reinterpret_cast<sockaddr*>(&address), &size), 0);
    app_.GetSetting().SetInt("Basic::Port", ntohs(address.sin_port));
    ASSERT_TRUE(app_.SaveSettings());

    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    app_.OnRestartServer();
    EXPECT_EQ(app_.IsSettingsChanged(), 1);
    EXPECT_EQ(app_.GetClient().IsRunning(), 0);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts_.MessageBoxes()[0].text, "ポート待ちうけに失敗しました、ポート番号を確認してください");
    ::close(busy);
    app_.ExitInstance();
}

TEST_F(ControllerAppTest, RestartAfterTheServerDiedStartsItAgain)
{
    ASSERT_TRUE(app_.InitInstance());
    const pid_t first = sandbox_.ServingProcess();
    ASSERT_GT(first, 0);
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(first); }));

    app_.OnRestartServer();
    EXPECT_TRUE(prompts_.MessageBoxes().empty());
    EXPECT_EQ(app_.GetClient().IsRunning(), 1);
    const pid_t second = sandbox_.ServingProcess();
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);
    const std::string answer = testsupport::HttpExchange(
        sandbox_.Port(), "GET / HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 ", 0), 0u) << answer;
    app_.ExitInstance();
}

TEST_F(ControllerAppTest, StalledServerKeepsItsControllerAndServesAgainWhenContinued)
{
    CServerControlClient client(ServerSandbox::ServerProgram(), kCallBoundMs);
    ASSERT_EQ(client.Connect(), 0) << client.GetConnectError();
    ASSERT_EQ(client.StartServer(), 0);
    const pid_t server = sandbox_.ServingProcess();
    ASSERT_GT(server, 0);

    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    EXPECT_EQ(client.IsRunning(), 0);  // timed out
    EXPECT_EQ(client.IsActive(), 0);   // at once, while the late answer is due
    ASSERT_EQ(::kill(server, SIGCONT), 0);
    // Bound all along: the server answers again, and it has not ended for lack of a client.
    EXPECT_TRUE(WaitUntil([&] { return client.IsRunning() == 1; }));
    EXPECT_EQ(client.IsConnected(), 1);
    EXPECT_EQ(sandbox_.ServingProcess(), server);
    client.StopServer();
}

// A restart while the server is stopped cannot reach it; the binding stays, and once the
// server goes on, the polls and the next restart reach it again.
TEST_F(ControllerAppTest, RestartWhileTheServerIsStoppedKeepsTheBinding)
{
    CControllerApp app(ServerSandbox::ServerProgram(), kCallBoundMs);
    ASSERT_TRUE(app.InitInstance());
    const pid_t server = sandbox_.ServingProcess();
    ASSERT_GT(server, 0);

    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    app.OnRestartServer();
    EXPECT_EQ(app.GetClient().IsConnected(), 1);
    EXPECT_EQ(prompts_.MessageBoxes().size(), 1u);
    ASSERT_EQ(::kill(server, SIGCONT), 0);

    EXPECT_TRUE(WaitUntil([&] { return app.GetClient().IsRunning() == 1; }));
    EXPECT_EQ(sandbox_.ServingProcess(), server);
    app.OnRestartServer();
    EXPECT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_EQ(app.GetClient().IsRunning(), 1);
    EXPECT_EQ(sandbox_.ServingProcess(), server);
    app.ExitInstance();
    EXPECT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(server); }));
}

// The server went (killed) and another client started a new one: the controller's polls
// bind to it by themselves, without a restart.
TEST_F(ControllerAppTest, PollsBindAgainToAServerThatServesAfterTheChannelBroke)
{
    ASSERT_TRUE(app_.InitInstance());
    const pid_t first = sandbox_.ServingProcess();
    ASSERT_GT(first, 0);
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(first); }));
    EXPECT_EQ(app_.GetClient().IsActive(), 0);

    OtherClient other;
    ASSERT_EQ(other->StartServer(), 0);
    CMainFrame& frame = *app_.GetMainWnd();
    // The window's poll ticks, and nothing else asks the server.
    EXPECT_TRUE(WaitUntil([&] {
        frame.OnTimer();
        return !app_.GetClient().LastCallFailed();
    }));
    EXPECT_EQ(app_.GetClient().IsRunning(), 1);
    EXPECT_TRUE(prompts_.MessageBoxes().empty());
    app_.ExitInstance();
}

TEST_F(ControllerAppTest, FailedSaveIsShownAndLeavesTheFlag)
{
    ASSERT_TRUE(app_.InitInstance());
    // A folder in the file's place cannot be replaced by a file.
    const std::string file = sandbox_.SettingsFile();
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);
    PutFile(file + "/keep", "x");
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    EXPECT_FALSE(app_.SaveSettings());
    EXPECT_EQ(app_.IsSettingsChanged(), 0);
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_NE(prompts_.MessageBoxes()[0].text.find(RootCp932() + "Tarnwick.xml"), std::string::npos)
        << platform::Cp932ToUtf8(prompts_.MessageBoxes()[0].text);
    app_.ExitInstance();
}

TEST_F(ControllerAppTest, UnreadableSettingsAreReportedAtStartAndKeptOnSave)
{
    const std::string broken = "<CConfigClass type=\"Tarnwick\"><Node name=";
    PutFile(sandbox_.SettingsFile(), broken);
    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    ASSERT_TRUE(app_.InitInstance());
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_TRUE(StartsWith(prompts_.MessageBoxes()[0].text, "Tarnwick.xmlのロードに失敗しました"));
    EXPECT_EQ(GetFile(sandbox_.SettingsFile()), broken);
    ASSERT_TRUE(app_.SaveSettings());
    EXPECT_EQ(GetFile(sandbox_.SettingsFile() + ".bak"), broken);
    app_.ExitInstance();
}

TEST_F(ControllerAppTest, ExpandServerPathUsesTheServersRoot)
{
    ASSERT_TRUE(app_.InitInstance());
    // The settings were loaded from the server's root, which the pages expand with.
    EXPECT_EQ(app_.GetSettings().ExpandServerPath("%ServerRoot%Logs/"), RootCp932() + "Logs/");
    EXPECT_EQ(app_.GetSettings().ExpandServerPath("no names"), "no names");
    app_.ExitInstance();
}

}  // namespace

namespace {

// The program itself: it starts the server for itself, and when it is gone (however it
// ends) the server it started goes too.
TEST_F(ControllerAppTest, ProgramStartsTheServerAndTakesItAlongWhenItEnds)
{
    programtest::ProgramRunner controller(VOLLMARK_BINARY, {}, {"QT_QPA_PLATFORM=offscreen"});
    pid_t server = -1;
    ASSERT_TRUE(WaitUntil([&] { return (server = sandbox_.ServingProcess()) > 0; })) << controller.ErrorOutput();
    {
        OtherClient other;
        EXPECT_TRUE(WaitUntil([&] { return other->IsRunning() == 1; }));
    }
    EXPECT_FALSE(controller.HasEnded());
    controller.Signal(SIGTERM);
    controller.Wait(kProgramLimit);
    EXPECT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(server); }));
}

TEST_F(ControllerAppTest, ClickSoundSaysNothingWhereNoAudioIs)
{
    static std::vector<QString> messages;
    messages.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { messages.push_back(text); });
    app_.PlayClickSound();
    app_.PlayClickSound();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
}

}  // namespace
