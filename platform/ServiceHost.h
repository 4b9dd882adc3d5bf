#pragma once
// The service manager's side of a long-running service, on systemd: installing and removing
// the unit, a dispatcher that runs the service and hands it its stop request, and status
// reports to the manager through the notification socket (sd_notify, written here, so no
// library is needed).
//
// Start-up contract for a program that runs the dispatcher: SIGTERM (systemd's stop and
// shutdown) and SIGINT (Ctrl-C in a terminal) must be blocked in every thread of the
// process, or the kernel may hand them to a thread that does not block them, whose default
// action ends the process without a stop. Call BlockServiceSignals() on the main thread
// before any thread is started (threads inherit the mask); the dispatcher blocks them
// itself in the threads it runs. Child processes inherit the mask too: a spawner must give
// its children an empty mask (posix_spawnattr_setsigmask).
//
// Paths are CP932 texts, as everywhere in the program; they are converted to UTF-8 here.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Control codes a service receives.
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kServiceControlPause = 2;
constexpr uint32_t kServiceControlContinue = 3;
constexpr uint32_t kServiceControlInterrogate = 4;
constexpr uint32_t kServiceControlShutdown = 5;

// Bits of ServiceStatus::controlsAccepted.
constexpr uint32_t kServiceAcceptStop = 0x1;
constexpr uint32_t kServiceAcceptShutdown = 0x4;

// Answers of a control handler and codes of a status.
constexpr uint32_t kNoError = 0;
constexpr uint32_t kErrorCallNotImplemented = 120;
constexpr uint32_t kErrorServiceNotActive = 1062;
constexpr uint32_t kErrorServiceSpecificError = 1066;

enum class ServiceState { Running, StopPending, Stopped };

struct ServiceStatus {
    ServiceState state = ServiceState::Stopped;
    uint32_t controlsAccepted = 0;
    uint32_t exitCode = kNoError;           // kErrorServiceSpecificError when the next is set
    uint32_t serviceSpecificExitCode = 0;
    // CP932; when not empty, the status line the manager shows (systemctl status) in
    // place of the state's name: why a service that runs does not serve, for instance.
    std::string text;
};

// The status a service reports for `state`: it accepts STOP and SHUTDOWN; a nonzero
// `exitCode` becomes kErrorServiceSpecificError with the code as the service-specific one.
ServiceStatus MakeServiceStatus(ServiceState state, uint32_t exitCode);

// The sd_notify datagram for a status: READY=1 for Running, STOPPING=1 for StopPending,
// and a STATUS= line for every state (with EXIT_STATUS= for a stop with a code). The
// STATUS= line is the status's text in UTF-8 when it has one, control bytes as blanks.
std::string ServiceNotifyMessage(const ServiceStatus& status);

// Sends `message` as one datagram to the notification socket `address` (NOTIFY_SOCKET's
// form: an absolute path, or '@' and an abstract name). An empty address sends nothing
// and succeeds: the program does not run under systemd. 0, or -1 when the address is of
// another kind or too long, or the datagram cannot be sent.
int NotifyServiceManager(const std::string& address, const std::string& message);

// One variable of the service's environment.
struct ServiceEnvironmentVariable {
    std::string name;   // letters, digits and '_', not starting with a digit
    std::string value;  // CP932, without control characters
};

// What a unit is made of.
struct ServiceDefinition {
    std::string name;              // the unit is name + ".service"
    std::string displayName;       // its Description
    std::string programPath;       // absolute, CP932
    std::string argument;          // one word after the program, "" for none
    std::string user;              // the account the service runs as; "" for root
    std::string runtimeDirectory;  // a folder systemd makes under /run for the service; "" for none
    std::vector<ServiceEnvironmentVariable> environment;
};

// The folder of unit files: TARNWICK_UNIT_DIR when set and not empty (tests), else
// /etc/systemd/system. CP932, without a trailing '/'.
std::string ServiceUnitDirectory();

// Whether systemd is the init system (sd_booted(3): its runtime folder exists).
bool SystemdRuns();

// The unit file's bytes (UTF-8): a Type=notify service whose ExecStart= is the program path
// quoted so that systemd reads it back whole (blanks and '%' included), then the argument
// (quoted and escaped when it is not one plain word); installed for multi-user.target.
// With a user, User= names it and AmbientCapabilities= keeps the one privilege of root
// that a server needs, binding ports below 1024. With a runtime directory,
// RuntimeDirectory= names it with RuntimeDirectoryMode=0700: systemd makes it owned by the
// service's user and removes it when the service stops. Each variable becomes one
// Environment= line, quoted and escaped when its value is not one plain word.
// "" when systemd cannot run the program from that path (it is not absolute, or it holds
// a quote, an apostrophe, a backslash or a control byte, which systemd refuses in a
// program's name however they are escaped), and when the user, the runtime directory or
// a variable cannot be named in a unit: a user or directory that is not one plain name
// (letters, digits, '_', '.', '-', not starting with '.' or '-'), a variable name of other
// characters, a value with a control byte.
std::string ServiceUnitText(const ServiceDefinition& definition);

enum class ServiceInstallResult { Created, AlreadyExists, Failed };

// Writes the unit into ServiceUnitDirectory(), atomically. A unit that is already there is
// left as it is (AlreadyExists). When the folder is the system's and systemd runs, the
// manager reloads its units and enables this one for automatic start; when that fails the
// new file is removed again and the result is Failed, so an install either happens whole or
// not at all. Failed also when the file cannot be written or the definition cannot be
// named in a unit (ServiceUnitText gives "").
ServiceInstallResult InstallService(const ServiceDefinition& definition);

// Removes the unit `name` from ServiceUnitDirectory() (disabling it first and reloading
// afterwards when the folder is the system's and systemd runs). 0 when it is gone, also
// when it was never there; -1 when it is there and cannot be deleted.
int RemoveService(const std::string& name);

// Blocks SIGTERM and SIGINT in the calling thread and in every thread it starts later.
// 0, or -1 when the mask cannot be changed.
int BlockServiceSignals();

// Runs one service: its main function on a thread of its own, while the calling thread
// waits for signals and control requests and hands them to the handler that the main
// function registered. SIGTERM and SIGINT become kServiceControlStop.
class CServiceDispatcher {
public:
    // Answers kNoError, kErrorCallNotImplemented or a code of the handler's choice.
    using ControlHandler = std::function<uint32_t(uint32_t control)>;

    // Takes the notification address from NOTIFY_SOCKET as it is now.
    CServiceDispatcher();
    explicit CServiceDispatcher(std::string notifyAddress);
    CServiceDispatcher(const CServiceDispatcher&) = delete;
    CServiceDispatcher& operator=(const CServiceDispatcher&) = delete;
    // Not while a Run is in progress.
    ~CServiceDispatcher();

    // Blocks SIGTERM and SIGINT in the calling thread (the service's thread inherits the
    // mask), runs `serviceMain` on a new thread and delivers controls on the calling thread
    // until `serviceMain` has returned; then restores the calling thread's mask. A signal
    // that is not blocked in some other thread of the process may miss the dispatcher (see
    // the start-up contract above). Returns 0 after the service main returned, -1 (without
    // running it) when the signals cannot be taken or no thread can be made, or when
    // another Run is in progress. An exception from `serviceMain` is rethrown here after
    // its thread ended.
    int Run(const std::function<void()>& serviceMain);

    // Called by the service main: `handler` receives every later control, on the
    // dispatcher's thread. Replaces an earlier handler.
    void RegisterControlHandler(ControlHandler handler);

    // Reports the service's status (MakeServiceStatus) to the manager. After Stopped the
    // dispatcher delivers no further control. `text` (CP932) becomes the status's text.
    // 0, or -1 when the manager could not be told.
    int ReportStatus(ServiceState state, uint32_t exitCode, const std::string& text = "");

    // The status last reported (state Stopped before the first report).
    ServiceStatus CurrentStatus() const;

    // Delivers `control` to the handler on the dispatcher's thread, as the manager does,
    // and returns the handler's answer; kErrorCallNotImplemented when no handler is
    // registered; kErrorServiceNotActive while no Run is in progress or after Stopped was
    // reported. Waits for the answer; must not be called from the handler itself.
    uint32_t SendControl(uint32_t control);

private:
    // One SendControl waiting for its answer; lives on the sender's stack.
    struct ControlRequest {
        uint32_t control = 0;
        uint32_t answer = kErrorServiceNotActive;
        bool answered = false;
    };

    void Serve(int signalFd);
    void AnswerQueued();
    uint32_t Deliver(uint32_t control);
    void Wake();

    const std::string notifyAddress_;
    mutable std::mutex lock_;  // guards everything below
    std::condition_variable answered_;
    ControlHandler handler_;
    ServiceStatus status_;
    bool running_ = false;
    bool stopped_ = false;
    bool mainDone_ = false;
    int wakeFd_ = -1;  // eventfd that rouses the dispatcher's wait
    std::deque<ControlRequest*> queue_;
};

}  // namespace platform
