#include "process/SubProcess.h"

#include "thread/TimeoutWatcher.h"

#include "ServerTestSupport.h"

#include "FileIo.h"
#include "Process.h"

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
            CSubProcess process(connection_.state, maxOutput);
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

TEST_F(SubProcessRunTest, ChildGetsTheEnvironmentBlockItWasGiven)
{
    const struct {
        const char* description;
        bool set;
        std::string block;
        std::string output;  // what env prints
    } cases[] = {
        {"none given: an empty environment", false, "", ""},
        {"an empty block", true, "", ""},
        {"the entries in their order", true, std::string("B=2\0A=1\0", 8), "B=2\nA=1\n"},
        {"an empty entry ends the block", true, std::string("A=1\0\0B=2\0", 9), "A=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        CSubProcess process(connection_.state);
        if (c.set)
            process.SetEnvironmentBlock(c.block);
        EXPECT_EQ(process.Start("/usr/bin/env", "", ""), 0);
        EXPECT_EQ(process.GetOutput().ReadAll(), c.output);
    }
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
    CSubProcess process(connection_.state);
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
            CSubProcess process(connection.state);
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
    CSubProcess process(connection_.state);
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

}  // namespace
