#include "FastListener.h"

#include "ConfigAccessor.h"
#include "SslSocket.h"
#include "ThreadPriority.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

namespace {

constexpr int kAcceptFailurePauseMs = 100;
constexpr int kOutOfMemoryPauseMs = 5000;

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
                listener_->PushAcceptedSocket(std::move(socket));
            else
                pause(kAcceptFailurePauseMs);
        } catch (const std::bad_alloc&) {
            pause(kOutOfMemoryPauseMs);
        }
    }
}

// --- CFastListener -----------------------------------------------------------------------

CFastListener::CFastListener() = default;

CFastListener::~CFastListener() { Stop(); }

void CFastListener::Setup(const CConfigAccessor& settings)
{
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        queueBound_ = std::max(0, settings.GetInt("Enhance::MaxListenQueue", 50));
    }
    const int n = ClampThreadCount(settings.GetInt("Enhance::ListenThreadCount", 3));
    if (listenSocket_.Listen(settings.GetInt("Basic::Port", 80)) != 0)
        throw CFastListenerException{"ポート待ちうけに失敗しました、ポート番号を確認してください"};

    int m = 0;
    if (settings.GetInt("Basic::EnableSSL", 0) != 0) {
        sslOn_ = 1;
        m = ClampThreadCount(settings.GetInt("Enhance::ListenThreadCountSSL", 3));
        if (sslContext_.Init(settings) != 0)
            throw CFastListenerException{"SSL初期化に失敗しました、暗号化キー、パスワード、証明書のいずれかが異常です"};
        if (sslListenSocket_.Listen(settings.GetInt("SSL::Port", 443)) != 0)
            throw CFastListenerException{"SSLのポート待ちうけに失敗しました、SSLのポート番号を確認してください"};
    }

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
