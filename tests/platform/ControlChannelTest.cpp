// The control channel end to end: the host serving a fake control object on a thread of
// this process, clients binding to it, broken peers on either side, the runtime folder's
// protection, and activation of a registered program (this test binary, started again).

#include "Clock.h"
#include "ControlClient.h"
#include "ControlHost.h"
#include "ControlWire.h"
#include "RegistryStore.h"
#include "ServerControlInterface.h"
#include "TextCodec.h"

#include "ForkedControlClient.h"
#include "ScopedEnvironment.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::ControlHost;
using platform::ControlResult;
using platform::ControlValueKind;
using platform::FrameStatus;
using servertest::WaitUntil;
using testsupport::ForkedControlClient;
using testsupport::ScopedEnvironment;

namespace {

// What the fake object answers, set before the host starts serving, and what it was asked.
struct FakeState {
    short startStatus = 0, running = 0, service = 0, active = 0;
    std::string errorText, info, setting, context, root;  // CP932, as the application keeps them
    bool throwOnInfo = false;
    std::atomic<int> startCalls{0}, stopCalls{0}, alive{0};
};

class FakeServerControl : public IServerControl {
public:
    explicit FakeServerControl(FakeState* state) : state_(state) { ++state_->alive; }
    ~FakeServerControl() override { --state_->alive; }

    long StartServer(short* status) override
    {
        ++state_->startCalls;
        return Short(state_->startStatus, status);
    }
    long StopServer() override
    {
        ++state_->stopCalls;
        return platform::kOk;
    }
    long GetServerErrorString(std::u16string* str) override { return Text(state_->errorText, str); }
    long IsRunning(short* retval) override { return Short(state_->running, retval); }
    long IsService(short* ret) override { return Short(state_->service, ret); }
    long GetServerInfo(std::u16string* ret) override
    {
        if (state_->throwOnInfo)
            throw std::bad_alloc();
        return Text(state_->info, ret);
    }
    long GetServerSetting(std::u16string* ret) override { return Text(state_->setting, ret); }
    long GetServerContext(std::u16string* ret) override { return Text(state_->context, ret); }
    long GetServerRoot(std::u16string* retpath) override { return Text(state_->root, retpath); }
    long IsActive(short* ret) override { return Short(state_->active, ret); }

protected:
    static long Short(short value, short* out)
    {
        *out = value;
        return platform::kOk;
    }
    static long Text(const std::string& value, std::u16string* out)
    {
        *out = platform::Cp932ToUtf16(value);
        return platform::kOk;
    }

private:
    FakeState* state_;
};

// A raw frame as the wire carries it, built here independently of the encoder.
std::string Frame(const std::string& payload)
{
    std::string frame = "TWC1";
    uint32_t size = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<char>((size >> (8 * i)) & 0xFF));
    return frame + payload;
}

std::string Le32(uint32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

std::string CreateCallFrame() { return Frame(Le32(0) + platform::kServerControlIid); }

std::string CallFrame(int32_t method) { return Frame(Le32(static_cast<uint32_t>(method))); }

std::string ResultFrame(const ControlResult& result)
{
    std::string payload;
    EXPECT_TRUE(platform::EncodeControlResult(result, &payload));
    return Frame(payload);
}

uint64_t Deadline(int ms) { return platform::GetTickCount64() + static_cast<uint64_t>(ms); }

bool SendAll(int fd, const std::string& bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

sockaddr_un UnixAddress(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    return address;
}

int ConnectUnix(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = UnixAddress(path);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A listening socket at `path` that no control host stands behind.
int ListenUnix(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = UnixAddress(path);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool PathExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Each test gets its own runtime folder and registry store, so no test meets another's
// server or registration.
class ControlChannelTest : public testing::Test {
protected:
    void TearDown() override { StopHost(); }

    ControlHost::ObjectFactory FakeFactory()
    {
        return [this] { return std::make_unique<FakeServerControl>(&state_); };
    }

    // Registers the host here and serves it on a thread of its own until StopHost.
    void StartHost(ControlHost::ObjectFactory factory = nullptr)
    {
        ASSERT_EQ(0, host_.RegisterClassObjects(factory ? factory : FakeFactory())) << host_.GetErrorText();
        stop_ = false;
        serving_ = std::thread([this] {
            while (!stop_) {
                // Paused, the host is as a stopped process: connections wait in its backlog.
                if (paused_) {
                    pauseSeen_ = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                } else
                    host_.ServeOnce(10);
            }
            host_.RevokeClassObjects();
        });
    }

    // Stops serving until Resume, as a stopped process does; returns once it has.
    void Pause()
    {
        pauseSeen_ = false;
        paused_ = true;
        if (serving_.joinable()) {
            EXPECT_TRUE(WaitUntil([&] { return pauseSeen_.load(); }));
        }
    }
    void Resume() { paused_ = false; }

    void StopHost()
    {
        stop_ = true;
        if (serving_.joinable())
            serving_.join();
    }

    std::unique_ptr<IServerControl> Bind()
    {
        std::unique_ptr<IServerControl> object;
        std::string error;
        EXPECT_EQ(platform::kOk, platform::CreateServerControl(&object, &error)) << error;
        return object;
    }

    std::string SocketPath() const { return runtime_ + "/" + platform::kServerControlClsid; }

    void Register(const std::string& key, const std::string& name, const std::string& value)
    {
        platform::RegistryStore store;
        ASSERT_TRUE(store.CreateKey(platform::HKEY_CLASSES_ROOT, key)) << key;
        ASSERT_TRUE(store.SetStringValue(platform::HKEY_CLASSES_ROOT, key, name, value)) << key;
    }

    std::string ClassKey() const { return std::string("CLSID\\") + platform::kServerControlClsid; }

    std::string WriteScript(const std::string& name, const std::string& body)
    {
        const std::string path = scratch_.Path() + name;
        testsupport::PutFile(path, "#!/bin/sh\n" + body + "\n");
        EXPECT_EQ(0, ::chmod(path.c_str(), 0700));
        return path;
    }

    servertest::TempFolder scratch_;
    const std::string runtime_ = scratch_.Path() + "run";
    const std::string serviceRuntime_ = scratch_.Path() + "system-run";
    const std::string registry_ = scratch_.Path() + "registry";
    ScopedEnvironment runtimeVariable_{"TARNWICK_RUNTIME_DIR", runtime_};
    ScopedEnvironment serviceRuntimeVariable_{"TARNWICK_SERVICE_RUNTIME_DIR", serviceRuntime_};
    ScopedEnvironment registryVariable_{"TARNWICK_REGISTRY", registry_};
    FakeState state_;
    ControlHost host_;
    std::thread serving_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> pauseSeen_{false};
};

// --- The framing -----------------------------------------------------------------------

TEST(ControlChannelWireTest, ResultsRoundTripEveryKind)
{
    struct Case {
        const char* what;
        ControlResult result;
    };
    ControlResult none;
    none.method = platform::kDispStopServer;
    ControlResult lowest;
    lowest.method = platform::kDispIsActive;
    lowest.kind = ControlValueKind::Short;
    lowest.shortValue = -32768;
    ControlResult highest = lowest;
    highest.shortValue = 32767;
    ControlResult empty;
    empty.method = platform::kDispGetServerInfo;
    empty.kind = ControlValueKind::Text;
    ControlResult surrogates = empty;
    surrogates.text = u"a\0b\\0\U0001F600\xFFFF";
    surrogates.text += char16_t(0xD800);  // a lone surrogate crosses untouched
    ControlResult failure;
    failure.method = platform::kDispStartServer;
    failure.result = platform::kCallFailed;
    const Case cases[] = {
        {"no value", none},          {"lowest short", lowest}, {"highest short", highest},
        {"empty text", empty},       {"text with NUL and surrogates", surrogates},
        {"failed call", failure},
    };
    for (const Case& c : cases) {
        std::string payload;
        ASSERT_TRUE(platform::EncodeControlResult(c.result, &payload)) << c.what;
        ControlResult back;
        ASSERT_TRUE(platform::DecodeControlResult(payload, &back)) << c.what;
        EXPECT_EQ(c.result.method, back.method) << c.what;
        EXPECT_EQ(c.result.result, back.result) << c.what;
        EXPECT_EQ(c.result.kind, back.kind) << c.what;
        EXPECT_EQ(c.result.shortValue, back.shortValue) << c.what;
        EXPECT_EQ(c.result.text, back.text) << c.what;
    }
}

TEST(ControlChannelWireTest, MalformedPayloadsAreRejected)
{
    const std::string head = Le32(4) + Le32(0);
    struct Case {
        const char* what;
        std::string payload;
    };
    const Case results[] = {
        {"empty", ""},
        {"header cut short", head},
        {"unknown kind", head + '\x03'},
        {"no value with a byte", head + '\x00' + 'x'},
        {"short of one byte", head + '\x01' + 'x'},
        {"short of three bytes", head + '\x01' + "xyz"},
        {"text without count", head + '\x02' + "ab"},
        {"text shorter than its count", head + '\x02' + Le32(2) + "abc"},
        {"text longer than its count", head + '\x02' + Le32(1) + "abc"},
        {"text count near 2^32", head + '\x02' + Le32(0x80000000u) + "ab"},
    };
    for (const Case& c : results) {
        ControlResult result;
        EXPECT_FALSE(platform::DecodeControlResult(c.payload, &result)) << c.what;
    }
    const Case calls[] = {
        {"empty", ""},
        {"method cut short", "\x01\x00\x00"},
        {"method with trailing bytes", Le32(4) + "x"},
        {"creation longer than the limit", Le32(0) + std::string(platform::kMaxControlCallBytes, 'x')},
    };
    for (const Case& c : calls) {
        platform::ControlCall call;
        EXPECT_FALSE(platform::DecodeControlCall(c.payload, &call)) << c.what;
    }
}

TEST(ControlChannelWireTest, TextTooLongForTheWireIsNotEncoded)
{
    ControlResult result;
    result.method = platform::kDispGetServerContext;
    result.kind = ControlValueKind::Text;
    result.text.assign(platform::kMaxControlResultBytes / 2, u'x');
    std::string payload;
    EXPECT_FALSE(platform::EncodeControlResult(result, &payload));
}

TEST(ControlChannelWireTest, FramesReportHowTheStreamEnded)
{
    struct Case {
        const char* what;
        std::string sent;
        bool hangUp;
        FrameStatus expected;
    };
    const Case cases[] = {
        {"whole frame", Frame("abc"), false, FrameStatus::Ok},
        {"empty payload", Frame(""), false, FrameStatus::Ok},
        {"hang-up before a frame", "", true, FrameStatus::Closed},
        {"hang-up inside the header", "TWC", true, FrameStatus::Broken},
        {"hang-up inside the payload", Frame("abcdef").substr(0, 10), true, FrameStatus::Broken},
        {"wrong magic", "HTTP/1.0 200 OK\r\n\r\n", true, FrameStatus::Broken},
        {"length over the limit", "TWC1" + Le32(17), false, FrameStatus::Broken},
        {"nothing within the deadline", "", false, FrameStatus::TimedOut},
        {"payload missing at the deadline", Frame("abcdef").substr(0, 9), false, FrameStatus::TimedOut},
    };
    for (const Case& c : cases) {
        int a, b;
        servertest::MakeSocketPair(a, b);
        ASSERT_EQ(static_cast<ssize_t>(c.sent.size()), ::send(a, c.sent.data(), c.sent.size(), 0)) << c.what;
        if (c.hangUp)
            ::shutdown(a, SHUT_WR);
        std::string payload;
        EXPECT_EQ(c.expected, platform::ReadControlFrame(b, &payload, 16, Deadline(50))) << c.what;
        ::close(a);
        ::close(b);
    }
}

TEST(ControlChannelWireTest, WritingToAPeerThatLeftFailsWithoutASignal)
{
    int a, b;
    servertest::MakeSocketPair(a, b);
    ::close(b);
    EXPECT_EQ(FrameStatus::Broken, platform::WriteControlFrame(a, "abc", Deadline(1000)));
    ::close(a);
}

TEST(ControlChannelWireTest, WritingToAPeerThatDoesNotReadTimesOut)
{
    int a, b;
    servertest::MakeSocketPair(a, b);
    std::string big(4 * 1024 * 1024, 'x');
    EXPECT_EQ(FrameStatus::TimedOut, platform::WriteControlFrame(a, big, Deadline(50)));
    ::close(a);
    ::close(b);
}

TEST(ControlChannelWireTest, RuntimeFolderFollowsTheEnvironment)
{
    struct Case {
        const char* what;
        const char* own;
        const char* xdg;
        std::string expected;
    };
    const std::string uid = std::to_string(::getuid());
    const Case cases[] = {
        {"own folder wins", "/x/own", "/run/user/7", "/x/own"},
        {"trailing slashes dropped", "/x/own//", nullptr, "/x/own"},
        {"empty own folder ignored", "", "/run/user/7", "/run/user/7/tarnwick"},
        {"user runtime folder", nullptr, "/run/user/7", "/run/user/7/tarnwick"},
        {"neither", nullptr, "", "/tmp/tarnwick-" + uid},
    };
    for (const Case& c : cases) {
        ScopedEnvironment own("TARNWICK_RUNTIME_DIR", c.own);
        ScopedEnvironment xdg("XDG_RUNTIME_DIR", c.xdg);
        EXPECT_EQ(c.expected, platform::GetControlRuntimeFolder()) << c.what;
    }
    EXPECT_EQ(platform::GetControlRuntimeFolder() + "/{X}", platform::GetControlSocketPath("{X}"));
}

TEST(ControlChannelWireTest, ServiceRuntimeFolderFollowsTheEnvironment)
{
    struct Case {
        const char* what;
        const char* given;
        std::string expected;
    };
    const Case cases[] = {
        {"given folder", "/x/system", "/x/system"},
        {"trailing slashes dropped", "/x/system//", "/x/system"},
        {"empty is the system's", "", "/run/tarnwick"},
        {"unset is the system's", nullptr, "/run/tarnwick"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment given("TARNWICK_SERVICE_RUNTIME_DIR", c.given);
        EXPECT_EQ(c.expected, platform::GetServiceControlRuntimeFolder()) << c.what;
    }
    EXPECT_EQ("/x/{X}", platform::GetControlSocketPath("/x", "{X}"));
}

// --- Calls through the channel -----------------------------------------------------------

TEST_F(ControlChannelTest, EveryMethodCarriesItsValue)
{
    state_.startStatus = -1;
    state_.running = 1;
    state_.active = 3;
    state_.errorText = "Tarnwick.xmlのロードに失敗しました";
    state_.setting = std::string("SSetting\0", 9);
    state_.context = "SThreads\\\\0E";
    state_.root = "/srv/日本語/";
    StartHost();
    auto object = Bind();
    ASSERT_TRUE(object);

    short value = 99;
    EXPECT_EQ(platform::kOk, object->StartServer(&value));
    EXPECT_EQ(-1, value);
    EXPECT_EQ(platform::kOk, object->IsRunning(&value));
    EXPECT_EQ(1, value);
    EXPECT_EQ(platform::kOk, object->IsService(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(platform::kOk, object->IsActive(&value));
    EXPECT_EQ(3, value);
    EXPECT_EQ(platform::kOk, object->StopServer());

    std::u16string text = u"stale";
    EXPECT_EQ(platform::kOk, object->GetServerErrorString(&text));
    EXPECT_EQ(u"Tarnwick.xmlのロードに失敗しました", text);
    EXPECT_EQ("Tarnwick.xmlのロードに失敗しました", platform::Utf16ToCp932(text));
    text = u"stale";
    EXPECT_EQ(platform::kOk, object->GetServerInfo(&text));
    EXPECT_EQ(u"", text);
    EXPECT_EQ(platform::kOk, object->GetServerSetting(&text));
    EXPECT_EQ(std::u16string(u"SSetting\0", 9), text);  // the marker text's closing NUL survives
    EXPECT_EQ(platform::kOk, object->GetServerContext(&text));
    EXPECT_EQ(u"SThreads\\\\0E", text);
    EXPECT_EQ(platform::kOk, object->GetServerRoot(&text));
    EXPECT_EQ(u"/srv/日本語/", text);
    EXPECT_EQ(1, state_.startCalls.load());
    EXPECT_EQ(1, state_.stopCalls.load());
}

TEST_F(ControlChannelTest, LargeStatusDocumentCrossesWhole)
{
    std::string context;
    for (int i = 0; context.size() < 6 * 1024 * 1024; ++i)
        context += "LThread_" + std::to_string(i) + "\\0接続中\\0";
    state_.context = context;
    StartHost();
    auto object = Bind();
    ASSERT_TRUE(object);
    std::u16string text;
    ASSERT_EQ(platform::kOk, object->GetServerContext(&text));
    EXPECT_EQ(context, platform::Utf16ToCp932(text));
}

TEST_F(ControlChannelTest, EachConnectionHasItsOwnObjectUntilReleased)
{
    StartHost();
    EXPECT_FALSE(host_.LastObjectReleased());
    auto first = Bind();
    auto second = Bind();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(2, host_.GetObjectCount());
    EXPECT_EQ(2, state_.alive.load());

    first.reset();
    EXPECT_TRUE(WaitUntil([&] { return host_.GetObjectCount() == 1; }));
    EXPECT_FALSE(host_.LastObjectReleased());
    short value;
    EXPECT_EQ(platform::kOk, second->IsRunning(&value));

    second.reset();
    EXPECT_TRUE(WaitUntil([&] { return host_.LastObjectReleased(); }));
    EXPECT_EQ(0, host_.GetObjectCount());
    EXPECT_EQ(0, state_.alive.load());
}

TEST_F(ControlChannelTest, AFailureInsideTheObjectFailsOnlyThatCall)
{
    state_.throwOnInfo = true;
    StartHost();
    auto object = Bind();
    ASSERT_TRUE(object);
    std::u16string text = u"stale";
    EXPECT_EQ(platform::kCallFailed, object->GetServerInfo(&text));
    EXPECT_EQ(u"", text);
    short value;
    EXPECT_EQ(platform::kOk, object->IsRunning(&value));
    EXPECT_EQ(1, host_.GetObjectCount());
}

TEST_F(ControlChannelTest, FactoryWithoutObjectFailsTheCreation)
{
    struct Case {
        const char* what;
        ControlHost::ObjectFactory factory;
    };
    const Case cases[] = {
        {"null object", [] { return std::unique_ptr<IServerControl>(); }},
        {"throwing factory", []() -> std::unique_ptr<IServerControl> { throw std::bad_alloc(); }},
    };
    for (const Case& c : cases) {
        StartHost(c.factory);
        std::unique_ptr<IServerControl> object;
        EXPECT_EQ(platform::kCallFailed, platform::CreateServerControl(&object)) << c.what;
        EXPECT_FALSE(object) << c.what;
        EXPECT_EQ(0, host_.GetObjectCount()) << c.what;
        EXPECT_FALSE(host_.LastObjectReleased()) << c.what;
        StopHost();
    }
}

TEST_F(ControlChannelTest, RevokingEndsTheClients)
{
    StartHost();
    auto object = Bind();
    ASSERT_TRUE(object);
    StopHost();  // revokes on the serving thread
    EXPECT_FALSE(PathExists(SocketPath()));
    EXPECT_EQ(0, state_.alive.load());
    short value = 7;
    EXPECT_EQ(platform::kCallFailed, object->IsRunning(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(-1, host_.ServeOnce(0));
}

// --- Broken clients ----------------------------------------------------------------------

TEST_F(ControlChannelTest, BrokenClientsAreDroppedAndOthersServed)
{
    struct Case {
        const char* what;
        std::string sent;
        bool createFirst;
    };
    const Case cases[] = {
        {"not our protocol", "GET / HTTP/1.0\r\n\r\n", false},
        {"a call before the creation", CallFrame(platform::kDispStopServer), false},
        {"a call announcing too much", "TWC1" + Le32(1u << 30), true},
        {"a second creation", CreateCallFrame(), true},
        {"a call with trailing bytes", Frame(Le32(platform::kDispIsRunning) + "xx"), true},
        {"a hang-up inside a call", CallFrame(platform::kDispIsRunning).substr(0, 6), true},
    };
    StartHost();
    auto good = Bind();
    ASSERT_TRUE(good);
    for (const Case& c : cases) {
        int fd = ConnectUnix(SocketPath());
        ASSERT_GE(fd, 0) << c.what;
        if (c.createFirst) {
            ASSERT_TRUE(SendAll(fd, CreateCallFrame())) << c.what;
            std::string payload;
            ASSERT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000))) << c.what;
            EXPECT_TRUE(WaitUntil([&] { return host_.GetObjectCount() == 2; })) << c.what;
        }
        ASSERT_TRUE(SendAll(fd, c.sent)) << c.what;
        if (c.what == std::string("a hang-up inside a call"))
            ::shutdown(fd, SHUT_WR);
        EXPECT_TRUE(servertest::ReadsEndOfStream(fd)) << c.what;
        ::close(fd);
        EXPECT_TRUE(WaitUntil([&] { return host_.GetObjectCount() == 1; })) << c.what;
        short value;
        EXPECT_EQ(platform::kOk, good->IsRunning(&value)) << c.what;
    }
    EXPECT_FALSE(host_.LastObjectReleased());
}

TEST_F(ControlChannelTest, UnknownMethodFailsButKeepsTheConnection)
{
    StartHost();
    int fd = ConnectUnix(SocketPath());
    ASSERT_GE(fd, 0);
    std::string payload;
    ASSERT_TRUE(SendAll(fd, CreateCallFrame()));
    ASSERT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000)));
    for (int32_t method : {11, -1, 1000}) {
        ASSERT_TRUE(SendAll(fd, CallFrame(method)));
        ASSERT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000)));
        ControlResult result;
        ASSERT_TRUE(platform::DecodeControlResult(payload, &result));
        EXPECT_EQ(method, result.method);
        EXPECT_EQ(platform::kCallFailed, result.result);
        EXPECT_EQ(ControlValueKind::None, result.kind);
    }
    ASSERT_TRUE(SendAll(fd, CallFrame(platform::kDispIsActive)));
    ASSERT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000)));
    ::close(fd);
}

TEST_F(ControlChannelTest, WrongInterfaceIsRefused)
{
    StartHost();
    int fd = ConnectUnix(SocketPath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, Frame(Le32(0) + "{00000000-0000-0000-0000-000000000000}")));
    std::string payload;
    ASSERT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000)));
    ControlResult result;
    ASSERT_TRUE(platform::DecodeControlResult(payload, &result));
    EXPECT_EQ(platform::kCallFailed, result.result);
    EXPECT_TRUE(servertest::ReadsEndOfStream(fd));
    ::close(fd);
    EXPECT_EQ(0, host_.GetObjectCount());
}

TEST_F(ControlChannelTest, ClientLeavingBeforeItsResultDoesNotHurtTheHost)
{
    state_.context.assign(8 * 1024 * 1024, 'x');
    StartHost();
    int fd = ConnectUnix(SocketPath());
    ASSERT_GE(fd, 0);
    std::string payload;
    ASSERT_TRUE(SendAll(fd, CreateCallFrame()));
    ASSERT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000)));
    ASSERT_TRUE(SendAll(fd, CallFrame(platform::kDispGetServerContext)));
    ::close(fd);
    EXPECT_TRUE(WaitUntil([&] { return host_.LastObjectReleased(); }));
    auto object = Bind();
    ASSERT_TRUE(object);
    short value;
    EXPECT_EQ(platform::kOk, object->IsActive(&value));
}

TEST_F(ControlChannelTest, ClientThatHangsUpWithoutReleasingIsStrandedWhileItsProcessRuns)
{
    // A connection of this process that has its object.
    const auto bindRaw = [&] {
        int fd = ConnectUnix(SocketPath());
        std::string payload;
        EXPECT_TRUE(fd >= 0 && SendAll(fd, CreateCallFrame()));
        EXPECT_EQ(FrameStatus::Ok, platform::ReadControlFrame(fd, &payload, 64, Deadline(5000)));
        return fd;
    };
    struct Case {
        const char* what;
        // Binds the client and gives what makes it leave.
        std::function<std::function<void()>()> bind;
        int stranded;
    };
    const Case cases[] = {
        {"released",
         [&] {
             auto object = std::make_shared<std::unique_ptr<IServerControl>>(Bind());
             return [object] { object->reset(); };
         },
         0},
        {"released behind a call that the host answers into the closed socket",
         [&] {
             const int fd = bindRaw();
             return [this, fd] {
                 Pause();
                 EXPECT_TRUE(SendAll(fd, CallFrame(platform::kDispIsRunning) + CallFrame(platform::kControlReleaseMethod)));
                 ::close(fd);
                 Resume();
             };
         },
         0},
        {"hung up, and its process runs on",
         [&] {
             const int fd = bindRaw();
             return [fd] { ::close(fd); };
         },
         1},
        {"hung up, and its process ended",
         [&] {
             auto forked = std::make_shared<ForkedControlClient>(SocketPath());
             EXPECT_TRUE(forked->WaitBound());
             return [forked] {
                 EXPECT_TRUE(forked->HangUp());
                 forked->End();
             };
         },
         0},
    };
    StartHost();
    for (const Case& c : cases) {
        const std::function<void()> leave = c.bind();
        ASSERT_TRUE(WaitUntil([&] { return host_.GetObjectCount() == 1; })) << c.what;
        leave();
        EXPECT_TRUE(WaitUntil([&] { return host_.GetObjectCount() == 0; })) << c.what;
        EXPECT_TRUE(WaitUntil([&] { return host_.GetStrandedClientCount() == c.stranded; })) << c.what;
        EXPECT_TRUE(host_.LastObjectReleased()) << c.what;
        // Bound again, this process is no longer waited for.
        auto object = Bind();
        EXPECT_TRUE(WaitUntil([&] { return host_.GetStrandedClientCount() == 0; })) << c.what;
        object.reset();
        EXPECT_TRUE(WaitUntil([&] { return host_.GetObjectCount() == 0; })) << c.what;
    }
}

TEST_F(ControlChannelTest, BrokenChannelIsDialledAgainButNeverStartsAServer)
{
    // A server that the activation would start: it must not be.
    const std::string started = scratch_.Path() + "started";
    Register(ClassKey() + "\\LocalServer32", "", WriteScript("server.sh", "touch '" + started + "'"));
    StartHost();
    auto object = Bind();
    ASSERT_TRUE(object);
    StopHost();  // the server goes, and the channel with it
    short value = 7;
    EXPECT_EQ(platform::kCallFailed, object->IsRunning(&value));
    EXPECT_EQ(0, value);
    // Nothing serves: every call fails, and soon.
    for (int i = 0; i < 3; ++i) {
        const uint64_t start = platform::GetTickCount64();
        EXPECT_EQ(platform::kCallFailed, object->IsActive(&value));
        EXPECT_LT(platform::GetTickCount64() - start, 1000u);
    }
    EXPECT_FALSE(PathExists(started));

    // A server serves again: a later call binds to it by itself.
    state_.running = 1;
    StartHost();
    EXPECT_TRUE(WaitUntil([&] { return object->IsRunning(&value) == platform::kOk && value == 1; }));
    EXPECT_EQ(1, host_.GetObjectCount());
    EXPECT_FALSE(PathExists(started));
    object.reset();
    EXPECT_TRUE(WaitUntil([&] { return host_.LastObjectReleased(); }));
    EXPECT_EQ(0, host_.GetStrandedClientCount());
}

TEST_F(ControlChannelTest, StalledServerKeepsItsClientAndAnswersItWhenItGoesOn)
{
    // Long enough to tell from an immediate failure, short enough for a quick test.
    constexpr uint64_t kCallBoundMs = 300;
    state_.running = 1;
    StartHost();
    std::unique_ptr<IServerControl> object;
    std::string error;
    ASSERT_EQ(platform::kOk, platform::CreateServerControl(&object, &error, platform::kActivationTimeoutMs, kCallBoundMs))
        << error;
    struct Case {
        const char* what;
        std::function<void()> stall;
    };
    const Case cases[] = {
        {"bound", [] {}},
        // The channel broke and the server stalled before the client dialled again: the
        // object it asks for comes late as well.
        {"dialling again", [&] {
             StopHost();
             short ignored;
             EXPECT_EQ(platform::kCallFailed, object->IsRunning(&ignored));
             StartHost();
             Pause();
         }},
    };
    for (const Case& c : cases) {
        Pause();
        c.stall();
        short value = 5;
        // Dialling again waits out the pause between attempts first.
        EXPECT_TRUE(WaitUntil([&] { return object->IsRunning(&value) == platform::kCallTimedOut; })) << c.what;
        const uint64_t start = platform::GetTickCount64();
        EXPECT_EQ(platform::kCallTimedOut, object->IsActive(&value)) << c.what;
        EXPECT_LT(platform::GetTickCount64() - start, kCallBoundMs) << c.what;
        Resume();
        EXPECT_TRUE(WaitUntil([&] { return object->IsRunning(&value) == platform::kOk; })) << c.what;
        EXPECT_EQ(1, value) << c.what;
        EXPECT_EQ(1, host_.GetObjectCount()) << c.what;
    }
}

// --- Broken servers ----------------------------------------------------------------------

// Answers the calls of one connection at the class socket with scripted bytes; an empty
// answer hangs up. With `holdAfterAnswers` it then takes further calls without answering
// until the client hangs up.
class ScriptedServer {
public:
    ScriptedServer(const std::string& path, std::vector<std::string> answers, bool holdAfterAnswers = false)
        : answers_(std::move(answers)), hold_(holdAfterAnswers)
    {
        listenFd_ = ListenUnix(path);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedServer()
    {
        thread_.join();
        ::close(listenFd_);
    }
    bool Listening() const { return listenFd_ >= 0; }

private:
    void Run()
    {
        if (listenFd_ < 0 || servertest::PollReadable(listenFd_, 5000) != 1)
            return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        for (const std::string& answer : answers_) {
            std::string call;
            if (platform::ReadControlFrame(fd, &call, 64, Deadline(5000)) != FrameStatus::Ok || answer.empty())
                break;
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        char ignored[64];
        while (hold_ && servertest::PollReadable(fd, kHoldLimitMs) == 1 && ::recv(fd, ignored, sizeof ignored, 0) > 0) {
        }
        ::close(fd);
    }

    // A client that neither calls nor leaves for this long has been forgotten by its test.
    static constexpr int kHoldLimitMs = 5000;

    std::vector<std::string> answers_;
    bool hold_;
    int listenFd_ = -1;
    std::thread thread_;
};

TEST_F(ControlChannelTest, GarbageFromTheServerFailsTheCallAndEveryLaterOne)
{
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    const std::string created = ResultFrame(ControlResult());
    ControlResult asText;
    asText.method = platform::kDispIsRunning;
    asText.kind = ControlValueKind::Text;
    ControlResult otherMethod;
    otherMethod.method = platform::kDispIsService;
    otherMethod.kind = ControlValueKind::Short;
    ControlResult failedWithValue = otherMethod;
    failedWithValue.method = platform::kDispIsRunning;
    failedWithValue.result = platform::kCallFailed;
    struct Case {
        const char* what;
        std::vector<std::string> answers;  // to the creation, then to IsRunning
        bool createFails;
    };
    const Case cases[] = {
        {"creation answered in another protocol", {"HTTP/1.0 200 OK\r\n\r\n"}, true},
        {"creation answered by a hang-up", {""}, true},
        {"creation answered for another method", {ResultFrame(otherMethod)}, true},
        {"creation answered with a value", {ResultFrame(failedWithValue)}, true},
        {"hang-up", {created, ""}, false},
        {"wrong value kind", {created, ResultFrame(asText)}, false},
        {"another method's result", {created, ResultFrame(otherMethod)}, false},
        {"a failure with a value", {created, ResultFrame(failedWithValue)}, false},
        {"a result announcing 4 GiB", {created, "TWC1" + Le32(0xFFFFFFFFu)}, false},
        {"not a frame", {created, "OK\r\n"}, false},
    };
    for (const Case& c : cases) {
        ScriptedServer server(SocketPath(), c.answers);
        ASSERT_TRUE(server.Listening()) << c.what;
        std::unique_ptr<IServerControl> object;
        std::string error;
        long rc = platform::CreateServerControl(&object, &error);
        if (c.createFails) {
            EXPECT_EQ(platform::kCallFailed, rc) << c.what;
            EXPECT_FALSE(object) << c.what;
            EXPECT_NE(std::string::npos, error.find(SocketPath())) << c.what << ": " << error;
        } else {
            ASSERT_EQ(platform::kOk, rc) << c.what;
            short value = 5;
            EXPECT_EQ(platform::kCallFailed, object->IsRunning(&value)) << c.what;
            EXPECT_EQ(0, value) << c.what;
            // Fails at once: the server is not asked again.
            std::u16string text = u"stale";
            EXPECT_EQ(platform::kCallFailed, object->GetServerInfo(&text)) << c.what;
            EXPECT_EQ(u"", text) << c.what;
            object.reset();
        }
        ::unlink(SocketPath().c_str());
    }
}

TEST_F(ControlChannelTest, CallToAServerThatNeverAnswersFailsWithinItsBound)
{
    // Long enough to tell from an immediate failure, short enough for a quick test.
    constexpr uint64_t kCallBoundMs = 300;
    // Scheduling on a loaded machine may add this much before the failure is seen.
    constexpr uint64_t kLatenessMs = 2000;
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    ScriptedServer server(SocketPath(), {ResultFrame(ControlResult())}, true);
    ASSERT_TRUE(server.Listening());
    std::unique_ptr<IServerControl> object;
    std::string error;
    ASSERT_EQ(platform::kOk, platform::CreateServerControl(&object, &error, platform::kActivationTimeoutMs, kCallBoundMs))
        << error;
    const uint64_t start = platform::GetTickCount64();
    short value = 5;
    EXPECT_EQ(platform::kCallTimedOut, object->IsRunning(&value));
    const uint64_t took = platform::GetTickCount64() - start;
    EXPECT_EQ(0, value);
    EXPECT_GE(took, kCallBoundMs);
    EXPECT_LT(took, kCallBoundMs + kLatenessMs);
    object.reset();
}

// --- Where a client looks ----------------------------------------------------------------

TEST_F(ControlChannelTest, ClientPrefersAServerInItsOwnFolderToTheService)
{
    {
        ScopedEnvironment asTheService("TARNWICK_RUNTIME_DIR", serviceRuntime_);
        StartHost();
    }
    // Answers the creation and then one IsRunning with 1, where the service says 0.
    ControlResult running;
    running.method = platform::kDispIsRunning;
    running.kind = ControlValueKind::Short;
    running.shortValue = 1;
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    ScriptedServer own(SocketPath(), {ResultFrame(ControlResult()), ResultFrame(running)});
    ASSERT_TRUE(own.Listening());
    auto object = Bind();
    ASSERT_TRUE(object);
    short value = 0;
    EXPECT_EQ(platform::kOk, object->IsRunning(&value));
    EXPECT_EQ(1, value);
    EXPECT_EQ(0, state_.alive.load());
}

// --- Registration ------------------------------------------------------------------------

TEST_F(ControlChannelTest, RuntimeFolderIsCreatedPrivate)
{
    StartHost();
    struct stat st {};
    ASSERT_EQ(0, ::lstat(runtime_.c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    ASSERT_EQ(0, ::lstat(SocketPath().c_str(), &st));
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(SocketPath(), host_.GetSocketPath());
}

TEST_F(ControlChannelTest, UnsafeRuntimeFolderIsRefused)
{
    const std::string target = scratch_.Path() + "elsewhere";
    ASSERT_EQ(0, ::mkdir(target.c_str(), 0700));
    auto folderWithMode = [](mode_t mode) {
        return [mode](const std::string& p) { ::mkdir(p.c_str(), 0700), ::chmod(p.c_str(), mode); };
    };
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        const char* reason;  // "%s" stands for the folder
    };
    const char kOpen[] = "open to other users; make it private with: chmod 700 %s";
    const Case cases[] = {
        {"open to others", folderWithMode(0701), kOpen},
        {"open to the group", folderWithMode(0710), kOpen},
        {"readable by all", folderWithMode(0755), kOpen},
        {"a symbolic link to a private folder", [&](const std::string& p) { ::symlink(target.c_str(), p.c_str()); },
         "not a folder"},
        {"a file", [](const std::string& p) { testsupport::PutFile(p, "x"); }, "not a folder"},
        {"parent missing", [](const std::string&) {}, "cannot create"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string folder = scratch_.Path() + "case" + std::to_string(n++);
        if (c.what == std::string("parent missing"))
            folder += "/missing/run";
        c.make(folder);
        ::setenv("TARNWICK_RUNTIME_DIR", folder.c_str(), 1);
        ControlHost host;
        EXPECT_EQ(-1, host.RegisterClassObjects(FakeFactory())) << c.what;
        std::string reason = c.reason;
        if (const std::string::size_type at = reason.find("%s"); at != std::string::npos)
            reason.replace(at, 2, folder);
        EXPECT_NE(std::string::npos, host.GetErrorText().find(reason)) << c.what << ": " << host.GetErrorText();
        EXPECT_NE(std::string::npos, host.GetErrorText().find(folder)) << c.what;
        EXPECT_FALSE(host.IsRegistered()) << c.what;
        EXPECT_FALSE(PathExists(folder + "/" + platform::kServerControlClsid)) << c.what;
    }
}

TEST_F(ControlChannelTest, RuntimeFolderOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder away";
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    ASSERT_EQ(0, ::chown(runtime_.c_str(), 65534, 65534));
    ControlHost host;
    EXPECT_EQ(-1, host.RegisterClassObjects(FakeFactory()));
    EXPECT_NE(std::string::npos, host.GetErrorText().find("another user")) << host.GetErrorText();
}

TEST_F(ControlChannelTest, PeersOfAnotherUserAreNotTrusted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can act as another user";
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    // So that the other user reaches it.
    ASSERT_EQ(0, ::chmod(scratch_.Path().c_str(), 0711));
    ASSERT_EQ(0, ::chmod(runtime_.c_str(), 0777));
    const std::string serverPath = SocketPath();
    const std::string probePath = runtime_ + "/probe";
    int probe = ListenUnix(probePath);
    ASSERT_GE(probe, 0);
    ::chmod(probePath.c_str(), 0777);
    int ready[2];
    ASSERT_EQ(0, ::pipe2(ready, O_CLOEXEC));
    pid_t child = ::fork();
    if (child == 0) {
        // As the other user: serve the class socket, then call on ours.
        ::alarm(10);
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(1);
        int listener = ListenUnix(serverPath);
        char byte = listener >= 0 ? 1 : 0;
        if (::write(ready[1], &byte, 1) != 1 || ConnectUnix(probePath) < 0)
            ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(1, servertest::PollReadable(ready[0], 5000));
    ASSERT_EQ(1, ::read(ready[0], &byte, 1));
    ASSERT_EQ(1, byte);

    std::unique_ptr<IServerControl> object;
    std::string error;
    EXPECT_EQ(platform::kCallFailed, platform::CreateServerControl(&object, &error));
    EXPECT_NE(std::string::npos, error.find("another user")) << error;

    ASSERT_EQ(1, servertest::PollReadable(probe, 5000));
    int caller = ::accept4(probe, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(caller, 0);
    EXPECT_FALSE(platform::IsTrustedControlPeer(caller));
    ::close(caller);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(probe);
}

TEST_F(ControlChannelTest, StaleSocketFileIsReplaced)
{
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    int stale = ListenUnix(SocketPath());
    ASSERT_GE(stale, 0);
    ::close(stale);  // the file stays behind, as after a crash
    ASSERT_TRUE(PathExists(SocketPath()));
    StartHost();
    auto object = Bind();
    ASSERT_TRUE(object);
    short value;
    EXPECT_EQ(platform::kOk, object->IsRunning(&value));
}

TEST_F(ControlChannelTest, SecondHostIsRefusedUntilTheFirstRevokes)
{
    StartHost();
    ControlHost second;
    EXPECT_EQ(-1, second.RegisterClassObjects(FakeFactory()));
    EXPECT_NE(std::string::npos, second.GetErrorText().find("another process")) << second.GetErrorText();
    auto object = Bind();
    ASSERT_TRUE(object);
    EXPECT_EQ(1, host_.GetObjectCount());

    StopHost();
    EXPECT_EQ(0, second.RegisterClassObjects(FakeFactory())) << second.GetErrorText();
    EXPECT_EQ(-1, second.RegisterClassObjects(FakeFactory()));  // the same host again
    EXPECT_TRUE(second.IsRegistered());
    EXPECT_EQ(0, second.ServeOnce(0));
}

TEST_F(ControlChannelTest, LiveSocketOfAnotherProgramIsNotTaken)
{
    ASSERT_EQ(0, ::mkdir(runtime_.c_str(), 0700));
    int live = ListenUnix(SocketPath());
    ASSERT_GE(live, 0);
    ControlHost host;
    EXPECT_EQ(-1, host.RegisterClassObjects(FakeFactory()));
    EXPECT_NE(std::string::npos, host.GetErrorText().find("another process")) << host.GetErrorText();
    EXPECT_TRUE(PathExists(SocketPath()));
    int client = ConnectUnix(SocketPath());
    EXPECT_GE(client, 0);  // still the other program's socket
    ::close(client);
    ::close(live);
}

// --- Activation --------------------------------------------------------------------------

TEST_F(ControlChannelTest, UnregisteredClassIsReported)
{
    struct Case {
        const char* what;
        std::function<void()> registerIt;
    };
    const Case cases[] = {
        {"empty store", [] {}},
        {"class key without a server", [&] { Register(ClassKey(), "", "ServerControl Class"); }},
        {"empty server", [&] { Register(ClassKey() + "\\LocalServer32", "", ""); }},
    };
    for (const Case& c : cases) {
        c.registerIt();
        std::unique_ptr<IServerControl> object;
        std::string error;
        EXPECT_EQ(platform::kClassNotRegistered, platform::CreateServerControl(&object, &error)) << c.what;
        EXPECT_FALSE(object) << c.what;
        EXPECT_NE(std::string::npos, error.find(platform::kServerControlClsid)) << c.what << ": " << error;
    }
}

TEST_F(ControlChannelTest, ProgramThatDoesNotServeIsReported)
{
    struct Case {
        const char* what;
        std::string program;
        uint64_t timeoutMs;
        std::string reason;
    };
    const Case cases[] = {
        {"ends at once", WriteScript("fails.sh", "exit 3"), platform::kActivationTimeoutMs, "exit code 3"},
        // Started without a terminal, it can only tell the client: what it said ends the
        // reason, its lines kept.
        {"says why and ends", WriteScript("says.sh", "echo 'no root at /x' >&2; echo 'nor at /y' >&2; exit 1"),
         platform::kActivationTimeoutMs, "(exit code 1) before it served " + SocketPath()},
        {"killed", WriteScript("killed.sh", "kill -9 $$"), platform::kActivationTimeoutMs, "signal 9"},
        {"missing", scratch_.Path() + "no-such-server", platform::kActivationTimeoutMs, "cannot start"},
        // Ends on its own soon after the activation gave up on it.
        {"never serves", WriteScript("silent.sh", "sleep 2"), 200, "in time"},
    };
    for (const Case& c : cases) {
        Register(ClassKey() + "\\LocalServer32", "", c.program);
        std::unique_ptr<IServerControl> object;
        std::string error;
        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::kServerNotStarted, platform::CreateServerControl(&object, &error, c.timeoutMs)) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10)) << c.what;
        EXPECT_FALSE(object) << c.what;
        EXPECT_NE(std::string::npos, error.find(c.program)) << c.what << ": " << error;
        EXPECT_NE(std::string::npos, error.find(c.reason)) << c.what << ": " << error;
        const std::string said = ":\nno root at /x\nnor at /y";
        const bool endsWithSaid = error.size() >= said.size() && error.compare(error.size() - said.size(), said.size(), said) == 0;
        EXPECT_EQ(endsWithSaid, c.program == cases[1].program) << c.what << ": " << error;
    }
}

TEST_F(ControlChannelTest, ServiceNeedsSystemd)
{
    struct stat st {};
    if (::stat("/run/systemd/system", &st) == 0)
        GTEST_SKIP() << "systemd runs here; the test must not start a service";
    Register(ClassKey(), "AppID", platform::kServerControlAppId);
    Register(ClassKey() + "\\LocalServer32", "", "/bin/false");
    Register(std::string("AppID\\") + platform::kServerControlAppId, "LocalService", "Tarnwick");
    std::unique_ptr<IServerControl> object;
    std::string error;
    EXPECT_EQ(platform::kServerNotStarted, platform::CreateServerControl(&object, &error));
    EXPECT_NE(std::string::npos, error.find("the service Tarnwick")) << error;
    EXPECT_NE(std::string::npos, error.find("systemd")) << error;
}

// When the activation test registers this binary as the server, the started copy serves a
// fake object that reports how it was started, and ends when its last client has gone,
// before any test runs.
constexpr const char* kHostModeVariable = "TARNWICK_CONTROL_TEST_HOST";
// A copy whose client never comes must not outlive the test run.
constexpr uint64_t kActivatedHostLifeMs = 60000;

class StartReport : public FakeServerControl {
public:
    using FakeServerControl::FakeServerControl;
    // The arguments it was given.
    long GetServerRoot(std::u16string* retpath) override
    {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t first = all.find('\0');
        std::string args = first == std::string::npos ? "" : all.substr(first + 1);
        if (!args.empty() && args.back() == '\0')
            args.pop_back();
        for (char& c : args)
            if (c == '\0')
                c = ' ';
        *retpath = platform::Cp932ToUtf16(args);
        return platform::kOk;
    }
    // Where its standard input leads.
    long GetServerErrorString(std::u16string* str) override
    {
        char target[256] = {};
        ssize_t n = ::readlink("/proc/self/fd/0", target, sizeof(target) - 1);
        *str = platform::Cp932ToUtf16(n > 0 ? std::string(target, n) : "");
        return platform::kOk;
    }
    // 1 when it leads a session of its own.
    long IsService(short* ret) override
    {
        *ret = ::getsid(0) == ::getpid() ? 1 : 0;
        return platform::kOk;
    }
};

int RunAsActivatedHostWhenAsked()
{
    const char* mode = std::getenv(kHostModeVariable);
    if (!mode || !*mode)
        return 0;
    static FakeState state;
    ControlHost host;
    if (host.RegisterClassObjects([] { return std::make_unique<StartReport>(&state); }) != 0)
        ::_exit(2);
    const uint64_t end = Deadline(static_cast<int>(kActivatedHostLifeMs));
    while (!host.LastObjectReleased() && platform::GetTickCount64() < end)
        host.ServeOnce(50);
    host.RevokeClassObjects();
    ::_exit(0);
}

[[maybe_unused]] const int activatedHost = RunAsActivatedHostWhenAsked();

TEST_F(ControlChannelTest, RegisteredProgramIsStartedAndEndsWithItsLastClient)
{
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    ASSERT_EQ(0, ::mkdir((scratch_.Path() + "with blank").c_str(), 0700));
    const std::string script =
        WriteScript("with blank/server.sh", std::string(kHostModeVariable) + "=1 exec '" + self + "' \"$@\"");
    // Quoted, as a command line may be.
    Register(ClassKey() + "\\LocalServer32", "", "\"" + script + "\"");

    std::unique_ptr<IServerControl> object;
    std::string error;
    ASSERT_EQ(platform::kOk, platform::CreateServerControl(&object, &error)) << error;
    std::u16string text;
    EXPECT_EQ(platform::kOk, object->GetServerRoot(&text));
    EXPECT_EQ(u"-Embedding", text);
    EXPECT_EQ(platform::kOk, object->GetServerErrorString(&text));
    EXPECT_EQ(u"/dev/null", text);
    short value = 0;
    EXPECT_EQ(platform::kOk, object->IsService(&value));
    EXPECT_EQ(1, value);

    // A second client binds to the running copy rather than starting another.
    std::unique_ptr<IServerControl> second;
    ASSERT_EQ(platform::kOk, platform::CreateServerControl(&second, &error)) << error;
    object.reset();
    EXPECT_EQ(platform::kOk, second->IsActive(&value));
    second.reset();
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(SocketPath()); }, std::chrono::seconds(10)));
}

}  // namespace
