#pragma once
// A program under test as a child process: started with this process's environment plus
// the changes a test gives, its output caught, every run bounded. At its limit, and at the
// end of the test that made it, the child is killed.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace programtest {

// How one run ended.
struct ProgramResult {
    int exitCode = -1;      // the exit status; -1 when the program did not exit by itself
    int signal = 0;         // the signal that ended it, 0 when it exited
    bool timedOut = false;  // killed at the limit
    std::string out;        // all it wrote to stdout
    std::string err;        // all it wrote to stderr
};

// Environment changes: "NAME=value" sets a variable, "NAME" alone removes it.
using EnvironmentChanges = std::vector<std::string>;

class ProgramRunner {
public:
    // Starts `program` with `args` (after argv[0]), stdin on /dev/null, stdout and stderr
    // into unnamed files, an empty signal mask. Throws std::runtime_error when it cannot
    // start.
    ProgramRunner(const std::string& program, const std::vector<std::string>& args,
                  const EnvironmentChanges& changes = {});
    // Kills and reaps a run that is still going.
    ~ProgramRunner();
    ProgramRunner(const ProgramRunner&) = delete;
    ProgramRunner& operator=(const ProgramRunner&) = delete;

    pid_t Pid() const { return pid_; }

    // True once the process has ended (reaped); never blocks.
    bool HasEnded();
    // Sends `sig` while the child has not been reaped; false otherwise.
    bool Signal(int sig);
    // Waits at most `limit` for the end, killing the child at the limit; then gives what
    // it wrote. Later calls give the same result at once.
    ProgramResult Wait(std::chrono::milliseconds limit);
    // What it has written to stderr so far.
    std::string ErrorOutput() const;

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
    bool killed_ = false;
    int outFd_ = -1;
    int errFd_ = -1;
};

// Runs the program to its end, at most `limit`.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const EnvironmentChanges& changes = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(10));

// Kills a process that this test process started indirectly (a server that an activation
// spawned) and waits, at most `limit`, until it is gone. Only a live child of this process
// running `program` is touched, so a reused process id is never hit. True when it is gone.
bool KillOwnChild(pid_t pid, const std::string& program,
                  std::chrono::milliseconds limit = std::chrono::seconds(5));

// Whether `pid` names a process that has not been reaped yet.
bool ProcessExists(pid_t pid);

}  // namespace programtest
