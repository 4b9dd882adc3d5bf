// The "/Debug" run of the real server program, offscreen in a sandbox of its own, its
// buttons pressed through the module's test driver (debug/DebugDriver.h): the server it
// starts answers curl, the dumps, the registrations, a controller bound meanwhile, the
// message of a failed start, and a program that links no Qt itself.

#include "CurlRunner.h"
#include "FreePort.h"
#include "ProgramRunner.h"
#include "ServerSandbox.h"
#include "ServerTestSupport.h"

#include "ConfigClass.h"
#include "ControlClient.h"
#include "ControlWire.h"
#include "RegistryStore.h"
#include "ServerControlInterface.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using programtest::ProgramResult;
using programtest::ProgramRunner;
using servertest::WaitUntil;
using testsupport::GetFile;
using testsupport::PutFile;
using namespace std::chrono_literals;

const std::string kProgram = TARNWICK_BINARY;

// A dialog that comes up, carries out a press and goes within this is healthy.
constexpr std::chrono::milliseconds kProgramLimit = 10s;
// The client's own activation default is 30 s; here the server already serves.
constexpr uint64_t kBindLimitMs = 5000;

const char kIndexPage[] = "<html><body>debug dialog test index</body></html>\r\n";
const char kClassKey[] = "CLSID\\{67A61D5D-122D-43C3-8BED-CB80CCCEBBB5}";
const char kLocalServiceValue[] = "LocalService";
const char kAppIdKey[] = "AppID\\{53BED338-262D-477B-A927-53861BC1E214}";
const char kStartedLine[] = "サーバを起動しました\r\n";
const char kStoppedLine[] = "サーバを停止しました\r\n";

bool Exists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::string::size_type at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The test's end of the driver's socket: listens, takes the module's connection, and
// exchanges lines with it, every wait bounded.
class DriverLine {
public:
    explicit DriverLine(const std::string& path) : path_(path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (path.size() >= sizeof address.sun_path || listenFd_ < 0) {
            ADD_FAILURE() << "cannot make the driver socket " << path;
            return;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        // The folder is the test's own: a socket file of an earlier dialog goes.
        ::unlink(path.c_str());
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 1) != 0)
            ADD_FAILURE() << "cannot listen on " << path << ": " << std::strerror(errno);
    }
    ~DriverLine()
    {
        for (int fd : {listenFd_, fd_}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    DriverLine(const DriverLine&) = delete;
    DriverLine& operator=(const DriverLine&) = delete;

    const std::string& Path() const { return path_; }

    bool Accept(std::chrono::milliseconds limit)
    {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0)
            return false;
        fd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        return fd_ >= 0;
    }

    // Sends one command and gives the line that ends its wait: "done", "error ...", or
    // "window ..." when it opened a box; "" when none came within the limit or the module
    // hung up.
    std::string Command(const std::string& command, std::chrono::milliseconds limit = kProgramLimit)
    {
        const std::string line = command + "\n";
        if (fd_ < 0 || ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
            return "";
        return NextLine(limit);
    }

    // The next line the module sends of itself or in answer, as Command gives it.
    std::string NextLine(std::chrono::milliseconds limit = kProgramLimit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const std::string::size_type end = input_.find('\n');
            if (end != std::string::npos) {
                std::string reply = input_.substr(0, end);
                input_.erase(0, end + 1);
                return reply;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return "";
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return "";
            input_.append(buffer, static_cast<size_t>(n));
        }
    }

private:
    std::string path_;
    int listenFd_ = -1;
    int fd_ = -1;
    std::string input_;
};

class DebugDialogTest : public testing::Test {
protected:
    void SetUp() override { PutFile(sandbox_.Root() + "www/index.html", kIndexPage); }

    void TearDown() override { ExitDialog(); }

    void ExitDialog()
    {
        if (dialog_ && !dialog_->HasEnded()) {
            driver_->Command("click Exit");
            EXPECT_EQ(dialog_->Wait(kProgramLimit).exitCode, 0) << dialog_->ErrorOutput();
        }
    }

    // Starts "/Debug" offscreen and waits until its driver has connected.
    void StartDialog(const std::vector<std::string>& environment = {})
    {
        driver_ = std::make_unique<DriverLine>(folder_.Path() + "driver");
        programtest::EnvironmentChanges changes{"QT_QPA_PLATFORM=offscreen", "TARNWICK_DEBUG_DRIVER=" + driver_->Path()};
        changes.insert(changes.end(), environment.begin(), environment.end());
        dialog_ = std::make_unique<ProgramRunner>(kProgram, std::vector<std::string>{"/Debug"}, changes);
        ASSERT_TRUE(driver_->Accept(kProgramLimit)) << dialog_->ErrorOutput();
    }

    // Starts "/Debug" where it is refused: the box says `refusal` (UTF-8), and so does
    // standard error; OK on it ends the run without a dialog.
    ProgramResult RefusedInABox(const std::string& refusal, const std::string& shot,
                                const std::vector<std::string>& environment = {})
    {
        StartDialog(environment);
        EXPECT_EQ(driver_->NextLine(), u8"window Tarnwick\t" + refusal);
        EXPECT_EQ(driver_->Command("shot " + Screenshot(shot)), "done");
        driver_->Command("accept");
        const ProgramResult result = dialog_->Wait(kProgramLimit);
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.err.find(refusal), std::string::npos) << result.err;
        return result;
    }

    void Click(const std::string& caption) { EXPECT_EQ(driver_->Command("click " + caption), "done") << caption; }

    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(sandbox_.Port()) + path;
    }

    // curl's exit code and body for one GET.
    ProgramResult Get(const std::string& path) const { return servertest::RunCurl({Url(path)}); }

    std::string SystemLog() const { return GetFile(sandbox_.Root() + "Logs/SystemLog.txt"); }

    static std::string UnitFolder() { return std::getenv("TARNWICK_UNIT_DIR"); }

    static bool KeyExists(const std::string& key)
    {
        return platform::RegistryStore().KeyExists(platform::HKEY_CLASSES_ROOT, key);
    }

    static std::string Screenshot(const std::string& name)
    {
        std::filesystem::create_directories(SCREENSHOT_DIR);
        return std::string(SCREENSHOT_DIR) + "/" + name + ".png";
    }

    ServerSandbox sandbox_;
    servertest::TempFolder folder_;
    std::unique_ptr<DriverLine> driver_;
    std::unique_ptr<ProgramRunner> dialog_;
};

TEST_F(DebugDialogTest, StartServesRequests)
{
    StartDialog();
    Click("Start");
    const ProgramResult response = Get("/index.html");
    EXPECT_EQ(response.exitCode, 0) << response.err;
    EXPECT_EQ(response.out, kIndexPage);
    EXPECT_EQ(driver_->Command("shot " + Screenshot("debug-dialog")), "done");
}

TEST_F(DebugDialogTest, StopEndsServing)
{
    StartDialog();
    Click("Start");
    Click("Stop");
    // curl: 7, the connection was refused.
    EXPECT_EQ(Get("/index.html").exitCode, 7);
    EXPECT_NE(SystemLog().find(kStoppedLine), std::string::npos);
    EXPECT_FALSE(dialog_->HasEnded());
}

TEST_F(DebugDialogTest, StartOnARunningServerRestartsIt)
{
    StartDialog();
    Click("Start");
    Click("Start");
    // The running core writes its log lines once a second.
    std::string log;
    EXPECT_TRUE(WaitUntil([&] { return Count(log = SystemLog(), kStartedLine) == 2; }, kProgramLimit))
        << platform::Cp932ToUtf8(log);
    const std::string::size_type stopped = log.find(kStoppedLine);
    ASSERT_NE(stopped, std::string::npos);
    EXPECT_LT(stopped, log.rfind(kStartedLine));
    EXPECT_EQ(Get("/index.html").out, kIndexPage);
}

TEST_F(DebugDialogTest, DumpWritesTheContextAndInformationTrees)
{
    StartDialog();
    Click("Start");
    ASSERT_EQ(Get("/index.html").out, kIndexPage);
    // The finished request reaches the recent list when its worker has let go of it.
    ConfigFileState state = ConfigFileState::Missing;
    EXPECT_TRUE(WaitUntil([&] {
        Click("Dump");
        CConfigClass context;
        if (context.LoadXml(platform::Utf8ToCp932(sandbox_.Root()) + "ContextDump.xml", &state) != 0 ||
            state != ConfigFileState::Read)
            return false;
        std::vector<std::string> names;
        context.GetSections("ThreadLogs::", names);
        return !names.empty() && context.GetValue("ThreadLogs::" + names.front() + "::RequestInfo::URL", "") == "/index.html";
    }, kProgramLimit));

    CConfigClass info;
    ASSERT_EQ(info.LoadXml(platform::Utf8ToCp932(sandbox_.Root()) + "InfoDump.xml", &state), 0);
    EXPECT_EQ(state, ConfigFileState::Read);
    EXPECT_EQ(info.GetValue("ServerInfo::ServerName", ""), "Tarnwick");
    EXPECT_EQ(info.GetValue("ServerInfo::ServerPort", ""), std::to_string(sandbox_.Port()));
}

TEST_F(DebugDialogTest, DumpWhileStoppedWritesNothing)
{
    StartDialog();
    Click("Dump");
    Click("Start");
    Click("Stop");
    Click("Dump");
    EXPECT_FALSE(Exists(sandbox_.Root() + "ContextDump.xml"));
    EXPECT_FALSE(Exists(sandbox_.Root() + "InfoDump.xml"));
}

TEST_F(DebugDialogTest, AddAppAndDelAppChangeTheRegistration)
{
    StartDialog();
    Click("Add App");
    EXPECT_TRUE(KeyExists(kClassKey));
    EXPECT_TRUE(KeyExists(kAppIdKey));
    Click("Del App");
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists(kAppIdKey));
}

TEST_F(DebugDialogTest, AddServiceAndDelServiceChangeTheRegistrationAndTheUnit)
{
    StartDialog();
    const std::string unit = UnitFolder() + "/Tarnwick.service";
    Click("Add Service");
    EXPECT_TRUE(Exists(unit));
    std::string value;
    EXPECT_TRUE(platform::RegistryStore().ReadStringValue(platform::HKEY_CLASSES_ROOT, kAppIdKey, kLocalServiceValue, value));
    EXPECT_EQ(value, "Tarnwick");
    Click("Del Service");
    EXPECT_FALSE(Exists(unit));
    EXPECT_FALSE(KeyExists(kClassKey));
}

TEST_F(DebugDialogTest, FailedInstallStepsShowTheirFailureInABox)
{
    // A registry store under a plain file cannot be written (removing from it finds
    // nothing to remove, which succeeds).
    PutFile(folder_.Path() + "plain", "x");
    StartDialog({"TARNWICK_REGISTRY=" + folder_.Path() + "plain/registry"});
    for (const char* button : {"Add App", "Add Service"}) {
        SCOPED_TRACE(button);
        const std::string window = driver_->Command(std::string("click ") + button);
        EXPECT_EQ(window.rfind("window Tarnwick\t", 0), 0u) << window;
        EXPECT_NE(window.find(folder_.Path() + "plain/registry"), std::string::npos) << window;
        if (std::string(button) == "Add App") {
            EXPECT_EQ(driver_->Command("shot " + Screenshot("debug-add-app-failure")), "done");
        }
        EXPECT_EQ(driver_->Command("accept"), "done");
    }
    // The failed steps leave the exit code that the switches give too.
    driver_->Command("click Exit");
    EXPECT_NE(dialog_->Wait(kProgramLimit).exitCode, 0);
}

TEST_F(DebugDialogTest, StateLineSaysWhetherAServerRunsAndWhatThePressDid)
{
    StartDialog();
    EXPECT_EQ(driver_->Command("state"), "state Server: stopped");
    Click("Dump");
    EXPECT_EQ(driver_->Command("state"), "state Server: stopped (nothing dumped: no server runs)");
    Click("Start");
    EXPECT_EQ(driver_->Command("state"), "state Server: running (started)");
    Click("Dump");
    EXPECT_EQ(driver_->Command("state"), "state Server: running (dumped to ContextDump.xml and InfoDump.xml)");
    EXPECT_EQ(driver_->Command("shot " + Screenshot("debug-state-line")), "done");
    Click("Stop");
    EXPECT_EQ(driver_->Command("state"), "state Server: stopped (stopped)");
}

TEST_F(DebugDialogTest, ExitStopsTheServerAndEndsTheProgram)
{
    StartDialog();
    Click("Start");
    driver_->Command("click Exit");
    const ProgramResult result = dialog_->Wait(kProgramLimit);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(SystemLog().find(kStoppedLine), std::string::npos);
    EXPECT_EQ(servertest::ConnectLoopback(sandbox_.Port()), -1);
    EXPECT_FALSE(sandbox_.ServerServes());
}

TEST_F(DebugDialogTest, ControllerBindsWhileTheDialogIsOpen)
{
    StartDialog();
    ASSERT_TRUE(WaitUntil([&] { return sandbox_.ServingProcess() == dialog_->Pid(); }, kProgramLimit));
    Click("Start");
    std::unique_ptr<IServerControl> object;
    std::string error;
    ASSERT_EQ(platform::CreateServerControl(&object, &error, kBindLimitMs), platform::kOk) << error;
    short running = 0;
    EXPECT_EQ(object->IsRunning(&running), platform::kOk);
    EXPECT_EQ(running, 1);
    // Served by the dialog's process, not by one that the binding started.
    EXPECT_EQ(sandbox_.ServingProcess(), dialog_->Pid());
}

TEST_F(DebugDialogTest, StartWithUnreadableSettingsShowsTheLoadFailure)
{
    struct Case {
        const char* name;
        const char* settings;
    };
    for (const Case& c : {Case{"unparsable", "<CConfigClass type=\"Tarnwick\"><unclosed"},
                          Case{"foreign", "<?xml version=\"1.0\"?><Other/>"}}) {
        SCOPED_TRACE(c.name);
        PutFile(sandbox_.SettingsFile(), c.settings);
        StartDialog();
        const std::string window = driver_->Command("click Start");
        EXPECT_EQ(window.rfind("window Tarnwick\t", 0), 0u) << window;
        EXPECT_NE(window.find(u8"Tarnwick.xmlのロードに失敗しました"), std::string::npos) << window;
        EXPECT_EQ(driver_->Command("shot " + Screenshot(std::string("debug-load-failure-") + c.name)), "done");
        // OK closes the box; the press of Start then ends.
        EXPECT_EQ(driver_->Command("accept"), "done");
        EXPECT_EQ(Get("/index.html").exitCode, 7);
        ExitDialog();
    }
}

TEST_F(DebugDialogTest, WindowMenuOpensTheAboutBox)
{
    StartDialog();
    const std::string window = driver_->Command(u8"menu バージョン情報 Tarnwick(&A)...");
    EXPECT_EQ(window, u8"window バージョン情報 Tarnwick\tTarnwick Version 1.0");
    EXPECT_EQ(driver_->Command("shot " + Screenshot("debug-about")), "done");
    EXPECT_EQ(driver_->Command("accept"), "done");
}

// Message boxes speak the program's language: Qt's translation is installed in the module.
TEST_F(DebugDialogTest, QtsOwnTextsAreJapanese)
{
    StartDialog();
    EXPECT_EQ(driver_->Command("tr QPlatformTheme\tCancel"), u8"text キャンセル");
    EXPECT_EQ(driver_->Command("tr QPlatformTheme\t&Yes"), u8"text はい(&Y)");
    ExitDialog();
}

// Run from a desktop, "/Debug" is watched on the screen: a refusal there is a box too.
TEST_F(DebugDialogTest, SecondInstanceIsRefusedInABoxAsWellAsOnStandardError)
{
    ProgramRunner server(kProgram, {"/Service"});
    ASSERT_TRUE(WaitUntil([&] { return sandbox_.ServerServes(); }, kProgramLimit)) << server.ErrorOutput();
    const ProgramResult result =
        RefusedInABox(u8"サーバはすでに起動中です、多重起動できません。", "debug-second-instance-refused");
    EXPECT_EQ(result.exitCode, 0);
    // The running server was left alone.
    EXPECT_FALSE(server.HasEnded());
    EXPECT_EQ(Get("/index.html").out, kIndexPage);
}

// A root the run cannot use is no second instance: the box says what is wrong with it.
TEST_F(DebugDialogTest, MissingRootIsNamedInABoxAsWellAsOnStandardError)
{
    const std::string missing = folder_.Path() + "missing";
    const ProgramResult result =
        RefusedInABox(u8"サーバルートのフォルダを使用できません : " + missing + "/ : " + std::strerror(ENOENT),
                      "debug-missing-root", {"TARNWICK_ROOT=" + missing});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.find(u8"すでに起動中"), std::string::npos) << result.err;
}

TEST_F(DebugDialogTest, WithoutADisplayDebugSaysSoAndFails)
{
    const ProgramResult result =
        programtest::RunProgram(kProgram, {"/Debug"}, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}, kProgramLimit);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("DISPLAY"), std::string::npos) << result.err;
}

TEST_F(DebugDialogTest, WithoutTheModuleDebugSaysSoAndFails)
{
    const std::string program = folder_.Path() + "Tarnwick";
    std::filesystem::copy_file(kProgram, program);
    const ProgramResult result = programtest::RunProgram(program, {"/Debug"}, {"QT_QPA_PLATFORM=offscreen"}, kProgramLimit);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("libtarnwick-debug.so"), std::string::npos) << result.err;
}

// Every other mode starts where Qt's GUI libraries are missing.
TEST_F(DebugDialogTest, ServerProgramLinksNoQt)
{
    const ProgramResult result = programtest::RunProgram("/usr/bin/ldd", {kProgram}, {}, kProgramLimit);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("libc.so"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("libQt"), std::string::npos) << result.out;
}

}  // namespace
