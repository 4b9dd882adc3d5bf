// Request headers an attacker would send, over a raw socket to the running server: every
// reader frames the request alike, so nothing in a body is served as a request of its own.

#include "CurlFixture.h"

#include "Base64Encoding.h"
#include "http/ChunkedDecoder.h"
#include "http/RequestHeader.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testsupport::Base64Encode;

const char kHelloText[] = "hello\n";
// A request for a file that a body may try to smuggle in.
const std::string kSmuggled = "GET /hello.txt HTTP/1.1\r\nHost: x\r\n\r\n";

// Everything the server sends on one connection until it closes it.
struct Exchange {
    std::string received;
    bool closed = false;  // the server ended the connection within the limit

    // The status of the first answer; 0 without one.
    int Status() const { return received.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(received.c_str() + 9) : 0; }
    // How many answers began: a smuggled request adds one.
    int Answers() const
    {
        int count = 0;
        for (std::string::size_type at = 0; (at = received.find("HTTP/1.1 ", at)) != std::string::npos; ++at)
            ++count;
        return count;
    }
};

class HostileHeaderTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        ServeDocumentsAtRoot();
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        testsupport::PutFile(docs.Path() + "hello.txt", kHelloText);
    }

    void TearDown() override
    {
        for (const int fd : held_)
            ::close(fd);
        CurlFixture::TearDown();
    }

    // A connection that has sent `bytes`; closed by TearDown.
    int Open(const std::string& bytes)
    {
        const int fd = servertest::ConnectAndSend(port, bytes);
        EXPECT_GE(fd, 0) << "no connection";
        if (fd >= 0)
            held_.push_back(fd);
        return fd;
    }

    // Reads what the server sends on `fd` until it closes the connection or what came is
    // `enough`, at most `limit`.
    template <class Enough>
    static Exchange ReadUntil(int fd, Enough enough, std::chrono::milliseconds limit = 5s)
    {
        Exchange exchange;
        const auto deadline = Clock::now() + limit;
        char chunk[16384];
        while (!enough(exchange.received)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !servertest::PollReadable(fd, static_cast<int>(left.count())))
                break;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n <= 0) {
                exchange.closed = n == 0 || errno == ECONNRESET;
                break;
            }
            exchange.received.append(chunk, static_cast<std::size_t>(n));
        }
        return exchange;
    }

    static Exchange ReadToEnd(int fd, std::chrono::milliseconds limit = 5s)
    {
        return ReadUntil(fd, [](const std::string&) { return false; }, limit);
    }

    // Sends `bytes` on a new connection and reads to the end.
    Exchange Send(const std::string& bytes)
    {
        const int fd = Open(bytes);
        return fd < 0 ? Exchange{} : ReadToEnd(fd);
    }

private:
    std::vector<int> held_;
};

// A POST whose body is a whole request of its own, with `lengthLine` meant to announce it.
std::string PostHiding(const std::string& lengthLine)
{
    return "POST /hello.txt HTTP/1.1\r\nHost: x\r\n" + lengthLine + "\r\n\r\n" + kSmuggled;
}

TEST_F(HostileHeaderTest, BlankBeforeTheColonIsRefusedAndNothingIsSmuggled)
{
    Start();
    const Exchange exchange =
        Send(PostHiding("Content-Length : " + std::to_string(kSmuggled.size())));
    EXPECT_EQ(exchange.Status(), 400) << exchange.received;
    EXPECT_EQ(exchange.Answers(), 1) << exchange.received;
    EXPECT_TRUE(exchange.closed);
}

// The built-in page names the request's method and object, which such a header never gave.
TEST_F(HostileHeaderTest, PageForAnUnparsableHeaderShowsNoPlaceholder)
{
    const struct {
        const char* description;
        std::string bytes;
    } cases[] = {
        {"a blank before a colon", "GET /hello.txt HTTP/1.1\r\nHost : x\r\n\r\n"},
        {"a request line without a version", "GET /hello.txt\r\nHost: x\r\n\r\n"},
        {"a line without a colon", "GET /hello.txt HTTP/1.1\r\nHost: x\r\nnonsense\r\n\r\n"},
    };
    Start();
    for (const auto& c : cases) {
        const Exchange exchange = Send(c.bytes);
        EXPECT_EQ(exchange.Status(), 400) << c.description << "\n" << exchange.received;
        EXPECT_NE(exchange.received.find("Request : <br>"), std::string::npos) << c.description;
        EXPECT_NE(exchange.received.find("Object : <br>"), std::string::npos) << c.description;
        EXPECT_EQ(exchange.received.find('%'), std::string::npos) << c.description << "\n" << exchange.received;
    }
}

TEST_F(HostileHeaderTest, BareLineFeedIsRefusedPromptlyWhereverItStands)
{
    const struct {
        const char* description;
        std::string bytes;
    } cases[] = {
        {"hiding a Content-Length", "POST /hello.txt HTTP/1.1\r\nHost: x\nContent-Length: " +
                                        std::to_string(kSmuggled.size()) + "\r\n\r\n" + kSmuggled},
        {"ending every line", "GET /hello.txt HTTP/1.1\nHost: x\n\n"},
        {"ending the header only", "GET /hello.txt HTTP/1.1\r\nHost: x\r\n\n"},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        // The refusal must not wait for the time-out.
        const auto start = Clock::now();
        const Exchange exchange = Send(c.bytes);
        EXPECT_LT(Clock::now() - start, 4s);
        EXPECT_EQ(exchange.Status(), 400) << exchange.received;
        EXPECT_EQ(exchange.Answers(), 1) << exchange.received;
        EXPECT_TRUE(exchange.closed);
    }
}

TEST_F(HostileHeaderTest, BlanksAfterTheColonAreOptional)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    settings.SetValue("Setting::Path::Path_0::Options::EnableAuthenticate", "1");
    settings.SetValue("Setting::Path::Path_0::Users::alice", "alice");
    settings.SetValue("Setting::User::Enable::User_0::User", "alice");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "s3cret");
    Start();
    // Two requests on one connection: the keep-alive test reads the field as the parser does.
    const std::string request = "GET /hello.txt HTTP/1.1\r\nHost:x\r\nConnection:keep-alive\r\nAuthorization:Basic " +
                                Base64Encode("alice:s3cret") + "\r\n\r\n";
    const std::string body = "\r\n\r\n" + std::string(kHelloText);
    const Exchange exchange = ReadUntil(Open(request + request), [&](const std::string& received) {
        const std::string::size_type first = received.find(body);
        return first != std::string::npos && received.find(body, first + 1) != std::string::npos;
    });
    EXPECT_EQ(exchange.Status(), 200) << exchange.received;
    EXPECT_EQ(exchange.Answers(), 2) << exchange.received;
    EXPECT_NE(exchange.received.find("Connection: Keep-Alive\r\n"), std::string::npos) << exchange.received;
    EXPECT_EQ(exchange.received.find("401"), std::string::npos) << exchange.received;
}

TEST_F(HostileHeaderTest, MalformedFramingGetsItsStatusAndClosesTheConnection)
{
    const struct {
        const char* description;
        std::string bytes;
        int status;
    } cases[] = {
        {"folded line", "GET /hello.txt HTTP/1.1\r\nHost: x\r\nX-Folded: a\r\n b\r\n\r\n", 400},
        {"two Host lines", "GET /hello.txt HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", 400},
        {"HTTP/1.1 without Host", "GET /hello.txt HTTP/1.1\r\n\r\n" + kSmuggled, 400},
        {"HTTP/2.0", "GET /hello.txt HTTP/2.0\r\nHost: x\r\n\r\n", 505},
        {"HTTP/0.9", "GET /hello.txt HTTP/0.9\r\nHost: x\r\n\r\n", 505},
        {"not HTTP", "GET /hello.txt XTTP/1.1\r\nHost: x\r\n\r\n", 400},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Exchange exchange = Send(c.bytes);
        EXPECT_EQ(exchange.Status(), c.status) << exchange.received;
        EXPECT_EQ(exchange.Answers(), 1) << exchange.received;
        EXPECT_TRUE(exchange.closed);
    }
    // HTTP/1.0 needs no Host line.
    EXPECT_EQ(Send("GET /hello.txt HTTP/1.0\r\n\r\n").Status(), 200);
}

// RFC 9112 6.1, 7.1: a body is framed one way only, and a chunked one exactly. Each of these
// hides a request in what is left when a reader frames the body otherwise; none may be
// answered, nor any upload stored.
TEST_F(HostileHeaderTest, FramingThatIsNotStrictlyChunkedIsRefusedAndCloses)
{
    settings.SetValue("Setting::Path::Path_0::Options::EnableWrite", "1");
    const std::string head = "PUT /up.txt HTTP/1.1\r\nHost: x\r\n";
    const std::string hidden = "0\r\n\r\n" + kSmuggled;
    const std::string tooLongExtension = std::string(CChunkedDecoder::kMaxExtensionBytes, 'e');
    const struct {
        const char* description;
        std::string bytes;
    } cases[] = {
        {"chunked with a Content-Length", head + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n" + hidden},
        {"a Content-Length with chunked", head + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" + hidden},
        {"another coding before chunked", head + "Transfer-Encoding: gzip, chunked\r\n\r\n" + hidden},
        {"chunked twice", head + "Transfer-Encoding: chunked, chunked\r\n\r\n" + hidden},
        {"chunked on two lines", head + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n" + hidden},
        {"another coding alone", head + "Transfer-Encoding: gzip\r\n\r\n" + hidden},
        {"chunked in HTTP/1.0", "PUT /up.txt HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n" + hidden},
        {"a chunk size that is not hexadecimal", head + "Transfer-Encoding: chunked\r\n\r\n5g\r\nhello\r\n" + hidden},
        {"a chunk size of 17 digits",
         head + "Transfer-Encoding: chunked\r\n\r\n00000000000000005\r\nhello\r\n" + hidden},
        {"a bare LF after the chunk size", head + "Transfer-Encoding: chunked\r\n\r\n5\nhello\r\n" + hidden},
        {"chunk extensions beyond their limit",
         head + "Transfer-Encoding: chunked\r\n\r\n5;" + tooLongExtension + "\r\nhello\r\n" + hidden},
        {"a chunk longer than its size", head + "Transfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n" + hidden},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Exchange exchange = Send(c.bytes);
        EXPECT_EQ(exchange.Status(), 400) << exchange.received;
        EXPECT_EQ(exchange.Answers(), 1) << exchange.received;
        EXPECT_NE(exchange.received.find("Connection: Close\r\n"), std::string::npos);
        EXPECT_TRUE(exchange.closed);
        EXPECT_FALSE(std::filesystem::exists(docs.Path() + "up.txt"));
    }
}

// A chunked body ends where its framing says, whatever its data holds, and what follows is
// the next request on the connection: whether a response reads the body or not.
TEST_F(HostileHeaderTest, ChunkedBodyEndsWhereItsFramingSays)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    settings.SetValue("Setting::Path::Path_0::Options::EnableWrite", "1");
    const std::string data = "0\r\n\r\n" + kSmuggled;
    char size[16];
    std::snprintf(size, sizeof size, "%zx", data.size());
    const std::string body = std::string(size) + ";note=\"a;b\"\r\n" + data + "\r\n0\r\nX-Trailer: 1\r\n\r\n";
    const std::string framing = "Host: x\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string next = "GET /hello.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const struct {
        const char* description;
        std::string line;
        int status;
    } cases[] = {
        {"a body that is read", "PUT /up.txt HTTP/1.1\r\n", 201},
        {"a body that nothing reads", "POST /hello.txt HTTP/1.1\r\n", 405},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Exchange exchange = Send(c.line + framing + body + next);
        EXPECT_EQ(exchange.Status(), c.status) << exchange.received;
        EXPECT_EQ(exchange.Answers(), 2) << exchange.received;
        EXPECT_EQ(exchange.received.substr(exchange.received.size() - 6), kHelloText);
    }
    EXPECT_EQ(testsupport::GetFile(docs.Path() + "up.txt"), data);
}

TEST_F(HostileHeaderTest, OversizeRequestLineOrHeaderIsAnsweredNotReset)
{
    const struct {
        const char* description;
        std::string bytes;
        int status;
    } cases[] = {
        {"request line", "GET /" + std::string(kMaxRequestHeaderBytes + 1000, 'a'), 414},
        {"header block", "GET / HTTP/1.1\r\nHost: x\r\n" + std::string(kMaxRequestHeaderBytes + 1000, 'h'), 431},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Exchange exchange = Send(c.bytes);
        EXPECT_EQ(exchange.Status(), c.status) << exchange.received.substr(0, 200);
        EXPECT_NE(exchange.received.find("Connection: Close\r\n"), std::string::npos);
        EXPECT_TRUE(exchange.closed);
    }
}

TEST_F(HostileHeaderTest, PathThatIsNoShiftJisIsRefusedAndCreatesNothing)
{
    settings.SetValue("Setting::Path::Path_0::Options::EnableWrite", "1");
    settings.SetValue("Setting::Path::Path_0::Options::EnableWebDAV", "1");
    ASSERT_EQ(::mkdir((docs.Path() + "t").c_str(), 0755), 0);
    Start();
    const char* targets[] = {"/t/%81.txt", "/t/%a0.txt", "/t/%E2%82%AC.txt"};
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        const Exchange exchange =
            Send(std::string("PUT ") + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\nx");
        EXPECT_EQ(exchange.Status(), 400) << exchange.received;
        EXPECT_EQ(Send(std::string("GET ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n").Status(), 400);
    }
    EXPECT_TRUE(std::filesystem::is_empty(docs.Path() + "t"));
    // A name that is Shift-JIS is written under its own name.
    EXPECT_EQ(Send("PUT /t/%82%a0.txt HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\nx").Status(), 201);
    EXPECT_TRUE(std::filesystem::exists(docs.Path() + u8"t/あ.txt"));
}

// The request's own words, as the log writes any request text (a control byte escaped),
// not "-" for each.
TEST_F(HostileHeaderTest, PathThatIsNoShiftJisIsLoggedWithTheMethodAndTargetAsSent)
{
    settings.SetValue("Setting::Log::LogFormatNoTime", "%Method% %URL% %Object% %ResponseCode%");
    Start();
    EXPECT_EQ(Send("PUT /t/%81\x7f.txt?q HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\nx").Status(), 400);
    EXPECT_EQ(WrittenRequestLog(), "PUT /t/%81\\x7F.txt?q /t/%81\\x7F.txt 400\r\n");
}

TEST_F(HostileHeaderTest, HeaderNotWholeWithinItsDeadlineIsCutOffWhateverTheTimeOut)
{
    // Far beyond the header's own deadline, so that only that deadline can end the wait.
    settings.SetValue("Setting::Basic::TimeOut", "60");
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    settings.SetValue("Setting::Basic::KeepAliveTime", "60");
    Start();
    constexpr auto kDeadline = std::chrono::milliseconds(kRequestHeaderDeadlineMs);
    // The watchdog's scan and the worker's poll, with room for a loaded machine.
    constexpr auto kLateBy = 3s;
    constexpr int kTrickleIntervalMs = 200;
    const std::string header = "GET /hello.txt HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(200, 'v') + "\r\n\r\n";
    const auto start = Clock::now();
    const int half = Open(header.substr(0, 20));
    const int trickler = Open(header.substr(0, 1));
    bool trickleCut = false;
    for (std::size_t i = 1; i < header.size() && Clock::now() - start < kDeadline + kLateBy; ++i) {
        // The next byte goes out when the server has not closed within the interval.
        if (::send(trickler, &header[i], 1, MSG_NOSIGNAL) != 1 ||
            servertest::PollReadable(trickler, kTrickleIntervalMs)) {
            trickleCut = true;
            break;
        }
    }
    const auto trickleEnd = Clock::now() - start;
    EXPECT_TRUE(trickleCut) << "the trickling client was served or kept";
    EXPECT_GE(trickleEnd, kDeadline - 500ms);
    EXPECT_TRUE(ReadToEnd(trickler, 1s).closed);
    const Exchange halfExchange = ReadToEnd(
        half, std::chrono::duration_cast<std::chrono::milliseconds>(kDeadline + kLateBy - (Clock::now() - start)));
    EXPECT_TRUE(halfExchange.closed);
    EXPECT_EQ(halfExchange.Answers(), 0) << halfExchange.received;
    EXPECT_LT(Clock::now() - start, kDeadline + kLateBy);
    // A client that sends its header at once is served all along.
    EXPECT_EQ(Send("GET /hello.txt HTTP/1.1\r\nHost: x\r\n\r\n").Status(), 200);
}

}  // namespace
