#pragma once
// One accepted connection, served on a thread of its own: the TLS handshake of an HTTPS
// socket, then requests for as long as keep-alive holds. For each request it opens a node
// "Threads::Thread_xxxx" in the context tree, lets the request driver answer it, records
// the sizes, writes the request-log line and moves the node to "ThreadLogs".
//
// The request itself is answered by a CRequestDriver (RequestDriver.h), one per request.

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "Template.h"
#include "connection/ResponsePipeline.h"
#include "core/SettingsSnapshot.h"
#include "http/ConnectionState.h"
#include "http/RequestRecord.h"
#include "net/FastListener.h"
#include "thread/TimeoutWatcher.h"
#include "thread/WorkerThread.h"

#include <cstdint>
#include <memory>
#include <string>

class CServerCore;
class CTcpSocket;

// What a connection builds up for its requests and hands on to a later connection when it
// ends: the record's facts, the buffers' capacity and the log format's parse, so that
// a connection of one request does not build them all anew.
struct ConnectionStorage {
    // Where the record writes its node when code asks for its view.
    CConfigClass requestTree;
    CRequestRecord record{&requestTree};
    RequestBuffers buffers;
    // The request-log format as last read and its parse, filled anew for every line. A
    // read gives the same text while the settings, the second and the information tree
    // stay (the value filter fills the time and the ServerInfo names); another core's
    // settings are read anew (logSecond -1).
    std::string logFormat;
    bool logFormatParsed = false;
    uint64_t logSettingsWrites = 0;
    int64_t logSecond = -1;
    uint64_t logInfoWrites = 0;
    CTemplate logTemplate;
};

class CConnectionThread : public CWorkerThread, public CTimeoutTarget {
public:
    // Takes the socket and starts the thread. Throws CConnectionException
    // ("スレッドの開始に失敗しました"), having closed the socket so the client is not
    // left waiting.
    CConnectionThread(CServerCore* core, std::unique_ptr<CTcpSocket> socket);
    // Stops the thread (closing the socket) and waits for it.
    ~CConnectionThread() override;

    // Aborts the socket, which breaks any blocking call of the thread, then asks it to stop.
    void Stop() override;
    // Watchdog thread: aborts the socket.
    void OnTimeout() override;

    // The TLS handshake on a secure socket, unless the listener has done it: 0, or -1 when
    // it failed.
    int Handshake();

    // --- per request, called by the worker loop -------------------------------------
    // Begins the record of a request and lists its node "Threads::Thread_xxxx" in the
    // core's context tree until EndThreadLog moves it to ThreadLogs.
    void BeginThreadLog();
    void EndThreadLog();
    // Adds what the request moved to the bandwidth manager's traffic and records it:
    // RecvSize, SendSize and their sum, Size.
    void UpdateTransferSizes(int64_t bytesSent, int64_t bytesReceived);
    // The request-log line, in Log::LogFormatNoTime, from the record's leaves; never shows
    // the password or the Authorization header.
    void WriteRequestLog();

protected:
    void Run() override;

private:
    // Waits until the first request's bytes arrive: true, or false on time-out or stop.
    bool WaitForFirstRequest();
    // Milliseconds a request header may take: kRequestHeaderDeadlineMs, or the watchdog's
    // default when that is shorter.
    static int HeaderTimeLimitMs();

    CServerCore* core_;  // not owned
    std::unique_ptr<CTcpSocket> socket_;
    CConnectionState state_;
    // Parses the request-log format anew when a read of it would give another text.
    void PrepareLogTemplate();

    // Taken from the storage of ended connections when there is one; handed back at the
    // end unless a request of this connection is still listed in the context tree.
    std::unique_ptr<ConnectionStorage> storage_;
    CRequestRecord& record_;
    RequestBuffers& buffers_;
    bool listed_ = false;  // between BeginThreadLog and EndThreadLog
    // The settings as the last request read them, taken anew when the tree has changed.
    std::shared_ptr<const CSettingsSnapshot> settings_;
    int idleTimeMs_ = 0;
    int keepAlive_ = 0;
    uint64_t headerDeadline_ = 0;  // the tick by which the coming request header is whole
};

// The core's ConnectionStarter: a CConnectionThread for the socket.
std::unique_ptr<CWorkerThread> StartConnectionThread(CServerCore& core, std::unique_ptr<CTcpSocket> socket);
// The listener's ArrivalTest: a request has come once its header is whole and, for the
// methods whose body a response reads (PUT, POST), once its body is whole or fills the
// buffer, unless its client waits for "100 Continue" first or the body is refused for its
// size. A header refused for its form or size has come too: the worker answers it.
CFastListener::Arrival RequestArrival(const char* bytes, size_t count, bool bufferFull);
