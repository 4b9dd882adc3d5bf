#include "Socket.h"

#include "FreePort.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Every wait on a loopback peer ends within this.
constexpr int64_t kWaitMicroseconds = 5000000;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A listener on a reserved loopback port with one accepted connection and its client end.
class SocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::ListenStep failedAt;
        listener_ = platform::OpenTcpListener(kLoopback, port_.Port(), 1, 0, &failedAt);
        ASSERT_GE(listener_, 0);
        sockaddr_in address{};
        socklen_t size = sizeof address;
        ASSERT_EQ(0, ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size));
        client_ = testsupport::ConnectLoopback(ntohs(address.sin_port));
        ASSERT_GE(client_, 0);
        uint32_t peer = 0;
        server_ = platform::AcceptTcp(listener_, &peer);
        ASSERT_GE(server_, 0);
        EXPECT_EQ(kLoopback, peer);
    }
    void TearDown() override
    {
        for (const int fd : {server_, client_, listener_})
            if (fd >= 0)
                ::close(fd);
    }

    testsupport::ReservedPort port_;
    int listener_ = -1;
    int client_ = -1;
    int server_ = -1;
};

TEST(SocketListenTest, PortOutsideTheTcpRangeFailsAtBind)
{
    const struct {
        const char* description;
        int port;
    } cases[] = {{"zero", 0}, {"negative", -1}, {"one past 16 bits", 65536}};
    for (const auto& c : cases) {
        platform::ListenStep failedAt = platform::ListenStep::Create;
        errno = 0;
        EXPECT_EQ(-1, platform::OpenTcpListener(kLoopback, c.port, 1, 0, &failedAt)) << c.description;
        EXPECT_EQ(platform::ListenStep::Bind, failedAt) << c.description;
        EXPECT_EQ(EINVAL, errno) << c.description;
    }
}

TEST(SocketListenTest, TakenPortFailsAtBind)
{
    testsupport::BusyPort busy;
    ASSERT_GT(busy.Port(), 0);
    platform::ListenStep failedAt = platform::ListenStep::Create;
    EXPECT_EQ(-1, platform::OpenTcpListener(kLoopback, busy.Port(), 1, 0, &failedAt));
    EXPECT_EQ(platform::ListenStep::Bind, failedAt);
}

// What the tests' reserved ports rely on: a port held bound (not listening) is given to no
// other bind of port 0, yet a listener may bind it, and then it is taken.
TEST(SocketListenTest, AReservedPortGoesOnlyToTheListenerNamingIt)
{
    // Binds of port 0 made while the port is held, each of which the system must steer
    // around it: a few hundred, well within the descriptors a test may hold.
    constexpr int kOtherBinds = 200;
    testsupport::ReservedPort reserved;
    ASSERT_GT(reserved.Port(), 0);
    std::vector<std::unique_ptr<testsupport::ReservedPort>> others;
    for (int i = 0; i < kOtherBinds; ++i) {
        others.push_back(std::make_unique<testsupport::ReservedPort>());
        EXPECT_NE(others.back()->Port(), reserved.Port());
    }
    platform::ListenStep failedAt = platform::ListenStep::Create;
    const int listener = platform::OpenTcpListener(kLoopback, reserved.Port(), 1, 0, &failedAt);
    ASSERT_GE(listener, 0);
    EXPECT_EQ(-1, platform::OpenTcpListener(kLoopback, reserved.Port(), 1, 0, &failedAt));
    EXPECT_EQ(platform::ListenStep::Bind, failedAt);
    const int client = testsupport::ConnectLoopback(reserved.Port());
    EXPECT_GE(client, 0);
    for (const int fd : {client, listener})
        if (fd >= 0)
            ::close(fd);
}

TEST(SocketLocalTest, PathLongerThanAnAddressIsRefused)
{
    const std::string tooLong = "/" + std::string(sizeof(sockaddr_un::sun_path), 'x');
    errno = 0;
    EXPECT_EQ(-1, platform::ConnectLocalStream(tooLong));
    EXPECT_EQ(ENAMETOOLONG, errno);
}

TEST_F(SocketTest, ReceiveWithoutWaitingTellsNothingFromTheEnd)
{
    char byte = 0;
    EXPECT_EQ(platform::kNothingReceived, platform::ReceiveSome(server_, &byte, 1, false));
    ASSERT_EQ(1, ::send(client_, "x", 1, 0));
    ASSERT_TRUE(platform::WaitReadable(server_, kWaitMicroseconds));
    EXPECT_EQ(1, platform::ReceiveSome(server_, &byte, 1, false));
    ::shutdown(client_, SHUT_WR);
    ASSERT_TRUE(platform::WaitReadable(server_, kWaitMicroseconds));
    EXPECT_EQ(0, platform::ReceiveSome(server_, &byte, 1, false));
}

// An accepted connection tells with each receive whether bytes or the peer's end were left
// behind it; a local stream never does.
TEST_F(SocketTest, AReceiveTellsWhetherAnythingWasLeftBehindIt)
{
    using platform::LeftBehind;
    char bytes[2] = {};
    LeftBehind left = LeftBehind::Nothing;
    EXPECT_EQ(platform::kNothingReceived, platform::ReceiveSome(server_, bytes, 1, false, &left));
    EXPECT_EQ(LeftBehind::Unknown, left);
    ASSERT_EQ(2, ::send(client_, "ab", 2, 0));
    ASSERT_TRUE(platform::WaitReadable(server_, kWaitMicroseconds));
    EXPECT_EQ(1, platform::ReceiveSome(server_, bytes, 1, false, &left));
    EXPECT_EQ(LeftBehind::More, left) << "one byte";
    EXPECT_EQ(1, platform::ReceiveSome(server_, bytes, 1, false, &left));
    EXPECT_EQ(LeftBehind::Nothing, left);
    ASSERT_EQ(1, ::send(client_, "c", 1, 0));
    ::shutdown(client_, SHUT_WR);
    ASSERT_TRUE(platform::WaitReadable(server_, kWaitMicroseconds));
    bool ended = false;
    ASSERT_TRUE(platform::WaitReadable(server_, kWaitMicroseconds, &ended) && ended);
    EXPECT_EQ(1, platform::ReceiveSome(server_, bytes, 2, false, &left));
    EXPECT_EQ(LeftBehind::More, left) << "the end";
    EXPECT_EQ(0, platform::ReceiveSome(server_, bytes, 2, false, &left));
    EXPECT_EQ(LeftBehind::Unknown, left);

    int local[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, local));
    ASSERT_EQ(1, ::send(local[1], "x", 1, 0));
    EXPECT_EQ(1, platform::ReceiveSome(local[0], bytes, 2, true, &left));
    EXPECT_EQ(LeftBehind::Unknown, left) << "a local stream does not tell";
    ::close(local[0]);
    ::close(local[1]);
}

TEST_F(SocketTest, AWaitingReceiveEndsEmptyAtItsTimeOut)
{
    constexpr int64_t kTimeOutMicroseconds = 100000;
    ASSERT_TRUE(platform::SetReceiveTimeout(server_, kTimeOutMicroseconds));
    char byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::kNothingReceived, platform::ReceiveSome(server_, &byte, 1, true));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(kTimeOutMicroseconds) - 10ms);
    ASSERT_EQ(1, ::send(client_, "x", 1, 0));
    EXPECT_EQ(1, platform::ReceiveSome(server_, &byte, 1, true));
    EXPECT_EQ('x', byte);
}

TEST_F(SocketTest, DrainBeforeCloseEndsTheStreamInsteadOfResettingIt)
{
    const std::string request(1000, 'r');
    ASSERT_EQ(static_cast<ssize_t>(request.size()), ::send(client_, request.data(), request.size(), 0));
    ASSERT_TRUE(platform::WaitReadable(server_, kWaitMicroseconds));
    ASSERT_EQ(5, platform::SendSome(server_, "reply", 5));
    platform::ShutdownSendingAndDrain(server_, static_cast<int64_t>(request.size()));
    platform::CloseSocket(server_);
    server_ = -1;
    char answer[16];
    EXPECT_EQ(5, ::recv(client_, answer, sizeof answer, MSG_WAITALL));
    EXPECT_EQ(0, ::recv(client_, answer, sizeof answer, 0)) << "the close reset the connection";
}

}  // namespace
