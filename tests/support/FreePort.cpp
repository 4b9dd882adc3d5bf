#include "FreePort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

// A close-on-exec TCP socket bound to 127.0.0.1 at `port` (0: one the system chooses),
// listening when `listen` is set; -1 when any step failed. `port` gets the port.
int BindLoopbackPort(bool reuseAddress, bool listen, int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof address;
    if ((reuseAddress && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || (listen && ::listen(fd, 1) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

ReservedPort::ReservedPort()
{
    port_ = 0;
    fd_ = BindLoopbackPort(true, false, port_);
    if (fd_ < 0)
        port_ = -1;
}

ReservedPort::~ReservedPort()
{
    if (fd_ >= 0)
        ::close(fd_);
}

BusyPort::BusyPort()
{
    port_ = 0;
    fd_ = BindLoopbackPort(false, true, port_);
    if (fd_ < 0)
        port_ = -1;
}

// Beside the reservation, which allows a second bind that also sets SO_REUSEADDR while
// nothing listens.
BusyPort::BusyPort(const ReservedPort& reserved)
{
    port_ = reserved.Port();
    fd_ = port_ > 0 ? BindLoopbackPort(true, true, port_) : -1;
    if (fd_ < 0)
        port_ = -1;
}

void BusyPort::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int ConnectLoopback(int port, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string HttpExchange(int port, const std::string& request)
{
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return "";
    std::string response;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            response.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return response;
}

pid_t ListeningProcess(const std::string& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    pid_t pid = -1;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0)
        pid = credentials.pid;
    ::close(fd);
    return pid;
}

int AcceptedConnections(const std::string& socketPath)
{
    // Columns: Num RefCount Protocol Flags Type St Inode Path; St 03 is connected.
    std::ifstream table("/proc/net/unix");
    std::string line;
    std::getline(table, line);
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream columns(line);
        std::string num, refCount, protocol, flags, type, state, inode, path;
        if (columns >> num >> refCount >> protocol >> flags >> type >> state >> inode >> path && state == "03" &&
            path == socketPath)
            ++count;
    }
    return count;
}

}  // namespace testsupport
