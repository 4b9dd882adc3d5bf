#include "ForkedControlClient.h"

#include "ControlWire.h"
#include "ServerControlInterface.h"

#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// A child that its test forgot must not stay.
constexpr unsigned kChildLifeSeconds = 30;
// A child that is healthy answers an order at once; this is a hang.
constexpr int kAnswerLimitMs = 5000;

enum Order : char { kBound = 'b', kHangUp = 'h', kEnd = 'e' };

// The creation call as the wire carries it, made before the fork.
std::string CreationFrame()
{
    platform::ControlCall call;
    call.method = platform::kControlCreateMethod;
    call.interfaceId = platform::kServerControlIid;
    const std::string payload = platform::EncodeControlCall(call);
    std::string frame = "TWC1";
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<char>((payload.size() >> (8 * i)) & 0xFF));
    return frame + payload;
}

[[noreturn]] void RunChild(const sockaddr_un& address, const std::string& creation, int orders, int replies)
{
    ::alarm(kChildLifeSeconds);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    char result[64];
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::write(fd, creation.data(), creation.size()) != static_cast<ssize_t>(creation.size()) ||
        ::read(fd, result, sizeof result) <= 0)
        ::_exit(1);
    char order = kBound;
    if (::write(replies, &order, 1) != 1)
        ::_exit(1);
    while (::read(orders, &order, 1) == 1 && order == kHangUp) {
        ::close(fd);
        if (::write(replies, &order, 1) != 1)
            ::_exit(1);
    }
    ::_exit(0);
}

}  // namespace

ForkedControlClient::ForkedControlClient(const std::string& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    const std::string creation = CreationFrame();
    int orders[2], replies[2];
    if (::pipe2(orders, O_CLOEXEC) != 0)
        return;
    if (::pipe2(replies, O_CLOEXEC) != 0) {
        ::close(orders[0]);
        ::close(orders[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0)
        RunChild(address, creation, orders[0], replies[1]);
    ::close(orders[0]);
    ::close(replies[1]);
    orders_ = orders[1];
    replies_ = replies[0];
}

ForkedControlClient::~ForkedControlClient()
{
    End();
    if (orders_ >= 0)
        ::close(orders_);
    if (replies_ >= 0)
        ::close(replies_);
}

bool ForkedControlClient::Answered()
{
    pollfd p{replies_, POLLIN, 0};
    char reply = 0;
    return ::poll(&p, 1, kAnswerLimitMs) == 1 && ::read(replies_, &reply, 1) == 1;
}

bool ForkedControlClient::WaitBound() { return pid_ > 0 && Answered(); }

bool ForkedControlClient::HangUp()
{
    char order = kHangUp;
    return pid_ > 0 && ::write(orders_, &order, 1) == 1 && Answered();
}

void ForkedControlClient::End()
{
    if (pid_ <= 0)
        return;
    char order = kEnd;
    if (::write(orders_, &order, 1) != 1)
        ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace testsupport
