#include "net/TcpSocket.h"

#include "Clock.h"
#include "Socket.h"

#include "thread/SparePool.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Connections the kernel queues before an accept thread takes them; a smaller backlog
// drops bursts into the clients' one-second SYN retry.
constexpr int kListenBacklog = 128;

constexpr const char kCreateFailedText[] = "ソケットの生成に失敗しました。";

// Receive buffers of sockets that were destroyed, for the next sockets, so that a
// connection of one request does not take its 64 KiB from the heap anew. Enough for the
// connections that end between two accepts of a busy server; more would only hold memory.
constexpr std::size_t kMaxSpareReceiveBuffers = 64;

// Never destroyed: a socket may outlive the statics.
CSparePool<char[]>& SpareReceiveBuffers()
{
    static auto* spares = new CSparePool<char[]>(kMaxSpareReceiveBuffers);
    return *spares;
}

std::unique_ptr<char[]> TakeReceiveBuffer()
{
    std::unique_ptr<char[]> buffer = SpareReceiveBuffers().Take();
    return buffer ? std::move(buffer) : std::unique_ptr<char[]>(new char[CTcpSocket::kReceiveBufferSize]);
}

}  // namespace

CTcpSocket::CTcpSocket() : receiveBuffer_(TakeReceiveBuffer()) {}

CTcpSocket::~CTcpSocket()
{
    Disarm();  // before the members OnTimeout uses go
    Close();
    SpareReceiveBuffers().GiveBack(std::move(receiveBuffer_));
}

char* CTcpSocket::LineBuffer()
{
    // Only line reads use it, and requests are not read as lines.
    if (!lineBuffer_)
        lineBuffer_.reset(new char[kLineBufferSize]);
    return lineBuffer_.get();
}

void CTcpSocket::OnTimeout()
{
    Abort();
    SetErrorText("タイムアウトしました");
}

void CTcpSocket::Close()
{
    Disarm();
    std::lock_guard<std::mutex> lock(stateLock_);
    if (fd_ >= 0) {
        // Before the close: once the peer sees the end it may connect again at once, and
        // must find the slot this connection held free. The hook takes no lock of a socket.
        if (closeHook_) {
            std::function<void()> hook;
            hook.swap(closeHook_);
            hook();
        }
        platform::CloseSocket(fd_);
        fd_ = -1;
    }
    open_ = false;
    endOfStream_ = true;
    count_ = 0;
    pending_ = kNoPending;
    quietLook_ = false;
    peer_.SetAddress(0);
    peerKnown_ = true;
}

void CTcpSocket::SetCloseHook(std::function<void()> onClose)
{
    std::lock_guard<std::mutex> lock(stateLock_);
    closeHook_ = std::move(onClose);
}

void CTcpSocket::Abort()
{
    std::lock_guard<std::mutex> lock(stateLock_);
    if (fd_ >= 0 && open_)
        platform::InterruptSocket(fd_);
    open_ = false;
    endOfStream_ = true;
}

int CTcpSocket::Create()
{
    Close();
    const int fd = platform::OpenTcpSocket();
    if (fd < 0) {
        SetErrorText(kCreateFailedText);
        return -3;
    }
    CTcpSocket::Attach(fd);
    return 0;
}

int CTcpSocket::Listen(int port, const CIPv4Address& address, int deferAcceptSeconds)
{
    Close();
    platform::ListenStep failedAt;
    const int fd = platform::OpenTcpListener(address.GetAddress(), port, kListenBacklog, deferAcceptSeconds, &failedAt);
    if (fd < 0) {
        SetErrorText(failedAt == platform::ListenStep::Create ? kCreateFailedText
                     : failedAt == platform::ListenStep::Bind ? "ポート割り当てに失敗しました。"
                                                               : "ポート監視に失敗しました。");
        return -1;
    }
    CTcpSocket::Attach(fd);
    return 0;
}

int CTcpSocket::Accept(CTcpSocket* into, int block)
{
    // A listen socket has nothing to receive: only its readiness is asked.
    if (!block && count_ == 0 && ReadableWithin(0) == 0)
        return 0;
    uint32_t peer = 0;
    const int fd = platform::AcceptTcp(fd_, &peer);
    if (fd < 0) {
        const int err = errno;
        SetErrorText("接続許可に失敗しました。");
        // Other threads accept on this socket too, so only its owner may close it.
        if (!platform::IsTransientAcceptError(err))
            Abort();
        return -1;
    }
    if (into->Attach(fd) != 0) {
        platform::CloseSocket(fd);
        return -1;
    }
    // The accept told the peer already; asking the system again would cost a call.
    if (peer != 0) {
        into->peer_.SetAddress(peer);
        into->peerKnown_ = true;
    }
    return 1;
}

int CTcpSocket::Attach(int handle)
{
    Close();
    std::lock_guard<std::mutex> lock(stateLock_);
    fd_ = handle;
    open_ = true;
    endOfStream_ = false;
    peerKnown_ = false;
    receiveWaitUs_ = 0;
    return 0;
}

int CTcpSocket::Connect(const std::string& host, int port)
{
    Close();
    uint32_t address = 0;
    if (!platform::ResolveIPv4(host, &address)) {
        SetErrorText(" ホストが見つかりませんでした [" + host + "]");
        Close();
        return -2;
    }
    if (Create() != 0)
        return -1;
    Arm(timeout_);
    const int rc = platform::ConnectTcp(fd_, address, port);
    Disarm();
    if (rc != 0 || !open_) {
        SetErrorText(" ホストに接続できませんでした。 [" + host + ":" + std::to_string(port) + "]");
        Close();
        return -2;
    }
    endOfStream_ = false;
    peer_.SetAddress(address);
    peerKnown_ = true;
    return 0;
}

int CTcpSocket::SocketReadableWithin(int64_t microseconds)
{
    if (!open_)
        return 0;
    bool ended = true;
    const bool readable = platform::WaitReadable(fd_, microseconds, &ended);
    // A wait that found no end of stream waiting is as good a look as a receive that found
    // nothing. A secure peer may also end inside a record, which only a receive reads.
    if (!ended && !IsSecure())
        NoteQuietLook();
    else if (ended || microseconds > 0)
        quietLook_ = false;
    return readable ? 1 : 0;
}

int CTcpSocket::ReadableWithin(int64_t microseconds) { return SocketReadableWithin(microseconds); }

int CTcpSocket::DataAvailable(int64_t microseconds)
{
    if (count_ > 0 || pending_ != kNoPending)
        return 1;
    if (endOfStream_)
        return ReadableWithin(microseconds);
    // The look is a receive: the bytes it finds are the ones the caller reads next, so
    // asking for readiness first would only add a call.
    const int n = microseconds > 0 ? ReceiveWithin(receiveBuffer_.get(), kReceiveBufferSize, microseconds)
                                   : ReceiveOnLine(receiveBuffer_.get(), kReceiveBufferSize);
    if (n == kNothingWaiting)
        return 0;
    if (n > 0)
        count_ = n;
    else
        pending_ = n < 0 ? -1 : 0;
    return 1;
}

int CTcpSocket::HasError()
{
    std::lock_guard<std::mutex> lock(stateLock_);
    if (fd_ < 0 || !open_)
        return 1;
    return platform::HasSocketError(fd_) ? 1 : 0;
}

int CTcpSocket::RawSend(int handle, const void* bytes, int length, int) { return platform::SendSome(handle, bytes, length); }

int CTcpSocket::RawReceive(int handle, void* buffer, int length, int flags)
{
    const int n = platform::ReceiveSome(handle, buffer, length, (flags & kReceiveNow) == 0);
    return n == platform::kNothingReceived ? kNothingWaiting : n;
}

int CTcpSocket::ReceiveWaiting(void* buffer, int length)
{
    if (!open_)
        return kNothingWaiting;
    // It cannot block, so it needs no watchdog: a shutdown by Abort shows as an end of
    // stream, which Fill tells from the peer's by the closed flag.
    const int n = platform::ReceiveSome(fd_, buffer, length, false, &leftBehind_);
    return n == platform::kNothingReceived ? kNothingWaiting : n;
}

int CTcpSocket::ReceiveOnLine(void* buffer, int length)
{
    leftBehind_ = platform::LeftBehind::Unknown;
    const int received = ReceiveWaiting(buffer, length);
    NoteReceived(received);
    return received;
}

int CTcpSocket::ReceiveWithin(void* buffer, int length, int64_t microseconds)
{
    if (!open_)
        return kNothingWaiting;
    // The wait is the descriptor's own: it stays set for the next ones, which are as long.
    if (microseconds != receiveWaitUs_) {
        if (!platform::SetReceiveTimeout(fd_, microseconds))
            return SocketReadableWithin(microseconds) ? ReceiveOnLine(buffer, length) : kNothingWaiting;
        receiveWaitUs_ = microseconds;
    }
    // It needs no watchdog either: it waits no longer than asked, and Abort's shutdown
    // ends it at once.
    leftBehind_ = platform::LeftBehind::Unknown;
    int n = platform::ReceiveSome(fd_, buffer, length, true, &leftBehind_);
    if (n == platform::kNothingReceived)
        n = kNothingWaiting;
    NoteReceived(n);
    return n;
}

void CTcpSocket::NoteReceived(int received)
{
    // Bytes alone, where the line does not tell what came behind them, neither make nor
    // end a look: it is about the end of stream.
    const platform::LeftBehind left = received > 0 ? leftBehind_ : platform::LeftBehind::Unknown;
    if (received == kNothingWaiting || left == platform::LeftBehind::Nothing)
        NoteQuietLook();
    else if (received <= 0 || left == platform::LeftBehind::More)
        quietLook_ = false;
}

int CTcpSocket::SendOnLine(const void* bytes, int length)
{
    // A send may have waited for the peer to read: the line is looked at again.
    quietLook_ = false;
    return RawSend(fd_, bytes, length, 0);
}

void CTcpSocket::NoteQuietLook()
{
    quietLook_ = true;
    quietLookTick_ = platform::GetTickCount64();
}

bool CTcpSocket::QuietLookStands() const
{
    return quietLook_ && platform::GetTickCount64() - quietLookTick_ <= kQuietLookMs;
}

int CTcpSocket::Take(void* dest, int n)
{
    const int taken = n < count_ ? n : count_;
    if (taken <= 0)
        return 0;
    std::memcpy(dest, receiveBuffer_.get(), static_cast<size_t>(taken));
    return Discard(taken);
}

int CTcpSocket::Discard(int n)
{
    const int dropped = n < count_ ? n : count_;
    if (dropped <= 0)
        return 0;
    std::memmove(receiveBuffer_.get(), receiveBuffer_.get() + dropped, static_cast<size_t>(count_ - dropped));
    count_ -= dropped;
    return dropped;
}

int CTcpSocket::PeekBytes(void* dest, int n) const
{
    const int copied = n < count_ ? n : count_;
    if (copied <= 0)
        return 0;
    std::memcpy(dest, receiveBuffer_.get(), static_cast<size_t>(copied));
    return copied;
}

int CTcpSocket::Fill()
{
    const int freeSpace = kReceiveBufferSize - count_;
    if (freeSpace == 0)
        return 0;
    // Once the peer's end of stream was seen, the socket stays readable for ever; asking
    // again would return 0 bytes every time and never report the closed line.
    if (!endOfStream_) {
        int n = pending_;
        pending_ = kNoPending;
        if (n == kNoPending) {
            n = ReceiveOnLine(receiveBuffer_.get() + count_, freeSpace);
        }
        if (n == kNothingWaiting)
            return 0;
        // An abort (time-out, stop) during the call shows as an end of stream; it is a
        // failure of this call, and a time-out's own message stands.
        if (n < 0 || (n == 0 && !open_)) {
            if (!IsTimedOut())
                SetErrorText(n < 0 ? "データ受信に失敗しました。" : "回線は切断されています。");
            Close();
            return -1;
        }
        if (n == 0)
            endOfStream_ = true;
        count_ += n;
        return n;
    }
    if (endOfStream_) {
        // Bytes that came before the end are still handed out first.
        if (count_ > 0)
            return 0;
        // A time-out's own message stands; the closed line is what any other end reports.
        if (!IsTimedOut())
            SetErrorText("回線は切断されています。");
        Close();
        return -1;
    }
    return 0;
}

int CTcpSocket::Receive(void* dest, int n)
{
    if (n > 0 && count_ >= n)
        return Take(dest, n);
    const int filled = Fill();
    if (filled < 0 && count_ == 0)
        return filled;
    return Take(dest, n);
}

int CTcpSocket::ReceiveString(std::string& text, int max)
{
    if (max <= 0 || max > kMaxStringRead)
        max = kMaxStringRead;
    char* const line = LineBuffer();
    const int n = Receive(line, max);
    if (n < 0) {
        text.clear();
        return n;
    }
    line[n] = 0;
    text.assign(line);
    return n;
}

int CTcpSocket::Peek(void* dest, int n)
{
    if (n > 0 && count_ >= n)
        return PeekBytes(dest, n);
    const int filled = Fill();
    if (filled < 0)
        return filled;
    return PeekBytes(dest, n);
}

int CTcpSocket::PeekIntoLineBuffer(int max)
{
    char* const line = LineBuffer();
    const int n = Peek(line, max);
    line[n > 0 ? n : 0] = 0;
    return n;
}

int CTcpSocket::PeekString(std::string& text)
{
    const int n = PeekIntoLineBuffer(kMaxStringRead);
    text.assign(LineBuffer());
    return n;
}

int CTcpSocket::Available()
{
    const int filled = Fill();
    if (filled < 0 && count_ == 0)
        return filled;
    return count_;
}

int CTcpSocket::IsDisconnected()
{
    if (!QuietLookStands())
        Fill();
    return endOfStream_ ? 1 : 0;
}

int CTcpSocket::SendAll(const void* bytes, int length)
{
    if (IsDisconnected()) {
        if (!IsTimedOut())
            SetErrorText("回線は切断されています。");
        Close();
        return -1;
    }
    const char* p = static_cast<const char*>(bytes);
    Arm(timeout_);
    while (length > 0) {
        const int n = SendOnLine(p, length);
        if (n <= 0) {
            Disarm();
            if (!IsTimedOut())
                SetErrorText("データ送信に失敗しました。");
            Close();
            return -1;
        }
        p += n;
        length -= n;
        bytesSent_ += n;
    }
    Disarm();
    return 0;
}

void CTcpSocket::SetCorked(bool on)
{
    if (!open_)
        return;
    platform::SetCorked(fd_, on);
}

void CTcpSocket::ShutdownSending()
{
    if (fd_ >= 0)
        platform::ShutdownSending(fd_);
}

void CTcpSocket::ShutdownSendingAndDrop(int64_t maxBytes)
{
    if (fd_ >= 0)
        platform::ShutdownSendingAndDrain(fd_, maxBytes);
}

int64_t CTcpSocket::SendFile(int fileHandle, int64_t offset, int64_t length)
{
    if (IsSecure()) {
        // The system would write the file around the TLS layer, in plain text.
        SetErrorText("データ送信に失敗しました。");
        return -1;
    }
    if (!open_) {
        SetErrorText("回線は切断されています。");
        return -1;
    }
    Arm(timeout_);
    quietLook_ = false;  // as for SendOnLine
    int64_t went = 0;
    const int64_t sent = platform::SendFileRange(fd_, fileHandle, offset, length, went);
    Disarm();
    bytesSent_ += went;
    if (sent < 0) {
        if (!IsTimedOut())
            SetErrorText("データ送信に失敗しました。");
        Close();
    }
    return sent;
}

int CTcpSocket::SendAll(const std::string& text)
{
    return SendAll(text.data(), static_cast<int>(text.size()));
}

CIPv4Address CTcpSocket::GetPeerAddress() const
{
    if (!peerKnown_) {
        peer_.SetAddress(platform::GetPeerIPv4(fd_));
        peerKnown_ = true;
    }
    return peer_;
}

CIPv4Address CTcpSocket::GetLocalAddress() const
{
    CIPv4Address address;
    address.SetAddress(platform::GetLocalIPv4(fd_));
    return address;
}

int CTcpSocket::GetLocalPort() const { return platform::GetLocalPort(fd_); }

std::string CTcpSocket::GetErrorText() const
{
    std::lock_guard<std::mutex> lock(stateLock_);
    return errorText_;
}

void CTcpSocket::SetErrorText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(stateLock_);
    errorText_ = text;
}

CIPv4Address GetLocalInterfaceAddress()
{
    CIPv4Address result;
    result.SetAddress(platform::GetLocalInterfaceIPv4());
    return result;
}
