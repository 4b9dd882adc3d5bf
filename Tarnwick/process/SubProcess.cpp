#include "process/SubProcess.h"

#include "CRuntime.h"
#include "FileIo.h"
#include "FilePath.h"
#include "IPv4Address.h"
#include "Process.h"
#include "SettingsSchema.h"
#include "core/ServerCore.h"
#include "http/ConnectionState.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

extern char** environ;

namespace {

// Read and written per call: the size of a pipe's buffer.
constexpr int32_t kPipeChunk = 65536;
// How long one round of the loop waits for a pipe before it looks at the child, the
// watchdog and the connection again.
constexpr int kPollMs = 10;
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
        platform::CollectChild(pid_);
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
        const CConfigAccessor cgi = core->GetSettingAccessor().GetSubAccessor(schema::kCgi.path);
        CConfigReadLock lock(cgi);
        std::vector<std::string> names;
        cgi.GetSections(names);
        for (const std::string& name : names) {
            const CConfigAccessor entry = cgi.GetSubAccessor(name);
            entries.push_back(Entry{schema::kCgiFileExt.Read(entry), schema::kCgiExecuteFile.Read(entry),
                                    schema::kCgiFileHeader.Read(entry), schema::kCgiCommand.Read(entry)});
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
            line = platform::ReadProgramFirstLine(nativePath);
            lineRead = true;
        }
        bool chosen = false;
        if (entry.executeFile == 1)
            chosen = platform::IsRunnableProgram(nativePath, line);
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
                                   const CRequestPath& path, const std::string& serverAddress)
{
    const CConfigAccessor info = core->GetInfoAccessor();
    const std::string signature = info.GetString("ServerSignature", "");
    const std::string host = request.GetHeader("Host");
    const std::string remoteAddress = threadView.GetString("Host", "");
    // Only credentials that the path entry checked name a user.
    const bool authenticated =
        schema::kEnableAuthenticate.ReadIn(path.GetOptions()) != 0 && !request.GetUser().empty();

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
    set("SERVER_ADDR", serverAddress);
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
    if (schema::kEnableGetHostName.Read(core->GetSettingAccessor()) != 0)
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
    BuildEnvironment(env, core, threadView, request, path, connection_.GetLocalAddress().ToString());
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
    if (pid_ > 0 || inputFd_.IsOpen() || outputFd_.IsOpen() || errorsFd_.IsOpen())
        throw kStartFailure;

    // The child's ends of its three streams, ours being the members.
    platform::CDescriptor childInput, childOutput, childErrors;
    if (!platform::CreatePipe(childInput, inputFd_) || !platform::CreatePipe(outputFd_, childOutput) ||
        !platform::CreatePipe(errorsFd_, childErrors))
        throw kPipeFailure;
    // The child's ends stay blocking: it reads and writes as it would on any pipe.
    platform::SetNonBlocking(inputFd_.Get());
    platform::SetNonBlocking(outputFd_.Get());
    platform::SetNonBlocking(errorsFd_.Get());

    platform::SpawnOptions options;
    for (const platform::CommandArgument& arg : platform::SplitCommandLine(commandLine))
        options.args.push_back(options.args.empty() ? platform::NativePath(arg.text) : platform::ProgramArgument(arg.text));
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
    options.stdinFd = childInput.Get();
    options.stdoutFd = childOutput.Get();
    options.stderrFd = childErrors.Get();
    options.searchPath = true;
    options.newProcessGroup = true;

    {
        std::lock_guard<std::mutex> hold(processLock_);
        platform::ProcessId pid = -1;
        if (platform::SpawnProcess(options, &pid) != 0)
            throw kStartFailure;
        pid_ = pid;
        started_.Set(1);
    }
    pidFd_ = platform::OpenProcessHandle(pid_);
    // Our copies of the child's ends would keep its streams open: the input's end of
    // file and the outputs' end of file come only when they are closed here.
    childInput.Reset();
    childOutput.Reset();
    childErrors.Reset();
    if (input_.GetLength() == 0)
        inputFd_.Reset();
    Wait();
    return 0;
}

void CSubProcess::Wait()
{
    Arm(0);
    CTimeoutGuard guard(this);
    int32_t written = 0;
    platform::BrokenPipeSignalHold hold;  // for the whole run: writes to the child's input meet EPIPE instead
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
    if (!inputFd_.IsOpen())
        return 0;
    int32_t total = 0;
    while (inputFd_.IsOpen()) {
        const int32_t rest = input_.GetLength() - offset - total;
        if (rest <= 0) {
            inputFd_.Reset();
            break;
        }
        const long n = platform::WriteDescriptor(inputFd_.Get(), input_.GetData() + offset + total,
                                                 static_cast<size_t>(std::min(rest, kPipeChunk)));
        if (n > 0) {
            total += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EAGAIN)
            break;
        if (n < 0 && errno == EPIPE) {
            // The child stopped reading (or ended): the rest of the input is not wanted.
            platform::DiscardBrokenPipeSignal();
            inputFd_.Reset();
            break;
        }
        throw CSubProcessException{"プロセス間通信に失敗しました"};
    }
    return total;
}

void CSubProcess::DrainPipe(platform::CDescriptor& fd, COutputSpool& into)
{
    while (fd.IsOpen()) {
        const long n = platform::ReadDescriptor(fd.Get(), scratch_.GetData(), kPipeChunk);
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
            fd.Reset();
        } else if (errno == EAGAIN) {
            return;
        } else {
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
    platform::WaitForDescriptors({outputFd_.Get(), errorsFd_.Get(), pidFd_.Get()}, inputFd_.Get(), ms);
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
    exited_ = platform::HasChildEnded(pid_);
    return !exited_;
}

void CSubProcess::Terminate()
{
    std::lock_guard<std::mutex> hold(processLock_);
    if (RunningLocked())
        platform::KillProcessGroup(pid_);
    started_.Set(0);
}

void CSubProcess::OnTimeout() { Terminate(); }

void CSubProcess::ClosePipes()
{
    inputFd_.Reset();
    outputFd_.Reset();
    errorsFd_.Reset();
    pidFd_.Reset();
}
