#include "ServiceHost.h"

#include "EventLog.h"
#include "NotifyReceiver.h"
#include "ScopedEnvironment.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using testsupport::GetFile;
using testsupport::NotifyReceiver;
using testsupport::ScopedEnvironment;
using testsupport::TempFolder;

constexpr int kWaitMs = 5000;

platform::ServiceDefinition TarnwickDefinition(const std::string& programPath)
{
    platform::ServiceDefinition definition;
    definition.name = "Tarnwick";
    definition.displayName = "Tarnwick Service";
    definition.programPath = programPath;
    definition.argument = "/Service";
    return definition;
}

// The definition the server installs when "sudo" ran it for alice.
platform::ServiceDefinition UserServiceDefinition()
{
    platform::ServiceDefinition definition = TarnwickDefinition("/opt/tarnwick/Tarnwick");
    definition.user = "alice";
    definition.runtimeDirectory = "tarnwick";
    definition.environment = {{"TARNWICK_RUNTIME_DIR", "/run/tarnwick"}, {"TARNWICK_ROOT", "/srv/web root/"}};
    return definition;
}

// The unit of TarnwickDefinition("/opt/tarnwick/Tarnwick"), with `serviceLines` after
// its ExecStart= line.
std::string TarnwickUnit(const std::string& serviceLines)
{
    return "[Unit]\n"
           "Description=Tarnwick Service\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=\"/opt/tarnwick/Tarnwick\" /Service\n" +
           serviceLines +
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

// The line of `text` that starts with `key`, without the key; "" when there is none.
std::string LineValue(const std::string& text, const std::string& key)
{
    const std::string::size_type start = text.find("\n" + key);
    if (start == std::string::npos)
        return "";
    const std::string::size_type from = start + 1 + key.size();
    return text.substr(from, text.find('\n', from) - from);
}

// ---- the unit file ----

class ServiceHostUnitTest : public testing::Test {
protected:
    std::string UnitPath() const { return folder.Path() + "Tarnwick.service"; }

    TempFolder folder;
    ScopedEnvironment unitDirectory{"TARNWICK_UNIT_DIR", folder.Path()};
};

TEST_F(ServiceHostUnitTest, InstallWritesTheUnitByteForByte)
{
    ASSERT_EQ(platform::InstallService(TarnwickDefinition("/opt/tarnwick/Tarnwick")),
              platform::ServiceInstallResult::Created);
    EXPECT_EQ(GetFile(UnitPath()), TarnwickUnit(""));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"Tarnwick.service"}) << "no temporary file left";
}

struct ExecCase {
    const char* what;
    std::string programPath;  // CP932
    std::string execStart;    // UTF-8, as systemd must read it
};

// Each of these was checked with systemd-analyze verify (systemd 252) on a real program.
TEST(ServiceHostUnitText, QuotesTheProgramPathSoThatSystemdReadsItBackWhole)
{
    const ExecCase cases[] = {
        {"plain", "/usr/sbin/Tarnwick", "\"/usr/sbin/Tarnwick\" /Service"},
        {"blanks", "/opt/my server/Tarnwick", "\"/opt/my server/Tarnwick\" /Service"},
        {"blank at the end of a folder", "/opt/a /Tarnwick", "\"/opt/a /Tarnwick\" /Service"},
        {"percent is a specifier", "/opt/100%/Tarnwick", "\"/opt/100%%/Tarnwick\" /Service"},
        {"dollar is literal in the program", "/opt/$HOME/Tarnwick", "\"/opt/$HOME/Tarnwick\" /Service"},
        {"semicolon", "/opt/a;b/Tarnwick", "\"/opt/a;b/Tarnwick\" /Service"},
        {"Japanese folder", "/srv/サーバ/Tarnwick", u8"\"/srv/サーバ/Tarnwick\" /Service"},
        {"0x5C as a trail byte is no backslash", "/srv/ソフト/Tarnwick", u8"\"/srv/ソフト/Tarnwick\" /Service"},
    };
    for (const ExecCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string unit = platform::ServiceUnitText(TarnwickDefinition(c.programPath));
        EXPECT_EQ(LineValue(unit, "ExecStart="), c.execStart);
    }
}

TEST(ServiceHostUnitText, NoUnitForAProgramPathThatSystemdRefuses)
{
    for (const char* path : {"/opt/a\"b/Tarnwick", "/opt/a'b/Tarnwick", "/opt/a\\b/Tarnwick", "/opt/a\tb/Tarnwick",
                             "/opt/a\nb/Tarnwick", "/opt/a\x7f/Tarnwick", "Tarnwick", ""}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(platform::ServiceUnitText(TarnwickDefinition(path)), "");
    }
}

TEST(ServiceHostUnitText, QuotesAnArgumentThatIsNotOnePlainWord)
{
    platform::ServiceDefinition definition = TarnwickDefinition("/opt/Tarnwick");
    definition.argument = "/Run now $X 5%";
    EXPECT_EQ(LineValue(platform::ServiceUnitText(definition), "ExecStart="),
              "\"/opt/Tarnwick\" \"/Run now $$X 5%%\"");
    definition.argument = "";
    EXPECT_EQ(LineValue(platform::ServiceUnitText(definition), "ExecStart="), "\"/opt/Tarnwick\"");
}

TEST(ServiceHostUnitText, DescriptionStaysOneLineWithLiteralPercent)
{
    platform::ServiceDefinition definition = TarnwickDefinition("/opt/Tarnwick");
    definition.displayName = "Web 100%\nServer";
    EXPECT_EQ(LineValue(platform::ServiceUnitText(definition), "Description="), "Web 100%% Server");
}

// Checked with systemd-analyze verify (systemd 252).
TEST(ServiceHostUnitText, ServiceOfAUserRunsAsThemWithAPrivateRuntimeFolderAndItsEnvironment)
{
    EXPECT_EQ(platform::ServiceUnitText(UserServiceDefinition()),
              TarnwickUnit("User=alice\n"
                           "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
                           "RuntimeDirectory=tarnwick\n"
                           "RuntimeDirectoryMode=0700\n"
                           "Environment=TARNWICK_RUNTIME_DIR=/run/tarnwick\n"
                           "Environment=\"TARNWICK_ROOT=/srv/web root/\"\n"));
}

// Each of these was checked with systemd-analyze verify (systemd 252).
TEST(ServiceHostUnitText, QuotesAnEnvironmentValueSoThatSystemdReadsItBackWhole)
{
    struct Case {
        const char* what;
        std::string value;        // CP932
        std::string environment;  // UTF-8, as the line must read
    };
    const Case cases[] = {
        {"plain path", "/srv/www", "ROOT=/srv/www"},
        {"empty", "", "\"ROOT=\""},
        {"blanks", "/srv/my www/", "\"ROOT=/srv/my www/\""},
        {"percent is a specifier", "/srv/100%", "\"ROOT=/srv/100%%\""},
        {"dollar is literal", "/srv/$HOME", "\"ROOT=/srv/$HOME\""},
        {"quote and backslash escaped", "/srv/a\"b\\c", "\"ROOT=/srv/a\\\"b\\\\c\""},
        {"0x5C as a trail byte is no backslash", "/srv/ソフト", u8"\"ROOT=/srv/ソフト\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::ServiceDefinition definition = TarnwickDefinition("/opt/Tarnwick");
        definition.environment = {{"ROOT", c.value}};
        EXPECT_EQ(LineValue(platform::ServiceUnitText(definition), "Environment="), c.environment);
    }
}

TEST(ServiceHostUnitText, NoUnitForAUserFolderOrVariableThatCannotBeNamed)
{
    struct Case {
        const char* what;
        std::string user;
        std::string runtimeDirectory;
        platform::ServiceEnvironmentVariable variable;
    };
    const Case cases[] = {
        {"user with a blank", "al ice", "tarnwick", {"ROOT", "/srv"}},
        {"user with a specifier", "al%ice", "tarnwick", {"ROOT", "/srv"}},
        {"user that reads as an option", "-alice", "tarnwick", {"ROOT", "/srv"}},
        {"folder outside /run", "alice", "../etc", {"ROOT", "/srv"}},
        {"nested folder", "alice", "a/b", {"ROOT", "/srv"}},
        {"variable name with a digit first", "alice", "tarnwick", {"1ROOT", "/srv"}},
        {"variable name with a dash", "alice", "tarnwick", {"THE-ROOT", "/srv"}},
        {"empty variable name", "alice", "tarnwick", {"", "/srv"}},
        {"value with a line break", "alice", "tarnwick", {"ROOT", "/srv\nUser=root"}},
        {"value with a tab", "alice", "tarnwick", {"ROOT", "/srv\tx"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::ServiceDefinition definition = TarnwickDefinition("/opt/Tarnwick");
        definition.user = c.user;
        definition.runtimeDirectory = c.runtimeDirectory;
        definition.environment = {c.variable};
        EXPECT_EQ(platform::ServiceUnitText(definition), "");
    }
}

TEST_F(ServiceHostUnitTest, InstallLeavesAnExistingUnitAsItIs)
{
    ASSERT_EQ(platform::InstallService(TarnwickDefinition("/opt/first/Tarnwick")),
              platform::ServiceInstallResult::Created);
    const std::string first = GetFile(UnitPath());
    EXPECT_EQ(platform::InstallService(TarnwickDefinition("/opt/second/Tarnwick")),
              platform::ServiceInstallResult::AlreadyExists);
    EXPECT_EQ(GetFile(UnitPath()), first);
}

TEST_F(ServiceHostUnitTest, InstallIntoAMissingFolderFails)
{
    ScopedEnvironment missing{"TARNWICK_UNIT_DIR", folder.Path() + "missing"};
    EXPECT_EQ(platform::InstallService(TarnwickDefinition("/opt/Tarnwick")), platform::ServiceInstallResult::Failed);
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_F(ServiceHostUnitTest, InstallFailsForAProgramPathThatSystemdRefuses)
{
    EXPECT_EQ(platform::InstallService(TarnwickDefinition("/opt/a\"b/Tarnwick")), platform::ServiceInstallResult::Failed);
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_F(ServiceHostUnitTest, InstallRefusesANameThatIsNoFileName)
{
    for (const char* name : {"", ".", "..", "../Tarnwick", "a/b"}) {
        SCOPED_TRACE(name);
        platform::ServiceDefinition definition = TarnwickDefinition("/opt/Tarnwick");
        definition.name = name;
        EXPECT_EQ(platform::InstallService(definition), platform::ServiceInstallResult::Failed);
        EXPECT_EQ(platform::RemoveService(name), -1);
    }
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_F(ServiceHostUnitTest, RemoveDeletesTheUnitAndSucceedsAgainWhenItIsGone)
{
    ASSERT_EQ(platform::InstallService(TarnwickDefinition("/opt/Tarnwick")), platform::ServiceInstallResult::Created);
    EXPECT_EQ(platform::RemoveService("Tarnwick"), 0);
    EXPECT_TRUE(folder.Entries().empty());
    EXPECT_EQ(platform::RemoveService("Tarnwick"), 0);
}

TEST_F(ServiceHostUnitTest, RemoveOfAUnitNeverInstalledSucceeds)
{
    EXPECT_EQ(platform::RemoveService("Tarnwick"), 0);
    ScopedEnvironment missing{"TARNWICK_UNIT_DIR", folder.Path() + "missing"};
    EXPECT_EQ(platform::RemoveService("Tarnwick"), 0);
}

TEST_F(ServiceHostUnitTest, RemoveFailsWhenTheUnitCannotBeDeleted)
{
    // A folder in the unit's place: unlink refuses it even for root.
    ASSERT_EQ(::mkdir(UnitPath().c_str(), 0755), 0);
    EXPECT_EQ(platform::RemoveService("Tarnwick"), -1);
    ::rmdir(UnitPath().c_str());
}

TEST(ServiceHostUnitDirectory, IsTheSystemFolderUnlessTheEnvironmentNamesAnother)
{
    {
        ScopedEnvironment unset{"TARNWICK_UNIT_DIR", ""};
        EXPECT_EQ(platform::ServiceUnitDirectory(), "/etc/systemd/system");
    }
    ScopedEnvironment given{"TARNWICK_UNIT_DIR", "/tmp/units//"};
    EXPECT_EQ(platform::ServiceUnitDirectory(), "/tmp/units");
}

// ---- status reports ----

TEST(ServiceHostStatus, NonzeroExitCodeIsAServiceSpecificError)
{
    struct Case {
        platform::ServiceState state;
        uint32_t exitCode;
        uint32_t reported;
        uint32_t specific;
    };
    const Case cases[] = {
        {platform::ServiceState::Running, 0, platform::kNoError, 0},
        {platform::ServiceState::StopPending, 0, platform::kNoError, 0},
        {platform::ServiceState::Stopped, 0, platform::kNoError, 0},
        {platform::ServiceState::Stopped, 1, platform::kErrorServiceSpecificError, 1},
        {platform::ServiceState::Stopped, 0xFFFFFFFF, platform::kErrorServiceSpecificError, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode);
        const platform::ServiceStatus status = platform::MakeServiceStatus(c.state, c.exitCode);
        EXPECT_EQ(status.state, c.state);
        EXPECT_EQ(status.controlsAccepted, platform::kServiceAcceptStop | platform::kServiceAcceptShutdown);
        EXPECT_EQ(status.exitCode, c.reported);
        EXPECT_EQ(status.serviceSpecificExitCode, c.specific);
    }
}

TEST(ServiceHostStatus, NotifyMessagesFollowTheStates)
{
    struct Case {
        platform::ServiceState state;
        uint32_t exitCode;
        const char* message;
    };
    const Case cases[] = {
        {platform::ServiceState::Running, 0, "READY=1\nSTATUS=Running"},
        {platform::ServiceState::StopPending, 0, "STOPPING=1\nSTATUS=Stopping"},
        {platform::ServiceState::Stopped, 0, "STATUS=Stopped"},
        {platform::ServiceState::Running, 3, "READY=1\nSTATUS=Running (service-specific error 3)"},
        {platform::ServiceState::Stopped, 3, "STATUS=Stopped (service-specific error 3)\nEXIT_STATUS=3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(platform::ServiceNotifyMessage(platform::MakeServiceStatus(c.state, c.exitCode)), c.message);
    }
}

TEST(ServiceHostNotify, SendsOneDatagramToAPathSocket)
{
    TempFolder folder;
    NotifyReceiver receiver(folder.Path() + "notify");
    ASSERT_EQ(platform::NotifyServiceManager(receiver.Address(), "READY=1\nSTATUS=Running"), 0);
    EXPECT_EQ(receiver.Receive(), "READY=1\nSTATUS=Running");
}

TEST(ServiceHostNotify, SendsToAnAbstractSocketNamedWithAt)
{
    NotifyReceiver receiver;
    ASSERT_EQ(platform::NotifyServiceManager(receiver.Address(), "STOPPING=1"), 0);
    EXPECT_EQ(receiver.Receive(), "STOPPING=1");
}

TEST(ServiceHostNotify, EmptyAddressSendsNothingAndSucceeds)
{
    EXPECT_EQ(platform::NotifyServiceManager("", "READY=1"), 0);
}

TEST(ServiceHostNotify, FailsForAnAddressItCannotReach)
{
    TempFolder folder;
    const std::string tooLong = "/" + std::string(sizeof(sockaddr_un::sun_path), 'x');
    for (const std::string& address :
         {std::string("vsock:2:1234"), std::string("relative/notify"), tooLong, "@" + tooLong.substr(1),
          folder.Path() + "nobody-listens"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(platform::NotifyServiceManager(address, "READY=1"), -1);
    }
}

// ---- the event log ----

TEST(ServiceHostEventLog, ErrorsAreLogErrAndOthersLogInfo)
{
    EXPECT_EQ(platform::EventPriority(true), LOG_ERR);
    EXPECT_EQ(platform::EventPriority(false), LOG_INFO);
}

TEST(ServiceHostEventLog, LineCarriesTheIdAndTheTextInUtf8)
{
    EXPECT_EQ(platform::EventLogLine(1, "サーバの動作を開始しました。"), u8"[1] サーバの動作を開始しました。");
    EXPECT_EQ(platform::EventLogLine(0x100, "サーバ起動エラー : ソケット"), u8"[256] サーバ起動エラー : ソケット");
    EXPECT_EQ(platform::EventLogLine(2, ""), "[2]");
}

TEST(ServiceHostEventLog, NothingIsReportedWithoutASource)
{
    EXPECT_EQ(platform::ReportEvent("", 1, false, "text"), -1);
}

// ---- the dispatcher ----

// The handler's answer to a control other than STOP, so that the test sees it passed on.
constexpr uint32_t kOtherAnswer = 1000;

// A service main as the real one is built: it registers a handler that stops it on STOP
// and answers kOtherAnswer + the code otherwise, reports RUNNING, waits for the stop, reports STOPPED.
class ServiceHostDispatcherTest : public testing::Test {
protected:
    ServiceHostDispatcherTest() : dispatcher(receiver.Address()) {}

    void ServiceMain()
    {
        mainThread = std::this_thread::get_id();
        dispatcher.RegisterControlHandler([this](uint32_t control) {
            handlerThread = std::this_thread::get_id();
            if (control != platform::kServiceControlStop)
                return kOtherAnswer + control;
            // Reported before the stop is let go, as the real service's lock orders them:
            // otherwise the main may report STOPPED first.
            dispatcher.ReportStatus(platform::ServiceState::StopPending, 0);
            stop = true;
            return platform::kNoError;
        });
        dispatcher.ReportStatus(platform::ServiceState::Running, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!stop && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        dispatcher.ReportStatus(platform::ServiceState::Stopped, exitCode);
    }

    // Runs the dispatcher on a thread of its own, as the service thread does.
    void StartDispatcher()
    {
        dispatcherThread = std::thread([this] {
            dispatcherThreadId = std::this_thread::get_id();
            runResult = dispatcher.Run([this] { ServiceMain(); });
        });
    }

    void TearDown() override
    {
        stop = true;
        if (dispatcherThread.joinable())
            dispatcherThread.join();
    }

    NotifyReceiver receiver;
    platform::CServiceDispatcher dispatcher;
    std::thread dispatcherThread;
    std::atomic<bool> stop{false};
    uint32_t exitCode = 0;
    std::thread::id dispatcherThreadId;
    std::thread::id mainThread;
    std::thread::id handlerThread;
    int runResult = -2;
};

TEST_F(ServiceHostDispatcherTest, ReportsRunningStopPendingAndStoppedInOrderThenTakesNoControl)
{
    exitCode = 7;
    StartDispatcher();
    ASSERT_EQ(receiver.Receive(), "READY=1\nSTATUS=Running");
    EXPECT_EQ(dispatcher.CurrentStatus().state, platform::ServiceState::Running);
    EXPECT_EQ(dispatcher.SendControl(platform::kServiceControlStop), platform::kNoError);
    EXPECT_EQ(receiver.Receive(), "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(receiver.Receive(), "STATUS=Stopped (service-specific error 7)\nEXIT_STATUS=7");
    dispatcherThread.join();
    EXPECT_EQ(runResult, 0);
    EXPECT_EQ(dispatcher.CurrentStatus().serviceSpecificExitCode, 7u);
    EXPECT_EQ(dispatcher.SendControl(platform::kServiceControlStop), platform::kErrorServiceNotActive)
        << "no control after STOPPED";
}

TEST_F(ServiceHostDispatcherTest, ControlsReachTheHandlerOnTheDispatcherThreadWithItsAnswer)
{
    StartDispatcher();
    ASSERT_TRUE(receiver.Receive().has_value());
    for (uint32_t control : {platform::kServiceControlPause, platform::kServiceControlContinue,
                             platform::kServiceControlInterrogate, platform::kServiceControlShutdown, 0u, 128u}) {
        SCOPED_TRACE(control);
        EXPECT_EQ(dispatcher.SendControl(control), kOtherAnswer + control);
    }
    EXPECT_FALSE(stop);
    EXPECT_EQ(handlerThread, dispatcherThreadId);
    EXPECT_NE(mainThread, dispatcherThreadId);
    EXPECT_EQ(dispatcher.SendControl(platform::kServiceControlStop), platform::kNoError);
    dispatcherThread.join();
    EXPECT_EQ(runResult, 0);
}

TEST(ServiceHostDispatcher, AnswersNotActiveWithoutARunAndNotImplementedWithoutAHandler)
{
    platform::CServiceDispatcher dispatcher("");
    EXPECT_EQ(dispatcher.SendControl(platform::kServiceControlStop), platform::kErrorServiceNotActive);
    uint32_t answer = 0;
    ASSERT_EQ(dispatcher.Run([&] {
        answer = dispatcher.SendControl(platform::kServiceControlStop);  // no handler yet
    }),
              0);
    EXPECT_EQ(answer, platform::kErrorCallNotImplemented);
}

TEST(ServiceHostDispatcher, RefusesASecondRunWhileOneIsInProgress)
{
    platform::CServiceDispatcher dispatcher("");
    int second = 0;
    ASSERT_EQ(dispatcher.Run([&] { second = dispatcher.Run([] { ADD_FAILURE() << "ran twice"; }); }), 0);
    EXPECT_EQ(second, -1);
}

TEST(ServiceHostDispatcher, PassesAnExceptionOfTheServiceMainOn)
{
    platform::CServiceDispatcher dispatcher("");
    EXPECT_THROW(dispatcher.Run([] { throw std::runtime_error("service main failed"); }), std::runtime_error);
    EXPECT_EQ(dispatcher.Run([] {}), 0) << "usable again";
}

TEST(ServiceHostDispatcher, BlocksTheSignalsWhileRunningAndRestoresTheMaskAfterwards)
{
    auto blocked = [](int signal) {
        sigset_t mask;
        ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        return sigismember(&mask, signal) == 1;
    };
    ASSERT_FALSE(blocked(SIGTERM));
    platform::CServiceDispatcher dispatcher("");
    bool termInMain = false;
    bool intInMain = false;
    ASSERT_EQ(dispatcher.Run([&] {
        termInMain = blocked(SIGTERM);
        intInMain = blocked(SIGINT);
    }),
              0);
    EXPECT_TRUE(termInMain);
    EXPECT_TRUE(intInMain);
    EXPECT_FALSE(blocked(SIGTERM));
    EXPECT_FALSE(blocked(SIGINT));
}

// In a child of its own, since the signal goes to the whole process: the child blocks the
// signals as a service program does at start-up, runs a dispatcher whose handler records
// the control, and exits 0 only when the signal arrived as STOP and the run ended.
int RunServiceUntilStopped(int readyFd)
{
    if (platform::BlockServiceSignals() != 0)
        return 2;
    platform::CServiceDispatcher dispatcher("");
    std::atomic<uint32_t> control{0};
    const int result = dispatcher.Run([&] {
        dispatcher.RegisterControlHandler([&](uint32_t code) {
            control = code;
            return platform::kNoError;
        });
        (void)!::write(readyFd, "r", 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (control == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        dispatcher.ReportStatus(platform::ServiceState::Stopped, 0);
    });
    return result == 0 && control == platform::kServiceControlStop ? 0 : 1;
}

TEST(ServiceHostDispatcher, TermAndInterruptSignalsToTheProcessBecomeStop)
{
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        int ready[2];
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            ::_exit(RunServiceUntilStopped(ready[1]));
        }
        ::close(ready[1]);
        pollfd readable{ready[0], POLLIN, 0};
        char mark = 0;
        const bool started = ::poll(&readable, 1, kWaitMs) == 1 && ::read(ready[0], &mark, 1) == 1;
        ::close(ready[0]);
        EXPECT_TRUE(started);
        ::kill(child, signal);

        int status = 0;
        pid_t ended = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (ended == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the service did not stop";
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

}  // namespace
