// The response pipeline: body in, build, header and body out, under the bandwidth limits,
// in chunks.

#include "connection/ResponsePipeline.h"

#include "IntervalTimer.h"
#include "core/BandWidth.h"
#include "core/ServerCore.h"
#include "http/ConnectionState.h"
#include "http/RequestPath.h"
#include "http/RequestRecord.h"
#include "http/Response.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "net/FastListener.h"
#include "net/TcpSocket.h"
#include "thread/TimeoutWatcher.h"

#include "Clock.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

// Waits for body bytes and for the bandwidth limit are cut into slices of this, so that a
// time-out, a closed peer or a stop is noticed within one.
constexpr int kSliceMs = 20;
// The pipeline sends bodies in chunks of this size: several full segments per send, yet
// fine enough for the bandwidth pacing and the checks between chunks.
constexpr int32_t kSendChunk = 32768;
// Without a bandwidth limit the pieces of a file body are not seen on the wire: larger
// ones mean fewer calls and checks per byte.
constexpr int64_t kFileSendChunk = 2097152;
// The progress text in the request's Info leaf changes at most this often: as fast as a
// person watching it can read, and every change takes the context tree's lock.
constexpr int kProgressIntervalMs = 1000;
const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
const char kBadChunks[] = "chunked 形式の本文が異常です";

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

CResponsePipeline::CResponsePipeline(CServerCore* core, CTcpSocket& socket, CConnectionState& state,
                                     CTimeoutTarget& connection, CRequestRecord& record, const CRequestPath& path,
                                     CBandWidthLimiter& limiter, RequestTransfer& transfer, RequestBuffers& buffers)
    : core_(core),
      socket_(socket),
      state_(state),
      connection_(connection),
      record_(record),
      path_(path),
      limiter_(limiter),
      transfer_(transfer),
      buffers_(buffers)
{
}

std::unique_ptr<CResponse> CResponsePipeline::Send(CResponse& response)
{
    response_ = &response;
    record_.SetInfo("レスポンスデータの前処理中...");
    response.BeginReceive();
    if (std::unique_ptr<CResponse> refusal = ReceiveBody())
        return refusal;
    record_.SetInfo("レスポンスデータの生成中...");
    response.Build();
    if (std::unique_ptr<CResponse> replacement = response.TakeReplacement())
        return replacement;
    CResponseInfo& answer = record_.Response();
    const int64_t length = response.GetContentLength();
    answer.SetContentLength(length);
    if (transfer_.closeAfterResponse)
        answer.AnnounceClose();
    std::string& header = buffers_.answerHeader;
    header.clear();
    answer.AppendHeaderText(header);
    record_.SetInfo("ヘッダーの送信中です...");
    const bool head = record_.GetRequest().GetMethodKind() == HttpMethod::Head;
    // A body's first chunk leaves together with the header: one send, one packet.
    if (head || length <= 0)
        SendPendingHeader();
    if (!head)
        SendBody(length);
    return nullptr;
}

void CResponsePipeline::SendPendingHeader()
{
    std::string& header = buffers_.answerHeader;
    if (header.empty())
        return;
    const bool sent = SendCounted(header.data(), static_cast<int64_t>(header.size()));
    header.clear();
    if (!sent)
        throw CServerFatalException{"ヘッダー送信中に切断もしくはネットワークエラーが発生しました"};
}

bool CResponsePipeline::SendCounted(const char* bytes, int64_t count)
{
    const int64_t before = socket_.GetBytesSent();
    const bool sent = socket_.SendAll(bytes, static_cast<int>(count)) == 0;
    transfer_.bytesSent += socket_.GetBytesSent() - before;
    return sent;
}

std::unique_ptr<CResponse> CResponsePipeline::ReceiveBody()
{
    record_.SetInfo("データの受信を開始しています...");
    CResponse& response = *response_;
    if (!response.ReadsBody()) {
        DropUnreadBody();
        return nullptr;
    }
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    // RFC 9110 15.2.1: the interim answer is not counted as sent, so that the emergency
    // page may still follow it.
    if (transfer_.BodyRemains() && transfer_.bodyBytesReceived == 0 && record_.GetRequest().ExpectsContinue() &&
        socket_.SendAll(std::string(kContinue)) != 0)
        throw CServerFatalException{"ヘッダー送信中に切断もしくはネットワークエラーが発生しました"};
    // The receive limit governs only the loop below: without a body it is not looked up.
    if (transfer_.BodyRemains())
        limiter_.SetRecvLimiting(path_.Entry().enableBandWidthLimit.Read());
    // The body's bytes as the response gets them: a chunked body's data, not its framing.
    const auto taken = [this] {
        return transfer_.chunked ? transfer_.chunks.GetDecodedLength() : transfer_.bodyBytesReceived;
    };
    const int64_t takenBefore = taken();
    // A chunked body's total is known at its end.
    const int64_t total = transfer_.bodyLength - transfer_.bodyBytesReceived;
    CByteBuffer& buffer = buffers_.chunk;
    buffer.SetLength(0);
    CTransferMeter meter;
    CIntervalTimer progress(kProgressIntervalMs);
    // The start of the body's current rate window, and what had come by then.
    uint64_t windowStart = platform::GetTickCount64();
    int64_t windowTaken = takenBefore;
    while (transfer_.BodyRemains()) {
        if (socket_.Fill() < 0)
            throw CServerFatalException{"データ受信中に切断もしくはネットワークエラーが発生しました"};
        const int buffered = socket_.GetBufferedCount();
        const int64_t remaining = transfer_.bodyLength - transfer_.bodyBytesReceived;
        int32_t n = 0;  // the bytes taken off the wire this round
        if (transfer_.chunked) {
            n = buffered > 0 ? TakeChunkedBody(&buffer) : 0;
            if (transfer_.chunks.HasFailed())
                return RefuseBody(core_, record_, transfer_, 400, kBadChunks);
            if (transfer_.chunks.GetDecodedLength() > response.GetMaxBody())
                return RefuseBody(core_, record_, transfer_, 413, kBodyTooLarge);
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
            transfer_.bytesReceived += n;
            transfer_.bodyBytesReceived += n;
            WaitForBandwidth(meter.GetWaitTime(limiter_.GetRecvLimit(), n));
            meter.AddSample();
            if (progress.IsElapsed()) {
                const int64_t done = taken() - takenBefore;
                record_.SetInfo(ProgressText("受信中", done, transfer_.chunked ? done : total, meter.GetRate(),
                                             limiter_.GetRecvLimit()));
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
    limiter_.SetRecvLimiting(0);
    return nullptr;
}

int CResponsePipeline::TakeChunkedBody(CByteBuffer* data)
{
    if (data)
        data->SetLength(0);
    const std::string_view input(socket_.GetBufferedBytes(), static_cast<std::size_t>(socket_.GetBufferedCount()));
    const std::size_t taken = transfer_.chunks.Decode(input, [data](std::string_view run) {
        if (data)
            data->Append(run.data(), static_cast<int32_t>(run.size()));
    });
    return socket_.Discard(static_cast<int>(taken));
}

std::unique_ptr<CResponse> RefuseBody(CServerCore* core, CRequestRecord& record, RequestTransfer& transfer, int code,
                                      const char* info)
{
    transfer.GiveUpBody();
    // What the client still sends is dropped before the close, lest a reset destroy the answer.
    transfer.bodyLeftUnread = true;
    return std::make_unique<CSystemResponse>(core, record, info, code, kNoDetail);
}

void CResponsePipeline::DropUnreadBody()
{
    // What has come already is taken, so that a short body leaves the connection usable.
    const int n = transfer_.chunked
                      ? TakeChunkedBody(nullptr)
                      : socket_.Discard(static_cast<int>(std::min<int64_t>(
                            transfer_.bodyLength - transfer_.bodyBytesReceived, socket_.GetBufferedCount())));
    transfer_.bytesReceived += n;
    transfer_.bodyBytesReceived += n;
    // The rest is not waited for: the answer goes out now, and only closing the connection
    // after it tells where the request ended.
    if (transfer_.BodyRemains()) {
        transfer_.closeAfterResponse = true;
        transfer_.bodyLeftUnread = true;
    }
}

void CResponsePipeline::SendBody(int64_t length)
{
    record_.SetInfo("データの送信を開始しています...");
    CResponse& response = *response_;
    connection_.Arm(0);
    CTimeoutGuard guard(&connection_);
    limiter_.SetSendLimiting(path_.Entry().enableBandWidthLimit.Read());
    CByteBuffer& buffer = buffers_.chunk;
    buffer.SetLength(kSendChunk);
    CTransferMeter meter;
    CIntervalTimer progress(kProgressIntervalMs);
    std::string& pendingHeader = buffers_.answerHeader;
    int64_t sent = 0;
    int n = 0;
    // An answer longer than one chunk takes several writes; held back together, they
    // leave in full segments rather than a short one at the end of every write.
    std::optional<CSocketCork> cork;
    if (length > kSendChunk)
        cork.emplace(socket_);
    // A file body longer than one chunk goes to the system whole, behind the header, rather
    // than its first chunk being copied through the buffer.
    int64_t fileOffset = 0;
    int64_t fileRemaining = 0;
    if (cork && limiter_.GetSendLimit() <= 0 && !socket_.IsSecure() &&
        response.GetBodyFile(fileOffset, fileRemaining) >= 0 && fileRemaining > 0) {
        SendPendingHeader();
        SendBodyFile(length, sent, meter);
        if (sent < length)
            transfer_.closeAfterResponse = true;
        limiter_.SetSendLimiting(0);
        return;
    }
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
            transfer_.closeAfterResponse = true;
        }
        if (!pendingHeader.empty()) {
            if (toSend > 0 && buffer.GetLength() > 0)
                pendingHeader.append(buffer.GetData(), static_cast<size_t>(toSend));
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
        if (sent >= length && transfer_.closeAfterResponse)
            break;
        WaitForBandwidth(meter.GetWaitTime(limiter_.GetSendLimit(), static_cast<int32_t>(toSend)));
        meter.AddSample();
        if (progress.IsElapsed())
            record_.SetInfo(ProgressText("送信中", sent, length, meter.GetRate(), limiter_.GetSendLimit()));
        connection_.Arm(0);
        // Past the first chunk, an unlimited file body is sent by the system, uncopied.
        if (sent < length && limiter_.GetSendLimit() <= 0 && !socket_.IsSecure() &&
            response.GetBodyFile(fileOffset, fileRemaining) >= 0) {
            SendBodyFile(length, sent, meter);
            break;
        }
        buffer.SetLength(kSendChunk);
    }
    SendPendingHeader();  // a body that yielded nothing
    // A body that ended short of its announced length leaves the client waiting for the
    // rest; only closing the connection tells it.
    if (sent < length)
        transfer_.closeAfterResponse = true;
    limiter_.SetSendLimiting(0);
}

void CResponsePipeline::SendBodyFile(int64_t length, int64_t& sent, CTransferMeter& meter)
{
    CResponse& response = *response_;
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
        transfer_.bytesSent += socket_.GetBytesSent() - before;
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
            record_.SetInfo(ProgressText("送信中", sent, length, meter.GetRate(), 0));
        connection_.Arm(0);
    }
}

void CResponsePipeline::WaitForBandwidth(int64_t ms)
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

void CResponsePipeline::SendInternalServerError(const std::string& message)
{
    // After part of an answer went out, another one would be read as its continuation.
    if (transfer_.bytesSent > 0) {
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
