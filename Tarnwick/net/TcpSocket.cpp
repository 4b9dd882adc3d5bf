#include "net/TcpSocket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Connections the kernel queues before an accept thread takes them; a smaller backlog
// drops bursts into the clients' one-second SYN retry.
constexpr int kListenBacklog = 128;

// A TCP port is 16 bits (RFC 9293 3.1); 0 would let the system choose one, which no
// setting means.
constexpr int kMaxPort = 65535;

bool IsTransientAcceptError(int err)
{
    return err == ECONNABORTED || err == EINTR || err == EMFILE || err == ENFILE || err == ENOBUFS ||
           err == ENOMEM || err == EPROTO || err == EAGAIN || err == EWOULDBLOCK;
}

}  // namespace

CTcpSocket::CTcpSocket()
    : lineBuffer_(new char[kLineBufferSize]), receiveBuffer_(new char[kReceiveBufferSize])
{}

CTcpSocket::~CTcpSocket()
{
    Disarm();  // before the members OnTimeout uses go
    Close();
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
        ::close(fd_);
        fd_ = -1;
    }
    open_ = false;
    endOfStream_ = true;
    count_ = 0;
    pending_ = kNoPending;
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
        ::shutdown(fd_, SHUT_RDWR);
    open_ = false;
    endOfStream_ = true;
}

int CTcpSocket::Create()
{
    Close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetErrorText("ソケットの生成に失敗しました。");
        return -3;
    }
    std::lock_guard<std::mutex> lock(stateLock_);
    fd_ = fd;
    open_ = true;
    endOfStream_ = false;
    peerKnown_ = false;
    return 0;
}

int CTcpSocket::Bind(int port, const CIPv4Address& address)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address.GetAddress();
    local.sin_port = htons(static_cast<uint16_t>(port));
    const int on = 1;
    // A restart must not fail on the old server's connections in TIME_WAIT.
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (port < 1 || port > kMaxPort ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        SetErrorText("ポート割り当てに失敗しました。");
        Close();
        return -1;
    }
    return 0;
}

int CTcpSocket::Listen(int port, const CIPv4Address& address)
{
    if (Create() != 0 || Bind(port, address) != 0)
        return -1;
    if (::listen(fd_, kListenBacklog) != 0) {
        SetErrorText("ポート監視に失敗しました。");
        Close();
        return -1;
    }
    return 0;
}

int CTcpSocket::Accept(CTcpSocket* into, int block)
{
    // A listen socket has nothing to receive: only its readiness is asked.
    if (!block && count_ == 0 && ReadableWithin(0) == 0)
        return 0;
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        SetErrorText("接続許可に失敗しました。");
        // Other threads accept on this socket too, so only its owner may close it.
        if (!IsTransientAcceptError(err))
            Abort();
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (into->Attach(fd) != 0) {
        ::close(fd);
        return -1;
    }
    // The accept told the peer already; asking the system again would cost a call.
    if (peer.sin_family == AF_INET && peerSize >= sizeof peer) {
        into->peer_.SetAddress(peer.sin_addr.s_addr);
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
    return 0;
}

int CTcpSocket::Connect(const std::string& host, int port)
{
    Close();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
            SetErrorText(" ホストが見つかりませんでした [" + host + "]");
            Close();
            return -2;
        }
        address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    if (Create() != 0)
        return -1;
    Arm(timeout_);
    int rc;
    do {
        rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    Disarm();
    if (rc != 0 || !open_) {
        SetErrorText(" ホストに接続できませんでした。 [" + host + ":" + std::to_string(port) + "]");
        Close();
        return -2;
    }
    endOfStream_ = false;
    peer_.SetAddress(address.sin_addr.s_addr);
    peerKnown_ = true;
    return 0;
}

int CTcpSocket::SocketReadableWithin(int64_t microseconds)
{
    if (!open_)
        return 0;
    pollfd p{fd_, POLLIN, 0};
    timespec wait{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
    if (microseconds < 0)
        wait = {0, 0};
    const int rc = ::ppoll(&p, 1, &wait, nullptr);
    return rc > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}

int CTcpSocket::ReadableWithin(int64_t microseconds) { return SocketReadableWithin(microseconds); }

int CTcpSocket::DataAvailable(int64_t microseconds)
{
    if (count_ > 0 || pending_ != kNoPending)
        return 1;
    if (microseconds > 0 || endOfStream_)
        return ReadableWithin(microseconds);
    // A look without waiting is a receive: the bytes it finds are the ones the caller
    // reads next, so asking for readiness first would only add a call.
    const int n = ReceiveWaiting(receiveBuffer_.get(), kReceiveBufferSize);
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
    pollfd p{fd_, 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLNVAL)))
        return 1;
    int err = 0;
    socklen_t size = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &size) != 0 || err != 0)
        return 1;
    return 0;
}

int CTcpSocket::RawSend(int handle, const void* bytes, int length, int flags)
{
    ssize_t n;
    do {
        n = ::send(handle, bytes, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int CTcpSocket::RawReceive(int handle, void* buffer, int length, int flags)
{
    ssize_t n;
    do {
        n = ::recv(handle, buffer, static_cast<size_t>(length), flags);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int CTcpSocket::ReceiveWaiting(void* buffer, int length)
{
    if (!open_)
        return kNothingWaiting;
    // It cannot block, so it needs no watchdog: a shutdown by Abort shows as an end of
    // stream, which Fill tells from the peer's by the closed flag.
    const int n = RawReceive(fd_, buffer, length, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return kNothingWaiting;
    return n;
}

int CTcpSocket::Take(void* dest, int n)
{
    const int taken = n < count_ ? n : count_;
    if (taken <= 0)
        return 0;
    std::memcpy(dest, receiveBuffer_.get(), static_cast<size_t>(taken));
    std::memmove(receiveBuffer_.get(), receiveBuffer_.get() + taken, static_cast<size_t>(count_ - taken));
    count_ -= taken;
    return taken;
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
        if (n == kNoPending)
            n = ReceiveWaiting(receiveBuffer_.get() + count_, freeSpace);
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
    const int n = Receive(lineBuffer_.get(), max);
    if (n < 0) {
        text.clear();
        return n;
    }
    lineBuffer_[n] = 0;
    text.assign(lineBuffer_.get());
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
    const int n = Peek(lineBuffer_.get(), max);
    lineBuffer_[n > 0 ? n : 0] = 0;
    return n;
}

int CTcpSocket::PeekString(std::string& text)
{
    const int n = PeekIntoLineBuffer(kMaxStringRead);
    text.assign(lineBuffer_.get());
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
        const int n = RawSend(fd_, p, length, 0);
        if (n <= 0) {
            Disarm();
            if (!IsTimedOut())
                SetErrorText("データ送信に失敗しました。");
            Close();
            return -1;
        }
        p += n;
        length -= n;
    }
    Disarm();
    return 0;
}

void CTcpSocket::SetCorked(bool on)
{
    if (!open_)
        return;
    const int value = on ? 1 : 0;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
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
    off_t position = static_cast<off_t>(offset);
    int64_t sent = 0;
    Arm(timeout_);
    while (sent < length) {
        const ssize_t n = ::sendfile(fd_, fileHandle, &position, static_cast<size_t>(length - sent));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Disarm();
            if (!IsTimedOut())
                SetErrorText("データ送信に失敗しました。");
            Close();
            return -1;
        }
        if (n == 0)
            break;  // the file ended early
        sent += n;
    }
    Disarm();
    return sent;
}

int CTcpSocket::SendAll(const std::string& text)
{
    return SendAll(text.data(), static_cast<int>(text.size()));
}

CIPv4Address CTcpSocket::GetPeerAddress() const
{
    if (!peerKnown_) {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        const bool known = ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
                           address.sin_family == AF_INET;
        peer_.SetAddress(known ? address.sin_addr.s_addr : 0);
        peerKnown_ = true;
    }
    return peer_;
}

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
    result.SetAddress(0);
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    bool haveLoopback = false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        const in_addr_t address = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        if (i->ifa_flags & IFF_LOOPBACK) {
            if (!haveLoopback) {
                result.SetAddress(address);
                haveLoopback = true;
            }
            continue;
        }
        result.SetAddress(address);
        break;
    }
    ::freeifaddrs(list);
    return result;
}
