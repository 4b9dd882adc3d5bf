#include "net/FastListener.h"

#include "ConfigAccessor.h"
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

// A silent socket's first bytes are noticed within this, and a stop within it too.
constexpr int kSilentPollMs = 20;

int ClampThreadCount(int n) { return std::clamp(n, 0, CFastListener::kMaxListenThreads); }

// Readable (bytes, an end of stream or an error waiting) without waiting. A plain socket is
// asked by a receive, whose bytes its worker then reads without a call of its own; a
// secure one only by its readiness, since its bytes belong to the handshake.
bool HasSpoken(CTcpSocket& socket)
{
    if (socket.IsSecure())
        return platform::WaitReadable(socket.GetHandle(), 0);
    return socket.DataAvailable(0) != 0;
}

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

// --- CSilentSocketThread -----------------------------------------------------------------

CSilentSocketThread::~CSilentSocketThread() { StopAndWait(); }

int CSilentSocketThread::Start(CFastListener* listener)
{
    listener_ = listener;
    return CWorkerThread::Start();
}

void CSilentSocketThread::Run()
{
    while (!IsStopRequested())
        listener_->WatchSilentSockets(kSilentPollMs);
}

// --- CFastListener -----------------------------------------------------------------------

CFastListener::CFastListener(const CIPv4Address& listenAddress, Admission admit)
    : admit_(std::move(admit)), listenAddress_(listenAddress)
{}

CFastListener::~CFastListener() { Stop(); }

void CFastListener::Setup(const CConfigAccessor& settings)
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        queueBound_ = std::max(0, settings.GetInt("Enhance::MaxListenQueue", 50));
    }
    const int n = ClampThreadCount(settings.GetInt("Enhance::ListenThreadCount", 3));
    // Where the system cannot defer accepts, the silent-socket set does the same work alone.
    if (listenSocket_.Listen(settings.GetInt("Basic::Port", 80), listenAddress_, kDeferAcceptSeconds) != 0)
        throw CFastListenerException{"ポート待ちうけに失敗しました、ポート番号を確認してください"};

    int m = 0;
    if (settings.GetInt("Basic::EnableSSL", 0) != 0) {
        sslOn_ = 1;
        m = ClampThreadCount(settings.GetInt("Enhance::ListenThreadCountSSL", 3));
        if (sslContext_.Init(settings) != 0)
            throw CFastListenerException{"SSL初期化に失敗しました、暗号化キー、パスワード、証明書のいずれかが異常です"};
        if (sslListenSocket_.Listen(settings.GetInt("SSL::Port", 443), listenAddress_, kDeferAcceptSeconds) != 0)
            throw CFastListenerException{"SSLのポート待ちうけに失敗しました、SSLのポート番号を確認してください"};
    }
    silentThread_ = std::make_unique<CSilentSocketThread>();
    if (silentThread_->Start(this) != 0)
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
    queueChanged_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty(); });
    if (queue_.empty())
        return nullptr;
    std::unique_ptr<CTcpSocket> socket = std::move(queue_.front());
    queue_.pop_front();
    return socket;
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

void CFastListener::PushOrHoldAcceptedSocket(std::unique_ptr<CTcpSocket> socket)
{
    if (HasSpoken(*socket)) {
        PushAcceptedSocket(std::move(socket));
        return;
    }
    const uint64_t deadline = platform::GetTickCount64() + kFirstByteTimeoutMs;
    std::lock_guard<std::mutex> lock(silentLock_);
    if (silent_.size() < kMaxSilentSockets)
        silent_.push_back({std::move(socket), deadline});
    // else: closed unanswered when `socket` goes
}

int CFastListener::GetSilentCount() const
{
    std::lock_guard<std::mutex> lock(silentLock_);
    return static_cast<int>(silent_.size());
}

void CFastListener::WatchSilentSockets(int ms)
{
    // Entries are only appended meanwhile, so the first ones stay where they were.
    std::vector<int> watched;
    {
        std::lock_guard<std::mutex> lock(silentLock_);
        for (const SilentSocket& entry : silent_)
            watched.push_back(entry.socket->GetHandle());
    }
    if (watched.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    std::vector<bool> readable;
    if (platform::WaitAnyReadable(watched, &readable, ms) < 0)
        return;
    const uint64_t now = platform::GetTickCount64();
    std::vector<std::unique_ptr<CTcpSocket>> spoken;
    std::vector<std::unique_ptr<CTcpSocket>> expired;
    {
        std::lock_guard<std::mutex> lock(silentLock_);
        for (size_t i = watched.size(); i-- > 0;) {
            const bool ready = readable[i];
            if (!ready && silent_[i].deadline > now)
                continue;
            (ready ? spoken : expired).push_back(std::move(silent_[i].socket));
            silent_.erase(silent_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    // Oldest first, as they came.
    for (size_t i = spoken.size(); i-- > 0;)
        PushAcceptedSocket(std::move(spoken[i]));
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
    silentThread_.reset();  // stops and waits
    std::vector<SilentSocket> silent;
    {
        std::lock_guard<std::mutex> lock(silentLock_);
        silent.swap(silent_);
    }
    silent.clear();
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
