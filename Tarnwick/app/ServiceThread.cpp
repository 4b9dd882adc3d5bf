#include "app/ServiceThread.h"

#include "ControlWire.h"
#include "EventLog.h"
#include "ModulePath.h"
#include "RegistryTw.h"
#include "TextCodec.h"
#include "app/ServerApp.h"
#include "core/ServerStatus.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

namespace {

// The service thread reads its stop flag, and the main thread its loop condition, this
// often.
constexpr int kStopPollMs = 50;

const char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Tarnwick\\";
// Error, warning and information events (1 | 2 | 4).
constexpr uint32_t kTypesSupported = 5;

const char kStartedText[] = "サーバの動作を開始しました。";
const char kStoppedText[] = "サーバの動作を停止しました。";
const char kStartErrorText[] = "サーバ起動エラー : %1";

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The system log alone is not seen by someone who started the service in a terminal, and a
// service manager keeps standard error in its journal: both get every event, in UTF-8.
int WriteEvent(const std::string& source, uint32_t id, bool isError, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", platform::Cp932ToUtf8(source).c_str(), platform::Cp932ToUtf8(text).c_str());
    std::fflush(stderr);
    return platform::ReportEvent(source, id, isError, text);
}

// The person who ran "sudo Tarnwick /InstallService": the service runs as them, so that
// the controller they run may reach it. "" without sudo, or when it was root.
std::string InstallingUser()
{
    const char* user = std::getenv("SUDO_USER");
    return user && *user && std::string(user) != "root" ? std::string(user) : std::string();
}

// The server root given at install time, absolute: the service starts in '/'. "" for none.
std::string GivenServerRoot()
{
    const char* root = std::getenv("TARNWICK_ROOT");
    if (!root || !*root)
        return "";
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(root, failed);
    return platform::Utf8ToCp932(failed ? std::string(root) : absolute.string());
}

}  // namespace

CServiceThread::CServiceThread(CServerApp& app) : app_(app), eventWriter_(WriteEvent) {}

CServiceThread::~CServiceThread()
{
    // The dispatcher returns only after the service main saw a stop request; without this
    // a service that no one stopped would hold the destruction up forever.
    serviceStop_.Set(1);
    StopAndWait();
}

int CServiceThread::InstallService()
{
    platform::ServiceDefinition definition;
    definition.name = kServiceName;
    definition.displayName = kDisplayName;
    definition.programPath = platform::GetModulePath(0);
    definition.argument = kServiceSwitch;
    definition.user = InstallingUser();
    // The control socket goes where clients look for the service, in a folder open to the
    // service's user and root only.
    definition.runtimeDirectory = platform::kServiceRuntimeDirectoryName;
    definition.environment.push_back({"TARNWICK_RUNTIME_DIR", platform::kServiceRuntimeFolder});
    const std::string root = GivenServerRoot();
    if (!root.empty())
        definition.environment.push_back({"TARNWICK_ROOT", root});
    // A unit that is there already counts as installed; any other failure is reported.
    return platform::InstallService(definition) == platform::ServiceInstallResult::Failed ? -1 : 0;
}

int CServiceThread::RemoveService() { return platform::RemoveService(kServiceName); }

int CServiceThread::RunService(const ControlPump& pump)
{
    if (Start() != 0)
        return -1;
    while (!serviceStop_.Get() && IsRunning()) {
        if (pump)
            pump(kStopPollMs);
        else
            Pause(kStopPollMs);
    }
    return serviceStop_.Get() ? 0 : -1;
}

void CServiceThread::Run()
{
    // A dispatcher that cannot start ends this thread without a stop request, which
    // RunService notices and reports.
    dispatcher_.Run([this] { ServiceMain(); });
}

void CServiceThread::ServiceMain()
{
    dispatcher_.RegisterControlHandler([this](uint32_t control) { return HandleControl(control); });
    if (app_.StartServer() != 0)
        ReportServerEvent(kEventStartError, app_.GetStatusText(), 1);
    else
        ReportServerEvent(kEventServerStarted, "", 0);
    // Running also after a failed start: a client may start the server later. The manager's
    // status line says why it does not serve, and follows every start and stop a client
    // makes while the service runs.
    std::string shownLine = ServerStatusLine();
    ReportRunningUnlessStopping(shownLine);
    while (!serviceStop_.Get()) {
        Pause(kStopPollMs);
        const std::string line = ServerStatusLine();
        if (line != shownLine && ReportRunningUnlessStopping(line))
            shownLine = line;
    }
    app_.StopServer();
    ReportStatus(platform::ServiceState::Stopped, 0);
    ReportServerEvent(kEventServerStopped, "", 0);
}

std::string CServiceThread::ServerStatusLine() const
{
    std::string statusText;
    if (app_.GetServerState(&statusText))
        return "";
    return statusText == CServerStatus::kStopped ? statusText : EventText(kEventStartError, statusText);
}

bool CServiceThread::ReportRunningUnlessStopping(const std::string& text)
{
    std::lock_guard<std::mutex> guard(reportLock_);
    if (serviceStop_.Get())
        return false;
    dispatcher_.ReportStatus(platform::ServiceState::Running, 0, text);
    return true;
}

uint32_t CServiceThread::HandleControl(uint32_t control)
{
    if (control != platform::kServiceControlStop && control != platform::kServiceControlShutdown)
        return platform::kErrorCallNotImplemented;
    std::lock_guard<std::mutex> guard(reportLock_);
    serviceStop_.Set(1);
    dispatcher_.ReportStatus(platform::ServiceState::StopPending, 0);
    return platform::kNoError;
}

void CServiceThread::ReportStatus(platform::ServiceState state, uint32_t exitCode, const std::string& text)
{
    dispatcher_.ReportStatus(state, exitCode, text);
}

void CServiceThread::ReportServerEvent(uint32_t id, const std::string& text, int isError)
{
    // The event still goes out when the source cannot be recorded.
    CRegistryTw source;
    if (source.Open(HKEY_LOCAL_MACHINE, kEventSourceKey, "a") == 0) {
        source.SetString("EventMessageFile", platform::GetModulePath(0));
        source.SetDWord("TypesSupported", kTypesSupported);
    }
    if (eventWriter_)
        eventWriter_(kServiceName, id, isError != 0, EventText(id, text));
}

std::string CServiceThread::EventText(uint32_t id, const std::string& text)
{
    switch (id) {
    case kEventServerStarted:
        return kStartedText;
    case kEventServerStopped:
        return kStoppedText;
    case kEventStartError: {
        std::string message = kStartErrorText;
        const std::string::size_type insert = message.find("%1");
        return message.replace(insert, 2, text);
    }
    default:
        return text;
    }
}
