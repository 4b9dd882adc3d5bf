#pragma once
// The server's listening sockets: plain on Basic::Port and, with Basic::EnableSSL, HTTPS on
// SSL::Port, each drained by its own accept threads into one bounded first-in first-out
// queue that the server core takes connections from. Accepting never waits for the core,
// and the core never blocks on the network.

#include "SslContext.h"
#include "TcpSocket.h"
#include "WorkerThread.h"

#include <condition_variable>
#include <deque>
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

class CFastListener {
public:
    // More accept threads per port than this only contend for the same backlog.
    static constexpr int kMaxListenThreads = 64;

    CFastListener();
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
    // Queues the socket, or closes it when the queue is full.
    void PushAcceptedSocket(std::unique_ptr<CTcpSocket> socket);
    int GetQueuedCount() const;

    // 1 when a listen socket that should be open is closed or in error.
    int HasListenError();
    // Closes the listen sockets, ends the accept threads and closes every queued socket.
    // Setup may be called again afterwards.
    void Stop();

    CSSLContext& GetSSLContext() { return sslContext_; }

private:
    mutable std::mutex queueLock_;
    std::condition_variable queueChanged_;
    std::deque<std::unique_ptr<CTcpSocket>> queue_;
    int queueBound_ = 0;

    CTcpSocket listenSocket_;
    CTcpSocket sslListenSocket_;
    CSSLContext sslContext_;
    std::vector<std::unique_ptr<CFastListenerThread>> threads_;
    int sslOn_ = 0;
};
