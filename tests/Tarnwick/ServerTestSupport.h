#pragma once
// What the server tests share: a fresh server root for the whole run, the loopback address
// every server in them listens at, bounded waits, reserved loopback ports, raw descriptors
// for the far end, and a connection for code that only polls whether it should give up.

#include "FreePort.h"
#include "IPv4Address.h"
#include "TempFolder.h"
#include "core/ContextTree.h"
#include "http/ConnectionState.h"
#include "net/TcpSocket.h"
#include "thread/TimeoutWatcher.h"
#include "thread/WorkerThread.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace servertest {

// The server root (TARNWICK_ROOT) made for this run, with a trailing '/'.
const std::string& ServerRoot();

// The context tree as a reader sees it, requests in progress included, as a tree of its own.
std::unique_ptr<CConfigClass> CopyContext(CContextTree& context);
// The names of the requests in progress ("Threads") and of the finished ones kept.
std::vector<std::string> LiveRequests(CContextTree& context);
std::vector<std::string> FinishedRequests(CContextTree& context);

// A fresh empty folder under testing::TempDir(), removed with its contents on destruction;
// Path() ends in '/'.
using TempFolder = testsupport::TempFolder;

// The watchdog counts whole milliseconds, so a deadline can pass up to this much early
// by a finer clock.
constexpr std::chrono::milliseconds kTickSlack{1};

// Polls `condition` every few milliseconds until it holds or `limit` has passed; returns
// whether it held.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

using testsupport::ReservedPort;

// 127.0.0.1: servers in tests listen at loopback only.
CIPv4Address LoopbackAddress();
// 192.0.2.1 (TEST-NET-1, RFC 5737): no local interface, so listening there fails on any
// port without the test binding one.
CIPv4Address UnreachableAddress();

// A connected pair of stream sockets (AF_UNIX); both ends close-on-exec.
void MakeSocketPair(int& a, int& b);

using testsupport::ConnectLoopback;
// ConnectLoopback, then sends `bytes`: the listeners hold back a connection whose client
// has sent nothing. The descriptor, or -1 (closed) when either step failed.
int ConnectAndSend(int port, const std::string& bytes);

// This process's listening IPv4 socket on `port`, or -1 when there is none: shutting it
// down under the code that owns it is how a test makes the network fail.
int FindListeningDescriptor(int port);

// 1 when the descriptor becomes readable within `ms`, else 0.
int PollReadable(int fd, int ms);

// Reads (and drops) until the peer's end of stream or `limit`; true when the end came.
bool ReadsEndOfStream(int fd, std::chrono::milliseconds limit = std::chrono::seconds(5));

// True while the number names an open descriptor.
bool IsDescriptorOpen(int fd);

// Threads of this process (/proc/self/task).
int CountProcessThreads();

// Stands for a connection's thread where only its stop flag is used: it is never started.
class IdleThread : public CWorkerThread {
public:
    ~IdleThread() override;

protected:
    void Run() override {}
};

// A connection whose socket is one end of a socket pair; the test holds the other end.
// It is live until the test closes that end (the state then reports "切断しました"), stops
// `thread` ("中断しました") or lets `timeout` expire ("タイムアウトしました"). Throws
// std::runtime_error when no connected socket can be made.
struct TestConnection {
    TestConnection();
    ~TestConnection();
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    // The peer leaves: closes the test's end; later calls do nothing.
    void ClosePeer();

    int peer = -1;  // the test's end, -1 once closed
    CTimeoutTarget timeout;
    CTcpSocket socket;
    IdleThread thread;
    CConnectionState state{&timeout, &socket, &thread};
};

}  // namespace servertest
