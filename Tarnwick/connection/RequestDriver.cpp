// The request driver: one request on a connection, from its header to the last byte of
// its answer.

#include "connection/RequestDriver.h"

#include "connection/ResponseChooser.h"

#include "ByteBuffer.h"
#include "core/ServerCore.h"
#include "http/ConnectionState.h"
#include "http/RequestHeader.h"
#include "http/RequestRecord.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "net/TcpSocket.h"
#include "thread/TimeoutWatcher.h"
#include "thread/WorkerThread.h"

#include "Clock.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// Waits for the client's close are cut into slices of this, so that a stop is noticed
// within one.
constexpr int kSliceMs = 20;
// A refused client has this long to read its answer before the connection is closed
// regardless; one that keeps sending past it is not owed a clean end.
constexpr uint64_t kRefusalLingerMs = 2000;

}  // namespace

CRequestDriver::CRequestDriver(CServerCore* core, CTcpSocket& socket, CConnectionState& state,
                               CTimeoutTarget& connection, const CWorkerThread& thread, uint64_t headerDeadline,
                               CRequestRecord& record, RequestBuffers& buffers,
                               std::shared_ptr<const CSettingsSnapshot> settings)
    : core_(core),
      socket_(socket),
      state_(state),
      connection_(connection),
      thread_(thread),
      headerDeadline_(headerDeadline),
      record_(record),
      buffers_(buffers),
      settings_(std::move(settings)),
      peer_(socket.GetPeerAddress())
{
}

void CRequestDriver::ReadRequest()
{
    try {
        const int64_t left = static_cast<int64_t>(headerDeadline_ - platform::GetTickCount64());
        ReceiveHeader(socket_, state_, connection_, transfer_.bytesReceived,
                      static_cast<int>(std::clamp<int64_t>(left, 1, kRequestHeaderDeadlineMs)),
                      buffers_.requestHeader);
        record_.ParseRequest(buffers_.requestHeader);
    } catch (const CRequestRefusal& refusal) {
        RefuseRequest(refusal.code, refusal.info);
        throw CServerFatalException{refusal.info};
    }
}

void CRequestDriver::RefuseRequest(int code, const std::string& info)
{
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    CSystemResponse response(core_, record_, info, code, kNoDetail);
    response.Build();
    CByteBuffer body;
    response.GetSendData(body);
    CResponseInfo& answer = record_.Response();
    answer.SetContentLength(response.GetContentLength());
    answer.AnnounceClose();
    std::string text = BuildHeaderText(answer);
    text.append(body.GetData(), static_cast<std::size_t>(body.GetLength()));
    if (socket_.SendAll(text) == 0)
        transfer_.bytesSent += static_cast<int64_t>(text.size());
    CloseGracefully();
}

void CRequestDriver::CloseGracefully()
{
    // Closing with received bytes unread makes the kernel reset the connection, and the
    // reset may destroy the answer before the client has read it (RFC 9112 9.6). So the
    // sending side ends first and what the client still sends is dropped until it closes.
    socket_.ShutdownSending();
    const uint64_t deadline = platform::GetTickCount64() + kRefusalLingerMs;
    char scratch[4096];
    for (int64_t dropped = 0;
         dropped < kMaxRefusalDropBytes && platform::GetTickCount64() < deadline && !thread_.IsStopRequested();) {
        if (!socket_.DataAvailable(int64_t{kSliceMs} * 1000))
            continue;
        const int n = socket_.Receive(scratch, sizeof scratch);
        if (n < 0)
            break;
        dropped += n;
    }
    socket_.Close();
}

int CRequestDriver::ProcessRequest()
{
    ReadRequest();
    const CHttpRequest& request = record_.GetRequest();
    path_.emplace(request.GetObject(), record_.GetTargetHost(), settings_, CRequestPath::Look::Open);
    limiter_.emplace(&core_->GetBandWidthManager(), peer_, record_.GetThreadName());
    pipeline_.emplace(core_, socket_, state_, connection_, record_, *path_, *limiter_, transfer_, buffers_);
    const int keepAlive = request.AsksKeepAlive() ? 1 : 0;

    // The answer being sent; replaced (and so deleted) when its Build names a status page
    // in its place.
    std::unique_ptr<CResponse> current;
    try {
        current = CResponseChooser(core_, record_, *path_, *limiter_, socket_.IsSecure() != 0, peer_, state_,
                                   transfer_)
                      .Choose();
        for (;;) {
            const CSystemResponse* statusPage = current->AsStatusPage();
            // RFC 9110 10.1.1: a refusal goes out before a body that was asked for with
            // "100-continue", which is never read; without it the connection cannot
            // carry another request.
            if (statusPage && transfer_.BodyRemains() && request.ExpectsContinue())
                transfer_.GiveUpBody();
            if (std::unique_ptr<CResponse> replacement = pipeline_->Send(*current)) {
                current = std::move(replacement);
                continue;
            }
            if (statusPage)
                record_.SetInfo(statusPage->GetInfo());
            else
                record_.SetInfo("正常に終了しました");
            current.reset();
            return keepAlive;
        }
    } catch (const CServerFatalException& e) {
        current.reset();
        FailRequest(e.message);
        // The page keeps the message alone; the file and the system's reason are for the
        // administrator, in the request's Info and the system log.
        if (!e.detail.empty())
            core_->GetLog().AddSystemLine("SystemError : %s", e.Describe().c_str());
        throw;
    } catch (const std::bad_alloc&) {
        current.reset();
        const std::string message = "リクエストの処理中に、メモリ不足が発生しました";
        FailRequest(message);
        throw CServerFatalException{message};
    }
}

void CRequestDriver::FailRequest(const std::string& message)
{
    // The client was given the status line already sent, cut short: the records say so.
    const bool answered = transfer_.bytesSent > 0;
    pipeline_->SendInternalServerError(message);
    if (!answered)
        record_.Response().SetCode(500);
}
