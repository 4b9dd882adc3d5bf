#include "core/ServerControlClient.h"

#include "ControlClient.h"
#include "FileIo.h"
#include "ModulePath.h"
#include "Process.h"
#include "TextCodec.h"

#include <cstring>

#include <string>

const char* const CServerControlClient::kNotConnectedText =
    "サーバーとの通信に失敗しました、アプリケーションを再起動してください。";

namespace {

// A server started for the controller serves within a second; ten mean it will not.
constexpr uint64_t kActivationTimeoutMs = 10000;
// Registering the program writes a few keys; an installer silent this long is hung.
constexpr uint64_t kInstallTimeoutMs = 10000;

std::string DescribeRun(const platform::RunResult& result)
{
    if (result.spawnError != 0)
        return std::string("cannot start: ") + std::strerror(result.spawnError);
    if (result.timedOut)
        return "no end after " + std::to_string(kInstallTimeoutMs / 1000) + " s";
    const platform::ProcessEnd end = platform::ReadWaitStatus(result.status);
    return (end.exited ? "exit code " : "signal ") + std::to_string(end.code);
}

}  // namespace

CServerControlClient::CServerControlClient(std::string serverProgram, uint64_t callTimeoutMs)
    : serverProgram_(std::move(serverProgram)), callTimeoutMs_(callTimeoutMs)
{
}

CServerControlClient::~CServerControlClient() = default;

std::string CServerControlClient::DefaultServerProgram()
{
    // Beside the program itself, not in the server root that TARNWICK_ROOT may move.
    const std::string program = platform::GetModulePath(0);
    return program.substr(0, program.rfind('/') + 1) + "Tarnwick";
}

bool CServerControlClient::Bind(std::unique_ptr<IServerControl>* bound)
{
    std::string reason;
    const long rc = platform::CreateServerControl(bound, &reason, kActivationTimeoutMs, callTimeoutMs_);
    if (rc == platform::kOk && *bound)
        return true;
    bound->reset();
    if (!connectError_.empty())
        connectError_ += "\r\n";
    connectError_ += platform::Utf8ToCp932(reason);
    return false;
}

int CServerControlClient::Connect()
{
    connectError_.clear();
    installError_.clear();
    std::unique_ptr<IServerControl> bound;
    if (!Bind(&bound)) {
        InstallServer();
        if (!installError_.empty())
            connectError_ += "\r\n" + installError_;
        if (!Bind(&bound))
            return -1;
    }
    interface_ = std::move(bound);
    connected_ = 1;
    connectError_.clear();
    return 0;
}

void CServerControlClient::InstallServer()
{
    // An argument vector, so a program path with blanks stays one argument.
    const platform::RunResult result =
        platform::RunProcess({platform::NativePath(serverProgram_), "/InstallApp"}, kInstallTimeoutMs);
    installError_.clear();
    if (platform::RunSucceeded(result))
        return;
    std::string output = platform::Utf8ToCp932(result.errorOutput);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    installError_ = serverProgram_ + " /InstallApp: " + platform::Utf8ToCp932(DescribeRun(result));
    if (!output.empty())
        installError_ += ": " + output;
}

void CServerControlClient::Release()
{
    interface_.reset();
    connected_ = 0;
}

bool CServerControlClient::NoteResult(long rc)
{
    lastCallFailed_ = rc != platform::kOk;
    lastCallTimedOut_ = rc == platform::kCallTimedOut;
    return lastCallFailed_;
}

int CServerControlClient::CallShort(long (IServerControl::*method)(short*), int neutral)
{
    short value = 0;
    const long rc = connected_ && interface_ ? ((*interface_).*method)(&value) : platform::kCallFailed;
    return NoteResult(rc) ? neutral : value;
}

std::string CServerControlClient::CallText(long (IServerControl::*method)(std::u16string*), const std::string& neutral)
{
    std::u16string value;
    const long rc = connected_ && interface_ ? ((*interface_).*method)(&value) : platform::kCallFailed;
    return NoteResult(rc) ? neutral : platform::Utf16ToCp932(value);
}

int CServerControlClient::StartServer() { return CallShort(&IServerControl::StartServer, -1); }

void CServerControlClient::StopServer()
{
    NoteResult(connected_ && interface_ ? interface_->StopServer() : platform::kCallFailed);
}

int CServerControlClient::IsRunning() { return CallShort(&IServerControl::IsRunning, 0); }
int CServerControlClient::IsService() { return CallShort(&IServerControl::IsService, 0); }
int CServerControlClient::IsActive() { return CallShort(&IServerControl::IsActive, 0); }

std::string CServerControlClient::GetServerErrorString()
{
    return CallText(&IServerControl::GetServerErrorString, kNotConnectedText);
}

std::string CServerControlClient::GetServerInfo() { return CallText(&IServerControl::GetServerInfo, ""); }
std::string CServerControlClient::GetServerContext() { return CallText(&IServerControl::GetServerContext, ""); }
std::string CServerControlClient::GetServerRoot() { return CallText(&IServerControl::GetServerRoot, ""); }
