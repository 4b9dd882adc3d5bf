#pragma once
// The request driver: one request on a connection, from its header to the last byte of its
// answer. It receives and parses the header into the request's record, resolves the path,
// has the answer chosen (CResponseChooser) and sends it (CResponsePipeline), and answers
// what fails.
//
// A driver serves one request: the connection makes a new one for each, so that what
// belongs to a request (the bytes moved, the announced body, whether the connection must
// close after the answer) starts afresh with it. The connection keeps what outlives a
// request (the socket, its state record, the time-out, the keep-alive loop, the request's
// record and buffers) and reads the counts afterwards for the request's records.
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

#include "connection/ResponsePipeline.h"
#include "core/BandWidth.h"
#include "http/RequestPath.h"

#include "IPv4Address.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class CConnectionState;
class CRequestRecord;
class CServerCore;
class CTcpSocket;
class CTimeoutTarget;
class CWorkerThread;

class CRequestDriver {
public:
    // The bytes a refused client may still send while its answer stays readable: a little
    // more than a whole header that was too large.
    static constexpr int64_t kMaxRefusalDropBytes = 262144;

    // Nothing is owned; all outlive the driver. `connection` is armed around every wait
    // on the peer and is expected to abort `socket` when it times out; `state` polls
    // `connection`, `socket` and `thread`. The request header must be whole by the tick
    // `headerDeadline` (ms, the platform's GetTickCount64). `record` has begun the
    // request; `buffers` are the connection's; `settings` the settings the request reads
    // (the core's current snapshot).
    CRequestDriver(CServerCore* core, CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection,
                   const CWorkerThread& thread, uint64_t headerDeadline, CRequestRecord& record,
                   RequestBuffers& buffers, std::shared_ptr<const CSettingsSnapshot> settings);
    CRequestDriver(const CRequestDriver&) = delete;
    CRequestDriver& operator=(const CRequestDriver&) = delete;

    // Answers the request, recording its progress and outcome in the record; returns the
    // keep-alive flag the request asked for. Lets CServerFatalException out: from the
    // access checks on after answering it with the emergency page (or closing the socket
    // when part of an answer was out), before them unanswered.
    int ProcessRequest();

    // What the request moved, header and body, for the connection's records: valid after
    // ProcessRequest, also when it threw.
    int64_t GetBytesSent() const { return transfer_.bytesSent; }
    int64_t GetBytesReceived() const { return transfer_.bytesReceived; }
    // The answer left the connection unusable (an unread or cut body, a refused framing):
    // the connection closes after it, whatever keep-alive says.
    bool ClosesAfterResponse() const { return transfer_.closeAfterResponse; }
    // Part of the request body was neither read nor waited for: closing must first drop
    // what the client still sends, lest a reset destroy the answer.
    bool LeftBodyUnread() const { return transfer_.bodyLeftUnread; }

private:
    // Receives the request header and parses it into the record. A header refused for its
    // form is answered with its status and the connection is ended; then throws
    // CServerFatalException with the reason.
    void ReadRequest();
    // Sends the status page of a refused header, announcing the close, then closes.
    void RefuseRequest(int code, const std::string& info);
    // Ends the connection without a reset that could destroy an answer not yet read.
    void CloseGracefully();
    // Sends the emergency page with `message` and records the 500 in the request's record,
    // unless part of an answer went out: then only closes, and the record keeps the status
    // that answer gave.
    void FailRequest(const std::string& message);

    CServerCore* core_;  // not owned
    CTcpSocket& socket_;
    CConnectionState& state_;
    CTimeoutTarget& connection_;
    const CWorkerThread& thread_;
    uint64_t headerDeadline_;
    CRequestRecord& record_;
    RequestBuffers& buffers_;
    std::shared_ptr<const CSettingsSnapshot> settings_;
    CIPv4Address peer_;

    RequestTransfer transfer_;
    std::optional<CRequestPath> path_;
    std::optional<CBandWidthLimiter> limiter_;
    std::optional<CResponsePipeline> pipeline_;
};
