#pragma once
// The response pipeline: one answer on its way. It reads the request body into the
// response, builds it, sends the header block and the body, both under the bandwidth
// limits, with progress texts in the request's record.

#include "ByteBuffer.h"

#include <cstdint>
#include <memory>
#include <string>

class CBandWidthLimiter;
class CConnectionState;
class CRequestPath;
class CRequestRecord;
class CResponse;
class CTcpSocket;
class CTimeoutTarget;
class CTransferMeter;

// What one request moved over its connection, and what that leaves of the connection:
// read and written by the request's driver, its choice of answer and its pipeline.
struct RequestTransfer {
    int64_t bytesSent = 0;          // header and body bytes of the answers
    int64_t bytesReceived = 0;      // header and body bytes of the request
    int64_t bodyBytesReceived = 0;  // of the request body
    // The request body's bytes still owed to the connection: its announced length, or,
    // once the body is refused unread, what had come by then.
    int64_t bodyLength = 0;
    bool closeAfterResponse = false;  // the answer leaves the connection unusable
    bool bodyLeftUnread = false;      // a body still coming was not read
};

// Storage a connection lends each of its requests, so that what every request builds
// anew keeps its capacity from one request to the next.
struct RequestBuffers {
    std::string requestHeader;  // the header as received
    std::string answerHeader;   // the header block to send
    CByteBuffer chunk;          // a body chunk on its way out
    std::string logLine;        // the request-log line
};

class CResponsePipeline {
public:
    // Nothing is owned; all outlive the pipeline. `connection` is armed around every wait
    // on the peer and is expected to abort `socket` when it times out; `state` polls the
    // connection. The path's switch EnableBandWidthLimit puts the transfers under the
    // limiter's limits.
    CResponsePipeline(CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection,
                      CRequestRecord& record, const CRequestPath& path, CBandWidthLimiter& limiter,
                      RequestTransfer& transfer, RequestBuffers& buffers);
    CResponsePipeline(const CResponsePipeline&) = delete;
    CResponsePipeline& operator=(const CResponsePipeline&) = delete;

    // Answers with `response` (borrowed; the caller deletes it): reads the request body
    // into it (ReceiveBody), builds it, sends the header and, but for HEAD, the body;
    // returns null. When Build names a replacement, returns it (the caller owns it) with
    // nothing sent. Throws CServerFatalException when the peer goes or the network fails,
    // and whatever the response's own steps throw; once bytes of the answer are out
    // nothing else may be sent.
    std::unique_ptr<CResponse> Send(CResponse& response);
    // The fixed emergency page, then closes the socket; sent only while nothing of an
    // answer has gone out (otherwise it only closes).
    void SendInternalServerError(const std::string& message);

private:
    // Reads the rest of the announced body into the response under the path's receive
    // limit, sending "100 Continue" first when asked; the connection is armed with the
    // watchdog throughout. A response that reads no body (CResponse::ReadsBody) is given
    // none and not waited for: DropUnreadBody. Throws CServerFatalException when the peer
    // goes, the network fails or the connection is stopped.
    void ReceiveBody();
    // For a response that reads no body: drops the part of it already buffered, and marks
    // the connection to close after the answer when more of it is still to come.
    void DropUnreadBody();
    // Sends the response's body, at most `length` bytes, with the pending header in front
    // of its first chunk, under the path's send limit; a body that ends short or runs long
    // closes the connection after it. Throws CServerFatalException when the peer goes or
    // the network fails before the last announced byte.
    void SendBody(int64_t length);
    // Sends the rest of a file body by the system (plain sockets, no send limit); `sent`
    // counts the body bytes out so far.
    void SendBodyFile(int64_t length, int64_t& sent, CTransferMeter& meter);
    // Sends the header block Send left for the body's first chunk, if any.
    void SendPendingHeader();
    // Sleeps up to `ms` in slices that notice a time-out, a closed peer or a stop.
    void WaitForBandwidth(int64_t ms);

    CTcpSocket& socket_;
    CConnectionState& state_;
    CTimeoutTarget& connection_;
    CRequestRecord& record_;
    const CRequestPath& path_;
    CBandWidthLimiter& limiter_;
    RequestTransfer& transfer_;
    RequestBuffers& buffers_;
    CResponse* response_ = nullptr;  // the one being sent
};
