#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace programtest {
namespace {

// How often a wait looks at the child again: short next to a program's start, long next
// to a system call.
constexpr std::chrono::milliseconds kPollInterval{5};

// An unnamed file for one output stream: it vanishes with its last descriptor.
int MakeOutputFile()
{
    std::string pattern = testing::TempDir() + "program-output-XXXXXX";
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

// The fields of /proc/<pid>/stat after the command name: state, then the parent's id.
bool ReadProcessState(pid_t pid, char* state, pid_t* parent)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return false;
    // The command name is in parentheses and may hold anything, blanks included.
    const std::string::size_type close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size())
        return false;
    *state = line[close + 2];
    *parent = static_cast<pid_t>(std::atol(line.c_str() + close + 4));
    return true;
}

std::string ResolvedPath(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

}  // namespace

ProgramRunner::ProgramRunner(const std::string& program, const std::vector<std::string>& args,
                             const EnvironmentChanges& changes)
{
    outFd_ = MakeOutputFile();
    errFd_ = MakeOutputFile();

    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = ChangedEnvironment(changes);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // dup2 clears close-on-exec on the copies only.
    posix_spawn_file_actions_adddup2(&actions, outFd_, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
    // The program must see the signals as a shell would start it, whatever this process
    // blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, reset;
    sigemptyset(&none);
    sigemptyset(&reset);
    for (int sig : {SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGCHLD})
        sigaddset(&reset, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &reset);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int failed = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        ::close(outFd_);
        ::close(errFd_);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(failed));
    }
}

ProgramRunner::~ProgramRunner()
{
    if (!HasEnded()) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(outFd_);
    ::close(errFd_);
}

bool ProgramRunner::HasEnded()
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

bool ProgramRunner::Signal(int sig) { return !HasEnded() && ::kill(pid_, sig) == 0; }

ProgramResult ProgramRunner::Wait(std::chrono::milliseconds limit)
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
    ProgramResult result;
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

std::string ProgramRunner::ErrorOutput() const { return ReadAll(errFd_); }

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const EnvironmentChanges& changes, std::chrono::milliseconds limit)
{
    ProgramRunner runner(program, args, changes);
    return runner.Wait(limit);
}

bool ProcessExists(pid_t pid)
{
    char state = 0;
    pid_t parent = 0;
    return pid > 0 && ReadProcessState(pid, &state, &parent) && state != 'Z' && state != 'X';
}

bool KillOwnChild(pid_t pid, const std::string& program, std::chrono::milliseconds limit)
{
    char state = 0;
    pid_t parent = 0;
    if (pid <= 0 || !ReadProcessState(pid, &state, &parent))
        return true;
    if (parent != ::getpid())
        return true;  // not ours: gone and its id taken again, or never ours
    if (ResolvedPath("/proc/" + std::to_string(pid) + "/exe") != ResolvedPath(program))
        return true;
    ::kill(pid, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ProcessExists(pid)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace programtest
