#include "ControlClient.h"

#include "Clock.h"
#include "ControlWire.h"
#include "FileIo.h"
#include "Process.h"
#include "RegistryStore.h"
#include "ServiceHost.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

// Between connection attempts while a started server comes up: short enough that the
// client binds at once, long enough not to spin.
constexpr int kConnectRetryMs = 50;

void SetError(std::string* errorText, const std::string& text)
{
    if (errorText)
        *errorText = text;
}

enum class ConnectOutcome { Connected, NobodyListens, Busy, Untrusted, Failed };

ConnectOutcome TryConnect(const std::string& path, int* fd, std::string* errorText)
{
    sockaddr_un address;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        SetError(errorText, "the socket path " + path + " is too long");
        return ConnectOutcome::Failed;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        SetError(errorText, std::string("cannot create a socket: ") + std::strerror(errno));
        return ConnectOutcome::Failed;
    }
    int rc;
    do
        rc = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int error = errno;
        close(s);
        // A Unix socket refuses at once when its backlog is full instead of queueing.
        if (error == EAGAIN)
            return ConnectOutcome::Busy;
        SetError(errorText, "nothing serves " + path + ": " + std::strerror(error));
        return ConnectOutcome::NobodyListens;
    }
    if (!IsTrustedControlPeer(s)) {
        close(s);
        SetError(errorText, "the process serving " + path + " runs as another user");
        return ConnectOutcome::Untrusted;
    }
    *fd = s;
    return ConnectOutcome::Connected;
}

// Where a server of the class may listen, in the order a client tries them: its own
// runtime folder, then the system service's (once, when the two are the same).
std::vector<std::string> ServingPaths()
{
    std::vector<std::string> paths{GetControlSocketPath(kServerControlClsid)};
    const std::string service = GetControlSocketPath(GetServiceControlRuntimeFolder(), kServerControlClsid);
    if (service != paths.front())
        paths.push_back(service);
    return paths;
}

std::string DescribePaths(const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& path : paths)
        text += (text.empty() ? "" : " or ") + path;
    return text;
}

// Tries the paths in turn. The first that connects decides, and so does one whose server
// must not be passed over for the next (another user's) or that cannot be tried at all;
// otherwise Busy when one was busy, else NobodyListens with the first path's reason.
ConnectOutcome TryConnectAny(const std::vector<std::string>& paths, int* fd, std::string* connected,
                             std::string* errorText)
{
    ConnectOutcome result = ConnectOutcome::NobodyListens;
    std::string firstReason;
    for (size_t i = 0; i < paths.size(); ++i) {
        std::string reason;
        const ConnectOutcome outcome = TryConnect(paths[i], fd, &reason);
        if (outcome == ConnectOutcome::Connected)
            *connected = paths[i];
        if (outcome == ConnectOutcome::Connected || outcome == ConnectOutcome::Untrusted ||
            outcome == ConnectOutcome::Failed) {
            SetError(errorText, reason);
            return outcome;
        }
        if (outcome == ConnectOutcome::Busy)
            result = outcome;
        if (i == 0)
            firstReason = reason;
    }
    SetError(errorText, firstReason);
    return result;
}

// A broken channel is dialled again at most this often, so that the several calls of one
// refresh do not each knock at a server that is not there.
constexpr uint64_t kRedialIntervalMs = 1000;
// The release is a few bytes into an idle socket; only a peer that stopped reading with
// a full buffer holds it up, and a client that is letting go does not wait for that.
constexpr uint64_t kReleaseSendTimeoutMs = 1000;

class ServerControlProxy : public IServerControl {
public:
    ServerControlProxy(int fd, uint64_t callTimeoutMs) : fd_(fd), callTimeoutMs_(callTimeoutMs) {}
    ~ServerControlProxy() override
    {
        if (fd_ < 0)
            return;
        // Said before hanging up, so the server tells a client that is done from a channel
        // that broke under a client that still runs.
        ControlCall release;
        release.method = kControlReleaseMethod;
        WriteControlFrame(fd_, EncodeControlCall(release), GetTickCount64() + kReleaseSendTimeoutMs);
        close(fd_);
    }
    ServerControlProxy(const ServerControlProxy&) = delete;
    ServerControlProxy& operator=(const ServerControlProxy&) = delete;

    long StartServer(short* status) override { return CallShort(kDispStartServer, status); }
    long StopServer() override
    {
        ControlResult result;
        return Call(kDispStopServer, &result);
    }
    long GetServerErrorString(std::u16string* str) override
    {
        return CallText(kDispGetServerErrorString, str);
    }
    long IsRunning(short* retval) override { return CallShort(kDispIsRunning, retval); }
    long IsService(short* ret) override { return CallShort(kDispIsService, ret); }
    long GetServerInfo(std::u16string* ret) override { return CallText(kDispGetServerInfo, ret); }
    long GetServerSetting(std::u16string* ret) override
    {
        return CallText(kDispGetServerSetting, ret);
    }
    long GetServerContext(std::u16string* ret) override
    {
        return CallText(kDispGetServerContext, ret);
    }
    long GetServerRoot(std::u16string* retpath) override
    {
        return CallText(kDispGetServerRoot, retpath);
    }
    long IsActive(short* ret) override { return CallShort(kDispIsActive, ret); }

    // The first call on a connection: asks the host for the object.
    long Create()
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ControlResult result;
        return Exchange(kControlCreateMethod, &result, GetTickCount64() + callTimeoutMs_);
    }

private:
    long CallShort(int32_t method, short* out)
    {
        if (!out)
            return kCallFailed;
        *out = 0;
        ControlResult result;
        long rc = Call(method, &result);
        if (rc == kOk)
            *out = result.shortValue;
        return rc;
    }

    long CallText(int32_t method, std::u16string* out)
    {
        if (!out)
            return kCallFailed;
        out->clear();
        ControlResult result;
        long rc = Call(method, &result);
        if (rc == kOk)
            *out = std::move(result.text);
        return rc;
    }

    long Call(int32_t method, ControlResult* result)
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const uint64_t deadline = GetTickCount64() + callTimeoutMs_;
        if (fd_ < 0 && !Redial())
            return kCallFailed;
        long rc = TakeLateResult(deadline);
        if (rc != kOk)
            return rc;
        // A connection dialled again asks for its object first, within the same bound.
        if (!created_) {
            ControlResult created;
            rc = Exchange(kControlCreateMethod, &created, deadline);
            if (rc != kOk)
                return rc;
        }
        return Exchange(method, result, deadline);
    }

    // Connects again to whichever server serves the class now; never starts one, since a
    // caller that polls must not bring back a server that the user's restart would start.
    bool Redial()
    {
        const uint64_t now = GetTickCount64();
        if (now - lastDialMs_ < kRedialIntervalMs)
            return false;
        lastDialMs_ = now;
        int fd = -1;
        std::string path;
        if (TryConnectAny(ServingPaths(), &fd, &path, nullptr) != ConnectOutcome::Connected)
            return false;
        fd_ = fd;
        return true;
    }

    // A late result is taken off the stream before anything else is asked; until it has
    // come, calls fail at once and the connection stays. kOk when none is due any more.
    long TakeLateResult(uint64_t deadline)
    {
        if (!late_)
            return kOk;
        if (!Readable(0))
            return kCallTimedOut;
        std::string payload;
        ControlResult late;
        if (ReadControlFrame(fd_, &payload, kMaxControlResultBytes, deadline) != FrameStatus::Ok ||
            !DecodeControlResult(payload, &late) || late.method != lateMethod_)
            return Break();
        late_ = false;
        if (lateMethod_ == kControlCreateMethod) {
            if (late.result != kOk)
                return Break();
            created_ = true;
        }
        return kOk;
    }

    // Sends the call and takes its result; a result that does not fit the call breaks the
    // connection, since the stream can no longer be trusted to be in step.
    long Exchange(int32_t method, ControlResult* result, uint64_t deadline)
    {
        ControlCall call;
        call.method = method;
        if (method == kControlCreateMethod)
            call.interfaceId = kServerControlIid;
        if (WriteControlFrame(fd_, EncodeControlCall(call), deadline) != FrameStatus::Ok)
            return Break();
        // Nothing of the result has come in time: the stream is still in step, so a server
        // that stalled (stopped, swapped out) keeps its client.
        const uint64_t now = GetTickCount64();
        if (!Readable(deadline > now ? deadline - now : 0)) {
            late_ = true;
            lateMethod_ = method;
            return kCallTimedOut;
        }
        std::string payload;
        if (ReadControlFrame(fd_, &payload, kMaxControlResultBytes, deadline) != FrameStatus::Ok ||
            !DecodeControlResult(payload, result) || result->method != method)
            return Break();
        ControlValueKind expected = ControlValueKind::None;
        GetControlValueKind(method, &expected);
        if (result->result == kOk ? result->kind != expected : result->kind != ControlValueKind::None)
            return Break();
        if (method == kControlCreateMethod) {
            // No object on this connection: the host hangs up on it.
            if (result->result != kOk)
                return Break();
            created_ = true;
        }
        return result->result;
    }

    // Whether the server's answer has begun within `waitMs`; a hang-up counts, so that the
    // read that follows sees it.
    bool Readable(uint64_t waitMs)
    {
        const uint64_t end = GetTickCount64() + waitMs;
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            const uint64_t now = GetTickCount64();
            const int rc = poll(&p, 1, static_cast<int>(std::min<uint64_t>(end > now ? end - now : 0, 1u << 30)));
            if (rc > 0)
                return true;
            if (rc == 0 || errno != EINTR)
                return false;
        }
    }

    long Break()
    {
        close(fd_);
        fd_ = -1;
        late_ = false;
        created_ = false;
        lastDialMs_ = GetTickCount64();
        return kCallFailed;
    }

    std::mutex mutex_;
    int fd_;
    bool created_ = false;     // the host has given this connection its object
    bool late_ = false;        // a call's result has not come yet
    int32_t lateMethod_ = 0;   // that call
    uint64_t lastDialMs_ = 0;  // when the connection broke or was last dialled again
    const uint64_t callTimeoutMs_;
};

long BindObject(int fd, const std::string& path, uint64_t callTimeoutMs, std::unique_ptr<IServerControl>* object,
                std::string* errorText)
{
    auto proxy = std::make_unique<ServerControlProxy>(fd, callTimeoutMs);
    long rc = proxy->Create();
    if (rc != kOk) {
        SetError(errorText, "the server at " + path + " did not give its control object");
        return kCallFailed;
    }
    *object = std::move(proxy);
    SetError(errorText, "");
    return kOk;
}

// The registration as the activation reads it; text values are CP932.
struct ClassRegistration {
    std::string localServer;   // LocalServer32 default value, "" when missing
    std::string localService;  // LocalService of the class's AppID, "" when none
};

// False when the class key is missing.
bool ReadClassRegistration(ClassRegistration* registration)
{
    RegistryStore store;
    const std::string classKey = std::string("CLSID\\") + kServerControlClsid;
    if (!store.KeyExists(HKEY_CLASSES_ROOT, classKey))
        return false;
    store.ReadStringValue(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32", "",
                          registration->localServer);
    std::string appId;
    if (store.ReadStringValue(HKEY_CLASSES_ROOT, classKey, "AppID", appId) && !appId.empty())
        store.ReadStringValue(HKEY_CLASSES_ROOT, "AppID\\" + appId, "LocalService",
                              registration->localService);
    return true;
}

// The program of a LocalServer32 command line: the text in quotes when it starts with one,
// else all of it (paths here may hold blanks without quotes).
std::string ProgramOfCommandLine(const std::string& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t end = commandLine.find('"', 1);
        return commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    return commandLine;
}

// Starts argv[0] (searched in PATH when `search`) detached from our terminal and standard
// streams, its standard error on `errorFd` (-1: none); 0 with *pid, or the errno.
int SpawnDetached(const std::vector<std::string>& args, bool search, int errorFd, pid_t* pid)
{
    SpawnOptions options;
    options.args = args;
    options.searchPath = search;
    options.stderrFd = errorFd;
    // A server must not die with the client's terminal.
    options.newSession = true;
    return SpawnProcess(options, pid);
}

// A started server outlives the activation; someone must collect its exit.
void ReapInBackground(pid_t pid)
{
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::string DescribeExit(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// A program or service started for the class, watched while it comes up.
struct Activation {
    pid_t child = -1;
    bool childMayEnd = false;  // systemctl ends once the service runs; a server must not
    std::string started;       // what was started, for the messages
    // Its standard error while it comes up: why it did not serve is said there. Closed
    // with the activation, after which a server that runs on writes to no one.
    CDescriptor errors;
    std::string said;          // what came on it, at most kMaxRunErrorOutput bytes
};

// Takes what the started program has written to its standard error so far.
void CollectWhatItSaid(Activation* activation)
{
    char buffer[4096];
    while (activation->errors.IsOpen()) {
        const long n = ReadDescriptor(activation->errors.Get(), buffer, sizeof buffer);
        if (n <= 0) {
            if (n == 0)
                activation->errors.Reset();  // every writer has gone
            return;
        }
        const size_t room = kMaxRunErrorOutput - std::min(kMaxRunErrorOutput, activation->said.size());
        activation->said.append(buffer, std::min(room, static_cast<size_t>(n)));
    }
}

// `text`, followed by what the started program said, when it said anything.
std::string WithWhatItSaid(Activation* activation, std::string text)
{
    CollectWhatItSaid(activation);
    std::string said = activation->said;
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
        said.pop_back();
    return said.empty() ? text : text + ":\n" + said;
}

// Starts what the registry names for the class: kOk, kClassNotRegistered or kServerNotStarted.
long StartRegisteredServer(Activation* activation, std::string* errorText)
{
    ClassRegistration registration;
    if (!ReadClassRegistration(&registration)) {
        SetError(errorText, std::string("the class ") + kServerControlClsid + " is not registered");
        return kClassNotRegistered;
    }
    std::vector<std::string> args;
    if (!registration.localService.empty()) {
        activation->started = "the service " + NativePath(registration.localService);
        if (!SystemdRuns()) {
            SetError(errorText, "cannot start " + activation->started + ": systemd does not run");
            return kServerNotStarted;
        }
        args = {"systemctl", "start", "--", NativePath(registration.localService)};
        activation->childMayEnd = true;
    } else {
        std::string program = ProgramOfCommandLine(registration.localServer);
        if (program.empty()) {
            SetError(errorText, std::string("the class ") + kServerControlClsid + " names no server program");
            return kClassNotRegistered;
        }
        activation->started = NativePath(program);
        args = {activation->started, "-Embedding"};
    }
    // Without a pipe (both ends closed) it is started all the same, only unheard.
    CDescriptor errorWriter;
    if (CreatePipe(activation->errors, errorWriter))
        SetNonBlocking(activation->errors.Get());
    int rc = SpawnDetached(args, activation->childMayEnd, errorWriter.Get(), &activation->child);
    if (rc != 0) {
        activation->child = -1;
        SetError(errorText, "cannot start " + activation->started + ": " + std::strerror(rc));
        return kServerNotStarted;
    }
    return kOk;
}

// Whether the started program has ended in a way that ends the wait; sets the reason.
bool ActivationEnded(Activation* activation, const std::string& places, std::string* errorText)
{
    if (activation->child <= 0)
        return false;
    int status = 0;
    pid_t done = waitpid(activation->child, &status, WNOHANG);
    // ECHILD: the client ignores SIGCHLD, so the exit status is gone.
    if (done != activation->child && !(done < 0 && errno == ECHILD))
        return false;
    activation->child = -1;
    bool known = done > 0;
    bool succeeded = !known || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (activation->childMayEnd && succeeded)
        return false;
    SetError(errorText, WithWhatItSaid(activation, activation->started + " ended (" +
                                                       (known ? DescribeExit(status) : "status unknown") +
                                                       ") before it served " + places));
    return true;
}

}  // namespace

long CreateServerControl(std::unique_ptr<IServerControl>* object, std::string* errorText,
                         uint64_t activationTimeoutMs, uint64_t callTimeoutMs)
{
    object->reset();
    SetError(errorText, "");
    const std::vector<std::string> paths = ServingPaths();
    std::string path;
    int fd = -1;
    ConnectOutcome outcome = TryConnectAny(paths, &fd, &path, errorText);
    if (outcome == ConnectOutcome::Connected)
        return BindObject(fd, path, callTimeoutMs, object, errorText);
    if (outcome == ConnectOutcome::Untrusted || outcome == ConnectOutcome::Failed)
        return kCallFailed;

    const uint64_t deadline = GetTickCount64() + activationTimeoutMs;
    Activation activation;
    if (outcome == ConnectOutcome::NobodyListens) {
        long rc = StartRegisteredServer(&activation, errorText);
        if (rc != kOk)
            return rc;
    }
    // A started server that keeps running outlives this wait, bound or not.
    struct Reaper {
        Activation& activation;
        ~Reaper()
        {
            if (activation.child > 0)
                ReapInBackground(activation.child);
        }
    } reaper{activation};

    const std::string places = DescribePaths(paths);
    for (;;) {
        outcome = TryConnectAny(paths, &fd, &path, errorText);
        if (outcome == ConnectOutcome::Connected)
            return BindObject(fd, path, callTimeoutMs, object, errorText);
        if (outcome == ConnectOutcome::Untrusted || outcome == ConnectOutcome::Failed)
            return kCallFailed;
        CollectWhatItSaid(&activation);
        if (ActivationEnded(&activation, places, errorText)) {
            // Another client's activation may have won the race and serves now.
            if (TryConnectAny(paths, &fd, &path, nullptr) == ConnectOutcome::Connected)
                return BindObject(fd, path, callTimeoutMs, object, errorText);
            return kServerNotStarted;
        }
        uint64_t now = GetTickCount64();
        if (now >= deadline) {
            SetError(errorText, activation.started.empty()
                                    ? "the server at " + places + " stayed too busy to accept"
                                    : WithWhatItSaid(&activation, activation.started + " did not serve " + places +
                                                                      " in time"));
            return kServerNotStarted;
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<uint64_t>(kConnectRetryMs, deadline - now)));
    }
}

}  // namespace platform
