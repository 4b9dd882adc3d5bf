#pragma once
// The server as the system service "Tarnwick". The main thread serves control-channel calls
// while a dispatcher thread waits for the service manager's stop request and a service
// thread starts and stops the server through the application object. Start, stop and
// start failures are written to the event log and to standard error.
//
// The process must block SIGTERM and SIGINT in every thread before starting any, as
// platform/ServiceHost.h requires: call platform::BlockServiceSignals() first thing in
// main when the program runs as a service.

#include "ServiceHost.h"
#include "thread/LockedValue.h"
#include "thread/WorkerThread.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

class CServerApp;

class CServiceThread : public CWorkerThread {
public:
    // Serves the control-channel calls that arrive within `timeoutMs` (at least waits that
    // long when there are none), on the thread that called RunService.
    using ControlPump = std::function<void(int timeoutMs)>;
    // Where events go: platform::ReportEvent's signature. The default writes each event to
    // the system log and as a UTF-8 line to standard error.
    using EventWriter = std::function<int(const std::string& source, uint32_t id, bool isError,
                                          const std::string& text)>;

    static constexpr const char* kServiceName = "Tarnwick";
    static constexpr const char* kDisplayName = "Tarnwick Service";
    // The program's argument that runs it as the service.
    static constexpr const char* kServiceSwitch = "/Service";

    // Event ids of the message table; fixed, since the system log's readers know the
    // events by them.
    static constexpr uint32_t kEventServerStarted = 1;
    static constexpr uint32_t kEventServerStopped = 2;
    static constexpr uint32_t kEventStartError = 0x100;

    // `app` must outlive this object; the service thread calls only its StartServer,
    // StopServer, GetStatusText and GetServerState. Takes the notification socket
    // (NOTIFY_SOCKET) now.
    explicit CServiceThread(CServerApp& app);
    // Asks a running service to stop and waits until the dispatcher has returned, which it
    // does after the server was stopped and STOPPED reported.
    ~CServiceThread() override;

    // Installs the unit for this program (platform::InstallService): 0 when it was made or
    // already there, -1 when it could not be made. The service runs as SUDO_USER when that
    // is set and not root (else as root), keeps its control socket in
    // platform::kServiceRuntimeFolder, and gets TARNWICK_ROOT as it is set now (made
    // absolute).
    static int InstallService();
    // Removes the unit: 0 when it is gone (also when it never existed), else -1.
    static int RemoveService();

    // On the main thread: starts the service thread, then calls `pump` (or, without one,
    // waits 50 ms at a time) until the service is asked to stop. 0 then; -1 when the
    // service thread could not start or ended without a stop request (the dispatcher
    // failed). Does not wait for the service thread; the destructor does.
    int RunService(const ControlPump& pump);

    // The control handler: STOP and SHUTDOWN set the service-stop flag and report
    // STOP_PENDING (kNoError); anything else is kErrorCallNotImplemented and changes
    // nothing. Runs on the dispatcher's thread.
    uint32_t HandleControl(uint32_t control);

    // Delivers a control through the dispatcher, as the service manager does (signals do
    // the same). See platform::CServiceDispatcher::SendControl.
    uint32_t SendControl(uint32_t control) { return dispatcher_.SendControl(control); }

    int IsServiceStopRequested() const { return serviceStop_.Get(); }

    // The state to the service manager; a nonzero exit code is reported as a
    // service-specific error; a `text` (CP932) is the status line the manager shows.
    void ReportStatus(platform::ServiceState state, uint32_t exitCode, const std::string& text = "");

    // Registers the event source (program path and supported types in the registry store,
    // failures there ignored), then writes the event (CP932 `text` as the insertion string
    // of the message, "" for none).
    void ReportServerEvent(uint32_t id, const std::string& text, int isError);

    // The message of event `id` with `text` inserted, CP932; an unknown id gives `text`.
    static std::string EventText(uint32_t id, const std::string& text);

    // Replaces where events are written. Not while the service runs.
    void SetEventWriter(EventWriter writer) { eventWriter_ = std::move(writer); }

protected:
    // The dispatcher; returns after the service main has ended.
    void Run() override;

private:
    void ServiceMain();
    // What the manager's status line shows for the server now: "" (the state's name) while
    // it runs, else why it does not serve.
    std::string ServerStatusLine() const;
    // Reports RUNNING with `text` unless a stop was requested, whose STOP_PENDING must stay
    // the last word: false then.
    bool ReportRunningUnlessStopping(const std::string& text);

    CServerApp& app_;
    CLockedValue serviceStop_;
    // Held while the stop flag is read or set together with a report, so that RUNNING never
    // follows STOP_PENDING.
    std::mutex reportLock_;
    platform::CServiceDispatcher dispatcher_;  // also the status handle
    EventWriter eventWriter_;
};
