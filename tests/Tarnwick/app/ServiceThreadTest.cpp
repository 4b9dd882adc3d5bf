#include "app/ServiceThread.h"

#include "ConfigClass.h"
#include "ModulePath.h"
#include "NotifyReceiver.h"
#include "RegistryStore.h"
#include "ScopedEnvironment.h"
#include "ServerTestSupport.h"
#include "ServiceHost.h"
#include "TextCodec.h"
#include "app/ServerApp.h"
#include "net/TestCertificate.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using servertest::TempFolder;
using testsupport::GetFile;
using testsupport::NotifyReceiver;
using testsupport::ScopedEnvironment;

const char kEventKey[] = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Tarnwick";

struct Event {
    std::string source;
    uint32_t id;
    bool isError;
    std::string text;  // CP932
};

// A service over a real application, with its unit folder, registry store and notification
// socket of its own, and the events caught instead of sent to syslog.
class ServiceThreadTest : public testing::Test {
protected:
    explicit ServiceThreadTest(const CIPv4Address& listenAddress = servertest::LoopbackAddress()) : app(listenAddress)
    {
        service.SetEventWriter([this](const std::string& source, uint32_t id, bool isError, const std::string& text) {
            std::lock_guard<std::mutex> guard(eventsLock);
            events.push_back({source, id, isError, text});
            return 0;
        });
    }

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> guard(eventsLock);
        return events;
    }

    std::string UnitPath() const { return units.Path() + "Tarnwick.service"; }

    // What RunServiceUntilStopped's manager received with READY.
    std::string readyMessage;

    // Runs the service on this thread as the application's main thread does, while another
    // thread plays the service manager: it waits for READY, sends `before` and then STOP.
    // Gives whether the server ran when the service reported RUNNING.
    int RunServiceUntilStopped(std::vector<uint32_t> before = {})
    {
        std::vector<uint32_t> answers;
        int serverRunning = -1;
        std::thread manager([&] {
            const std::optional<std::string> ready = receiver.Receive();
            ASSERT_TRUE(ready.has_value());
            EXPECT_EQ(ready->rfind("READY=1\nSTATUS=", 0), 0u) << *ready;
            readyMessage = *ready;
            serverRunning = app.IsServerRunning();
            for (uint32_t control : before)
                answers.push_back(service.SendControl(control));
            answers.push_back(service.SendControl(platform::kServiceControlStop));
        });
        int pumped = 0;
        const int result = service.RunService([&](int timeoutMs) {
            EXPECT_EQ(timeoutMs, 50);
            ++pumped;
        });
        manager.join();
        EXPECT_EQ(result, 0);
        EXPECT_GT(pumped, 0) << "the main thread serves calls while the service runs";
        EXPECT_EQ(answers.size(), before.size() + 1);
        for (size_t i = 0; i < before.size() && i < answers.size(); ++i)
            EXPECT_EQ(answers[i], platform::kErrorCallNotImplemented) << "control " << before[i];
        if (!answers.empty()) {
            EXPECT_EQ(answers.back(), platform::kNoError);
        }
        return serverRunning;
    }

    TempFolder units;
    TempFolder registry;
    ScopedEnvironment unitDirectory{"TARNWICK_UNIT_DIR", units.Path()};
    ScopedEnvironment registryFolder{"TARNWICK_REGISTRY", registry.Path()};
    NotifyReceiver receiver;
    ScopedEnvironment notifySocket{"NOTIFY_SOCKET", receiver.Address()};
    CServerApp app;
    CServiceThread service{app};
    std::mutex eventsLock;
    std::vector<Event> events;
};

TEST(ServiceThreadEvents, TextsOfTheMessageTable)
{
    struct Case {
        uint32_t id;
        const char* insertion;
        const char* text;
    };
    const Case cases[] = {
        {CServiceThread::kEventServerStarted, "", "サーバの動作を開始しました。"},
        {CServiceThread::kEventServerStopped, "", "サーバの動作を停止しました。"},
        {CServiceThread::kEventStartError, "ポートを開けません", "サーバ起動エラー : ポートを開けません"},
        {CServiceThread::kEventStartError, "100% %1", "サーバ起動エラー : 100% %1"},
        {CServiceThread::kEventStartError, "", "サーバ起動エラー : "},
        {3, "as given", "as given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(CServiceThread::EventText(c.id, c.insertion), c.text);
    }
    EXPECT_EQ(CServiceThread::kEventStartError, 0x100u);
}

TEST_F(ServiceThreadTest, InstallServiceWritesTheUnitForThisProgramAndRemoveServiceDeletesIt)
{
    ASSERT_EQ(CServiceThread::InstallService(), 0);
    const std::string unit = GetFile(UnitPath());
    const std::string program = platform::Cp932ToUtf8(platform::GetModulePath(0));
    EXPECT_NE(unit.find("\nDescription=Tarnwick Service\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nExecStart=\"" + program + "\" /Service\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos) << unit;
    EXPECT_EQ(CServiceThread::InstallService(), 0) << "a unit that is there already counts as installed";
    EXPECT_EQ(CServiceThread::RemoveService(), 0);
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(CServiceThread::RemoveService(), 0) << "absent counts as removed";
}

TEST_F(ServiceThreadTest, InstallServiceReportsAFailedCreation)
{
    ScopedEnvironment missing{"TARNWICK_UNIT_DIR", units.Path() + "missing"};
    EXPECT_EQ(CServiceThread::InstallService(), -1);
}

TEST_F(ServiceThreadTest, ControlsOtherThanStopAndShutdownAreAnswered120AndChangeNothing)
{
    for (uint32_t control : {platform::kServiceControlPause, platform::kServiceControlContinue,
                             platform::kServiceControlInterrogate, 0u, 6u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(control);
        EXPECT_EQ(service.HandleControl(control), 120u);
    }
    EXPECT_EQ(service.IsServiceStopRequested(), 0);
    EXPECT_EQ(receiver.Receive(0), std::nullopt) << "no status was reported";
}

TEST_F(ServiceThreadTest, StopAndShutdownSetTheStopFlagAndReportStopPending)
{
    for (uint32_t control : {platform::kServiceControlStop, platform::kServiceControlShutdown}) {
        SCOPED_TRACE(control);
        CServiceThread fresh(app);
        EXPECT_EQ(fresh.HandleControl(control), platform::kNoError);
        EXPECT_EQ(fresh.IsServiceStopRequested(), 1);
        EXPECT_EQ(receiver.Receive(), "STOPPING=1\nSTATUS=Stopping");
    }
}

TEST_F(ServiceThreadTest, ReportServerEventRecordsTheSourceAndWritesTheEvent)
{
    service.ReportServerEvent(CServiceThread::kEventStartError, "理由", 1);
    platform::RegistryStore store(platform::Utf8ToCp932(registry.Path()));
    std::string file;
    uint32_t types = 0;
    ASSERT_TRUE(store.ReadStringValue(platform::HKEY_LOCAL_MACHINE, kEventKey, "EventMessageFile", file));
    EXPECT_EQ(file, platform::GetModulePath(0));
    ASSERT_TRUE(store.ReadDWordValue(platform::HKEY_LOCAL_MACHINE, kEventKey, "TypesSupported", types));
    EXPECT_EQ(types, 5u);
    const std::vector<Event> written = Events();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].source, "Tarnwick");
    EXPECT_EQ(written[0].id, 0x100u);
    EXPECT_TRUE(written[0].isError);
    EXPECT_EQ(written[0].text, "サーバ起動エラー : 理由");
}

TEST_F(ServiceThreadTest, EventIsWrittenEvenWhenTheSourceCannotBeRecorded)
{
    // A file where the store's folder should be: no key can be made.
    const std::string blocked = registry.Path() + "file";
    testsupport::PutFile(blocked, "");
    ScopedEnvironment unusable{"TARNWICK_REGISTRY", blocked};
    service.ReportServerEvent(CServiceThread::kEventServerStopped, "", 0);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].text, "サーバの動作を停止しました。");
    EXPECT_FALSE(Events()[0].isError);
}

TEST_F(ServiceThreadTest, ServiceStartsTheServerReportsRunningAndStopsOnStop)
{
    CConfigClass settings;
    const servertest::ReservedPort port;
    settings.SetValue("Setting::Basic::Port", std::to_string(port.Port()));
    ASSERT_EQ(settings.SaveXml(servertest::ServerRoot() + "Tarnwick.xml", ""), 0);

    EXPECT_EQ(RunServiceUntilStopped({platform::kServiceControlPause, platform::kServiceControlInterrogate}), 1);
    EXPECT_EQ(readyMessage, "READY=1\nSTATUS=Running");
    EXPECT_EQ(receiver.Receive(), "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(receiver.Receive(), "STATUS=Stopped");
    service.StopAndWait();
    EXPECT_EQ(app.IsServerRunning(), 0) << "the service stopped the server";

    const std::vector<Event> written = Events();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].id, 1u);
    EXPECT_FALSE(written[0].isError);
    EXPECT_EQ(written[0].text, "サーバの動作を開始しました。");
    EXPECT_EQ(written[1].id, 2u);
    EXPECT_EQ(written[1].text, "サーバの動作を停止しました。");
    std::filesystem::remove(servertest::ServerRoot() + "Tarnwick.xml");
}

// A client's start passes through the stopped text while the new core comes up, here
// while its certificate trickles in through a pipe: the status line still follows the
// start, and the stop after it.
TEST_F(ServiceThreadTest, StatusLineFollowsASlowStartAndTheStopAfterIt)
{
    // As long as several of the service's looks at the server.
    constexpr std::chrono::milliseconds kSlowLoad{200};
    const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
    const TempFolder pipes;
    const std::string slowCertificate = pipes.Path() + "cert.pem";
    ASSERT_EQ(::mkfifo(slowCertificate.c_str(), 0600), 0);
    const servertest::ReservedPort port;
    const servertest::ReservedPort securePort;
    CConfigClass settings;
    settings.SetValue("Setting::Basic::Port", std::to_string(port.Port()));
    settings.SetValue("Setting::Basic::EnableSSL", "1");
    settings.SetValue("Setting::SSL::Port", std::to_string(securePort.Port()));
    settings.SetValue("Setting::SSL::Certificate", slowCertificate);
    settings.SetValue("Setting::SSL::PrivateKey", certificate.WriteKey("slow-start-key.pem", servertest::KeyCipher::None, ""));
    // Settings cut short at first: the service's own start fails.
    const std::string file = servertest::ServerRoot() + "Tarnwick.xml";
    testsupport::PutFile(file, "<CConfigClass type=\"Tarnwick\">");

    std::vector<std::string> lines;
    std::thread manager([&] {
        lines.push_back(receiver.Receive().value_or("none"));
        ASSERT_EQ(settings.SaveXml(file, ""), 0);
        int started = -1;
        std::thread client([&] { started = app.StartServer(); });
        // Opened once the start reads it.
        const int pipe = ::open(slowCertificate.c_str(), O_WRONLY | O_CLOEXEC);
        std::this_thread::sleep_for(kSlowLoad);
        const std::string pem = GetFile(certificate.CertificateFile());
        EXPECT_EQ(::write(pipe, pem.data(), pem.size()), static_cast<ssize_t>(pem.size()));
        ::close(pipe);
        client.join();
        EXPECT_EQ(started, 0) << app.GetStatusText();
        lines.push_back(receiver.Receive().value_or("none"));
        app.StopServer();
        lines.push_back(receiver.Receive().value_or("none"));
        service.SendControl(platform::kServiceControlStop);
    });
    EXPECT_EQ(service.RunService([](int) {}), 0);
    manager.join();
    service.StopAndWait();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind(u8"READY=1\nSTATUS=サーバ起動エラー : Tarnwick.xmlのロードに失敗しました", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "READY=1\nSTATUS=Running");
    EXPECT_EQ(lines[2], u8"READY=1\nSTATUS=サーバは停止中です。");
    std::filesystem::remove(file);
}

// Every default, port 80 included, on an address that is no local interface: the listeners
// fail without the test binding a fixed port.
class UnreachableServiceThreadTest : public ServiceThreadTest {
protected:
    UnreachableServiceThreadTest() : ServiceThreadTest(servertest::UnreachableAddress()) {}
};

TEST_F(UnreachableServiceThreadTest, FailedStartIsAnErrorEventAndTheServiceStillRuns)
{
    std::filesystem::remove(servertest::ServerRoot() + "Tarnwick.xml");

    EXPECT_EQ(RunServiceUntilStopped(), 0) << "the service reports RUNNING without a server";
    service.StopAndWait();

    const std::vector<Event> written = Events();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].id, 0x100u);
    EXPECT_TRUE(written[0].isError);
    const std::string prefix = "サーバ起動エラー : ";
    EXPECT_EQ(written[0].text.substr(0, prefix.size()), prefix);
    // The manager's status line says the same.
    EXPECT_EQ(readyMessage, "READY=1\nSTATUS=" + platform::Cp932ToUtf8(written[0].text));
    EXPECT_GT(written[0].text.size(), prefix.size()) << "the reason follows";
    EXPECT_EQ(written[1].id, 2u);
}

TEST_F(UnreachableServiceThreadTest, DestroyingARunningServiceStopsIt)
{
    auto running = std::make_unique<CServiceThread>(app);
    running->SetEventWriter([this](const std::string& source, uint32_t id, bool isError, const std::string& text) {
        std::lock_guard<std::mutex> guard(eventsLock);
        events.push_back({source, id, isError, text});
        return 0;
    });
    std::filesystem::remove(servertest::ServerRoot() + "Tarnwick.xml");
    ASSERT_EQ(running->Start(), 0);
    // The core cannot listen here: the status line says so.
    const std::optional<std::string> ready = receiver.Receive();
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->rfind(u8"READY=1\nSTATUS=サーバ起動エラー : ", 0), 0u) << *ready;
    running.reset();
    EXPECT_EQ(receiver.Receive(), "STATUS=Stopped");
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events().back().id, 2u);
}

}  // namespace
