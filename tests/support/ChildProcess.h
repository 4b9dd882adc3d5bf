#pragma once
// A program run by a test as a child process: started with this process's environment plus
// the changes the test gives, its output caught, every wait bounded. At its limit, and when
// the object goes, a child still running is killed.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// How one run ended.
struct ChildResult {
    int exitCode = -1;      // the exit status; -1 when the program did not exit by itself
    int signal = 0;         // the signal that ended it, 0 when it exited
    bool timedOut = false;  // killed at the limit
    std::string out;        // all it wrote to stdout
    std::string err;        // all it wrote to stderr
};

// Environment changes: "NAME=value" sets a variable, "NAME" alone removes it.
using EnvironmentChanges = std::vector<std::string>;

class ChildProcess {
public:
    // Starts `program` (a path; no search) with `args` after argv[0]: stdin on /dev/null,
    // or read from the file `input` when one is named, stdout and stderr into unnamed
    // temporary files (so a chatty child never blocks on a full pipe), an empty signal
    // mask and default dispositions, as a shell would start it. Throws
    // std::runtime_error, naming the program (or the input) and the reason, when it cannot
    // start.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const EnvironmentChanges& changes = {}, const std::string& input = "");
    // Kills and reaps a child that is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // True once the child has ended (reaped); never blocks.
    bool HasEnded();
    // Sends `sig` while the child has not been reaped; false otherwise.
    bool Signal(int sig);
    // Waits at most `limit` for the end, killing the child at the limit; then gives what
    // it wrote. Later calls give the same result at once.
    ChildResult Wait(std::chrono::milliseconds limit);
    // What it has written to stdout so far.
    std::string Output() const;
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

}  // namespace testsupport
