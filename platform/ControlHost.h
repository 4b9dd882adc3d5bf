#pragma once
// The server side of the control channel, in place of registering class objects with an
// object broker: while registered, the host listens on the class's socket in the private
// runtime folder (ControlWire.h) and gives every client connection its own control object,
// made by the factory when the client asks for it. Calls are served one at a time on the
// thread that calls ServeOnce (the program's main thread), so the objects need no locking
// of their own against each other.
//
// Only a peer running as the same user, or as root, is served. A client that sends
// garbage, stalls inside a call or does not take its result loses its connection; the host
// goes on serving the others.
//
// A client that is done says so before it hangs up (kControlReleaseMethod). One that
// hangs up without saying so lost its channel (it broke, or the host dropped it) and may
// still run: the host then watches its process (the peer's process id, taken from the
// socket's credentials when it connected) until it ends or binds again, and counts it as
// stranded meanwhile, so that a process started for a client does not end under it.

#include "ControlWire.h"
#include "Process.h"
#include "ServerControlInterface.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class ControlHost {
public:
    // Makes the object for one client. May return null or throw: that client's creation
    // then fails and the host goes on.
    using ObjectFactory = std::function<std::unique_ptr<IServerControl>()>;

    ControlHost();
    // Revokes.
    ~ControlHost();
    ControlHost(const ControlHost&) = delete;
    ControlHost& operator=(const ControlHost&) = delete;

    // Creates the runtime folder when missing (mode 0700) and listens on the socket of
    // kServerControlClsid. Refuses (-1, reason in GetErrorText) a folder that is a
    // symbolic link, is owned by another user or is open to group or others (the reason
    // then names the command that makes it private), a class that another live process
    // serves, and a second registration. A socket file that nobody serves any more is
    // replaced. 0 on success.
    int RegisterClassObjects(ObjectFactory factory);

    // Stops listening, removes the socket, ends every client connection (destroying its
    // object) and forgets the stranded clients. Harmless when not registered.
    void RevokeClassObjects();

    bool IsRegistered() const { return listenFd_ >= 0; }

    // Waits at most timeoutMs (0: only looks) for new clients, calls and the end of a
    // stranded client's process, accepts the new clients and serves at most one call from
    // each client that has one ready. Returns the number of calls served (a creation
    // counts), 0 when the wait ended without one or a signal cut it short, and -1 at once
    // when not registered.
    int ServeOnce(int timeoutMs);

    // The number of live client objects. Any thread.
    int GetObjectCount() const { return objectCount_.load(); }

    // True when a client object was created since registration and none lives now: a
    // process started by activation ends then, unless a client is stranded. Any thread.
    bool LastObjectReleased() const { return everCreated_.load() && objectCount_.load() == 0; }

    // The processes whose object went with a broken channel, not released, and that still
    // run and have not bound again since. Any thread.
    int GetStrandedClientCount() const { return strandedCount_.load(); }

    // Why the last registration failed, naming the path and the system's reason.
    const std::string& GetErrorText() const { return errorText_; }

    // The socket path while registered, else "".
    const std::string& GetSocketPath() const { return socketPath_; }

private:
    struct Client {
        int fd = -1;
        std::unique_ptr<IServerControl> object;
        int pid = 0;             // the peer's process as it connected; 0 when unknown
        CDescriptor process;     // readable once that process has ended; may be closed
    };
    // A client's process that lost its object with its channel.
    struct Stranded {
        int pid = 0;
        CDescriptor process;
    };

    int Fail(const std::string& text);
    void AcceptClients();
    // Reads and answers one call; false when the client must be dropped.
    bool ServeCall(Client& client);
    bool SendResult(Client& client, const ControlResult& result);
    // Ends the connection; a client that still holds its object is stranded while its
    // process runs.
    void DropClient(size_t index);
    // Forgets the stranded entries whose process has ended (their descriptors in `ended`)
    // or that is `pid`, which has just bound again.
    void ForgetStranded(const std::vector<int>& ended, int pid = 0);

    ObjectFactory factory_;
    int listenFd_ = -1;
    int lockFd_ = -1;
    std::string socketPath_;
    std::vector<Client> clients_;
    std::vector<Stranded> stranded_;
    std::atomic<int> strandedCount_{0};
    std::atomic<int> objectCount_{0};
    std::atomic<bool> everCreated_{false};
    std::string errorText_;
};

}  // namespace platform
