#include "core/ServerCore.h"

#include "CoreFixture.h"
#include "connection/ConnectionThread.h"
#include "core/ServerStatus.h"
#include "net/TcpSocket.h"
#include "net/TestCertificate.h"
#include "net/TlsTestClient.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using servertest::WaitUntil;

// Spelled out here rather than taken from the server, so that a change to either shows.
const std::string kWholeRequest = "GET / HTTP/1.0\r\n\r\n";
const std::string kOverloadAnswer =
    "HTTP/1.0 503 Service Unavailable\r\nServer: Tarnwick/1.42\r\nContent-Type: text/html\r\n"
    "Connection: Close\r\n\r\n<HTML><HEAD><TITLE>503 Service Unavailable</TITLE><meta "
    "http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\"></HEAD>\n<BODY><H1>Error : "
    "503 Service Unavailable</H1><PRE>接続数が限界を超えました</PRE><HR><ADDRESS>Tarnwick/1.42</ADDRESS>"
    "</BODY></HTML>";
const std::string kOverloadWarning =
    "サーバは正常に作動中ですが、最大接続数をオーバーする接続がありました。DoS攻撃などの可能性があります。";
const std::string kNormalStatus = "サーバは正常に作動中です。";
const std::string kPortMessage = "ポート待ちうけに失敗しました、ポート番号を確認してください";
const std::string kSslMessage = "SSL初期化に失敗しました、暗号化キー、パスワード、証明書のいずれかが異常です";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int CountOccurrences(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// Everything the peer sends until it closes (or the receive time-out passes).
std::string ReadToEnd(int fd)
{
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

class ServerCoreTest : public CoreFixture {
protected:
    // Like StartCore, with a status text for the core to write to.
    void StartServer()
    {
        if (settings.GetValue("Setting::Basic::Port", "").empty())
            settings.SetValue("Setting::Basic::Port", std::to_string(reservedPort.Port()));
        port = std::atoi(settings.GetValue("Setting::Basic::Port", "").c_str());
        ASSERT_EQ(settings.SaveXml(Root() + "Tarnwick.xml", ""), 0);
        core = std::make_unique<CServerCore>(StartConnectionThread, &status, servertest::LoopbackAddress());
    }

    void TearDown() override
    {
        for (int fd : clients)
            ::close(fd);
        CoreFixture::TearDown();
        std::error_code ignored;
        fs::remove_all(Root() + "Logs", ignored);
        fs::remove(Root() + "Debuglog.txt", ignored);
    }

    static std::string Root() { return servertest::ServerRoot(); }
    static std::string SystemLog() { return ReadFile(Root() + "Logs/SystemLog.txt"); }

    std::string Info(const std::string& key) { return core->GetInfoAccessor().GetString(key, ""); }

    // A client that the fixture closes at the end.
    // A client that has sent `first`: one that has sent nothing is never given a worker.
    int Connect(const std::string& first = "G")
    {
        const int fd = servertest::ConnectAndSend(port, first);
        if (fd >= 0)
            clients.push_back(fd);
        return fd;
    }

    // What a new connection is answered with, up to the server's close.
    std::string AnswerToNewConnection()
    {
        const int fd = Connect();
        return fd < 0 ? "(refused)" : ReadToEnd(fd);
    }

    // ServerInfo::CurrentConnection is rewritten on every tick of the core; true once a
    // whole tick has begun after the call.
    bool WaitForTick()
    {
        for (int i = 0; i < 2; ++i) {
            core->GetInfoAccessor().SetString("CurrentConnection", "");
            if (!WaitUntil([&] { return !Info("CurrentConnection").empty(); }))
                return false;
        }
        return true;
    }

    // The listening socket fails under the listener (as a failing network would).
    void BreakListener()
    {
        const int listening = servertest::FindListeningDescriptor(port);
        ASSERT_GE(listening, 0);
        ::shutdown(listening, SHUT_RDWR);
    }

    CServerStatus status;
    std::atomic<int64_t> clock{1'000'000'000};
    int port = 0;
    std::vector<int> clients;
};

TEST_F(ServerCoreTest, StartPublishesTheIdentityAndTheListenersAddress)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(Info("ServerName"), "Tarnwick");
    EXPECT_EQ(Info("ServerVersion"), "1.42");
    EXPECT_EQ(Info("ServerSignature"), "Tarnwick/1.42");
    EXPECT_EQ(Info("ServerRoot"), Root());
    EXPECT_EQ(Info("ServerRoot").back(), '/');
    EXPECT_EQ(Info("ServerPort"), std::to_string(port));
    EXPECT_EQ(Info("ServerAddress"), GetLocalInterfaceAddress().ToString());
    EXPECT_FALSE(Info("ServerHostName").empty());
    EXPECT_EQ(core->IsRunning(), 1);
    // The value filter is installed: settings can name the server's information.
    EXPECT_EQ(core->GetSettingAccessor().GetString("Unset", "%ServerSignature% on %ServerPort%"),
              "Tarnwick/1.42 on " + std::to_string(port));
}

TEST_F(ServerCoreTest, StartAndStopAreWrittenToTheSystemLog)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    core.reset();
    const std::string log = SystemLog();
    const size_t started = log.find("]サーバを起動しました\r\n");
    const size_t stopped = log.find("]サーバを停止しました\r\n");
    ASSERT_NE(started, std::string::npos) << log;
    ASSERT_NE(stopped, std::string::npos) << log;
    EXPECT_LT(started, stopped);
    EXPECT_EQ(log.find("SystemError"), std::string::npos) << log;
}

TEST_F(ServerCoreTest, SettingsWithOnlyThePortStartOnDefaults)
{
    CTimeoutWatcher::Instance().SetDefaultTimeout(1234);
    StartServer();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->GetMaxConnections(), 50);
    EXPECT_EQ(CTimeoutWatcher::Instance().GetDefaultTimeout(), 300000);
    EXPECT_EQ(core->IsRunning(), 1);
    EXPECT_EQ(status.Get(), "サーバは停止中です。") << "the application owns the running text";
}

// A missing file takes every default, Basic::Port 80 included; a listen address that is
// no local interface makes that port fail the same way everywhere, so the start reaches
// the listeners (past the load) without this test binding a fixed port.
TEST_F(ServerCoreTest, MissingSettingsFileLoadsAndGoesOnToTheListeners)
{
    std::error_code ignored;
    fs::remove(Root() + "Tarnwick.xml", ignored);
    CTimeoutWatcher::Instance().SetDefaultTimeout(1234);
    std::string message = "(no exception)";
    try {
        CServerCore failing(StartConnectionThread, &status, servertest::UnreachableAddress());
    } catch (const CServerException& e) {
        message = e.message;
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_EQ(message, kPortMessage);
    EXPECT_EQ(CTimeoutWatcher::Instance().GetDefaultTimeout(), 300000);
}

struct TimeOutCase {
    const char* what;
    const char* value;
    int expectedMs;
};

TEST_F(ServerCoreTest, TimeOutOutsideOneTo2147483SecondsReadsAsTheDefault)
{
    const TimeOutCase cases[] = {
        {"negative", "-1", 300000},
        {"zero", "0", 300000},
        {"smallest", "1", 1000},
        {"ordinary", "60", 60000},
        {"largest", "2147483", 2147483000},
        {"one beyond the largest", "2147484", 300000},
        {"beyond int", "99999999999", 300000},
        {"no number", "abc", 300000},
    };
    for (const TimeOutCase& c : cases) {
        SCOPED_TRACE(c.what);
        settings.SetValue("Setting::Basic::TimeOut", c.value);
        StartServer();
        ASSERT_NE(core, nullptr);
        EXPECT_EQ(CTimeoutWatcher::Instance().GetDefaultTimeout(), c.expectedMs);
        core.reset();
    }
}

struct MaxConnectCase {
    const char* what;
    const char* value;  // nullptr: not set
    int expected;
};

TEST_F(ServerCoreTest, MaxConnectBelowZeroReadsAsZero)
{
    const MaxConnectCase cases[] = {
        {"not set", nullptr, 50}, {"negative", "-1", 0}, {"very negative", "-2147483648", 0},
        {"zero", "0", 0},         {"one", "1", 1},
    };
    for (const MaxConnectCase& c : cases) {
        SCOPED_TRACE(c.what);
        settings.GetAccessor("Setting").RemoveSection("Basic");
        if (c.value)
            settings.SetValue("Setting::Basic::MaxConnect", c.value);
        StartServer();
        ASSERT_NE(core, nullptr);
        EXPECT_EQ(core->GetMaxConnections(), c.expected);
        core.reset();
    }
}

TEST_F(ServerCoreTest, MaxConnectZeroAnswersEveryConnectionWithThe503Text)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    StartServer();
    ASSERT_NE(core, nullptr);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(AnswerToNewConnection(), kOverloadAnswer) << "connection " << i;
    EXPECT_TRUE(WaitUntil([&] { return status.Get() == kOverloadWarning; }));
    core.reset();
    EXPECT_EQ(CountOccurrences(SystemLog(), "]SystemError : 接続数をオーバーしたため、503 Service "
                                            "Unavailableを送信しました\r\n"),
              3);
}

TEST_F(ServerCoreTest, ConnectionBeyondMaxConnectLiveWorkersGetsThe503Answer)
{
    settings.SetValue("Setting::Basic::MaxConnect", "1");
    StartServer();
    ASSERT_NE(core, nullptr);
    const int first = Connect();
    ASSERT_GE(first, 0);
    ASSERT_TRUE(WaitUntil([&] { return core->GetCurrentConnection() == 1; }));
    EXPECT_EQ(status.Get(), "サーバは停止中です。");

    EXPECT_EQ(AnswerToNewConnection(), kOverloadAnswer);
    // The warning follows the answer.
    EXPECT_TRUE(WaitUntil([&] { return status.Get() == kOverloadWarning; }));
    EXPECT_EQ(servertest::PollReadable(first, 0), 0) << "the worker's connection is untouched";
}

// An HTTPS connection reaches the limit only once its handshake is done and its first bytes
// have come, so its overload answer is the same text, through the TLS connection; the log and the warning are those of
// the plain port.
TEST_F(ServerCoreTest, OverloadOnTheHttpsPortAnswersThroughTheTlsConnection)
{
    const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
    const int securePort = reservedSecurePort.Port();
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    settings.SetValue("Setting::Basic::EnableSSL", "1");
    settings.SetValue("Setting::SSL::Port", std::to_string(securePort));
    settings.SetValue("Setting::SSL::Certificate", certificate.CertificateFile());
    settings.SetValue("Setting::SSL::PrivateKey",
                      certificate.WriteKey("core-key.pem", servertest::KeyCipher::None, ""));
    StartServer();
    ASSERT_NE(core, nullptr);

    servertest::TlsTestClient client(servertest::ConnectLoopback(securePort));
    ASSERT_TRUE(client.Handshake());
    ASSERT_TRUE(client.Write(kWholeRequest));
    EXPECT_EQ(client.Read(kOverloadAnswer.size() + 1), kOverloadAnswer);
    EXPECT_TRUE(WaitUntil([&] { return status.Get() == kOverloadWarning; }));

    EXPECT_EQ(AnswerToNewConnection(), kOverloadAnswer) << "the plain port still gets the text";
    core.reset();
    EXPECT_EQ(CountOccurrences(SystemLog(), "]SystemError : 接続数をオーバーしたため、503 Service "
                                            "Unavailableを送信しました\r\n"),
              2);
}

TEST_F(ServerCoreTest, OverloadWarningReturnsToNormalOnlyAfter86400Seconds)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    StartServer();
    ASSERT_NE(core, nullptr);
    core->SetClock([this] { return clock.load(); });
    ASSERT_EQ(AnswerToNewConnection(), kOverloadAnswer);
    ASSERT_TRUE(WaitUntil([&] { return status.Get() == kOverloadWarning; }));

    clock += 86400;
    ASSERT_TRUE(WaitForTick());
    EXPECT_EQ(status.Get(), kOverloadWarning) << "86400 s is not yet more than 86400 s";

    clock += 1;
    EXPECT_TRUE(WaitUntil([&] { return status.Get() == kNormalStatus; }));
}

TEST_F(ServerCoreTest, ANewWarningRestartsTheDay)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    core->SetClock([this] { return clock.load(); });
    core->SetWarningStatus("first");
    EXPECT_EQ(status.Get(), "first");
    clock += 50000;
    core->SetWarningStatus("second");
    clock += 50000;  // 100000 s after the first, 50000 s after the second
    ASSERT_TRUE(WaitForTick());
    EXPECT_EQ(status.Get(), "second");
    clock += 36401;
    EXPECT_TRUE(WaitUntil([&] { return status.Get() == kNormalStatus; }));

    // With no warning standing, the normal text is not written again.
    status.Set("set by the application");
    clock += 100000;
    ASSERT_TRUE(WaitForTick());
    EXPECT_EQ(status.Get(), "set by the application");
}

TEST_F(ServerCoreTest, WarningsWithoutAStatusHolderAreHarmless)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    settings.SetValue("Setting::Basic::Port", std::to_string(reservedPort.Port()));
    StartCore();  // no status holder, and the program's test of a request's arrival
    ASSERT_NE(core, nullptr);
    port = core->GetInfoAccessor().GetInt("ServerPort", 0);
    core->SetClock([this] { return clock.load(); });
    const int fd = Connect(kWholeRequest);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadToEnd(fd), kOverloadAnswer);
    clock += 86401;
    EXPECT_TRUE(WaitForTick());
}

TEST_F(ServerCoreTest, StatisticsComeFromTheBandwidthManagerOnceASecond)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    core->GetBandWidthManager().AddTraffic(3000000000LL, 200);
    core->GetBandWidthManager().AddTraffic(1000, 100);
    ASSERT_TRUE(WaitUntil([&] { return Info("AllConnected") == "2"; }));
    EXPECT_EQ(Info("CurrentConnection"), "0");
    EXPECT_EQ(Info("AllSendSize"), "3000001000") << "64-bit";
    EXPECT_EQ(Info("AllRecvSize"), "300");
    EXPECT_EQ(Info("Connected1Hour"), "2");
    EXPECT_EQ(Info("SendSize1Hour"), "3000001000");
    EXPECT_EQ(Info("RecvSize1Hour"), "300");
}

TEST_F(ServerCoreTest, StatisticsCountARequestAnswered)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    const int fd = Connect(request);
    ASSERT_GE(fd, 0);
    // Without any Setting::Path the request ends unanswered, but it is accounted.
    EXPECT_TRUE(servertest::ReadsEndOfStream(fd));
    ASSERT_TRUE(WaitUntil([&] { return Info("AllConnected") == "1"; }));
    EXPECT_EQ(Info("AllRecvSize"), std::to_string(request.size()));
    EXPECT_EQ(Info("Connected1Hour"), "1");
    EXPECT_EQ(Info("SendSize1Hour"), Info("AllSendSize"));
    EXPECT_EQ(Info("RecvSize1Hour"), Info("AllRecvSize"));
    EXPECT_TRUE(WaitUntil([&] { return core->GetCurrentConnection() == 0; })) << "the worker is reaped";
}

TEST_F(ServerCoreTest, CurrentConnectionCountsTheWorkersHeld)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->GetCurrentConnection(), 0);
    const int a = Connect();
    const int b = Connect();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_TRUE(WaitUntil([&] { return core->GetCurrentConnection() == 2; }));
    ::shutdown(a, SHUT_RDWR);
    EXPECT_TRUE(WaitUntil([&] { return core->GetCurrentConnection() == 1; }));
}

TEST_F(ServerCoreTest, RequestNumbersStartAtZeroWithEveryStart)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->NextRequestNumber(), 0);
    EXPECT_EQ(core->NextRequestNumber(), 1);
    EXPECT_EQ(core->NextRequestNumber(), 2);
    core.reset();
    StartServer();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->NextRequestNumber(), 0);
}

TEST_F(ServerCoreTest, RequestNumbersAreHandedOutOnceEachAcrossThreads)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<int>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                taken[t].push_back(core->NextRequestNumber());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<int> all;
    for (const std::vector<int>& numbers : taken) {
        EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << "each thread sees them rise";
        all.insert(all.end(), numbers.begin(), numbers.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    for (int i = 0; i < kThreads * kEach; ++i)
        ASSERT_EQ(all[static_cast<size_t>(i)], i);
    EXPECT_EQ(core->NextRequestNumber(), kThreads * kEach);
}

TEST_F(ServerCoreTest, AQueuedConnectionIsTakenWithoutWaitingOutTheIdlePoll)
{
    // A sequential client connects just after the previous answer, while the core idles:
    // a plain 20 ms sleep would answer each one about 20 ms late.
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    StartServer();
    ASSERT_NE(core, nullptr);
    ASSERT_EQ(AnswerToNewConnection(), kOverloadAnswer);  // warm-up
    std::vector<double> latencies;
    for (int i = 0; i < 21; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int fd = Connect();
        ASSERT_GE(fd, 0);
        char first = 0;
        ASSERT_EQ(::recv(fd, &first, 1, 0), 1);
        latencies.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        ReadToEnd(fd);
    }
    std::nth_element(latencies.begin(), latencies.begin() + 10, latencies.end());
    EXPECT_LT(latencies[10], 10.0) << "median milliseconds from connect to answer";
}

TEST_F(ServerCoreTest, ListenErrorStopsPausesAndReopensTheListeners)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    StartServer();
    ASSERT_NE(core, nullptr);
    core->SetRecoveryPauses(50, 50);
    ASSERT_EQ(AnswerToNewConnection(), kOverloadAnswer);

    core->GetInfoAccessor().SetString("ServerPort", "");  // published again by each opening
    BreakListener();
    ASSERT_TRUE(WaitUntil([&] { return Info("ServerPort") == std::to_string(port); }));
    EXPECT_EQ(AnswerToNewConnection(), kOverloadAnswer);
    EXPECT_EQ(core->IsRunning(), 1);
}

TEST_F(ServerCoreTest, StopEndsTheListenErrorPauseEarly)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    settings.SetValue("Setting::Enhance::ListenThreadCount", "2");
    StartServer();
    ASSERT_NE(core, nullptr);
    const int threads = servertest::CountProcessThreads();
    BreakListener();
    // The accept threads (and the waiting-socket watcher with them) end when the core stops
    // the listener; then it pauses 10 s.
    ASSERT_TRUE(WaitUntil([&] { return servertest::CountProcessThreads() <= threads - 2; }));

    const auto start = std::chrono::steady_clock::now();
    core.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(SystemLog().find("]サーバを停止しました\r\n"), std::string::npos);
}

TEST_F(ServerCoreTest, PortInUseFailsTheStartWithTheListenersMessage)
{
    CTcpSocket blocker;
    port = reservedPort.Port();
    ASSERT_EQ(0, blocker.Listen(port, servertest::LoopbackAddress()));
    settings.SetValue("Setting::Basic::Port", std::to_string(port));
    try {
        StartServer();
        ADD_FAILURE() << "the start succeeded on a port in use";
    } catch (const CServerException& e) {
        EXPECT_EQ(e.message, kPortMessage);
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_EQ(core, nullptr);
    EXPECT_EQ(CountOccurrences(SystemLog(), "]SystemError : " + kPortMessage + "\r\n"), 1) << SystemLog();
    EXPECT_EQ(SystemLog().find("サーバを起動しました"), std::string::npos);
}

TEST_F(ServerCoreTest, SslSetupFailureFailsTheStartWithTheListenersMessage)
{
    settings.SetValue("Setting::Basic::EnableSSL", "1");
    settings.SetValue("Setting::SSL::Port", std::to_string(reservedSecurePort.Port()));
    settings.SetValue("Setting::SSL::PrivateKey", Root() + "missing.pem");
    try {
        StartServer();
        ADD_FAILURE() << "the start succeeded without a key";
    } catch (const CServerException& e) {
        EXPECT_EQ(e.message, kSslMessage);
    }
    EXPECT_NE(SystemLog().find("]SystemError : " + kSslMessage + "\r\n"), std::string::npos);
    EXPECT_LT(servertest::ConnectLoopback(port), 0) << "the plain port is closed again";
}

TEST_F(ServerCoreTest, ReopenFailureEndsTheCoreThreadAndTheStopStillEndsItsConnections)
{
    settings.SetValue("Setting::Basic::MaxConnect", "5");
    StartServer();
    ASSERT_NE(core, nullptr);
    core->SetRecoveryPauses(50, 50);
    const int client = Connect();
    ASSERT_GE(client, 0);
    ASSERT_TRUE(WaitUntil([&] { return core->GetCurrentConnection() == 1; }));

    BreakListener();
    // A broken listen socket no longer holds its port against a new one.
    CTcpSocket blocker;
    ASSERT_EQ(blocker.Listen(port, servertest::LoopbackAddress()), 0);
    ASSERT_TRUE(WaitUntil([&] { return core->IsRunning() == 0; }));
    EXPECT_NE(SystemLog().find("]SystemError : " + kPortMessage + "\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(Root() + "Debuglog.txt").find("サーバ内部の未処理例外により、処理スレッドが停止しました。"),
              std::string::npos);
    EXPECT_EQ(servertest::PollReadable(client, 0), 0) << "the worker lives on";

    core->GetLog().AddSystemLine("%s", "queued after the thread ended");
    core.reset();
    EXPECT_TRUE(servertest::ReadsEndOfStream(client));
    EXPECT_NE(SystemLog().find("]queued after the thread ended\r\n"), std::string::npos);
}

TEST_F(ServerCoreTest, ReopenFailureOfTheSecurePortLeavesNoPortOpen)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    StartServer();
    ASSERT_NE(core, nullptr);
    core->SetRecoveryPauses(50, 50);
    // Settings are live: the reopen reads these, and has no key to load.
    core->GetSettingAccessor().SetString("Basic::EnableSSL", "1");
    core->GetSettingAccessor().SetString("SSL::Port", std::to_string(reservedSecurePort.Port()));
    core->GetSettingAccessor().SetString("SSL::PrivateKey", Root() + "missing.pem");

    BreakListener();
    ASSERT_TRUE(WaitUntil([&] { return core->IsRunning() == 0; }));
    EXPECT_NE(SystemLog().find("]SystemError : " + kSslMessage + "\r\n"), std::string::npos);
    EXPECT_LT(servertest::ConnectLoopback(port), 0)
        << "a plain port left open would accept connections nobody answers";
}

TEST_F(ServerCoreTest, StopWithClientsConnectedEndsEveryConnection)
{
    StartServer();
    ASSERT_NE(core, nullptr);
    for (int i = 0; i < 3; ++i)
        ASSERT_GE(Connect(), 0);
    ASSERT_TRUE(WaitUntil([&] { return core->GetCurrentConnection() == 3; }));

    const auto start = std::chrono::steady_clock::now();
    core.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    for (int fd : clients)
        EXPECT_TRUE(servertest::ReadsEndOfStream(fd));
    EXPECT_LT(servertest::ConnectLoopback(port), 0) << "the listeners are closed";
    EXPECT_NE(SystemLog().find("]サーバを停止しました\r\n"), std::string::npos);
}

TEST_F(ServerCoreTest, StopUnderTheApplicationLockIsNotBlockedByOverloadWarnings)
{
    // The application holds its own lock while it deletes the core; the core thread sets
    // the status text meanwhile, which must not need that lock.
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    StartServer();
    ASSERT_NE(core, nullptr);
    std::atomic<bool> done{false};
    std::thread flood([&] {
        while (!done) {
            const int fd = servertest::ConnectAndSend(port, "G");
            if (fd < 0)
                break;
            ReadToEnd(fd);
            ::close(fd);
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return status.Get() == kOverloadWarning; }));
    std::mutex applicationLock;
    {
        std::lock_guard<std::mutex> held(applicationLock);
        const auto start = std::chrono::steady_clock::now();
        core.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    done = true;
    flood.join();
}

}  // namespace
