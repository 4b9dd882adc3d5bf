#include "Socket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// A TCP port is 16 bits (RFC 9293 3.1); 0 would let the system choose one, which no
// caller means.
constexpr int kMaxPort = 65535;

// What the drain after a shutdown reads at once.
constexpr int kDrainChunk = 4096;

sockaddr_in TcpAddress(uint32_t address, int port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(static_cast<uint16_t>(port));
    return result;
}

void SetOption(int fd, int level, int name, int value) { ::setsockopt(fd, level, name, &value, sizeof value); }

// Closes `fd` without losing the errno of the failure that made its caller give it up.
int CloseAfterFailure(int fd)
{
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

}  // namespace

int OpenTcpListener(uint32_t address, int port, int backlog, int deferAcceptSeconds, ListenStep* failedAt)
{
    *failedAt = ListenStep::Create;
    const int fd = OpenTcpSocket();
    if (fd < 0)
        return -1;
    SetOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    *failedAt = ListenStep::Bind;
    if (port < 1 || port > kMaxPort) {
        errno = EINVAL;
        return CloseAfterFailure(fd);
    }
    const sockaddr_in local = TcpAddress(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return CloseAfterFailure(fd);
    *failedAt = ListenStep::Listen;
    if (::listen(fd, backlog) != 0)
        return CloseAfterFailure(fd);
    if (deferAcceptSeconds > 0)
        SetOption(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, deferAcceptSeconds);
    // Accepted connections take these over, which saves a call on each of them.
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(fd, IPPROTO_TCP, TCP_INQ, 1);
    return fd;
}

int OpenTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int ConnectTcp(int fd, uint32_t address, int port)
{
    const sockaddr_in remote = TcpAddress(address, port);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : -1;
}

bool ResolveIPv4(const std::string& host, uint32_t* address)
{
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
        *address = numeric.s_addr;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

std::string LookUpIPv4Name(uint32_t address)
{
    const sockaddr_in peer = TcpAddress(address, 0);
    char name[NI_MAXHOST];
    // NI_NAMEREQD: a missing name is a failure, not the numeric form in disguise.
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name, sizeof name, nullptr, 0,
                      NI_NAMEREQD) != 0)
        return std::string();
    return name;
}

uint32_t GetLocalInterfaceIPv4()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return 0;
    uint32_t result = 0;
    bool haveLoopback = false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        const in_addr_t address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        if (i->ifa_flags & IFF_LOOPBACK) {
            if (!haveLoopback) {
                result = address;
                haveLoopback = true;
            }
            continue;
        }
        result = address;
        break;
    }
    ::freeifaddrs(list);
    return result;
}

int AcceptTcp(int fd, uint32_t* peer)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const int accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC);
    if (accepted < 0)
        return -1;
    *peer = address.sin_family == AF_INET && size >= sizeof address ? address.sin_addr.s_addr : 0;
    return accepted;
}

bool IsTransientAcceptError(int error)
{
    return error == ECONNABORTED || error == EINTR || error == EMFILE || error == ENFILE || error == ENOBUFS ||
           error == ENOMEM || error == EPROTO || error == EAGAIN || error == EWOULDBLOCK;
}

namespace {

// One end's IPv4 address and port through getpeername or getsockname; false for any other
// family.
bool EndAddress(int fd, int (*query)(int, sockaddr*, socklen_t*), sockaddr_in& address)
{
    socklen_t size = sizeof address;
    return query(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.sin_family == AF_INET;
}

uint32_t EndIPv4(int fd, int (*query)(int, sockaddr*, socklen_t*))
{
    sockaddr_in address{};
    return EndAddress(fd, query, address) ? address.sin_addr.s_addr : 0;
}

}  // namespace

uint32_t GetPeerIPv4(int fd) { return EndIPv4(fd, ::getpeername); }

uint32_t GetLocalIPv4(int fd) { return EndIPv4(fd, ::getsockname); }

int GetLocalPort(int fd)
{
    sockaddr_in address{};
    return EndAddress(fd, ::getsockname, address) ? ntohs(address.sin_port) : 0;
}

bool WaitReadable(int fd, int64_t microseconds, bool* ended)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    timespec wait{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
    if (microseconds < 0)
        wait = {0, 0};
    const int rc = ::ppoll(&p, 1, &wait, nullptr);
    if (ended)
        *ended = rc < 0 || (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
    return rc > 0 && (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR));
}

int WaitAnyReadable(const std::vector<int>& fds, std::vector<bool>* ready, int ms)
{
    std::vector<pollfd> watched;
    watched.reserve(fds.size());
    for (const int fd : fds)
        watched.push_back({fd, POLLIN, 0});
    ready->assign(fds.size(), false);
    const int rc = ::poll(watched.data(), watched.size(), ms);
    if (rc < 0)
        return -1;
    for (size_t i = 0; i < watched.size(); ++i)
        (*ready)[i] = watched[i].revents != 0;
    return rc;
}

bool HasSocketError(int fd)
{
    pollfd p{fd, 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLNVAL)))
        return true;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0;
}

int SendSome(int fd, const void* bytes, int length)
{
    ssize_t n;
    do {
        n = ::send(fd, bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int ReceiveSome(int fd, void* buffer, int length, bool wait, LeftBehind* left)
{
    iovec part{buffer, static_cast<size_t>(length)};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    // Room for the count of what is left (TCP_CM_INQ), when the connection reports it.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (left) {
        *left = LeftBehind::Unknown;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    ssize_t n;
    do {
        n = ::recvmsg(fd, &message, wait ? 0 : MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    // A wait that ran out (SO_RCVTIMEO) ends as a receive that may not wait.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return kNothingReceived;
    if (n < 0)
        return -1;
    if (left && n > 0) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_TCP && c->cmsg_type == TCP_CM_INQ) {
                int waiting = 0;
                std::memcpy(&waiting, CMSG_DATA(c), sizeof waiting);
                // The system counts a received end of stream as one byte left.
                *left = waiting == 0 ? LeftBehind::Nothing : LeftBehind::More;
            }
        }
    }
    return static_cast<int>(n);
}

bool SetReceiveTimeout(int fd, int64_t microseconds)
{
    timeval limit{0, 0};
    if (microseconds > 0)
        limit = {static_cast<time_t>(microseconds / 1000000), static_cast<suseconds_t>(microseconds % 1000000)};
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

int64_t SendFileRange(int fd, int fileFd, int64_t offset, int64_t length, int64_t& sent)
{
    off_t position = static_cast<off_t>(offset);
    sent = 0;
    while (sent < length) {
        const ssize_t n = ::sendfile(fd, fileFd, &position, static_cast<size_t>(length - sent));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;  // the file ended early
        sent += n;
    }
    return sent;
}

void SetCorked(int fd, bool on) { SetOption(fd, IPPROTO_TCP, TCP_CORK, on ? 1 : 0); }

void ShutdownSending(int fd) { ::shutdown(fd, SHUT_WR); }

void ShutdownSendingAndDrain(int fd, int64_t maxBytes)
{
    ShutdownSending(fd);
    char scratch[kDrainChunk];
    int64_t dropped = 0;
    for (ssize_t n; dropped < maxBytes && (n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT)) > 0;)
        dropped += n;
}

bool SetSocketBlocking(int fd, bool blocking)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

void InterruptSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

void CloseSocket(int fd) { ::close(fd); }

int ConnectLocalStream(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return CloseAfterFailure(fd);
    return fd;
}

}  // namespace platform
