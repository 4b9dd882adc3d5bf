#include "ServerTestSupport.h"

#include "app/DebugLog.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace servertest {

std::unique_ptr<CConfigClass> CopyContext(CContextTree& context)
{
    auto copy = std::make_unique<CConfigClass>();
    context.CopyTo(*copy);
    return copy;
}

std::vector<std::string> LiveRequests(CContextTree& context)
{
    std::vector<std::string> names;
    CopyContext(context)->GetSections("Threads", names);
    return names;
}

std::vector<std::string> FinishedRequests(CContextTree& context)
{
    std::vector<std::string> names;
    CopyContext(context)->GetSections("ThreadLogs", names);
    return names;
}

namespace {

std::string& RootStorage()
{
    static std::string root;
    return root;
}

// The debug log goes to a folder of this run. Set before any test runs, so no other thread
// reads the environment while it changes.
class ServerTestEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        // As the program's main does: a peer that hangs up under a TLS write or a sendfile
        // must give the test EPIPE, not end it.
        std::signal(SIGPIPE, SIG_IGN);
        root_ = std::make_unique<TempFolder>();
        RootStorage() = root_->Path();
        ::setenv("TARNWICK_ROOT", RootStorage().c_str(), 1);
        ReportThreadFailuresToDebugLog();
    }
    void TearDown() override { root_.reset(); }

private:
    std::unique_ptr<TempFolder> root_;
};

testing::Environment* const environment = testing::AddGlobalTestEnvironment(new ServerTestEnvironment);

}  // namespace

const std::string& ServerRoot() { return RootStorage(); }

CIPv4Address LoopbackAddress() { return CIPv4Address(std::string("127.0.0.1")); }

CIPv4Address UnreachableAddress() { return CIPv4Address(std::string("192.0.2.1")); }

void MakeSocketPair(int& a, int& b)
{
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair failed");
    a = fds[0];
    b = fds[1];
}

int ConnectAndSend(int port, const std::string& bytes)
{
    const int fd = ConnectLoopback(port);
    if (fd >= 0 && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int FindListeningDescriptor(int port)
{
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return -1;
    int found = -1;
    while (dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = std::atoi(entry->d_name);
        if (fd == ::dirfd(fds))
            continue;
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_in address{};
        socklen_t addressSize = sizeof address;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressSize) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port) {
            found = fd;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

int PollReadable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0 ? 1 : 0;
}

bool ReadsEndOfStream(int fd, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char scratch[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !PollReadable(fd, static_cast<int>(left.count())))
            return false;
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n < 0 && errno == ECONNRESET)
            return true;  // closed with unread data: also an end
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
    }
}

bool IsDescriptorOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

int CountProcessThreads()
{
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return -1;
    int count = 0;
    while (dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(tasks);
    return count;
}

IdleThread::~IdleThread() { StopAndWait(); }

TestConnection::TestConnection()
{
    int near = -1;
    MakeSocketPair(near, peer);
    if (socket.Attach(near) != 0) {
        ::close(near);
        ClosePeer();
        throw std::runtime_error("the socket did not take its descriptor");
    }
}

TestConnection::~TestConnection() { ClosePeer(); }

void TestConnection::ClosePeer()
{
    if (peer >= 0)
        ::close(peer);
    peer = -1;
}

}  // namespace servertest
