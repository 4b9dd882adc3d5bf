#include "ControlHost.h"

#include "Clock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// One controller per desktop session is the normal load; more than this is a runaway.
constexpr size_t kMaxClients = 64;
// Connections that arrive while the main thread is busy with a call wait here.
constexpr int kListenBacklog = 16;
// Calls are served one at a time, so a client that stops inside a call may hold the
// others up only this long.
constexpr int kCallReceiveTimeoutMs = 5000;
// Likewise for a client that does not take its result (a status document of some MiB).
constexpr int kResultSendTimeoutMs = 10000;

std::string SystemReason(int error) { return std::strerror(error); }

// Whether the client's release waits behind the call that it was given no result for: it
// let go while the host was still busy with that call. Reads only what has come already.
bool ReleaseIsQueued(int fd)
{
    std::string payload;
    ControlCall call;
    while (ReadControlFrame(fd, &payload, kMaxControlCallBytes, GetTickCount64()) == FrameStatus::Ok) {
        if (DecodeControlCall(payload, &call) && call.method == kControlReleaseMethod)
            return true;
    }
    return false;
}

// Makes sure the runtime folder exists and only we can reach it; "" or the reason.
std::string PreparePrivateFolder(const std::string& folder)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create the runtime folder " + folder + ": " + SystemReason(errno);
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0)
        return "cannot read the runtime folder " + folder + ": " + SystemReason(errno);
    if (!S_ISDIR(st.st_mode))
        return "the runtime folder " + folder + " is not a folder";
    if (st.st_uid != geteuid())
        return "the runtime folder " + folder + " belongs to another user";
    if ((st.st_mode & 077) != 0)
        return "the runtime folder " + folder + " is open to other users; make it private with: chmod 700 " + folder;
    return "";
}

bool MakeAddress(const std::string& path, sockaddr_un* address)
{
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof(address->sun_path))
        return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Whether a process accepts connections on the socket file.
bool SomeoneListens(const sockaddr_un& address)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return true;  // cannot tell: never take a socket that may be live
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    int error = errno;
    close(fd);
    if (rc == 0)
        return true;
    // EAGAIN: a live listener whose backlog is full.
    return !(error == ECONNREFUSED || error == ENOENT);
}

}  // namespace

ControlHost::ControlHost() = default;

ControlHost::~ControlHost() { RevokeClassObjects(); }

int ControlHost::Fail(const std::string& text)
{
    errorText_ = text;
    if (listenFd_ >= 0)
        close(listenFd_);
    listenFd_ = -1;
    if (lockFd_ >= 0)
        close(lockFd_);
    lockFd_ = -1;
    socketPath_.clear();
    return -1;
}

int ControlHost::RegisterClassObjects(ObjectFactory factory)
{
    if (IsRegistered()) {
        errorText_ = "the class objects are registered already";
        return -1;
    }
    errorText_.clear();
    const std::string folder = GetControlRuntimeFolder();
    std::string problem = PreparePrivateFolder(folder);
    if (!problem.empty())
        return Fail(problem);

    const std::string path = GetControlSocketPath(kServerControlClsid);
    sockaddr_un address;
    if (!MakeAddress(path, &address))
        return Fail("the socket path " + path + " is too long");

    // The lock decides between two hosts starting at once; the socket file alone cannot,
    // since the second would take the first one's file for stale.
    const std::string lockPath = path + ".lock";
    lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0)
        return Fail("cannot open " + lockPath + ": " + SystemReason(errno));
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        if (error == EWOULDBLOCK)
            return Fail("another process serves " + path);
        return Fail("cannot lock " + lockPath + ": " + SystemReason(error));
    }

    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0)
        return Fail("cannot create a socket for " + path + ": " + SystemReason(errno));
    if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EADDRINUSE)
            return Fail("cannot bind " + path + ": " + SystemReason(errno));
        if (SomeoneListens(address))
            return Fail("another process serves " + path);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return Fail("a folder stands in the place of the socket " + path);
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            return Fail("cannot remove the stale socket " + path + ": " + SystemReason(errno));
        if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
            return Fail("cannot bind " + path + ": " + SystemReason(errno));
    }
    if (listen(listenFd_, kListenBacklog) != 0) {
        int error = errno;
        unlink(path.c_str());
        return Fail("cannot listen on " + path + ": " + SystemReason(error));
    }
    socketPath_ = path;
    factory_ = std::move(factory);
    everCreated_ = false;
    return 0;
}

void ControlHost::RevokeClassObjects()
{
    while (!clients_.empty())
        DropClient(clients_.size() - 1);
    stranded_.clear();
    strandedCount_ = 0;
    if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
        // Only while the lock is held is the file surely ours.
        unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        close(lockFd_);
        lockFd_ = -1;
    }
    socketPath_.clear();
    factory_ = nullptr;
}

int ControlHost::ServeOnce(int timeoutMs)
{
    if (!IsRegistered())
        return -1;
    std::vector<pollfd> polls;
    polls.reserve(clients_.size() + stranded_.size() + 1);
    polls.push_back(pollfd{listenFd_, POLLIN, 0});
    for (const Client& client : clients_)
        polls.push_back(pollfd{client.fd, POLLIN, 0});
    const size_t firstStranded = polls.size();
    for (const Stranded& stranded : stranded_)
        polls.push_back(pollfd{stranded.process.Get(), POLLIN, 0});
    int ready = poll(polls.data(), polls.size(), timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0)
        return 0;

    std::vector<int> ended;
    for (size_t i = firstStranded; i < polls.size(); ++i) {
        if (polls[i].revents != 0)
            ended.push_back(polls[i].fd);
    }
    if (!ended.empty())
        ForgetStranded(ended);

    // Serve the clients that were ready before the new ones are added; a ready client is
    // found again by its descriptor, since drops move the others.
    int served = 0;
    for (size_t i = 1; i < firstStranded; ++i) {
        if (polls[i].revents == 0)
            continue;
        for (size_t c = 0; c < clients_.size(); ++c) {
            if (clients_[c].fd != polls[i].fd)
                continue;
            if (ServeCall(clients_[c]))
                ++served;
            else
                DropClient(c);
            break;
        }
    }
    if (polls[0].revents != 0)
        AcceptClients();
    return served;
}

void ControlHost::AcceptClients()
{
    for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;  // EAGAIN: none left; anything else: try again on the next round
        }
        Client client;
        if (!IsTrustedControlPeer(fd, &client.pid) || clients_.size() >= kMaxClients) {
            close(fd);
            continue;
        }
        client.fd = fd;
        // Opened while the peer surely runs, so that a later reuse of its id cannot be
        // taken for it.
        if (client.pid > 0)
            client.process = OpenProcessHandle(client.pid);
        clients_.push_back(std::move(client));
    }
}

bool ControlHost::ServeCall(Client& client)
{
    std::string payload;
    uint64_t deadline = GetTickCount64() + kCallReceiveTimeoutMs;
    if (ReadControlFrame(client.fd, &payload, kMaxControlCallBytes, deadline) != FrameStatus::Ok)
        return false;
    ControlCall call;
    if (!DecodeControlCall(payload, &call))
        return false;

    ControlResult result;
    result.method = call.method;
    result.result = kCallFailed;

    if (call.method == kControlReleaseMethod) {
        if (client.object) {
            client.object.reset();
            --objectCount_;
        }
        return false;  // the client's last word: it hangs up next
    }

    if (call.method == kControlCreateMethod) {
        if (client.object)
            return false;  // one object per connection
        if (strcasecmp(call.interfaceId.c_str(), kServerControlIid) != 0) {
            SendResult(client, result);
            return false;
        }
        std::unique_ptr<IServerControl> object;
        try {
            if (factory_)
                object = factory_();
        } catch (...) {
            object.reset();
        }
        if (!object) {
            SendResult(client, result);
            return false;
        }
        client.object = std::move(object);
        ++objectCount_;
        everCreated_ = true;
        // Bound again: no longer waited for.
        if (client.pid > 0)
            ForgetStranded({}, client.pid);
        result.result = kOk;
        return SendResult(client, result);
    }

    if (!client.object)
        return false;  // a call before the creation: not one of our clients
    ControlValueKind kind;
    if (!GetControlValueKind(call.method, &kind))
        return SendResult(client, result);

    IServerControl& object = *client.object;
    long rc = kCallFailed;
    short value = 0;
    std::u16string text;
    try {
        switch (call.method) {
        case kDispStartServer: rc = object.StartServer(&value); break;
        case kDispStopServer: rc = object.StopServer(); break;
        case kDispGetServerErrorString: rc = object.GetServerErrorString(&text); break;
        case kDispIsRunning: rc = object.IsRunning(&value); break;
        case kDispIsService: rc = object.IsService(&value); break;
        case kDispGetServerInfo: rc = object.GetServerInfo(&text); break;
        case kDispGetServerSetting: rc = object.GetServerSetting(&text); break;
        case kDispGetServerContext: rc = object.GetServerContext(&text); break;
        case kDispGetServerRoot: rc = object.GetServerRoot(&text); break;
        case kDispIsActive: rc = object.IsActive(&value); break;
        default: break;
        }
    } catch (...) {
        rc = kCallFailed;
    }
    result.result = static_cast<int32_t>(rc);
    // A failed call carries no value, as an out-parameter is undefined after a failure.
    if (rc == kOk) {
        result.kind = kind;
        result.shortValue = value;
        result.text = std::move(text);
    }
    return SendResult(client, result);
}

bool ControlHost::SendResult(Client& client, const ControlResult& result)
{
    std::string payload;
    if (!EncodeControlResult(result, &payload)) {
        // Too long for the wire: the call fails rather than the connection.
        ControlResult failed;
        failed.method = result.method;
        failed.result = kCallFailed;
        EncodeControlResult(failed, &payload);
    }
    uint64_t deadline = GetTickCount64() + kResultSendTimeoutMs;
    return WriteControlFrame(client.fd, payload, deadline) == FrameStatus::Ok;
}

void ControlHost::DropClient(size_t index)
{
    Client& client = clients_[index];
    if (client.object) {
        // Without a process to watch (none known, or no handle to be had) the client counts
        // as gone.
        if (!ReleaseIsQueued(client.fd) && client.process.IsOpen() && stranded_.size() < kMaxClients) {
            stranded_.push_back(Stranded{client.pid, std::move(client.process)});
            strandedCount_ = static_cast<int>(stranded_.size());
        }
        client.object.reset();
        --objectCount_;
    }
    close(client.fd);
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
}

void ControlHost::ForgetStranded(const std::vector<int>& ended, int pid)
{
    stranded_.erase(std::remove_if(stranded_.begin(), stranded_.end(),
                                   [&](const Stranded& stranded) {
                                       return (pid > 0 && stranded.pid == pid) ||
                                              std::find(ended.begin(), ended.end(), stranded.process.Get()) !=
                                                  ended.end();
                                   }),
                    stranded_.end());
    strandedCount_ = static_cast<int>(stranded_.size());
}

}  // namespace platform
