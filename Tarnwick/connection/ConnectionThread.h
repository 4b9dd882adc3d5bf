#pragma once
// One accepted connection, served on a thread of its own: the TLS handshake of an HTTPS
// socket, then requests for as long as keep-alive holds. For each request it opens a node
// "Threads::Thread_xxxx" in the context tree, lets the request driver answer it, records
// the sizes, writes the request-log line and moves the node to "ThreadLogs".
//
// The request driver (ProcessRequest and the response pipeline, defined in
// RequestDriver.cpp: they are this class's members, so they have no header of their own)
// decides answers by throwing: every check and chooser throws a pointer to a new response,
// which ProcessRequest's handlers own from the catch on, send and delete. A
// CServerFatalException from the access checks on is answered with the emergency 500
// page; before them (header, parse, path) it is not answered and the connection closes.

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "Template.h"
#include "http/ConnectionState.h"
#include "net/FastListener.h"
#include "thread/TimeoutWatcher.h"
#include "thread/WorkerThread.h"

#include <cstdint>
#include <memory>
#include <string>

class CBandWidthLimiter;
class CTransferMeter;
class CHttpRequest;
class CRequestPath;
class CResponse;
class CServerCore;
class CTcpSocket;

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

    // --- the request driver ---------------------------------------------------------
    // All on the connection's own thread; none takes a lock of its own (the core's trees
    // and the bandwidth manager lock themselves). A CServerFatalException from them means
    // the request failed: its message is all the client is shown; the message with its
    // detail (the file and the system's reason) goes to the Info leaf and the system log.
    // Answers one request; returns the keep-alive flag. Lets CServerFatalException out.
    int ProcessRequest(const CConfigAccessor& threadView);
    // The request header, whole by the header deadline (kRequestHeaderDeadlineMs).
    std::string ReceiveHeader();
    // Receives the request header into `header` and parses it. A header refused for its
    // form is answered with its status and the connection is ended; then throws
    // CServerFatalException with the reason.
    CHttpRequest ReadRequest(const CConfigAccessor& threadView, std::string& header);
    // The access checks for this socket's peer and security: returns when the request may
    // go on, else throws the new CSystemResponse that AccessCheck.h lists (403, 401, 503).
    void CheckAccess(const CConfigAccessor& threadView, const CHttpRequest& request,
                     const CRequestPath& path, const CBandWidthLimiter& limiter);
    // Throws a new response for a method that is not a plain read (OPTIONS, PROPFIND, and
    // the writes where the path's options enable them), CServerFatalException for a WebDAV
    // method not served; returns for every other method.
    void DispatchMethod(const CConfigAccessor& threadView, const CHttpRequest& request,
                        const CRequestPath& path);
    // Throws a new CCGIResponse when the path names a script that SSI/CGI options let run,
    // or a new 413 CSystemResponse (closing after it) when its announced body is above
    // CCGIResponse::kMaxRequestBody; returns otherwise. The CGI answer keeps a reference
    // to this connection's state for its life.
    void CheckCGI(const CConfigAccessor& threadView, const CHttpRequest& request, const CRequestPath& path);
    // Throws a new CSSIResponse when the path's extension is listed under SSI and the
    // options enable SSI/CGI; returns otherwise.
    void CheckSSI(const CConfigAccessor& threadView, const CHttpRequest& request, const CRequestPath& path);
    // Answers with `response` (borrowed; the caller deletes it): reads the request body
    // into it, builds it, sends the header and, but for HEAD, the body. Throws
    // CServerFatalException when the peer goes or the network fails, and whatever the
    // response's own steps throw; once bytes of the answer are out nothing else may be sent.
    void SendResponse(const CConfigAccessor& threadView, const CHttpRequest& request,
                      const CRequestPath& path, CBandWidthLimiter& limiter, CResponse& response);
    // Reads the rest of the announced body into `response` (borrowed) under the path's
    // receive limit, sending "100 Continue" first when asked; the socket is armed with the
    // watchdog throughout. Throws CServerFatalException when the peer goes, the network
    // fails or the connection is stopped.
    void ReceiveBody(const CConfigAccessor& threadView, const CHttpRequest& request,
                     const CRequestPath& path, CBandWidthLimiter& limiter, CResponse& response);
    // For a response that reads no body: drops the part of it already buffered, and marks
    // the connection to close after the answer when more of it is still to come.
    void DropUnreadBody();
    // Sends `response`'s body (borrowed), at most `length` bytes, with the pending header
    // in front of its first chunk, under the path's send limit; a body that ends short or
    // runs long closes the connection after it. Throws CServerFatalException when the peer
    // goes or the network fails before the last announced byte.
    void SendBody(const CConfigAccessor& threadView, const CHttpRequest& request, const CRequestPath& path,
                  CBandWidthLimiter& limiter, CResponse& response, int64_t length);
    // Sends the rest of a file body by the system (plain sockets, no send limit); `sent`
    // counts the body bytes out so far.
    void SendBodyFile(const CConfigAccessor& threadView, CResponse& response, int64_t length, int64_t& sent,
                      CTransferMeter& meter);
    // Sleeps up to `ms` in slices that notice a time-out, a closed peer or a stop.
    void WaitForBandwidth(int64_t ms);
    // The fixed emergency page; sent only while nothing of an answer has gone out.
    void SendInternalServerError(const std::string& message);
    // Sends the emergency page with `message` and records the 500 in the request's view.
    void FailRequest(const CConfigAccessor& threadView, const std::string& message);
    static std::string BuildHeaderText(const CConfigAccessor& responseView);
    // Sends the header block SendResponse left for the body's first chunk, if any.
    void SendPendingHeader();

    // --- per request, called by the worker loop -------------------------------------
    CConfigAccessor BeginThreadLog();
    void EndThreadLog(const CConfigAccessor& threadView);
    void UpdateTransferSizes(const CConfigAccessor& threadView);
    void WriteRequestLog(const CConfigAccessor& threadView);

    CConnectionState& GetState() { return state_; }

protected:
    void Run() override;

private:
    // Waits until the first request's bytes arrive: true, or false on time-out or stop.
    bool WaitForFirstRequest();
    // Milliseconds a request header may take: kRequestHeaderDeadlineMs, or the watchdog's
    // default when that is shorter.
    static int HeaderTimeLimitMs();
    // Sends the status page of a refused header, announcing the close.
    void RefuseRequest(const CConfigAccessor& threadView, int code, const std::string& info);
    // Ends the connection without a reset that could destroy an answer not yet read.
    void CloseGracefully();
    // Checks the framing of the request body; throws the answer that refuses it.
    void CheckBodyFraming(const CConfigAccessor& threadView, const std::string& header);

    CServerCore* core_;  // not owned
    std::unique_ptr<CTcpSocket> socket_;
    CConnectionState state_;
    // The node of the request in progress, "Threads::Thread_xxxx", listed in the core's
    // context tree until the request ends.
    CConfigClass requestTree_;
    int idleTimeMs_ = 0;
    int keepAlive_ = 0;
    int64_t bytesSent_ = 0;
    int64_t bytesReceived_ = 0;
    int64_t bodyBytesReceived_ = 0;
    int64_t contentLength_ = 0;       // the request's announced body length
    uint64_t headerDeadline_ = 0;     // the tick by which the coming request header is whole
    bool closeAfterResponse_ = false;  // the answer leaves the connection unusable
    bool bodyLeftUnread_ = false;      // a body still coming was not read
    std::string pendingHeader_;        // a header block not sent yet
    // The last request-log format as filtered, and its parse, which each line copies.
    std::string logFormat_;
    bool logFormatParsed_ = false;
    CTemplate logTemplate_;
};

// The core's ConnectionStarter: a CConnectionThread for the socket.
std::unique_ptr<CWorkerThread> StartConnectionThread(CServerCore& core, std::unique_ptr<CTcpSocket> socket);
// The listener's ArrivalTest: a request has come once its header is whole and, for the
// methods whose body a response reads (PUT, POST), once its body is whole or fills the
// buffer, unless its client waits for "100 Continue" first or the body is refused for its
// size. A header refused for its form or size has come too: the worker answers it.
CFastListener::Arrival RequestArrival(const char* bytes, size_t count, bool bufferFull);
