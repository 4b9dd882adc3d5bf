#pragma once
// The server program's application object: it decides at start-up what the process is
// (a one-shot installer, a control server started by a client or a user, a service), owns
// the server core between StartServer and StopServer, and serialises every start, stop
// and status query under one lock. The control object, the service and the debug run
// drive the server only through the operations here.
//
// A process started for a client (or by hand) lives while a client holds a control
// object. When the last one is released it ends; when the last one went with a broken
// channel instead (the client gave up on a call while we were stopped, say), it stays for
// as long as that client's process runs, since a client that runs binds again on its next
// poll (ControlHost.h tells the two apart).

#include "IPv4Address.h"
#include "core/ServerStatus.h"

#include <memory>
#include <mutex>
#include <string>

class CServerCore;
class CServiceThread;

class CServerApp {
public:
    // Every server this object starts listens at `listenAddress`; 0.0.0.0, the default,
    // is every interface.
    explicit CServerApp(const CIPv4Address& listenAddress = CIPv4Address());
    virtual ~CServerApp();
    CServerApp(const CServerApp&) = delete;
    CServerApp& operator=(const CServerApp&) = delete;

    // Runs the program for its command line (the arguments after the program name, joined
    // with blanks) and returns the process exit code: 0 after a normal end, also when a
    // second instance was refused; nonzero when a switch failed or a serving mode could not
    // serve (the root cannot hold the instance lock, the control socket is refused). For
    // "/IsRunning": 1 when another instance holds the root, 0 when none does, 2 when the
    // root cannot be used. Every failure is shown with its reason.
    int Main(const std::string& commandLine);

    // Server control; each under the application lock.
    // Stops a running server first; 0, or -1 with the reason in the status text.
    int StartServer();
    int StopServer();
    std::string GetStatusText() const;
    void SetStatusText(const std::string& text);
    int IsServerRunning() const;
    // IsServerRunning with the status text that goes with it, both read under the lock, so
    // that no start or stop falls between them (a start passes through the stopped text).
    int GetServerState(std::string* statusText) const;
    int GetActiveConnections() const;
    int IsServiceMode() const { return serviceMode_; }
    // Marker texts of the core's trees; "" without a core.
    std::string GetServerInfoText() const;
    std::string GetServerSettingText() const;
    std::string GetServerContextText() const;

    // The install switches' halves: 0, or -1 when the registration or the service
    // installation failed; a failure is shown (standard error and the system log) with
    // its reason and makes the process's exit code nonzero.
    int RegisterApp(int flag);
    int RegisterService(int flag);
    // What the last RegisterApp or RegisterService showed, one message a line; "" after a
    // success.
    const std::string& GetSetupFailureText() const { return setupFailureText_; }

private:
    class InstanceLock;
    // A Registrar.h AppID script: ApplyDesktopAppIdScript or ApplyServiceAppIdScript.
    using AppIdScript = int (*)(int flag, std::string* error);
    // Applies the AppID script and then the class registration, the second even when the
    // first fails, and reports the first failure as RegisterApp does.
    int ApplyRegistration(AppIdScript appIdScript, int flag);
    // Performs a one-shot switch; false when the command line is none.
    bool RunSwitch(const std::string& commandLine, InstanceLock& instance);
    // Shows a failed install step's message and keeps it for GetSetupFailureText.
    void ReportSetupFailure(const std::string& text);

    const CIPv4Address listenAddress_;
    mutable std::recursive_mutex lock_;
    CServerStatus status_;
    std::unique_ptr<CServerCore> core_;
    std::unique_ptr<CServiceThread> serviceThread_;
    int serviceMode_ = 0;
    int exitCode_ = 0;
    std::string setupFailureText_;
};
