// The request driver: one request on a connection, from its header to the last byte of
// its answer. The checks and choosers return the answer they decide on; the response
// pipeline streams bodies in chunks under the bandwidth limits.

#include "connection/RequestDriver.h"

#include "ByteBuffer.h"
#include "FilePath.h"
#include "IntervalTimer.h"
#include "SettingsSchema.h"
#include "core/BandWidth.h"
#include "core/ServerCore.h"
#include "http/AccessCheck.h"
#include "http/ConnectionState.h"
#include "http/HttpRequest.h"
#include "http/NormalResponse.h"
#include "http/RequestHeader.h"
#include "http/RequestPath.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "net/FastListener.h"
#include "net/TcpSocket.h"
#include "responses/CGIProgram.h"
#include "responses/CGIResponse.h"
#include "responses/DavPropfindResponse.h"
#include "responses/DirectoryResponse.h"
#include "responses/FileDeleteResponse.h"
#include "responses/FileMoveResponse.h"
#include "responses/FilePutResponse.h"
#include "responses/FileResponse.h"
#include "responses/OptionsResponse.h"
#include "responses/SSIResponse.h"
#include "thread/TimeoutWatcher.h"
#include "thread/WorkerThread.h"

#include "Clock.h"
#include "CRuntime.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Waits for body bytes and for the bandwidth limit are cut into slices of this, so that a
// time-out, a closed peer or a stop is noticed within one.
constexpr int kSliceMs = 20;
// The pipeline sends bodies in chunks of this size: several full segments per send, yet
// fine enough for the bandwidth pacing and the checks between chunks.
constexpr int32_t kSendChunk = 32768;
// Without a bandwidth limit the pieces of a file body are not seen on the wire: larger
// ones mean fewer calls and checks per byte.
constexpr int64_t kFileSendChunk = 262144;
// The progress text in the request's Info leaf changes at most this often: as fast as a
// person watching it can read, and every change takes the context tree's lock.
constexpr int kProgressIntervalMs = 1000;
const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
const char kBadChunks[] = "chunked 形式の本文が異常です";
// A refused client has this long to read its answer before the connection is closed
// regardless; one that keeps sending past it is not owed a clean end.
constexpr uint64_t kRefusalLingerMs = 2000;

void Sleep(int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// "受信中 : 1K/4K [25%] (12.0K/Sec)": kilobytes done and in all, whole ones.
std::string ProgressText(const char* verb, int64_t done, int64_t total, int64_t rate, int32_t limit)
{
    const int64_t percent = total > 0 ? done * 100 / total : 100;
    constexpr int64_t kKilobyte = 1024;
    char text[160];
    if (limit > 0)
        std::snprintf(text, sizeof text, "%s : %" PRId64 "K/%" PRId64 "K [%" PRId64 "%%] (%0.1fK/S, Limit: %0.1fK/S)",
                      verb, done / kKilobyte, total / kKilobyte, percent, rate / 1024.0, limit / 1024.0);
    else
        std::snprintf(text, sizeof text, "%s : %" PRId64 "K/%" PRId64 "K [%" PRId64 "%%] (%0.1fK/Sec)", verb,
                      done / kKilobyte, total / kKilobyte, percent, rate / 1024.0);
    return text;
}

}  // namespace

CRequestDriver::CRequestDriver(CServerCore* core, CTcpSocket& socket, CConnectionState& state,
                               CTimeoutTarget& connection, const CWorkerThread& thread, uint64_t headerDeadline)
    : core_(core),
      socket_(socket),
      state_(state),
      connection_(connection),
      thread_(thread),
      headerDeadline_(headerDeadline)
{}

std::string CRequestDriver::ReceiveHeader()
{
    const int64_t left = static_cast<int64_t>(headerDeadline_ - platform::GetTickCount64());
    return ::ReceiveHeader(socket_, state_, connection_, bytesReceived_,
                           static_cast<int>(std::clamp<int64_t>(left, 1, kRequestHeaderDeadlineMs)));
}

CHttpRequest CRequestDriver::ReadRequest(const CConfigAccessor& threadView)
{
    try {
        CHttpRequest request(ReceiveHeader(), threadView.GetSubAccessor("RequestInfo"));
        request.CheckHostLines();
        return request;
    } catch (const CRequestRefusal& refusal) {
        RefuseRequest(threadView, refusal.code, refusal.info);
        throw CServerFatalException{refusal.info};
    }
}

void CRequestDriver::RefuseRequest(const CConfigAccessor& threadView, int code, const std::string& info)
{
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    CSystemResponse response(core_, threadView, info, code, kNoDetail);
    response.Build();
    CByteBuffer body;
    response.GetSendData(body);
    response.GetResponseInfo().GetSubAccessor("Options").SetInt64("Content-Length", response.GetContentLength());
    AnnounceClose(response.GetResponseInfo());
    std::string answer = BuildHeaderText(response.GetResponseInfo());
    answer.append(body.GetData(), static_cast<std::size_t>(body.GetLength()));
    if (socket_.SendAll(answer) == 0)
        bytesSent_ += static_cast<int64_t>(answer.size());
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

std::unique_ptr<CResponse> CRequestDriver::CheckAccess(const CConfigAccessor& threadView, const CHttpRequest& request,
                                                       const CRequestPath& path, const CBandWidthLimiter& limiter)
{
    return ::CheckAccess(core_, threadView, request, path, limiter, socket_.IsSecure(), socket_.GetPeerAddress());
}

std::unique_ptr<CResponse> CRequestDriver::CheckBodyFraming(const CConfigAccessor& threadView,
                                                            const CHttpRequest& request)
{
    const BodyFraming& framing = request.GetBodyFraming();
    contentLength_ = framing.contentLength;
    chunked_ = framing.chunked;
    if (framing.refusal == 0)
        return nullptr;
    // A body that is not read leaves the connection at an unknown place in the stream.
    closeAfterResponse_ = true;
    return std::make_unique<CSystemResponse>(core_, threadView, framing.reason, framing.refusal, kNoDetail);
}

std::unique_ptr<CResponse> CRequestDriver::ChooseResponse(const CConfigAccessor& threadView,
                                                          const CHttpRequest& request, const CRequestPath& path,
                                                          const CBandWidthLimiter& limiter)
{
    std::unique_ptr<CResponse> chosen = FirstToDecide(threadView, request, path, limiter);
    // A response whose constructor found that it cannot answer has named the one that does.
    if (std::unique_ptr<CResponse> replacement = chosen->TakeReplacement())
        return replacement;
    // Refused before a byte of it is read; a chunked body is measured as it comes.
    if (chosen->ReadsBody() && contentLength_ > chosen->GetMaxBody())
        return RefuseBody(threadView, 413, kBodyTooLarge);
    return chosen;
}

std::unique_ptr<CResponse> CRequestDriver::FirstToDecide(const CConfigAccessor& threadView, const CHttpRequest& request,
                                                         const CRequestPath& path, const CBandWidthLimiter& limiter)
{
    if (std::unique_ptr<CResponse> refusal = CheckBodyFraming(threadView, request))
        return refusal;
    if (request.PathHoldsControlByte() || path.HoldsControlByte())
        return std::make_unique<CSystemResponse>(core_, threadView, kMalformedUrl, 400, kNoDetail);
    // The object collapses "/a/b/.." to "/a/b/" rather than resolve it: a write would change
    // what the client did not name.
    if (request.IsWrite() && request.PathHoldsDotDot())
        return std::make_unique<CSystemResponse>(core_, threadView, kMalformedUrl, 400, kNoDetail);
    if (std::unique_ptr<CResponse> refusal = CheckAccess(threadView, request, path, limiter))
        return refusal;
    if (std::unique_ptr<CResponse> response = DispatchMethod(threadView, request, path))
        return response;
    if (path.IsRedirect()) {
        auto redirect = std::make_unique<CSystemResponse>(
            core_, threadView, path.GetRedirectLocation() + " に移動してください", 301, kNoDetail);
        redirect->GetResponseInfo().GetSubAccessor("Options").SetString("Location", path.GetRedirectLocation());
        return redirect;
    }
    if (path.IsDirectory())
        return std::make_unique<CDirectoryResponse>(core_, threadView, request, path);
    // Read once for both: most requests are for plain files on paths that run nothing.
    if (path.Exists() && schema::kEnableSsiCgi.ReadIn(path.GetOptions()) != 0) {
        if (std::unique_ptr<CResponse> response = CheckCGI(threadView, request, path))
            return response;
        if (std::unique_ptr<CResponse> response = CheckSSI(threadView, request, path))
            return response;
    }
    return std::make_unique<CFileResponse>(core_, threadView, request, path);
}

int CRequestDriver::ProcessRequest(const CConfigAccessor& threadView)
{
    const CIPv4Address peer = socket_.GetPeerAddress();
    threadView.SetString("Host", peer.ToString());
    const CHttpRequest request = ReadRequest(threadView);
    // RFC 9110 5.1: field names are case-insensitive.
    const std::string host = request.GetHeader("Host");
    threadView.SetString("TargetHost", host);
    const CRequestPath path(request.GetObject(), host, core_->GetSettingAccessor());
    CBandWidthLimiter limiter(&core_->GetBandWidthManager(), peer, threadView.GetString("ThreadName", ""));
    const int keepAlive = platform::_mbsicmp(request.GetHeader("Connection"), "keep-alive") == 0 ? 1 : 0;

    // The answer being sent; replaced (and so deleted) when its Build names a status page
    // in its place.
    std::unique_ptr<CResponse> current;
    try {
        current = ChooseResponse(threadView, request, path, limiter);
        for (;;) {
            const CSystemResponse* statusPage = current->AsStatusPage();
            // RFC 9110 10.1.1: a refusal goes out before a body that was asked for with
            // "100-continue", which is never read; without it the connection cannot
            // carry another request.
            if (statusPage && BodyRemains() && request.GetBodyFraming().expectsContinue)
                GiveUpBody();
            if (std::unique_ptr<CResponse> replacement = SendResponse(threadView, request, path, limiter, *current)) {
                current = std::move(replacement);
                continue;
            }
            if (statusPage)
                threadView.SetString("Info", statusPage->GetInfo());
            else
                threadView.SetString("Info", "正常に終了しました");
            current.reset();
            return keepAlive;
        }
    } catch (const CServerFatalException& e) {
        current.reset();
        FailRequest(threadView, e.message);
        // The page keeps the message alone; the file and the system's reason are for the
        // administrator, in the request's Info and the system log.
        if (!e.detail.empty())
            core_->GetLog().AddSystemLine("SystemError : %s", e.Describe().c_str());
        throw;
    } catch (const std::bad_alloc&) {
        current.reset();
        const std::string message = "リクエストの処理中に、メモリ不足が発生しました";
        FailRequest(threadView, message);
        throw CServerFatalException{message};
    }
}

void CRequestDriver::FailRequest(const CConfigAccessor& threadView, const std::string& message)
{
    // The client was given the status line already sent, cut short: the records say so.
    const bool answered = bytesSent_ > 0;
    SendInternalServerError(message);
    if (answered)
        return;
    threadView.SetInt("ResponseInfo::ResponseCode", 500);
    threadView.SetString("ResponseInfo::ResponseText", "500 Internal Server Error");
}

std::unique_ptr<CResponse> CRequestDriver::DispatchMethod(const CConfigAccessor& threadView,
                                                          const CHttpRequest& request, const CRequestPath& path)
{
    const std::string& method = request.GetMethod();  // exact case, as sent
    if (method == "OPTIONS")
        return std::make_unique<COptionsResponse>(core_, threadView, request, path);
    // Each option is read only for the methods it governs: a plain read needs neither.
    // The access checks read the Options node before, so a read skipped here creates nothing.
    const bool propfind = method == "PROPFIND";
    if ((propfind || method == "PROPPATCH" || method == "LOCK" || method == "UNLOCK") &&
        schema::kEnableWebDav.ReadIn(path.GetOptions()) != 0) {
        if (propfind)
            return std::make_unique<CDAVPropfindResponse>(core_, threadView, request, path, socket_.IsSecure(),
                                                          socket_.GetPeerAddress());
        throw CServerFatalException{"サポートしていません"};
    }
    const bool put = method == "PUT" || method == "MKCOL";
    const bool remove = method == "DELETE";
    if (!put && !remove && method != "COPY" && method != "MOVE")
        return nullptr;
    if (schema::kEnableWrite.ReadIn(path.GetOptions()) == 0)
        return nullptr;
    if (put)
        return std::make_unique<CFilePutResponse>(core_, threadView, request, path);
    if (remove)
        return std::make_unique<CFileDeleteResponse>(core_, threadView, request, path);
    return std::make_unique<CFileMoveResponse>(core_, threadView, request, path, state_);
}

std::unique_ptr<CResponse> CRequestDriver::CheckCGI(const CConfigAccessor& threadView, const CHttpRequest& request,
                                                    const CRequestPath& path)
{
    const std::string command = MakeCommandLine(core_, path.GetLocalPath(), request.GetQueryDecoded());
    if (command.empty())
        return nullptr;
    threadView.SetString("ScriptCommand", command);
    return std::make_unique<CCGIResponse>(core_, threadView, request, path, state_);
}

std::unique_ptr<CResponse> CRequestDriver::CheckSSI(const CConfigAccessor& threadView, const CHttpRequest& request,
                                                    const CRequestPath& path)
{
    const std::string extension = GetFileExtension(path.GetLocalPath());
    std::vector<CConfigLeaf> extensions;
    core_->GetSettingAccessor().GetSubAccessor(schema::kSsi.path).GetLeaves(extensions);
    for (const CConfigLeaf& listed : extensions)
        if (platform::_mbsicmp(extension, listed.value) == 0)
            return std::make_unique<CSSIResponse>(core_, threadView, request, path, state_);
    return nullptr;
}

std::unique_ptr<CResponse> CRequestDriver::SendResponse(const CConfigAccessor& threadView, const CHttpRequest& request,
                                                        const CRequestPath& path, CBandWidthLimiter& limiter,
                                                        CResponse& response)
{
    threadView.SetString("Info", "レスポンスデータの前処理中...");
    response.BeginReceive();
    if (std::unique_ptr<CResponse> refusal = ReceiveBody(threadView, request, path, limiter, response))
        return refusal;
    threadView.SetString("Info", "レスポンスデータの生成中...");
    response.Build();
    if (std::unique_ptr<CResponse> replacement = response.TakeReplacement())
        return replacement;
    const CConfigAccessor info = response.GetResponseInfo();
    const int64_t length = response.GetContentLength();
    info.GetSubAccessor("Options").SetInt64("Content-Length", length);
    if (closeAfterResponse_)
        AnnounceClose(info);
    pendingHeader_ = BuildHeaderText(info);
    threadView.SetString("Info", "ヘッダーの送信中です...");
    // A body's first chunk leaves together with the header: one send, one packet.
    if (request.GetMethod() == "HEAD" || length <= 0)
        SendPendingHeader();
    if (request.GetMethod() != "HEAD")
        SendBody(threadView, path, limiter, response, length);
    return nullptr;
}

void CRequestDriver::SendPendingHeader()
{
    if (pendingHeader_.empty())
        return;
    const std::string header = std::move(pendingHeader_);
    pendingHeader_.clear();
    if (!SendCounted(header.data(), static_cast<int64_t>(header.size())))
        throw CServerFatalException{"ヘッダー送信中に切断もしくはネットワークエラーが発生しました"};
}

bool CRequestDriver::SendCounted(const char* bytes, int64_t count)
{
    const int64_t before = socket_.GetBytesSent();
    const bool sent = socket_.SendAll(bytes, static_cast<int>(count)) == 0;
    bytesSent_ += socket_.GetBytesSent() - before;
    return sent;
}

std::unique_ptr<CResponse> CRequestDriver::ReceiveBody(const CConfigAccessor& threadView, const CHttpRequest& request,
                                                       const CRequestPath& path, CBandWidthLimiter& limiter,
                                                       CResponse& response)
{
    threadView.SetString("Info", "データの受信を開始しています...");
    if (!response.ReadsBody()) {
        DropUnreadBody();
        return nullptr;
    }
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    // RFC 9110 15.2.1: the interim answer is not counted as sent, so that the emergency
    // page may still follow it.
    if (BodyRemains() && bodyBytesReceived_ == 0 && request.GetBodyFraming().expectsContinue &&
        socket_.SendAll(std::string(kContinue)) != 0)
        throw CServerFatalException{"ヘッダー送信中に切断もしくはネットワークエラーが発生しました"};
    // The receive limit governs only the loop below: without a body it is not looked up.
    if (BodyRemains())
        limiter.SetRecvLimiting(schema::kEnableBandWidthLimit.ReadIn(path.GetOptions()));
    // The body's bytes as the response gets them: a chunked body's data, not its framing.
    const auto taken = [this] { return chunked_ ? chunks_.GetDecodedLength() : bodyBytesReceived_; };
    const int64_t takenBefore = taken();
    const int64_t total = contentLength_ - bodyBytesReceived_;  // a chunked body's is known at its end
    CByteBuffer buffer;
    CTransferMeter meter;
    CIntervalTimer progress(kProgressIntervalMs);
    // The start of the body's current rate window, and what had come by then.
    uint64_t windowStart = platform::GetTickCount64();
    int64_t windowTaken = takenBefore;
    while (BodyRemains()) {
        if (socket_.Fill() < 0)
            throw CServerFatalException{"データ受信中に切断もしくはネットワークエラーが発生しました"};
        const int buffered = socket_.GetBufferedCount();
        const int64_t remaining = contentLength_ - bodyBytesReceived_;
        int32_t n = 0;  // the bytes taken off the wire this round
        if (chunked_) {
            n = buffered > 0 ? TakeChunkedBody(&buffer) : 0;
            if (chunks_.HasFailed())
                return RefuseBody(threadView, 400, kBadChunks);
            if (chunks_.GetDecodedLength() > response.GetMaxBody())
                return RefuseBody(threadView, 413, kBodyTooLarge);
        } else if (buffered >= CTcpSocket::kReceiveBufferSize || buffered >= remaining) {
            // Whole buffers or the rest: the response gets chunks of 65536 bytes and a last one.
            n = static_cast<int32_t>(std::min<int64_t>(buffered, remaining));
            buffer.SetLength(n);
            if (socket_.Receive(buffer.GetData(), n) != n)
                throw CServerFatalException{"データ受信中に切断もしくはネットワークエラーが発生しました"};
        }
        if (n == 0) {
            // Waits at most one slice, but no longer than the next bytes take to come.
            socket_.ReadableWithin(int64_t{kSliceMs} * 1000);
        } else {
            if (buffer.GetLength() > 0)
                response.ReceiveData(buffer);
            bytesReceived_ += n;
            bodyBytesReceived_ += n;
            WaitForBandwidth(meter.GetWaitTime(limiter.GetRecvLimit(), n));
            meter.AddSample();
            if (progress.IsElapsed()) {
                const int64_t done = taken() - takenBefore;
                threadView.SetString("Info", ProgressText("受信中", done, chunked_ ? done : total, meter.GetRate(),
                                                          limiter.GetRecvLimit()));
            }
            connection_.Arm(0);
        }
        if (state_.GetSocketStateText())
            throw CServerFatalException{"データ受信中に" + state_.GetText()};
        // A body that trickles would hold the connection's slot for the whole time-out.
        const uint64_t now = platform::GetTickCount64();
        if (now - windowStart >= static_cast<uint64_t>(CFastListener::kBodyRateWindowMs)) {
            if (CFastListener::BodyTooSlow(taken() - windowTaken, now - windowStart))
                throw CServerFatalException{"データ受信中にタイムアウトしました"};
            windowStart = now;
            windowTaken = taken();
        }
    }
    limiter.SetRecvLimiting(0);
    return nullptr;
}

bool CRequestDriver::BodyRemains() const { return chunked_ ? !chunks_.IsDone() : bodyBytesReceived_ < contentLength_; }

int CRequestDriver::TakeChunkedBody(CByteBuffer* data)
{
    if (data)
        data->SetLength(0);
    const std::string_view input(socket_.GetBufferedBytes(), static_cast<std::size_t>(socket_.GetBufferedCount()));
    const std::size_t taken = chunks_.Decode(input, [data](std::string_view run) {
        if (data)
            data->Append(run.data(), static_cast<int32_t>(run.size()));
    });
    return socket_.Discard(static_cast<int>(taken));
}

void CRequestDriver::GiveUpBody()
{
    chunked_ = false;
    contentLength_ = bodyBytesReceived_;
    closeAfterResponse_ = true;
}

std::unique_ptr<CResponse> CRequestDriver::RefuseBody(const CConfigAccessor& threadView, int code, const char* info)
{
    GiveUpBody();
    // What the client still sends is dropped before the close, lest a reset destroy the answer.
    bodyLeftUnread_ = true;
    return std::make_unique<CSystemResponse>(core_, threadView, info, code, kNoDetail);
}

void CRequestDriver::DropUnreadBody()
{
    // What has come already is taken, so that a short body leaves the connection usable.
    const int n = chunked_ ? TakeChunkedBody(nullptr)
                           : socket_.Discard(static_cast<int>(
                                 std::min<int64_t>(contentLength_ - bodyBytesReceived_, socket_.GetBufferedCount())));
    bytesReceived_ += n;
    bodyBytesReceived_ += n;
    // The rest is not waited for: the answer goes out now, and only closing the connection
    // after it tells where the request ended.
    if (BodyRemains()) {
        closeAfterResponse_ = true;
        bodyLeftUnread_ = true;
    }
}

void CRequestDriver::SendBody(const CConfigAccessor& threadView, const CRequestPath& path, CBandWidthLimiter& limiter,
                              CResponse& response, int64_t length)
{
    threadView.SetString("Info", "データの送信を開始しています...");
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    limiter.SetSendLimiting(schema::kEnableBandWidthLimit.ReadIn(path.GetOptions()));
    CByteBuffer buffer(kSendChunk);
    CTransferMeter meter;
    CIntervalTimer progress(kProgressIntervalMs);
    int64_t sent = 0;
    int n = 0;
    // An answer longer than one chunk takes several writes; held back together, they
    // leave in full segments rather than a short one at the end of every write.
    std::optional<CSocketCork> cork;
    if (length > kSendChunk)
        cork.emplace(socket_);
    try {
        n = response.GetSendData(buffer);
    } catch (...) {
        SendPendingHeader();  // the header goes out before the failure, as without a body
        throw;
    }
    for (; n > 0; n = response.GetSendData(buffer)) {
        // Never more than the Content-Length announced: a body that grew is cut there,
        // and the connection cannot carry another request after it.
        int64_t toSend = n < buffer.GetLength() ? n : buffer.GetLength();
        if (sent + toSend > length) {
            toSend = length - sent;
            closeAfterResponse_ = true;
        }
        if (!pendingHeader_.empty()) {
            if (toSend > 0 && buffer.GetLength() > 0)
                pendingHeader_.append(buffer.GetData(), static_cast<size_t>(toSend));
            else
                toSend = 0;
            SendPendingHeader();
            sent += toSend;
        } else if (toSend > 0 && buffer.GetLength() > 0) {
            if (!SendCounted(buffer.GetData(), toSend))
                throw CServerFatalException{"データ送信中に切断もしくはネットワークエラーが発生しました"};
            sent += toSend;
        }
        // Once every announced byte is out the answer is whole, and a client that hangs up
        // right after reading it has not cut it short.
        if (sent < length && state_.GetSocketStateText())
            throw CServerFatalException{"データ送信中に" + state_.GetText()};
        if (sent >= length && closeAfterResponse_)
            break;
        WaitForBandwidth(meter.GetWaitTime(limiter.GetSendLimit(), static_cast<int32_t>(toSend)));
        meter.AddSample();
        if (progress.IsElapsed())
            threadView.SetString("Info", ProgressText("送信中", sent, length, meter.GetRate(), limiter.GetSendLimit()));
        connection_.Arm(0);
        // Past the first chunk, an unlimited file body is sent by the system, uncopied.
        int64_t fileOffset = 0;
        int64_t fileRemaining = 0;
        if (sent < length && limiter.GetSendLimit() <= 0 && !socket_.IsSecure() &&
            response.GetBodyFile(fileOffset, fileRemaining) >= 0) {
            SendBodyFile(threadView, response, length, sent, meter);
            break;
        }
        buffer.SetLength(kSendChunk);
    }
    SendPendingHeader();  // a body that yielded nothing
    // A body that ended short of its announced length leaves the client waiting for the
    // rest; only closing the connection tells it.
    if (sent < length)
        closeAfterResponse_ = true;
    limiter.SetSendLimiting(0);
}

void CRequestDriver::SendBodyFile(const CConfigAccessor& threadView, CResponse& response, int64_t length, int64_t& sent,
                                  CTransferMeter& meter)
{
    CIntervalTimer progress(kProgressIntervalMs);
    int64_t offset = 0;
    int64_t remaining = 0;
    const int fd = response.GetBodyFile(offset, remaining);
    while (sent < length && remaining > 0) {
        int64_t want = length - sent < remaining ? length - sent : remaining;
        if (want > kFileSendChunk)
            want = kFileSendChunk;
        const int64_t before = socket_.GetBytesSent();
        const int64_t n = socket_.SendFile(fd, offset, want);
        bytesSent_ += socket_.GetBytesSent() - before;
        if (n < 0)
            throw CServerFatalException{"データ送信中に切断もしくはネットワークエラーが発生しました"};
        response.SkipBodyFile(n);
        offset += n;
        remaining -= n;
        sent += n;
        if (n < want)
            return;  // the file shrank: the short body closes the connection
        if (sent < length && state_.GetSocketStateText())
            throw CServerFatalException{"データ送信中に" + state_.GetText()};
        meter.GetWaitTime(0, static_cast<int32_t>(n));
        meter.AddSample();
        if (progress.IsElapsed())
            threadView.SetString("Info", ProgressText("送信中", sent, length, meter.GetRate(), 0));
        connection_.Arm(0);
    }
}

void CRequestDriver::WaitForBandwidth(int64_t ms)
{
    if (ms <= 0)
        return;
    const uint64_t deadline = platform::GetTickCount64() + static_cast<uint64_t>(ms);
    if (state_.GetSocketStateText())
        return;
    for (;;) {
        const int64_t left = static_cast<int64_t>(deadline) - static_cast<int64_t>(platform::GetTickCount64());
        if (left <= 0)
            return;
        if (left < kSliceMs) {
            Sleep(left);
            return;
        }
        Sleep(kSliceMs);
        if (state_.GetSocketStateText())
            return;
    }
}

void CRequestDriver::SendInternalServerError(const std::string& message)
{
    // After part of an answer went out, another one would be read as its continuation.
    if (bytesSent_ > 0) {
        socket_.Close();
        return;
    }
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    const std::string body = CServerCore::PlainErrorPage("500 Internal Server Error", message);
    const std::string head =
        std::string("HTTP/1.0 500 Internal Server Error\r\nServer: ") + CServerCore::kServerSignature +
        "\r\nContent-Type: text/html\r\nConnection: Close\r\nContent-length: " + std::to_string(body.size()) +
        "\r\n\r\n";
    socket_.SendAll(head);
    socket_.SendAll(body);
    socket_.Close();
}
