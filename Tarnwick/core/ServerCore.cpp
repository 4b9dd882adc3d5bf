#include "ServerCore.h"

#include "ServerVariables.h"
#include "TimeoutWatcher.h"

#include "ModulePath.h"

#include <memory>
#include <mutex>

namespace {

// Basic::TimeOut outside this range (seconds) reads as the default: beyond it the
// watchdog's milliseconds would overflow an int.
constexpr int kMaxTimeoutSeconds = 2147483;
constexpr int kDefaultTimeoutSeconds = 300;

}  // namespace

CServerCore::CServerCore()
{
    if (settingTree_.LoadXml(platform::GetModulePath(1) + "Tarnwick.xml") != 0)
        throw CServerException{"Tarnwick.xmlのロードに失敗しました", 0};

    settings_ = settingTree_.GetAccessor("Setting");
    threads_ = contextTree_.GetAccessor("Threads");
    threadLogs_ = contextTree_.GetAccessor("ThreadLogs");
    serverInfo_ = infoTree_.GetAccessor("ServerInfo");

    serverInfo_.SetString("ServerName", kServerName);
    serverInfo_.SetString("ServerVersion", kServerVersion);
    serverInfo_.SetString("ServerSignature", kServerSignature);
    serverInfo_.SetString("ServerRoot", platform::GetModulePath(1));
    settingTree_.SetValueFilter(std::make_unique<CServerVariables>(serverInfo_));

    int timeout = settings_.GetInt("Basic::TimeOut", kDefaultTimeoutSeconds);
    if (timeout < 1 || timeout > kMaxTimeoutSeconds)
        timeout = kDefaultTimeoutSeconds;
    CTimeoutWatcher::Instance().SetDefaultTimeout(timeout * 1000);
    maxConnections_ = settings_.GetInt("Basic::MaxConnect", 50);
    if (maxConnections_ < 0)
        maxConnections_ = 0;

    mimeMaps_.Load(settings_);
}

CServerCore::~CServerCore() = default;

CMimeMaps CServerCore::GetMimeMaps() const
{
    std::lock_guard<platform::CCriticalSection> lock(lock_);
    return mimeMaps_;
}

int CServerCore::NextRequestNumber()
{
    std::lock_guard<platform::CCriticalSection> lock(lock_);
    return requestCounter_++;
}

int CServerCore::GetCurrentConnection() { return serverInfo_.GetInt("CurrentConnection", 0); }
