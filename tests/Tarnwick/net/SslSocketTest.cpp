#include "net/SslSocket.h"

#include "ConfigAccessor.h"
#include "TestCertificate.h"
#include "TlsTestClient.h"
#include "net/SslContext.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using servertest::KeyCipher;
using servertest::TlsTestClient;
using servertest::WaitUntil;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Reaches the transfer primitives that only the socket itself calls.
class ProbedSslSocket : public CSSLSocket {
public:
    using CSSLSocket::CSSLSocket;
    int ReceiveRaw(void* buffer, int length) { return RawReceive(GetHandle(), buffer, length, 0); }
    int SendRaw(const void* bytes, int length) { return RawSend(GetHandle(), bytes, length, 0); }
    int LineReadableWithin(int64_t microseconds) { return SocketReadableWithin(microseconds); }
};

// One context for the suite: loading the key is the slow part.
CSSLContext& SharedContext()
{
    static CSSLContext* const context = [] {
        const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
        CConfigClass tree;
        CConfigAccessor settings = tree.GetAccessor("Setting");
        settings.SetString("SSL::PrivateKey", certificate.WriteKey("socket-key.pem", KeyCipher::Aes256Cbc, "wemp"));
        settings.SetString("SSL::Certificate", certificate.CertificateFile());
        auto* made = new CSSLContext;
        if (made->Init(settings) != 0)
            ADD_FAILURE() << "the test context did not initialise";
        return made;
    }();
    return *context;
}

bool WaitBuffered(CTcpSocket& socket, int count)
{
    return WaitUntil([&] { return socket.Available() >= count; });
}

// The server socket owns one end of a socket pair; a TLS client works the other end.
class SslSocketTest : public testing::Test {
protected:
    void SetUp() override
    {
        int mine = -1;
        int theirs = -1;
        servertest::MakeSocketPair(mine, theirs);
        server_ = std::make_unique<ProbedSslSocket>(&SharedContext());
        ASSERT_EQ(0, server_->Attach(mine));
        client_ = std::make_unique<TlsTestClient>(theirs);
    }

    // Both sides of the handshake; the client's runs on its own thread.
    void Handshake()
    {
        auto clientDone = std::async(std::launch::async, [this] { return client_->Handshake(); });
        ASSERT_EQ(0, server_->Handshake());
        ASSERT_EQ(std::future_status::ready, clientDone.wait_for(10s));
        ASSERT_TRUE(clientDone.get());
    }

    std::unique_ptr<ProbedSslSocket> server_;
    std::unique_ptr<TlsTestClient> client_;
};

TEST_F(SslSocketTest, IsSecure) { EXPECT_EQ(1, server_->IsSecure()); }

TEST_F(SslSocketTest, HandshakeThenEchoBothWays)
{
    Handshake();
    ASSERT_TRUE(client_->Write("hello"));
    ASSERT_TRUE(WaitBuffered(*server_, 5));
    std::string text;
    EXPECT_EQ(5, server_->ReceiveString(text, 0));
    EXPECT_EQ("hello", text);
    ASSERT_EQ(0, server_->SendAll(std::string("world")));
    EXPECT_EQ("world", client_->Read(5));
}

TEST_F(SslSocketTest, SendFileRefusesToBypassTheTlsLayer)
{
    Handshake();
    const int file = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    EXPECT_EQ(-1, server_->SendFile(file, 0, 16));
    ::close(file);
    // Nothing went out in plain text: the connection still carries TLS records.
    ASSERT_EQ(0, server_->SendAll(std::string("after")));
    EXPECT_EQ("after", client_->Read(5));
}

TEST_F(SslSocketTest, SendAllCarriesALargeBodyWhole)
{
    Handshake();
    std::string body(3 * 1024 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 13 + i / 509);
    auto received = std::async(std::launch::async, [&] { return client_->Read(body.size()); });
    EXPECT_EQ(0, server_->SendAll(body));
    ASSERT_EQ(std::future_status::ready, received.wait_for(20s));
    EXPECT_TRUE(received.get() == body);
}

TEST_F(SslSocketTest, DecryptedBytesWaitingMakeReadableWithinZeroTrue)
{
    Handshake();
    ASSERT_TRUE(client_->Write("0123456789"));
    ASSERT_EQ(1, servertest::PollReadable(server_->GetHandle(), 5000));
    char byte = 0;
    ASSERT_EQ(1, server_->ReceiveRaw(&byte, 1));  // decrypts the whole record, hands out one byte
    EXPECT_EQ('0', byte);
    EXPECT_EQ(0, server_->LineReadableWithin(0));
    EXPECT_EQ(1, server_->ReadableWithin(0));
    EXPECT_EQ(1, server_->DataAvailable(0));
}

// A receive could block on a record half come, so a look without waiting only looks.
TEST_F(SslSocketTest, DataAvailableOnlyLooks)
{
    Handshake();
    ASSERT_TRUE(client_->Write("abc"));
    ASSERT_TRUE(WaitUntil([&] { return server_->DataAvailable(0) == 1; }));
    EXPECT_EQ(0, server_->GetBufferedCount());
    ASSERT_TRUE(WaitBuffered(*server_, 3));
    char bytes[3] = {};
    EXPECT_EQ(3, server_->Receive(bytes, 3));
    EXPECT_EQ("abc", std::string(bytes, 3));
    EXPECT_EQ(0, server_->DataAvailable(0));
}

TEST_F(SslSocketTest, TransfersBeforeTheHandshakeFail)
{
    char byte = 0;
    EXPECT_EQ(-1, server_->ReceiveRaw(&byte, 1));
    EXPECT_EQ(-1, server_->SendRaw("x", 1));
    EXPECT_EQ(0, server_->ReadableWithin(0));
}

TEST_F(SslSocketTest, HandshakeIsDoneOnce)
{
    Handshake();
    EXPECT_EQ(-1, server_->Handshake());
}

TEST(SslSocketStateTest, HandshakeNeedsAnOpenSocketAndAReadyContext)
{
    CSSLSocket unattached(&SharedContext());
    EXPECT_EQ(-1, unattached.Handshake());

    CSSLContext uninitialised;
    CSSLSocket withoutContext(&uninitialised);
    int mine = -1;
    int theirs = -1;
    servertest::MakeSocketPair(mine, theirs);
    ASSERT_EQ(0, withoutContext.Attach(mine));
    EXPECT_EQ(-1, withoutContext.Handshake());
    ::close(theirs);
}

TEST_F(SslSocketTest, AClientThatNeverSpeaksIsDroppedAfterTheTimeOut)
{
    server_->SetTimeout(300);
    const Clock::time_point start = Clock::now();
    auto result = std::async(std::launch::async, [this] { return server_->Handshake(); });
    ASSERT_EQ(std::future_status::ready, result.wait_for(10s));
    EXPECT_EQ(-1, result.get());
    EXPECT_GE(Clock::now() - start, 300ms - servertest::kTickSlack);
    EXPECT_EQ(1, server_->IsTimedOut());
    EXPECT_EQ("タイムアウトしました", server_->GetErrorText());
    EXPECT_TRUE(servertest::ReadsEndOfStream(client_->Fd()));
}

TEST_F(SslSocketTest, AClientThatHangsUpFailsTheHandshake)
{
    client_->CloseAbruptly();
    EXPECT_EQ(-1, server_->Handshake());
    EXPECT_EQ(0, server_->IsTimedOut());
}

// Half a record makes the library wait for the rest inside the receive.
TEST_F(SslSocketTest, TimeOutBreaksABlockedReceive)
{
    Handshake();
    server_->SetTimeout(300);
    const unsigned char header[] = {0x17, 0x03, 0x03, 0x00, 0x40};  // application data, 64 bytes to follow
    ASSERT_EQ(static_cast<ssize_t>(sizeof header), ::send(client_->Fd(), header, sizeof header, MSG_NOSIGNAL));
    ASSERT_EQ(1, servertest::PollReadable(server_->GetHandle(), 5000));
    const Clock::time_point start = Clock::now();
    auto result = std::async(std::launch::async, [this] {
        char buffer[16];
        return server_->Receive(buffer, sizeof buffer);
    });
    ASSERT_EQ(std::future_status::ready, result.wait_for(10s));
    EXPECT_EQ(-1, result.get());  // the broken call itself fails
    EXPECT_GE(Clock::now() - start, 300ms - servertest::kTickSlack);
    EXPECT_EQ(1, server_->IsTimedOut());
    EXPECT_EQ("タイムアウトしました", server_->GetErrorText());
    EXPECT_FALSE(server_->IsOpen());
}

// The broken connection gets no close_notify: it would wait for a peer that reads nothing.
TEST_F(SslSocketTest, TimeOutBreaksASendThePeerNeverReads)
{
    Handshake();
    server_->SetTimeout(300);
    const std::string body(16 * 1024 * 1024, 'b');
    const Clock::time_point start = Clock::now();
    auto result = std::async(std::launch::async, [&] {
        const int sent = server_->SendAll(body);
        server_->Close();
        return sent;
    });
    ASSERT_EQ(std::future_status::ready, result.wait_for(10s));
    EXPECT_EQ(-1, result.get());
    EXPECT_GE(Clock::now() - start, 300ms - servertest::kTickSlack);
    EXPECT_EQ(1, server_->IsTimedOut());
    EXPECT_EQ("タイムアウトしました", server_->GetErrorText());
}

TEST_F(SslSocketTest, CloseSendsCloseNotifyBeforeTheDescriptorGoes)
{
    Handshake();
    server_->Close();
    EXPECT_FALSE(server_->IsOpen());
    EXPECT_EQ(SSL_ERROR_ZERO_RETURN, client_->ReadOnceError());
    server_->Close();  // twice is harmless
}

TEST_F(SslSocketTest, DestroyingAConnectedSocketSendsCloseNotify)
{
    Handshake();
    server_.reset();
    EXPECT_EQ(SSL_ERROR_ZERO_RETURN, client_->ReadOnceError());
}

// A peer that ends its side without close_notify (many clients do) ends the stream
// normally, after the bytes it sent.
TEST_F(SslSocketTest, APeerThatEndsWithoutCloseNotifyEndsTheStreamAfterItsBytes)
{
    Handshake();
    ASSERT_TRUE(client_->Write("last"));
    ASSERT_EQ(0, ::shutdown(client_->Fd(), SHUT_WR));
    std::string received;
    int result = 0;
    ASSERT_TRUE(WaitUntil([&] {
        char buffer[16];
        result = server_->Receive(buffer, sizeof buffer);
        if (result > 0)
            received.append(buffer, static_cast<size_t>(result));
        return result < 0;
    }));
    EXPECT_EQ("last", received);
    EXPECT_EQ("回線は切断されています。", server_->GetErrorText());
}

// The listeners' recovery makes the context again while connection workers are inside
// their handshakes: each handshake must find a whole context, the old one or the new one.
TEST(SslSocketReinitTest, HandshakesStayWholeWhileTheContextIsMadeAgain)
{
    const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
    CConfigClass tree;
    CConfigAccessor settings = tree.GetAccessor("Setting");
    settings.SetString("SSL::PrivateKey", certificate.WriteKey("reinit-key.pem", KeyCipher::None, ""));
    settings.SetString("SSL::Certificate", certificate.CertificateFile());
    CSSLContext context;
    ASSERT_EQ(0, context.Init(settings));

    constexpr int kWorkers = 4;
    constexpr int kHandshakesEach = 25;
    // A handshake that goes wrong ends within this instead of the default time-out.
    constexpr int kHandshakeLimitMs = 5000;
    std::atomic<int> running{kWorkers};
    std::atomic<int> failed{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < kHandshakesEach; ++i) {
                int mine = -1;
                int theirs = -1;
                servertest::MakeSocketPair(mine, theirs);
                CSSLSocket server(&context);
                server.SetTimeout(kHandshakeLimitMs);
                server.Attach(mine);
                TlsTestClient client(theirs);
                auto clientDone = std::async(std::launch::async, [&] { return client.Handshake(); });
                const int serverResult = server.Handshake();
                if (!clientDone.get() || serverResult != 0)
                    ++failed;
            }
            --running;
        });
    }
    // Each handshake is bounded, so this loop is too.
    int remade = 0;
    while (running.load() > 0) {
        EXPECT_EQ(0, context.Init(settings));
        ++remade;
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(0, failed.load()) << "of " << kWorkers * kHandshakesEach << " handshakes, over " << remade
                                << " remakes";
    EXPECT_GT(remade, 0);
}

}  // namespace
