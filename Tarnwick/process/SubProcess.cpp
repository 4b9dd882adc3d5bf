#include "process/SubProcess.h"

#include "FileIo.h"
#include "FilePath.h"
#include "Process.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Read and written per call: the size of a pipe's buffer.
constexpr int32_t kPipeChunk = 65536;
// How long one round of the loop waits for a pipe before it looks at the child, the
// watchdog and the connection again.
constexpr int kPollMs = 10;

}  // namespace

CSubProcess::CSubProcess(CStopCheck& stop, int32_t maxOutput)
    : stop_(stop), maxOutput_(maxOutput), scratch_(kPipeChunk)
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

void CSubProcess::SetEnvironmentBlock(const std::string& block)
{
    environment_.SetLength(0);
    environment_.Append(block.data(), static_cast<int32_t>(block.size()));
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
    if (stop_.GetSocketStateText())
        throw CSubProcessException{"プロセス実行中に" + stop_.GetText()};
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
