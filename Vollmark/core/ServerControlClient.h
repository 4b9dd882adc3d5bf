#pragma once
// The controller's binding to the server: each wrapper asks the server's control object
// once and gives a neutral value when it is not bound or the call fails, so a view never
// has to tell the two apart. Every wait is bounded (activation, each call, the installer),
// so a missing or hung server costs the user seconds, not a frozen window.
//
// Once bound, the binding is kept whatever the server does. A call that times out leaves
// it in step (the late answer is dropped when it comes); a channel that broke is dialled
// again by a later call, so the polling ticks find a server that serves again by
// themselves. Only Connect starts a server; it is left to the user's restart.

#include "ServerControlInterface.h"

#include <cstdint>
#include <memory>
#include <string>

class CServerControlClient {
public:
    // What GetServerErrorString gives when the server cannot be asked.
    static const char* const kNotConnectedText;
    // The slowest call, StartServer, stops a running core and loads the settings: well
    // under this on a healthy server. A call that takes longer fails; the binding stays.
    static constexpr uint64_t kCallTimeoutMs = 10000;

    // `serverProgram`: the server program that InstallServer runs (CP932); by default the
    // "Tarnwick" beside the running controller.
    // `callTimeoutMs`: how long one call may wait for the server.
    explicit CServerControlClient(std::string serverProgram = DefaultServerProgram(),
                                  uint64_t callTimeoutMs = kCallTimeoutMs);
    virtual ~CServerControlClient();
    CServerControlClient(const CServerControlClient&) = delete;
    CServerControlClient& operator=(const CServerControlClient&) = delete;

    static std::string DefaultServerProgram();

    // Binds to the server, activating it when nothing serves; on failure runs
    // InstallServer and tries once more. 0, or -1 with the reason in GetConnectError; a
    // binding held before is replaced on success and kept on failure, so a failed attempt
    // never leaves a bound client unbound.
    int Connect();
    // Runs "<serverProgram> /InstallApp" and waits for it a bounded time. A failure is
    // kept for GetConnectError; Connect retries all the same.
    void InstallServer();
    // Drops the binding; harmless when not bound.
    void Release();

    int IsConnected() const { return connected_; }
    // Whether the last call could not reach the server (not bound, the channel broke, or
    // no answer in time); false when the server answered, whatever it answered.
    bool LastCallFailed() const { return lastCallFailed_; }
    // Whether the last call failed because the server did not answer in time, or had not
    // yet answered an earlier call that did not: it stalls (stopped, swapped out), and the
    // binding waits for it.
    bool LastCallTimedOut() const { return lastCallTimedOut_; }
    // Why the last Connect failed (CP932, several lines), "" after a success.
    const std::string& GetConnectError() const { return connectError_; }

    // The server's answers; not bound or failed: -1, nothing, 0, 0, 0, kNotConnectedText,
    // "", "", "" in this order.
    int StartServer();
    void StopServer();
    int IsRunning();
    int IsService();
    int IsActive();
    std::string GetServerErrorString();
    std::string GetServerInfo();
    std::string GetServerContext();
    // The server root with its trailing '/'.
    std::string GetServerRoot();

private:
    // Step 2 of Connect: one activation into *bound; false with the reason kept.
    bool Bind(std::unique_ptr<IServerControl>* bound);
    // Keeps what a call returned (kCallFailed for one that was not made, unbound) for
    // LastCallFailed and LastCallTimedOut; whether it failed.
    bool NoteResult(long rc);
    int CallShort(long (IServerControl::*method)(short*), int neutral);
    std::string CallText(long (IServerControl::*method)(std::u16string*), const std::string& neutral);

    std::string serverProgram_;
    uint64_t callTimeoutMs_;
    std::unique_ptr<IServerControl> interface_;
    int connected_ = 0;
    bool lastCallFailed_ = false;
    bool lastCallTimedOut_ = false;
    std::string installError_;
    std::string connectError_;
};
