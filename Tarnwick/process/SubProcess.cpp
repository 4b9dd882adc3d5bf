#include "process/SubProcess.h"

#include "CRuntime.h"
#include "FileIo.h"
#include "FilePath.h"
#include "IPv4Address.h"
#include "Process.h"
#include "core/ServerCore.h"
#include "http/ConnectionState.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Read and written per call: the size of a pipe's buffer.
constexpr int32_t kPipeChunk = 65536;
// How long one round of the loop waits for a pipe before it looks at the child, the
// watchdog and the connection again.
constexpr int kPollMs = 10;
// The first line of a script is read this far (and up to its line feed): the system reads
// no more of a "#!" line either (a 256-byte buffer, less the mark).
constexpr size_t kFirstLineMax = 254;
// Entries taken from the server's own environment: more is no ordinary environment, and
// every entry is copied for every program started.
constexpr int kMaxOwnEnvironment = 256;

// The variables of the server's own environment that a program gets: what finds programs
// and chooses its language and time zone, nothing that may hold a secret.
bool IsPassedOn(const std::string& name)
{
    return name == "PATH" || name == "LANG" || name == "TZ" || name.compare(0, 3, "LC_") == 0;
}

// A header line folded into an environment value must stay one line.
std::string OneLine(std::string value)
{
    std::replace(value.begin(), value.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

// The script's first line: up to kFirstLineMax bytes, up to and including the first line
// feed, cut at a zero byte. "" for anything that is not a readable regular file (a FIFO
// would block the connection).
std::string ReadFirstLine(const std::string& nativePath)
{
    const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return "";
    std::string line;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char bytes[kFirstLineMax];
        size_t have = 0;
        while (have < kFirstLineMax && std::memchr(bytes, '\n', have) == nullptr) {
            const ssize_t n = read(fd, bytes + have, kFirstLineMax - have);
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

// A program the system can run by itself: an executable regular file in ELF form or with
// an interpreter line.
bool IsExecutableProgram(const std::string& nativePath, const std::string& firstLine)
{
    struct stat st {};
    if (stat(nativePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(nativePath.c_str(), X_OK) != 0)
        return false;
    return firstLine.compare(0, 4, "\x7f" "ELF") == 0 || firstLine.compare(0, 2, "#!") == 0;
}

// %FilePath% and %Query% filled in one pass: what is inserted is never read again.
std::string FillPlaceholders(const std::string& text, const std::string& filePath, const std::string& query)
{
    static const std::string kFilePath = "%FilePath%";
    static const std::string kQuery = "%Query%";
    std::string filled;
    for (std::string::size_type i = 0; i < text.size();) {
        if (text.compare(i, kFilePath.size(), kFilePath) == 0) {
            filled += filePath;
            i += kFilePath.size();
        } else if (text.compare(i, kQuery.size(), kQuery) == 0) {
            filled += query;
            i += kQuery.size();
        } else {
            filled += text[i++];
        }
    }
    return filled;
}

// An argument in the system's spelling when, read as a CP932 path, it names something.
std::string SystemArgument(const std::string& argument)
{
    const std::string native = platform::NativePath(argument);
    if (native == argument)
        return argument;
    struct stat st {};
    return stat(native.c_str(), &st) == 0 ? native : argument;
}

// A write to a pipe whose reader has gone raises SIGPIPE in the writing thread; whatever
// the process does with it, it is held back here and the EPIPE is handled instead.
class SigPipeHold {
public:
    SigPipeHold()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigPipeHold() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SigPipeHold(const SigPipeHold&) = delete;
    SigPipeHold& operator=(const SigPipeHold&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
};

// Takes back the SIGPIPE that the last write raised while a SigPipeHold holds it back.
void DiscardSigPipe()
{
    sigset_t pending;
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec now{0, 0};
        sigtimedwait(&pipe, nullptr, &now);
    }
}

int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    return fd < 0 ? -1 : static_cast<int>(fd);
#else
    (void)pid;
    return -1;
#endif
}

void SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

CSubProcess::CSubProcess(CServerCore* core, CConnectionState& connection, int32_t maxOutput)
    : core_(core), connection_(connection), maxOutput_(maxOutput), scratch_(kPipeChunk)
{
}

CSubProcess::~CSubProcess()
{
    Disarm();
    Terminate();
    ClosePipes();
    if (pid_ > 0)
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
}

std::string CSubProcess::MakeCommandLine(CServerCore* core, const std::string& filePath, const std::string& query)
{
    struct Entry {
        std::string fileExt;
        int executeFile;
        std::string fileHeader;
        std::string command;
    };
    // Taken in one step, so that no file is read under the settings lock.
    std::vector<Entry> entries;
    {
        const CConfigAccessor cgi = core->GetSettingAccessor().GetSubAccessor("CGI");
        CConfigReadLock lock(cgi);
        std::vector<std::string> names;
        cgi.GetSections(names);
        for (const std::string& name : names) {
            const CConfigAccessor entry = cgi.GetSubAccessor(name);
            entries.push_back(Entry{entry.GetString("FileExt", ""), entry.GetInt("ExecuteFile", 0),
                                    entry.GetString("FileHeader", ""), entry.GetString("Command", "")});
        }
    }

    const std::string extension = GetFileExtension(filePath);
    const std::string nativePath = platform::NativePath(filePath);
    bool lineRead = false;
    std::string line;
    std::string command;
    for (const Entry& entry : entries) {
        if (platform::_mbsicmp(entry.fileExt, extension) != 0)
            continue;
        if (!lineRead) {
            line = ReadFirstLine(nativePath);
            lineRead = true;
        }
        bool chosen = false;
        if (entry.executeFile == 1)
            chosen = IsExecutableProgram(nativePath, line);
        else if (entry.executeFile == 0)
            chosen = entry.fileHeader.empty() ||
                     platform::_mbsstr(platform::_mbslwr(line), platform::_mbslwr(entry.fileHeader)) != std::string::npos;
        if (chosen) {
            command = entry.command;
            break;
        }
    }

    std::string commandLine;
    for (const platform::CommandArgument& arg : platform::SplitCommandLine(command)) {
        const std::string filled = FillPlaceholders(arg.text, filePath, query);
        // An empty query leaves no argument behind, as it would leave nothing on a
        // command line; an argument written in quotes stays, empty or not.
        if (filled.empty() && !arg.quoted)
            continue;
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += platform::QuoteArgument(filled);
    }
    return commandLine;
}

void CSubProcess::BuildEnvironment(const CConfigAccessor& envView, CServerCore* core,
                                   const CConfigAccessor& threadView, const CHttpRequest& request,
                                   const CRequestPath& path)
{
    const CConfigAccessor info = core->GetInfoAccessor();
    const std::string signature = info.GetString("ServerSignature", "");
    const std::string host = request.GetHeader("Host");
    const std::string remoteAddress = threadView.GetString("Host", "");
    // Only credentials that the path entry checked name a user.
    const bool authenticated =
        path.GetOptions().GetInt("EnableAuthenticate", 0) != 0 && !request.GetUser().empty();

    // Gathered first: the view's lock is not held over other trees or a name lookup.
    std::vector<std::pair<const char*, std::string>> variables;
    const auto set = [&variables](const char* name, std::string value) {
        variables.emplace_back(name, std::move(value));
    };
    set("SERVER_SOFTWARE", signature);
    set("SERVER_SIGNATURE", "<address>" + signature + "</address>");
    set("SERVER_NAME", info.GetString("ServerHostName", ""));
    set("GATEWAY_INTERFACE", "CGI/1.1");
    set("SERVER_PROTOCOL", "HTTP/1.1");
    set("SERVER_ADDR", info.GetString("ServerAddress", ""));
    set("SERVER_PORT", info.GetString("ServerPort", ""));
    if (!host.empty())
        set("HTTP_HOST", OneLine(host));
    set("REQUEST_METHOD", request.GetMethod());
    set("CONTENT_LENGTH", OneLine(request.GetHeader("Content-Length", "0")));
    set("CONTENT_TYPE", OneLine(request.GetHeader("Content-Type")));
    set("QUERY_STRING", request.GetQuery());
    set("SCRIPT_FILENAME", path.GetLocalPath());
    set("SCRIPT_NAME", request.GetObject());
    set("REQUEST_URI", request.GetUrl());
    if (authenticated)
        set("AUTH_TYPE", "basic");
    set("HTTP_ACCEPT", OneLine(request.GetHeader("Accept", "*/*")));
    set("HTTP_USER_AGENT", OneLine(request.GetHeader("User-Agent")));
    set("HTTP_REFERER", OneLine(request.GetHeader("Referer")));
    set("REMOTE_ADDR", remoteAddress);
    if (core->GetSettingAccessor().GetInt("CGIEnvironment::EnableGetHostName", 0) != 0)
        set("REMOTE_HOST", CIPv4Address(remoteAddress).GetHostName());
    if (authenticated)
        set("REMOTE_USER", request.GetUser());
    set("HTTP_VIA", OneLine(request.GetHeader("Via")));
    set("HTTP_FORWARDED", OneLine(request.GetHeader("Forwarded")));
    set("HTTP_PROXY_CONNECTION", OneLine(request.GetHeader("Proxy-Connection")));
    set("HTTP_COOKIE", OneLine(request.GetHeader("Cookie")));

    CConfigLock lock(envView);
    envView.Clear();
    for (const auto& variable : variables)
        envView.SetString(variable.first, variable.second);
}

void CSubProcess::PrepareEnvironment(CServerCore* core, const CConfigAccessor& threadView,
                                     const CHttpRequest& request, const CRequestPath& path)
{
    CConfigClass scratch;
    const CConfigAccessor env = scratch.GetAccessor("Env");
    BuildEnvironment(env, core, threadView, request, path);
    std::vector<CConfigLeaf> leaves;
    env.GetLeaves(leaves);
    environment_.SetLength(0);
    for (const CConfigLeaf& leaf : leaves)
        AppendEnvironmentEntry(leaf.key + "=" + leaf.value);

    int taken = 0;
    for (char** entry = environ; entry && *entry && taken < kMaxOwnEnvironment; ++entry) {
        const std::string text = *entry;
        const std::string::size_type equals = text.find('=');
        if (equals == std::string::npos || !IsPassedOn(text.substr(0, equals)))
            continue;
        AppendEnvironmentEntry(text);
        ++taken;
    }
}

void CSubProcess::AppendEnvironmentEntry(const std::string& entry)
{
    const std::string::size_type equals = entry.find('=');
    if (equals == std::string::npos || equals + 1 == entry.size())
        return;
    environment_.Append(entry.data(), static_cast<int32_t>(entry.size()));
    environment_.AppendByte('\0');
}

int CSubProcess::Start(const std::string& commandLine, const std::string& workingFolder, const std::string& pipeSuffix)
{
    (void)pipeSuffix;
    static const CSubProcessException kPipeFailure{"プロセス通信用パイプの生成に失敗しました。"};
    static const CSubProcessException kStartFailure{"プロセスの起動に失敗しました"};
    if (pid_ > 0 || inputFd_ >= 0 || outputFd_ >= 0 || errorsFd_ >= 0)
        throw kStartFailure;

    // Each stream's two ends: the child's end is [0] of its input and [1] of its outputs.
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    const bool piped = pipe2(inPipe, O_CLOEXEC) == 0 && pipe2(outPipe, O_CLOEXEC) == 0 &&
                       pipe2(errPipe, O_CLOEXEC) == 0;
    inputFd_ = inPipe[1];
    outputFd_ = outPipe[0];
    errorsFd_ = errPipe[0];
    struct ChildEnds {
        int* fds[3];
        ~ChildEnds()
        {
            for (int* fd : fds)
                if (*fd >= 0)
                    close(*fd);
        }
    } childEnds{{&inPipe[0], &outPipe[1], &errPipe[1]}};
    if (!piped)
        throw kPipeFailure;
    // The child's ends stay blocking: it reads and writes as it would on any pipe.
    SetNonBlocking(inputFd_);
    SetNonBlocking(outputFd_);
    SetNonBlocking(errorsFd_);

    platform::SpawnOptions options;
    for (const platform::CommandArgument& arg : platform::SplitCommandLine(commandLine))
        options.args.push_back(options.args.empty() ? platform::NativePath(arg.text) : SystemArgument(arg.text));
    if (options.args.empty())
        throw kStartFailure;
    environment_.AppendByte('\0');
    environment_.AppendByte('\0');
    std::vector<std::string> envp;
    const char* block = environment_.GetData();
    for (int32_t at = 0; at < environment_.GetLength() && block[at] != '\0';) {
        envp.emplace_back(block + at);
        at += static_cast<int32_t>(envp.back().size()) + 1;
    }
    options.environment = &envp;
    options.workingFolder = workingFolder.empty() ? "" : platform::NativePath(workingFolder);
    options.stdinFd = inPipe[0];
    options.stdoutFd = outPipe[1];
    options.stderrFd = errPipe[1];
    options.searchPath = true;
    options.newProcessGroup = true;

    {
        std::lock_guard<std::mutex> hold(processLock_);
        pid_t pid = -1;
        if (platform::SpawnProcess(options, &pid) != 0)
            throw kStartFailure;
        pid_ = pid;
        started_.Set(1);
    }
    pidFd_ = OpenPidFd(pid_);
    // Our copies of the child's ends would keep its streams open: the input's end of
    // file and the outputs' end of file come only when they are closed here.
    for (int* fd : childEnds.fds) {
        close(*fd);
        *fd = -1;
    }
    if (input_.GetLength() == 0)
        CloseFd(inputFd_);
    Wait();
    return 0;
}

void CSubProcess::Wait()
{
    Arm(0);
    CTimeoutGuard guard(this);
    int32_t written = 0;
    SigPipeHold hold;  // for the whole run: writes to the child's input meet EPIPE instead
    while (IsRunning()) {
        written += WriteInput(written);
        DrainOutputs();
        CheckStop();
        PollPipes(kPollMs);
    }
    // What the child wrote before it ended; a descendant that still holds the pipes does
    // not keep the run going.
    DrainOutputs();
    CheckStop();
}

int32_t CSubProcess::WriteInput(int32_t offset)
{
    if (inputFd_ < 0)
        return 0;
    int32_t total = 0;
    while (inputFd_ >= 0) {
        const int32_t rest = input_.GetLength() - offset - total;
        if (rest <= 0) {
            CloseFd(inputFd_);
            break;
        }
        const ssize_t n = write(inputFd_, input_.GetData() + offset + total, std::min(rest, kPipeChunk));
        if (n > 0) {
            total += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n < 0 && errno == EPIPE) {
            // The child stopped reading (or ended): the rest of the input is not wanted.
            DiscardSigPipe();
            CloseFd(inputFd_);
            break;
        }
        throw CSubProcessException{"プロセス間通信に失敗しました"};
    }
    return total;
}

void CSubProcess::DrainPipe(int& fd, COutputSpool& into)
{
    while (fd >= 0) {
        const ssize_t n = read(fd, scratch_.GetData(), kPipeChunk);
        if (n > 0) {
            const int64_t room = std::max<int64_t>(maxOutput_ - into.GetLength(), 0);
            if (!into.Append(scratch_.GetData(), std::min<int64_t>(n, room))) {
                const int err = errno;
                Terminate();
                throw CSubProcessException{"プロセスの出力を一時ファイルに保存できませんでした : " +
                                           std::string(std::strerror(err))};
            }
            if (n > room) {
                Terminate();
                throw CSubProcessException{"プロセスの出力が上限を超えました"};
            }
        } else if (n == 0) {
            CloseFd(fd);
        } else if (errno == EAGAIN) {
            return;
        } else if (errno != EINTR) {
            throw CSubProcessException{"プロセス間通信に失敗しました"};
        }
    }
}

void CSubProcess::DrainOutputs()
{
    DrainPipe(outputFd_, output_);
    DrainPipe(errorsFd_, errors_);
}

void CSubProcess::PollPipes(int ms)
{
    pollfd fds[4];
    nfds_t count = 0;
    for (int fd : {outputFd_, errorsFd_, pidFd_})
        if (fd >= 0)
            fds[count++] = pollfd{fd, POLLIN, 0};
    if (inputFd_ >= 0)
        fds[count++] = pollfd{inputFd_, POLLOUT, 0};
    poll(fds, count, ms);
}

void CSubProcess::CheckStop()
{
    if (IsTimedOut())
        throw CSubProcessException{"プロセス実行中にタイムアウトしました"};
    if (connection_.GetSocketStateText())
        throw CSubProcessException{"プロセス実行中に" + connection_.GetText()};
}

int CSubProcess::IsRunning()
{
    std::lock_guard<std::mutex> hold(processLock_);
    return RunningLocked() ? 1 : 0;
}

bool CSubProcess::RunningLocked()
{
    if (started_.Get() != 1 || pid_ <= 0 || exited_)
        return false;
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
        if (info.si_pid == pid_)
            exited_ = true;
    } else if (errno == ECHILD) {
        // Collected elsewhere (SIGCHLD ignored): its pid is no longer ours to signal.
        exited_ = true;
    }
    return !exited_;
}

void CSubProcess::Terminate()
{
    std::lock_guard<std::mutex> hold(processLock_);
    if (RunningLocked())
        kill(-pid_, SIGKILL);
    started_.Set(0);
}

void CSubProcess::OnTimeout() { Terminate(); }

void CSubProcess::CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void CSubProcess::ClosePipes()
{
    CloseFd(inputFd_);
    CloseFd(outputFd_);
    CloseFd(errorsFd_);
    CloseFd(pidFd_);
}
