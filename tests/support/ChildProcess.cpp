#include "ChildProcess.h"

#include "Process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

// How often a wait looks at the child again: short next to a transfer or a program's
// start, long next to a system call.
constexpr std::chrono::milliseconds kPollInterval{2};

// An unnamed file for one output stream: it vanishes with its last descriptor.
int MakeOutputFile()
{
    std::string pattern = testing::TempDir() + "child-output-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot make " + pattern + ": " + std::strerror(errno));
    ::unlink(pattern.c_str());
    return fd;
}

std::string ReadAll(int fd)
{
    std::string bytes;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return bytes;
        bytes.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
}

// This process's environment with the changes applied, as "NAME=value" entries.
std::vector<std::string> ChangedEnvironment(const EnvironmentChanges& changes)
{
    std::map<std::string, std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        entries[text.substr(0, text.find('='))] = text;
    }
    for (const std::string& change : changes) {
        const std::string::size_type equals = change.find('=');
        if (equals == std::string::npos)
            entries.erase(change);
        else
            entries[change.substr(0, equals)] = change;
    }
    std::vector<std::string> result;
    for (const auto& entry : entries)
        result.push_back(entry.second);
    return result;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const EnvironmentChanges& changes, const std::string& input)
{
    const int inFd = input.empty() ? -1 : ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (!input.empty() && inFd < 0)
        throw std::runtime_error("cannot open " + input + ": " + std::strerror(errno));
    outFd_ = MakeOutputFile();
    try {
        errFd_ = MakeOutputFile();
    } catch (...) {
        ::close(outFd_);
        if (inFd >= 0)
            ::close(inFd);
        throw;
    }

    platform::SpawnOptions options;
    options.args = {program};
    options.args.insert(options.args.end(), args.begin(), args.end());
    const std::vector<std::string> environment = ChangedEnvironment(changes);
    options.environment = &environment;
    options.stdinFd = inFd;
    options.stdoutFd = outFd_;
    options.stderrFd = errFd_;
    const int failed = platform::SpawnProcess(options, &pid_);
    if (inFd >= 0)
        ::close(inFd);
    if (failed != 0) {
        ::close(outFd_);
        ::close(errFd_);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess()
{
    if (!HasEnded()) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(outFd_);
    ::close(errFd_);
}

bool ChildProcess::HasEnded()
{
    if (ended_)
        return true;
    pid_t done;
    while ((done = ::waitpid(pid_, &status_, WNOHANG)) < 0 && errno == EINTR) {
    }
    // A failing waitpid means there is no child left to wait for, nor a status to read.
    if (done < 0)
        status_ = -1;
    ended_ = done != 0;
    return ended_;
}

bool ChildProcess::Signal(int sig) { return !HasEnded() && ::kill(pid_, sig) == 0; }

ChildResult ChildProcess::Wait(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!HasEnded()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            // SIGKILL cannot be caught, so the blocking wait after it is bounded.
            ::kill(pid_, SIGKILL);
            killed_ = true;
            while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
            ended_ = true;
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    ChildResult result;
    result.timedOut = killed_;
    if (!killed_ && status_ != -1) {
        if (WIFEXITED(status_))
            result.exitCode = WEXITSTATUS(status_);
        else if (WIFSIGNALED(status_))
            result.signal = WTERMSIG(status_);
    }
    result.out = ReadAll(outFd_);
    result.err = ReadAll(errFd_);
    return result;
}

std::string ChildProcess::Output() const { return ReadAll(outFd_); }

std::string ChildProcess::ErrorOutput() const { return ReadAll(errFd_); }

}  // namespace testsupport
