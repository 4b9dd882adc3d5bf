#include "process/SubProcess.h"

#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "thread/TimeoutWatcher.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "FileIo.h"
#include "Process.h"
#include "ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string kPipeFailed = "プロセス通信用パイプの生成に失敗しました。";
const std::string kStartFailed = "プロセスの起動に失敗しました";
const std::string kTimedOut = "プロセス実行中にタイムアウトしました";
const std::string kTooMuchOutput = "プロセスの出力が上限を超えました";

bool NoChildLeft()
{
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Gone, or ended and waiting for init to collect it (which may take a while).
bool HasEnded(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const std::string::size_type close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' || line[close + 2] == 'X';
}

std::vector<std::string> Arguments(const std::string& commandLine)
{
    std::vector<std::string> texts;
    for (const platform::CommandArgument& arg : platform::SplitCommandLine(commandLine))
        texts.push_back(arg.text);
    return texts;
}

using servertest::TestConnection;

// --- running programs ---------------------------------------------------------------------

struct RunResult {
    std::string failure;  // the exception's message, "" when Start returned
    std::string output;
    std::string errors;
    std::chrono::milliseconds took{0};
};

class SubProcessRunTest : public testing::Test {
protected:
    void SetUp() override { savedTimeout_ = CTimeoutWatcher::Instance().GetDefaultTimeout(); }
    void TearDown() override
    {
        CTimeoutWatcher::Instance().SetDefaultTimeout(savedTimeout_);
        EXPECT_TRUE(NoChildLeft()) << "a child was left uncollected";
    }

    // Runs the command line to its end with `input` as its standard input; the runner is
    // gone when this returns.
    RunResult Run(const std::string& commandLine, const std::string& input = "",
                  int32_t maxOutput = CSubProcess::kMaxOutput, const std::string& folder = "")
    {
        RunResult result;
        const auto start = std::chrono::steady_clock::now();
        {
            CSubProcess process(nullptr, connection_.state, maxOutput);
            process.GetInput().Append(input.data(), static_cast<int32_t>(input.size()));
            try {
                EXPECT_EQ(process.Start(commandLine, folder, "Thread_0001"), 0);
            } catch (const CSubProcessException& e) {
                result.failure = e.message;
            }
            result.output = process.GetOutput().ReadAll();
            result.errors = process.GetErrors().ReadAll();
        }
        result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return result;
    }

    static std::string Shell(const std::string& script) { return "/bin/sh -c " + platform::QuoteArgument(script); }

    TestConnection connection_;
    int savedTimeout_ = 0;
};

TEST_F(SubProcessRunTest, EchoesAnInputLargerThanThePipe)
{
    std::string input(5 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<char>(i * 131 + i / 4096);
    const RunResult result = Run("/bin/cat", input);
    EXPECT_EQ(result.failure, "");
    EXPECT_TRUE(result.output == input) << "output of " << result.output.size() << " bytes differs";
    EXPECT_EQ(result.errors, "");
}

TEST_F(SubProcessRunTest, CollectsStandardErrorApartAndIgnoresTheExitCode)
{
    const RunResult result = Run(Shell("echo out; echo err >&2; echo more; exit 3"));
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.output, "out\nmore\n");
    EXPECT_EQ(result.errors, "err\n");
}

TEST_F(SubProcessRunTest, DrainsBothOutputsWhileTheChildRuns)
{
    // Each output alone overfills its pipe: a runner that read one to its end before
    // looking at the other would wait forever.
    const RunResult result = Run(Shell("head -c 3000000 /dev/zero >&2; head -c 2000000 /dev/zero"));
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.output.size(), 2000000u);
    EXPECT_EQ(result.errors.size(), 3000000u);
}

TEST_F(SubProcessRunTest, ChildThatEndsBeforeReadingItsInputIsNoFailure)
{
    const RunResult result = Run(Shell("echo done"), std::string(3 * 1024 * 1024, 'x'));
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.output, "done\n");
}

TEST_F(SubProcessRunTest, ChildThatClosesItsInputEarlyIsNoFailure)
{
    const std::string input(1024 * 1024, 'x');
    const RunResult result = Run(Shell("exec 0<&-; echo closed; /bin/sleep 0.2; echo end"), input);
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.output, "closed\nend\n");
}

TEST_F(SubProcessRunTest, InputEndsWithEndOfFile)
{
    // Read to the end without any length: only the end of file lets cat finish.
    EXPECT_EQ(Run(Shell("/bin/cat; echo end"), "body").output, "bodyend\n");
    EXPECT_EQ(Run(Shell("/bin/cat; echo end")).output, "end\n");
}

TEST_F(SubProcessRunTest, RunsInTheWorkingFolderAndPassesPathsInTheSystemsSpelling)
{
    servertest::TempFolder base;
    // CP932 names: the working folder and the file argument must reach the system as UTF-8.
    const std::string folder = base.Path() + "作業/";
    ASSERT_EQ(mkdir(platform::NativePath(folder).c_str(), 0755), 0);
    testsupport::PutFile(platform::NativePath(folder + "表.txt"), "contents");
    char* real = realpath(platform::NativePath(folder).c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    const std::string expected = std::string(real) + "\n";
    std::free(real);

    EXPECT_EQ(Run("/bin/pwd -P", "", CSubProcess::kMaxOutput, folder).output, expected);
    EXPECT_EQ(Run("/bin/cat " + platform::QuoteArgument(folder + "表.txt")).output, "contents");
    // Other arguments keep their bytes.
    EXPECT_EQ(Run("/bin/echo 表").output, "表\n");
}

TEST_F(SubProcessRunTest, LooksUpAProgramWithoutFolderInThePath)
{
    EXPECT_EQ(Run("echo found").output, "found\n");
}

TEST_F(SubProcessRunTest, ProgramsThatCannotStartFailWithoutLeavingAChild)
{
    servertest::TempFolder folder;
    testsupport::PutFile(folder.Path() + "plain.cgi", "#!/bin/sh\necho never\n");
    ASSERT_EQ(chmod((folder.Path() + "plain.cgi").c_str(), 0644), 0);
    const struct {
        const char* description;
        std::string commandLine;
        std::string folder;
    } cases[] = {
        {"missing program", folder.Path() + "absent", ""},
        {"not executable", folder.Path() + "plain.cgi", ""},
        {"unknown name", "no-such-program-anywhere", ""},
        {"empty command line", "", ""},
        {"only blanks", "   ", ""},
        {"missing working folder", "/bin/true", folder.Path() + "absent/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const RunResult result = Run(c.commandLine, "input", CSubProcess::kMaxOutput, c.folder);
        EXPECT_EQ(result.failure, kStartFailed);
        EXPECT_TRUE(NoChildLeft());
    }
}

TEST_F(SubProcessRunTest, NoDescriptorsForThePipesIsAFailureToStart)
{
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Every descriptor up to a lowered limit taken, as under a flood of connections.
    rlimit low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken;
    for (int fd = dup(0); fd >= 0; fd = dup(0))
        taken.push_back(fd);
    // Room for two pipes, not three.
    for (int i = 0; i < 4 && !taken.empty(); ++i) {
        close(taken.back());
        taken.pop_back();
    }
    const RunResult result = Run("/bin/true");
    for (int fd : taken)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result.failure, kPipeFailed);
}

TEST_F(SubProcessRunTest, StartsOnlyOnce)
{
    CSubProcess process(nullptr, connection_.state);
    EXPECT_EQ(process.Start("/bin/true", "", ""), 0);
    try {
        process.Start("/bin/true", "", "");
        ADD_FAILURE() << "a second start succeeded";
    } catch (const CSubProcessException& e) {
        EXPECT_EQ(e.message, kStartFailed);
    }
}

TEST_F(SubProcessRunTest, TimeOutKillsTheWholeGroup)
{
    CTimeoutWatcher::Instance().SetDefaultTimeout(300);
    // The shell waits for a grandchild that would outlive it by far.
    const RunResult result = Run(Shell("/bin/sleep 60 & echo $!; wait"));
    EXPECT_EQ(result.failure, kTimedOut);
    EXPECT_LT(result.took, 5s);
    const pid_t grandchild = std::atoi(result.output.c_str());
    ASSERT_GT(grandchild, 0) << result.output;
    EXPECT_TRUE(servertest::WaitUntil([&] { return HasEnded(grandchild); }));
}

TEST_F(SubProcessRunTest, DescendantHoldingTheOutputDoesNotKeepTheRunGoing)
{
    const RunResult result = Run(Shell("/bin/sleep 60 & echo $!"));
    EXPECT_EQ(result.failure, "");
    EXPECT_LT(result.took, 5s);
    const pid_t grandchild = std::atoi(result.output.c_str());
    ASSERT_GT(grandchild, 0) << result.output;
    kill(grandchild, SIGKILL);
}

TEST_F(SubProcessRunTest, OutputBeyondTheLimitEndsTheChild)
{
    const struct {
        const char* description;
        std::string script;
        std::string failure;
        size_t output;
        size_t errors;
    } cases[] = {
        {"exactly the limit", "head -c 1000 /dev/zero; head -c 1000 /dev/zero >&2", "", 1000, 1000},
        {"one byte over on the output", "head -c 1001 /dev/zero", kTooMuchOutput, 1000, 0},
        {"one byte over on the errors", "head -c 1001 /dev/zero >&2", kTooMuchOutput, 0, 1000},
        {"an endless writer", "exec /bin/cat /dev/zero", kTooMuchOutput, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const RunResult result = Run(Shell(c.script), "", 1000);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(result.output.size(), c.output);
        EXPECT_EQ(result.errors.size(), c.errors);
        EXPECT_LT(result.took, 5s);
        EXPECT_TRUE(NoChildLeft());
    }
}

TEST_F(SubProcessRunTest, ConnectionStateEndsTheRun)
{
    const struct {
        const char* description;
        std::string failure;
        void (*stop)(TestConnection&);
    } cases[] = {
        {"peer closed", "プロセス実行中に切断しました", [](TestConnection& c) { c.ClosePeer(); }},
        {"worker told to stop", "プロセス実行中に中断しました", [](TestConnection& c) { c.thread.Stop(); }},
        {"connection timed out", "プロセス実行中にタイムアウトしました",
         [](TestConnection& c) {
             c.timeout.Arm(1);
             servertest::WaitUntil([&] { return c.timeout.IsTimedOut() != 0; });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        TestConnection connection;
        servertest::TempFolder folder;
        const std::string mark = folder.Path() + "started";
        std::thread stopper([&] {
            // The child is running once it has left its mark.
            if (servertest::WaitUntil([&] { return access(mark.c_str(), F_OK) == 0; }))
                c.stop(connection);
        });
        std::string failure;
        const auto start = std::chrono::steady_clock::now();
        {
            CSubProcess process(nullptr, connection.state);
            try {
                process.Start(Shell(": > '" + mark + "'; exec /bin/sleep 60"), "", "");
            } catch (const CSubProcessException& e) {
                failure = e.message;
            }
        }
        stopper.join();
        EXPECT_EQ(failure, c.failure);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_TRUE(NoChildLeft());
    }
}

TEST_F(SubProcessRunTest, TerminateFromAnotherThreadEndsTheLoop)
{
    servertest::TempFolder folder;
    const std::string mark = folder.Path() + "started";
    CSubProcess process(nullptr, connection_.state);
    std::thread killer([&] {
        if (servertest::WaitUntil([&] { return access(mark.c_str(), F_OK) == 0; }))
            process.Terminate();
    });
    std::string failure;
    try {
        process.Start(Shell(": > '" + mark + "'; exec /bin/sleep 60"), "", "");
    } catch (const CSubProcessException& e) {
        failure = e.message;
    }
    killer.join();
    // Only the watchdog's own flag names a time-out; a bare Terminate just ends the run.
    EXPECT_EQ(failure, "");
    EXPECT_EQ(process.IsRunning(), 0);
}

// --- command lines ------------------------------------------------------------------------

class SubProcessCommandTest : public CoreFixture {
protected:
    void SetUp() override
    {
        const struct {
            const char* ext;
            const char* executeFile;
            const char* header;
            const char* command;
        } entries[] = {
            {"pl", "0", "perl", "/usr/bin/perl %FilePath%"},
            {"pl", "0", "", "/usr/bin/other %FilePath%"},
            {"cgi", "1", "", "%FilePath% %Query%"},
            {"cgi", "0", "#!/bin/sh", "/bin/sh %FilePath%"},
            {"none", "0", "", ""},
            {"odd", "2", "", "/bin/odd %FilePath%"},
            {"ア", "0", "", "/bin/katakana %FilePath%"},
            {"hdr", "0", "ア", "/bin/header %FilePath%"},
            {"tpl", "0", "", "/bin/echo \"%Query%\" %Other% --file=%FilePath% %25Query%25 %Query%"},
        };
        int index = 0;
        for (const auto& e : entries) {
            const std::string node = "Setting::CGI::CGI_" + std::to_string(index++) + "::";
            settings.SetValue(node + "FileExt", e.ext);
            settings.SetValue(node + "ExecuteFile", e.executeFile);
            settings.SetValue(node + "FileHeader", e.header);
            settings.SetValue(node + "Command", e.command);
        }
        StartCore();
    }

    // Writes a script into the folder; gives its path.
    std::string Script(const std::string& name, const std::string& bytes, mode_t mode = 0644)
    {
        const std::string path = folder_.Path() + name;
        testsupport::PutFile(platform::NativePath(path), bytes);
        EXPECT_EQ(chmod(platform::NativePath(path).c_str(), mode), 0);
        return path;
    }

    std::string Command(const std::string& path, const std::string& query = "")
    {
        return CSubProcess::MakeCommandLine(core.get(), path, query);
    }

    servertest::TempFolder folder_;
};

TEST_F(SubProcessCommandTest, ChoosesTheEntryByExtensionAndFirstLine)
{
    const std::string elf = std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10) + "perl";
    const struct {
        const char* description;
        std::string name;
        std::string bytes;
        mode_t mode;
        std::string program;  // "" for no command line
    } cases[] = {
        {"header found, extension in other case", "form.PL", "#!/usr/bin/Perl -w\nprint 1;\n", 0644, "/usr/bin/perl"},
        {"header missing: the next entry", "a.pl", "#!/bin/sh\n# perl on line two\n", 0644, "/usr/bin/other"},
        {"header beyond 254 bytes", "long.pl", "#" + std::string(253, ' ') + "perl\n", 0644, "/usr/bin/other"},
        {"header within 254 bytes", "edge.pl", "#" + std::string(249, ' ') + "perl\n", 0644, "/usr/bin/perl"},
        {"header after a zero byte", "zero.pl", std::string("#!\0perl\n", 8), 0644, "/usr/bin/other"},
        {"executable ELF program", "elf.cgi", elf, 0755, "elf.cgi"},
        {"executable script", "run.cgi", "#!/bin/sh\necho\n", 0755, "run.cgi"},
        {"script without execute permission", "plain.cgi", "#!/bin/sh\necho\n", 0644, "/bin/sh"},
        {"executable without ELF or #!", "mz.cgi", "MZ\x90\0", 0755, ""},
        {"ELF without execute permission", "noexec.cgi", elf, 0644, ""},
        {"empty Command", "x.none", "", 0644, ""},
        {"ExecuteFile neither 0 nor 1", "x.odd", "", 0644, ""},
        {"no entry for the extension", "x.txt", "", 0644, ""},
        {"no extension", "noext", "", 0644, ""},
        {"extension in CP932", "x.ア", "", 0644, "/bin/katakana"},
        {"a trail byte is not a letter", "x.ヂ", "", 0644, ""},
        {"CP932 header found", "h.hdr", "# ア\n", 0644, "/bin/header"},
        {"CP932 header not folded", "k.hdr", "# ヂ\n", 0644, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string path = Script(c.name, c.bytes, c.mode);
        const std::vector<std::string> args = Arguments(Command(path));
        if (c.program.empty()) {
            EXPECT_EQ(Command(path), "");
            continue;
        }
        ASSERT_FALSE(args.empty());
        if (c.program.front() == '/')
            EXPECT_EQ(args, (std::vector<std::string>{c.program, path}));
        else
            EXPECT_EQ(args, std::vector<std::string>{path});
    }
}

TEST_F(SubProcessCommandTest, UnreadableScriptHasAnEmptyFirstLine)
{
    EXPECT_EQ(Command(folder_.Path() + "absent.pl"), "/usr/bin/other " + folder_.Path() + "absent.pl");
    EXPECT_EQ(Command(folder_.Path() + "absent.cgi"), "");
    ASSERT_EQ(mkfifo((folder_.Path() + "fifo.pl").c_str(), 0644), 0);
    EXPECT_EQ(Command(folder_.Path() + "fifo.pl"), "/usr/bin/other " + folder_.Path() + "fifo.pl")
        << "a FIFO must not be waited on";
}

TEST_F(SubProcessCommandTest, PathAndQueryStayOneArgumentEach)
{
    const std::string path = Script("my script.cgi", "#!/bin/sh\n", 0755);
    const struct {
        const char* description;
        std::string query;
        std::vector<std::string> args;
    } cases[] = {
        {"no query leaves no argument", "", {path}},
        {"blanks", "a b  c", {path, "a b  c"}},
        {"an option", "-x", {path, "-x"}},
        {"quotes and backslashes", "\"a\\\" \\", {path, "\"a\\\" \\"}},
        {"the path placeholder", "%FilePath%", {path, "%FilePath%"}},
        {"the query placeholder", "%Query%", {path, "%Query%"}},
        {"an encoded placeholder", "%25Query%25", {path, "%25Query%25"}},
        {"CP932 with a 0x5C byte", "表示", {path, "表示"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Arguments(Command(path, c.query)), c.args);
    }
    EXPECT_EQ(Command(path, "q"), "\"" + path + "\" q");
}

TEST_F(SubProcessCommandTest, FillsOnlyItsTwoPlaceholdersAndKeepsQuotedEmptyArguments)
{
    const std::string path = Script("t.tpl", "");
    EXPECT_EQ(Arguments(Command(path, "")),
              (std::vector<std::string>{"/bin/echo", "", "%Other%", "--file=" + path, "%25Query%25"}));
    EXPECT_EQ(Arguments(Command(path, "q")),
              (std::vector<std::string>{"/bin/echo", "q", "%Other%", "--file=" + path, "%25Query%25", "q"}));
}

// --- the CGI environment ------------------------------------------------------------------

class SubProcessEnvironmentTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", folder_.Path());
        StartCore();
        testsupport::PutFile(folder_.Path() + "s.cgi", "#!/bin/sh\n");
    }


    // Parses the request into a new thread node (client 127.0.0.1) and builds its
    // environment; `edit` may change the parsed header view first.
    std::vector<CConfigLeaf> Environment(const std::string& head, void (*edit)(const CConfigAccessor&) = nullptr)
    {
        thread_ = NewThreadView();
        thread_.SetString("Host", "127.0.0.1");
        request_ = CHttpRequest(head + "\r\n", thread_.GetSubAccessor("RequestInfo"));
        if (edit)
            edit(request_.GetHeaderView());
        path_ = std::make_unique<CRequestPath>(request_.GetObject(), "", core->GetSettingAccessor());
        const CConfigAccessor env = scratch_.GetAccessor("Env");
        env.SetString("STALE", "from before");
        CSubProcess::BuildEnvironment(env, core.get(), thread_, request_, *path_, "127.0.0.2");
        std::vector<CConfigLeaf> leaves;
        env.GetLeaves(leaves);
        return leaves;
    }

    static std::string Value(const std::vector<CConfigLeaf>& leaves, const std::string& key)
    {
        for (const CConfigLeaf& leaf : leaves)
            if (leaf.key == key)
                return leaf.value;
        return "(unset)";
    }

    // Every listed variable has its value; "(unset)" names one that must be absent.
    static void ExpectValues(const std::vector<CConfigLeaf>& leaves,
                             const std::vector<std::pair<std::string, std::string>>& expected)
    {
        for (const auto& e : expected)
            EXPECT_EQ(Value(leaves, e.first), e.second) << e.first;
    }

    static std::vector<std::string> Keys(const std::vector<CConfigLeaf>& leaves)
    {
        std::vector<std::string> keys;
        for (const CConfigLeaf& leaf : leaves)
            keys.push_back(leaf.key);
        return keys;
    }

    void Option(const std::string& key, const std::string& value)
    {
        core->GetSettingAccessor().SetString("Path::Path_0::Options::" + key, value);
    }

    servertest::TempFolder folder_;
    CConfigClass scratch_;
    CConfigAccessor thread_;
    CHttpRequest request_;
    std::unique_ptr<CRequestPath> path_;
};

TEST_F(SubProcessEnvironmentTest, SetsEveryVariableInItsOrder)
{
    Option("EnableAuthenticate", "1");
    core->GetSettingAccessor().SetString("CGIEnvironment::EnableGetHostName", "1");
    const auto env = Environment(
        "POST /s.cgi?a=%41&b HTTP/1.1\r\nHost: example.org\r\nContent-Length: 12\r\nContent-Type: text/plain\r\n"
        "Accept: text/html\r\nUser-Agent: agent\r\nReferer: http://r/\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"
        "Via: 1.1 p\r\nForwarded: for=x\r\nProxy-Connection: close\r\nCookie: c=1\r\n");
    EXPECT_EQ(Keys(env), (std::vector<std::string>{
                             "SERVER_SOFTWARE", "SERVER_SIGNATURE", "SERVER_NAME", "GATEWAY_INTERFACE",
                             "SERVER_PROTOCOL", "SERVER_ADDR", "SERVER_PORT", "HTTP_HOST", "REQUEST_METHOD",
                             "CONTENT_LENGTH", "CONTENT_TYPE", "QUERY_STRING", "SCRIPT_FILENAME", "SCRIPT_NAME",
                             "REQUEST_URI", "AUTH_TYPE", "HTTP_ACCEPT", "HTTP_USER_AGENT", "HTTP_REFERER",
                             "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_USER", "HTTP_VIA", "HTTP_FORWARDED",
                             "HTTP_PROXY_CONNECTION", "HTTP_COOKIE"}));
    const CConfigAccessor info = core->GetInfoAccessor();
    ExpectValues(env, {
        {"SERVER_SOFTWARE", CServerCore::kServerSignature},
        {"SERVER_SIGNATURE", std::string("<address>") + CServerCore::kServerSignature + "</address>"},
        {"SERVER_NAME", info.GetString("ServerHostName", "")},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
        {"SERVER_PROTOCOL", "HTTP/1.1"},
        {"SERVER_ADDR", "127.0.0.2"},
        {"SERVER_PORT", info.GetString("ServerPort", "")},
        {"HTTP_HOST", "example.org"},
        {"REQUEST_METHOD", "POST"},
        {"CONTENT_LENGTH", "12"},
        {"CONTENT_TYPE", "text/plain"},
        {"QUERY_STRING", "a=%41&b"},
        {"SCRIPT_FILENAME", folder_.Path() + "s.cgi"},
        {"SCRIPT_NAME", "/s.cgi"},
        {"REQUEST_URI", "/s.cgi?a=%41&b"},
        {"AUTH_TYPE", "basic"},
        {"HTTP_ACCEPT", "text/html"},
        {"HTTP_USER_AGENT", "agent"},
        {"HTTP_REFERER", "http://r/"},
        {"REMOTE_ADDR", "127.0.0.1"},
        {"REMOTE_USER", "user"},
        {"HTTP_VIA", "1.1 p"},
        {"HTTP_FORWARDED", "for=x"},
        {"HTTP_PROXY_CONNECTION", "close"},
        {"HTTP_COOKIE", "c=1"},
    });
    EXPECT_NE(Value(env, "REMOTE_HOST"), "");
}

TEST_F(SubProcessEnvironmentTest, MinimalRequestGetsTheDefaults)
{
    const auto env = Environment("GET /s.cgi HTTP/1.1\r\n");
    ExpectValues(env, {
        {"HTTP_HOST", "(unset)"},
        {"QUERY_STRING", ""},
        {"CONTENT_LENGTH", "0"},
        {"CONTENT_TYPE", ""},
        {"HTTP_ACCEPT", "*/*"},
        {"REMOTE_HOST", "(unset)"},
        {"AUTH_TYPE", "(unset)"},
        {"REMOTE_USER", "(unset)"},
        {"STALE", "(unset)"},
    });
}

TEST_F(SubProcessEnvironmentTest, HeaderNamesMatchInAnyCase)
{
    const auto env = Environment("GET /s.cgi HTTP/1.1\r\nhost: h\r\ncontent-LENGTH: 7\r\nUSER-AGENT: u\r\n");
    ExpectValues(env, {{"HTTP_HOST", "h"}, {"CONTENT_LENGTH", "7"}, {"HTTP_USER_AGENT", "u"}});
}

TEST_F(SubProcessEnvironmentTest, LineBreaksInHeaderValuesBecomeBlanks)
{
    const auto env = Environment("GET /s.cgi HTTP/1.1\r\nHost: h\r\n", [](const CConfigAccessor& headers) {
        headers.SetString("User-Agent", "a\r\nSet: x");
        headers.SetString("Cookie", "c\nd\re");
        headers.SetString("Host", "h\r\n");
    });
    ExpectValues(env, {{"HTTP_USER_AGENT", "a  Set: x"}, {"HTTP_COOKIE", "c d e"}, {"HTTP_HOST", "h  "}});
}

TEST_F(SubProcessEnvironmentTest, UserOnlyWhenThePathAuthenticated)
{
    const struct {
        const char* description;
        const char* enable;
        std::string authorization;
        std::string authType;
        std::string user;
    } cases[] = {
        {"authentication off, credentials sent", "0", "Authorization: Basic dXNlcjpwYXNz\r\n", "(unset)", "(unset)"},
        {"authentication on, credentials sent", "1", "Authorization: Basic dXNlcjpwYXNz\r\n", "basic", "user"},
        {"authentication on, none sent", "1", "", "(unset)", "(unset)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Option("EnableAuthenticate", c.enable);
        const auto env = Environment("GET /s.cgi HTTP/1.1\r\n" + c.authorization);
        EXPECT_EQ(Value(env, "AUTH_TYPE"), c.authType);
        EXPECT_EQ(Value(env, "REMOTE_USER"), c.user);
    }
}

TEST_F(SubProcessEnvironmentTest, ChildSeesTheCgiVariablesThenOnlyPathLanguageAndTimeZoneOfOurs)
{
    const testsupport::ScopedEnvironment variables[] = {
        {"QUERY_STRING", "leaked"}, {"SERVER_NAME", "ours"}, {"TW_SECRET_TOKEN", "leaked"},
        {"LANGUAGE", "leaked"},     {"LANG", "C"},           {"LC_TIME", "C"},
        {"TZ", "UTC"},
    };
    Environment("GET /s.cgi HTTP/1.1\r\nHost: h\r\n");

    TestConnection connection;
    CSubProcess process(core.get(), connection.state);
    process.PrepareEnvironment(core.get(), thread_, request_, *path_);
    process.Start("/usr/bin/env", "", "");
    const std::string output = process.GetOutput().ReadAll();

    std::vector<std::string> names;
    for (size_t at = 0; at < output.size();) {
        const size_t end = output.find('\n', at);
        const std::string line = output.substr(at, end - at);
        names.push_back(line.substr(0, line.find('=')));
        at = end == std::string::npos ? output.size() : end + 1;
    }
    // Empty values are left out: no QUERY_STRING, CONTENT_TYPE, HTTP_USER_AGENT ...
    const std::vector<std::string> cgi = {"SERVER_SOFTWARE", "SERVER_SIGNATURE", "SERVER_NAME", "GATEWAY_INTERFACE",
                                          "SERVER_PROTOCOL", "SERVER_ADDR",      "SERVER_PORT", "HTTP_HOST",
                                          "REQUEST_METHOD",  "CONTENT_LENGTH",   "SCRIPT_FILENAME", "SCRIPT_NAME",
                                          "REQUEST_URI",     "HTTP_ACCEPT",      "REMOTE_ADDR"};
    ASSERT_GE(names.size(), cgi.size()) << output;
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + static_cast<long>(cgi.size())), cgi);
    EXPECT_EQ(output.find("QUERY_STRING"), std::string::npos);
    EXPECT_EQ(output.find("=ours\n"), std::string::npos);
    EXPECT_EQ(output.find("leaked"), std::string::npos) << output;
    const std::vector<std::string> ours(names.begin() + static_cast<long>(cgi.size()), names.end());
    for (const std::string& name : ours)
        EXPECT_TRUE(name == "PATH" || name == "LANG" || name == "TZ" || name.compare(0, 3, "LC_") == 0) << name;
    for (const char* name : {"PATH=", "LANG=C\n", "LC_TIME=C\n", "TZ=UTC\n"})
        EXPECT_NE(output.find(std::string("\n") + name), std::string::npos) << name;
    EXPECT_NE(output.find("\nHTTP_HOST=h\n"), std::string::npos);
    EXPECT_NE(output.find("\nCONTENT_LENGTH=0\n"), std::string::npos);
}

}  // namespace
