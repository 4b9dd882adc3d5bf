#pragma once
// The response pipeline: one answer on its way. It reads the request body into the
// response, builds it, sends the header block and the body, both under the bandwidth
// limits, with progress texts in the request's record.

#include "ByteBuffer.h"
#include "http/ChunkedDecoder.h"

#include <cstdint>
#include <memory>
#include <string>

class CBandWidthLimiter;
class CConnectionState;
class CRequestPath;
class CRequestRecord;
class CResponse;
class CServerCore;
class CTcpSocket;
class CTimeoutTarget;
class CTransferMeter;

// What one request moved over its connection, and what that leaves of the connection:
// read and written by the request's driver, its choice of answer and its pipeline.
struct RequestTransfer {
    int64_t bytesSent = 0;          // what the system took of the answers' sends
    int64_t bytesReceived = 0;      // header and body bytes of the request
    int64_t bodyBytesReceived = 0;  // of the request body as sent (a chunked one's framing too)
    // The Content-Length body's bytes owed to the connection: its announced length, or,
    // once the body is given up unread, what had come by then.
    int64_t bodyLength = 0;
    bool chunked = false;  // the body is chunked; `chunks` reads it
    CChunkedDecoder chunks;
    bool closeAfterResponse = false;  // the answer leaves the connection unusable
    bool bodyLeftUnread = false;      // a body still coming was not read

    // Whether some of the body is still to be read.
    bool BodyRemains() const { return chunked ? !chunks.IsDone() : bodyBytesReceived < bodyLength; }
    // The rest of the body will not be read: the connection closes after the answer.
    void GiveUpBody()
    {
        chunked = false;
        bodyLength = bodyBytesReceived;
        closeAfterResponse = true;
    }
};

// Gives up the request's body and answers with the status page `code` and its reason
// `info` (`core` and `record` as for CResponse); what the client still sends is dropped
// before the close.
std::unique_ptr<CResponse> RefuseBody(CServerCore* core, CRequestRecord& record, RequestTransfer& transfer, int code,
                                      const char* info);

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
    // Nothing is owned; all outlive the pipeline. `core` makes the status pages of a
    // refused body. `connection` is armed around every wait on the peer and is expected to
    // abort `socket` when it times out; `state` polls the connection. The path's switch
    // EnableBandWidthLimit puts the transfers under the limiter's limits.
    CResponsePipeline(CServerCore* core, CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection,
                      CRequestRecord& record, const CRequestPath& path, CBandWidthLimiter& limiter,
                      RequestTransfer& transfer, RequestBuffers& buffers);
    CResponsePipeline(const CResponsePipeline&) = delete;
    CResponsePipeline& operator=(const CResponsePipeline&) = delete;

    // Answers with `response` (borrowed; the caller deletes it): reads the request body
    // into it (ReceiveBody), builds it, sends the header and, but for HEAD, the body;
    // returns null. When the body is refused or Build names a replacement, returns that
    // (the caller owns it) with nothing sent. Throws CServerFatalException when the peer goes or the network fails,
    // and whatever the response's own steps throw; once bytes of the answer are out
    // nothing else may be sent.
    std::unique_ptr<CResponse> Send(CResponse& response);
    // The fixed emergency page, then closes the socket; sent only while nothing of an
    // answer has gone out (otherwise it only closes).
    void SendInternalServerError(const std::string& message);

private:
    // Reads the rest of the body into the response under the path's receive limit,
    // sending "100 Continue" first when asked; the connection is armed with the watchdog
    // throughout. A chunked body is decoded as it comes, the response given its data only.
    // A response that reads no body (CResponse::ReadsBody) is given none and not waited
    // for: DropUnreadBody. Returns null, or the refusal of a chunked body whose framing
    // fails (400) or whose data grows above the response's GetMaxBody (413), after which
    // the connection closes. Throws CServerFatalException when the peer goes, the network
    // fails, the body comes too slowly or the connection is stopped.
    std::unique_ptr<CResponse> ReceiveBody();
    // Decodes the chunked body's bytes buffered in the socket, taking them off it, with
    // their chunk data as `data`'s contents when given; returns the bytes taken.
    int TakeChunkedBody(CByteBuffer* data);
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
    // Sends `count` bytes (every one, or false when the send fails), adding to the bytes
    // sent what the system took, the part of a failed send included.
    bool SendCounted(const char* bytes, int64_t count);
    // Sleeps up to `ms` in slices that notice a time-out, a closed peer or a stop.
    void WaitForBandwidth(int64_t ms);

    CServerCore* core_;
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
