// The server program itself, run as a child process with a private server root, registry
// store, runtime folder and unit folder: its switches, the control object a client gets
// through activation, the service under SIGTERM, and the root-making tool.

#include "ForkedControlClient.h"
#include "FreePort.h"
#include "ProgramRunner.h"
#include "ServerTestSupport.h"

#include "ConfigClass.h"
#include "ControlClient.h"
#include "ControlWire.h"
#include "RegistryStore.h"
#include "SettingsSchema.h"
#include "ServerControlInterface.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using programtest::ProgramResult;
using programtest::ProgramRunner;
using programtest::RunProgram;
using testsupport::BusyPort;
using testsupport::ListeningProcess;
using servertest::WaitUntil;
using testsupport::GetFile;
using testsupport::PutFile;
using namespace std::chrono_literals;

const std::string kProgram = TARNWICK_BINARY;
const std::string kMakeRoot = MAKE_ROOT_BINARY;

// A program that comes up, answers and goes within this is healthy; far longer is a hang.
constexpr std::chrono::milliseconds kProgramLimit = 10s;
// Activation starts the program and waits for its socket; the client's own default is 30 s.
constexpr uint64_t kActivationLimitMs = 15000;

const char kIndexPage[] = "<html><body>program test index</body></html>\r\n";
const char kRunningText[] = "サーバは正常に作動中です。";
const char kStoppedText[] = "サーバは停止中です。";
const char kClassKey[] = "CLSID\\{67A61D5D-122D-43C3-8BED-CB80CCCEBBB5}";
const char kAppIdKey[] = "AppID\\{53BED338-262D-477B-A927-53861BC1E214}";
const char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Tarnwick";

std::string ResolvedPath(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// Every leaf below `node`, by its path from there ("Basic::Port"), with its value.
void CollectLeaves(const CConfigAccessor& node, const std::string& path, std::map<std::string, std::string>& leaves)
{
    std::vector<CConfigLeaf> own;
    node.GetLeaves(own);
    for (const CConfigLeaf& leaf : own)
        leaves[path + leaf.key] = leaf.value;
    std::vector<std::string> children;
    node.GetSections(children);
    for (const std::string& child : children)
        CollectLeaves(node.GetSubAccessor(child), path + child + "::", leaves);
}

std::string ControlSocketPath() { return platform::GetControlSocketPath(platform::kServerControlClsid); }

// One HTTP/1.1 exchange on a fresh connection, read to the server's end of stream.
std::string HttpGet(int port, const std::string& target)
{
    return testsupport::HttpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: program-test\r\nConnection: close\r\n\r\n");
}

std::string BodyOf(const std::string& response)
{
    const std::string::size_type end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

// A tree from the marker text that a control method returned.
std::unique_ptr<CConfigClass> ParseTree(const std::u16string& text)
{
    auto tree = std::make_unique<CConfigClass>();
    EXPECT_EQ(tree->LoadSerializedText(platform::Utf16ToCp932(text)), 0);
    return tree;
}

// The datagram socket a service manager listens on (NOTIFY_SOCKET).
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ADD_FAILURE() << "cannot bind the notification socket " << path;
    }
    ~NotifySocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::string& Path() const { return path_; }

    // Collects datagrams until one holds `line` (true) or `limit` has passed (false).
    bool WaitFor(const std::string& line, std::chrono::milliseconds limit = kProgramLimit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (const std::string& message : messages_) {
                if (message.find(line) != std::string::npos)
                    return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                messages_.emplace_back(buffer, static_cast<size_t>(n));
        }
    }

    // The index of the first datagram that holds `line`, -1 when none came.
    int IndexOf(const std::string& line) const
    {
        for (size_t i = 0; i < messages_.size(); ++i) {
            if (messages_[i].find(line) != std::string::npos)
                return static_cast<int>(i);
        }
        return -1;
    }

private:
    std::string path_;
    int fd_ = -1;
    std::vector<std::string> messages_;
};

class ProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = base_.Path() + "root/";
        runtime_ = base_.Path() + "run";  // made by the program, 0700
        registry_ = base_.Path() + "registry";
        units_ = base_.Path() + "units";
        serviceRuntime_ = base_.Path() + "system-run";
        ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((root_ + "www").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(units_.c_str(), 0755), 0);
        // The activation in this process and every program it starts read these.
        ::setenv("TARNWICK_ROOT", root_.c_str(), 1);
        ::setenv("TARNWICK_LISTEN_ADDRESS", "127.0.0.1", 1);
        ::setenv("TARNWICK_RUNTIME_DIR", runtime_.c_str(), 1);
        ::setenv("TARNWICK_REGISTRY", registry_.c_str(), 1);
        ::setenv("TARNWICK_UNIT_DIR", units_.c_str(), 1);
        // Clients here never meet a service of the machine they run on.
        ::setenv("TARNWICK_SERVICE_RUNTIME_DIR", serviceRuntime_.c_str(), 1);
        ::unsetenv("NOTIFY_SOCKET");
        port_ = reserved_.Port();
        ASSERT_GT(port_, 0);
        WriteSettings(root_, port_);
        PutFile(root_ + "www/index.html", kIndexPage);
    }

    void TearDown() override
    {
        for (pid_t pid : activated_)
            EXPECT_TRUE(programtest::KillOwnChild(pid, kProgram)) << "server " << pid << " stays";
    }

    static void WriteSettings(const std::string& root, int port)
    {
        CConfigClass tree;
        tree.SetValue("Setting::Basic::Port", std::to_string(port));
        // A kept-alive connection holds its worker between requests: what a test counts.
        tree.SetValue("Setting::Basic::EnableKeepAlive", "1");
        tree.SetValue("Setting::Index::index.html", "index.html");
        tree.SetValue("Setting::Path::Path_0::VirtualHost", "*");
        tree.SetValue("Setting::Path::Path_0::ServerPath", "/");
        tree.SetValue("Setting::Path::Path_0::LocalPath", "%ServerRoot%www/");
        tree.SetValue("Setting::MimeType::text/html::Ext_00", "html");
        // The settings layer takes CP932 paths; `root` is native (UTF-8).
        ASSERT_EQ(tree.SaveXml(platform::Utf8ToCp932(root) + "Tarnwick.xml", ""), 0);
    }

    ProgramResult Run(const std::vector<std::string>& args, const programtest::EnvironmentChanges& changes = {})
    {
        return RunProgram(kProgram, args, changes, kProgramLimit);
    }

    // The control object through activation; the started server is killed with the test.
    std::unique_ptr<IServerControl> Activate()
    {
        std::unique_ptr<IServerControl> object;
        std::string error;
        const long rc = platform::CreateServerControl(&object, &error, kActivationLimitMs);
        EXPECT_EQ(rc, platform::kOk) << error;
        const pid_t pid = ListeningProcess(ControlSocketPath());
        EXPECT_GT(pid, 0);
        if (pid > 0)
            activated_.push_back(pid);
        return object;
    }

    // Starts the program as the service and waits until it reports READY.
    std::unique_ptr<ProgramRunner> StartService(NotifySocket& notify, programtest::EnvironmentChanges changes = {})
    {
        changes.push_back("NOTIFY_SOCKET=" + notify.Path());
        auto service = std::make_unique<ProgramRunner>(kProgram, std::vector<std::string>{"/Service"}, changes);
        EXPECT_TRUE(notify.WaitFor("READY=1")) << service->ErrorOutput();
        return service;
    }

    bool ClassRegistered() const { return platform::RegistryStore().KeyExists(platform::HKEY_CLASSES_ROOT, kClassKey); }

    std::string ReadString(platform::RegistryRoot root, const std::string& key, const std::string& name) const
    {
        std::string text;
        platform::RegistryStore().ReadStringValue(root, key, name, text);
        return text;
    }

    servertest::TempFolder base_;
    std::string root_;
    std::string runtime_;
    std::string registry_;
    std::string units_;
    std::string serviceRuntime_;  // the system's runtime folder of a service, as its unit names it
    servertest::ReservedPort reserved_;
    int port_ = -1;
    std::vector<pid_t> activated_;
};

// --- One-shot switches --------------------------------------------------------------------

TEST_F(ProgramTest, InstallAppWritesTheClassRegistrationWhateverTheCase)
{
    for (const char* spelling : {"/InstallApp", "/installapp", "/INSTALLAPP"}) {
        SCOPED_TRACE(spelling);
        std::filesystem::remove_all(registry_);
        const ProgramResult result = Run({spelling});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string program = platform::Utf8ToCp932(ResolvedPath(kProgram));
        EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\LocalServer32", ""), program);
        EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, kClassKey, "AppID"), platform::kServerControlAppId);
        EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, "Tarnwick.ServerControl\\CurVer", ""), "Tarnwick.ServerControl.1");
        EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, kAppIdKey, ""), "Tarnwick");
        EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, kAppIdKey, "LocalService"), "");
        // A switch is a one-shot: nothing is served.
        EXPECT_FALSE(Exists(runtime_));
    }
}

TEST_F(ProgramTest, InstallAppWithMoreTextIsANormalStart)
{
    ProgramRunner server(kProgram, {"/InstallApp", "extra"});
    ASSERT_TRUE(WaitUntil([&] { return ListeningProcess(ControlSocketPath()) == server.Pid(); }, kProgramLimit))
        << server.ErrorOutput();
    EXPECT_FALSE(ClassRegistered());

    std::unique_ptr<IServerControl> object;
    ASSERT_EQ(platform::CreateServerControl(&object, nullptr, kActivationLimitMs), platform::kOk);
    short running = -1;
    EXPECT_EQ(object->IsRunning(&running), platform::kOk);
    EXPECT_EQ(running, 0);
    short started = -1;
    EXPECT_EQ(object->StartServer(&started), platform::kOk);
    EXPECT_EQ(started, 0);
    EXPECT_EQ(BodyOf(HttpGet(port_, "/index.html")), kIndexPage);
    // Its only client leaves: the process stops the server and ends.
    object.reset();
    const ProgramResult result = server.Wait(kProgramLimit);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(GetFile(root_ + "Logs/SystemLog.txt").find("サーバを停止しました\r\n"), std::string::npos);
}

TEST_F(ProgramTest, EmptyCommandLineEndsAtOnceAndRegistersNothing)
{
    // A silent controller beside a copy of the program: the real one, started detached
    // without a display, may still be writing its complaint into our stderr pipe.
    const std::string bin = base_.Path() + "bin/";
    ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
    std::filesystem::copy_file(kProgram, bin + "Tarnwick");
    PutFile(bin + "Vollmark", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod((bin + "Vollmark").c_str(), 0755), 0);

    const ProgramResult result = RunProgram(bin + "Tarnwick", {}, {}, kProgramLimit);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(Exists(runtime_));
    EXPECT_FALSE(Exists(registry_));
    EXPECT_FALSE(Exists(root_ + "Logs"));
}

// The controller comes from beside the program, never from the data root that
// TARNWICK_ROOT names (which the server's own users may be able to write).
TEST_F(ProgramTest, EmptyCommandLineStartsTheControllerBesideTheProgram)
{
    const std::string bin = base_.Path() + "bin/";
    ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
    std::filesystem::copy_file(kProgram, bin + "Tarnwick");
    const std::string fakeController = "#!/bin/sh\n: > \"$0.ran\"\n";
    for (const std::string& folder : {bin, root_}) {
        PutFile(folder + "Vollmark", fakeController);
        ASSERT_EQ(::chmod((folder + "Vollmark").c_str(), 0755), 0);
    }

    const ProgramResult result = RunProgram(bin + "Tarnwick", {}, {}, kProgramLimit);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(WaitUntil([&] { return Exists(bin + "Vollmark.ran"); }, kProgramLimit));
    // Started once, so by now the other one would have run too.
    EXPECT_FALSE(Exists(root_ + "Vollmark.ran"));
}

TEST_F(ProgramTest, InstallServiceThenUnInstallService)
{
    const ProgramResult install = Run({"/InstallService"});
    EXPECT_EQ(install.exitCode, 0) << install.err;
    const std::string unit = GetFile(units_ + "/Tarnwick.service");
    EXPECT_NE(unit.find("Description=Tarnwick Service\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("ExecStart=\"" + ResolvedPath(kProgram) + "\" /Service\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("WantedBy=multi-user.target"), std::string::npos) << unit;
    EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, kAppIdKey, "LocalService"), "Tarnwick");
    EXPECT_EQ(ReadString(platform::HKEY_CLASSES_ROOT, kAppIdKey, "ServiceParameters"), "/Service");
    EXPECT_TRUE(ClassRegistered());

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "removing" : "removing again");
        const ProgramResult remove = Run({"/UnInstallService"});
        EXPECT_EQ(remove.exitCode, 0) << remove.err;
        EXPECT_EQ(remove.err, "");
        EXPECT_FALSE(Exists(units_ + "/Tarnwick.service"));
        EXPECT_FALSE(platform::RegistryStore().KeyExists(platform::HKEY_CLASSES_ROOT, kAppIdKey));
        EXPECT_FALSE(ClassRegistered());
    }
}

// The system keeps only the low 8 bits of an exit status: a failure must still read as one.
TEST_F(ProgramTest, FailedServiceInstallOrRemovalExitsNonZeroWithItsMessage)
{
    struct Case {
        const char* description;
        const char* command;
        const char* message;  // UTF-8
    };
    const Case cases[] = {
        {"the unit folder lies under a file", "/InstallService", u8"サービスの追加に失敗しました。"},
        {"the unit is a folder with content", "/UnInstallService", u8"サービスの削除に失敗しました。"},
    };
    PutFile(base_.Path() + "plain", "");
    ASSERT_EQ(::mkdir((units_ + "/Tarnwick.service").c_str(), 0755), 0);
    PutFile(units_ + "/Tarnwick.service/keep", "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string unitDir = std::string(c.command) == "/InstallService" ? base_.Path() + "plain/units" : units_;
        const ProgramResult result = Run({c.command}, {"TARNWICK_UNIT_DIR=" + unitDir});
        EXPECT_NE(result.exitCode, 0);
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}

// What "sudo" leaves for the installer, and what the unit carries from it.
TEST_F(ProgramTest, InstallServiceRunsTheServiceAsTheInstallingUserWithItsRoot)
{
    struct Case {
        const char* description;
        programtest::EnvironmentChanges changes;
        const char* user;  // "" for none
    };
    const Case cases[] = {
        {"sudo for a user", {"SUDO_USER=alice"}, "alice"},
        {"sudo for root", {"SUDO_USER=root"}, ""},
        {"no sudo", {"SUDO_USER"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const ProgramResult install = Run({"/InstallService"}, c.changes);
        ASSERT_EQ(install.exitCode, 0) << install.err;
        const std::string unit = GetFile(units_ + "/Tarnwick.service");
        if (*c.user) {
            EXPECT_NE(unit.find(std::string("\nUser=") + c.user + "\n"), std::string::npos) << unit;
            EXPECT_NE(unit.find("\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n"), std::string::npos) << unit;
        } else {
            EXPECT_EQ(unit.find("User="), std::string::npos) << unit;
            EXPECT_EQ(unit.find("AmbientCapabilities="), std::string::npos) << unit;
        }
        EXPECT_NE(unit.find("\nRuntimeDirectory=tarnwick\nRuntimeDirectoryMode=0700\n"), std::string::npos) << unit;
        EXPECT_NE(unit.find("\nEnvironment=TARNWICK_RUNTIME_DIR=/run/tarnwick\n"), std::string::npos) << unit;
        EXPECT_NE(unit.find("\nEnvironment=TARNWICK_ROOT=" + root_ + "\n"), std::string::npos) << unit;
        ASSERT_EQ(::unlink((units_ + "/Tarnwick.service").c_str()), 0);
    }
}

TEST_F(ProgramTest, InstallServiceCarriesARelativeRootAsAnAbsoluteOne)
{
    const ProgramResult install = Run({"/InstallService"}, {"TARNWICK_ROOT=relative/root"});
    ASSERT_EQ(install.exitCode, 0) << install.err;
    const std::string unit = GetFile(units_ + "/Tarnwick.service");
    const std::string expected = (std::filesystem::current_path() / "relative/root").string();
    EXPECT_NE(unit.find("\nEnvironment=TARNWICK_ROOT=" + expected + "\n"), std::string::npos) << unit;
}

// The store's own words name the store folder and the system's reason.
TEST_F(ProgramTest, FailedRegistrationExitsNonZeroNamingTheStoreAndTheReason)
{
    struct Case {
        const char* description;
        const char* command;
        bool storeUnderAFile;  // else the store's lock file is a folder
        const char* message;   // UTF-8
    };
    const Case cases[] = {
        {"registering into a store under a file", "/InstallApp", true, u8"登録に失敗しました : "},
        {"registering the service's class there", "/InstallService", true, u8"登録に失敗しました : "},
        {"unregistering from a store that cannot be locked", "/UnInstallApp", false, u8"登録の解除に失敗しました : "},
        {"uninstalling all from it", "/UnInstall", false, u8"登録の解除に失敗しました : "},
    };
    PutFile(base_.Path() + "plain", "");
    const std::string underFile = base_.Path() + "plain/registry";
    ASSERT_EQ(::mkdir(registry_.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((registry_ + "/.lock").c_str(), 0700), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string store = c.storeUnderAFile ? underFile : registry_;
        const ProgramResult result = Run({c.command}, {"TARNWICK_REGISTRY=" + store});
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("registry store " + store), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(std::strerror(c.storeUnderAFile ? ENOTDIR : EISDIR)), std::string::npos)
            << result.err;
        ::unlink((units_ + "/Tarnwick.service").c_str());
    }
}

// --- The control object -------------------------------------------------------------------

TEST_F(ProgramTest, ActivationWithoutRegistrationIsClassNotRegistered)
{
    std::unique_ptr<IServerControl> object;
    EXPECT_EQ(platform::CreateServerControl(&object, nullptr, kActivationLimitMs), platform::kClassNotRegistered);
    EXPECT_EQ(object, nullptr);
    EXPECT_FALSE(Exists(ControlSocketPath()));
}

TEST_F(ProgramTest, ControlObjectDrivesTheActivatedServer)
{
    ASSERT_EQ(Run({"/InstallApp"}).exitCode, 0);
    std::unique_ptr<IServerControl> object = Activate();
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(activated_.size(), 1u);
    const pid_t server = activated_[0];
    struct stat folder;
    ASSERT_EQ(::stat(runtime_.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    short value = -1;
    std::u16string text;
    // Before any start: no core, empty documents.
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->GetServerInfo(&text), platform::kOk);
    EXPECT_EQ(text, u"");
    EXPECT_EQ(object->GetServerErrorString(&text), platform::kOk);
    EXPECT_EQ(platform::Utf16ToCp932(text), kStoppedText);

    EXPECT_EQ(object->StartServer(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->GetServerErrorString(&text), platform::kOk);
    EXPECT_EQ(text, u"サーバは正常に作動中です。");
    EXPECT_EQ(platform::Utf16ToCp932(text), kRunningText);
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(object->IsService(&value), platform::kOk);
    EXPECT_EQ(value, 0);

    ASSERT_EQ(object->GetServerInfo(&text), platform::kOk);
    auto info = ParseTree(text);
    EXPECT_EQ(info->GetValue("ServerInfo::ServerName", ""), "Tarnwick");
    EXPECT_EQ(info->GetValue("ServerInfo::ServerPort", ""), std::to_string(port_));
    EXPECT_EQ(info->GetValue("ServerInfo::ServerRoot", ""), root_);
    ASSERT_EQ(object->GetServerSetting(&text), platform::kOk);
    EXPECT_EQ(ParseTree(text)->GetValue("Setting::Basic::Port", ""), std::to_string(port_));
    ASSERT_EQ(object->GetServerRoot(&text), platform::kOk);
    EXPECT_EQ(platform::Utf16ToCp932(text), root_);
    EXPECT_EQ(text.back(), u'/');

    // IsActive counts connections, not a flag.
    EXPECT_EQ(object->IsActive(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    // Each is kept alive after its answer: a connection whose request has not come is not
    // yet given to a worker.
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n";
    const int first = servertest::ConnectAndSend(port_, request);
    const int second = servertest::ConnectAndSend(port_, request);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_TRUE(WaitUntil([&] { return object->IsActive(&value) == platform::kOk && value == 2; }));
    ::close(first);
    ::close(second);

    const std::string response = HttpGet(port_, "/index.html");
    EXPECT_EQ(response.rfind("HTTP/1.1 200", 0), 0u) << response;
    EXPECT_EQ(BodyOf(response), kIndexPage);
    // The finished request is in the context's recent list.
    std::unique_ptr<CConfigClass> context;
    EXPECT_TRUE(WaitUntil([&] {
        if (object->GetServerContext(&text) != platform::kOk)
            return false;
        context = ParseTree(text);
        std::vector<std::string> names;
        context->GetSections("ThreadLogs::", names);
        for (const std::string& name : names) {
            if (context->GetValue("ThreadLogs::" + name + "::RequestInfo::URL", "") == "/index.html")
                return true;
        }
        return false;
    })) << platform::Cp932ToUtf8(platform::Utf16ToCp932(text));

    // A start on a running server is a fresh core: its recent list begins empty.
    EXPECT_EQ(object->StartServer(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(object->GetServerContext(&text), platform::kOk);
    EXPECT_EQ(ParseTree(text)->GetSectionCount("ThreadLogs::"), 0);

    EXPECT_EQ(object->StopServer(), platform::kOk);
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->GetServerErrorString(&text), platform::kOk);
    EXPECT_EQ(platform::Utf16ToCp932(text), kStoppedText);
    EXPECT_EQ(object->GetServerContext(&text), platform::kOk);
    EXPECT_EQ(text, u"");
    EXPECT_EQ(servertest::ConnectLoopback(port_), -1);

    // The last client leaves: the server process ends and takes its socket with it.
    object.reset();
    EXPECT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(server); }, kProgramLimit));
    EXPECT_FALSE(Exists(ControlSocketPath()));
}

// The controller gave up on a call while the server was stopped and dropped its channel;
// it runs on and binds again on its next poll, so the server must still be there.
TEST_F(ProgramTest, ActivatedServerOutlivesABrokenChannelWhileItsClientRunsAndEndsWithIt)
{
    ASSERT_EQ(Run({"/InstallApp"}).exitCode, 0);
    std::unique_ptr<IServerControl> object = Activate();
    ASSERT_NE(object, nullptr);
    const pid_t server = activated_[0];
    testsupport::ForkedControlClient controller(ControlSocketPath());
    ASSERT_TRUE(controller.WaitBound());
    // Released as a client that is done: the server stays for the other one.
    object.reset();

    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    ASSERT_TRUE(controller.HangUp());
    ASSERT_EQ(::kill(server, SIGCONT), 0);
    // Resumed, it finds its only client's channel gone; it serves on, as the same process.
    std::string error;
    EXPECT_EQ(platform::CreateServerControl(&object, &error, kActivationLimitMs), platform::kOk) << error;
    const pid_t serving = ListeningProcess(ControlSocketPath());
    if (serving > 0 && serving != server)
        activated_.push_back(serving);
    EXPECT_EQ(serving, server);
    object.reset();

    // The controller ends: nothing holds the server any more.
    controller.End();
    EXPECT_TRUE(WaitUntil([&] { return !programtest::ProcessExists(server); }, kProgramLimit));
}

TEST_F(ProgramTest, StartServerOnABusyPortFailsWithTheReasonAndTheProcessStays)
{
    BusyPort busy;
    const int busyPort = busy.Port();
    ASSERT_GT(busyPort, 0);
    WriteSettings(root_, busyPort);

    ASSERT_EQ(Run({"/InstallApp"}).exitCode, 0);
    std::unique_ptr<IServerControl> object = Activate();
    ASSERT_NE(object, nullptr);
    short value = 0;
    std::u16string text;
    EXPECT_EQ(object->StartServer(&value), platform::kOk);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(object->GetServerErrorString(&text), platform::kOk);
    EXPECT_EQ(text, u"ポート待ちうけに失敗しました、ポート番号を確認してください");
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->GetServerInfo(&text), platform::kOk);
    EXPECT_EQ(text, u"");

    // The settings are read at every start: once the port is free the same process serves.
    busy.Release();
    EXPECT_EQ(object->StartServer(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(BodyOf(HttpGet(busyPort, "/index.html")), kIndexPage);
}

// --- Single instance ----------------------------------------------------------------------

TEST_F(ProgramTest, SecondInstanceOnTheSameRootIsRefused)
{
    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> first = StartService(notify);
    for (const char* command : {"-Embedding", "/Service"}) {
        SCOPED_TRACE(command);
        const ProgramResult second = Run({command});
        EXPECT_FALSE(second.timedOut);
        EXPECT_EQ(second.exitCode, 0);
        EXPECT_NE(second.err.find(u8"サーバはすでに起動中です、多重起動できません。"), std::string::npos) << second.err;
    }
    // The first one still serves.
    EXPECT_EQ(ListeningProcess(ControlSocketPath()), first->Pid());
    EXPECT_EQ(BodyOf(HttpGet(port_, "/index.html")), kIndexPage);
}

TEST_F(ProgramTest, IsRunningTellsWhetherAnInstanceHoldsTheRoot)
{
    EXPECT_EQ(Run({"/IsRunning"}).exitCode, 0);
    {
        NotifySocket notify(base_.Path() + "notify");
        std::unique_ptr<ProgramRunner> service = StartService(notify);
        EXPECT_EQ(Run({"/IsRunning"}).exitCode, 1);
        EXPECT_EQ(Run({"/isrunning"}).exitCode, 1);
        // Another root is another server.
        const std::string otherRoot = base_.Path() + "other/";
        ASSERT_EQ(::mkdir(otherRoot.c_str(), 0755), 0);
        EXPECT_EQ(Run({"/IsRunning"}, {"TARNWICK_ROOT=" + otherRoot}).exitCode, 0);
        service->Signal(SIGTERM);
        EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
    }
    EXPECT_EQ(Run({"/IsRunning"}).exitCode, 0);
}

// A root that cannot hold the instance lock is no second instance: each mode says what is
// wrong with the root, naming it and the system's reason, and a serving mode fails.
TEST_F(ProgramTest, UnusableRootIsNamedWithItsReasonInEveryMode)
{
    PutFile(base_.Path() + "plain", "");
    const std::string lockedOut = base_.Path() + "lock-is-a-folder/";
    ASSERT_EQ(::mkdir(lockedOut.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((lockedOut + "Tarnwick.lock").c_str(), 0755), 0);
    struct Case {
        const char* description;
        std::string root;   // as TARNWICK_ROOT gives it
        std::string named;  // what the message names
        int reason;         // errno
    };
    const Case cases[] = {
        {"a missing root", base_.Path() + "missing", base_.Path() + "missing/", ENOENT},
        {"a root that is a file", base_.Path() + "plain", base_.Path() + "plain/", ENOTDIR},
        {"a lock file that is a folder", lockedOut, lockedOut + "Tarnwick.lock", EISDIR},
    };
    const std::pair<const char*, int> modes[] = {{"/Service", 1}, {"-Embedding", 1}, {"/IsRunning", 2}};
    for (const Case& c : cases) {
        for (const auto& [command, exitCode] : modes) {
            SCOPED_TRACE(std::string(c.description) + ", " + command);
            const ProgramResult result = Run({command}, {"TARNWICK_ROOT=" + c.root});
            EXPECT_FALSE(result.timedOut);
            EXPECT_EQ(result.exitCode, exitCode);
            EXPECT_NE(result.err.find(u8"Tarnwick: サーバルートのフォルダを使用できません : " + c.named + " : " +
                                      std::strerror(c.reason) + "\n"),
                      std::string::npos)
                << result.err;
            EXPECT_EQ(result.err.find(u8"すでに起動中"), std::string::npos) << result.err;
            EXPECT_FALSE(Exists(runtime_));
        }
    }
}

// The controller starts the server with no terminal: it learns the server's reason all the same.
TEST_F(ProgramTest, ActivationOnAMissingRootTellsTheClientWhy)
{
    ASSERT_EQ(Run({"/InstallApp"}).exitCode, 0);
    const std::string missing = base_.Path() + "missing";
    ::setenv("TARNWICK_ROOT", missing.c_str(), 1);
    std::unique_ptr<IServerControl> object;
    std::string error;
    EXPECT_EQ(platform::CreateServerControl(&object, &error, kActivationLimitMs), platform::kServerNotStarted);
    EXPECT_EQ(object, nullptr);
    EXPECT_NE(error.find("exit code 1"), std::string::npos) << error;
    EXPECT_NE(error.find(u8"サーバルートのフォルダを使用できません : " + missing + "/ : " + std::strerror(ENOENT)),
              std::string::npos)
        << error;
}

// The service is reached only through its control socket: without one it fails, naming the
// folder and the reason, and serves nothing.
TEST_F(ProgramTest, ServiceWithoutItsControlSocketFailsNamingTheFolder)
{
    PutFile(base_.Path() + "plain", "");
    const std::string open = base_.Path() + "open";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    struct Case {
        const char* description;
        std::string folder;
        std::string reason;
    };
    const Case cases[] = {
        {"a folder that cannot be made", base_.Path() + "plain/run", std::strerror(ENOTDIR)},
        {"a folder open to others", open, "open to other users; make it private with: chmod 700 " + open},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const ProgramResult result = Run({"/Service"}, {"TARNWICK_RUNTIME_DIR=" + c.folder});
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(c.folder), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
    }

    // Taken: a service of another root serves the class in the same folder.
    const std::string otherRoot = base_.Path() + "other/";
    ASSERT_EQ(::mkdir(otherRoot.c_str(), 0755), 0);
    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> first = StartService(notify, {"TARNWICK_ROOT=" + otherRoot});
    const ProgramResult second = Run({"/Service"});
    EXPECT_FALSE(second.timedOut);
    EXPECT_NE(second.exitCode, 0);
    EXPECT_NE(second.err.find("another process serves " + ControlSocketPath()), std::string::npos) << second.err;
    first->Signal(SIGTERM);
    EXPECT_EQ(first->Wait(kProgramLimit).exitCode, 0);
}

// --- The service --------------------------------------------------------------------------

TEST_F(ProgramTest, ServiceServesAndStopsCleanlyOnSigterm)
{
    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify);
    const std::string response = HttpGet(port_, "/index.html");
    EXPECT_EQ(response.rfind("HTTP/1.1 200", 0), 0u) << response;
    EXPECT_EQ(BodyOf(response), kIndexPage);

    ASSERT_TRUE(service->Signal(SIGTERM));
    const ProgramResult result = service->Wait(kProgramLimit);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(notify.WaitFor("STOPPING=1", 1s));
    EXPECT_LT(notify.IndexOf("READY=1"), notify.IndexOf("STOPPING=1"));
    EXPECT_FALSE(Exists(ControlSocketPath()));

    // The system log: CP932 lines ended by CR LF.
    const std::string log = GetFile(root_ + "Logs/SystemLog.txt");
    const std::string::size_type started = log.find("サーバを起動しました\r\n");
    const std::string::size_type stopped = log.find("サーバを停止しました\r\n");
    EXPECT_NE(started, std::string::npos) << platform::Cp932ToUtf8(log);
    EXPECT_NE(stopped, std::string::npos) << platform::Cp932ToUtf8(log);
    EXPECT_LT(started, stopped);
    EXPECT_EQ(log.find(u8"サーバ"), std::string::npos);
    for (std::string::size_type at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1))
        EXPECT_TRUE(at > 0 && log[at - 1] == '\r') << "bare LF at " << at;

    // The event source was recorded for the events.
    platform::RegistryStore store;
    std::string file;
    std::uint32_t types = 0;
    EXPECT_TRUE(store.ReadStringValue(platform::HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile", file));
    EXPECT_EQ(file, platform::Utf8ToCp932(ResolvedPath(kProgram)));
    EXPECT_TRUE(store.ReadDWordValue(platform::HKEY_LOCAL_MACHINE, kEventSourceKey, "TypesSupported", types));
    EXPECT_EQ(types, 5u);
}

TEST_F(ProgramTest, ServiceStopsCleanlyOnSigintToo)
{
    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify);
    ASSERT_TRUE(service->Signal(SIGINT));
    const ProgramResult result = service->Wait(kProgramLimit);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(GetFile(root_ + "Logs/SystemLog.txt").find("サーバを停止しました\r\n"), std::string::npos);
}

// A root whose name holds blanks and characters with a 0x5C trail byte (表, ソ in CP932).
TEST_F(ProgramTest, ServiceServesFromARootWithAJapaneseName)
{
    const std::string root = base_.Path() + u8"表示 ソフト/";
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "www").c_str(), 0755), 0);
    WriteSettings(root, port_);
    PutFile(root + "www/index.html", kIndexPage);

    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify, {"TARNWICK_ROOT=" + root});
    EXPECT_EQ(BodyOf(HttpGet(port_, "/index.html")), kIndexPage);
    std::unique_ptr<IServerControl> object;
    ASSERT_EQ(platform::CreateServerControl(&object, nullptr, kActivationLimitMs), platform::kOk);
    std::u16string text;
    EXPECT_EQ(object->GetServerRoot(&text), platform::kOk);
    EXPECT_EQ(platform::Cp932ToUtf8(platform::Utf16ToCp932(text)), root);
    object.reset();
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
    EXPECT_NE(GetFile(root + "Logs/SystemLog.txt").find("サーバを停止しました\r\n"), std::string::npos);
}

// The service runs on after a failed start: a client learns why and may start it later.
TEST_F(ProgramTest, ServiceWithAFailedStartStaysUpForItsClients)
{
    BusyPort busy;
    const int busyPort = busy.Port();
    ASSERT_GT(busyPort, 0);
    WriteSettings(root_, busyPort);

    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify);
    std::unique_ptr<IServerControl> object;
    ASSERT_EQ(platform::CreateServerControl(&object, nullptr, kActivationLimitMs), platform::kOk);
    short value = -1;
    std::u16string text;
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->GetServerErrorString(&text), platform::kOk);
    EXPECT_EQ(text, u"ポート待ちうけに失敗しました、ポート番号を確認してください");
    // A person at the terminal, or the service manager's journal, sees why.
    EXPECT_NE(service->ErrorOutput().find(u8"Tarnwick: サーバ起動エラー : ポート待ちうけに失敗しました"), std::string::npos)
        << service->ErrorOutput();
    // So does systemctl status: the manager's status line.
    EXPECT_TRUE(notify.WaitFor(u8"READY=1\nSTATUS=サーバ起動エラー : ポート待ちうけに失敗しました、ポート番号を確認してください"));
    busy.Release();
    EXPECT_EQ(object->StartServer(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(BodyOf(HttpGet(busyPort, "/index.html")), kIndexPage);
    // The status line follows the client's starts and stops.
    EXPECT_TRUE(notify.WaitFor("READY=1\nSTATUS=Running"));
    EXPECT_EQ(object->StopServer(), platform::kOk);
    EXPECT_TRUE(notify.WaitFor(u8"READY=1\nSTATUS=サーバは停止中です。"));
    object.reset();
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
}

// Built-in defaults would serve on port 80 without a path entry and look healthy.
TEST_F(ProgramTest, ServiceWithUnparsableSettingsFailsItsStartWithTheParsersReason)
{
    PutFile(root_ + "Tarnwick.xml", "<CConfigClass type=\"Tarnwick\">\n<Node name=\"Tarnwick\">\n<Leaf");

    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify);
    const std::string errors = service->ErrorOutput();
    EXPECT_NE(errors.find(u8"サーバ起動エラー : Tarnwick.xmlのロードに失敗しました : " + root_ + "Tarnwick.xml"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("line 3"), std::string::npos) << errors;
    EXPECT_TRUE(notify.WaitFor(u8"STATUS=サーバ起動エラー : Tarnwick.xmlのロードに失敗しました : " + root_ + "Tarnwick.xml"));
    std::unique_ptr<IServerControl> object;
    ASSERT_EQ(platform::CreateServerControl(&object, nullptr, kActivationLimitMs), platform::kOk);
    short value = -1;
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 0);
    object.reset();
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
}

TEST_F(ProgramTest, ServiceControlObjectSaysItIsTheServiceAndOutlivesItsClients)
{
    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify);
    for (int client = 0; client < 2; ++client) {
        SCOPED_TRACE(client);
        std::unique_ptr<IServerControl> object;
        // The service serves the class: nothing needs to be registered or started.
        ASSERT_EQ(platform::CreateServerControl(&object, nullptr, kActivationLimitMs), platform::kOk);
        short value = 0;
        EXPECT_EQ(object->IsService(&value), platform::kOk);
        EXPECT_EQ(value, 1);
        EXPECT_EQ(object->IsRunning(&value), platform::kOk);
        EXPECT_EQ(value, 1);
    }
    EXPECT_FALSE(service->HasEnded());
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
}

// As systemd runs the unit: the service's socket in the system's runtime folder, which a
// client finds when its own private folder has nothing.
TEST_F(ProgramTest, ClientFindsTheServiceInTheSystemRuntimeFolder)
{
    ASSERT_EQ(::mkdir(serviceRuntime_.c_str(), 0700), 0);
    NotifySocket notify(base_.Path() + "notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify, {"TARNWICK_RUNTIME_DIR=" + serviceRuntime_});
    const std::string serviceSocket = platform::GetControlSocketPath(serviceRuntime_, platform::kServerControlClsid);
    EXPECT_EQ(ListeningProcess(serviceSocket), service->Pid());
    EXPECT_FALSE(Exists(ControlSocketPath()));

    std::unique_ptr<IServerControl> object;
    std::string error;
    ASSERT_EQ(platform::CreateServerControl(&object, &error, kActivationLimitMs), platform::kOk) << error;
    short value = 0;
    EXPECT_EQ(object->IsService(&value), platform::kOk);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(object->IsRunning(&value), platform::kOk);
    EXPECT_EQ(value, 1);
    object.reset();
    // Still there for the next client, and nothing was started in the private folder.
    EXPECT_FALSE(service->HasEnded());
    ASSERT_EQ(platform::CreateServerControl(&object, &error, kActivationLimitMs), platform::kOk) << error;
    object.reset();
    EXPECT_FALSE(Exists(ControlSocketPath()));
    EXPECT_EQ(ListeningProcess(serviceSocket), service->Pid());
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
}

// --- The root-making tool -----------------------------------------------------------------

TEST_F(ProgramTest, MakeRootWritesSettingsThatTheServerServesFrom)
{
    const std::string fresh = base_.Path() + "fresh";
    const ProgramResult made = RunProgram(kMakeRoot, {fresh}, {}, kProgramLimit);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_TRUE(Exists(fresh + "/Logs"));

    // The tool's own port is fixed; the test gives the server a reserved one.
    CConfigClass settings;
    ConfigFileState state = ConfigFileState::Missing;
    ASSERT_EQ(settings.LoadXml(fresh + "/Tarnwick.xml", &state), 0);
    EXPECT_EQ(state, ConfigFileState::Read);
    EXPECT_EQ(settings.GetValue("Setting::Basic::Port", ""), "8080");
    const servertest::ReservedPort reserved;
    const int port = reserved.Port();
    settings.SetValue("Setting::Basic::Port", std::to_string(port));
    ASSERT_EQ(settings.SaveXml(fresh + "/Tarnwick.xml", ""), 0);

    NotifySocket notify(fresh + "/notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify, {"TARNWICK_ROOT=" + fresh});
    const std::string page = GetFile(fresh + "/www/index.html");
    EXPECT_NE(page.find("<h1>Tarnwick</h1>"), std::string::npos);
    // The folder names its index document, which the client then asks for.
    const std::string redirect = HttpGet(port, "/");
    EXPECT_EQ(redirect.rfind("HTTP/1.1 301", 0), 0u) << redirect;
    EXPECT_NE(redirect.find("\r\nLocation: index.html\r\n"), std::string::npos) << redirect;
    const std::string response = HttpGet(port, "/index.html");
    EXPECT_EQ(response.rfind("HTTP/1.1 200", 0), 0u) << response;
    EXPECT_EQ(BodyOf(response), page);
    EXPECT_NE(response.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << response;
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
}

// A command line the tool does not understand makes nothing: not the root that
// TARNWICK_ROOT names, nor a folder named after an option in the working folder. The usage
// goes to standard error with status 2; asked for, to standard output with status 0.
TEST_F(ProgramTest, MakeRootShowsItsUsageAndMakesNothingForAWrongCommandLine)
{
    const std::string work = base_.Path() + "work";
    const std::string named = base_.Path() + "named-root";
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    const struct {
        const char* description;
        std::vector<std::string> args;
        int exitCode;
        const char* error;  // a piece of standard error before the usage; "" for none
    } cases[] = {
        {"no argument", {}, 2, "a server root is needed"},
        {"--help", {"--help"}, 0, ""},
        {"--help after a root", {"root", "--help"}, 0, ""},
        {"--port without a number", {"--port"}, 2, "--port needs a port number"},
        {"--port 0", {"--port", "0", "root"}, 2, "not a port number (1-65535): 0"},
        {"--port 65536", {"--port", "65536", "root"}, 2, "not a port number (1-65535): 65536"},
        {"--port -1", {"--port", "-1", "root"}, 2, "not a port number (1-65535): -1"},
        {"--port 80x", {"--port", "80x", "root"}, 2, "not a port number (1-65535): 80x"},
        {"--port without a root", {"--port", "8081"}, 2, "a server root is needed"},
        {"--urls with --port", {"--urls", "--port", "8081", "root"}, 2, "--urls and --port do not go together"},
        {"an unknown option", {"--verbose", "root"}, 2, "unknown option --verbose"},
        {"two roots", {"root", "other"}, 2, "one server root only: other"},
    };
    const std::string usage = "usage: tarnwick-make-root [--port N] ROOT\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::vector<std::string> args = {"-c", "cd \"$0\" && exec \"$@\"", work, kMakeRoot};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramResult result = RunProgram("/bin/sh", args, {"TARNWICK_ROOT=" + named}, kProgramLimit);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(result.out.rfind(usage, 0), 0u) << result.out;
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind(std::string("tarnwick-make-root: ") + c.error + "\n" + usage, 0), 0u)
                << result.err;
        }
        EXPECT_TRUE(std::filesystem::is_empty(work));
        EXPECT_FALSE(Exists(named));
    }
}

// --port writes the port into a new root's settings, and into an existing root's, whose
// other settings stay as they were; settings it cannot read are left alone.
TEST_F(ProgramTest, MakeRootPortOptionSetsThePortOfANewOrAnExistingRoot)
{
    const std::string fresh = base_.Path() + "fresh";
    for (const char* port : {"1", "65535"}) {
        SCOPED_TRACE(port);
        const ProgramResult made = RunProgram(kMakeRoot, {"--port", port, fresh}, {}, kProgramLimit);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        CConfigClass settings;
        ASSERT_EQ(settings.LoadXml(fresh + "/Tarnwick.xml"), 0);
        EXPECT_EQ(settings.GetValue("Setting::Basic::Port", ""), port);
        EXPECT_EQ(settings.GetValue("Setting::Path::Path_0::ServerPath", ""), "/");
    }

    std::map<std::string, std::string> before;
    {
        CConfigClass settings;
        ASSERT_EQ(settings.LoadXml(root_ + "Tarnwick.xml"), 0);
        CollectLeaves(settings.GetAccessor("Setting"), "", before);
    }
    const ProgramResult set = RunProgram(kMakeRoot, {"--port", "8123", root_}, {}, kProgramLimit);
    ASSERT_EQ(set.exitCode, 0) << set.err;
    std::map<std::string, std::string> after;
    {
        CConfigClass settings;
        ASSERT_EQ(settings.LoadXml(root_ + "Tarnwick.xml"), 0);
        CollectLeaves(settings.GetAccessor("Setting"), "", after);
    }
    before["Basic::Port"] = "8123";
    EXPECT_EQ(after, before);

    const std::string broken = "<CConfigClass type=\"Tarnwick\"><Node name=";
    PutFile(root_ + "Tarnwick.xml", broken);
    const ProgramResult refused = RunProgram(kMakeRoot, {"--port", "8124", root_}, {}, kProgramLimit);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("the port is not set, the settings are not read: "), std::string::npos) << refused.err;
    EXPECT_EQ(GetFile(root_ + "Tarnwick.xml"), broken);
}

// The settings file holds what the settings table gives a first root, keyed as the
// controller keys it, and else only the type tables that the tool generates, whose leaves
// are named as the table says.
TEST_F(ProgramTest, MakeRootWritesWhatTheSettingsTableGivesAFirstRoot)
{
    const std::string fresh = base_.Path() + "table";
    const ProgramResult made = RunProgram(kMakeRoot, {fresh}, {}, kProgramLimit);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    CConfigClass settings;
    ASSERT_EQ(settings.LoadXml(fresh + "/Tarnwick.xml"), 0);
    const CConfigAccessor setting = settings.GetAccessor("Setting");
    std::map<std::string, std::string> written;
    CollectLeaves(setting, "", written);

    const std::string firstEntry = std::string(schema::kPath.path) + "::" + schema::kPath.EntryName(0) + "::";
    std::map<std::string, std::string> expected;
    std::vector<std::string> generated;
    for (const schema::SettingRow& row : schema::kTable) {
        if (row.firstRoot == schema::kNotWritten)
            continue;
        ASSERT_TRUE(row.scope == schema::kInSetting || row.scope == schema::kInPathEntry) << row.path;
        const std::string path = (row.scope == schema::kInPathEntry ? firstEntry : "") + std::string(row.path);
        if (row.firstRoot == schema::kGenerated) {
            generated.push_back(path);
            if (row.kind == schema::kEntries) {
                const schema::NodeKey table = schema::FindNode(row.scope, row.path);
                std::vector<std::string> entries;
                setting.GetSubAccessor(path).GetSections(entries);
                EXPECT_FALSE(entries.empty()) << path;
                for (const std::string& entry : entries) {
                    std::vector<std::string> keys;
                    setting.GetSubAccessor(path).GetSubAccessor(entry).GetKeys(keys);
                    for (size_t i = 0; i < keys.size(); ++i)
                        EXPECT_EQ(keys[i], table.LeafName(static_cast<int>(i))) << entry;
                }
            }
        } else if (row.kind == schema::kList) {
            std::istringstream rows{std::string(row.firstRootValue)};
            for (std::string value; rows >> value;)
                expected[path + "::" + value] = value;
        } else {
            expected[path] = std::string(row.firstRootValue);
        }
    }
    for (const auto& [path, value] : expected) {
        const auto found = written.find(path);
        ASSERT_NE(found, written.end()) << path << " is not written";
        EXPECT_EQ(found->second, value) << path;
    }
    for (const auto& [path, value] : written) {
        bool fromTable = expected.count(path) != 0;
        for (const std::string& node : generated)
            fromTable = fromTable || path == node || path.rfind(node + "::", 0) == 0;
        EXPECT_TRUE(fromTable) << path << " = " << value << " is not in the settings table";
    }
}

TEST_F(ProgramTest, MakeRootWritesSettingsOnlyItsOwnerCanRead)
{
    const std::string fresh = base_.Path() + "private";
    const mode_t umask = ::umask(022);
    const ProgramResult made = RunProgram(kMakeRoot, {fresh}, {}, kProgramLimit);
    ::umask(umask);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    struct stat st;
    ASSERT_EQ(::stat((fresh + "/Tarnwick.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// The templates the tool writes are the server's own pages, which it then reads from the
// files: a change to a file shows in the next answer.
TEST_F(ProgramTest, MakeRootWritesTheBuiltInTemplatesThatTheServerServesFrom)
{
    const std::string fresh = base_.Path() + "templates";
    const ProgramResult made = RunProgram(kMakeRoot, {fresh}, {}, kProgramLimit);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    CConfigClass settings;
    ASSERT_EQ(settings.LoadXml(fresh + "/Tarnwick.xml"), 0);
    const servertest::ReservedPort reserved;
    const int port = reserved.Port();
    settings.SetValue("Setting::Basic::Port", std::to_string(port));
    ASSERT_EQ(settings.SaveXml(fresh + "/Tarnwick.xml", ""), 0);
    ASSERT_EQ(::mkdir((fresh + "/www/empty").c_str(), 0755), 0);

    NotifySocket notify(fresh + "/notify");
    std::unique_ptr<ProgramRunner> service = StartService(notify, {"TARNWICK_ROOT=" + fresh});
    const struct {
        const char* file;
        const char* path;
        const char* shown;  // a piece of the page as written
    } cases[] = {
        {"Response_default.html", "/missing.html", "<h1>404 Not Found</h1>"},
        {"DirectoryList.html", "/empty/", "<h1>Index of /empty/</h1>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = fresh + "/Html/" + c.file;
        const std::string written = GetFile(file);
        ASSERT_FALSE(written.empty());
        const std::string before = BodyOf(HttpGet(port, c.path));
        EXPECT_NE(before.find(c.shown), std::string::npos) << before;
        PutFile(file, "<p>edited %Object%</p>\r\n" + written);
        const std::string after = BodyOf(HttpGet(port, c.path));
        EXPECT_EQ(after.rfind(std::string("<p>edited ") + c.path + "</p>\r\n", 0), 0u) << after;
        EXPECT_EQ(after.substr(after.find("\r\n") + 2), before);
    }
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(kProgramLimit).exitCode, 0);
}

TEST_F(ProgramTest, MakeRootLeavesExistingFilesAlone)
{
    const std::string settings = GetFile(root_ + "Tarnwick.xml");
    ASSERT_FALSE(settings.empty());
    const ProgramResult made = RunProgram(kMakeRoot, {root_}, {}, kProgramLimit);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(GetFile(root_ + "Tarnwick.xml"), settings);
    EXPECT_EQ(GetFile(root_ + "www/index.html"), kIndexPage);
}

}  // namespace
