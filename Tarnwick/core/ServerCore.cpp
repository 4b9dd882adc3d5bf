#include "core/ServerCore.h"

#include "core/ServerStatus.h"
#include "core/ServerVariables.h"
#include "net/SslSocket.h"
#include "net/TcpSocket.h"
#include "thread/TimeoutWatcher.h"

#include "SettingsSchema.h"

#include "Clock.h"
#include "ModulePath.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Basic::TimeOut outside this range (seconds) reads as the default: beyond it the
// watchdog's milliseconds would overflow an int.
constexpr int kMaxTimeoutSeconds = 2147483;

// Statistics, listener checks and log flushes run this often: the counters are per second.
constexpr uint32_t kTickIntervalMs = 1000;
// The idle wait for an accepted socket; a push ends it at once, and it is short so that a
// stop and the second's tick are not kept waiting.
constexpr int kIdleWaitMs = 20;
// After a listen socket failed, the network gets this long to come back before the
// listeners open again, so that a lasting failure does not spin.
constexpr int kListenErrorPauseMs = 10000;
// After an overload or memory running out, the server accepts nothing for this long, so
// that the connections it has can finish and give their resources back.
constexpr int kOverloadPauseMs = 30000;
// The whole 503 answer must go out within this, or the watchdog closes the socket.
constexpr int kOverloadSendTimeoutMs = 10000;
// A connection that ends gives its slot back as it closes, once it has recorded its
// request, while its client may connect again as soon as the answer is whole: on a busy
// machine the recording waits for locks and a processor. So a connection that finds a
// limit reached while slots are held waits this long for one to come free before it is
// refused.
constexpr uint64_t kSlotWaitMs = 250;
// A listener thread reaps ended workers once this many connections have closed since the
// last reaping: one look through the list then serves them all, and the ended ones it
// leaves for later hold little (their thread is back in the pool).
constexpr int kReapBatch = 16;
// A warning in the status text stands a day after its last cause, so that an administrator
// who looks once a day still sees it.
constexpr int64_t kWarningSeconds = 86400;

// The 503 sent before a connection is given a worker, with the reason in its page.
std::string RefusalAnswer(const char* reason)
{
    return std::string("HTTP/1.0 503 Service Unavailable\r\nServer: ") + CServerCore::kServerSignature +
           "\r\nContent-Type: text/html\r\nConnection: Close\r\n\r\n" +
           CServerCore::PlainErrorPage("503 Service Unavailable", reason);
}

// A request header is refused beyond 32000 bytes; a client that sends more than this
// before its 503 is not owed a clean end, and cannot keep the core thread reading.
constexpr int64_t kMaxDroppedRequestBytes = 65536;

// Closing a socket whose received bytes were never read makes the kernel send a reset
// instead of an orderly end, and the client may lose the answer still unread in its own
// buffers (RFC 9112 9.6). So the answer is ended first, and the request the client has
// sent so far is dropped without waiting for more: the core thread never blocks here.
void DropUnreadRequest(CTcpSocket& socket) { socket.ShutdownSendingAndDrop(kMaxDroppedRequestBytes); }

int64_t SystemSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

CServerCore::CServerCore(ConnectionStarter startConnection, CServerStatus* status, const CIPv4Address& listenAddress,
                         CFastListener::ArrivalTest arrival)
    : startConnection_(std::move(startConnection)),
      status_(status),
      listener_(listenAddress, [this](std::unique_ptr<CTcpSocket>& socket) { return AdmitAtOnce(socket); },
                std::move(arrival)),
      clock_(SystemSeconds),
      listenErrorPauseMs_(kListenErrorPauseMs),
      overloadPauseMs_(kOverloadPauseMs)
{
    // Only a missing file means the defaults: one that cannot be read or parsed would start
    // a server that looks healthy on settings no one chose.
    ConfigFileState state = ConfigFileState::Missing;
    std::string reason;
    if (settingTree_.LoadXml(platform::GetModulePath(1) + "Tarnwick.xml", &state, &reason) != 0 ||
        (state != ConfigFileState::Read && state != ConfigFileState::Missing))
        throw CServerException{"Tarnwick.xmlのロードに失敗しました : " + reason, 0};

    settings_ = settingTree_.GetAccessor("Setting");
    serverInfo_ = infoTree_.GetAccessor("ServerInfo");

    serverInfo_.SetString("ServerName", kServerName);
    serverInfo_.SetString("ServerVersion", kServerVersion);
    serverInfo_.SetString("ServerSignature", kServerSignature);
    serverInfo_.SetString("ServerRoot", platform::GetModulePath(1));
    settingTree_.SetValueFilter(std::make_unique<CServerVariables>(serverInfo_));

    CTimeoutWatcher::Instance().SetDefaultTimeout(TimeoutSeconds(settings_) * 1000);
    maxConnections_ = schema::kMaxConnect.Read(settings_);
    if (maxConnections_ < 0)
        maxConnections_ = 0;
    {
        std::lock_guard<std::mutex> lock(warningLock_);
        lastWarning_ = -1;
    }

    auto mimeMaps = std::make_shared<CMimeMaps>();
    mimeMaps->Load(settings_);
    mimeMaps_ = std::move(mimeMaps);
    bandWidth_.LoadSettings(settings_);
    log_.SetSettings(settings_);

    OpenListeners();
    // Last of the reads, so that the nodes they may create follow those the start creates.
    coreSettings_ = std::make_unique<const CCoreSettings>(settings_);

    if (Start() != 0)
        throw CServerException{"スレッドの開始に失敗しました", 0};
    try {
        log_.AddSystemLine("%s", "サーバを起動しました");
    } catch (...) {
        // The destructor will not run: the thread must not outlive the members.
        StopAndWait();
        throw;
    }
    // Only a core that stands admits from the listener's threads: one that failed to start
    // leaves its sockets in the queue, where they go with it.
    admitting_ = true;
}

CServerCore::~CServerCore()
{
    StopAndWait();
    // Normally the thread stopped every connection on its way out; when it ended on an
    // exception, the listeners still admit and its workers still run on this object's members.
    listener_.Stop();
    bool left = false;
    {
        std::lock_guard<std::mutex> lock(workersLock_);
        left = !workers_.empty();
    }
    if (left)
        StopConnections();
    Disarm();
    log_.Flush();
}

void CServerCore::Stop()
{
    {
        std::lock_guard<std::mutex> lock(stopLock_);
        CWorkerThread::Stop();
    }
    stopChanged_.notify_all();
}

bool CServerCore::Pause(int ms)
{
    std::unique_lock<std::mutex> lock(stopLock_);
    return !stopChanged_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return IsStopRequested() != 0; });
}

void CServerCore::OpenListeners()
{
    try {
        listener_.Setup(settings_);
    } catch (const CFastListenerException& e) {
        // A set that opened only some of its sockets would accept for a core that no
        // longer takes connections.
        listener_.Stop();
        log_.AddSystemLine("SystemError : %s", e.message.c_str());
        // At start-up the core is about to go, and its queued lines with it.
        log_.Flush();
        throw CServerException{e.message, 0};
    }
    const CIPv4Address address = GetLocalInterfaceAddress();
    serverInfo_.SetString("ServerAddress", address.ToString());
    serverInfo_.SetString("ServerHostName", address.GetHostName());
    serverInfo_.SetInt("ServerPort", schema::kPort.Read(settings_));
}

void CServerCore::ReopenListenersAfter(int pauseMs)
{
    listener_.Stop();
    if (Pause(pauseMs))
        OpenListeners();
}

void CServerCore::Run()
{
    CIntervalTimer ticker(kTickIntervalMs);
    while (!IsStopRequested()) {
        try {
            RunPass(ticker);
        } catch (const std::bad_alloc&) {
            ReopenListenersAfter(overloadPauseMs_.load());
            log_.AddSystemLine("%s", "SystemError : メモリ不足のため、いくつかの接続を強制切断しました");
            SetWarningStatus("メモリ不足を検出しました、サーバハードの強化を考慮してください。");
        }
    }
    listener_.Stop();
    waitingForSlot_.clear();  // closed unanswered, as the queued ones
    slotAwaited_ = false;
    StopConnections();
    log_.AddSystemLine("%s", "サーバを停止しました");
    log_.Flush();
}

void CServerCore::RunPass(CIntervalTimer& ticker)
{
    AdmitWaitingSockets();
    int waitMs = kIdleWaitMs;
    if (!waitingForSlot_.empty()) {
        const uint64_t now = platform::GetTickCount64();
        const uint64_t first = waitingForSlot_.front().refuseAt;
        waitMs = first <= now ? 0 : static_cast<int>(std::min<uint64_t>(first - now, kIdleWaitMs));
    }
    // Every socket queued meanwhile is taken in the same pass: they came together, and
    // each wait for the next would cost the core a wake-up.
    for (std::unique_ptr<CTcpSocket> socket = listener_.WaitAcceptedSocket(waitMs); socket;
         socket = listener_.PopAcceptedSocket())
        AdmitConnection(std::move(socket));
    if (memoryShort_.exchange(false))
        throw std::bad_alloc();

    ReapWorkers();

    if (ticker.IsElapsed())
        OnTick();
}

void CServerCore::AdmitConnection(std::unique_ptr<CTcpSocket> socket)
{
    // Both limits are applied before any byte is read.
    const CIPv4Address peer = socket->GetPeerAddress();
    const CBandWidthManager::Admission verdict = bandWidth_.OpenConnection(peer, maxConnections_);
    if (verdict == CBandWidthManager::kAdmitted) {
        StartWorker(std::move(socket), peer);
        return;
    }
    // Only a held slot can come free; the waiting sockets are as many as the accept queue
    // may hold.
    if (bandWidth_.GetOpenConnections() > 0 && static_cast<int>(waitingForSlot_.size()) < listener_.GetQueueBound()) {
        waitingForSlot_.push_back({std::move(socket), peer, platform::GetTickCount64() + kSlotWaitMs});
        slotAwaited_ = true;
        return;
    }
    Refuse(*socket, verdict);
}

void CServerCore::AdmitWaitingSockets()
{
    if (waitingForSlot_.empty())
        return;
    const uint64_t now = platform::GetTickCount64();
    for (auto waiting = waitingForSlot_.begin(); waiting != waitingForSlot_.end();) {
        const CBandWidthManager::Admission verdict = bandWidth_.OpenConnection(waiting->peer, maxConnections_);
        if (verdict == CBandWidthManager::kAdmitted) {
            StartWorker(std::move(waiting->socket), waiting->peer);
        } else if (now >= waiting->refuseAt) {
            Refuse(*waiting->socket, verdict);
        } else {
            ++waiting;
            continue;
        }
        waiting = waitingForSlot_.erase(waiting);
    }
    slotAwaited_ = !waitingForSlot_.empty();
}

void CServerCore::Refuse(CTcpSocket& socket, CBandWidthManager::Admission verdict)
{
    if (verdict == CBandWidthManager::kHostFull)
        SendRefusal(socket, RefusalAnswer("１ホストの最大接続数を超えました"));
    else
        SendOverloadAnswer(socket);
}

bool CServerCore::AdmitAtOnce(std::unique_ptr<CTcpSocket>& socket)
{
    // Behind the sockets that wait for a slot, a newcomer waits its turn in the queue.
    if (!admitting_.load() || slotAwaited_.load())
        return false;
    try {
        const CIPv4Address peer = socket->GetPeerAddress();
        if (bandWidth_.OpenConnection(peer, maxConnections_) != CBandWidthManager::kAdmitted)
            return false;
        StartWorker(std::move(socket), peer);
        // Ended workers are reaped, a batch at a time, as new ones come, so that they do
        // not pile up until the core thread's next pass.
        if (closedSinceReaping_.load(std::memory_order_relaxed) >= kReapBatch)
            ReapWorkers();
    } catch (const std::bad_alloc&) {
        memoryShort_ = true;  // the socket closes unanswered, as on the core thread
        socket.reset();
    }
    return true;
}

void CServerCore::StartWorker(std::unique_ptr<CTcpSocket> socket, const CIPv4Address& peer)
{
    // A slot is held exactly as long as the socket is open: a worker whose thread is
    // still winding down holds none.
    socket->SetCloseHook([this, peer] {
        bandWidth_.CloseConnection(peer);
        closedSinceReaping_.fetch_add(1, std::memory_order_relaxed);
        if (slotAwaited_.load())
            listener_.WakeWaiter();
    });
    try {
        std::unique_ptr<CWorkerThread> worker = startConnection_(*this, std::move(socket));
        std::lock_guard<std::mutex> lock(workersLock_);
        workers_.push_back(std::move(worker));
    } catch (const CConnectionException& e) {
        log_.AddSystemLine("SystemError : %s", e.message.c_str());
    }
}

void CServerCore::ReapWorkers()
{
    // A worker whose thread has not quite ended yet goes at a later reaping: waiting for
    // it here would hold up the sockets queued meanwhile.
    WorkerList ended;
    {
        std::lock_guard<std::mutex> lock(workersLock_);
        closedSinceReaping_.store(0, std::memory_order_relaxed);
        ended = CWorkerThread::RemoveJoined(workers_);
    }
}

void CServerCore::OnTick()
{
    PublishStatistics();

    {
        std::lock_guard<std::mutex> lock(warningLock_);
        if (lastWarning_ != -1 && lastWarning_ + kWarningSeconds < clock_()) {
            lastWarning_ = -1;
            if (status_)
                status_->Set(CServerStatus::kRunning);
        }
    }

    if (listener_.HasListenError())
        ReopenListenersAfter(listenErrorPauseMs_.load());

    log_.Flush();
}

void CServerCore::PublishStatistics()
{
    // The hour's byte sums are those of the purge that counting the hour's requests does.
    const int connected1Hour = bandWidth_.GetConnected1Hour();
    const int64_t recv1Hour = bandWidth_.GetRecvSize1Hour();
    const int64_t send1Hour = bandWidth_.GetSendSize1Hour();
    const int allConnected = bandWidth_.GetAllConnected();
    const int64_t allRecv = bandWidth_.GetAllRecvSize();
    const int64_t allSend = bandWidth_.GetAllSendSize();

    // One step for a reader that copies the tree.
    CConfigLock lock(serverInfo_);
    serverInfo_.SetInt("CurrentConnection", bandWidth_.GetOpenConnections());
    serverInfo_.SetInt("AllConnected", allConnected);
    serverInfo_.SetInt64("AllRecvSize", allRecv);
    serverInfo_.SetInt64("AllSendSize", allSend);
    serverInfo_.SetInt("Connected1Hour", connected1Hour);
    serverInfo_.SetInt64("RecvSize1Hour", recv1Hour);
    serverInfo_.SetInt64("SendSize1Hour", send1Hour);
}

void CServerCore::SendRefusal(CTcpSocket& socket, const std::string& answer)
{
    Arm(kOverloadSendTimeoutMs);
    {
        std::lock_guard<std::mutex> lock(overloadLock_);
        overloadSocket_ = &socket;
    }
    // An HTTPS connection before its handshake would read the plain text as a broken TLS
    // record, so it is only closed; after it, the answer goes through the TLS connection.
    const CSSLSocket* secure = dynamic_cast<const CSSLSocket*>(&socket);
    if (!secure || secure->IsHandshakeDone())
        socket.SendAll(answer);
    DropUnreadRequest(socket);
    socket.Close();
    {
        std::lock_guard<std::mutex> lock(overloadLock_);
        overloadSocket_ = nullptr;
    }
    if (IsTimedOut()) {
        ReopenListenersAfter(overloadPauseMs_.load());
        log_.AddSystemLine("%s", "SystemError : サーバ負荷が限界を超えたため、いくつかの接続を強制切断しました");
    }
    Disarm();
}

void CServerCore::SendOverloadAnswer(CTcpSocket& socket)
{
    SendRefusal(socket, RefusalAnswer("接続数が限界を超えました"));
    log_.AddSystemLine("%s", "SystemError : 接続数をオーバーしたため、503 Service Unavailableを送信しました");
    SetWarningStatus("サーバは正常に作動中ですが、最大接続数をオーバーする接続がありました。DoS攻撃などの可能性があります。");
}

void CServerCore::OnTimeout()
{
    std::lock_guard<std::mutex> lock(overloadLock_);
    if (overloadSocket_)
        overloadSocket_->Abort();
}

void CServerCore::StopConnections()
{
    serverInfo_.SetInt("StopServer", 1);
    WorkerList workers;
    {
        std::lock_guard<std::mutex> lock(workersLock_);
        workers.swap(workers_);
    }
    // Every worker is asked first, so that they all wind down together.
    for (size_t i = workers.size(); i-- > 0;)
        workers[i]->Stop();
    while (!workers.empty())
        workers.pop_back();
}

void CServerCore::SetWarningStatus(const std::string& text)
{
    std::lock_guard<std::mutex> lock(warningLock_);
    if (status_)
        status_->Set(text);
    lastWarning_ = clock_();
}

void CServerCore::SetClock(std::function<int64_t()> secondsSince1970)
{
    std::lock_guard<std::mutex> lock(warningLock_);
    clock_ = std::move(secondsSince1970);
}

void CServerCore::SetRecoveryPauses(int listenErrorMs, int overloadMs)
{
    listenErrorPauseMs_ = listenErrorMs;
    overloadPauseMs_ = overloadMs;
}

std::string CServerCore::PlainErrorPage(const std::string& status, const std::string& message)
{
    return "<HTML><HEAD><TITLE>" + status +
           "</TITLE><meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"></HEAD>\n"
           "<BODY><H1>Error : " +
           status + "</H1><PRE>" + message + "</PRE><HR><ADDRESS>" + kServerSignature + "</ADDRESS></BODY></HTML>";
}

std::shared_ptr<const CSettingsSnapshot> CServerCore::GetSettingsSnapshot()
{
    std::lock_guard<std::mutex> lock(snapshotLock_);
    if (!snapshot_ || snapshot_->GetWriteCount() != settingTree_.GetWriteCount())
        snapshot_ = std::make_shared<const CSettingsSnapshot>(settings_);
    return snapshot_;
}

std::string CServerCore::GetServerSignature()
{
    std::lock_guard<std::mutex> lock(signatureLock_);
    const uint64_t writes = infoTree_.GetWriteCount();
    if (!signatureRead_ || writes != signatureWrites_) {
        signature_ = serverInfo_.GetString("ServerSignature", "Tarnwick");
        signatureWrites_ = writes;
        signatureRead_ = true;
    }
    return signature_;
}

int CServerCore::TimeoutSeconds(const CConfigAccessor& settings)
{
    const int seconds = schema::kTimeOut.Read(settings);
    return seconds < 1 || seconds > kMaxTimeoutSeconds ? schema::kTimeOut.serverDefault : seconds;
}

int CServerCore::NextRequestNumber() { return requestCounter_.fetch_add(1); }

int CServerCore::GetCurrentConnection() { return serverInfo_.GetInt("CurrentConnection", 0); }
