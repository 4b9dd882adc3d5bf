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
#include "thread/SparePool.h"

#include "Clock.h"
#include "CRuntime.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>

namespace {

// Waiting for a request's bytes ends with their arrival or after this long, so that a stop
// or a closed socket is noticed between two looks.
constexpr int kPollIntervalMs = 20;

// "Thread_" and the request number in at least four lower-case hexadecimal digits.
std::string_view FormatThreadName(char (&name)[32], unsigned number)
{
    constexpr std::string_view kPrefix = "Thread_";
    constexpr std::size_t kMinDigits = 4;
    char digits[16];
    const std::size_t count = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number, 16).ptr - digits);
    const std::size_t pad = count < kMinDigits ? kMinDigits - count : 0;
    kPrefix.copy(name, kPrefix.size());
    std::fill_n(name + kPrefix.size(), pad, '0');
    std::copy_n(digits, count, name + kPrefix.size() + pad);
    return std::string_view(name, kPrefix.size() + pad + count);
}

// The storage of ended connections, for the next ones. A burst of connections of one
// request each finds enough here; each holds a send chunk's bytes, so not more.
constexpr std::size_t kMaxSpareStorage = 32;

// Never destroyed: a connection may outlive the statics.
CSparePool<ConnectionStorage>& SpareStorage()
{
    static auto* spares = new CSparePool<ConnectionStorage>(kMaxSpareStorage);
    return *spares;
}

std::unique_ptr<ConnectionStorage> TakeStorage()
{
    std::unique_ptr<ConnectionStorage> storage = SpareStorage().Take();
    if (!storage)
        return std::make_unique<ConnectionStorage>();
    storage->logSecond = -1;
    return storage;
}

void GiveBackStorage(std::unique_ptr<ConnectionStorage> storage) { SpareStorage().GiveBack(std::move(storage)); }

}  // namespace

CConnectionThread::CConnectionThread(CServerCore* core, std::unique_ptr<CTcpSocket> socket)
    : core_(core),
      socket_(std::move(socket)),
      state_(this, socket_.get(), this),
      storage_(TakeStorage()),
      record_(storage_->record),
      buffers_(storage_->buffers)
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
    // A request still listed names the record's node path: its storage goes with it.
    if (!listed_)
        GiveBackStorage(std::move(storage_));
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
            BeginThreadLog();
            CRequestDriver driver(core_, *socket_, state_, *this, *this, headerDeadline_, record_, buffers_,
                                  settings_);
            int keep = 0;
            try {
                keep = driver.ProcessRequest();
            } catch (const CServerFatalException& e) {
                UpdateTransferSizes(driver.GetBytesSent(), driver.GetBytesReceived());
                record_.SetInfo(e.Describe());
                WriteRequestLog();
                EndThreadLog();
                socket_->Close();
                return;
            }
            UpdateTransferSizes(driver.GetBytesSent(), driver.GetBytesReceived());
            WriteRequestLog();
            EndThreadLog();
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

void CConnectionThread::BeginThreadLog()
{
    // The settings every step of the request reads, the same for all of them.
    if (!settings_ || settings_->GetWriteCount() != core_->GetSettingTree().GetWriteCount())
        settings_ = core_->GetSettingsSnapshot();
    char name[32];
    record_.Begin(FormatThreadName(name, static_cast<unsigned>(core_->NextRequestNumber())), socket_->IsSecure() != 0,
                  socket_->GetPeerAddress());
    core_->GetContext().Begin(&record_);
    listed_ = true;
}

void CConnectionThread::EndThreadLog()
{
    const int max = core_->GetCoreSettings().MaxThreadLog();
    record_.End();
    record_.Adopt(core_->GetContext().Finish(&record_, max));
    listed_ = false;
}

void CConnectionThread::UpdateTransferSizes(int64_t bytesSent, int64_t bytesReceived)
{
    core_->GetBandWidthManager().AddTraffic(bytesSent, bytesReceived);
    record_.SetTransferSizes(bytesSent, bytesReceived);
}

void CConnectionThread::PrepareLogTemplate()
{
    ConnectionStorage& log = *storage_;
    const uint64_t settingsWrites = settings_->GetWriteCount();
    const int64_t second = CSecondTexts::Now().Second();
    const uint64_t infoWrites = core_->GetInfoTree().GetWriteCount();
    if (log.logFormatParsed && settingsWrites == log.logSettingsWrites && second == log.logSecond &&
        infoWrites == log.logInfoWrites)
        return;
    // The filter fills the format's time placeholders, so the text changes once a second
    // at most: the requests in between reuse its parse.
    std::string format = settings_->LogFormat().ReadCopy();
    if (format != log.logFormat || !log.logFormatParsed) {
        log.logTemplate = CTemplate();
        log.logTemplate.Parse(format);
        log.logFormat = std::move(format);
        log.logFormatParsed = true;
    }
    log.logSettingsWrites = settingsWrites;
    log.logSecond = second;
    log.logInfoWrites = infoWrites;
}

void CConnectionThread::WriteRequestLog()
{
    PrepareLogTemplate();
    CTemplate& line = storage_->logTemplate;
    line.Unfill();
    // The values are the record's own, which stand until the line is made.
    const auto offer = [&line](std::string_view key, std::string_view value) {
        if (line.CountUnfilled() > 0)
            line.ViewValue(key, value);
    };
    // Each leaf fills the first unfilled placeholder of its name, node by node in this
    // order: the thread node, RequestInfo, ResponseInfo, then the two Options nodes.
    const CHttpRequest& request = record_.GetRequest();
    const bool parsed = record_.HasRequestNode();
    const bool answered = record_.Response().Exists();
    if (!parsed || request.GetUser().empty())
        line.ViewValue("User", "-");
    record_.VisitThreadLeaves(offer);
    // Credentials never reach a log line: the request's leaves are offered with the
    // password and the Authorization header (which carries it encoded) as empty texts.
    if (parsed) {
        bool passwordOffered = false;
        request.VisitLeaves([&](std::string_view key, std::string_view value) {
            const bool password = key == "Passwd";
            passwordOffered = passwordOffered || password;
            offer(key, password ? std::string_view() : value);
        });
        if (!passwordOffered)
            offer("Passwd", std::string_view());
    }
    if (answered)
        record_.Response().VisitLeaves(offer);
    if (parsed)
        for (const CFieldList::Field& field : request.GetHeaders())
            offer(field.name,
                  platform::EqualsIgnoringCase(field.name, "Authorization") ? std::string_view() : field.value);
    if (answered)
        for (const CFieldList::Field& field : record_.Response().GetHeaders())
            offer(field.name, field.value);
    std::string& text = buffers_.logLine;
    text.clear();
    line.AppendText(text, "-");
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
    const HttpMethod method = MethodNamed(line.substr(0, line.find(' ')));
    if (method != HttpMethod::Put && method != HttpMethod::Post)
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
