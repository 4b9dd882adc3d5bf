// scripts/serve, what scripts/run runs after the build, on a root that the root-making tool
// prepared: a start that fails is reported with the server's reason and a nonzero exit; a
// start that succeeds shows every address and the controller's command, and serves the
// default root's pictures and types; --port serves on that port and the root keeps it.
// Also scripts/run itself, in a copy of the scripts whose build folder is this build.

#include "FreePort.h"
#include "ProgramRunner.h"
#include "ServerTestSupport.h"
#include "net/TestCertificate.h"

#include "ConfigClass.h"
#include "ControlWire.h"
#include "ServerControlInterface.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using programtest::EnvironmentChanges;
using programtest::ProgramResult;
using programtest::ProgramRunner;
using programtest::RunProgram;
using testsupport::GetFile;
using testsupport::PutFile;
using namespace std::chrono_literals;

const std::string kServe = SERVE_SCRIPT;
const std::string kScripts = std::filesystem::path(kServe).parent_path().string() + "/";
const std::string kBuildFolder = BUILD_FOLDER;
const std::string kMakeRoot = MAKE_ROOT_BINARY;
const std::string kProgram = TARNWICK_BINARY;

// The script's own bound on the first answer, and this test's bound on the script: a start
// on loopback takes well under a second, the script's shell and tools a little more.
const char kStartSeconds[] = "15";
constexpr std::chrono::milliseconds kScriptLimit = 30s;
// The controller comes up offscreen and binds within a few seconds, under the sanitizers and
// a loaded machine within tens; longer is a failure.
constexpr std::chrono::milliseconds kControllerLimit = 60s;
// What the script says before the controller's command.
const char kControllerSaid[] = "to start the controller on this root: ";

struct Answer {
    int status = 0;
    std::string contentType;
    std::string body;
};

// One GET on a fresh connection; status 0 when nothing answered.
Answer Get(int port, const std::string& target)
{
    const std::string response = testsupport::HttpExchange(
        port, "GET " + target + " HTTP/1.1\r\nHost: serve-test\r\nConnection: close\r\n\r\n");
    Answer answer;
    if (response.rfind("HTTP/1.1 ", 0) == 0)
        answer.status = std::atoi(response.c_str() + 9);
    const std::string::size_type end = response.find("\r\n\r\n");
    const std::string::size_type type = response.find("\r\nContent-Type: ");
    if (type != std::string::npos && type < end)
        answer.contentType = response.substr(type + 16, response.find("\r\n", type + 2) - type - 16);
    if (end != std::string::npos)
        answer.body = response.substr(end + 4);
    return answer;
}

class ServeScriptTest : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = base_.Path() + "root/";
        const ProgramResult made = RunProgram(kMakeRoot, {root_}, {}, kScriptLimit);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        port_ = reserved_.Port();
        ASSERT_GT(port_, 0);
        ChangeSetting("Setting::Basic::Port", std::to_string(port_));
    }

    void TearDown() override
    {
        // The script stops its server on SIGTERM; the SIGKILL of a runner that goes would
        // leave the server behind.
        if (script_ && !script_->HasEnded()) {
            script_->Signal(SIGTERM);
            script_->Wait(kScriptLimit);
        }
    }

    void ChangeSetting(const std::string& key, const std::string& value)
    {
        CConfigClass tree;
        ASSERT_EQ(tree.LoadXml(root_ + "Tarnwick.xml"), 0);
        tree.SetValue(key, value);
        ASSERT_EQ(tree.SaveXml(root_ + "Tarnwick.xml", ""), 0);
    }

    // The scripts' environment, then `more`.
    EnvironmentChanges Environment(const EnvironmentChanges& more = {}) const
    {
        EnvironmentChanges changes = {"TARNWICK_ROOT=" + root_,
                                      "TARNWICK_LISTEN_ADDRESS=127.0.0.1",
                                      "TARNWICK_RUNTIME_DIR=" + base_.Path() + "run",
                                      "TARNWICK_SERVICE_RUNTIME_DIR=" + base_.Path() + "system-run",
                                      "TARNWICK_REGISTRY=" + base_.Path() + "registry",
                                      std::string("TARNWICK_START_SECONDS=") + kStartSeconds,
                                      "NOTIFY_SOCKET"};
        changes.insert(changes.end(), more.begin(), more.end());
        return changes;
    }

    ProgramResult RunToEnd() { return RunProgram(kServe, {kBuildFolder}, Environment(), kScriptLimit); }

    // Starts the script (scripts/serve with the build folder unless told otherwise) and waits
    // until it says that its server answers.
    void Serve(const std::string& script = kServe, const std::vector<std::string>& args = {kBuildFolder},
               const EnvironmentChanges& more = {})
    {
        script_ = std::make_unique<ProgramRunner>(script, args, Environment(more));
        ASSERT_TRUE(servertest::WaitUntil(
            [&] { return script_->HasEnded() || script_->Output().find("serving") != std::string::npos; },
            kScriptLimit));
        ASSERT_FALSE(script_->HasEnded()) << script_->Wait(0ms).err;
    }

    // Stops the script as Ctrl+C would, and what it wrote.
    ProgramResult Stop()
    {
        script_->Signal(SIGINT);
        return script_->Wait(kScriptLimit);
    }

    // No server holds the root any more.
    bool RootIsFree(const std::string& root)
    {
        return RunProgram(kProgram, {"/IsRunning"}, Environment({"TARNWICK_ROOT=" + root}), kScriptLimit).exitCode == 0;
    }
    bool RootIsFree() { return RootIsFree(root_); }

    servertest::TempFolder base_;
    std::string root_;
    servertest::ReservedPort reserved_;
    int port_ = -1;
    std::unique_ptr<ProgramRunner> script_;
};

TEST_F(ServeScriptTest, FailedStartExitsNonZeroWithTheServersReason)
{
    testsupport::BusyPort busy;
    ASSERT_GT(busy.Port(), 0);
    struct Case {
        const char* description;
        std::string settings;  // "" keeps the tool's file with the busy port
        std::string reason;
    };
    const Case cases[] = {
        {"port taken", "", u8"ポート待ちうけに失敗しました"},
        {"settings not well-formed", "<CConfigClass type=\"Tarnwick\"><Node name=", u8"Tarnwick.xmlのロードに失敗しました : "},
        {"settings of another kind", "<CConfigClass type=\"Other\"/>", u8"Tarnwick.xmlのロードに失敗しました : "},
    };
    ChangeSetting("Setting::Basic::Port", std::to_string(busy.Port()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        if (!c.settings.empty())
            PutFile(root_ + "Tarnwick.xml", c.settings);
        const ProgramResult result = RunToEnd();
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find(u8"Tarnwick: サーバ起動エラー : " + c.reason), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("serving"), std::string::npos) << result.out;
        EXPECT_TRUE(RootIsFree());
    }
}

TEST_F(ServeScriptTest, ShowsTheHttpsAddressWhenHttpsIsOn)
{
    const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
    const servertest::ReservedPort reservedSsl;
    const int sslPort = reservedSsl.Port();
    ASSERT_GT(sslPort, 0);
    ChangeSetting("Setting::Basic::EnableSSL", "1");
    ChangeSetting("Setting::SSL::Port", std::to_string(sslPort));
    ChangeSetting("Setting::SSL::Certificate", certificate.CertificateFile());
    ChangeSetting("Setting::SSL::PrivateKey", certificate.WriteKey("serve-key.pem", servertest::KeyCipher::None, ""));
    Serve();
    const ProgramResult result = Stop();
    EXPECT_NE(result.out.find("on http://127.0.0.1:" + std::to_string(port_) + "/ https://127.0.0.1:" +
                              std::to_string(sslPort) + "/ "),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(RootIsFree());
}

TEST_F(ServeScriptTest, IndexPageOfTheDefaultRootShowsOnlyPicturesItServes)
{
    // A listing with the parent link, a folder, a path entry and files of several kinds
    // ("/" itself has the index document, which the script puts back when it is missing).
    for (const char* folder : {"www/docs", "www/docs/sub"})
        std::filesystem::create_directory(root_ + folder);
    for (const char* name : {"a.txt", "b.png", "c.zip", "d.mp3", "e.mp4", "f.bin", "g"})
        PutFile(root_ + "www/docs/" + name, "x");
    ChangeSetting("Setting::Path::Path_1::VirtualHost", "*");
    ChangeSetting("Setting::Path::Path_1::ServerPath", "/docs/more/");
    ChangeSetting("Setting::Path::Path_1::LocalPath", root_ + "www/docs/sub/");
    Serve();

    const Answer listing = Get(port_, "/docs/");
    ASSERT_EQ(listing.status, 200) << listing.body;
    std::set<std::string> pictures;
    for (std::string::size_type at = listing.body.find("<IMG SRC=\""); at != std::string::npos;
         at = listing.body.find("<IMG SRC=\"", at + 1)) {
        const std::string::size_type start = at + 10;
        pictures.insert(listing.body.substr(start, listing.body.find('"', start) - start));
    }
    for (const char* expected : {"/icons/blank.gif", "/icons/back.gif", "/icons/folder.gif", "/icons/link.gif",
                                 "/icons/text.gif", "/icons/image.gif", "/icons/compressed.gif",
                                 "/icons/sound.gif", "/icons/movie.gif", "/icons/unknown.gif"})
        EXPECT_EQ(pictures.count(expected), 1u) << expected;
    for (const std::string& picture : pictures) {
        SCOPED_TRACE(picture);
        const Answer answer = Get(port_, picture);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.contentType.rfind("image/", 0), 0u) << answer.contentType;
        EXPECT_EQ(answer.body.rfind("GIF89a", 0), 0u);
    }
}

TEST_F(ServeScriptTest, DefaultRootServesCommonFilesWithTheirTypes)
{
    struct Case {
        const char* file;
        const char* type;
    };
    const Case cases[] = {
        {"a.svg", "image/svg+xml"},   {"a.json", "application/json"}, {"a.pdf", "application/pdf"},
        {"a.woff2", "font/woff2"},    {"a.mp4", "video/mp4"},         {"a.html", "text/html"},
        {"A.CSS", "text/css"},        {"a.unknown-kind", "application/octet-stream"},
    };
    for (const Case& c : cases)
        PutFile(root_ + "www/" + c.file, "x");
    Serve();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Answer answer = Get(port_, std::string("/") + c.file);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.contentType, c.type);
    }
}

// A new root is made with the port asked for; an existing one gets it written into its
// settings. Either keeps it: the next start without the option serves there again.
TEST_F(ServeScriptTest, PortOptionServesOnThatPortAndTheRootKeepsIt)
{
    const servertest::ReservedPort asked;
    ASSERT_GT(asked.Port(), 0);
    const std::string port = std::to_string(asked.Port());
    const struct {
        const char* description;
        std::string root;
    } cases[] = {
        {"new root", base_.Path() + "new-root/"},
        {"existing root on another port", root_},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        for (const bool withOption : {true, false}) {
            SCOPED_TRACE(withOption ? "with --port" : "without --port");
            std::vector<std::string> args = {kBuildFolder};
            if (withOption)
                args.insert(args.begin(), {"--port", port});
            Serve(kServe, args, {"TARNWICK_ROOT=" + c.root});
            if (HasFatalFailure())
                return;
            EXPECT_EQ(Get(asked.Port(), "/index.html").status, 200);
            const ProgramResult result = Stop();
            EXPECT_NE(result.out.find(" on http://127.0.0.1:" + port + "/ "), std::string::npos) << result.out;
            EXPECT_TRUE(RootIsFree(c.root));
        }
        CConfigClass settings;
        ASSERT_EQ(settings.LoadXml(c.root + "Tarnwick.xml"), 0);
        EXPECT_EQ(settings.GetValue("Setting::Basic::Port", ""), port);
    }
}

// scripts/run in a copy of the scripts whose build folder is this build: a stand-in cmake
// writes down what it is asked for and builds nothing, and a stand-in dpkg-query finds
// every package installed.
TEST_F(ServeScriptTest, RunBuildsOnlyTheProgramsThenServesOnThePortAsked)
{
    const std::string tree = base_.Path() + "tree";
    const std::string tools = base_.Path() + "tools/";
    const std::string log = base_.Path() + "cmake.log";
    std::filesystem::create_directories(tree + "/scripts");
    std::filesystem::create_directories(tools);
    for (const char* script : {"run", "serve", "build", "setup"})
        std::filesystem::copy_file(kScripts + script, tree + "/scripts/" + script);
    std::filesystem::create_directory_symlink(kBuildFolder, tree + "/build");
    PutFile(tools + "cmake", "#!/bin/sh\necho \"$@\" >>'" + log + "'\n");
    PutFile(tools + "dpkg-query", "#!/bin/sh\nprintf 'install ok installed'\n");
    for (const char* tool : {"cmake", "dpkg-query"})
        ASSERT_EQ(::chmod((tools + tool).c_str(), 0755), 0);
    const char* path = std::getenv("PATH");

    const std::string root = base_.Path() + "run-root/";
    Serve(tree + "/scripts/run", {"--port", std::to_string(port_)},
          {"TARNWICK_ROOT=" + root, "PATH=" + tools + ":" + (path ? path : "/usr/bin:/bin")});
    if (HasFatalFailure())
        return;
    EXPECT_EQ(Get(port_, "/index.html").status, 200);
    Stop();

    std::istringstream calls(GetFile(log));
    std::vector<std::string> builds;
    std::set<std::string> targets;
    for (std::string line; std::getline(calls, line);) {
        if (line.rfind("--build ", 0) != 0)
            continue;
        builds.push_back(line);
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            if (word == "--target" && words >> word)
                targets.insert(word);
        }
    }
    ASSERT_EQ(builds.size(), 1u) << GetFile(log);
    EXPECT_EQ(builds[0].rfind("--build " + tree + "/build ", 0), 0u) << builds[0];
    EXPECT_EQ(targets, (std::set<std::string>{"Tarnwick", "tarnwick-make-root", "Vollmark"})) << builds[0];
}

// The command the script prints starts a controller that binds to the server the script
// started, from a shell that has none of the script's variables: with the programs' own
// runtime folder, and with one the user named.
TEST_F(ServeScriptTest, PrintedControllerCommandBindsToTheServer)
{
    const std::string desktop = base_.Path() + "xdg";
    ASSERT_EQ(::mkdir(desktop.c_str(), 0700), 0);
    const std::string own = base_.Path() + "own-run";
    const struct {
        const char* description;
        std::string runtimeChange;  // to the script's environment
        std::string folder;         // where the control socket is then
    } cases[] = {
        {"the programs' default", "TARNWICK_RUNTIME_DIR", desktop + "/tarnwick"},
        {"TARNWICK_RUNTIME_DIR", "TARNWICK_RUNTIME_DIR=" + own, own},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Serve(kServe, {kBuildFolder}, {"XDG_RUNTIME_DIR=" + desktop, c.runtimeChange});
        if (HasFatalFailure())
            return;
        // The line follows the one Serve waited for.
        std::string said;
        std::string::size_type at = std::string::npos;
        ASSERT_TRUE(servertest::WaitUntil([&] {
            said = script_->Output();
            at = said.find(kControllerSaid);
            return at != std::string::npos && said.find('\n', at) != std::string::npos;
        }))
            << said;
        const std::string::size_type start = at + std::string(kControllerSaid).size();
        const std::string command = said.substr(start, said.find('\n', start) - start);

        const std::string socket = platform::GetControlSocketPath(c.folder, platform::kServerControlClsid);
        {
            // Run as typed: bash runs a lone command in its own process, so the signals reach it.
            ProgramRunner controller("/bin/bash", {"-c", command},
                                     Environment({"TARNWICK_ROOT", "TARNWICK_LISTEN_ADDRESS", "TARNWICK_RUNTIME_DIR",
                                                  "XDG_RUNTIME_DIR=" + desktop, "QT_QPA_PLATFORM=offscreen"}));
            EXPECT_TRUE(servertest::WaitUntil(
                [&] { return controller.HasEnded() || testsupport::AcceptedConnections(socket) > 0; }, kControllerLimit))
                << command;
            EXPECT_FALSE(controller.HasEnded()) << controller.Wait(0ms).err;
            controller.Signal(SIGTERM);
            controller.Wait(kScriptLimit);
        }
        Stop();
        EXPECT_TRUE(RootIsFree());
    }
}

}  // namespace
