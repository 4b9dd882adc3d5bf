#pragma once
// Starting programs without a shell, in place of CreateProcess: a command line split into
// an argument vector by quoting rules, and a spawn with chosen standard streams.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One argument of a command line, and whether any of it was written in double quotes.
struct CommandArgument {
    std::string text;
    bool quoted = false;
};

// Splits at blanks and tabs outside double quotes. A double quote opens or closes a quoted
// stretch (it may sit inside an argument: a"b c"d is one argument); a backslash followed by
// a double quote or a backslash stands for that character, any other backslash for itself.
// An unclosed quote runs to the end.
std::vector<CommandArgument> SplitCommandLine(const std::string& commandLine);
// The argument as SplitCommandLine reads it back: unchanged when it holds no blank, tab,
// double quote or backslash and is not empty; else in double quotes with '"' and '\' escaped.
std::string QuoteArgument(const std::string& argument);

struct SpawnOptions {
    std::vector<std::string> args;         // args[0] is the program; no PATH search unless searchPath
    const std::vector<std::string>* environment = nullptr;  // "NAME=value"; null: our own
    std::string workingFolder;             // native path; "" keeps ours
    int stdinFd = -1;                      // -1: /dev/null
    int stdoutFd = -1;
    int stderrFd = -1;
    bool searchPath = false;
    bool newSession = false;               // its own session and group (a detached server)
    bool newProcessGroup = false;          // its own process group, so the group can be killed
                                           // (implied by newSession)
};

// Starts the program with the three streams set as given, every other descriptor closed,
// an empty signal mask and default dispositions for every signal. The working folder is
// entered before the program is looked up, so a relative program path names a file there;
// a PATH search uses our own PATH. 0 with *pid, or the errno of the failure (ENOENT for no
// program); a program that could not be executed has then already been collected.
int SpawnProcess(const SpawnOptions& options, pid_t* pid);

// How a program run to its end went.
struct RunResult {
    int spawnError = 0;        // the errno when it could not be started; 0 when it ran
    bool timedOut = false;     // still running at the limit: it was killed
    int status = 0;            // the wait status (WIFEXITED and friends) when it ended
    std::string errorOutput;   // what it wrote to stderr, at most kMaxRunErrorOutput bytes
};

// A program's complaint is a few lines; more is noise that would fill a message box.
constexpr size_t kMaxRunErrorOutput = 64 * 1024;

// Whether it ran and exited with status 0.
bool RunSucceeded(const RunResult& result);

// Starts the program as SpawnProcess does (standard input and output on /dev/null, standard
// error collected, in a process group of its own) and waits at most `timeoutMs` for its end;
// at the limit the whole group is killed and reaped.
RunResult RunProcess(std::vector<std::string> args, uint64_t timeoutMs);

}  // namespace platform
