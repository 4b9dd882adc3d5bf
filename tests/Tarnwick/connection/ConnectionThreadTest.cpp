#include "connection/ConnectionThread.h"

#include "connection/RequestDriver.h"

#include "Base64Encoding.h"
#include "CoreFixture.h"
#include "core/BandWidth.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/Response.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "net/TcpSocket.h"

#include "ByteBuffer.h"
#include "IPv4Address.h"
#include "SettingsSchema.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::Base64Encode;
using std::chrono::milliseconds;

const char kEntry[] = "Setting::Path::Main::";
const char kDone[] = "正常に終了しました";
const char kMalformedHeader[] = "異常なヘッダーを受信しました";
const char kUnservedUrl[] = "あなたのアクセスしたURLは、このサーバの管理下ではありません";
const char kUnsupported[] = "サポートしていません";

// An answer that has not arrived by then is not coming.
constexpr milliseconds kAnswerLimit{5000};
// How long a client waits before it sends its first request, in the tests that show the
// worker waits for it.
constexpr milliseconds kLateRequestDelay{200};

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One answer as the client read it.
struct Answer {
    bool complete = false;  // the header block and the whole announced body arrived
    std::size_t headerBytes = 0;  // the status line and header lines with their empty line
    std::string statusLine;
    std::vector<std::pair<std::string, std::string>> headers;  // as sent
    std::string body;

    int Code() const { return statusLine.size() >= 12 ? std::atoi(statusLine.c_str() + 9) : 0; }
    bool Has(const std::string& name) const
    {
        return std::any_of(headers.begin(), headers.end(),
                           [&](const auto& field) { return Lower(field.first) == Lower(name); });
    }
    std::string Header(const std::string& name) const
    {
        for (const auto& field : headers) {
            if (Lower(field.first) == Lower(name))
                return field.second;
        }
        return "";
    }
};

// The test's end of a connection: plain send and recv, every wait bounded.
class Client {
public:
    explicit Client(int fd) : fd_(fd) {}
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Send(const std::string& bytes)
    {
        const char* p = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::send(fd_, p, left, MSG_NOSIGNAL);
            ASSERT_GT(n, 0) << "the server end stopped taking bytes";
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }

    // One answer: its header block and, unless `head`, the body its Content-Length
    // announces (none without one).
    Answer ReadAnswer(bool head = false)
    {
        Answer answer;
        const Clock::time_point deadline = Clock::now() + kAnswerLimit;
        std::string::size_type end;
        while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
            if (!Fill(deadline))
                return answer;
        }
        answer.headerBytes = end + 4;
        std::string block = buffer_.substr(0, end + 2);
        buffer_.erase(0, end + 4);
        std::string::size_type lineEnd = block.find("\r\n");
        answer.statusLine = block.substr(0, lineEnd);
        for (std::string::size_type at = lineEnd + 2; at < block.size(); at = lineEnd + 2) {
            lineEnd = block.find("\r\n", at);
            const std::string line = block.substr(at, lineEnd - at);
            const std::string::size_type colon = line.find(": ");
            answer.headers.emplace_back(line.substr(0, colon),
                                        colon == std::string::npos ? "" : line.substr(colon + 2));
        }
        const std::size_t length =
            head || !answer.Has("Content-Length") ? 0 : std::stoul(answer.Header("Content-Length"));
        while (buffer_.size() < length) {
            if (!Fill(deadline))
                return answer;
        }
        answer.body = buffer_.substr(0, length);
        buffer_.erase(0, length);
        answer.complete = true;
        return answer;
    }

    // Everything that arrives until the server closes; `closed` says whether it did within
    // `limit`.
    std::string ReadToEnd(bool& closed, milliseconds limit = kAnswerLimit)
    {
        const Clock::time_point deadline = Clock::now() + limit;
        while (Fill(deadline)) {
        }
        closed = ended_;
        std::string all;
        all.swap(buffer_);
        return all;
    }

    // True when the server closes within `limit` without sending anything more.
    bool ClosesSilently(milliseconds limit = kAnswerLimit)
    {
        bool closed = false;
        const std::string rest = ReadToEnd(closed, limit);
        EXPECT_EQ(rest, "");
        return closed && rest.empty();
    }

private:
    // Receives what arrives next into the buffer: false at the end of the stream, on a
    // failure, or at the deadline.
    bool Fill(Clock::time_point deadline)
    {
        if (ended_)
            return false;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !servertest::PollReadable(fd_, static_cast<int>(left)))
            return false;
        char chunk[16384];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0) {
            ended_ = n == 0 || errno == ECONNRESET;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    std::string buffer_;
    bool ended_ = false;
};

// Both ends of one loopback TCP connection (client first), or -1s.
std::pair<int, int> MakeLoopbackPair()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int client = -1;
    int server = -1;
    if (listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listener, 1) == 0 && ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        client = servertest::ConnectLoopback(ntohs(address.sin_port));
        if (client >= 0)
            server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (listener >= 0)
        ::close(listener);
    return {client, server};
}

std::string Request(const std::string& method, const std::string& target, const std::string& extraLines = "")
{
    return method + " " + target + " HTTP/1.1\r\nHost: example.test\r\n" + extraLines + "\r\n";
}

// A socket that claims to be secure: the worker's handshake fails at once and its thread
// ends without touching the socket again.
class PlainSocketPosingAsSecure : public CTcpSocket {
public:
    int IsSecure() const override { return 1; }
};

// A body source that announces one length and yields another, or fails after its first
// chunk, as a file that changes or breaks while it is sent would.
class ScriptedResponse : public CResponse {
public:
    ScriptedResponse(CServerCore* core, CRequestRecord& record, int64_t announced, int64_t yielded,
                     bool failAfterFirstChunk = false)
        : CResponse(core, record), announced_(announced), yielded_(yielded), fail_(failAfterFirstChunk)
    {
    }
    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    void Build() override { SetResponseCode(200); }
    int64_t GetContentLength() override { return announced_; }
    int GetSendData(CByteBuffer& buffer) override
    {
        if (fail_ && given_ > 0)
            throw CServerFatalException{"読み込みに失敗しました"};
        const int64_t left = yielded_ - given_;
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(left, buffer.GetLength()));
        if (n <= 0)
            return 0;
        buffer.SetLength(n);
        std::memset(buffer.GetData(), 'x', static_cast<std::size_t>(n));
        given_ += n;
        return n;
    }

private:
    int64_t announced_;
    int64_t yielded_;
    bool fail_;
    int64_t given_ = 0;
};

class ConnectionThreadTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue(std::string(kEntry) + "ServerPath", "/");
        settings.SetValue(std::string(kEntry) + "LocalPath", www.Path());
        // Status pages show their reason, so that a test can tell them apart.
        settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html.Path());
        testsupport::PutFile(html.Path() + "Response_default.html", "<p>%Info%</p>");
        testsupport::PutFile(www.Path() + "hello.txt", "hello");
    }

    void TearDown() override
    {
        workers_.clear();  // before the core they use
        CoreFixture::TearDown();
    }

    // Before StartCore the file's tree, after it the running core's.
    CConfigClass& Tree() { return core ? core->GetSettingTree() : settings; }
    void Set(const std::string& key, const std::string& value) { Tree().SetValue("Setting::" + key, value); }
    void Option(const std::string& key, const std::string& value)
    {
        Tree().SetValue(std::string(kEntry) + "Options::" + key, value);
    }
    // A core reads its per-request settings once, when it starts.
    void RestartCoreWith(const std::string& key, const std::string& value)
    {
        workers_.clear();
        core.reset();
        Set(key, value);
        StartCore();
    }
    void KeepAlive(int seconds)
    {
        Set("Basic::EnableKeepAlive", "1");
        Set("Basic::KeepAliveTime", std::to_string(seconds));
    }

    // A new connection served by a new worker; the client's end.
    template <class Socket = CTcpSocket>
    std::unique_ptr<Client> Connect()
    {
        const std::pair<int, int> ends = MakeLoopbackPair();
        EXPECT_GE(ends.first, 0);
        EXPECT_GE(ends.second, 0);
        auto socket = std::make_unique<Socket>();
        socket->Attach(ends.second);
        workers_.push_back(std::make_unique<CConnectionThread>(core.get(), std::move(socket)));
        return std::make_unique<Client>(ends.first);
    }
    CConnectionThread& LastWorker() { return *workers_.back(); }

    static std::string Name(int number)
    {
        char name[32];
        std::snprintf(name, sizeof name, "Thread_%04x", number);
        return name;
    }
    static std::vector<std::string> Sections(const CConfigAccessor& view)
    {
        std::vector<std::string> names;
        view.GetSections(names);
        return names;
    }
    static bool Holds(const CConfigAccessor& view, const std::string& name)
    {
        const std::vector<std::string> names = Sections(view);
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    // The finished request's node, in a copy of the context taken once the worker has
    // handed it to ThreadLogs; the copy stays with the test.
    CConfigAccessor Logged(const std::string& name)
    {
        std::unique_ptr<CConfigClass> context;
        EXPECT_TRUE(servertest::WaitUntil([&] {
            context = servertest::CopyContext(core->GetContext());
            return Holds(context->GetAccessor("ThreadLogs"), name);
        })) << name << " never finished";
        contexts_.push_back(std::move(context));
        return contexts_.back()->GetAccessor("ThreadLogs").GetSubAccessor(name);
    }
    std::vector<std::unique_ptr<CConfigClass>> contexts_;

    // The last line of today's request log that ends with `ending`, after writing the
    // queue out.
    std::string RequestLogLine(const std::string& ending)
    {
        EXPECT_EQ(core->GetLog().Flush(), 0) << core->GetLog().GetLastFlushError();
        char day[16];
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        std::strftime(day, sizeof day, "%Y%m%d", &local);
        const std::string text = testsupport::GetFile(servertest::ServerRoot() + "Logs/" + day + ".txt");
        std::string found;
        std::string::size_type at = 0;
        for (std::string::size_type end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            const std::string line = text.substr(at, end - at);
            if (line.size() >= ending.size() && line.compare(line.size() - ending.size(), ending.size(), ending) == 0)
                found = line;
        }
        return found;
    }

    servertest::TempFolder www;
    servertest::TempFolder html;
    std::vector<std::unique_ptr<CConnectionThread>> workers_;
};

// --- one request ----------------------------------------------------------------------------

TEST_F(ConnectionThreadTest, ServesAFileAndRecordsTheRequestInTheContextTree)
{
    StartCore();
    auto client = Connect();
    const std::string request = "GET /hello.txt HTTP/1.1\r\nhost: example.test\r\nUser-Agent: test\r\n\r\n";
    client->Send(request);
    const Answer answer = client->ReadAnswer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.Header("Content-Length"), "5");
    EXPECT_EQ(answer.body, "hello");
    bool closed = false;
    const std::string rest = client->ReadToEnd(closed);
    EXPECT_TRUE(closed) << "keep-alive is off by default";
    EXPECT_EQ(rest, "");

    const CConfigAccessor node = Logged(Name(0));
    std::vector<std::string> keys;
    node.GetKeys(keys);
    const std::vector<std::string> order = {"ThreadName", "Info", "Protocol", "Host", "TargetHost",
                                            "RecvSize", "SendSize", "Size"};
    EXPECT_EQ(keys, order);
    EXPECT_EQ(node.GetString("ThreadName", ""), Name(0));
    EXPECT_EQ(node.GetString("Info", ""), kDone);
    EXPECT_EQ(node.GetString("Protocol", ""), "http");
    EXPECT_EQ(node.GetString("Host", ""), "127.0.0.1");
    EXPECT_EQ(node.GetString("TargetHost", ""), "example.test") << "the Host header in any case";
    const std::size_t sent = answer.headerBytes + answer.body.size();
    EXPECT_EQ(node.GetString("RecvSize", ""), std::to_string(request.size()));
    EXPECT_EQ(node.GetString("SendSize", ""), std::to_string(sent));
    EXPECT_EQ(node.GetString("Size", ""), std::to_string(request.size() + sent));

    const std::vector<std::string> nodes = {"StartTime", "RequestInfo", "ResponseInfo", "EndTime"};
    EXPECT_EQ(Sections(node), nodes);
    for (const char* time : {"StartTime", "EndTime"}) {
        std::vector<std::string> leaves;
        node.GetSubAccessor(time).GetKeys(leaves);
        EXPECT_EQ(leaves, (std::vector<std::string>{"Date", "Time", "GMT"})) << time;
        EXPECT_EQ(node.GetString(std::string(time) + "::GMT", "").substr(26), "GMT") << time;
    }
    EXPECT_EQ(node.GetString("RequestInfo::Method", ""), "GET");
    EXPECT_EQ(node.GetString("RequestInfo::Options::User-Agent", ""), "test");
    EXPECT_EQ(node.GetString("ResponseInfo::ResponseCode", ""), "200");
    EXPECT_EQ(node.GetString("ResponseInfo::Options::Content-Length", ""), "5");
    EXPECT_EQ(servertest::LiveRequests(core->GetContext()), std::vector<std::string>{}) << "moved, not copied";
}

TEST_F(ConnectionThreadTest, RequestLogLineHasTheDefaultFormat)
{
    testsupport::PutFile(www.Path() + "logged-default.txt", "logged");
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/logged-default.txt"));
    ASSERT_TRUE(client->ReadAnswer().complete);
    const CConfigAccessor node = Logged(Name(0));
    const std::string line = RequestLogLine("/logged-default.txt");
    const std::string expected = "<127.0.0.1> (" + node.GetString("RecvSize", "") + "," +
                                 node.GetString("SendSize", "") + ") [" + kDone + "] GET /logged-default.txt";
    ASSERT_EQ(line.size(), 11 + expected.size()) << line;
    EXPECT_EQ(line.substr(11), expected);
    // "[hh:mm:ss] "
    EXPECT_EQ(line[0], '[');
    EXPECT_EQ(line.substr(9, 2), "] ");
    for (int i : {1, 2, 4, 5, 7, 8})
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[i]))) << line;
    EXPECT_EQ(line[3], ':');
    EXPECT_EQ(line[6], ':');
}

TEST_F(ConnectionThreadTest, RequestLogNeverShowsThePassword)
{
    Set("Log::LogFormatNoTime", "%User%|%Passwd%|%Authorization%|%Info%|%Object%");
    testsupport::PutFile(www.Path() + "logged-password.txt", "logged");
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/logged-password.txt",
                         "Authorization: Basic " + Base64Encode("alice:pw-Sesame") + "\r\n"));
    ASSERT_TRUE(client->ReadAnswer().complete);
    Logged(Name(0));
    const std::string line = RequestLogLine("/logged-password.txt");
    EXPECT_EQ(line, "alice|||" + std::string(kDone) + "|/logged-password.txt");
    EXPECT_EQ(line.find("pw-Sesame"), std::string::npos);
    EXPECT_EQ(line.find(Base64Encode("alice:pw-Sesame")), std::string::npos);
}

TEST_F(ConnectionThreadTest, RequestLogFormatIsFilteredAgainForEachLine)
{
    // %Mark% is a ServerInfo name, which the settings filter fills at each read.
    Set("Log::LogFormatNoTime", "%Mark%|%Object%");
    KeepAlive(20);
    testsupport::PutFile(www.Path() + "logged-one.txt", "one");
    testsupport::PutFile(www.Path() + "logged-two.txt", "two");
    StartCore();
    auto client = Connect();
    const struct {
        const char* mark;
        const char* object;
    } requests[] = {{"first", "/logged-one.txt"}, {"second", "/logged-two.txt"}};
    int number = 0;
    for (const auto& r : requests) {
        core->GetInfoAccessor().SetString("Mark", r.mark);
        client->Send(Request("GET", r.object, "Connection: keep-alive\r\n"));
        ASSERT_TRUE(client->ReadAnswer().complete);
        Logged(Name(number++));
        EXPECT_EQ(RequestLogLine(r.object), std::string(r.mark) + "|" + r.object);
    }
}

// An ended connection's storage serves a later connection, of this core or of another:
// each line keeps to its own core's format.
TEST_F(ConnectionThreadTest, ALaterConnectionLogsInItsOwnCoresFormat)
{
    Set("Log::LogFormatNoTime", "first|%Object%");
    testsupport::PutFile(www.Path() + "logged-again.txt", "again");
    StartCore();
    for (const char* format : {"first", "second"}) {
        if (std::string(format) == "second")
            RestartCoreWith("Log::LogFormatNoTime", "second|%Object%");
        auto client = Connect();
        client->Send(Request("GET", "/logged-again.txt"));
        ASSERT_TRUE(client->ReadAnswer().complete);
        Logged(Name(0));
        EXPECT_EQ(RequestLogLine("/logged-again.txt"), std::string(format) + "|/logged-again.txt");
        EXPECT_EQ(servertest::LiveRequests(core->GetContext()), std::vector<std::string>{});
    }
}

TEST_F(ConnectionThreadTest, DirectoryWithoutSlashIsRedirected)
{
    fs::create_directories(www.Path() + "sub");
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/sub"));
    const Answer answer = client->ReadAnswer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(answer.Header("Location"), "/sub/");
    EXPECT_EQ(answer.body, "<p>/sub/ に移動してください</p>");
    EXPECT_EQ(Logged(Name(0)).GetString("Info", ""), "/sub/ に移動してください");
}

TEST_F(ConnectionThreadTest, RequestsThatFailBeforeTheChecksCloseWithoutAnswer)
{
    struct Case {
        const char* description;
        const char* serverPath;
        std::string request;
        const char* info;
        const char* logged;  // what the log line says after the message
        bool parsed;         // the request line was accepted
    };
    const Case cases[] = {
        {"URL that no entry serves", "/site/", Request("GET", "/hello.txt"), kUnservedUrl, "GET /hello.txt", true},
    };
    StartCore();
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Tree().SetValue(std::string(kEntry) + "ServerPath", c.serverPath);
        auto client = Connect();
        client->Send(c.request);
        EXPECT_TRUE(client->ClosesSilently());
        const std::string name = Name(number++);
        const CConfigAccessor node = Logged(name);
        EXPECT_EQ(node.GetString("Info", ""), c.info);
        EXPECT_EQ(Holds(node, "RequestInfo"), c.parsed);
        EXPECT_FALSE(Holds(node, "ResponseInfo")) << "no answer was begun";
        const std::string line = RequestLogLine(std::string("[") + c.info + "] " + c.logged);
        EXPECT_NE(line, "") << "the message is logged";
    }
}

TEST_F(ConnectionThreadTest, HeaderRefusedForItsFormIsAnsweredThenTheConnectionCloses)
{
    const struct {
        const char* description;
        std::string request;
        int code;
        const char* info;
    } cases[] = {
        {"request line without version", "GET /hello.txt\r\nHost: example.test\r\n\r\n", 400, kMalformedHeader},
        {"version token without '/'", "GET /hello.txt HTTP1.1\r\n\r\n", 400, kMalformedHeader},
        {"HTTP/1.1 without Host, keep-alive asked", "GET /hello.txt HTTP/1.1\r\nConnection: keep-alive\r\n\r\n", 400,
         "Host ヘッダーが異常です"},
        {"another major version", "GET /hello.txt HTTP/2.0\r\nHost: example.test\r\n\r\n", 505,
         "この HTTP のバージョンには対応していません"},
    };
    Set("Basic::EnableKeepAlive", "1");
    StartCore();
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        auto client = Connect();
        client->Send(c.request);
        const Answer answer = client->ReadAnswer();
        ASSERT_TRUE(answer.complete);
        EXPECT_EQ(answer.Code(), c.code);
        EXPECT_EQ(answer.Header("Connection"), "Close");
        EXPECT_FALSE(answer.Has("Keep-Alive"));
        EXPECT_TRUE(client->ClosesSilently());
        const CConfigAccessor node = Logged(Name(number++));
        EXPECT_EQ(node.GetString("Info", ""), c.info);
        EXPECT_EQ(node.GetInt("ResponseInfo::ResponseCode", 0), c.code);
    }
}

TEST_F(ConnectionThreadTest, MethodsOutsideGetAndHeadAreRefusedByTheFileResponse)
{
    const struct {
        const char* description;
        const char* method;
        int code;
    } cases[] = {
        {"lower-case get is another method", "get", 405},
        {"POST", "POST", 405},
        {"PROPPATCH without WebDAV falls through", "PROPPATCH", 405},
        {"GET", "GET", 200},
    };
    StartCore();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        auto client = Connect();
        client->Send(Request(c.method, "/hello.txt"));
        const Answer answer = client->ReadAnswer();
        ASSERT_TRUE(answer.complete);
        EXPECT_EQ(answer.Code(), c.code);
    }
}

TEST_F(ConnectionThreadTest, HeadSendsTheHeadersWithoutTheBody)
{
    KeepAlive(20);
    StartCore();
    auto client = Connect();
    client->Send(Request("HEAD", "/hello.txt", "Connection: keep-alive\r\n"));
    const Answer head = client->ReadAnswer(true);
    ASSERT_TRUE(head.complete);
    EXPECT_EQ(head.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(head.Header("Content-Length"), "5");
    // The next answer starts right after the header block: no body came in between.
    client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\n"));
    const Answer get = client->ReadAnswer();
    ASSERT_TRUE(get.complete);
    EXPECT_EQ(get.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(get.body, "hello");
}

TEST_F(ConnectionThreadTest, NotModifiedAnswerCarriesNoContentLength)
{
    KeepAlive(20);
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\n"));
    const Answer first = client->ReadAnswer();
    ASSERT_TRUE(first.complete);
    ASSERT_NE(first.Header("ETag"), "");

    client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\nIf-None-Match: " + first.Header("ETag") + "\r\n"));
    const Answer notModified = client->ReadAnswer();
    ASSERT_TRUE(notModified.complete);
    EXPECT_EQ(notModified.statusLine, "HTTP/1.1 304 Not Modified");
    EXPECT_FALSE(notModified.Has("Content-Length"));

    client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\n"));
    const Answer again = client->ReadAnswer();
    ASSERT_TRUE(again.complete);
    EXPECT_EQ(again.statusLine, "HTTP/1.1 200 OK") << "the 304 had no body";
}

// --- access checks --------------------------------------------------------------------------

TEST_F(ConnectionThreadTest, HostOverItsConnectionLimitGets503)
{
    Set("Basic::MaxOneHostConnect", "1");
    StartCore();
    {
        auto client = Connect();
        client->Send(Request("GET", "/hello.txt"));
        EXPECT_EQ(client->ReadAnswer().Code(), 200) << "the request itself is within the limit";
    }
    const CBandWidthLimiter other(&core->GetBandWidthManager(), CIPv4Address("127.0.0.1"), "other");
    auto client = Connect();
    client->Send(Request("GET", "/hello.txt"));
    const Answer answer = client->ReadAnswer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(answer.body, "<p>１ホストの最大接続数を超えました</p>");
}

TEST_F(ConnectionThreadTest, RefusedHostGets403)
{
    Option("EnableHostKick", "1");
    Set("Path::Main::Kick::Denied::127.0.0.*", "127.0.0.*");
    Set("Path::Main::Kick::Accept::*", "*");
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/hello.txt"));
    const Answer answer = client->ReadAnswer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(answer.body, "<p>ホスト 127.0.0.1 からのアクセスは、許可されていません</p>");
}

TEST_F(ConnectionThreadTest, BasicAuthenticationLetsOnlyTheAccountThrough)
{
    Option("EnableAuthenticate", "1");
    Set("Path::Main::Info", "members");
    Set("Path::Main::Users::alice", "alice");
    Set("User::Enable::User_0::User", "alice");
    Set("User::Enable::User_0::Passwd", "s3cret");
    const struct {
        const char* description;
        const char* credentials;  // nullptr: no Authorization header
        int code;
    } cases[] = {
        {"no credentials", nullptr, 401},
        {"wrong password", "alice:wrong", 401},
        {"unknown user", "bob:s3cret", 401},
        {"the account", "alice:s3cret", 200},
    };
    StartCore();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        auto client = Connect();
        client->Send(Request("GET", "/hello.txt",
                             c.credentials ? "Authorization: Basic " + Base64Encode(c.credentials) + "\r\n" : ""));
        const Answer answer = client->ReadAnswer();
        ASSERT_TRUE(answer.complete);
        EXPECT_EQ(answer.Code(), c.code);
        if (c.code == 401)
            EXPECT_EQ(answer.Header("WWW-Authenticate"), "Basic realm=\"members\"");
        else
            EXPECT_EQ(answer.body, "hello");
    }
}

TEST_F(ConnectionThreadTest, ControlByteInThePathGets400)
{
    const char* const targets[] = {"/a%0d%0aSet-Cookie:%20x", "/a%01b", "/a%7fb", "/sub%0a/"};
    StartCore();
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        auto client = Connect();
        client->Send(Request("GET", target));
        const Answer answer = client->ReadAnswer();
        ASSERT_TRUE(answer.complete);
        EXPECT_EQ(answer.statusLine, "HTTP/1.1 400 Bad Request");
        EXPECT_FALSE(answer.Has("Set-Cookie"));
    }
}

// --- fatal errors ---------------------------------------------------------------------------

TEST_F(ConnectionThreadTest, UnsupportedWebDavMethodGetsTheEmergencyPage)
{
    Option("EnableWebDAV", "1");
    KeepAlive(20);
    StartCore();
    const std::string body =
        "<HTML><HEAD><TITLE>500 Internal Server Error</TITLE><meta http-equiv=\"Content-Type\" "
        "content=\"text/html;charset=Shift_JIS\"></HEAD>\n<BODY><H1>Error : 500 Internal Server "
        "Error</H1><PRE>サポートしていません</PRE><HR><ADDRESS>Tarnwick/1.42</ADDRESS></BODY></HTML>";
    const std::string expected =
        "HTTP/1.0 500 Internal Server Error\r\nServer: Tarnwick/1.42\r\nContent-Type: text/html\r\n"
        "Connection: Close\r\nContent-length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    int number = 0;
    for (const char* method : {"PROPPATCH", "LOCK", "UNLOCK"}) {
        SCOPED_TRACE(method);
        auto client = Connect();
        client->Send(Request(method, "/hello.txt", "Connection: keep-alive\r\n"));
        bool closed = false;
        EXPECT_EQ(client->ReadToEnd(closed), expected);
        EXPECT_TRUE(closed);
        const CConfigAccessor node = Logged(Name(number++));
        EXPECT_EQ(node.GetString("Info", ""), kUnsupported);
        EXPECT_EQ(node.GetString("ResponseInfo::ResponseCode", ""), "500");
        EXPECT_EQ(node.GetString("ResponseInfo::ResponseText", ""), "500 Internal Server Error");
    }
}

TEST_F(ConnectionThreadTest, FileReadFailingAfterTheHeaderOnlyCloses)
{
    // A sysfs attribute that opens as a regular file of 4096 bytes and fails every read.
    const char kFolder[] = "/sys/class/net/lo/";
    const int fd = ::open("/sys/class/net/lo/speed", O_RDONLY | O_CLOEXEC);
    char byte;
    const bool failsToRead = fd >= 0 && ::read(fd, &byte, 1) < 0;
    const int readError = errno;
    if (fd >= 0)
        ::close(fd);
    if (!failsToRead)
        GTEST_SKIP() << "no file here whose reads fail after it opened";
    settings.SetValue(std::string(kEntry) + "LocalPath", kFolder);
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/speed"));
    const Answer answer = client->ReadAnswer(true);
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.Header("Content-Length"), "4096");
    bool closed = false;
    const std::string rest = client->ReadToEnd(closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(rest, "") << "no emergency page after the header";
    // The page never went out; the log still names the file and the reason.
    EXPECT_EQ(Logged(Name(0)).GetString("Info", ""), std::string("ファイルの操作に失敗しました、システムエラーです (") +
                                                         kFolder + "speed: " + std::strerror(readError) + ")");
}

// --- the pipeline on its own ------------------------------------------------------------------

class ConnectionThreadPipelineTest : public ConnectionThreadTest {
protected:
    // A response pipeline on the server end of a fresh connection, without a worker
    // thread, and the request it will send an answer for.
    void SetUp() override
    {
        ConnectionThreadTest::SetUp();
        StartCore();
        OpenHarness();
    }
    void OpenHarness()
    {
        CloseHarness();
        const std::pair<int, int> ends = MakeLoopbackPair();
        ASSERT_GE(ends.first, 0);
        ASSERT_GE(ends.second, 0);
        client = std::make_unique<Client>(ends.first);
        connection = std::make_unique<DriverConnection>();
        connection->socket.Attach(ends.second);
        settingsSnapshot = core->GetSettingsSnapshot();
        thread = &NewRecord();
        thread->ParseRequest(Request("GET", "/hello.txt"));
        path = std::make_unique<CRequestPath>("/hello.txt", "example.test", settingsSnapshot);
        limiter = std::make_unique<CBandWidthLimiter>(&core->GetBandWidthManager(), CIPv4Address("127.0.0.1"),
                                                      thread->GetThreadName());
        transfer = RequestTransfer();
        pipeline = std::make_unique<CResponsePipeline>(core.get(), connection->socket, connection->state, connection->timeout,
                                                       *thread, *path, *limiter, transfer, buffers);
    }
    void CloseHarness()
    {
        pipeline.reset();
        limiter.reset();
        connection.reset();
    }
    void TearDown() override
    {
        CloseHarness();
        ConnectionThreadTest::TearDown();
    }

    void Send(CResponse& response) { pipeline->Send(response); }
    // What the client received, once the server's end is closed.
    std::string Received()
    {
        CloseHarness();
        bool closed = false;
        std::string all = client->ReadToEnd(closed);
        EXPECT_TRUE(closed);
        return all;
    }
    static std::string BodyOf(const std::string& all)
    {
        const std::string::size_type end = all.find("\r\n\r\n");
        return end == std::string::npos ? "" : all.substr(end + 4);
    }
    // The server's end of the connection, as a worker holds it.
    struct DriverConnection {
        CTimeoutTarget timeout;
        CTcpSocket socket;
        servertest::IdleThread thread;
        CConnectionState state{&timeout, &socket, &thread};
    };

    std::unique_ptr<Client> client;
    std::unique_ptr<DriverConnection> connection;
    std::shared_ptr<const CSettingsSnapshot> settingsSnapshot;
    CRequestRecord* thread = nullptr;
    RequestBuffers buffers;
    std::unique_ptr<CRequestPath> path;
    std::unique_ptr<CBandWidthLimiter> limiter;
    RequestTransfer transfer;
    std::unique_ptr<CResponsePipeline> pipeline;
};

TEST_F(ConnectionThreadPipelineTest, BodyLongerThanAnnouncedIsCutAtTheAnnouncedLength)
{
    const struct {
        const char* description;
        int64_t announced;
        int64_t yielded;
    } cases[] = {
        {"grew within the first chunk", 10, 20},
        {"grew by a chunk", 32768, 65536},
        {"grew in a later chunk", 40000, 98304},
        {"announced nothing", 0, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        OpenHarness();
        ScriptedResponse response(core.get(), *thread, c.announced, c.yielded);
        Send(response);
        const std::string all = Received();
        EXPECT_NE(all.find("\r\nContent-Length: " + std::to_string(c.announced) + "\r\n"), std::string::npos);
        EXPECT_EQ(BodyOf(all).size(), static_cast<std::size_t>(c.announced));
    }
}

TEST_F(ConnectionThreadPipelineTest, BodyShorterThanAnnouncedSendsWhatThereIs)
{
    ScriptedResponse response(core.get(), *thread, 40000, 10000);
    Send(response);
    EXPECT_EQ(BodyOf(Received()).size(), 10000u);
}

TEST_F(ConnectionThreadPipelineTest, FatalErrorAfterTheHeaderSendsNoEmergencyPage)
{
    ScriptedResponse response(core.get(), *thread, 100000, 100000, true);
    std::string message;
    try {
        Send(response);
    } catch (const CServerFatalException& e) {
        message = e.message;
    }
    EXPECT_EQ(message, "読み込みに失敗しました");
    pipeline->SendInternalServerError(message);
    bool closed = false;
    const std::string all = client->ReadToEnd(closed);
    EXPECT_TRUE(closed) << "the connection is closed";
    EXPECT_EQ(all.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(all.find("500 Internal Server Error"), std::string::npos);
    EXPECT_EQ(BodyOf(all).size(), 32768u) << "the first chunk, then nothing";
}

TEST_F(ConnectionThreadPipelineTest, FatalErrorBeforeAnythingWasSentGetsTheEmergencyPage)
{
    pipeline->SendInternalServerError("<x>");
    bool closed = false;
    const std::string all = client->ReadToEnd(closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(all.rfind("HTTP/1.0 500 Internal Server Error\r\n", 0), 0u);
    EXPECT_NE(all.find("<PRE><x></PRE>"), std::string::npos) << "the message as it is";
}

// --- request bodies -------------------------------------------------------------------------

// Which framings are refused, and how, is ReadBodyFraming's table; here, that a refusal
// reaches the client and ends the connection, whose unread body would be taken for a request.
TEST_F(ConnectionThreadTest, BodyFramingThatCannotBeReadIsRefusedAndCloses)
{
    KeepAlive(20);
    StartCore();
    auto client = Connect();
    client->Send(Request("POST", "/hello.txt", "Connection: keep-alive\r\nTransfer-Encoding: gzip\r\n") +
                 "5\r\nhello\r\n0\r\n\r\n");
    const Answer answer = client->ReadAnswer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.Code(), 400);
    EXPECT_EQ(Lower(answer.Header("Connection")), "close") << "the answer says the connection ends";
    EXPECT_FALSE(answer.Has("Keep-Alive"));
    bool closed = false;
    client->ReadToEnd(closed);
    EXPECT_TRUE(closed);
}

// A body that no response reads is taken as far as it has come, so that the next request on
// the connection is answered; one still coming is not waited for: the answer goes out at
// once, and the connection closes after it, since the rest would be read as a request.
TEST_F(ConnectionThreadTest, ABodyNoResponseReadsIsTakenAsFarAsItCameAndNeverWaitedFor)
{
    const struct {
        const char* description;
        const char* lines;
        std::size_t length;  // the body's bytes announced
        std::size_t sent;    // the bytes of it sent with the header
    } cases[] = {
        {"no body", "", 0, 0},
        {"small body with the header", "Content-Length: 5\r\n", 5, 5},
        {"two lengths that agree", "Content-Length: 5\r\nContent-Length: 5\r\n", 5, 5},
        {"leading zeros", "Content-Length: 007\r\n", 7, 7},
        {"lower-case name", "content-length: 9\r\n", 9, 9},
        {"one byte of it still coming", "Content-Length: 9\r\n", 9, 8},
        {"none of it come", "Content-Length: 1000000\r\n", 1000000, 0},
    };
    KeepAlive(20);
    StartCore();
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        auto client = Connect();
        const std::string head = Request("POST", "/hello.txt", std::string("Connection: keep-alive\r\n") + c.lines);
        const auto start = std::chrono::steady_clock::now();
        client->Send(head + std::string(c.sent, 'b'));
        const Answer refused = client->ReadAnswer();
        ASSERT_TRUE(refused.complete);
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000)) << "not waited for";
        EXPECT_EQ(refused.Code(), 405);
        if (c.sent < c.length) {
            EXPECT_EQ(refused.Header("Connection"), "Close");
            bool closed = false;
            client->ReadToEnd(closed);
            EXPECT_TRUE(closed);
            ++number;
            continue;
        }
        EXPECT_EQ(Logged(Name(number)).GetString("RecvSize", ""), std::to_string(head.size() + c.length));
        number += 2;

        client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\n"));
        const Answer next = client->ReadAnswer();
        ASSERT_TRUE(next.complete);
        EXPECT_EQ(next.statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(next.body, "hello");
    }
}

// --- keep-alive and waiting -----------------------------------------------------------------

// The listener hands a connection to a worker once its request can be served without
// waiting: for a write, once its body has come by its framing.
TEST(RequestArrivalTest, ARequestHasComeOnceItsBodyHasByItsFraming)
{
    using Arrival = CFastListener::Arrival;
    const std::string put = "PUT /a HTTP/1.1\r\nHost: x\r\n";
    const std::string chunked = put + "Transfer-Encoding: chunked\r\n\r\n";
    const struct {
        const char* description;
        std::string bytes;
        bool bufferFull;
        Arrival arrival;
    } cases[] = {
        {"a header not ended", put, false, Arrival::Header},
        {"a read", "GET /a HTTP/1.1\r\nHost: x\r\n\r\n", false, Arrival::Whole},
        {"a write without a body", put + "\r\n", false, Arrival::Whole},
        {"a body by its length, whole", put + "Content-Length: 5\r\n\r\nhello", false, Arrival::Whole},
        {"a body by its length, short by one", put + "Content-Length: 5\r\n\r\nhell", false, Arrival::Body},
        {"a short body filling the buffer", put + "Content-Length: 5\r\n\r\nhell", true, Arrival::Whole},
        {"a body too large for any response to wait for", put + "Content-Length: 999999999\r\n\r\n", false,
         Arrival::Whole},
        {"a chunked body, whole", chunked + "5\r\nhello\r\n0\r\n\r\n", false, Arrival::Whole},
        {"a chunked body without its end", chunked + "5\r\nhello\r\n0\r\n", false, Arrival::Body},
        {"a chunked body not begun", chunked, false, Arrival::Body},
        {"a chunked body filling the buffer", chunked + "5\r\nhel", true, Arrival::Whole},
        {"a chunked body whose framing fails", chunked + "5x\r\n", false, Arrival::Whole},
        {"a chunked body held back for 100 Continue",
         put + "Transfer-Encoding: chunked\r\nExpect: 100-continue\r\n\r\n", false, Arrival::Whole},
        {"a refused framing", put + "Transfer-Encoding: gzip\r\n\r\n", false, Arrival::Whole},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(RequestArrival(c.bytes.data(), c.bytes.size(), c.bufferFull), c.arrival);
    }
}

TEST_F(ConnectionThreadTest, KeepAliveNeedsTheSettingAndTheRequest)
{
    const struct {
        const char* description;
        const char* enable;  // Basic::EnableKeepAlive; nullptr: not set
        const char* line;    // the request's Connection header line
        bool keptOpen;
    } cases[] = {
        {"off by default", nullptr, "Connection: keep-alive\r\n", false},
        {"off", "0", "Connection: keep-alive\r\n", false},
        {"on, asked for", "1", "Connection: keep-alive\r\n", true},
        {"on, name and value in other case", "1", "CONNECTION: Keep-Alive\r\n", true},
        {"on, not asked for", "1", "", false},
        {"on, asked to close", "1", "Connection: close\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        RestartCoreWith("Basic::EnableKeepAlive", c.enable ? c.enable : "");
        auto client = Connect();
        client->Send(Request("GET", "/hello.txt", c.line));
        const Answer answer = client->ReadAnswer();
        ASSERT_TRUE(answer.complete);
        if (c.keptOpen) {
            EXPECT_EQ(answer.Header("Connection"), "Keep-Alive");
            EXPECT_EQ(answer.Header("Keep-Alive"), "timeout=20, max=5");
            client->Send(Request("GET", "/hello.txt", c.line));
            EXPECT_EQ(client->ReadAnswer().body, "hello");
        } else {
            EXPECT_EQ(answer.Header("Connection"), "Close");
            EXPECT_FALSE(answer.Has("Keep-Alive"));
            EXPECT_TRUE(client->ClosesSilently());
        }
    }
}

TEST_F(ConnectionThreadTest, IdleKeptAliveConnectionClosesAfterTheKeepAliveTime)
{
    KeepAlive(1);
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\n"));
    const Answer answer = client->ReadAnswer();
    ASSERT_TRUE(answer.complete);
    EXPECT_EQ(answer.Header("Keep-Alive"), "timeout=1, max=5");
    const Clock::time_point answered = Clock::now();
    EXPECT_TRUE(client->ClosesSilently(milliseconds(3000)));
    const auto idle = std::chrono::duration_cast<milliseconds>(Clock::now() - answered);
    EXPECT_GE(idle.count(), 900);
}

TEST_F(ConnectionThreadTest, FirstRequestMayArriveLate)
{
    const struct {
        const char* description;
        bool keepAlive;
    } cases[] = {{"keep-alive off", false}, {"keep-alive on", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        RestartCoreWith("Basic::EnableKeepAlive", c.keepAlive ? "1" : "0");
        auto client = Connect();
        std::this_thread::sleep_for(kLateRequestDelay);
        client->Send(Request("GET", "/hello.txt"));
        const Answer answer = client->ReadAnswer();
        ASSERT_TRUE(answer.complete);
        EXPECT_EQ(answer.body, "hello");
    }
}

TEST_F(ConnectionThreadTest, ConnectionWithoutARequestClosesAfterItsWait)
{
    const struct {
        const char* description;
        const char* enableKeepAlive;
        const char* key;  // the wait that applies, set to one second
    } cases[] = {
        {"keep-alive off: the time-out", "0", "Basic::TimeOut"},
        {"keep-alive on: the keep-alive time", "1", "Basic::KeepAliveTime"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        workers_.clear();
        core.reset();
        settings.RemoveNode("Setting::Basic");
        Set("Basic::EnableKeepAlive", c.enableKeepAlive);
        Set(c.key, "1");
        StartCore();
        auto client = Connect();
        const Clock::time_point connected = Clock::now();
        EXPECT_TRUE(client->ClosesSilently(milliseconds(3000)));
        const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - connected);
        EXPECT_GE(waited.count(), 900);
        EXPECT_EQ(servertest::FinishedRequests(core->GetContext()), std::vector<std::string>{}) << "no request, no node";
    }
}

TEST_F(ConnectionThreadTest, StoppingAWaitingWorkerEndsItPromptly)
{
    StartCore();
    auto client = Connect();
    const Clock::time_point start = Clock::now();
    workers_.clear();
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count(), 1000);
    EXPECT_TRUE(client->ClosesSilently(milliseconds(1000)));
}

TEST_F(ConnectionThreadTest, ThreadLogsKeepsTheLastMaxThreadLogRequests)
{
    const struct {
        const char* description;
        const char* max;
        std::vector<std::string> kept;
    } cases[] = {
        {"three", "3", {"Thread_0002", "Thread_0003", "Thread_0004"}},
        {"none", "0", {}},
        {"more than were made", "10", {"Thread_0000", "Thread_0001", "Thread_0002", "Thread_0003", "Thread_0004"}},
    };
    KeepAlive(20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        workers_.clear();
        core.reset();
        Set("Log::MaxThreadLog", c.max);
        StartCore();
        auto client = Connect();
        for (int i = 0; i < 5; ++i) {
            client->Send(Request("GET", "/hello.txt", "Connection: keep-alive\r\n"));
            ASSERT_TRUE(client->ReadAnswer().complete);
        }
        EXPECT_TRUE(servertest::WaitUntil([&] { return servertest::LiveRequests(core->GetContext()).empty(); }));
        EXPECT_EQ(servertest::FinishedRequests(core->GetContext()), c.kept);
    }
}

// --- bandwidth ------------------------------------------------------------------------------

class ConnectionThreadBandwidthTest : public ConnectionThreadTest {
protected:
    static constexpr int kLimitKiB = 100;
    static constexpr std::size_t kFileSize = 200 * 1024;

    void SetUp() override
    {
        ConnectionThreadTest::SetUp();
        Set("Limit::Send::MaxOneConnectBandWidth", std::to_string(kLimitKiB));
        Option("EnableBandWidthLimit", "1");
        testsupport::PutFile(www.Path() + "big.bin", std::string(kFileSize, 'z'));
    }
};

TEST_F(ConnectionThreadBandwidthTest, DownloadKeepsToTheConfiguredRate)
{
    StartCore();
    auto client = Connect();
    // The request's progress text, as the controller would see it while the body goes out.
    std::string progress;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        const std::string prefix = "送信中 : ";
        while (!done && progress.empty()) {
            {
                const std::unique_ptr<CConfigClass> context = servertest::CopyContext(core->GetContext());
                const CConfigAccessor threads = context->GetAccessor("Threads");
                const std::string info = Holds(threads, Name(0)) ? threads.GetString(Name(0) + "::Info", "") : "";
                if (info.compare(0, prefix.size(), prefix) == 0)
                    progress = info.substr(prefix.size());
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
    });
    const Clock::time_point start = Clock::now();
    client->Send(Request("GET", "/big.bin"));
    const Answer answer = client->ReadAnswer();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    watcher.join();
    ASSERT_TRUE(answer.complete);
    ASSERT_EQ(answer.body.size(), kFileSize);
    const double rate = kFileSize / seconds / 1024;
    EXPECT_GT(rate, kLimitKiB * 0.8) << seconds << " s";
    EXPECT_LT(rate, kLimitKiB * 1.2) << seconds << " s";

    // "96K/200K [48%] (100.0K/S, Limit: 100.0K/S)": kilobytes, not bytes, before each K.
    long long sent = 0;
    long long total = 0;
    long long percent = 0;
    double meter = 0;
    double limit = 0;
    ASSERT_EQ(std::sscanf(progress.c_str(), "%lldK/%lldK [%lld%%] (%lfK/S, Limit: %lfK/S)", &sent, &total, &percent,
                          &meter, &limit),
              5)
        << progress;
    EXPECT_EQ(total, static_cast<long long>(kFileSize / 1024));
    EXPECT_GT(sent, 0);
    EXPECT_LE(sent, total);
    EXPECT_NEAR(percent, sent * 100 / total, 1) << progress;
    EXPECT_EQ(limit, kLimitKiB);
    EXPECT_EQ(progress.substr(progress.size() - 18), ", Limit: 100.0K/S)");
}

TEST_F(ConnectionThreadBandwidthTest, FileThatShrinksWhileSentClosesTheConnection)
{
    KeepAlive(20);
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/big.bin", "Connection: keep-alive\r\n"));
    const Answer head = client->ReadAnswer(true);
    ASSERT_TRUE(head.complete);
    ASSERT_EQ(head.Header("Content-Length"), std::to_string(kFileSize));
    // The limit paces the body, so most of it is still to be read.
    fs::resize_file(www.Path() + "big.bin", 0);
    bool closed = false;
    const std::string body = client->ReadToEnd(closed);
    EXPECT_TRUE(closed) << "a short body must end the connection, whatever keep-alive says";
    EXPECT_LT(body.size(), kFileSize);
}

TEST_F(ConnectionThreadTest, ClientThatStopsReadingIsCutOffByTheTimeOut)
{
    // More than the socket buffers of both ends hold, so that the sends block.
    constexpr std::size_t kLargeFile = 32 * 1024 * 1024;
    testsupport::PutFile(www.Path() + "large.bin", std::string(kLargeFile, 'l'));
    Set("Basic::TimeOut", "1");
    StartCore();
    auto client = Connect();
    client->Send(Request("GET", "/large.bin"));
    ASSERT_TRUE(client->ReadAnswer(true).complete);
    const std::string info = Logged(Name(0)).GetString("Info", "");
    EXPECT_EQ(info.rfind("データ送信中に", 0), 0u) << info;
    bool closed = false;
    const std::string rest = client->ReadToEnd(closed);
    EXPECT_TRUE(closed);
    EXPECT_LT(rest.size(), kLargeFile);
    EXPECT_EQ(rest.find("500 Internal Server Error"), std::string::npos) << "nothing after part of a body";
}

// --- starting -------------------------------------------------------------------------------

TEST_F(ConnectionThreadTest, FailedHandshakeLeavesNoRequestNode)
{
    StartCore();
    auto client = Connect<PlainSocketPosingAsSecure>();
    ASSERT_TRUE(servertest::WaitUntil([&] { return LastWorker().IsRunning() == 0; }));
    EXPECT_EQ(servertest::LiveRequests(core->GetContext()), std::vector<std::string>{});
    EXPECT_EQ(servertest::FinishedRequests(core->GetContext()), std::vector<std::string>{});
    workers_.clear();
    EXPECT_TRUE(client->ClosesSilently(milliseconds(1000)));
}

TEST_F(ConnectionThreadTest, WorkerWhoseThreadCannotStartClosesItsSocket)
{
    StartCore();
    // Threads get their stack from the process default; one no address space can hold
    // makes every new thread fail while it is in force.
    constexpr std::size_t kUnmappableStack = std::size_t{1} << 60;
    pthread_attr_t saved;
    pthread_attr_t huge;
    if (::pthread_getattr_default_np(&saved) != 0)
        GTEST_SKIP() << "the default thread attributes cannot be read";
    ::pthread_attr_init(&huge);
    ::pthread_attr_setstacksize(&huge, kUnmappableStack);
    const std::pair<int, int> ends = MakeLoopbackPair();
    ASSERT_GE(ends.second, 0);
    Client client(ends.first);
    auto socket = std::make_unique<CTcpSocket>();
    socket->Attach(ends.second);

    bool attempted = false;
    bool started = false;
    std::string message;
    if (::pthread_setattr_default_np(&huge) == 0) {
        attempted = true;
        try {
            CConnectionThread worker(core.get(), std::move(socket));
            started = true;
        } catch (const CConnectionException& e) {
            message = e.message;
        }
        ::pthread_setattr_default_np(&saved);
    }
    ::pthread_attr_destroy(&huge);
    ::pthread_attr_destroy(&saved);
    if (!attempted || started)
        GTEST_SKIP() << "a thread could not be kept from starting";
    EXPECT_EQ(message, "スレッドの開始に失敗しました");
    EXPECT_TRUE(client.ClosesSilently(milliseconds(1000)));
}

}  // namespace
