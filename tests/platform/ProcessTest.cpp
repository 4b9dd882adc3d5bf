#include "Process.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::CommandArgument;
using platform::QuoteArgument;
using platform::SpawnOptions;
using platform::SpawnProcess;
using platform::SplitCommandLine;

std::vector<std::string> Texts(const std::vector<CommandArgument>& args)
{
    std::vector<std::string> texts;
    for (const CommandArgument& arg : args)
        texts.push_back(arg.text);
    return texts;
}

// --- splitting and quoting ----------------------------------------------------------------

TEST(SplitCommandLine, ReadsBlanksQuotesAndEscapes)
{
    const struct {
        const char* description;
        std::string line;
        std::vector<std::string> args;
    } cases[] = {
        {"nothing", "", {}},
        {"only blanks and tabs", " \t  ", {}},
        {"runs of blanks and tabs separate", "  a \t b\tc  ", {"a", "b", "c"}},
        {"quotes group blanks", "\"a b\" c", {"a b", "c"}},
        {"a quoted stretch inside an argument", "a\"b c\"d e", {"ab cd", "e"}},
        {"empty quotes are an empty argument", "a \"\" b", {"a", "", "b"}},
        {"escaped quote", "a\\\"b", {"a\"b"}},
        {"escaped quote inside quotes", "\"a \\\" b\"", {"a \" b"}},
        {"escaped backslash", "a\\\\b", {"a\\b"}},
        {"escaped backslash before a closing quote", "\"a\\\\\" b", {"a\\", "b"}},
        {"other backslashes stand for themselves", "C:\\dir\\x \\n", {"C:\\dir\\x", "\\n"}},
        {"trailing backslash", "a\\", {"a\\"}},
        {"unclosed quote runs to the end", "a \"b c", {"a", "b c"}},
        {"second byte 0x5C of a CP932 character", "\x95\x5C\x8E\xA6 x", {"\x95\x5C\x8E\xA6", "x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Texts(SplitCommandLine(c.line)), c.args);
    }
}

TEST(SplitCommandLine, MarksArgumentsWrittenInQuotes)
{
    const std::vector<CommandArgument> args = SplitCommandLine("plain \"quoted\" half\"way\" \"\" es\\\"c");
    ASSERT_EQ(args.size(), 5u);
    EXPECT_FALSE(args[0].quoted);
    EXPECT_TRUE(args[1].quoted);
    EXPECT_TRUE(args[2].quoted);
    EXPECT_TRUE(args[3].quoted);
    EXPECT_FALSE(args[4].quoted) << "an escaped quote is no quoting";
}

TEST(QuoteArgument, LeavesPlainArgumentsAlone)
{
    EXPECT_EQ(QuoteArgument("/usr/bin/perl"), "/usr/bin/perl");
    EXPECT_EQ(QuoteArgument("-x=1%Query%"), "-x=1%Query%");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteArgument("a\\b"), "\"a\\\\b\"");
}

TEST(QuoteArgument, EveryArgumentReadsBackAsItself)
{
    std::string allBytes;
    for (int c = 1; c < 256; ++c)
        allBytes += static_cast<char>(c);
    const std::vector<std::string> args = {
        "",
        " ",
        "\t",
        "a b",
        "\"",
        "\"\"",
        "\\",
        "\\\\",
        "a\\",
        "a\\\"",
        "\\\"a b\\\"",
        "end with backslash and blank \\",
        "\x95\x5C",            // CP932 character whose second byte is a backslash
        "\x95\x5C\"",          // ... before a quote
        "\x82",                // a lone lead byte
        "\xE3\x81\x82 \xE3",   // UTF-8 with a blank, then a cut character
        "--option=\"x y\"",
        "%FilePath% %Query%",
        allBytes,
    };
    std::string line;
    for (const std::string& arg : args)
        line += (line.empty() ? "" : " ") + QuoteArgument(arg);
    EXPECT_EQ(Texts(SplitCommandLine(line)), args);
    for (const std::string& arg : args) {
        SCOPED_TRACE(arg);
        EXPECT_EQ(Texts(SplitCommandLine(QuoteArgument(arg))), std::vector<std::string>{arg});
    }
}

// --- starting programs --------------------------------------------------------------------

// A pipe whose ends close with the object.
struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe()
    {
        CloseRead();
        CloseWrite();
    }
    void CloseRead()
    {
        if (fds[0] >= 0)
            close(fds[0]);
        fds[0] = -1;
    }
    void CloseWrite()
    {
        if (fds[1] >= 0)
            close(fds[1]);
        fds[1] = -1;
    }
    // Everything up to end of file; the write end must be closed first.
    std::string ReadAll()
    {
        std::string all;
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return all;
            all.append(chunk, static_cast<size_t>(n));
        }
    }
    int fds[2] = {-1, -1};
};

// Collects the child, killing it when it has not ended within the limit; its exit status,
// or -1 when it had to be killed.
int Collect(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool NoChildLeft()
{
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Runs the program with its standard output caught; gives that output, or "(failed N)".
std::string RunForOutput(SpawnOptions options)
{
    Pipe out;
    options.stdoutFd = out.fds[1];
    pid_t pid = -1;
    const int rc = SpawnProcess(options, &pid);
    out.CloseWrite();
    if (rc != 0)
        return "(failed " + std::to_string(rc) + ")";
    const std::string output = out.ReadAll();
    Collect(pid);
    return output;
}

SpawnOptions Shell(const std::string& script)
{
    SpawnOptions options;
    options.args = {"/bin/sh", "-c", script};
    return options;
}

TEST(SpawnProcess, ConnectsTheThreeStreams)
{
    Pipe in, out, err;
    SpawnOptions options = Shell("read line; echo \"out:$line\"; echo \"err:$line\" >&2; exit 7");
    options.stdinFd = in.fds[0];
    options.stdoutFd = out.fds[1];
    options.stderrFd = err.fds[1];
    pid_t pid = -1;
    ASSERT_EQ(SpawnProcess(options, &pid), 0);
    in.CloseRead();
    out.CloseWrite();
    err.CloseWrite();
    ASSERT_EQ(write(in.fds[1], "hello\n", 6), 6);
    in.CloseWrite();
    EXPECT_EQ(out.ReadAll(), "out:hello\n");
    EXPECT_EQ(err.ReadAll(), "err:hello\n");
    EXPECT_EQ(Collect(pid), 7);
    EXPECT_TRUE(NoChildLeft());
}

TEST(SpawnProcess, UnsetStreamsAreTheNullDevice)
{
    SpawnOptions options = Shell("/bin/cat; echo end; echo lost >&2");
    EXPECT_EQ(RunForOutput(options), "end\n");
}

TEST(SpawnProcess, OneDescriptorMayServeBothOutputs)
{
    Pipe out;
    SpawnOptions options = Shell("echo a; echo b >&2");
    options.stdoutFd = out.fds[1];
    options.stderrFd = out.fds[1];
    pid_t pid = -1;
    ASSERT_EQ(SpawnProcess(options, &pid), 0);
    out.CloseWrite();
    EXPECT_EQ(out.ReadAll(), "a\nb\n");
    EXPECT_EQ(Collect(pid), 0);
}

TEST(SpawnProcess, EntersTheWorkingFolder)
{
    testsupport::TempFolder folder;
    char* real = realpath(folder.Path().c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    const std::string expected = std::string(real) + "\n";
    std::free(real);

    SpawnOptions options;
    options.args = {"/bin/pwd", "-P"};
    options.workingFolder = folder.Path();
    EXPECT_EQ(RunForOutput(options), expected);

    // A relative program names a file in the working folder.
    testsupport::PutFile(folder.Path() + "tool", "#!/bin/sh\necho tool ran\n");
    ASSERT_EQ(chmod((folder.Path() + "tool").c_str(), 0755), 0);
    options.args = {"./tool"};
    EXPECT_EQ(RunForOutput(options), "tool ran\n");

    options.workingFolder = folder.Path() + "absent/";
    EXPECT_EQ(RunForOutput(options), "(failed " + std::to_string(ENOENT) + ")");
    EXPECT_TRUE(NoChildLeft());
}

TEST(SpawnProcess, PassesNoOtherDescriptor)
{
    // Opened without close-on-exec, as a library might.
    const int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    const std::string fd = std::to_string(leaky);
    EXPECT_EQ(RunForOutput(Shell("if [ -e /proc/self/fd/" + fd + " ]; then echo open; else echo closed; fi")),
              "closed\n");
    close(leaky);
}

TEST(SpawnProcess, GivesTheProgramAnEmptyMaskAndDefaultDispositions)
{
    sigset_t usr1, old;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &old), 0);
    struct sigaction ignore {}, oldPipe {}, oldUsr2 {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe);
    sigaction(SIGUSR2, &ignore, &oldUsr2);

    SpawnOptions options;
    options.args = {"/bin/grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"};
    const std::string output = RunForOutput(options);

    sigaction(SIGUSR2, &oldUsr2, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    unsigned long long blocked = ~0ull, ignored = ~0ull;
    ASSERT_EQ(std::sscanf(output.c_str(), "SigBlk:\t%llx\nSigIgn:\t%llx", &blocked, &ignored), 2) << output;
    EXPECT_EQ(blocked, 0u);
    // The C library's own two signals above 31 are left ignored by its spawn, and its
    // programs set them up themselves.
    EXPECT_EQ(ignored & 0x7FFFFFFFull, 0u);
}

TEST(SpawnProcess, GivesTheEnvironmentAsListed)
{
    const std::vector<std::string> environment = {"A=1", "B=two words"};
    SpawnOptions options;
    options.args = {"/usr/bin/env"};
    options.environment = &environment;
    EXPECT_EQ(RunForOutput(options), "A=1\nB=two words\n");

    const std::vector<std::string> none;
    options.environment = &none;
    EXPECT_EQ(RunForOutput(options), "");
}

TEST(SpawnProcess, SearchesPathOnlyWhenAsked)
{
    SpawnOptions options = Shell("echo found");
    options.args[0] = "sh";
    EXPECT_EQ(RunForOutput(options), "(failed " + std::to_string(ENOENT) + ")");
    options.searchPath = true;
    EXPECT_EQ(RunForOutput(options), "found\n");
}

TEST(SpawnProcess, StartsGroupsAndSessionsWhenAsked)
{
    const struct {
        const char* description;
        bool group;
        bool session;
    } cases[] = {
        {"neither", false, false},
        {"own group", true, false},
        {"own session", false, true},
        {"both", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Pipe in;
        SpawnOptions options;
        options.args = {"/bin/cat"};  // runs until its input ends
        options.stdinFd = in.fds[0];
        options.newProcessGroup = c.group;
        options.newSession = c.session;
        pid_t pid = -1;
        ASSERT_EQ(SpawnProcess(options, &pid), 0);
        EXPECT_EQ(getpgid(pid) == pid, c.group || c.session);
        EXPECT_EQ(getsid(pid) == pid, c.session);
        in.CloseWrite();
        EXPECT_EQ(Collect(pid), 0);
    }
}

TEST(SpawnProcess, ReportsProgramsThatCannotRunAndLeavesNoChild)
{
    testsupport::TempFolder folder;
    testsupport::PutFile(folder.Path() + "plain", "#!/bin/sh\necho never\n");
    ASSERT_EQ(chmod((folder.Path() + "plain").c_str(), 0644), 0);
    const struct {
        const char* description;
        std::vector<std::string> args;
        int error;
    } cases[] = {
        {"missing", {folder.Path() + "absent"}, ENOENT},
        {"not executable", {folder.Path() + "plain"}, EACCES},
        {"a folder", {folder.Path()}, EACCES},
        {"no arguments", {}, ENOENT},
        {"empty program", {""}, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        SpawnOptions options;
        options.args = c.args;
        pid_t pid = -1;
        EXPECT_EQ(SpawnProcess(options, &pid), c.error);
        EXPECT_TRUE(NoChildLeft());
    }
}

TEST(SpawnProcess, InheritedStreamsAreOurs)
{
    // Our standard output is the pipe for a moment, so the program's inherited one is too.
    Pipe out;
    std::fflush(stdout);
    const int saved = dup(1);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(dup2(out.fds[1], 1), 1);
    SpawnOptions options = Shell("echo inherited");
    options.stdoutFd = platform::kInheritStream;
    pid_t pid = -1;
    const int rc = SpawnProcess(options, &pid);
    dup2(saved, 1);
    close(saved);
    out.CloseWrite();
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(out.ReadAll(), "inherited\n");
    EXPECT_EQ(Collect(pid), 0);
}

TEST(ReadWaitStatus, TellsExitCodesFromSignals)
{
    const struct {
        const char* description;
        const char* script;
        bool exited;
        int code;
    } cases[] = {
        {"success", "exit 0", true, 0},
        {"failure code", "exit 3", true, 3},
        {"highest code", "exit 255", true, 255},
        {"ended by a signal", "kill -TERM $$", false, SIGTERM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const platform::RunResult result = platform::RunProcess({"/bin/sh", "-c", c.script}, 10000);
        ASSERT_EQ(result.spawnError, 0);
        const platform::ProcessEnd end = platform::ReadWaitStatus(result.status);
        EXPECT_EQ(end.exited, c.exited);
        EXPECT_EQ(end.code, c.code);
        EXPECT_EQ(platform::RunSucceeded(result), c.exited && c.code == 0);
    }
}

TEST(ChildWatch, SeesTheEndOfAKilledGroupWithoutCollectingIt)
{
    SpawnOptions options = Shell("sleep 30 & wait");
    options.newProcessGroup = true;
    pid_t pid = -1;
    ASSERT_EQ(SpawnProcess(options, &pid), 0);
    EXPECT_FALSE(platform::HasChildEnded(pid));
    platform::KillProcessGroup(pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!platform::HasChildEnded(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(platform::HasChildEnded(pid));
    const platform::ProcessEnd end = platform::ReadWaitStatus(platform::CollectChild(pid));
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.code, SIGKILL);
    EXPECT_TRUE(NoChildLeft());
    EXPECT_TRUE(platform::HasChildEnded(pid));  // collected: no longer ours
}

TEST(Descriptors, WriteToAGoneReaderIsEpipeWithoutASignal)
{
    Pipe pipe;
    pipe.CloseRead();
    {
        platform::BrokenPipeSignalHold hold;
        errno = 0;
        EXPECT_EQ(platform::WriteDescriptor(pipe.fds[1], "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
        platform::DiscardBrokenPipeSignal();
        sigset_t pending;
        ASSERT_EQ(sigpending(&pending), 0);
        EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    }
}

TEST(Descriptors, NonBlockingReadsSayWhatThePipeHolds)
{
    platform::CDescriptor readEnd, writeEnd;
    ASSERT_TRUE(platform::CreatePipe(readEnd, writeEnd));
    platform::SetNonBlocking(readEnd.Get());
    char byte = 0;
    errno = 0;
    EXPECT_EQ(platform::ReadDescriptor(readEnd.Get(), &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(platform::WriteDescriptor(writeEnd.Get(), "y", 1), 1);
    platform::WaitForDescriptors({-1, readEnd.Get()}, -1, 10000);
    EXPECT_EQ(platform::ReadDescriptor(readEnd.Get(), &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    writeEnd.Reset();
    EXPECT_EQ(writeEnd.Get(), -1);
    EXPECT_EQ(platform::ReadDescriptor(readEnd.Get(), &byte, 1), 0);
}

}  // namespace
