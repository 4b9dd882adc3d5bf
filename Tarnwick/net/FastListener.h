#pragma once
// The server's listening sockets: plain on Basic::Port and, with Basic::EnableSSL, HTTPS on
// SSL::Port, each drained by its own accept threads into one bounded first-in first-out
// queue that the server core takes connections from. Accepting never waits for the core,
// and the core never blocks on the network. A connection reaches the queue only once its
// request has come: the kernel holds back silent ones for a while (TCP_DEFER_ACCEPT), and
// those it lets through wait in a bounded set, watched by one thread of their own, through
// their TLS handshake and until their request header is whole (and, for a request whose
// body a response may read, the body or a full buffer of it), or until their time is up.
// So a client that says nothing, trickles its header or handshake, or trickles a body
// never takes a connection slot, and the limits behind the queue count whole requests.

#include "net/SslContext.h"
#include "net/TcpSocket.h"
#include "thread/WorkerThread.h"

#include <atomic>
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

// Watches the listener's waiting sockets.
class CWaitingSocketThread : public CWorkerThread {
public:
    ~CWaitingSocketThread() override;
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
    // A request header must be whole this long after its connection was accepted (after
    // its TLS handshake on HTTPS): an honest client sends it in one go, and one that
    // trickles it is closed before a person waiting on it would give up.
    static constexpr int kRequestHeaderTimeoutMs = 10000;
    // A request body that a response may read must come at least this fast (bytes per
    // second, in every kBodyRateWindowMs): a slow modem sends some thousand, and a client
    // that trickles a body below it would hold its place for the whole time-out.
    static constexpr int64_t kMinBodyBytesPerSecond = 500;
    // The rate is taken over windows this long, from the end of the header: a client may
    // pause before its body, and a link may stall for a few seconds.
    static constexpr int kBodyRateWindowMs = 10000;
    // Whether a body that has brought `bytes` in the window begun `elapsedMs` ago is too
    // slow: only a whole window is judged.
    static bool BodyTooSlow(int64_t bytes, uint64_t elapsedMs)
    {
        return elapsedMs >= static_cast<uint64_t>(kBodyRateWindowMs) &&
               bytes < kMinBodyBytesPerSecond * kBodyRateWindowMs / 1000;
    }
    // Descriptors held for requests still coming; one more closes the oldest of them, so
    // that a flood can neither use up the process's descriptors nor keep a newcomer out.
    static constexpr size_t kMaxWaitingSockets = 512;

    // How far a connection's first request has come, given its bytes buffered so far and
    // whether they fill the socket's buffer.
    enum class Arrival {
        Header,  // its header is not whole yet
        Body,    // its header is whole and a response may read a body still coming
        Whole,   // it can be served without waiting for its client
    };
    using ArrivalTest = std::function<Arrival(const char* bytes, size_t count, bool bufferFull)>;

    // Takes a socket the queue would take first, when it can be served at once; false
    // leaves it to the queue. Called on the accept and waiting-socket threads.
    using Admission = std::function<bool(std::unique_ptr<CTcpSocket>&)>;

    // The sockets listen at `listenAddress`: 0.0.0.0, the default, is every interface.
    // `admit`, when given, is offered each socket before it is queued. `arrival` tells when
    // a request has come; without it, a connection's first bytes are its request.
    explicit CFastListener(const CIPv4Address& listenAddress = CIPv4Address(), Admission admit = nullptr,
                           ArrivalTest arrival = nullptr);
    virtual ~CFastListener();
    CFastListener(const CFastListener&) = delete;
    CFastListener& operator=(const CFastListener&) = delete;

    // Opens the sockets and starts the accept threads, reading the Basic, Enhance and SSL
    // keys through `settings`. Throws CFastListenerException with the user's message;
    // what was opened before the failure stays open until Stop.
    void Setup(const CConfigAccessor& settings);

    // The oldest accepted socket, or null. The caller owns it.
    std::unique_ptr<CTcpSocket> PopAcceptedSocket();
    // The same, waiting up to `ms` for one; a push or WakeWaiter ends the wait at once.
    std::unique_ptr<CTcpSocket> WaitAcceptedSocket(int ms);
    // Ends a WaitAcceptedSocket in progress, or the next one, at once. Any thread.
    void WakeWaiter();
    // Enhance::MaxListenQueue as the last Setup read it.
    int GetQueueBound() const;
    // Queues the socket, or closes it when the queue is full; one that would be first in
    // the queue is offered to the admission first.
    void PushAcceptedSocket(std::unique_ptr<CTcpSocket> socket);
    int GetQueuedCount() const;
    // Queues the socket when its request has come; otherwise keeps it among the waiting
    // sockets. Secure sockets start their TLS handshake here.
    void PushOrHoldAcceptedSocket(std::unique_ptr<CTcpSocket> socket);
    int GetWaitingCount() const { return waitingCount_.load(); }
    // One round of the waiting-socket thread: waits up to `ms` for any of them to become
    // readable, takes their bytes, queues those whose request has come and closes those
    // past their time.
    void WatchWaitingSockets(int ms);

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
    bool wakeWaiter_ = false;  // under queueLock_

    struct WaitingSocket {
        std::unique_ptr<CTcpSocket> socket;
        Arrival arrival = Arrival::Header;
        bool handshaken = false;   // a plain socket, or a secure one past its handshake
        // Monotonic ms: the accept, the end of the handshake, the end of the header or of
        // the body's last rate window.
        uint64_t phaseStart = 0;
        int64_t bytesAtPhase = 0;  // buffered then
    };
    // What happened to a waiting socket in one look.
    enum class Look { Waits, Whole, Ends };
    // Takes what has come on the socket and tells what is to become of it.
    Look LookAt(WaitingSocket& entry, uint64_t now);
    // Queues a socket whose request has come, blocking again.
    void Release(std::unique_ptr<CTcpSocket> socket);
    Arrival ArrivalOf(const CTcpSocket& socket) const;

    const ArrivalTest arrival_;
    // Appended to by the accept threads; the waiting-socket thread takes them into its
    // own list, which no other thread touches but Stop, after that thread has ended.
    mutable std::mutex incomingLock_;
    std::vector<WaitingSocket> incoming_;
    std::vector<WaitingSocket> waiting_;
    std::atomic<int> waitingCount_{0};
    std::unique_ptr<CWaitingSocketThread> waitingThread_;

    const CIPv4Address listenAddress_;
    CTcpSocket listenSocket_;
    CTcpSocket sslListenSocket_;
    CSSLContext sslContext_;
    std::vector<std::unique_ptr<CFastListenerThread>> threads_;
    int sslOn_ = 0;
};
