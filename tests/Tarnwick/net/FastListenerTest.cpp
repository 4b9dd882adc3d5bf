#include "net/FastListener.h"

#include "ConfigAccessor.h"
#include "TestCertificate.h"
#include "TlsTestClient.h"
#include "../ServerTestSupport.h"
#include "net/SslSocket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using servertest::ConnectLoopback;
using servertest::FindListeningDescriptor;
using servertest::KeyCipher;
using servertest::WaitUntil;
using namespace std::chrono_literals;

const std::string kPortMessage = "ポート待ちうけに失敗しました、ポート番号を確認してください";

class FastListenerTest : public testing::Test {
protected:
    void SetUp() override
    {
        settings_ = tree_.GetAccessor("Setting");
        settings_.SetInt("Enhance::ListenThreadCount", 2);
    }
    void TearDown() override
    {
        listener_.Stop();
        for (int fd : clients_)
            ::close(fd);
    }

    // Sets up on the reserved plain port.
    void SetupOnFreePort() { SetupOnFreePorts(false); }

    // The same with, `withSsl`, the reserved HTTPS port too.
    void SetupOnFreePorts(bool withSsl)
    {
        settings_.SetInt("Basic::Port", port_);
        if (withSsl)
            settings_.SetInt("SSL::Port", sslPort_);
        try {
            listener_.Setup(settings_);
        } catch (const CFastListenerException& e) {
            FAIL() << e.message;
        }
    }

    // A client that has sent a byte: a silent one is not queued.
    int Connect(int port) { return Keep(servertest::ConnectAndSend(port, "G")); }
    int ConnectSilently(int port) { return Keep(ConnectLoopback(port)); }
    // Hands the listener a connection whose client has said nothing; gives the client's end.
    int HoldSilentSocket()
    {
        int ours = -1;
        int theirs = -1;
        servertest::MakeSocketPair(ours, theirs);
        auto socket = std::make_unique<CTcpSocket>();
        socket->Attach(ours);
        listener_.PushOrHoldAcceptedSocket(std::move(socket));
        return Keep(theirs);
    }
    int Keep(int fd)
    {
        if (fd >= 0)
            clients_.push_back(fd);
        return fd;
    }

    std::string SetupFailure()
    {
        try {
            listener_.Setup(settings_);
        } catch (const CFastListenerException& e) {
            return e.message;
        }
        return "(no failure)";
    }

    CConfigClass tree_;
    CConfigAccessor settings_;
    // The admission the listener offers sockets to; none (all queued) unless a test sets one.
    std::mutex admitLock_;
    std::function<bool(std::unique_ptr<CTcpSocket>&)> admit_;
    CFastListener listener_{servertest::LoopbackAddress(), [this](std::unique_ptr<CTcpSocket>& socket) {
                                std::lock_guard<std::mutex> lock(admitLock_);
                                return admit_ && admit_(socket);
                            }};
    std::vector<int> clients_;
    servertest::ReservedPort plainReserved_;
    servertest::ReservedPort sslReserved_;
    const int port_ = plainReserved_.Port();
    const int sslPort_ = sslReserved_.Port();
};

TEST_F(FastListenerTest, AcceptedConnectionsArriveInTheQueue)
{
    SetupOnFreePort();
    ASSERT_GE(Connect(port_), 0);
    std::unique_ptr<CTcpSocket> socket = listener_.WaitAcceptedSocket(5000);
    ASSERT_NE(nullptr, socket);
    EXPECT_EQ(0, socket->IsSecure());
    EXPECT_TRUE(socket->IsOpen());
    EXPECT_EQ("127.0.0.1", socket->GetPeerAddress().ToString());
    // The look that let the connection through is its worker's first read.
    ASSERT_EQ(1, socket->GetBufferedCount());
    EXPECT_EQ('G', *socket->GetBufferedBytes());
    EXPECT_EQ(nullptr, listener_.PopAcceptedSocket());
    EXPECT_EQ(0, listener_.HasListenError());
}

// A socket that would be first in the queue is offered to the admission; one it refuses,
// and one that would wait behind a queued socket, go to the queue.
TEST_F(FastListenerTest, TheAdmissionIsOfferedOnlySocketsFirstInLine)
{
    SetupOnFreePort();
    bool taking = true;
    std::vector<std::unique_ptr<CTcpSocket>> taken;
    int offers = 0;
    {
        std::lock_guard<std::mutex> lock(admitLock_);
        admit_ = [&](std::unique_ptr<CTcpSocket>& socket) {
            ++offers;
            if (taking)
                taken.push_back(std::move(socket));
            return taking;
        };
    }
    auto offered = [&] {
        std::lock_guard<std::mutex> lock(admitLock_);
        return offers;
    };
    ASSERT_GE(Connect(port_), 0);
    ASSERT_TRUE(WaitUntil([&] { return offered() == 1; }));
    EXPECT_EQ(0, listener_.GetQueuedCount());
    {
        std::lock_guard<std::mutex> lock(admitLock_);
        ASSERT_EQ(1u, taken.size());
        EXPECT_EQ('G', *taken.front()->GetBufferedBytes());
        taking = false;
    }
    ASSERT_GE(Connect(port_), 0);
    ASSERT_TRUE(WaitUntil([&] { return listener_.GetQueuedCount() == 1; }));
    EXPECT_EQ(2, offered());
    ASSERT_GE(Connect(port_), 0);
    ASSERT_TRUE(WaitUntil([&] { return listener_.GetQueuedCount() == 2; }));
    EXPECT_EQ(2, offered()) << "the third waits behind the second without an offer";
    std::lock_guard<std::mutex> lock(admitLock_);
    admit_ = nullptr;
}

TEST_F(FastListenerTest, ASilentConnectionIsQueuedOnlyOnceItSpeaks)
{
    SetupOnFreePort();
    const int fd = ConnectSilently(port_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(nullptr, listener_.WaitAcceptedSocket(300));
    ASSERT_EQ(1, ::send(fd, "G", 1, MSG_NOSIGNAL));
    EXPECT_NE(nullptr, listener_.WaitAcceptedSocket(5000));
}

TEST_F(FastListenerTest, AHeldSilentSocketMovesToTheQueueWhenItsBytesCome)
{
    SetupOnFreePort();
    const int theirs = HoldSilentSocket();
    EXPECT_EQ(1, listener_.GetWaitingCount());
    EXPECT_EQ(0, listener_.GetQueuedCount());
    ASSERT_EQ(1, ::send(theirs, "G", 1, MSG_NOSIGNAL));
    EXPECT_NE(nullptr, listener_.WaitAcceptedSocket(5000));
    EXPECT_EQ(0, listener_.GetWaitingCount());
}

TEST_F(FastListenerTest, StopClosesTheHeldSilentSockets)
{
    SetupOnFreePort();
    const int theirs = HoldSilentSocket();
    listener_.Stop();
    EXPECT_EQ(0, listener_.GetWaitingCount());
    EXPECT_TRUE(servertest::ReadsEndOfStream(theirs));
}

TEST_F(FastListenerTest, TheQueueIsFirstInFirstOut)
{
    SetupOnFreePort();
    int a = -1;
    int b = -1;
    servertest::MakeSocketPair(a, b);
    auto first = std::make_unique<CTcpSocket>();
    auto second = std::make_unique<CTcpSocket>();
    first->Attach(a);
    second->Attach(b);
    CTcpSocket* firstAddress = first.get();
    CTcpSocket* secondAddress = second.get();
    listener_.PushAcceptedSocket(std::move(first));
    listener_.PushAcceptedSocket(std::move(second));
    EXPECT_EQ(2, listener_.GetQueuedCount());
    EXPECT_EQ(firstAddress, listener_.PopAcceptedSocket().get());
    EXPECT_EQ(secondAddress, listener_.PopAcceptedSocket().get());
    EXPECT_EQ(nullptr, listener_.PopAcceptedSocket());
}

TEST_F(FastListenerTest, AQueueBoundOfZeroClosesEveryConnection)
{
    settings_.SetInt("Enhance::MaxListenQueue", 0);
    SetupOnFreePort();
    for (int i = 0; i < 3; ++i) {
        const int fd = Connect(port_);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(servertest::ReadsEndOfStream(fd));
    }
    EXPECT_EQ(0, listener_.GetQueuedCount());
}

TEST_F(FastListenerTest, AFullQueueClosesNewConnections)
{
    settings_.SetInt("Enhance::MaxListenQueue", 2);
    SetupOnFreePort();
    std::vector<int> fds;
    for (int i = 0; i < 3; ++i) {
        fds.push_back(Connect(port_));
        ASSERT_GE(fds.back(), 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return listener_.GetQueuedCount() == 2; }));
    // The one that came too late is closed; the queued two stay open.
    int closed = 0;
    ASSERT_TRUE(WaitUntil([&] {
        closed = 0;
        for (int fd : fds)
            closed += servertest::PollReadable(fd, 0);
        return closed >= 1;
    }));
    EXPECT_EQ(1, closed);
    EXPECT_EQ(2, listener_.GetQueuedCount());
}

TEST_F(FastListenerTest, StopClosesTheQueuedSockets)
{
    settings_.SetInt("Enhance::MaxListenQueue", 5);
    SetupOnFreePort();
    const int a = Connect(port_);
    const int b = Connect(port_);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_TRUE(WaitUntil([&] { return listener_.GetQueuedCount() == 2; }));
    listener_.Stop();
    EXPECT_EQ(0, listener_.GetQueuedCount());
    EXPECT_TRUE(servertest::ReadsEndOfStream(a));
    EXPECT_TRUE(servertest::ReadsEndOfStream(b));
    EXPECT_EQ(-1, ConnectLoopback(port_));  // and the port is closed
}

TEST_F(FastListenerTest, APortInUseFailsTheSetup)
{
    CTcpSocket occupant;
    ASSERT_EQ(0, occupant.Listen(port_, servertest::LoopbackAddress()));
    settings_.SetInt("Basic::Port", port_);
    EXPECT_EQ(kPortMessage, SetupFailure());
}

TEST_F(FastListenerTest, APortOutsideTheRangeFailsTheSetup)
{
    for (int port : {0, -1, 65536}) {
        SCOPED_TRACE(port);
        settings_.SetInt("Basic::Port", port);
        EXPECT_EQ(kPortMessage, SetupFailure());
        listener_.Stop();
    }
}

TEST_F(FastListenerTest, WithSslOffNoSslSettingIsRead)
{
    settings_.SetInt("Basic::EnableSSL", 0);
    SetupOnFreePort();
    std::vector<std::string> sections;
    settings_.GetSections(sections);
    EXPECT_EQ(sections.end(), std::find(sections.begin(), sections.end(), "SSL"));
    EXPECT_EQ(0, listener_.HasListenError());
}

struct ThreadCountCase {
    const char* what;
    int setting;
    int expectedThreads;
};

TEST_F(FastListenerTest, AcceptThreadCountsAreClamped)
{
    const ThreadCountCase cases[] = {
        {"negative", -3, 0},
        {"none", 0, 0},
        {"one", 1, 1},
        {"three", 3, 3},
        {"the most", CFastListener::kMaxListenThreads, CFastListener::kMaxListenThreads},
        {"beyond the most", 1000, CFastListener::kMaxListenThreads},
    };
    CTimeoutWatcher::Instance();  // its thread must not be counted as one of ours
    for (const ThreadCountCase& c : cases) {
        SCOPED_TRACE(c.what);
        settings_.SetInt("Enhance::ListenThreadCount", c.setting);
        const int before = servertest::CountProcessThreads();
        SetupOnFreePort();
        // and the one thread that watches the waiting sockets (CWaitingSocketThread)
        EXPECT_EQ(c.expectedThreads + 1, servertest::CountProcessThreads() - before);
        listener_.Stop();
        EXPECT_TRUE(WaitUntil([&] { return servertest::CountProcessThreads() == before; }));
    }
}

TEST_F(FastListenerTest, WithoutAcceptThreadsThePortIsOpenButNothingIsTaken)
{
    settings_.SetInt("Enhance::ListenThreadCount", 0);
    SetupOnFreePort();
    ASSERT_GE(Connect(port_), 0);  // the kernel completes it
    // Still waiting in the backlog for an accept that no thread makes.
    const int listening = FindListeningDescriptor(port_);
    ASSERT_GE(listening, 0);
    EXPECT_EQ(1, servertest::PollReadable(listening, 5000));
    EXPECT_EQ(0, listener_.GetQueuedCount());
}

TEST_F(FastListenerTest, ABrokenListenSocketIsReportedAndReopenedByStopAndSetup)
{
    SetupOnFreePort();
    const int listening = FindListeningDescriptor(port_);
    ASSERT_GE(listening, 0);
    ::shutdown(listening, SHUT_RDWR);  // the accept threads fail on it from now on
    EXPECT_TRUE(WaitUntil([&] { return listener_.HasListenError() == 1; }));

    listener_.Stop();
    listener_.Setup(settings_);
    EXPECT_EQ(0, listener_.HasListenError());
    ASSERT_GE(Connect(port_), 0);
    EXPECT_NE(nullptr, listener_.WaitAcceptedSocket(5000));
}

TEST_F(FastListenerTest, StopWithoutSetupAndTwiceIsHarmless)
{
    listener_.Stop();
    SetupOnFreePort();
    listener_.Stop();
    listener_.Stop();
    EXPECT_EQ(-1, ConnectLoopback(port_));
}

TEST_F(FastListenerTest, WaitForASocketEndsAfterItsTimeOut)
{
    SetupOnFreePort();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, listener_.WaitAcceptedSocket(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

// The HTTPS side: its own port, accept threads making SSL sockets over the set's context.
class FastListenerSslTest : public FastListenerTest {
protected:
    void SetUp() override
    {
        FastListenerTest::SetUp();
        const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
        settings_.SetInt("Basic::EnableSSL", 1);
        settings_.SetInt("Enhance::ListenThreadCountSSL", 2);
        settings_.SetString("SSL::PrivateKey", certificate.WriteKey("listener-key.pem", KeyCipher::None, ""));
        settings_.SetString("SSL::Certificate", certificate.CertificateFile());
    }

    void SetupBothOnFreePorts() { SetupOnFreePorts(true); }
};

TEST_F(FastListenerSslTest, HttpsConnectionsAreQueuedOnceTheHandshakeIsDoneAndBytesCame)
{
    SetupBothOnFreePorts();
    const int fd = ::dup(ConnectSilently(sslPort_));
    ASSERT_GE(fd, 0);
    servertest::TlsTestClient client(fd);
    auto clientDone = std::async(std::launch::async, [&] { return client.Handshake(); });
    ASSERT_EQ(std::future_status::ready, clientDone.wait_for(10s));
    ASSERT_TRUE(clientDone.get());
    EXPECT_EQ(nullptr, listener_.WaitAcceptedSocket(300)) << "a handshake alone is no request";
    ASSERT_TRUE(client.Write("G"));
    std::unique_ptr<CTcpSocket> socket = listener_.WaitAcceptedSocket(5000);
    ASSERT_NE(nullptr, socket);
    ASSERT_EQ(1, socket->IsSecure());
    EXPECT_TRUE(static_cast<CSSLSocket*>(socket.get())->IsHandshakeDone());
    char first = 0;
    EXPECT_EQ(1, socket->Receive(&first, 1));
    EXPECT_EQ('G', first);
    EXPECT_EQ(0, listener_.HasListenError());

    ASSERT_GE(Connect(port_), 0);  // the plain port works beside it
    std::unique_ptr<CTcpSocket> plain = listener_.WaitAcceptedSocket(5000);
    ASSERT_NE(nullptr, plain);
    EXPECT_EQ(0, plain->IsSecure());
}

TEST_F(FastListenerSslTest, ABadKeyFailsTheSetupWithTheSslMessage)
{
    settings_.SetString("SSL::PrivateKey", servertest::SharedTestCertificate().Folder() + "missing.pem");
    settings_.SetInt("Basic::Port", port_);
    settings_.SetInt("SSL::Port", sslPort_);
    EXPECT_EQ("SSL初期化に失敗しました、暗号化キー、パスワード、証明書のいずれかが異常です", SetupFailure());
}

TEST_F(FastListenerSslTest, AnSslPortInUseFailsTheSetupWithTheSslPortMessage)
{
    CTcpSocket occupant;
    ASSERT_EQ(0, occupant.Listen(sslPort_, servertest::LoopbackAddress()));
    settings_.SetInt("Basic::Port", port_);
    settings_.SetInt("SSL::Port", sslPort_);
    EXPECT_EQ("SSLのポート待ちうけに失敗しました、SSLのポート番号を確認してください", SetupFailure());
}

TEST_F(FastListenerSslTest, ABrokenHttpsListenSocketIsReported)
{
    SetupBothOnFreePorts();
    const int listening = FindListeningDescriptor(sslPort_);
    ASSERT_GE(listening, 0);
    ::shutdown(listening, SHUT_RDWR);
    EXPECT_TRUE(WaitUntil([&] { return listener_.HasListenError() == 1; }));
}

}  // namespace
