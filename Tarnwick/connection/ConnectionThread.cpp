// The connection worker: its thread, its keep-alive loop, and the per-request records in
// the context tree (the thread node, its move to ThreadLogs, the sizes and the log line);
// and the listener's test of whether a connection's request has come.

#include "connection/ConnectionThread.h"

#include "connection/RequestDriver.h"

#include "SettingsSchema.h"
#include "Template.h"
#include "core/ServerCore.h"
#include "core/SecondTexts.h"
#include "http/ChunkedDecoder.h"
#include "http/HttpRequest.h"
#include "http/RequestHeader.h"
#include "http/ServerFatalException.h"
#include "net/SslSocket.h"
#include "responses/CGIResponse.h"
#include "net/TcpSocket.h"

#include "Clock.h"
#include "CRuntime.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Waiting for a request's bytes ends with their arrival or after this long, so that a stop
// or a closed socket is noticed between two looks.
constexpr int kPollIntervalMs = 20;

// Fills the template from the node's leaves as CTemplate::SetFromConfig does, but with an
// empty value for every key that `hidden` names; `alwaysKey`, when not empty, is offered
// (empty) even when the node lacks it.
template <typename Hidden>
void SetLogValues(CTemplate& line, const CConfigAccessor& node, Hidden hidden, const char* alwaysKey)
{
    if (line.CountUnfilled() == 0)
        return;
    bool offered = *alwaysKey == '\0';
    const std::string none;
    node.VisitLeaves([&](const CConfigLeaf& leaf) {
        const bool secret = hidden(leaf.key);
        offered = offered || leaf.key == alwaysKey;
        line.SetValue(leaf.key, secret ? none : leaf.value);
    });
    if (!offered)
        line.SetValue(alwaysKey, "");
}

}  // namespace

CConnectionThread::CConnectionThread(CServerCore* core, std::unique_ptr<CTcpSocket> socket)
    : core_(core), socket_(std::move(socket)), state_(this, socket_.get(), this)
{
    const CCoreSettings& settings = core_->GetCoreSettings();
    idleTimeMs_ = settings.KeepAliveTime() * 1000;
    keepAlive_ = settings.EnableKeepAlive();
    if (StartPooled() != 0) {
        socket_->Close();  // the client learns at once that nobody will answer
        throw CConnectionException{"スレッドの開始に失敗しました", 0};
    }
}

CConnectionThread::~CConnectionThread()
{
    StopAndWait();
    Disarm();
}

void CConnectionThread::Stop()
{
    socket_->Abort();
    CWorkerThread::Stop();
}

void CConnectionThread::OnTimeout() { socket_->Abort(); }

int CConnectionThread::Handshake()
{
    if (!socket_->IsSecure())
        return 0;
    CSSLSocket* secure = dynamic_cast<CSSLSocket*>(socket_.get());
    // The listener has usually done it while the client's bytes came.
    return secure && (secure->IsHandshakeDone() || secure->Handshake() == 0) ? 0 : -1;
}

bool CConnectionThread::WaitForFirstRequest()
{
    // The first request may take a moment to arrive (a browser, a TLS client, a slow
    // link); later keep-alive requests are polled by the loop itself.
    const int seconds = CServerCore::TimeoutSeconds(core_->GetSettingAccessor());
    const int64_t waitMs = keepAlive_ ? idleTimeMs_ : int64_t{seconds} * 1000;
    // The first header's deadline counts from here: a client that sends nothing holds a
    // connection slot as long as one that trickles.
    const uint64_t deadline =
        std::min(platform::GetTickCount64() + static_cast<uint64_t>(waitMs > 0 ? waitMs : 0), headerDeadline_);
    // The listener queues a connection only once its client has spoken, so the bytes are
    // usually there already: a look without waiting comes first.
    if (!IsStopRequested() && socket_->DataAvailable(0))
        return true;
    while (!IsStopRequested()) {
        if (socket_->DataAvailable(int64_t{kPollIntervalMs} * 1000))
            return true;
        if (!socket_->IsOpen() || platform::GetTickCount64() >= deadline)
            return false;
    }
    return false;
}

void CConnectionThread::Run()
{
    socket_->HandOver();
    uint64_t tick = platform::GetTickCount64();
    if (Handshake() != 0)
        return;
    headerDeadline_ = platform::GetTickCount64() + static_cast<uint64_t>(HeaderTimeLimitMs());
    if (!WaitForFirstRequest()) {
        socket_->Close();
        return;
    }
    // Whether bytes, or the line's end, wait to be looked at: the first request's do.
    bool waiting = true;
    for (bool firstRequest = true;; firstRequest = false) {
        char first;
        // The receive that brought the bytes, when nothing came behind them, also stands
        // for the disconnect checks of the request they start.
        if (waiting && socket_->Peek(&first, 1) != 0 && !socket_->IsDisconnected()) {
            if (!firstRequest)
                headerDeadline_ = platform::GetTickCount64() + static_cast<uint64_t>(HeaderTimeLimitMs());
            const CConfigAccessor view = BeginThreadLog();
            CRequestDriver driver(core_, *socket_, state_, *this, *this, headerDeadline_);
            int keep = 0;
            try {
                keep = driver.ProcessRequest(view);
            } catch (const CServerFatalException& e) {
                UpdateTransferSizes(view, driver.GetBytesSent(), driver.GetBytesReceived());
                view.SetString("Info", e.Describe());
                WriteRequestLog(view);
                EndThreadLog(view);
                socket_->Close();
                return;
            }
            UpdateTransferSizes(view, driver.GetBytesSent(), driver.GetBytesReceived());
            WriteRequestLog(view);
            EndThreadLog(view);
            if (!keep || driver.ClosesAfterResponse()) {
                // Closing over unread bytes would reset the connection, and the reset may
                // destroy the answer before the client has read it (RFC 9112 9.6).
                if (driver.LeftBodyUnread())
                    socket_->ShutdownSendingAndDrop(CRequestDriver::kMaxRefusalDropBytes);
                socket_->Close();
                return;
            }
            tick = platform::GetTickCount64();
        }
        // A peer's end met by a look is final; one not met yet makes the wait below
        // return at once, and the next look meets it.
        if (IsStopRequested() || socket_->IsEndOfStream() || !keepAlive_ ||
            tick + static_cast<uint64_t>(idleTimeMs_) < platform::GetTickCount64()) {
            socket_->Close();
            return;
        }
        // A request sent behind the last one is served at once; otherwise one receive
        // waits for the next request's bytes, but no longer than one poll interval.
        waiting = socket_->DataAvailable(int64_t{kPollIntervalMs} * 1000) != 0;
    }
}

int CConnectionThread::HeaderTimeLimitMs()
{
    return std::min(kRequestHeaderDeadlineMs, CTimeoutWatcher::Instance().GetDefaultTimeout());
}

CConfigAccessor CConnectionThread::BeginThreadLog()
{
    char name[32];
    std::snprintf(name, sizeof name, "Thread_%04x", core_->NextRequestNumber());
    const CConfigAccessor view = requestTree_.GetAccessor("Threads").GetSubAccessor(name);
    const CConfigAccessor startTime = CSecondTexts::Now().Stamp();
    {
        CConfigLock lock(view);
        view.SetString("ThreadName", name);
        view.GetSubAccessor("StartTime").CopyFrom(startTime);
        view.SetString("Info", "初期化中です...");
        view.SetString("Protocol", socket_->IsSecure() ? "https" : "http");
    }
    core_->GetContext().Begin(view);
    return view;
}

void CConnectionThread::EndThreadLog(const CConfigAccessor& threadView)
{
    const std::string name = threadView.GetString("ThreadName", "");
    const int max = core_->GetCoreSettings().MaxThreadLog();
    threadView.GetSubAccessor("EndTime").CopyFrom(CSecondTexts::Now().Stamp());
    // Moved, not copied: a reader sees the node in Threads or in ThreadLogs, never both.
    core_->GetContext().Finish(threadView, name, max);
}

void CConnectionThread::UpdateTransferSizes(const CConfigAccessor& threadView, int64_t bytesSent,
                                            int64_t bytesReceived)
{
    core_->GetBandWidthManager().AddTraffic(bytesSent, bytesReceived);
    CConfigLock lock(threadView);
    threadView.SetInt64("RecvSize", bytesReceived);
    threadView.SetInt64("SendSize", bytesSent);
    threadView.SetInt64("Size", bytesSent + bytesReceived);
}

void CConnectionThread::WriteRequestLog(const CConfigAccessor& threadView)
{
    const std::string format = schema::kLogFormat.Read(core_->GetSettingAccessor());
    // The filter fills the format's time placeholders, so the text changes once a second
    // at most: the requests in between reuse its parse.
    if (format != logFormat_ || !logFormatParsed_) {
        logTemplate_ = CTemplate();
        logTemplate_.Parse(format);
        logFormat_ = format;
        logFormatParsed_ = true;
    }
    CTemplate line = logTemplate_;
    // Reading a node creates it: a request that failed before its header was parsed, or
    // before an answer was begun, must not gain empty RequestInfo or ResponseInfo nodes.
    const bool parsed = threadView.HasSection("RequestInfo");
    const bool answered = threadView.HasSection("ResponseInfo");
    const CConfigAccessor requestInfo = threadView.GetSubAccessor("RequestInfo");
    std::string text;
    {
        CConfigLock lock(threadView);  // the node's leaves are read under one hold
        if (!parsed || requestInfo.GetString("User", "").empty())
            line.SetValue("User", "-");
        line.SetFromConfig(threadView);
        // Credentials never reach a log line: the request's leaves are offered with the
        // password and the Authorization header (which carries it encoded) as empty texts.
        const CConfigAccessor requestHeaders = requestInfo.GetSubAccessor("Options");
        if (parsed)
            SetLogValues(line, requestInfo, [](const std::string& key) { return key == "Passwd"; }, "Passwd");
        if (answered)
            line.SetFromConfig(threadView.GetSubAccessor("ResponseInfo"));
        if (parsed)
            SetLogValues(line, requestHeaders,
                         [](const std::string& key) { return platform::_mbsicmp(key, "Authorization") == 0; }, "");
        if (answered)
            line.SetFromConfig(threadView.GetSubAccessor("ResponseInfo::Options"));
        text = line.GetText("-");
    }
    core_->GetLog().AddRequestLine(text);
}

std::unique_ptr<CWorkerThread> StartConnectionThread(CServerCore& core, std::unique_ptr<CTcpSocket> socket)
{
    return std::make_unique<CConnectionThread>(&core, std::move(socket));
}

CFastListener::Arrival RequestArrival(const char* bytes, size_t count, bool bufferFull)
{
    using Arrival = CFastListener::Arrival;
    std::size_t length = 0;
    const RequestHeaderScan scan = ScanRequestHeader(bytes, count, length);
    if (scan == RequestHeaderScan::Malformed || bufferFull)
        return Arrival::Whole;
    if (scan == RequestHeaderScan::Incomplete)
        return count > static_cast<size_t>(kMaxRequestHeaderBytes) ? Arrival::Whole : Arrival::Header;
    const std::string_view header(bytes, length);
    std::string_view rest = header;
    std::string_view line;
    CHttpRequest::TakeLine(rest, line);
    const std::string_view method = line.substr(0, line.find(' '));
    if (method != "PUT" && method != "POST")
        return Arrival::Whole;
    const BodyFraming framing = ReadBodyFraming(header);
    // RFC 9110 10.1.1: a client that asks for "100-continue" may hold its body back until
    // the interim answer, which only the worker sends.
    if (framing.refusal != 0 || framing.expectsContinue)
        return Arrival::Whole;
    const std::string_view body(bytes + length, count - length);
    if (framing.chunked) {
        // A chunked body has come when its framing says it ended (or failed).
        CChunkedDecoder chunks;
        chunks.Decode(body, nullptr);
        return chunks.IsDone() || chunks.HasFailed() ? Arrival::Whole : Arrival::Body;
    }
    // A body above the largest that a response reads is refused before any of it comes.
    if (framing.contentLength <= static_cast<int64_t>(body.size()) ||
        framing.contentLength > CCGIResponse::kMaxRequestBody)
        return Arrival::Whole;
    return Arrival::Body;
}
