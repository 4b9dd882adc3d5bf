#include "NotifyReceiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <random>
#include <stdexcept>

namespace testsupport {

namespace {

// Far beyond any notification a service sends; a longer datagram arrives cut.
constexpr std::size_t kLongestDatagram = 4096;

std::string UniqueAbstractName()
{
    std::random_device random;
    return "@tarnwick-notify-" + std::to_string(::getpid()) + "-" + std::to_string(random());
}

}  // namespace

NotifyReceiver::NotifyReceiver() : NotifyReceiver(UniqueAbstractName()) {}

NotifyReceiver::NotifyReceiver(const std::string& address) : address_(address)
{
    sockaddr_un name{};
    if (address.empty() || address.size() > sizeof name.sun_path)
        throw std::runtime_error("cannot bind " + address + ": no socket address");
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw std::runtime_error("cannot bind " + address + ": " + std::strerror(errno));
    name.sun_family = AF_UNIX;
    std::memcpy(name.sun_path, address.data(), address.size());
    if (address[0] == '@')
        name.sun_path[0] = '\0';
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&name), length) != 0) {
        const int err = errno;
        ::close(fd_);
        throw std::runtime_error("cannot bind " + address + ": " + std::strerror(err));
    }
}

NotifyReceiver::~NotifyReceiver() { ::close(fd_); }

std::optional<std::string> NotifyReceiver::Receive(int waitMs)
{
    pollfd readable{fd_, POLLIN, 0};
    if (::poll(&readable, 1, waitMs) != 1)
        return std::nullopt;
    char buffer[kLongestDatagram];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace testsupport
