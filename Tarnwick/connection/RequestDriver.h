#pragma once
// The request driver: one request on a connection, from its header to the last byte of its
// answer. It receives and parses the header, resolves the path, applies the access checks,
// chooses the response, and runs it through the response pipeline: body in, build, header
// and body out, under the bandwidth limits, with progress texts in the request's Info leaf.
//
// A driver serves one request: the connection makes a new one for each, so that what
// belongs to a request (the bytes sent and received, the announced body length, whether
// the connection must close after the answer, the header held back for the body's first
// chunk) starts afresh with it. The connection keeps what outlives a request (the socket,
// its state record, the time-out, the keep-alive loop) and reads the counts afterwards
// for the request's records.
//
// Answers are chosen by return: each check and chooser gives the new response that
// answers, or null when it leaves the choice to the next one; the driver owns what it is
// given, sends it and deletes it. A response that finds in its constructor or its Build
// that it cannot answer (its file is missing, its validators still hold) names a status
// page as its replacement, which the driver takes and sends instead. Exceptions are for
// failures only: a CServerFatalException from the checks on is answered with the
// emergency 500 page; before them (header, parse, path) it is not answered and the
// connection closes. Memory exhaustion is answered like a CServerFatalException.
//
// Everything runs on the connection's own thread; nothing here takes a lock of its own
// (the core's trees and the bandwidth manager lock themselves). A CServerFatalException
// means the request failed: its message is all the client is shown; the message with its
// detail (the file and the system's reason) goes to the Info leaf and the system log.

#include "ConfigAccessor.h"
#include "http/ChunkedDecoder.h"

#include <cstdint>
#include <memory>
#include <string>

class CBandWidthLimiter;
class CByteBuffer;
class CConnectionState;
class CHttpRequest;
class CRequestPath;
class CResponse;
class CServerCore;
class CTcpSocket;
class CTimeoutTarget;
class CTransferMeter;
class CWorkerThread;

class CRequestDriver {
public:
    // The bytes a refused client may still send while its answer stays readable: a little
    // more than a whole header that was too large.
    static constexpr int64_t kMaxRefusalDropBytes = 262144;

    // Nothing is owned; all outlive the driver. `connection` is armed around every wait
    // on the peer and is expected to abort `socket` when it times out; `state` polls
    // `connection`, `socket` and `thread`. The request header must be whole by the tick
    // `headerDeadline` (ms, the platform's GetTickCount64).
    CRequestDriver(CServerCore* core, CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection,
                   const CWorkerThread& thread, uint64_t headerDeadline);
    CRequestDriver(const CRequestDriver&) = delete;
    CRequestDriver& operator=(const CRequestDriver&) = delete;

    // Answers one request, recording its progress and outcome under `threadView` (the
    // request's node "Threads::Thread_xxxx"); returns the keep-alive flag the request
    // asked for. Lets CServerFatalException out: from the access checks on after answering
    // it with the emergency page (or closing the socket when part of an answer was out),
    // before them unanswered.
    int ProcessRequest(const CConfigAccessor& threadView);

    // What the request moved, header and body, for the connection's records: valid after
    // ProcessRequest, also when it threw.
    int64_t GetBytesSent() const { return bytesSent_; }
    int64_t GetBytesReceived() const { return bytesReceived_; }
    // The answer left the connection unusable (an unread or cut body, a refused framing):
    // the connection closes after it, whatever keep-alive says.
    bool ClosesAfterResponse() const { return closeAfterResponse_; }
    // Part of the request body was neither read nor waited for: closing must first drop
    // what the client still sends, lest a reset destroy the answer.
    bool LeftBodyUnread() const { return bodyLeftUnread_; }

    // The answer to a parsed request, never null, decided in this order, the first that
    // decides winning: the body framing (400), a control byte in the path (400), a ".."
    // segment in the path of a write (400), the access checks, the method dispatch, the
    // path's redirect (301), its directory listing, CGI, SSI, and the file. The caller owns
    // the response; when the chosen response's constructor named a replacement, that one is
    // given instead, and when the chosen response reads a body whose announced length is
    // above its GetMaxBody, 413. A refused framing and a body too large to take mark the
    // connection to close after the answer. Throws CServerFatalException for a WebDAV
    // method that is not served, and what making a response throws.
    std::unique_ptr<CResponse> ChooseResponse(const CConfigAccessor& threadView, const CHttpRequest& request,
                                              const CRequestPath& path, const CBandWidthLimiter& limiter);

    // Answers with `response` (borrowed; the caller deletes it): reads the request body
    // into it (ReceiveBody), builds it, sends the header and, but for HEAD, the body;
    // returns null. When the body is refused or Build names a replacement, returns that
    // (the caller owns it) with nothing sent. Throws CServerFatalException when the peer goes or the network fails,
    // and whatever the response's own steps throw; once bytes of the answer are out
    // nothing else may be sent.
    std::unique_ptr<CResponse> SendResponse(const CConfigAccessor& threadView, const CHttpRequest& request,
                                            const CRequestPath& path, CBandWidthLimiter& limiter, CResponse& response);
    // The fixed emergency page, then closes the socket; sent only while nothing of an
    // answer has gone out (otherwise it only closes).
    void SendInternalServerError(const std::string& message);

private:
    // Receives the request header and parses it. A header refused for its form is
    // answered with its status and the connection is ended; then throws
    // CServerFatalException with the reason.
    CHttpRequest ReadRequest(const CConfigAccessor& threadView);
    // The request header, whole by the header deadline.
    std::string ReceiveHeader();
    // Sends the status page of a refused header, announcing the close, then closes.
    void RefuseRequest(const CConfigAccessor& threadView, int code, const std::string& info);
    // Ends the connection without a reset that could destroy an answer not yet read.
    void CloseGracefully();

    // ChooseResponse without the constructor's replacement.
    std::unique_ptr<CResponse> FirstToDecide(const CConfigAccessor& threadView, const CHttpRequest& request,
                                             const CRequestPath& path, const CBandWidthLimiter& limiter);
    // Takes the request's body framing: null, or the answer that refuses it (closing
    // after it).
    std::unique_ptr<CResponse> CheckBodyFraming(const CConfigAccessor& threadView, const CHttpRequest& request);
    // The access checks for this socket's peer and security: null when the request may go
    // on, else the refusal that AccessCheck.h lists (403, 401, 503).
    std::unique_ptr<CResponse> CheckAccess(const CConfigAccessor& threadView, const CHttpRequest& request,
                                           const CRequestPath& path, const CBandWidthLimiter& limiter);
    // The response for a method that is not a plain read (OPTIONS, PROPFIND, and the
    // writes where the path's options enable them); null for every other method. Throws
    // CServerFatalException for a WebDAV method that is not served.
    std::unique_ptr<CResponse> DispatchMethod(const CConfigAccessor& threadView, const CHttpRequest& request,
                                              const CRequestPath& path);
    // The next two only for an existing path whose options enable SSI/CGI.
    // A CCGIResponse when a CGI entry of the settings serves the path's file; null
    // otherwise. Sets the ScriptCommand leaf. The CGI answer keeps a reference to the
    // connection's state for its life.
    std::unique_ptr<CResponse> CheckCGI(const CConfigAccessor& threadView, const CHttpRequest& request,
                                        const CRequestPath& path);
    // A CSSIResponse when the path's extension is listed under SSI; null otherwise.
    std::unique_ptr<CResponse> CheckSSI(const CConfigAccessor& threadView, const CHttpRequest& request,
                                        const CRequestPath& path);

    // Reads the rest of the body into `response` (borrowed) under the path's receive limit,
    // sending "100 Continue" first when asked; the connection is armed with the watchdog
    // throughout. A chunked body is decoded as it comes, the response given its data only.
    // A response that reads no body (CResponse::ReadsBody) is given none and not waited
    // for: DropUnreadBody. Returns null, or the refusal of a chunked body whose framing
    // fails (400) or whose data grows above the response's GetMaxBody (413), after which
    // the connection closes. Throws CServerFatalException when the peer goes, the network
    // fails, the body comes too slowly or the connection is stopped.
    std::unique_ptr<CResponse> ReceiveBody(const CConfigAccessor& threadView, const CHttpRequest& request,
                                           const CRequestPath& path, CBandWidthLimiter& limiter, CResponse& response);
    // For a response that reads no body: drops the part of it already buffered, and marks
    // the connection to close after the answer when more of it is still to come.
    void DropUnreadBody();
    // Whether some of the body is still to be read.
    bool BodyRemains() const;
    // Decodes the chunked body's bytes buffered in the socket, taking them off it, with
    // their chunk data as `data`'s contents when given; returns the bytes taken.
    int TakeChunkedBody(CByteBuffer* data);
    // The rest of the body will not be read: the connection closes after the answer.
    void GiveUpBody();
    // Gives up the body and answers with the status page `code` and its reason.
    std::unique_ptr<CResponse> RefuseBody(const CConfigAccessor& threadView, int code, const char* info);
    // Sends `response`'s body (borrowed), at most `length` bytes, with the pending header
    // in front of its first chunk, under the path's send limit; a body that ends short or
    // runs long closes the connection after it. Throws CServerFatalException when the peer
    // goes or the network fails before the last announced byte.
    void SendBody(const CConfigAccessor& threadView, const CRequestPath& path, CBandWidthLimiter& limiter,
                  CResponse& response, int64_t length);
    // Sends the rest of a file body by the system (plain sockets, no send limit); `sent`
    // counts the body bytes out so far.
    void SendBodyFile(const CConfigAccessor& threadView, CResponse& response, int64_t length, int64_t& sent,
                      CTransferMeter& meter);
    // Sends the header block SendResponse left for the body's first chunk, if any.
    void SendPendingHeader();
    // Sends `count` bytes (every one, or false when the send fails), adding to the bytes
    // sent what the system took, the part of a failed send included.
    bool SendCounted(const char* bytes, int64_t count);
    // Sleeps up to `ms` in slices that notice a time-out, a closed peer or a stop.
    void WaitForBandwidth(int64_t ms);
    // Sends the emergency page with `message` and records the 500 in the request's view,
    // unless part of an answer went out: then only closes, and the request's view keeps
    // the status that answer gave.
    void FailRequest(const CConfigAccessor& threadView, const std::string& message);

    CServerCore* core_;  // not owned
    CTcpSocket& socket_;
    CConnectionState& state_;
    CTimeoutTarget& connection_;
    const CWorkerThread& thread_;
    uint64_t headerDeadline_;

    int64_t bytesSent_ = 0;
    int64_t bytesReceived_ = 0;
    int64_t bodyBytesReceived_ = 0;
    int64_t contentLength_ = 0;        // the request's announced body length
    bool chunked_ = false;             // the body is chunked; chunks_ reads it
    CChunkedDecoder chunks_;
    bool closeAfterResponse_ = false;  // the answer leaves the connection unusable
    bool bodyLeftUnread_ = false;      // a body still coming was not read
    std::string pendingHeader_;        // a header block not sent yet
};
