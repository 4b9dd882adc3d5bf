#include "net/FastListener.h"

#include "ConfigAccessor.h"
#include "SettingsSchema.h"
#include "ThreadPriority.h"
#include "net/SslSocket.h"

#include "Clock.h"
#include "Socket.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

namespace {

// A failed accept pauses its thread this long: a listen socket that fails again at once
// must not spin a processor, and a passing failure costs the next client little.
constexpr int kAcceptFailurePauseMs = 100;
// After memory ran out, the rest of the process has this long to give some back before
// the thread accepts more connections that need it.
constexpr int kOutOfMemoryPauseMs = 5000;

// A waiting socket's bytes are taken within this of their coming when it was already
// watched, and a newly held one is watched from the next round; a stop is seen within it too.
constexpr int kWaitingPollMs = 10;

int ClampThreadCount(int n) { return std::clamp(n, 0, CFastListener::kMaxListenThreads); }

}  // namespace

// --- CFastListenerThread -----------------------------------------------------------------

CFastListenerThread::~CFastListenerThread() { StopAndWait(); }

int CFastListenerThread::Start(CTcpSocket* listenSocket, int secure, CFastListener* listener)
{
    listenSocket_ = listenSocket;
    secure_ = secure;
    listener_ = listener;
    return CWorkerThread::Start();
}

void CFastListenerThread::Run()
{
    platform::SetCurrentThreadPriority(platform::ThreadPriority::Highest);
    // Pauses end early when the set stops.
    auto pause = [this](int ms) {
        for (int waited = 0; waited < ms && !IsStopRequested(); waited += kAcceptFailurePauseMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptFailurePauseMs));
    };
    while (!IsStopRequested()) {
        try {
            std::unique_ptr<CTcpSocket> socket;
            if (secure_)
                socket.reset(new CSSLSocket(&listener_->GetSSLContext()));
            else
                socket.reset(new CTcpSocket);
            if (listenSocket_->Accept(socket.get(), 1) == 1)
                listener_->PushOrHoldAcceptedSocket(std::move(socket));
            else
                pause(kAcceptFailurePauseMs);
        } catch (const std::bad_alloc&) {
            pause(kOutOfMemoryPauseMs);
        }
    }
}

// --- CWaitingSocketThread ----------------------------------------------------------------

CWaitingSocketThread::~CWaitingSocketThread() { StopAndWait(); }

int CWaitingSocketThread::Start(CFastListener* listener)
{
    listener_ = listener;
    return CWorkerThread::Start();
}

void CWaitingSocketThread::Run()
{
    while (!IsStopRequested())
        listener_->WatchWaitingSockets(kWaitingPollMs);
}

// --- CFastListener -----------------------------------------------------------------------

CFastListener::CFastListener(const CIPv4Address& listenAddress, Admission admit, ArrivalTest arrival)
    : admit_(std::move(admit)), arrival_(std::move(arrival)), listenAddress_(listenAddress)
{}

CFastListener::~CFastListener() { Stop(); }

void CFastListener::Setup(const CConfigAccessor& settings)
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        queueBound_ = std::max(0, schema::kMaxListenQueue.Read(settings));
    }
    const int n = ClampThreadCount(schema::kListenThreadCount.Read(settings));
    // Where the system cannot defer accepts, the waiting-socket set does the same work alone.
    if (listenSocket_.Listen(schema::kPort.Read(settings), listenAddress_, kDeferAcceptSeconds) != 0)
        throw CFastListenerException{"ポート待ちうけに失敗しました、ポート番号を確認してください"};

    int m = 0;
    if (schema::kEnableSsl.Read(settings) != 0) {
        sslOn_ = 1;
        m = ClampThreadCount(schema::kListenThreadCountSsl.Read(settings));
        if (sslContext_.Init(settings) != 0)
            throw CFastListenerException{"SSL初期化に失敗しました、暗号化キー、パスワード、証明書のいずれかが異常です"};
        if (sslListenSocket_.Listen(schema::kSslPort.Read(settings), listenAddress_, kDeferAcceptSeconds) != 0)
            throw CFastListenerException{"SSLのポート待ちうけに失敗しました、SSLのポート番号を確認してください"};
    }
    waitingThread_ = std::make_unique<CWaitingSocketThread>();
    if (waitingThread_->Start(this) != 0)
        throw CFastListenerException{"リスナスレッドの起動に失敗しました"};

    threads_.clear();
    for (int i = 0; i < n + m; ++i)
        threads_.push_back(std::make_unique<CFastListenerThread>());
    for (int i = 0; i < n + m; ++i) {
        const bool secure = i >= n;
        if (threads_[i]->Start(secure ? &sslListenSocket_ : &listenSocket_, secure ? 1 : 0, this) != 0)
            throw CFastListenerException{"リスナスレッドの起動に失敗しました"};
    }
}

std::unique_ptr<CTcpSocket> CFastListener::PopAcceptedSocket()
{
    std::lock_guard<std::mutex> lock(queueLock_);
    if (queue_.empty())
        return nullptr;
    std::unique_ptr<CTcpSocket> socket = std::move(queue_.front());
    queue_.pop_front();
    return socket;
}

std::unique_ptr<CTcpSocket> CFastListener::WaitAcceptedSocket(int ms)
{
    std::unique_lock<std::mutex> lock(queueLock_);
    queueChanged_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty() || wakeWaiter_; });
    wakeWaiter_ = false;
    if (queue_.empty())
        return nullptr;
    std::unique_ptr<CTcpSocket> socket = std::move(queue_.front());
    queue_.pop_front();
    return socket;
}

void CFastListener::WakeWaiter()
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        wakeWaiter_ = true;
    }
    queueChanged_.notify_one();
}

int CFastListener::GetQueueBound() const
{
    std::lock_guard<std::mutex> lock(queueLock_);
    return queueBound_;
}

void CFastListener::PushAcceptedSocket(std::unique_ptr<CTcpSocket> socket)
{
    if (admit_) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            first = queue_.empty() && queueBound_ > 0;
        }
        // Handing the socket to the core thread would cost it and the worker a wake-up
        // each; one that would wait behind others keeps its place in the queue.
        if (first && admit_(socket))
            return;
    }
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (static_cast<int>(queue_.size()) < queueBound_) {
            queue_.push_back(std::move(socket));
            socket = nullptr;
        }
    }
    if (!socket)
        queueChanged_.notify_one();
    // else: the queue is full and the connection closes unanswered when `socket` goes
}

CFastListener::Arrival CFastListener::ArrivalOf(const CTcpSocket& socket) const
{
    const int count = socket.GetBufferedCount();
    if (!arrival_)
        return count > 0 ? Arrival::Whole : Arrival::Header;
    return arrival_(socket.GetBufferedBytes(), static_cast<size_t>(count),
                    count >= CTcpSocket::kReceiveBufferSize);
}

void CFastListener::PushOrHoldAcceptedSocket(std::unique_ptr<CTcpSocket> socket)
{
    const uint64_t now = platform::GetTickCount64();
    WaitingSocket entry{std::move(socket), Arrival::Header, false, now, 0};
    if (!entry.socket->IsSecure()) {
        entry.handshaken = true;
        // The look is a receive: an honest request has usually come whole with the
        // connection, and goes on without a round through the waiting set.
        if (entry.socket->DataAvailable(0) != 0 && entry.socket->GetBufferedCount() > 0) {
            entry.arrival = ArrivalOf(*entry.socket);
            if (entry.arrival == Arrival::Whole) {
                PushAcceptedSocket(std::move(entry.socket));
                return;
            }
            entry.bytesAtPhase = entry.socket->GetBufferedCount();
        }
    } else if (!platform::SetSocketBlocking(entry.socket->GetHandle(), false)) {
        return;  // closed unanswered
    } else if (platform::WaitReadable(entry.socket->GetHandle(), 0)) {
        // The client's first flight is usually there: answering it now saves a round, and
        // a quick client may even have finished the handshake and sent its request.
        const Look look = LookAt(entry, now);
        if (look == Look::Whole)
            Release(std::move(entry.socket));
        if (look != Look::Waits)
            return;
    }
    std::lock_guard<std::mutex> lock(incomingLock_);
    incoming_.push_back(std::move(entry));
    waitingCount_.fetch_add(1);
}

CFastListener::Look CFastListener::LookAt(WaitingSocket& entry, uint64_t now)
{
    CTcpSocket& socket = *entry.socket;
    if (!entry.handshaken) {
        const int step = static_cast<CSSLSocket&>(socket).HandshakeStep();
        if (step < 0)
            return Look::Ends;
        if (step == 0)
            return Look::Waits;
        entry.handshaken = true;
        entry.phaseStart = now;
    }
    // A TLS connection may hold decrypted bytes that no readiness of the descriptor shows.
    for (int n; (n = socket.Fill()) != 0;)
        if (n < 0)
            return Look::Ends;
    const Arrival arrival = ArrivalOf(socket);
    if (arrival == Arrival::Whole)
        return Look::Whole;
    // A request cut off by its client's end will never be whole.
    if (socket.IsEndOfStream())
        return Look::Ends;
    if (arrival != entry.arrival) {
        entry.arrival = arrival;
        entry.phaseStart = now;
        entry.bytesAtPhase = socket.GetBufferedCount();
    }
    return Look::Waits;
}

void CFastListener::Release(std::unique_ptr<CTcpSocket> socket)
{
    if (socket->IsSecure() && !platform::SetSocketBlocking(socket->GetHandle(), true))
        return;  // closed unanswered
    PushAcceptedSocket(std::move(socket));
}

void CFastListener::WatchWaitingSockets(int ms)
{
    {
        std::lock_guard<std::mutex> lock(incomingLock_);
        for (WaitingSocket& entry : incoming_)
            waiting_.push_back(std::move(entry));
        incoming_.clear();
    }
    // Oldest first: the ones beyond the bound that have waited longest make room.
    if (waiting_.size() > kMaxWaitingSockets) {
        const size_t excess = waiting_.size() - kMaxWaitingSockets;
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(excess));
        waitingCount_.fetch_sub(static_cast<int>(excess));
    }
    if (waiting_.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    std::vector<int> watched;
    watched.reserve(waiting_.size());
    for (const WaitingSocket& entry : waiting_)
        watched.push_back(entry.socket->GetHandle());
    std::vector<bool> readable;
    if (platform::WaitAnyReadable(watched, &readable, ms) < 0)
        return;
    const uint64_t now = platform::GetTickCount64();
    std::vector<std::unique_ptr<CTcpSocket>> whole;
    size_t kept = 0;
    for (size_t i = 0; i < waiting_.size(); ++i) {
        WaitingSocket& entry = waiting_[i];
        Look look = readable[i] ? LookAt(entry, now) : Look::Waits;
        if (look == Look::Waits) {
            const uint64_t waited = now - entry.phaseStart;
            if (!entry.handshaken)
                look = waited >= static_cast<uint64_t>(CSSLSocket::kHandshakeTimeoutMs) ? Look::Ends : look;
            else if (entry.arrival == Arrival::Header)
                look = waited >= static_cast<uint64_t>(kRequestHeaderTimeoutMs) ? Look::Ends : look;
            else if (waited >= static_cast<uint64_t>(kBodyRateWindowMs)) {
                const int64_t body = entry.socket->GetBufferedCount() - entry.bytesAtPhase;
                if (BodyTooSlow(body, waited))
                    look = Look::Ends;
                entry.phaseStart = now;  // the next window
                entry.bytesAtPhase = entry.socket->GetBufferedCount();
            }
        }
        if (look == Look::Whole)
            whole.push_back(std::move(entry.socket));
        else if (look == Look::Waits && kept != i)
            waiting_[kept] = std::move(entry);
        if (look == Look::Waits)
            ++kept;
        // Look::Ends: closed unanswered as its entry goes
    }
    waitingCount_.fetch_sub(static_cast<int>(waiting_.size() - kept));
    waiting_.resize(kept);
    // In the order they came.
    for (std::unique_ptr<CTcpSocket>& socket : whole)
        Release(std::move(socket));
}

int CFastListener::GetQueuedCount() const
{
    std::lock_guard<std::mutex> lock(queueLock_);
    return static_cast<int>(queue_.size());
}

int CFastListener::HasListenError()
{
    return listenSocket_.HasError() || (sslOn_ && sslListenSocket_.HasError()) ? 1 : 0;
}

void CFastListener::Stop()
{
    // Shutting the listen sockets down makes every blocked accept return; only then can
    // the threads end and the descriptors be closed.
    listenSocket_.Abort();
    sslListenSocket_.Abort();
    for (auto& thread : threads_)
        thread->Stop();
    threads_.clear();
    waitingThread_.reset();  // stops and waits
    std::vector<WaitingSocket> incoming;
    {
        std::lock_guard<std::mutex> lock(incomingLock_);
        incoming.swap(incoming_);
    }
    incoming.clear();
    waiting_.clear();
    waitingCount_ = 0;
    listenSocket_.Close();
    sslListenSocket_.Close();
    std::deque<std::unique_ptr<CTcpSocket>> queued;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        queued.swap(queue_);
    }
    while (!queued.empty())
        queued.pop_back();  // newest first
}
