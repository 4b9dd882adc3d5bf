#include "http/RequestHeader.h"

#include "http/ConnectionState.h"
#include "http/HttpRequest.h"
#include "http/ServerFatalException.h"
#include "net/TcpSocket.h"
#include "thread/TimeoutWatcher.h"

#include "ConfigClass.h"

#include "../ServerTestSupport.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kMalformed = "異常なヘッダーを受信しました";
const std::string kNetworkError = "ヘッダー受信中に切断もしくはネットワークエラーが発生しました";
const std::string kDisconnected = "ヘッダー受信中に切断しました";
const std::string kTimedOut = "ヘッダー受信中にタイムアウトしました";
const std::string kStopped = "ヘッダー受信中に中断しました";

// --- ScanRequestHeader ---------------------------------------------------------------------

TEST(RequestHeaderScanTest, FindsTheEndOrTheFirstForbiddenByte)
{
    struct Case {
        const char* description;
        std::string bytes;
        RequestHeaderScan scan;
        std::size_t length;  // Complete only
    } cases[] = {
        {"nothing yet", "", RequestHeaderScan::Incomplete, 0},
        {"request line only", "GET / HTTP/1.1\r\n", RequestHeaderScan::Incomplete, 0},
        {"whole header", "GET / HTTP/1.1\r\nA: b\r\n\r\n", RequestHeaderScan::Complete, 24},
        {"body after the end", std::string("GET / HTTP/1.1\r\n\r\nbody\0\r", 24), RequestHeaderScan::Complete, 18},
        {"empty line alone", "\r\n\r\n", RequestHeaderScan::Complete, 4},
        {"ends in CR", "GET / HTTP/1.1\r", RequestHeaderScan::Incomplete, 0},
        {"ends in CR LF CR", "GET / HTTP/1.1\r\n\r", RequestHeaderScan::Incomplete, 0},
        {"bare CR", "GET / HTTP/1.1\rX", RequestHeaderScan::Malformed, 0},
        {"CR CR LF", "GET / HTTP/1.1\r\r\n\r\n", RequestHeaderScan::Malformed, 0},
        {"bare CR in a value", "GET / HTTP/1.1\r\nA: b\rc\r\n\r\n", RequestHeaderScan::Malformed, 0},
        {"NUL first", std::string("\0GET", 4), RequestHeaderScan::Malformed, 0},
        {"NUL before the end", std::string("GET /\0 HTTP/1.1\r\n\r\n", 19), RequestHeaderScan::Malformed, 0},
        {"LF LF", "GET / HTTP/1.1\n\n", RequestHeaderScan::Malformed, 0},
        {"LF first", "\nGET / HTTP/1.1\r\n\r\n", RequestHeaderScan::Malformed, 0},
        {"bare LF between fields", "GET / HTTP/1.1\r\nHost: x\nContent-Length: 5\r\n\r\n",
         RequestHeaderScan::Malformed, 0},
        {"bare LF ends the header", "GET / HTTP/1.1\r\nHost: x\r\n\n", RequestHeaderScan::Malformed, 0},
        {"bare LF in the body", "GET / HTTP/1.1\r\n\r\n\n\n", RequestHeaderScan::Complete, 18},
    };
    for (const Case& c : cases) {
        std::size_t length = 0;
        EXPECT_EQ(c.scan, ScanRequestHeader(c.bytes.data(), c.bytes.size(), length)) << c.description;
        if (c.scan == RequestHeaderScan::Complete) {
            EXPECT_EQ(c.length, length) << c.description;
        }
    }
}

// Long runs are passed over a word at a time: a forbidden byte or the end is found at every
// place of a line, whichever the word it falls in.
TEST(RequestHeaderScanTest, FindsWhatItSeeksAtEveryPlaceOfALongLine)
{
    const std::string line = "GET /a-rather-long-path/for-the-scan.txt HTTP/1.1";
    for (std::string::size_type at = 1; at < line.size(); ++at) {
        SCOPED_TRACE(at);
        std::size_t length = 0;
        for (const char bad : {'\0', '\n', '\r'}) {
            std::string bytes = line + "\r\n\r\n";
            bytes[at] = bad;
            EXPECT_EQ(ScanRequestHeader(bytes.data(), bytes.size(), length), RequestHeaderScan::Malformed)
                << int{bad};
        }
        const std::string whole = line.substr(0, at) + "\r\n\r\n" + line;
        EXPECT_EQ(ScanRequestHeader(whole.data(), whole.size(), length), RequestHeaderScan::Complete);
        EXPECT_EQ(length, at + 4);
    }
}

// --- ReceiveHeader -------------------------------------------------------------------------

// The connection's time-out target: as the connection worker does, a time-out aborts its
// socket, which ends the wait.
class AbortingConnection : public CTimeoutTarget {
public:
    explicit AbortingConnection(CTcpSocket& socket) : socket_(socket) {}
    ~AbortingConnection() override { Disarm(); }
    void OnTimeout() override { socket_.Abort(); }

private:
    CTcpSocket& socket_;
};

// The socket under test owns one end of a socket pair; the test plays the client on the
// other end.
class RequestHeaderTest : public testing::Test {
protected:
    // Any wait that a fault would make endless ends at the watchdog's default instead.
    static constexpr int kBoundingTimeoutMs = 10000;

    void SetUp() override
    {
        savedTimeout_ = CTimeoutWatcher::Instance().GetDefaultTimeout();
        CTimeoutWatcher::Instance().SetDefaultTimeout(kBoundingTimeoutMs);
        servertest::MakeSocketPair(serverEnd_, client_);
        ASSERT_EQ(0, socket_.Attach(serverEnd_));
    }

    void TearDown() override
    {
        CloseClient();
        CTimeoutWatcher::Instance().SetDefaultTimeout(savedTimeout_);
    }

    void Send(const std::string& bytes)
    {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    }

    void CloseClient()
    {
        if (client_ >= 0)
            ::close(client_);
        client_ = -1;
    }

    std::string Receive(int limitMs = kBoundingTimeoutMs)
    {
        std::string header = "left from before";
        ReceiveHeader(socket_, state_, connection_, receivedBytes_, limitMs, header);
        return header;
    }

    // The failure message of Receive, or "(returned)"; a refusal's status goes to
    // refusalCode_.
    std::string ReceiveFailure(int limitMs = kBoundingTimeoutMs)
    {
        try {
            Receive(limitMs);
        } catch (const CServerFatalException& e) {
            return e.message;
        } catch (const CRequestRefusal& refusal) {
            refusalCode_ = refusal.code;
            return refusal.info;
        }
        return "(returned)";
    }

    // True once the socket under test has taken every byte sent so far off the line, so
    // that whatever is sent next arrives in a later look.
    bool WaitAllTaken()
    {
        return servertest::WaitUntil([&] {
            int queued = -1;
            return ::ioctl(serverEnd_, FIONREAD, &queued) == 0 && queued == 0;
        });
    }

    // The whole remaining input of the socket under test, up to the client's close.
    std::string Drain()
    {
        std::string all;
        char chunk[4096];
        for (;;) {
            const int n = socket_.Receive(chunk, sizeof chunk);
            if (n < 0)
                return all;
            all.append(chunk, static_cast<std::size_t>(n));
            if (n == 0 && !socket_.DataAvailable(5000000))
                return all;
        }
    }

    int savedTimeout_ = 0;
    int serverEnd_ = -1;
    int client_ = -1;
    CTcpSocket socket_;
    AbortingConnection connection_{socket_};
    servertest::IdleThread thread_;
    CConnectionState state_{&connection_, &socket_, &thread_};
    int64_t receivedBytes_ = 100;
    int refusalCode_ = 0;
};

TEST_F(RequestHeaderTest, ReturnsTheHeaderAndCountsItsBytes)
{
    const std::string header = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
    Send(header);
    EXPECT_EQ(header, Receive());
    EXPECT_EQ(100 + static_cast<int64_t>(header.size()), receivedBytes_);
    EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&connection_));
}

TEST_F(RequestHeaderTest, LeavesTheBodyInTheSocket)
{
    const std::string header = "PUT /a HTTP/1.1\r\nContent-Length: 11\r\n\r\n";
    const std::string body = std::string("body\0\r\n\r\nxx", 11);
    Send(header + body);
    EXPECT_EQ(header, Receive());
    CloseClient();
    EXPECT_EQ(body, Drain());
}

TEST_F(RequestHeaderTest, HeaderSplitAcrossSendsIsJoined)
{
    // Split inside the request line, between CR and LF, and inside the final empty line.
    const std::string pieces[] = {"GET /a", " HTTP/1.1\r", "\nHost: a\r\n\r", "\n"};
    auto reading = std::async(std::launch::async, [&] { return Receive(); });
    for (const std::string& piece : pieces) {
        ASSERT_TRUE(WaitAllTaken());
        ASSERT_EQ(std::future_status::timeout, reading.wait_for(0s)) << "returned before: " << piece;
        Send(piece);
    }
    ASSERT_EQ(std::future_status::ready, reading.wait_for(5s));
    EXPECT_EQ("GET /a HTTP/1.1\r\nHost: a\r\n\r\n", reading.get());
}

TEST_F(RequestHeaderTest, NulByteIsRefusedAtOnce)
{
    Send(std::string("GET / HTTP/1.1\r\nA: b\0", 22));
    const auto start = Clock::now();
    EXPECT_EQ(kMalformed, ReceiveFailure());
    EXPECT_EQ(400, refusalCode_);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&connection_));
}

TEST_F(RequestHeaderTest, BareCrIsRefusedOnceTheNextByteArrives)
{
    auto reading = std::async(std::launch::async, [&] { return ReceiveFailure(); });
    Send("GET / HTTP/1.1\r\nA: b\r");
    ASSERT_TRUE(WaitAllTaken());
    // Its LF may still come.
    ASSERT_EQ(std::future_status::timeout, reading.wait_for(0s));
    Send("c\r\n\r\n");
    ASSERT_EQ(std::future_status::ready, reading.wait_for(5s));
    EXPECT_EQ(kMalformed, reading.get());
}

TEST_F(RequestHeaderTest, TooManyBytesWithoutTheEndAreRefusedByWhatIsTooLong)
{
    struct Case {
        const char* description;
        std::string bytes;
        int code;
    } cases[] = {
        {"request line without its end", "GET /" + std::string(kMaxRequestHeaderBytes - 5 + 1, 'a'), 414},
        {"header lines without their end",
         "GET / HTTP/1.1\r\nX-Long: " + std::string(kMaxRequestHeaderBytes, 'v'), 431},
    };
    for (const Case& c : cases) {
        int server = -1;
        int client = -1;
        servertest::MakeSocketPair(server, client);
        CTcpSocket socket;
        ASSERT_EQ(0, socket.Attach(server));
        AbortingConnection connection(socket);
        CConnectionState state(&connection, &socket, &thread_);
        ASSERT_EQ(static_cast<ssize_t>(c.bytes.size()), ::send(client, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL));
        int64_t received = 0;
        try {
            std::string header;
            ReceiveHeader(socket, state, connection, received, kBoundingTimeoutMs, header);
            ADD_FAILURE() << c.description << ": returned";
        } catch (const CRequestRefusal& refusal) {
            EXPECT_EQ(c.code, refusal.code) << c.description;
        }
        EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&connection)) << c.description;
        ::close(client);
    }
}

TEST_F(RequestHeaderTest, ExactlyTheLimitWithoutTheEndKeepsWaiting)
{
    Send("GET /" + std::string(kMaxRequestHeaderBytes - 5, 'a'));
    auto reading = std::async(std::launch::async, [&] { return ReceiveFailure(); });
    ASSERT_TRUE(WaitAllTaken());
    ASSERT_EQ(std::future_status::timeout, reading.wait_for(100ms));
    CloseClient();
    ASSERT_EQ(std::future_status::ready, reading.wait_for(5s));
    EXPECT_EQ(kDisconnected, reading.get());
}

TEST_F(RequestHeaderTest, LongHeaderWithinTheLimitIsReturned)
{
    const std::string header = "GET / HTTP/1.1\r\nX-Long: " + std::string(kMaxRequestHeaderBytes - 100, 'v') + "\r\n\r\n";
    Send(header);
    EXPECT_EQ(header, Receive());
}

TEST_F(RequestHeaderTest, ClientClosingMidHeaderIsReportedAsDisconnect)
{
    Send("GET / HTTP/1.1\r\nHost:");
    CloseClient();
    EXPECT_EQ(kDisconnected, ReceiveFailure());
    EXPECT_EQ(100, receivedBytes_);
}

TEST_F(RequestHeaderTest, ClientClosingBeforeAnyByteIsReportedAsDisconnect)
{
    CloseClient();
    EXPECT_EQ(kDisconnected, ReceiveFailure());
}

TEST_F(RequestHeaderTest, ClosedSocketIsANetworkError)
{
    socket_.Close();
    EXPECT_EQ(kNetworkError, ReceiveFailure());
    EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&connection_));
}

TEST_F(RequestHeaderTest, StopRequestEndsTheWait)
{
    Send("GET / HTTP/1.1\r\n");
    thread_.Stop();
    EXPECT_EQ(kStopped, ReceiveFailure());
}

TEST_F(RequestHeaderTest, SilentClientMidHeaderTimesOut)
{
    constexpr int kTimeoutMs = 300;
    Send("GET / HTTP/1.1\r\nHost: a\r\n");
    const auto start = Clock::now();
    EXPECT_EQ(kTimedOut, ReceiveFailure(kTimeoutMs));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed + servertest::kTickSlack, std::chrono::milliseconds(kTimeoutMs));
    EXPECT_LT(elapsed, 5s);
    EXPECT_EQ(0, CTimeoutWatcher::Instance().CountEntries(&connection_));
}

TEST_F(RequestHeaderTest, TricklingClientIsCutOffAtTheLimitCountedFromTheStart)
{
    constexpr int kTimeoutMs = 300;
    constexpr auto kTrickle = 20ms;
    const auto start = Clock::now();
    auto reading = std::async(std::launch::async, [&] { return ReceiveFailure(kTimeoutMs); });
    const std::string header = "GET / HTTP/1.1\r\nHost: a\r\nX-Slow: " + std::string(200, 'v');
    for (std::size_t i = 0; i < header.size() && reading.wait_for(kTrickle) == std::future_status::timeout; ++i)
        ::send(client_, &header[i], 1, MSG_NOSIGNAL);
    ASSERT_EQ(std::future_status::ready, reading.wait_for(5s));
    EXPECT_EQ(kTimedOut, reading.get());
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed + servertest::kTickSlack, std::chrono::milliseconds(kTimeoutMs));
    EXPECT_LT(elapsed, 3s);
}

TEST_F(RequestHeaderTest, SilentClientWithoutAnyByteEndsAsNetworkError)
{
    // The watchdog sets the flag, then aborts the socket: the loop meets either first,
    // and either way says the header never came.
    constexpr int kTimeoutMs = 300;
    const auto start = Clock::now();
    const std::string failure = ReceiveFailure(kTimeoutMs);
    EXPECT_TRUE(failure == kNetworkError || failure == "ヘッダー受信中にタイムアウトしました") << failure;
    EXPECT_GE(Clock::now() - start + servertest::kTickSlack, std::chrono::milliseconds(kTimeoutMs));
    EXPECT_TRUE(connection_.IsTimedOut());
}

TEST_F(RequestHeaderTest, LowerCaseHeaderReadOffTheSocketParsesIntoTheRequest)
{
    Send("GET /x HTTP/1.1\r\nhost: a\r\nauthorization: Basic dXNlcjpwYXNz\r\n\r\n");
    const CHttpRequest request(Receive());
    EXPECT_EQ("a", request.GetHeader("Host"));
    EXPECT_EQ("user", request.GetUser());
    EXPECT_EQ("pass", request.GetPasswd());
}

TEST_F(RequestHeaderTest, JapanesePathsReadOffTheSocketDecodeIntoTheObject)
{
    struct Case {
        const char* description;
        std::string url;
    } cases[] = {
        {"UTF-8 percent-encoded", "/%E8%A1%A8/%E8%A8%AD%E5%AE%9A"},
        {"Shift-JIS percent-encoded", "/%95%5C/%90%DD%92%E8"},
        {"Shift-JIS raw, trail byte 0x5C", "/表/設定"},
        {"UTF-8 raw", u8"/表/設定"},
    };
    for (const Case& c : cases) {
        Send("GET " + c.url + " HTTP/1.1\r\nHost: a\r\n\r\n");
        const CHttpRequest request(Receive());
        EXPECT_EQ(c.url, request.GetUrl()) << c.description;
        EXPECT_EQ("/表/設定", request.GetObject()) << c.description;
    }
}

}  // namespace
