#pragma once
// The running HTTP server. It owns the three trees: the settings loaded from Tarnwick.xml
// (with the CServerVariables filter on every read), the context tree of live and finished
// requests ("Threads", "ThreadLogs"), and the information tree ("ServerInfo").

#include "ConfigAccessor.h"
#include "MimeMaps.h"

#include "CriticalSection.h"

#include <string>

// The server cannot start; the message becomes the application's status text.
struct CServerException {
    std::string message;
    int code = 0;
};

class CServerCore {
public:
    static constexpr const char* kServerName = "Tarnwick";
    static constexpr const char* kServerVersion = "1.42";
    static constexpr const char* kServerSignature = "Tarnwick/1.42";

    // Loads the settings from the server root's "Tarnwick.xml" (a missing or unreadable
    // file leaves every setting at its default), publishes the server's identity, installs
    // the value filter, sets the watchdog's default time-out and loads the MIME maps.
    // Throws CServerException.
    CServerCore();
    virtual ~CServerCore();
    CServerCore(const CServerCore&) = delete;
    CServerCore& operator=(const CServerCore&) = delete;

    // Views on the trees; they stay valid for the core's life.
    CConfigAccessor GetSettingAccessor() const { return settings_; }
    CConfigAccessor GetThreadsAccessor() const { return threads_; }
    CConfigAccessor GetThreadLogsAccessor() const { return threadLogs_; }
    CConfigAccessor GetInfoAccessor() const { return serverInfo_; }
    CConfigClass& GetSettingTree() { return settingTree_; }
    CConfigClass& GetContextTree() { return contextTree_; }
    CConfigClass& GetInfoTree() { return infoTree_; }

    // A private copy of the MIME and icon maps, taken under the core's lock.
    CMimeMaps GetMimeMaps() const;
    // Request numbers 0, 1, 2 ... from each start; thread-safe.
    int NextRequestNumber();
    int GetCurrentConnection();
    int GetMaxConnections() const { return maxConnections_; }

private:
    mutable platform::CCriticalSection lock_;  // the MIME maps and the request counter
    int maxConnections_ = 0;
    int requestCounter_ = 0;
    CMimeMaps mimeMaps_;
    CConfigClass contextTree_;
    CConfigClass settingTree_;
    CConfigClass infoTree_;
    CConfigAccessor settings_;
    CConfigAccessor threads_;
    CConfigAccessor threadLogs_;
    CConfigAccessor serverInfo_;
};
