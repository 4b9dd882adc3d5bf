#include "ProgramRunner.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace programtest {
namespace {

// How often a wait looks at the process again: short next to its end, long next to a
// system call.
constexpr std::chrono::milliseconds kPollInterval{5};

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
