#include "net/TcpSocket.h"

#include "../ServerTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace {

using servertest::WaitUntil;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kClosedLine = "回線は切断されています。";

int IntOption(int fd, int level, int name)
{
    int value = 0;
    socklen_t size = sizeof value;
    return ::getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
}

bool IsCloseOnExec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

void WriteRaw(int fd, const std::string& bytes)
{
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
}

// Fill reads at most once per call, so bytes still on their way need a few calls.
bool WaitBuffered(CTcpSocket& socket, int count)
{
    return WaitUntil([&] { return socket.Available() >= count; });
}

// The socket under test owns one end of a socket pair; the test writes the other end.
class TcpSocketPairTest : public testing::Test {
protected:
    void SetUp() override
    {
        int mine = -1;
        servertest::MakeSocketPair(mine, peer_);
        ASSERT_EQ(0, socket_.Attach(mine));
    }
    void TearDown() override { ClosePeer(); }
    void ClosePeer()
    {
        if (peer_ >= 0)
            ::close(peer_);
        peer_ = -1;
    }

    CTcpSocket socket_;
    int peer_ = -1;
};

TEST_F(TcpSocketPairTest, ReceiveHandsOutBytesInOrderAcrossCalls)
{
    WriteRaw(peer_, "hello world");
    ASSERT_TRUE(WaitBuffered(socket_, 11));
    char buffer[64] = {};
    ASSERT_EQ(5, socket_.Receive(buffer, 5));
    EXPECT_EQ("hello", std::string(buffer, 5));
    ASSERT_EQ(6, socket_.Receive(buffer, sizeof buffer));
    EXPECT_EQ(" world", std::string(buffer, 6));
    EXPECT_EQ(0, socket_.Receive(buffer, sizeof buffer));  // nothing new is not a failure
    EXPECT_TRUE(socket_.IsOpen());
}

TEST_F(TcpSocketPairTest, PeekDoesNotConsume)
{
    WriteRaw(peer_, "abcdef");
    ASSERT_TRUE(WaitBuffered(socket_, 6));
    char first[3] = {};
    char second[3] = {};
    ASSERT_EQ(3, socket_.Peek(first, 3));
    ASSERT_EQ(3, socket_.Peek(second, 3));
    EXPECT_EQ(std::string(first, 3), std::string(second, 3));
    char all[6] = {};
    ASSERT_EQ(6, socket_.Receive(all, 6));
    EXPECT_EQ("abcdef", std::string(all, 6));
}

TEST_F(TcpSocketPairTest, StringReadsEndTheTextAtAZeroByteButConsumeEverything)
{
    WriteRaw(peer_, std::string("abc\0def", 7));
    ASSERT_TRUE(WaitBuffered(socket_, 7));
    std::string text;
    EXPECT_EQ(7, socket_.PeekString(text));
    EXPECT_EQ("abc", text);
    EXPECT_EQ(7, socket_.ReceiveString(text, 0));
    EXPECT_EQ("abc", text);
    EXPECT_EQ(0, socket_.GetBufferedCount());
}

struct StringReadCase {
    const char* what;
    int max;
    int expected;
};

TEST(TcpSocketStringReadTest, ReceiveStringReadsAtMost32766Bytes)
{
    const StringReadCase cases[] = {
        {"0 means the most", 0, 32766},
        {"negative means the most", -1, 32766},
        {"one below the most", 32765, 32765},
        {"the most", 32766, 32766},
        {"one above the most", 32767, 32766},
        {"far above the most", 100000, 32766},
        {"one byte", 1, 1},
    };
    const std::string payload(40000, 'x');
    for (const StringReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        int mine = -1;
        int peer = -1;
        servertest::MakeSocketPair(mine, peer);
        CTcpSocket socket;
        ASSERT_EQ(0, socket.Attach(mine));
        WriteRaw(peer, payload);
        ASSERT_TRUE(WaitBuffered(socket, static_cast<int>(payload.size())));
        std::string text;
        EXPECT_EQ(c.expected, socket.ReceiveString(text, c.max));
        EXPECT_EQ(static_cast<size_t>(c.expected), text.size());
        EXPECT_EQ(static_cast<int>(payload.size()) - c.expected, socket.GetBufferedCount());
        ::close(peer);
    }
}

TEST_F(TcpSocketPairTest, AfterThePeerClosedBufferedBytesComeFirstThenTheClosedLine)
{
    WriteRaw(peer_, "abc");
    ClosePeer();
    std::string received;
    int result = 0;
    ASSERT_TRUE(WaitUntil([&] {
        char byte;
        result = socket_.Receive(&byte, 1);
        if (result == 1)
            received += byte;
        return result < 0;
    }));
    EXPECT_EQ("abc", received);
    EXPECT_EQ(-1, result);
    EXPECT_EQ(kClosedLine, socket_.GetErrorText());
    EXPECT_FALSE(socket_.IsOpen());
    EXPECT_EQ(1, socket_.IsEndOfStream());
}

TEST_F(TcpSocketPairTest, IsDisconnectedOnceThePeerHasClosed)
{
    EXPECT_EQ(0, socket_.IsDisconnected());
    ClosePeer();
    EXPECT_TRUE(WaitUntil([&] { return socket_.IsDisconnected() == 1; }));
}

TEST_F(TcpSocketPairTest, SendAllAfterThePeerClosedFailsWithTheClosedLine)
{
    const int handle = socket_.GetHandle();
    ClosePeer();
    ASSERT_EQ(1, servertest::PollReadable(handle, 5000));
    EXPECT_EQ(-1, socket_.SendAll(std::string("data")));
    EXPECT_EQ(kClosedLine, socket_.GetErrorText());
    EXPECT_FALSE(socket_.IsOpen());
}

TEST_F(TcpSocketPairTest, SendAllOfNothingSucceeds)
{
    EXPECT_EQ(0, socket_.SendAll(std::string()));
    EXPECT_TRUE(socket_.IsOpen());
}

TEST_F(TcpSocketPairTest, FillOnAFullBufferReadsNothing)
{
    WriteRaw(peer_, std::string(CTcpSocket::kReceiveBufferSize + 100, 'y'));
    ASSERT_TRUE(WaitBuffered(socket_, CTcpSocket::kReceiveBufferSize));
    EXPECT_EQ(0, socket_.Fill());
    EXPECT_EQ(CTcpSocket::kReceiveBufferSize, socket_.GetBufferedCount());
    char buffer[100];
    EXPECT_EQ(100, socket_.Receive(buffer, 100));
    EXPECT_TRUE(WaitBuffered(socket_, CTcpSocket::kReceiveBufferSize));  // the rest fits now
}

// The number a closed descriptor had is handed to the next open at once; a second Close
// must not close whatever took it.
TEST_F(TcpSocketPairTest, CloseTwiceIsHarmlessAndLeavesAReusedNumberAlone)
{
    const int handle = socket_.GetHandle();
    socket_.Close();
    EXPECT_FALSE(socket_.IsOpen());
    EXPECT_FALSE(servertest::IsDescriptorOpen(handle));
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe2(pipeEnds, O_CLOEXEC));
    socket_.Close();
    EXPECT_TRUE(servertest::IsDescriptorOpen(pipeEnds[0]));
    EXPECT_TRUE(servertest::IsDescriptorOpen(pipeEnds[1]));
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(TcpSocketPairTest, AbortFromAnotherThreadLeavesTheDescriptorToTheOwner)
{
    const int handle = socket_.GetHandle();
    std::thread([&] { socket_.Abort(); }).join();
    EXPECT_FALSE(socket_.IsOpen());
    EXPECT_TRUE(servertest::IsDescriptorOpen(handle));
    EXPECT_TRUE(servertest::ReadsEndOfStream(peer_));  // the connection itself is down
    char byte;
    EXPECT_EQ(-1, socket_.Receive(&byte, 1));
    EXPECT_EQ(kClosedLine, socket_.GetErrorText());
    EXPECT_FALSE(servertest::IsDescriptorOpen(handle));  // the owner's failing call closed it
}

TEST_F(TcpSocketPairTest, ReadableWithinWaitsUpToItsTimeOut)
{
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(0, socket_.ReadableWithin(150000));
    EXPECT_GE(Clock::now() - start, 140ms);
    EXPECT_EQ(0, socket_.ReadableWithin(0));
}

TEST_F(TcpSocketPairTest, ReadableWithinReturnsWhenDataArrives)
{
    auto readable = std::async(std::launch::async, [&] { return socket_.ReadableWithin(5000000); });
    EXPECT_EQ(std::future_status::timeout, readable.wait_for(50ms));  // it waits, it does not poll once
    WriteRaw(peer_, "x");
    ASSERT_EQ(std::future_status::ready, readable.wait_for(5s));
    EXPECT_EQ(1, readable.get());
}

TEST_F(TcpSocketPairTest, DataAvailableCountsBufferedBytes)
{
    EXPECT_EQ(0, socket_.DataAvailable(0));
    WriteRaw(peer_, "ab");
    ASSERT_TRUE(WaitBuffered(socket_, 2));
    EXPECT_EQ(0, socket_.ReadableWithin(0));  // all of it is in the buffer, none on the line
    EXPECT_EQ(1, socket_.DataAvailable(0));
}

// A look without waiting takes the bytes into the buffer, so the read after it needs no
// further call; what the reads hand out is the same.
TEST_F(TcpSocketPairTest, DataAvailableWithoutWaitingTakesTheWaitingBytes)
{
    WriteRaw(peer_, "abc");
    ASSERT_TRUE(WaitUntil([&] { return socket_.DataAvailable(0) == 1; }));
    EXPECT_EQ(3, socket_.GetBufferedCount());
    char first = 0;
    EXPECT_EQ(1, socket_.Peek(&first, 1));
    EXPECT_EQ('a', first);
    std::string text;
    EXPECT_EQ(3, socket_.ReceiveString(text, 0));
    EXPECT_EQ("abc", text);
    EXPECT_EQ(0, socket_.DataAvailable(0));
    EXPECT_TRUE(socket_.IsOpen());
}

// The end of stream that a look meets is told as Fill would have told it without the look:
// first an empty read that marks the end, then the closed line.
TEST_F(TcpSocketPairTest, EndOfStreamMetByALookIsReportedByTheNextFills)
{
    for (const bool look : {false, true}) {
        SCOPED_TRACE(look ? "after DataAvailable(0)" : "Fill alone");
        int mine = -1;
        int peer = -1;
        servertest::MakeSocketPair(mine, peer);
        CTcpSocket socket;
        ASSERT_EQ(0, socket.Attach(mine));
        ::close(peer);
        ASSERT_EQ(1, servertest::PollReadable(mine, 5000));
        if (look) {
            EXPECT_EQ(1, socket.DataAvailable(0));
            EXPECT_EQ(1, socket.DataAvailable(0)) << "the end stays readable";
            EXPECT_EQ(0, socket.IsEndOfStream()) << "not told before a Fill";
        }
        EXPECT_EQ(0, socket.Fill());
        EXPECT_EQ(1, socket.IsEndOfStream());
        EXPECT_TRUE(socket.IsOpen());
        EXPECT_EQ(-1, socket.Fill());
        EXPECT_EQ(kClosedLine, socket.GetErrorText());
        EXPECT_FALSE(socket.IsOpen());
    }
}

// Bytes already buffered are handed out without asking the line; the bytes behind them
// come with the next read that needs more.
TEST_F(TcpSocketPairTest, ReadsOfBufferedBytesLeaveTheLineAlone)
{
    WriteRaw(peer_, "ab");
    ASSERT_TRUE(WaitBuffered(socket_, 2));
    WriteRaw(peer_, "cd");
    ASSERT_EQ(1, servertest::PollReadable(socket_.GetHandle(), 5000));
    char bytes[4] = {};
    EXPECT_EQ(2, socket_.Peek(bytes, 2));
    EXPECT_EQ(2, socket_.GetBufferedCount());
    EXPECT_EQ(1, socket_.Receive(bytes, 1));
    EXPECT_EQ(1, socket_.GetBufferedCount());
    EXPECT_EQ(3, socket_.Peek(bytes, 4)) << "more than is buffered: one receive first";
    EXPECT_EQ("bcd", std::string(bytes, 3));
    EXPECT_EQ(3, socket_.Receive(bytes, 4));
    EXPECT_EQ("bcd", std::string(bytes, 3));
}

// Buffered bytes do not hide the peer's end: IsDisconnected always looks at the line.
TEST_F(TcpSocketPairTest, IsDisconnectedLooksAtTheLineEvenWithBytesBuffered)
{
    WriteRaw(peer_, "abc");
    ASSERT_TRUE(WaitBuffered(socket_, 3));
    EXPECT_EQ(0, socket_.IsDisconnected());
    ClosePeer();
    EXPECT_TRUE(WaitUntil([&] { return socket_.IsDisconnected() == 1; }));
    EXPECT_EQ(3, socket_.GetBufferedCount());
    char bytes[3] = {};
    EXPECT_EQ(3, socket_.Receive(bytes, 3));
}

// A look that found nothing stands for the disconnect checks right after it, but not past
// a wait: the peer's end that the wait saw is reported at once.
TEST_F(TcpSocketPairTest, IsDisconnectedLooksAgainAfterAWait)
{
    EXPECT_EQ(0, socket_.IsDisconnected());
    ClosePeer();
    ASSERT_EQ(1, socket_.ReadableWithin(5000000));
    EXPECT_EQ(1, socket_.IsDisconnected());
}

// A wait that found bytes but no end of stream is a look too: the check right after it
// makes no receive, and the bytes stay in the line for the read that wants them.
TEST_F(TcpSocketPairTest, AWaitThatFoundOnlyBytesStandsForTheDisconnectCheck)
{
    // The look stands for a millisecond: a test thread held up longer tries again.
    bool stood = false;
    for (int attempt = 0; attempt < 20 && !stood; ++attempt) {
        WriteRaw(peer_, "ab");
        ASSERT_EQ(1, socket_.ReadableWithin(5000000));
        EXPECT_EQ(0, socket_.IsDisconnected());
        stood = socket_.GetBufferedCount() == 0;
        char bytes[2] = {};
        ASSERT_TRUE(WaitBuffered(socket_, 2));
        ASSERT_EQ(2, socket_.Receive(bytes, 2));
    }
    EXPECT_TRUE(stood);
}

TEST_F(TcpSocketPairTest, DiscardDropsBufferedBytesFromTheFront)
{
    WriteRaw(peer_, "abcdef");
    ASSERT_TRUE(WaitBuffered(socket_, 6));
    EXPECT_EQ(2, socket_.Discard(2));
    EXPECT_EQ("cdef", std::string(socket_.GetBufferedBytes(), 4));
    EXPECT_EQ(4, socket_.Discard(10));
    EXPECT_EQ(0, socket_.GetBufferedCount());
    EXPECT_EQ(0, socket_.Discard(1));
}

// Reads never wait, so they arm no deadline.
TEST_F(TcpSocketPairTest, ReadsWithNothingWaitingReturnAtOnceUnarmed)
{
    socket_.SetTimeout(60000);
    const Clock::time_point start = Clock::now();
    char byte = 0;
    EXPECT_EQ(0, socket_.Fill());
    EXPECT_EQ(0, socket_.Receive(&byte, 1));
    EXPECT_EQ(0, socket_.Peek(&byte, 1));
    EXPECT_EQ(0, socket_.DataAvailable(0));
    EXPECT_EQ(0, socket_.IsDisconnected());
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&socket_));
    EXPECT_TRUE(socket_.IsOpen());
}

TEST(TcpSocketNeverOpenedTest, ReadsFindNothingAndFailNothing)
{
    CTcpSocket socket;
    char byte = 0;
    EXPECT_EQ(0, socket.DataAvailable(0));
    EXPECT_EQ(0, socket.Fill());
    EXPECT_EQ(0, socket.Receive(&byte, 1));
    EXPECT_EQ("", socket.GetErrorText());
    EXPECT_EQ("0.0.0.0", socket.GetPeerAddress().ToString());
}

TEST_F(TcpSocketPairTest, TimeOutBreaksASendThePeerNeverReads)
{
    socket_.SetTimeout(300);
    const std::string block(16 * 1024 * 1024, 'z');  // far more than the line holds
    const Clock::time_point start = Clock::now();
    auto sent = std::async(std::launch::async, [&] { return socket_.SendAll(block); });
    ASSERT_EQ(std::future_status::ready, sent.wait_for(10s));
    EXPECT_EQ(-1, sent.get());
    EXPECT_GE(Clock::now() - start, 300ms - servertest::kTickSlack);
    EXPECT_EQ(1, socket_.IsTimedOut());
    EXPECT_EQ("タイムアウトしました", socket_.GetErrorText());
    EXPECT_FALSE(socket_.IsOpen());
    EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&socket_));
}

// What went out before a send failed was sent all the same: the peer may have read it.
TEST_F(TcpSocketPairTest, BytesSentCountsThePartOfASendThatThenFailed)
{
    constexpr int kTotal = 16 * 1024 * 1024;  // far more than the line holds
    constexpr size_t kReadByPeer = 1024 * 1024;
    const std::string path = testing::TempDir() + "tcp-socket-sendfile-" + std::to_string(::getpid());
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    ::unlink(path.c_str());
    ASSERT_EQ(0, ::ftruncate(file, kTotal));  // sparse
    const std::string block(kTotal, 'z');
    const struct {
        const char* description;
        std::function<int64_t()> send;
    } cases[] = {
        {"SendAll", [&] { return static_cast<int64_t>(socket_.SendAll(block)); }},
        {"SendFile", [&] { return socket_.SendFile(file, 0, kTotal); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        if (peer_ < 0)
            SetUp();  // the failed send closed the last pair
        const int64_t before = socket_.GetBytesSent();
        auto sent = std::async(std::launch::async, c.send);
        std::string read;
        char chunk[65536];
        while (read.size() < kReadByPeer && servertest::PollReadable(peer_, 5000) == 1) {
            const ssize_t n = ::recv(peer_, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            read.append(chunk, static_cast<size_t>(n));
        }
        ClosePeer();
        ASSERT_EQ(std::future_status::ready, sent.wait_for(10s));
        EXPECT_EQ(-1, sent.get());
        EXPECT_GE(socket_.GetBytesSent() - before, static_cast<int64_t>(read.size()));
        EXPECT_LT(socket_.GetBytesSent() - before, kTotal);
    }
    ::close(file);
}

TEST_F(TcpSocketPairTest, HasErrorOnlyOnceClosedOrAborted)
{
    EXPECT_EQ(0, socket_.HasError());
    socket_.Abort();
    EXPECT_EQ(1, socket_.HasError());
    CTcpSocket neverOpened;
    EXPECT_EQ(1, neverOpened.HasError());
}

TEST(TcpSocketTest, StartsClosedWithNoError)
{
    CTcpSocket socket;
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ("", socket.GetErrorText());
    EXPECT_EQ(0, socket.GetTimeout());
    EXPECT_EQ(0, socket.GetBufferedCount());
    EXPECT_EQ(0, socket.IsSecure());
}

// Over loopback: a listen socket, a client and the accepted connection.
class TcpSocketLoopbackTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, listener_.Listen(port_, servertest::LoopbackAddress())); }

    servertest::ReservedPort reserved_;
    const int port_ = reserved_.Port();
    CTcpSocket listener_;
};

TEST_F(TcpSocketLoopbackTest, ConnectAcceptAndExchange)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    EXPECT_TRUE(accepted.IsOpen());
    EXPECT_EQ("127.0.0.1", accepted.GetPeerAddress().ToString());
    ASSERT_EQ(0, client.SendAll(std::string("ping")));
    ASSERT_TRUE(WaitBuffered(accepted, 4));
    std::string text;
    EXPECT_EQ(4, accepted.ReceiveString(text, 0));
    EXPECT_EQ("ping", text);
    ASSERT_EQ(0, accepted.SendAll(std::string("pong")));
    ASSERT_TRUE(WaitBuffered(client, 4));
    EXPECT_EQ(4, client.ReceiveString(text, 0));
    EXPECT_EQ("pong", text);
}

// The peer's address is the one the connection was made with, also once the peer has
// reset the connection (the system would no longer tell it), and none after Close.
TEST_F(TcpSocketLoopbackTest, PeerAddressIsKeptFromTheAcceptUntilClose)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    EXPECT_EQ("127.0.0.1", client.GetPeerAddress().ToString());
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    const linger reset{1, 0};
    ASSERT_EQ(0, ::setsockopt(client.GetHandle(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset));
    client.Close();
    ASSERT_EQ(1, servertest::PollReadable(accepted.GetHandle(), 5000));
    EXPECT_EQ("127.0.0.1", accepted.GetPeerAddress().ToString());
    accepted.Close();
    EXPECT_EQ("0.0.0.0", accepted.GetPeerAddress().ToString());
}

TEST_F(TcpSocketLoopbackTest, CorkHoldsBackAPartialSegmentUntilItEnds)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    const auto corked = [&] {
        int value = -1;
        socklen_t length = sizeof value;
        ::getsockopt(accepted.GetHandle(), IPPROTO_TCP, TCP_CORK, &value, &length);
        return value;
    };
    {
        CSocketCork cork(accepted);
        EXPECT_EQ(corked(), 1);
        ASSERT_EQ(0, accepted.SendAll(std::string("tail")));
        EXPECT_EQ(0, servertest::PollReadable(client.GetHandle(), 50)) << "held back while corked";
    }
    EXPECT_EQ(corked(), 0);
    ASSERT_TRUE(WaitBuffered(client, 4)) << "sent when the cork ends";
    accepted.Close();
    CSocketCork afterClose(accepted);  // a closed socket is left alone
}

TEST_F(TcpSocketLoopbackTest, PeerAddressOfAnAttachedConnectionIsAskedOfTheSystem)
{
    const int client = servertest::ConnectLoopback(port_);
    ASSERT_GE(client, 0);
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    CTcpSocket attached;
    ASSERT_EQ(0, attached.Attach(::dup(accepted.GetHandle())));
    EXPECT_EQ("127.0.0.1", attached.GetPeerAddress().ToString());
    int mine = -1;
    int peer = -1;
    servertest::MakeSocketPair(mine, peer);
    ASSERT_EQ(0, attached.Attach(mine));
    EXPECT_EQ("0.0.0.0", attached.GetPeerAddress().ToString()) << "a local pair has no IPv4 peer";
    ::close(peer);
    ::close(client);
}

// A failure that a look without waiting meets is the failure of the next Fill.
TEST_F(TcpSocketLoopbackTest, ResetMetByALookIsReportedByTheNextFill)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    // Unread bytes at the client make its close a reset.
    ASSERT_EQ(0, accepted.SendAll(std::string("unread")));
    ASSERT_TRUE(WaitUntil([&] { return servertest::PollReadable(client.GetHandle(), 0) == 1; }));
    client.Close();
    ASSERT_EQ(1, servertest::PollReadable(accepted.GetHandle(), 5000));
    EXPECT_EQ(1, accepted.DataAvailable(0));
    EXPECT_TRUE(accepted.IsOpen());
    EXPECT_EQ(-1, accepted.Fill());
    EXPECT_EQ("データ受信に失敗しました。", accepted.GetErrorText());
    EXPECT_FALSE(accepted.IsOpen());
}

TEST_F(TcpSocketLoopbackTest, DescriptorsAreCloseOnExecWithTheServerOptions)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    EXPECT_TRUE(IsCloseOnExec(listener_.GetHandle()));
    EXPECT_TRUE(IsCloseOnExec(client.GetHandle()));
    EXPECT_TRUE(IsCloseOnExec(accepted.GetHandle()));
    EXPECT_NE(0, IntOption(listener_.GetHandle(), SOL_SOCKET, SO_REUSEADDR));
    EXPECT_NE(0, IntOption(accepted.GetHandle(), IPPROTO_TCP, TCP_NODELAY));
}

// A receive that found nothing behind its bytes is a look that found no end of stream: the
// disconnect check right after it makes no receive, so the bytes sent since stay in the
// line. Bytes with the peer's end behind them are no such look.
TEST_F(TcpSocketLoopbackTest, AReceiveThatLeftNothingBehindStandsForTheDisconnectCheck)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    // The look stands for a millisecond: a test thread held up longer tries again.
    bool stood = false;
    for (int attempt = 0; attempt < 20 && !stood; ++attempt) {
        ASSERT_EQ(0, client.SendAll(std::string("ab")));
        ASSERT_TRUE(WaitUntil([&] { return accepted.DataAvailable(0) == 1; }));
        ASSERT_EQ(2, accepted.GetBufferedCount());
        ASSERT_EQ(0, client.SendAll(std::string("cd")));
        ASSERT_EQ(1, servertest::PollReadable(accepted.GetHandle(), 5000));
        EXPECT_EQ(0, accepted.IsDisconnected());
        stood = accepted.GetBufferedCount() == 2;
        ASSERT_TRUE(WaitBuffered(accepted, 4));
        ASSERT_EQ(4, accepted.Discard(4));
    }
    EXPECT_TRUE(stood);

    ASSERT_EQ(0, client.SendAll(std::string("ef")));
    ::shutdown(client.GetHandle(), SHUT_WR);
    pollfd ended{accepted.GetHandle(), POLLRDHUP, 0};
    ASSERT_EQ(1, ::poll(&ended, 1, 5000));
    EXPECT_EQ(1, accepted.DataAvailable(0));
    EXPECT_EQ(1, accepted.IsDisconnected()) << "the end behind the bytes is looked for";
    EXPECT_EQ(2, accepted.GetBufferedCount());
}

// A socket handed to another thread looks at the line at its new owner's first check,
// however fresh the look its old owner made.
TEST_F(TcpSocketLoopbackTest, AHandedOverSocketLooksAgainAtTheFirstCheck)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    ASSERT_EQ(0, client.SendAll(std::string("ab")));
    ASSERT_TRUE(WaitUntil([&] { return accepted.DataAvailable(0) == 1; }));
    ASSERT_EQ(0, client.SendAll(std::string("cd")));
    ASSERT_EQ(1, servertest::PollReadable(accepted.GetHandle(), 5000));
    accepted.HandOver();
    EXPECT_EQ(0, accepted.IsDisconnected());
    EXPECT_EQ(4, accepted.GetBufferedCount()) << "the check received what had come";
}

// A wait for bytes is the receive that takes them: it returns as they come, with them
// buffered, or empty-handed when its time is up; an abort ends it at once.
TEST_F(TcpSocketLoopbackTest, AWaitForBytesIsTheReceiveThatTakesThem)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(0, accepted.DataAvailable(150000));
    EXPECT_GE(Clock::now() - start, 140ms);

    auto waited = std::async(std::launch::async, [&] { return accepted.DataAvailable(5000000); });
    EXPECT_EQ(std::future_status::timeout, waited.wait_for(50ms));
    ASSERT_EQ(0, client.SendAll(std::string("xyz")));
    ASSERT_EQ(std::future_status::ready, waited.wait_for(5s));
    EXPECT_EQ(1, waited.get());
    EXPECT_EQ(3, accepted.GetBufferedCount());
    ASSERT_EQ(3, accepted.Discard(3));

    auto aborted = std::async(std::launch::async, [&] { return accepted.DataAvailable(60000000); });
    EXPECT_EQ(std::future_status::timeout, aborted.wait_for(50ms));
    accepted.Abort();
    ASSERT_EQ(std::future_status::ready, aborted.wait_for(5s));
    EXPECT_EQ(1, aborted.get()) << "the abort is what the next Fill reports";
    EXPECT_EQ(-1, accepted.Fill());
}

TEST_F(TcpSocketLoopbackTest, ListenBindsTheConfiguredAddressOnly)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ASSERT_EQ(0, ::getsockname(listener_.GetHandle(), reinterpret_cast<sockaddr*>(&address), &size));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address.sin_addr.s_addr);
    EXPECT_EQ(port_, ntohs(address.sin_port));
}

TEST_F(TcpSocketLoopbackTest, AcceptWithoutBlockingReturnsZeroAtOnceWhenNothingWaits)
{
    CTcpSocket into;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(0, listener_.Accept(&into, 0));
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_FALSE(into.IsOpen());
    EXPECT_TRUE(listener_.IsOpen());

    const int client = servertest::ConnectLoopback(port_);
    ASSERT_GE(client, 0);
    int result = 0;
    EXPECT_TRUE(WaitUntil([&] { return (result = listener_.Accept(&into, 0)) != 0; }));
    EXPECT_EQ(1, result);
    EXPECT_TRUE(into.IsOpen());
    ::close(client);
}

TEST_F(TcpSocketLoopbackTest, SendAllDeliversEveryByteToASlowReader)
{
    CTcpSocket client;
    ASSERT_EQ(0, client.Connect("127.0.0.1", port_));
    CTcpSocket accepted;
    ASSERT_EQ(1, listener_.Accept(&accepted, 1));
    const int readerFd = ::dup(client.GetHandle());
    timeval limit{5, 0};
    ::setsockopt(readerFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    std::string block(6 * 1024 * 1024, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7 + i / 251);
    auto received = std::async(std::launch::async, [&] {
        std::string bytes;
        char chunk[997];  // small reads keep the sender's buffer full
        while (bytes.size() < block.size()) {
            const ssize_t n = ::recv(readerFd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            bytes.append(chunk, static_cast<size_t>(n));
        }
        return bytes;
    });
    EXPECT_EQ(0, accepted.SendAll(block));
    ASSERT_EQ(std::future_status::ready, received.wait_for(20s));
    const std::string bytes = received.get();
    EXPECT_EQ(block.size(), bytes.size());
    EXPECT_TRUE(bytes == block);
    ::close(readerFd);
}

TEST_F(TcpSocketLoopbackTest, ConnectToAPortNobodyListensOnIsRefused)
{
    servertest::ReservedPort reserved;
    const int port = reserved.Port();
    CTcpSocket closed;
    ASSERT_EQ(0, closed.Listen(port, servertest::LoopbackAddress()));
    closed.Close();
    CTcpSocket client;
    EXPECT_EQ(-2, client.Connect("127.0.0.1", port));
    EXPECT_EQ(" ホストに接続できませんでした。 [127.0.0.1:" + std::to_string(port) + "]", client.GetErrorText());
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(TcpSocketLoopbackTest, ListenOnAPortInUseFails)
{
    CTcpSocket second;
    EXPECT_EQ(-1, second.Listen(port_, servertest::LoopbackAddress()));
    EXPECT_EQ("ポート割り当てに失敗しました。", second.GetErrorText());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(listener_.IsOpen());
}

TEST(TcpSocketListenTest, PortsOutsideTheRangeFail)
{
    for (int port : {0, -1, 65536, 100000}) {
        SCOPED_TRACE(port);
        CTcpSocket socket;
        EXPECT_EQ(-1, socket.Listen(port));
        EXPECT_EQ("ポート割り当てに失敗しました。", socket.GetErrorText());
        EXPECT_FALSE(socket.IsOpen());
    }
}

TEST_F(TcpSocketLoopbackTest, AnAbortedListenSocketIsReportedAndFailsAccept)
{
    EXPECT_EQ(0, listener_.HasError());
    listener_.Abort();
    EXPECT_EQ(1, listener_.HasError());
    CTcpSocket into;
    EXPECT_EQ(-1, listener_.Accept(&into, 1));
    EXPECT_EQ("接続許可に失敗しました。", listener_.GetErrorText());
}

// Out of descriptors is a passing state: the shared listen socket must stay open for the
// other accept threads and for the next try.
TEST_F(TcpSocketLoopbackTest, AnAcceptOutOfDescriptorsLeavesTheListenSocketOpen)
{
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    const int probe = ::dup(0);  // the lowest free number: every one below it is taken
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &saved));
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(probe);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &lowered));

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    const int connected = ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    CTcpSocket into;
    const int failed = connected == 0 ? listener_.Accept(&into, 1) : 0;
    ::setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_EQ(0, connected);
    EXPECT_EQ(-1, failed);
    EXPECT_EQ("接続許可に失敗しました。", listener_.GetErrorText());
    EXPECT_TRUE(listener_.IsOpen());
    EXPECT_EQ(0, listener_.HasError());
    EXPECT_EQ(1, listener_.Accept(&into, 1));  // the connection waited in the backlog
    ::close(client);
}

}  // namespace
