// Clients that connect and say nothing, send half a header from one address, hang in a TLS
// handshake or open a connection per request: none of them may cost the other clients
// their connection slots.

#include "CurlFixture.h"

#include "ServerTestSupport.h"
#include "http/RequestHeader.h"
#include "net/FastListener.h"
#include "net/SslSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string kHelloText = "hello\n";
const std::string kRequest = "GET /hello.txt HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n";
const std::string kHalfHeader = "GET /hello.txt HTTP/1.1\r\nHost: test\r\n";
constexpr int kMaxConnect = 50;
// More hostile connections than there are slots.
constexpr int kFloodSize = 60;
// Far above the client-controlled deadlines, so that only they can end a wait.
constexpr const char* kLongTimeOutSeconds = "60";
// Past the kernel's hold of a silent connection (its SYN-ACK retries within
// kDeferAcceptSeconds end 7 s in), so that the listener's own set of silent sockets is
// met as well as the kernel's.
constexpr auto kSilentHold = std::chrono::seconds(CFastListener::kDeferAcceptSeconds + 4);
constexpr auto kHalfHeaderHold = 3s;
constexpr auto kProbeInterval = 200ms;
// A closed connection is seen within this of the deadline that closed it.
constexpr auto kCloseSlack = 3s;

// A connection from the loopback address `source` to 127.0.0.1:port; -1 on failure.
int ConnectFrom(const char* source, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// The status code of an answer's first line; 0 when there is none.
int StatusOf(const std::string& answer)
{
    return answer.rfind("HTTP/1.", 0) == 0 && answer.size() >= 12 ? std::atoi(answer.c_str() + 9) : 0;
}

class SlowClientTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        ServeDocumentsAtRoot();
        testsupport::PutFile(docs.Path() + "hello.txt", kHelloText);
        settings.SetValue("Setting::Basic::MaxConnect", std::to_string(kMaxConnect));
        settings.SetValue("Setting::Basic::TimeOut", kLongTimeOutSeconds);
    }

    void TearDown() override
    {
        for (const int fd : held)
            ::close(fd);
        CurlFixture::TearDown();
    }

    int Hold(int fd)
    {
        if (fd >= 0)
            held.push_back(fd);
        return fd;
    }

    // A whole request from 127.0.0.1 on a fresh connection: the answer's status, 0 for none.
    int Probe() { return StatusOf(testsupport::HttpExchange(port, kRequest)); }

    // Probes every kProbeInterval for `hold`: the statuses other than 200, in order.
    std::vector<int> ProbeFor(std::chrono::milliseconds hold)
    {
        std::vector<int> failures;
        const auto end = std::chrono::steady_clock::now() + hold;
        do {
            const int status = Probe();
            if (status != 200)
                failures.push_back(status);
            std::this_thread::sleep_for(kProbeInterval);
        } while (std::chrono::steady_clock::now() < end);
        return failures;
    }

    std::vector<int> held;
};

TEST_F(SlowClientTest, SilentPlainAndTlsConnectionsTakeNoSlot)
{
    const int securePort = EnableHttps();
    Start();
    for (int i = 0; i < kFloodSize; ++i) {
        ASSERT_GE(Hold(servertest::ConnectLoopback(port)), 0) << "plain " << i;
        ASSERT_GE(Hold(servertest::ConnectLoopback(securePort)), 0) << "TLS " << i;
    }
    EXPECT_EQ(ProbeFor(kSilentHold), std::vector<int>{});
    EXPECT_LE(core->GetCurrentConnection(), 1);
}

TEST_F(SlowClientTest, AFloodFromOneAddressLeavesTheOthersTheirSlots)
{
    constexpr int kOneHostLimit = 10;
    settings.SetValue("Setting::Basic::MaxOneHostConnect", std::to_string(kOneHostLimit));
    // Room for the whole flood in the accept queue, so that every refusal is the 503.
    settings.SetValue("Setting::Enhance::MaxListenQueue", std::to_string(kFloodSize));
    Start();
    for (int i = 0; i < kFloodSize; ++i) {
        const int fd = Hold(ConnectFrom("127.0.0.2", port));
        ASSERT_GE(fd, 0) << i;
        ASSERT_EQ(::send(fd, kHalfHeader.data(), kHalfHeader.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(kHalfHeader.size()));
    }
    // Those beyond the host's limit are answered 503 without a byte of theirs being read.
    int refused = 0;
    ASSERT_TRUE(servertest::WaitUntil([&] {
        refused = 0;
        for (const int fd : held)
            refused += servertest::PollReadable(fd, 0);
        return refused >= kFloodSize - kOneHostLimit;
    }));
    EXPECT_EQ(refused, kFloodSize - kOneHostLimit);
    for (const int fd : held) {
        if (servertest::PollReadable(fd, 0) != 1)
            continue;
        char start[12] = {};
        ASSERT_EQ(::recv(fd, start, sizeof start, 0), static_cast<ssize_t>(sizeof start)) << std::strerror(errno);
        EXPECT_EQ(StatusOf(std::string(start, sizeof start)), 503);
    }
    EXPECT_EQ(ProbeFor(kHalfHeaderHold), std::vector<int>{});
}

// Without a per-host limit a flood of half-sent headers can fill every slot, but only until
// the header deadline cuts it off: then the others are served again.
TEST_F(SlowClientTest, HalfSentHeadersHoldTheSlotsOnlyUntilTheHeaderDeadline)
{
    settings.SetValue("Setting::Enhance::MaxListenQueue", std::to_string(kFloodSize));
    Start();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kFloodSize; ++i) {
        const int fd = Hold(ConnectFrom("127.0.0.1", port));
        ASSERT_GE(fd, 0) << i;
        ASSERT_EQ(::send(fd, kHalfHeader.data(), kHalfHeader.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(kHalfHeader.size()));
    }
    const auto deadline = std::chrono::milliseconds(kRequestHeaderDeadlineMs) + kCloseSlack;
    EXPECT_TRUE(servertest::WaitUntil([&] { return Probe() == 200; },
                                      std::chrono::duration_cast<std::chrono::milliseconds>(deadline)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, deadline + kProbeInterval);
}

TEST_F(SlowClientTest, ATlsHandshakeLeftHalfDoneEndsAtItsOwnDeadline)
{
    const int securePort = EnableHttps();
    Start();
    // The head of a ClientHello record that announces more than ever comes.
    const std::string recordHead("\x16\x03\x01\x02\x00\x01", 6);
    const int fd = Hold(servertest::ConnectAndSend(securePort, recordHead));
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(servertest::ReadsEndOfStream(
        fd, std::chrono::milliseconds(CSSLSocket::kHandshakeTimeoutMs) + kCloseSlack));
}

TEST_F(SlowClientTest, AConnectionPerRequestLoadBelowTheLimitIsNeverRefused)
{
    constexpr int kClients = kMaxConnect - 5;
    // Enough for a slot counted a moment too long to show: the old count refused about one
    // request in a few hundred.
    constexpr int kRequestsPerClient = 400;
    Start();
    std::atomic<int> notOk{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&] {
            for (int n = 0; n < kRequestsPerClient; ++n) {
                const int status = Probe();
                notOk += status != 200;
                refused += status == 503;
            }
        });
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(notOk.load(), 0);
}

}  // namespace
