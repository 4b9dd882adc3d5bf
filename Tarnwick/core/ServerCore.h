#pragma once
// The running HTTP server, between a start and a stop. Its constructor loads the settings
// file, publishes the server's identity, opens the listeners and starts the core thread;
// the core thread hands accepted sockets to connection workers (or answers 503 at the
// connection limit or the per-host limit, before reading the request; an HTTPS connection
// there is closed unanswered unless its handshake is done), reaps finished workers, and
// once a second publishes statistics, checks the listeners and flushes the logs.
//
// It owns three trees: the settings loaded from Tarnwick.xml (with the CServerVariables
// filter on every read), the context tree of live and finished requests ("Threads",
// "ThreadLogs"; CContextTree), and the information tree ("ServerInfo").
//
// Lock order: the settings tree before the information tree. A settings read fills its
// placeholders from the information tree while it holds the settings tree's lock, so no
// thread may read or write the settings while it holds the information tree's lock.

#include "ConfigAccessor.h"
#include "IntervalTimer.h"
#include "core/BandWidth.h"
#include "core/CoreSettings.h"
#include "core/ContextTree.h"
#include "core/MimeMaps.h"
#include "core/ServerLog.h"
#include "core/SettingsSnapshot.h"
#include "net/FastListener.h"
#include "thread/TimeoutWatcher.h"
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

class CServerStatus;
class CTcpSocket;

// The server cannot start; the message becomes the application's status text.
struct CServerException {
    std::string message;
    int code = 0;
};

// A connection worker could not start; thrown by value by a ConnectionStarter.
struct CConnectionException {
    std::string message;
    int code = 0;
};

class CServerCore : public CWorkerThread, public CTimeoutTarget {
public:
    // Starts the worker that serves one admitted connection, taking its socket; the core
    // keeps the worker until its thread has ended, and stops it with the core. Throws
    // CConnectionException when no worker could start, having closed the socket. The
    // connection layer sits above the core, so the program passes it in.
    using ConnectionStarter =
        std::function<std::unique_ptr<CWorkerThread>(CServerCore& core, std::unique_ptr<CTcpSocket> socket)>;

    static constexpr const char* kServerName = "Tarnwick";
    static constexpr const char* kServerVersion = "1.42";
    static constexpr const char* kServerSignature = "Tarnwick/1.42";

    // The page of an answer sent where no status page can be made (a refused connection, a
    // failure in the request driver): `status` is the code and reason phrase, `message`
    // the CP932 text shown.
    static std::string PlainErrorPage(const std::string& status, const std::string& message);

    // Basic::TimeOut in seconds, the default where it is missing or out of range.
    static int TimeoutSeconds(const CConfigAccessor& settings);

    // Starts the server: settings from the server root's "Tarnwick.xml" (a missing file
    // leaves every setting at its default; one that cannot be read, is not well-formed or
    // holds no settings document is a failed start whose message carries the reason,
    // with the parser's line and column), identity, value filter,
    // watchdog default, MIME maps, bandwidth settings, listeners, core thread. Throws
    // CServerException with the user's message. `status` (not owned, may be null)
    // receives the overload and memory warnings and their daily reset. The listeners bind
    // `listenAddress`; 0.0.0.0, the default, is every interface.
    // Admitted connections go to `startConnection`.
    // `arrival` tells the listener when a connection's request has come (without it: its
    // first bytes); only then does the connection take a slot.
    explicit CServerCore(ConnectionStarter startConnection, CServerStatus* status = nullptr,
                         const CIPv4Address& listenAddress = CIPv4Address(),
                         CFastListener::ArrivalTest arrival = nullptr);
    // Stops the core thread, which closes the listeners and every connection. When that
    // thread already ended on an exception, stops the connections it left itself; the log
    // is flushed either way.
    ~CServerCore() override;

    // Views on the trees; they stay valid for the core's life.
    CConfigAccessor GetSettingAccessor() const { return settings_; }
    CConfigAccessor GetInfoAccessor() const { return serverInfo_; }
    CConfigClass& GetSettingTree() { return settingTree_; }
    CConfigClass& GetInfoTree() { return infoTree_; }
    CContextTree& GetContext() { return context_; }
    CServerLog& GetLog() { return log_; }
    CBandWidthManager& GetBandWidthManager() { return bandWidth_; }
    // The settings every request reads, built once before the core thread starts; valid
    // for the core's life, and read by any thread without a lock.
    const CCoreSettings& GetCoreSettings() const { return *coreSettings_; }
    // The settings as a request reads them: a snapshot of the settings tree as it stands
    // now, taken anew when the tree's write count has moved since the last one. Never
    // null; thread-safe. The caller must not hold the settings tree's lock.
    std::shared_ptr<const CSettingsSnapshot> GetSettingsSnapshot();
    // The info tree's ServerSignature ("Tarnwick" when it has none), which every answer's
    // Server header gives: read from the tree only when the tree was written since.
    std::string GetServerSignature();

    // The MIME and icon maps, loaded at the start (a change of the settings takes effect at
    // the next start) and never changed: any thread may look up with FindMimeType; a
    // lookup that reorders or caches runs on a copy of them. Never null.
    std::shared_ptr<const CMimeMaps> GetMimeMaps() const { return mimeMaps_; }
    // Request numbers 0, 1, 2 ... from each start; thread-safe.
    int NextRequestNumber();
    // CurrentConnection of ServerInfo: the connections whose sockets were open at the last
    // second's statistics.
    int GetCurrentConnection();
    int GetMaxConnections() const { return maxConnections_; }
    // Sets the status text and starts the 86400 s after which it returns to normal.
    // Thread-safe; takes no lock of the application's, only the status text's own.
    void SetWarningStatus(const std::string& text);

    // Asks the core thread to stop; a recovery pause in progress ends at once.
    void Stop() override;
    // Closes the socket being answered with 503, if any (watchdog thread).
    void OnTimeout() override;

    // For tests: the wall clock the warning's age is read from (seconds since 1970), and
    // the pauses before the listeners reopen after a listen error and after an overload
    // or memory exhaustion. Thread-safe; they apply from the next reading.
    void SetClock(std::function<int64_t()> secondsSince1970);
    void SetRecoveryPauses(int listenErrorMs, int overloadMs);

protected:
    void Run() override;

private:
    using WorkerList = std::vector<std::unique_ptr<CWorkerThread>>;

    // One pass of the main loop.
    void RunPass(CIntervalTimer& ticker);
    // Starts a worker for the socket; at the connection or per-host limit the socket waits
    // for a slot, or is answered 503.
    void AdmitConnection(std::unique_ptr<CTcpSocket> socket);
    // Starts workers for the sockets waiting for a slot that one has come free for, and
    // answers 503 to those whose wait is over.
    void AdmitWaitingSockets();
    // The answer at a limit, for a socket that could not be admitted.
    void Refuse(CTcpSocket& socket, CBandWidthManager::Admission verdict);
    // The listener's admission, on its threads: starts a worker at once when both limits
    // admit the socket; false leaves it to the core thread's queue (the refusals, and the
    // sockets that come before the core is ready).
    bool AdmitAtOnce(std::unique_ptr<CTcpSocket>& socket);
    // Holds a slot for `peer` until the socket closes and starts its worker.
    void StartWorker(std::unique_ptr<CTcpSocket> socket, const CIPv4Address& peer);
    // Destroys the workers whose threads have ended, outside the list's lock.
    void ReapWorkers();
    // The once-a-second duties.
    void OnTick();
    void PublishStatistics();
    // Throws CServerException with the listener's message (after logging it).
    void OpenListeners();
    // Stops the listeners, pauses, and opens them again unless a stop came meanwhile.
    void ReopenListenersAfter(int pauseMs);
    // false when the pause was cut short by a stop.
    bool Pause(int ms);
    // Sends `answer` to a plain socket (a secure one only closes) and closes it, armed.
    void SendRefusal(CTcpSocket& socket, const std::string& answer);
    // The refusal at the connection limit, logged and shown in the status text.
    void SendOverloadAnswer(CTcpSocket& socket);
    void StopConnections();

    ConnectionStarter startConnection_;
    CServerStatus* status_ = nullptr;
    int maxConnections_ = 0;
    std::atomic<int> requestCounter_{0};
    std::shared_ptr<const CMimeMaps> mimeMaps_;
    std::unique_ptr<const CCoreSettings> coreSettings_;
    std::mutex snapshotLock_;
    std::shared_ptr<const CSettingsSnapshot> snapshot_;  // under snapshotLock_
    std::mutex signatureLock_;
    bool signatureRead_ = false;     // under signatureLock_, as the two below
    uint64_t signatureWrites_ = 0;   // the info tree's write count when signature_ was read
    std::string signature_;
    CBandWidthManager bandWidth_;
    CFastListener listener_;
    CContextTree context_;
    CConfigClass settingTree_;
    CConfigClass infoTree_;
    CConfigAccessor settings_;
    CConfigAccessor serverInfo_;
    CServerLog log_;

    // The socket being answered with 503, for OnTimeout on the watchdog thread.
    std::mutex overloadLock_;
    CTcpSocket* overloadSocket_ = nullptr;

    // Lets a stop end a recovery pause.
    std::mutex stopLock_;
    std::condition_variable stopChanged_;

    // The warning's start (-1: none) and the clock it is read from.
    std::mutex warningLock_;
    int64_t lastWarning_ = 0;
    std::function<int64_t()> clock_;
    std::atomic<int> listenErrorPauseMs_;
    std::atomic<int> overloadPauseMs_;

    // Sockets that found the server or their host full while slots were held, oldest
    // first, each with the tick after which it is refused. Core thread only.
    struct WaitingSocket {
        std::unique_ptr<CTcpSocket> socket;
        CIPv4Address peer;
        uint64_t refuseAt = 0;
    };
    std::deque<WaitingSocket> waitingForSlot_;
    // Whether any socket waits there: a connection that gives its slot back then wakes the
    // core thread, and the listener queues newcomers behind them.
    std::atomic<bool> slotAwaited_{false};

    // Set once the members a worker reads are ready: the listener admits from then on.
    std::atomic<bool> admitting_{false};
    // Memory ran out while a listener thread admitted: the core thread recovers as from
    // its own shortage.
    std::atomic<bool> memoryShort_{false};
    // Connections closed since ended workers were last reaped.
    std::atomic<int> closedSinceReaping_{0};

    // Last, so that the workers, which use every member above, go first even when the
    // core thread left them behind. The core and the listener threads add and reap them.
    std::mutex workersLock_;
    WorkerList workers_;
};
