#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <stdexcept>

namespace {

using testsupport::ChildProcess;
using testsupport::ChildResult;
using namespace std::chrono_literals;

constexpr const char* kShell = "/bin/sh";
// Far beyond any limit a test here gives; never waited out.
constexpr const char* kLongSleep = "exec sleep 60";

ChildResult RunShell(const std::string& script, const testsupport::EnvironmentChanges& changes = {})
{
    ChildProcess child(kShell, {"-c", script}, changes);
    return child.Wait(10s);
}

TEST(ChildProcessTest, ExitCodeAndBothStreamsAreCaught)
{
    const ChildResult result = RunShell("printf 'to out'; printf 'to err' >&2; exit 3");
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.signal, 0);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.out, "to out");
    EXPECT_EQ(result.err, "to err");
}

TEST(ChildProcessTest, EnvironmentChangesSetAndRemoveVariables)
{
    ::setenv("CHILD_PROCESS_TEST_KEPT", "kept", 1);
    ::setenv("CHILD_PROCESS_TEST_GONE", "here", 1);
    const ChildResult result =
        RunShell("printf '%s|%s|%s' \"$CHILD_PROCESS_TEST_KEPT\" \"${CHILD_PROCESS_TEST_GONE-unset}\" "
                 "\"$CHILD_PROCESS_TEST_NEW\"",
                 {"CHILD_PROCESS_TEST_GONE", "CHILD_PROCESS_TEST_NEW=a=b"});
    ::unsetenv("CHILD_PROCESS_TEST_KEPT");
    ::unsetenv("CHILD_PROCESS_TEST_GONE");
    EXPECT_EQ(result.out, "kept|unset|a=b");
}

TEST(ChildProcessTest, AChildEndedByASignalHasNoExitCode)
{
    const ChildResult result = RunShell("kill -TERM $$; sleep 5");
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_FALSE(result.timedOut);
}

TEST(ChildProcessTest, TheLimitKillsTheChild)
{
    ChildProcess child(kShell, {"-c", kLongSleep});
    const auto start = std::chrono::steady_clock::now();
    const ChildResult result = child.Wait(50ms);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.signal, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(child.HasEnded());
    EXPECT_FALSE(child.Signal(SIGTERM)) << "nothing left to signal";
    EXPECT_TRUE(child.Wait(0ms).timedOut) << "later waits give the same result";
}

// Test runners and servers block signals in their threads; the child must not inherit that.
TEST(ChildProcessTest, TheChildStartsWithNoSignalBlocked)
{
    sigset_t term, previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &previous), 0);
    ChildProcess child(kShell, {"-c", kLongSleep});
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    EXPECT_TRUE(child.Signal(SIGTERM));
    const ChildResult result = child.Wait(10s);
    EXPECT_FALSE(result.timedOut) << "SIGTERM stayed blocked in the child";
    EXPECT_EQ(result.signal, SIGTERM);
}

TEST(ChildProcessTest, AProgramThatCannotStartThrows)
{
    EXPECT_THROW(ChildProcess("/nonexistent/program", {}), std::runtime_error);
}

}  // namespace
