#include "app/ServerApp.h"

#include "ControlHost.h"
#include "ServiceHost.h"
#include "app/DebugLog.h"
#include "app/DebugModule.h"
#include "app/Registrar.h"
#include "app/ServerControl.h"
#include "app/ServiceThread.h"
#include "connection/ConnectionThread.h"
#include "core/ServerCore.h"

#include "Clock.h"
#include "CRuntime.h"
#include "EventLog.h"
#include "FileIo.h"
#include "FileSystem.h"
#include "LockFile.h"
#include "ModulePath.h"
#include "Process.h"
#include "TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// One step of the main thread's loop: long enough to cost nothing, short enough that an
// ending loop is noticed at once.
constexpr int kServeSliceMs = 50;
// A process started for a client that never connects ends instead of lingering.
constexpr uint64_t kActivationIdleMs = 60000;
// A one-shot switch whose registration or service step failed ends with this code (main
// turns it into 1, since a status keeps only 8 bits).
constexpr int kSetupFailedExitCode = 256;
// A serving mode that cannot serve (its root or its control socket refused) ends with this.
constexpr int kServeFailedExitCode = 1;
// "/IsRunning" when it cannot tell, since no lock can be had on the root: neither 0 (none
// runs) nor 1 (one runs).
constexpr int kUnknownRunningExitCode = 2;

const char kRegisterFailedText[] = "登録に失敗しました : ";
const char kUnregisterFailedText[] = "登録の解除に失敗しました : ";
const char kRootUnusableText[] = "サーバルートのフォルダを使用できません";
const char kSecondInstanceText[] = "サーバはすでに起動中です、多重起動できません。";

// The server has no windows: its messages go to standard error and to the system log.
void ShowMessage(const std::string& text)
{
    const std::string utf8 = platform::Cp932ToUtf8(text);
    std::fprintf(stderr, "Tarnwick: %s\n", utf8.c_str());
    platform::ReportProgramMessage("Tarnwick", text);
}

// Starts the controller beside the program, detached; whether it starts is not checked.
void StartController()
{
    // Beside the program, not in the server root, which TARNWICK_ROOT may move elsewhere.
    const std::string program = platform::GetModulePath(0);
    const std::string::size_type slash = program.rfind('/');
    if (slash == std::string::npos)
        return;
    platform::SpawnOptions options;
    options.args = {platform::NativePath(program.substr(0, slash + 1) + "Vollmark")};
    // Its messages go where ours do.
    options.stdinFd = options.stdoutFd = options.stderrFd = platform::kInheritStream;
    options.newSession = true;
    platform::ProcessId pid;
    platform::SpawnProcess(options, &pid);
}

// "-Embedding" or "/Automation": the process was started for a client.
bool IsActivation(const std::string& commandLine)
{
    const std::string lower = platform::_mbslwr(commandLine);
    for (const char* word : {"embedding", "automation"}) {
        const std::string::size_type at = lower.find(word);
        if (at != std::string::npos && at > 0 && (lower[at - 1] == '-' || lower[at - 1] == '/'))
            return true;
    }
    return false;
}

}  // namespace

// One server per server root: an exclusive lock on a file in it, held while the process
// lives.
class CServerApp::InstanceLock {
public:
    enum class Outcome {
        Held,           // this process now holds the lock
        HeldElsewhere,  // another instance serves the root
        Unusable,       // no lock can be had there: the root is missing or cannot be written
    };

    Outcome Acquire()
    {
        const std::string root = platform::GetModulePath(1);
        const std::string lockPath = root + "Tarnwick.lock";
        int error = 0;
        switch (file_.TryLock(platform::NativePath(lockPath), &error)) {
        case platform::LockFile::Result::Locked:
            return Outcome::Held;
        case platform::LockFile::Result::HeldElsewhere:
            return Outcome::HeldElsewhere;
        case platform::LockFile::Result::Failed:
            break;
        }
        // The root itself when it is what is wrong (missing, a file, out of reach), else
        // the lock file in it.
        std::string culprit = lockPath;
        platform::FileStatus status;
        if (!platform::GetFileStatus(root, status)) {
            error = errno;
            culprit = root;
        }
        failureText_ = std::string(kRootUnusableText) + " : " + culprit + " : " + std::strerror(error);
        return Outcome::Unusable;
    }

    // Why Acquire gave Unusable: the text, the path and the system's reason (CP932).
    const std::string& GetFailureText() const { return failureText_; }

private:
    platform::LockFile file_;
    std::string failureText_;
};

CServerApp::CServerApp(const CIPv4Address& listenAddress) : listenAddress_(listenAddress)
{
    ReportThreadFailuresToDebugLog();
}

CServerApp::~CServerApp()
{
    StopServer();
    serviceThread_.reset();
}

int CServerApp::StartServer()
{
    Lock lock(lock_);
    StopServer();
    try {
        core_ = std::make_unique<CServerCore>(StartConnectionThread, &status_, listenAddress_, RequestArrival);
        status_.Set(CServerStatus::kRunning);
        return 0;
    } catch (const CServerException& e) {
        StopServer();
        status_.Set(e.message);
    } catch (const std::bad_alloc&) {
        StopServer();
        status_.Set("メモリ不足のため、サーバを起動できませんでした");
    } catch (...) {
        StopServer();
        status_.Set("サーバ内部の未処理例外により、サーバを起動できませんでした");
    }
    return -1;
}

int CServerApp::StopServer()
{
    Lock lock(lock_);
    core_.reset();
    status_.Set(CServerStatus::kStopped);
    return 0;
}

std::string CServerApp::GetStatusText() const { return status_.Get(); }

void CServerApp::SetStatusText(const std::string& text) { status_.Set(text); }

int CServerApp::IsServerRunning() const
{
    Lock lock(lock_);
    return core_ ? 1 : 0;
}

int CServerApp::GetServerState(std::string* statusText) const
{
    Lock lock(lock_);
    *statusText = status_.Get();
    return core_ ? 1 : 0;
}

int CServerApp::GetActiveConnections() const
{
    Lock lock(lock_);
    return core_ ? core_->GetCurrentConnection() : 0;
}

namespace {

// A copy taken under the tree's own lock, serialised without holding it.
std::string Serialize(CConfigClass& tree)
{
    CConfigClass copy(tree);
    return copy.SerializeNode("");
}

}  // namespace

std::string CServerApp::GetServerInfoText() const
{
    Lock lock(lock_);
    return core_ ? Serialize(core_->GetInfoTree()) : std::string();
}

std::string CServerApp::GetServerSettingText() const
{
    Lock lock(lock_);
    return core_ ? Serialize(core_->GetSettingTree()) : std::string();
}

std::string CServerApp::GetServerContextText() const
{
    Lock lock(lock_);
    return core_ ? core_->GetContext().Serialize() : std::string();
}

int CServerApp::ApplyRegistration(AppIdScript appIdScript, int flag)
{
    std::string appIdError, serverError;
    const int appId = appIdScript(flag, &appIdError);
    const int server = RegisterServer(flag, &serverError);
    if (appId == 0 && server == 0)
        return 0;
    ReportSetupFailure((flag ? kRegisterFailedText : kUnregisterFailedText) + (appId != 0 ? appIdError : serverError));
    return -1;
}

void CServerApp::ReportSetupFailure(const std::string& text)
{
    ShowMessage(text);
    exitCode_ = kSetupFailedExitCode;
    setupFailureText_ += (setupFailureText_.empty() ? "" : "\r\n") + text;
}

int CServerApp::RegisterApp(int flag)
{
    setupFailureText_.clear();
    return ApplyRegistration(ApplyDesktopAppIdScript, flag);
}

int CServerApp::RegisterService(int flag)
{
    setupFailureText_.clear();
    int result = ApplyRegistration(ApplyServiceAppIdScript, flag);
    if (flag) {
        if (CServiceThread::InstallService() != 0) {
            ReportSetupFailure("サービスの追加に失敗しました。");
            result = -1;
        }
    } else {
        if (CServiceThread::RemoveService() != 0) {
            ReportSetupFailure("サービスの削除に失敗しました。");
            result = -1;
        }
    }
    return result;
}

bool CServerApp::RunSwitch(const std::string& commandLine, InstanceLock& instance)
{
    auto is = [&commandLine](const char* name) { return platform::_mbsicmp(commandLine, name) == 0; };
    if (is("/UnInstall")) {
        RegisterApp(0);
        RegisterService(0);
    } else if (is("/InstallApp")) {
        RegisterApp(1);
    } else if (is("/InstallService")) {
        RegisterService(1);
    } else if (is("/UnInstallApp")) {
        RegisterApp(0);
    } else if (is("/UnInstallService")) {
        RegisterService(0);
    } else if (is("/IsRunning")) {
        switch (instance.Acquire()) {
        case InstanceLock::Outcome::Held:
            exitCode_ = 0;
            break;
        case InstanceLock::Outcome::HeldElsewhere:
            exitCode_ = 1;
            break;
        case InstanceLock::Outcome::Unusable:
            ShowMessage(instance.GetFailureText());
            exitCode_ = kUnknownRunningExitCode;
            break;
        }
    } else {
        return false;
    }
    return true;
}

int CServerApp::Main(const std::string& commandLine)
{
    InstanceLock instance;
    if (!commandLine.empty() && RunSwitch(commandLine, instance))
        return exitCode_;
    if (commandLine.empty()) {
        // Nothing to serve: the controller is started, and it starts this program again
        // for itself when it binds.
        StartController();
        return exitCode_;
    }
    const InstanceLock::Outcome held = instance.Acquire();
    if (held != InstanceLock::Outcome::Held) {
        // A second instance is no failure: the one that runs serves. A root that cannot be
        // used is one, and says what is wrong with it.
        const bool unusable = held == InstanceLock::Outcome::Unusable;
        const std::string refusal = unusable ? instance.GetFailureText() : std::string(kSecondInstanceText);
        ShowMessage(refusal);
        // "/Debug" is run from a desktop, where its window is looked for rather than its
        // output. Where the box cannot be shown the refusal above has been said all the same.
        if (platform::_mbsicmp(commandLine, "/Debug") == 0) {
            std::string error;
            ShowDebugMessage(refusal, &error);
        }
        if (unusable)
            exitCode_ = kServeFailedExitCode;
        return exitCode_;
    }

    platform::ControlHost host;
    auto factory = [this] { return std::make_unique<CServerControl>(this); };
    if (platform::_mbsicmp(commandLine, "/Service") == 0) {
        // Before any thread starts, so that SIGTERM and SIGINT reach only the dispatcher,
        // which turns them into the stop control.
        platform::BlockServiceSignals();
        if (host.RegisterClassObjects(factory) == 0) {
            serviceMode_ = 1;
            serviceThread_ = std::make_unique<CServiceThread>(*this);
            serviceThread_->RunService([&host](int timeoutMs) { host.ServeOnce(timeoutMs); });
        } else {
            // Without its control socket the service cannot be reached: it is not run.
            ShowMessage(host.GetErrorText());
            exitCode_ = kServeFailedExitCode;
        }
    } else if (platform::_mbsicmp(commandLine, "/Debug") == 0) {
        // The dialog still drives the server when the class is served elsewhere.
        if (host.RegisterClassObjects(factory) != 0)
            ShowMessage(std::string("COMの登録に失敗しました、COMオブジェクトがサービス登録のようです。 : ") + host.GetErrorText());
        std::string error;
        if (RunDebugDialog(*this, host, &error) != 0) {
            ShowMessage(error);
            exitCode_ = 1;
        }
    } else if (host.RegisterClassObjects(factory) == 0) {
        // Lives while a client holds an object: a process started for a client ends when
        // the last one leaves, or when none comes. A client whose channel broke rather than
        // released (say, it gave up on a call while we were stopped) still runs and binds
        // again on its next poll: we stay for as long as its process lives, so that the
        // site does not go dark under a controller that is still open.
        const bool activation = IsActivation(commandLine);
        const uint64_t started = platform::GetTickCount64();
        for (;;) {
            host.ServeOnce(kServeSliceMs);
            if (host.GetStrandedClientCount() > 0)
                continue;
            if (host.LastObjectReleased())
                break;
            if (activation && host.GetObjectCount() == 0 && platform::GetTickCount64() - started > kActivationIdleMs)
                break;
        }
    } else {
        ShowMessage(host.GetErrorText());
        exitCode_ = kServeFailedExitCode;
    }
    StopServer();
    host.RevokeClassObjects();
    serviceThread_.reset();
    return exitCode_;
}
