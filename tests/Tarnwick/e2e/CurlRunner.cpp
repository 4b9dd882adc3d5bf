#include "CurlRunner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace servertest {
namespace {

constexpr const char* kCurl = "/usr/bin/curl";
// How often a wait looks at the child again: short next to any transfer, long next to a
// system call.
constexpr std::chrono::milliseconds kPollInterval{2};

// An unnamed file for one output stream: it vanishes with its last descriptor.
int MakeOutputFile()
{
    std::string pattern = testing::TempDir() + "curl-output-XXXXXX";
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

}  // namespace

CurlRunner::CurlRunner(const std::vector<std::string>& args)
{
    outFd_ = MakeOutputFile();
    errFd_ = MakeOutputFile();

    std::vector<std::string> all = {kCurl, "-q", "--noproxy", "*", "-sS"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // dup2 clears close-on-exec on the copies only.
    posix_spawn_file_actions_adddup2(&actions, outFd_, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
    const int failed = ::posix_spawn(&pid_, kCurl, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        ::close(outFd_);
        ::close(errFd_);
        throw std::runtime_error(std::string("cannot start ") + kCurl + ": " + std::strerror(failed));
    }
}

CurlRunner::~CurlRunner()
{
    if (!HasEnded()) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(outFd_);
    ::close(errFd_);
}

bool CurlRunner::HasEnded()
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

CurlResult CurlRunner::Wait(std::chrono::milliseconds limit)
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
    CurlResult result;
    result.timedOut = killed_;
    result.exitCode = !killed_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    result.out = ReadAll(outFd_);
    result.err = ReadAll(errFd_);
    return result;
}

CurlResult RunCurl(const std::vector<std::string>& args, std::chrono::milliseconds limit)
{
    CurlRunner runner(args);
    return runner.Wait(limit);
}

}  // namespace servertest
