#pragma once
// Starting programs without a shell, in place of CreateProcess: a command line split into
// an argument vector by quoting rules, a spawn with chosen standard streams, the pipes to a
// running program and the watch over its end.

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A process id; a negative one names no process.
using ProcessId = int;

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

// This process's environment as the C runtime holds it: "NAME=value" entries, ended by a
// null pointer. Valid until the environment is changed.
const char* const* OwnEnvironment();

// A standard stream of SpawnOptions that the program shares with us as it is (even closed).
constexpr int kInheritStream = -2;

struct SpawnOptions {
    std::vector<std::string> args;         // args[0] is the program; no PATH search unless searchPath
    const std::vector<std::string>* environment = nullptr;  // "NAME=value"; null: our own
    std::string workingFolder;             // native path; "" keeps ours
    int stdinFd = -1;                      // -1: /dev/null; or kInheritStream
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
int SpawnProcess(const SpawnOptions& options, ProcessId* pid);

// How a program run to its end went.
struct RunResult {
    int spawnError = 0;        // the errno when it could not be started; 0 when it ran
    bool timedOut = false;     // still running at the limit: it was killed
    int status = 0;            // the wait status when it ended (ReadWaitStatus)
    std::string errorOutput;   // what it wrote to stderr, at most kMaxRunErrorOutput bytes
};

// A program's complaint is a few lines; more is noise that would fill a message box.
constexpr size_t kMaxRunErrorOutput = 64 * 1024;

// A wait status read: whether the program exited, and its exit code, or else the signal
// that ended it.
struct ProcessEnd {
    bool exited = false;
    int code = 0;
};
ProcessEnd ReadWaitStatus(int status);

// Whether it ran and exited with status 0.
bool RunSucceeded(const RunResult& result);

// Starts the program as SpawnProcess does (standard input and output on /dev/null, standard
// error collected, in a process group of its own) and waits at most `timeoutMs` for its end;
// at the limit the whole group is killed and reaped.
RunResult RunProcess(std::vector<std::string> args, uint64_t timeoutMs);

// --- a program started with SpawnProcess, watched until its end ----------------------

// One open descriptor (a pipe's end, a process handle), closed when this is reset or
// destroyed, so that no path out of a caller leaves it open. Move-only.
class CDescriptor {
public:
    CDescriptor() = default;
    explicit CDescriptor(int fd) : fd_(fd) {}
    ~CDescriptor() { Reset(); }
    CDescriptor(CDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    CDescriptor& operator=(CDescriptor&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;

    // -1 when closed; owned here.
    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Closes now (harmless when closed).
    void Reset();

private:
    int fd_ = -1;
};

// Readable once the process (a child or any other) has ended; closed where the system has
// no such descriptor or the process is gone already.
CDescriptor OpenProcessHandle(ProcessId pid);
// Whether the child has ended, without collecting it, so that its id (and group id) cannot
// be reused while a kill may still name it. Also true when it was collected elsewhere
// (SIGCHLD ignored): its id is then no longer ours to signal.
bool HasChildEnded(ProcessId pid);
// Kills the process group that `pid` leads.
void KillProcessGroup(ProcessId pid);
// Waits for the child's end and collects it; returns its wait status (0 when there is no
// such child).
int CollectChild(ProcessId pid);

// A pipe, both ends close-on-exec: true, or false with errno at the reason (ends closed).
bool CreatePipe(CDescriptor& readEnd, CDescriptor& writeEnd);
// Reads and writes on the descriptor return at once with EAGAIN instead of waiting.
void SetNonBlocking(int fd);
// Bytes read (0 at end of file) or written, or -1 with errno at the reason: EAGAIN when a
// non-blocking descriptor has nothing now, EPIPE when the reader has gone. An interrupted
// call is repeated.
long ReadDescriptor(int fd, void* buffer, size_t size);
long WriteDescriptor(int fd, const void* data, size_t size);
// Waits at most `timeoutMs` until one of `readable` can be read (or has hung up) or
// `writable` can be written; descriptors below 0 are left out.
void WaitForDescriptors(std::initializer_list<int> readable, int writable, int timeoutMs);

// A write to a pipe whose reader has gone raises SIGPIPE in the writing thread; whatever
// the process does with it, it is held back in the thread while this lives, and the EPIPE
// is handled instead. Call DiscardBrokenPipeSignal after each EPIPE.
class BrokenPipeSignalHold {
public:
    BrokenPipeSignalHold();
    ~BrokenPipeSignalHold();
    BrokenPipeSignalHold(const BrokenPipeSignalHold&) = delete;
    BrokenPipeSignalHold& operator=(const BrokenPipeSignalHold&) = delete;

private:
    sigset_t old_;  // the thread's signal mask before
};
// Takes back the SIGPIPE that the last write raised while a BrokenPipeSignalHold holds it.
void DiscardBrokenPipeSignal();

// --- program files and arguments ----------------------------------------------------

// A script's first line as the system reads it for an interpreter: at most
// kProgramFirstLineMax bytes, up to and including the first line feed, cut at a zero byte.
// "" for anything that is not a readable regular file (a FIFO is never waited on).
std::string ReadProgramFirstLine(const std::string& nativePath);
// The system reads no more of a "#!" line (a 256-byte buffer, less the mark).
constexpr size_t kProgramFirstLineMax = 254;
// A program the system can run by itself: an executable regular file in ELF form or with
// an interpreter line (`firstLine` from ReadProgramFirstLine).
bool IsRunnableProgram(const std::string& nativePath, const std::string& firstLine);
// The argument in the system's spelling when, read as a CP932 path, it names something
// (links followed); else its bytes unchanged.
std::string ProgramArgument(const std::string& argument);

}  // namespace platform
