#pragma once
// The server's listening sockets: plain on Basic::Port and, with Basic::EnableSSL, HTTPS on
// SSL::Port, each drained by its own accept threads into one bounded first-in first-out
// queue that the server core takes connections from. Accepting never waits for the core,
// and the core never blocks on the network. A connection reaches the queue only once its
// client has sent something: the kernel holds back silent ones for a while
// (TCP_DEFER_ACCEPT), and those it lets through wait in a bounded set of silent sockets,
// watched by a thread of their own, until their first bytes come or their time is up.
// So a client that connects and says nothing never takes a connection slot.

#include "net/SslContext.h"
#include "net/TcpSocket.h"
#include "thread/WorkerThread.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CConfigAccessor;
class CFastListener;

// Thrown by value from CFastListener::Setup.
struct CFastListenerException {
    std::string message;
};

class CFastListenerThread : public CWorkerThread {
public:
    ~CFastListenerThread() override;
    // Records where to accept and starts the thread: 0 or -1.
    int Start(CTcpSocket* listenSocket, int secure, CFastListener* listener);

protected:
    void Run() override;

private:
    CTcpSocket* listenSocket_ = nullptr;  // owned by the listener set
    int secure_ = 0;
    CFastListener* listener_ = nullptr;
};

// Watches the listener's silent sockets.
class CSilentSocketThread : public CWorkerThread {
public:
    ~CSilentSocketThread() override;
    int Start(CFastListener* listener);

protected:
    void Run() override;

private:
    CFastListener* listener_ = nullptr;
};

class CFastListener {
public:
    // More accept threads per port than this only contend for the same backlog.
    static constexpr int kMaxListenThreads = 64;
    // How long the kernel keeps a connection that has sent nothing out of accept: long
    // enough for any client that means to speak, short next to a slot's worth of time.
    static constexpr int kDeferAcceptSeconds = 5;
    // How long an accepted connection may stay silent before it is closed (RFC 9112 9.5
    // lets a server close an idle connection at any time); a client that is slower than
    // this to send its first byte is not worth a descriptor.
    static constexpr int kFirstByteTimeoutMs = 10000;
    // Descriptors held for silent clients at most; one more is closed at once, so that a
    // flood of them cannot use up the process's descriptors.
    static constexpr size_t kMaxSilentSockets = 256;

    // Takes a socket the queue would take first, when it can be served at once; false
    // leaves it to the queue. Called on the accept and silent-socket threads.
    using Admission = std::function<bool(std::unique_ptr<CTcpSocket>&)>;

    // The sockets listen at `listenAddress`: 0.0.0.0, the default, is every interface.
    // `admit`, when given, is offered each socket before it is queued.
    explicit CFastListener(const CIPv4Address& listenAddress = CIPv4Address(), Admission admit = nullptr);
    virtual ~CFastListener();
    CFastListener(const CFastListener&) = delete;
    CFastListener& operator=(const CFastListener&) = delete;

    // Opens the sockets and starts the accept threads, reading the Basic, Enhance and SSL
    // keys through `settings`. Throws CFastListenerException with the user's message;
    // what was opened before the failure stays open until Stop.
    void Setup(const CConfigAccessor& settings);

    // The oldest accepted socket, or null. The caller owns it.
    std::unique_ptr<CTcpSocket> PopAcceptedSocket();
    // The same, waiting up to `ms` for one; a push ends the wait at once.
    std::unique_ptr<CTcpSocket> WaitAcceptedSocket(int ms);
    // Queues the socket, or closes it when the queue is full; one that would be first in
    // the queue is offered to the admission first.
    void PushAcceptedSocket(std::unique_ptr<CTcpSocket> socket);
    int GetQueuedCount() const;
    // Queues the socket when its client has sent something; otherwise keeps it among the
    // silent sockets (or closes it when they are kMaxSilentSockets).
    void PushOrHoldAcceptedSocket(std::unique_ptr<CTcpSocket> socket);
    int GetSilentCount() const;
    // One round of the silent-socket thread: waits up to `ms` for any of them to become
    // readable, queues those that did and closes those past their time.
    void WatchSilentSockets(int ms);

    // 1 when a listen socket that should be open is closed or in error.
    int HasListenError();
    // Closes the listen sockets, ends the accept threads and closes every queued socket.
    // Setup may be called again afterwards.
    void Stop();

    CSSLContext& GetSSLContext() { return sslContext_; }

private:
    const Admission admit_;
    mutable std::mutex queueLock_;
    std::condition_variable queueChanged_;
    std::deque<std::unique_ptr<CTcpSocket>> queue_;
    int queueBound_ = 0;

    struct SilentSocket {
        std::unique_ptr<CTcpSocket> socket;
        uint64_t deadline;  // monotonic milliseconds
    };
    // Appended to by the accept threads; only the silent-socket thread removes entries.
    mutable std::mutex silentLock_;
    std::vector<SilentSocket> silent_;
    std::unique_ptr<CSilentSocketThread> silentThread_;

    const CIPv4Address listenAddress_;
    CTcpSocket listenSocket_;
    CTcpSocket sslListenSocket_;
    CSSLContext sslContext_;
    std::vector<std::unique_ptr<CFastListenerThread>> threads_;
    int sslOn_ = 0;
};
