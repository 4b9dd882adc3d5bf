#include "Process.h"

#include "Clock.h"
#include "FileIo.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <thread>
#include <type_traits>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

static_assert(std::is_same<ProcessId, pid_t>::value, "a ProcessId holds a pid_t as it is");

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Spawn attributes and file actions, destroyed on every way out.
class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        for (int fd : copies)
            if (fd >= 0)
                close(fd);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int copies[3] = {-1, -1, -1};  // parent-side copies of sources that sit on 0..2
};

}  // namespace

std::vector<CommandArgument> SplitCommandLine(const std::string& commandLine)
{
    std::vector<CommandArgument> args;
    std::string::size_type i = 0;
    const std::string::size_type n = commandLine.size();
    for (;;) {
        while (i < n && IsBlank(commandLine[i]))
            ++i;
        if (i >= n)
            break;
        CommandArgument arg;
        bool inQuotes = false;
        for (; i < n; ++i) {
            const char c = commandLine[i];
            if (!inQuotes && IsBlank(c))
                break;
            if (c == '"') {
                inQuotes = !inQuotes;
                arg.quoted = true;
            } else if (c == '\\' && i + 1 < n && (commandLine[i + 1] == '"' || commandLine[i + 1] == '\\')) {
                arg.text += commandLine[++i];
            } else {
                arg.text += c;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"\\") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

const char* const* OwnEnvironment() { return environ; }

int SpawnProcess(const SpawnOptions& options, ProcessId* pid)
{
    if (options.args.empty() || options.args[0].empty())
        return ENOENT;
    SpawnSetup setup;

    // The dup2 steps run in order in the child: a source that is itself one of the three
    // targets would be overwritten by an earlier step, so it is moved out of the way first.
    const int sources[3] = {options.stdinFd, options.stdoutFd, options.stderrFd};
    int effective[3];
    for (int target = 0; target < 3; ++target) {
        effective[target] = sources[target];
        if (sources[target] >= 0 && sources[target] < 3 && sources[target] != target) {
            setup.copies[target] = fcntl(sources[target], F_DUPFD_CLOEXEC, 3);
            if (setup.copies[target] < 0)
                return errno;
            effective[target] = setup.copies[target];
        }
    }
    static const int kOpenFlags[3] = {O_RDONLY, O_WRONLY, O_WRONLY};
    for (int target = 0; target < 3; ++target) {
        if (effective[target] == kInheritStream)
            continue;
        // dup2 clears close-on-exec on the copy (and, from glibc 2.29, on a descriptor
        // duplicated onto its own number).
        const int rc = effective[target] < 0
                           ? posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null",
                                                              kOpenFlags[target], 0)
                           : posix_spawn_file_actions_adddup2(&setup.actions, effective[target], target);
        if (rc != 0)
            return rc;
    }
    // Descriptors without close-on-exec (other libraries', other threads' pipes being set
    // up) must not reach the program.
    if (int rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3))
        return rc;
    if (!options.workingFolder.empty())
        if (int rc = posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingFolder.c_str()))
            return rc;

    // Blocked and ignored signals are ours: the program gets what a shell would give it.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newSession) {
        // A session leader already leads its own group (and may not change it).
        flags |= POSIX_SPAWN_SETSID;
    } else if (options.newProcessGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&setup.attributes, 0);
    }
    posix_spawnattr_setflags(&setup.attributes, flags);

    std::vector<char*> argv;
    argv.reserve(options.args.size() + 1);
    for (const std::string& arg : options.args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    char** env = environ;
    if (options.environment) {
        envp.reserve(options.environment->size() + 1);
        for (const std::string& entry : *options.environment)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        env = envp.data();
    }
    // glibc reports a failed exec (and a failed file action) as the result and has
    // already collected the child that failed.
    return options.searchPath
               ? posix_spawnp(pid, argv[0], &setup.actions, &setup.attributes, argv.data(), env)
               : posix_spawn(pid, argv[0], &setup.actions, &setup.attributes, argv.data(), env);
}

namespace {

// How often a bounded wait looks whether the program has ended: short next to the
// fractions of a second an installer takes.
constexpr int kRunPollMs = 10;

std::string ReadCollected(int fd)
{
    std::string text;
    if (lseek(fd, 0, SEEK_SET) != 0)
        return text;
    char buffer[4096];
    ssize_t n;
    while (text.size() < kMaxRunErrorOutput && (n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxRunErrorOutput)
        text.resize(kMaxRunErrorOutput);
    return text;
}

}  // namespace

ProcessEnd ReadWaitStatus(int status)
{
    ProcessEnd end;
    end.exited = WIFEXITED(status);
    end.code = end.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return end;
}

bool RunSucceeded(const RunResult& result)
{
    const ProcessEnd end = ReadWaitStatus(result.status);
    return result.spawnError == 0 && !result.timedOut && end.exited && end.code == 0;
}

RunResult RunProcess(std::vector<std::string> args, uint64_t timeoutMs)
{
    RunResult result;
    // An unnamed file, so a chatty program never blocks on a full pipe.
    const int errFd = memfd_create("run-stderr", MFD_CLOEXEC);
    SpawnOptions options;
    options.args = std::move(args);
    options.stderrFd = errFd;
    options.newProcessGroup = true;
    ProcessId pid = -1;
    result.spawnError = SpawnProcess(options, &pid);
    if (result.spawnError != 0) {
        if (errFd >= 0)
            close(errFd);
        return result;
    }
    const uint64_t deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const pid_t done = waitpid(pid, &result.status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            break;
        if (GetTickCount64() >= deadline) {
            result.timedOut = true;
            KillProcessGroup(pid);
            result.status = CollectChild(pid);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kRunPollMs));
    }
    if (errFd >= 0) {
        result.errorOutput = ReadCollected(errFd);
        close(errFd);
    }
    return result;
}

CDescriptor OpenProcessHandle(ProcessId pid)
{
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    return CDescriptor(fd < 0 ? -1 : static_cast<int>(fd));
#else
    (void)pid;
    return CDescriptor();
#endif
}

bool HasChildEnded(ProcessId pid)
{
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
        return info.si_pid == pid;
    return errno == ECHILD;
}

void KillProcessGroup(ProcessId pid) { kill(-pid, SIGKILL); }

int CollectChild(ProcessId pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool CreatePipe(CDescriptor& readEnd, CDescriptor& writeEnd)
{
    int ends[2] = {-1, -1};
    const bool made = pipe2(ends, O_CLOEXEC) == 0;
    readEnd = CDescriptor(ends[0]);
    writeEnd = CDescriptor(ends[1]);
    return made;
}

void SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void CDescriptor::Reset()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

long ReadDescriptor(int fd, void* buffer, size_t size)
{
    ssize_t n;
    while ((n = read(fd, buffer, size)) < 0 && errno == EINTR) {
    }
    return static_cast<long>(n);
}

long WriteDescriptor(int fd, const void* data, size_t size)
{
    ssize_t n;
    while ((n = write(fd, data, size)) < 0 && errno == EINTR) {
    }
    return static_cast<long>(n);
}

void WaitForDescriptors(std::initializer_list<int> readable, int writable, int timeoutMs)
{
    std::vector<pollfd> fds;
    fds.reserve(readable.size() + 1);
    for (int fd : readable)
        if (fd >= 0)
            fds.push_back(pollfd{fd, POLLIN, 0});
    if (writable >= 0)
        fds.push_back(pollfd{writable, POLLOUT, 0});
    poll(fds.data(), fds.size(), timeoutMs);
}

namespace {

sigset_t BrokenPipeSet()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    return pipe;
}

}  // namespace

BrokenPipeSignalHold::BrokenPipeSignalHold()
{
    const sigset_t pipe = BrokenPipeSet();
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
}

BrokenPipeSignalHold::~BrokenPipeSignalHold() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

void DiscardBrokenPipeSignal()
{
    sigset_t pending;
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const sigset_t pipe = BrokenPipeSet();
        const timespec now{0, 0};
        sigtimedwait(&pipe, nullptr, &now);
    }
}

std::string ReadProgramFirstLine(const std::string& nativePath)
{
    const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return "";
    std::string line;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char bytes[kProgramFirstLineMax];
        size_t have = 0;
        while (have < kProgramFirstLineMax && std::memchr(bytes, '\n', have) == nullptr) {
            const ssize_t n = read(fd, bytes + have, kProgramFirstLineMax - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            have += static_cast<size_t>(n);
        }
        line.assign(bytes, have);
        const std::string::size_type lf = line.find('\n');
        if (lf != std::string::npos)
            line.resize(lf + 1);
        const std::string::size_type zero = line.find('\0');
        if (zero != std::string::npos)
            line.resize(zero);
    }
    close(fd);
    return line;
}

bool IsRunnableProgram(const std::string& nativePath, const std::string& firstLine)
{
    struct stat st {};
    if (stat(nativePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(nativePath.c_str(), X_OK) != 0)
        return false;
    return firstLine.compare(0, 4, "\x7f" "ELF") == 0 || firstLine.compare(0, 2, "#!") == 0;
}

std::string ProgramArgument(const std::string& argument)
{
    const std::string native = NativePath(argument);
    if (native == argument)
        return argument;
    struct stat st {};
    return stat(native.c_str(), &st) == 0 ? native : argument;
}

}  // namespace platform
