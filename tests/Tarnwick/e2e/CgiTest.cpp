// CGI programs behind a running core, with the real curl as client: shell and Perl scripts
// and a compiled program, from the query and the body that go in to the status, headers
// and body that come out.

#include "CurlFixture.h"

#include "ServerTestSupport.h"
#include "http/SystemResponse.h"
#include "responses/CGIResponse.h"

#include "SettingsSchema.h"
#include "TempFolder.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using servertest::Answer;
using servertest::CurlResult;
using servertest::kRunLimit;
using servertest::kTransferSeconds;
using servertest::ParseHeaderDump;
using servertest::PercentEncode;
using servertest::RunCurl;
using servertest::SplitLines;
using servertest::WaitUntil;

const char kNoDetail[] = "詳細情報はありません。";
const char kNoHeader[] = "CGIエラー : CGIヘッダーが出力されませんでした";
const char kErrorIntro[] = "-- 以下、CGIプログラムによるエラー情報 --\n\n";
const char kScripts[][16] = {"status.sh", "location.sh", "see-other.pl", "no-type.sh",
                             "fail.sh",   "framing.pl",  "args.pl"};

// The value of the first "prefix..." line, without the prefix; "(none)" without one.
std::string LineValue(const std::string& text, const std::string& prefix)
{
    for (const std::string& line : SplitLines(text))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    return "(none)";
}

class CgiTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        ServeDocumentsAtRoot();
        settings.SetValue("Setting::Path::Path_0::Options::EnableSSICGI", "1");
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html.Path());
        settings.SetValue("Setting::CGI::Cgi_0::FileExt", "sh");
        settings.SetValue("Setting::CGI::Cgi_0::ExecuteFile", "0");
        settings.SetValue("Setting::CGI::Cgi_0::Command", "/bin/sh %FilePath%");
        settings.SetValue("Setting::CGI::Cgi_1::FileExt", "pl");
        settings.SetValue("Setting::CGI::Cgi_1::ExecuteFile", "0");
        settings.SetValue("Setting::CGI::Cgi_1::FileHeader", "perl");
        settings.SetValue("Setting::CGI::Cgi_1::Command", "/usr/bin/perl %FilePath% %Query%");
        settings.SetValue("Setting::CGI::Cgi_2::FileExt", "cgi");
        settings.SetValue("Setting::CGI::Cgi_2::ExecuteFile", "1");
        settings.SetValue("Setting::CGI::Cgi_2::Command", "%FilePath% %Query%");

        // Status pages that show both texts of the answer.
        testsupport::PutFile(html.Path() + "Response_default.html", "%ResponseText%\n%Info%\n%Detail%\n");
        testsupport::PutFile(docs.Path() + "hello.txt", "hello\n");
        for (const char* script : kScripts)
            InstallProgram(std::string(TEST_CGI_DATA_DIR) + "/" + script, script);
        InstallProgram(TEST_CGI_PROGRAM, "x.cgi");
    }

    // The status page as the template above lays it out.
    static std::string Page(const std::string& statusText, const std::string& info, const std::string& detail)
    {
        return statusText + "\n" + info + "\n" + detail + "\n";
    }

    testsupport::TempFolder html;
};

// --- what goes in --------------------------------------------------------------------------

TEST_F(CgiTest, QueryArrivesAsSentAndDecodedAsOneArgument)
{
    Start();
    const Answer answer = Get("/x.cgi?name=a%20b%3Bc&x=1");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.Header("Content-Type"), "text/plain");
    EXPECT_EQ(LineValue(answer.body, "env:QUERY_STRING="), "name=a%20b%3Bc&x=1");
    EXPECT_EQ(LineValue(answer.body, "env:REQUEST_METHOD="), "GET");
    EXPECT_EQ(LineValue(answer.body, "env:SCRIPT_NAME="), "/x.cgi");
    EXPECT_EQ(LineValue(answer.body, "argc="), "2");
    EXPECT_EQ(LineValue(answer.body, "argv[0]="), docs.Path() + "x.cgi");
    EXPECT_EQ(LineValue(answer.body, "argv[1]="), "name=a b;c&x=1");
    EXPECT_EQ(std::to_string(answer.body.size()), answer.Header("Content-Length"));
}

// The server listens on loopback only: the machine's other addresses are not where the
// client reached it.
TEST_F(CgiTest, ServerAddrIsTheAddressTheClientConnectedTo)
{
    Start();
    const Answer answer = Get("/x.cgi");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(LineValue(answer.body, "env:SERVER_ADDR="), "127.0.0.1");
    EXPECT_EQ(LineValue(answer.body, "env:REMOTE_ADDR="), "127.0.0.1");
}

// SERVER_PORT names the port the request came in at, as SERVER_ADDR its address: on
// HTTPS not the HTTP port, so that a script building its own URL keeps the scheme's port.
TEST_F(CgiTest, ServerPortIsThePortTheClientConnectedTo)
{
    const int securePort = EnableHttps();
    Start();
    const struct {
        const char* scheme;
        int port;
    } cases[] = {{"http", port}, {"https", securePort}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scheme);
        const Answer answer =
            Fetch(std::string(c.scheme) + "://127.0.0.1:" + std::to_string(c.port) + "/x.cgi", {"--insecure"});
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(LineValue(answer.body, "env:SERVER_PORT="), std::to_string(c.port));
        EXPECT_EQ(LineValue(answer.body, "env:SERVER_ADDR="), "127.0.0.1");
    }
}

TEST_F(CgiTest, QueryIsOneArgumentAndNeverCommandText)
{
    Start();
    const std::string marker = scratch.Path() + "ran";
    const struct {
        const char* description;
        std::string query;    // as sent
        std::string decoded;  // the program's argument
    } cases[] = {
        {"blank and semicolon", PercentEncode("a b;touch " + marker), "a b;touch " + marker},
        {"command substitution", PercentEncode("$(touch " + marker + ")"), "$(touch " + marker + ")"},
        {"back quotes and pipe", PercentEncode("`touch " + marker + "`|touch " + marker),
         "`touch " + marker + "`|touch " + marker},
        {"an option", PercentEncode("-e system('touch " + marker + "')"), "-e system('touch " + marker + "')"},
        {"quotes and backslashes", PercentEncode("\"a\" b\\\" c\\"), "\"a\" b\\\" c\\"},
        {"the path placeholder", PercentEncode("%FilePath%"), "%FilePath%"},
        {"the query placeholder, decoded", "%25Query%25", "%Query%"},
        {"the query placeholder twice encoded", "%2525Query%2525", "%25Query%25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer compiled = Get("/x.cgi?" + c.query);
        ASSERT_EQ(compiled.run.exitCode, 0) << compiled.run.err;
        EXPECT_EQ(compiled.status, 200);
        EXPECT_EQ(LineValue(compiled.body, "argc="), "2");
        EXPECT_EQ(LineValue(compiled.body, "argv[1]="), c.decoded);
        EXPECT_EQ(LineValue(compiled.body, "env:QUERY_STRING="), c.query);

        const Answer perl = Get("/args.pl?" + c.query);
        EXPECT_EQ(perl.status, 200);
        EXPECT_EQ(perl.body, "QUERY_STRING=" + c.query + "\nARGC=1\nARG=" + c.decoded + "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(CgiTest, LineBreakInARequestHeaderIsRefusedBeforeTheProgramRuns)
{
    Start();
    // curl sends the bare line feeds as given; RFC 9112 2.2 lets the server refuse them.
    const Answer answer = Get("/x.cgi", {"-H", "User-Agent: one\nHTTP_INJECTED=two", "-H",
                                         "Cookie: a=1\nPATH=/nowhere"});
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(LineValue(answer.body, "env:HTTP_USER_AGENT="), "(none)");
}

TEST_F(CgiTest, LargePostBodyIsEchoedIntact)
{
    Start();
    const std::string body = servertest::Pattern(5 * 1024 * 1024 + 7);
    const std::string file = scratch.Path() + "upload";
    testsupport::PutFile(file, body);
    const Answer answer = Get("/x.cgi?echo", {"--data-binary", "@" + file, "-H", "Content-Type: application/x-test"});
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.Header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(body.size()));
    ASSERT_EQ(answer.body.size(), body.size());
    EXPECT_TRUE(answer.body == body) << "the echoed body differs";
}

// A body of unknown length comes chunked (RFC 9112 7.1): the program reads the decoded
// bytes, CONTENT_LENGTH of them, as it would a body with a Content-Length.
TEST_F(CgiTest, ChunkedPostBodyReachesTheProgramDecodedWithItsLength)
{
    Start();
    const std::string body = servertest::Pattern(3 * 1024 * 1024 + 5);
    const std::string file = scratch.Path() + "upload";
    testsupport::PutFile(file, body);
    const std::vector<std::string> chunked = {"-v", "-H", "Transfer-Encoding: chunked", "--data-binary", "@" + file};
    const Answer echo = Get("/x.cgi?echo", chunked);
    ASSERT_EQ(echo.run.exitCode, 0) << echo.run.err;
    EXPECT_NE(echo.run.err.find("> Transfer-Encoding: chunked"), std::string::npos);
    EXPECT_EQ(echo.status, 200);
    EXPECT_EQ(echo.Header("Content-Length"), std::to_string(body.size()));
    EXPECT_TRUE(echo.body == body) << "echoed " << echo.body.size() << " bytes";

    const Answer listed = Get("/x.cgi", chunked);
    EXPECT_EQ(listed.status, 200);
    EXPECT_EQ(LineValue(listed.body, "env:REQUEST_METHOD="), "POST");
    EXPECT_EQ(LineValue(listed.body, "env:CONTENT_LENGTH="), std::to_string(body.size()));
}

TEST_F(CgiTest, ProgramThatLeavesItsInputUnreadStillAnswers)
{
    Start();
    const std::string file = scratch.Path() + "upload";
    testsupport::PutFile(file, servertest::Pattern(4 * 1024 * 1024));
    const Answer answer = Get("/x.cgi?noread", {"--data-binary", "@" + file});
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "done");
}

TEST_F(CgiTest, HeadRunsTheProgramAndSendsNoBody)
{
    Start();
    const Answer answer = Get("/x.cgi?noread", {"-I"});
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.Header("Content-Length"), "4");
    // With -I curl writes the header block where the body would go; nothing follows it.
    ASSERT_GE(answer.body.size(), 4u);
    EXPECT_EQ(answer.body.find("done"), std::string::npos);
    EXPECT_EQ(answer.body.substr(answer.body.size() - 4), "\r\n\r\n");
}

// --- what comes out -------------------------------------------------------------------------

TEST_F(CgiTest, StatusLineGivesTheCodeWithItsStandardText)
{
    Start();
    const Answer answer = Get("/status.sh");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(answer.Header("Content-Type"), "text/plain");
    EXPECT_EQ(answer.body, "x");
}

TEST_F(CgiTest, LocationRedirectsWith302OrTheProgramsOwnRedirectCode)
{
    Start();
    const Answer found = Get("/location.sh");
    ASSERT_EQ(found.run.exitCode, 0) << found.run.err;
    EXPECT_EQ(found.statusLine, "HTTP/1.1 302 Found");
    EXPECT_EQ(found.Header("Location"), "/next");
    EXPECT_EQ(found.Header("Set-Cookie"), "from=location");
    EXPECT_EQ(found.body, Page("302 Found", " /next に移動してください", kNoDetail));

    const Answer seeOther = Get("/see-other.pl");
    EXPECT_EQ(seeOther.statusLine, "HTTP/1.1 303 See Other");
    // RFC 9110 10.2.2: the program's bytes a header cannot carry raw go out escaped.
    EXPECT_EQ(seeOther.Header("Location"), "/other/%e8%b3%87%20x");
    EXPECT_EQ(seeOther.body.find("not sent"), std::string::npos);
}

TEST_F(CgiTest, MissingContentTypeGivesTheHeaderError)
{
    Start();
    const Answer answer = Get("/no-type.sh");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.body, Page("500 Internal Server Error", kNoHeader, kNoDetail));
    EXPECT_FALSE(answer.HasHeader("X-Mode"));
}

TEST_F(CgiTest, FailingProgramShowsItsStandardErrorEscaped)
{
    Start();
    const Answer answer = Get("/fail.sh");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.body, Page("500 Internal Server Error", kNoHeader,
                                std::string(kErrorIntro) + "the &lt;b&gt;script&lt;/b&gt; failed &amp; gave up\n"));
}

TEST_F(CgiTest, ProgramsFramingLinesLeaveTheConnectionUsable)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    Start();
    const std::string cgiHeaders = ScratchFile("headers");
    const std::string cgiBody = ScratchFile("body");
    const std::string fileBody = ScratchFile("body");
    const CurlResult run = RunCurl({"--max-time", kTransferSeconds, "-H", "Connection: keep-alive", "-D", cgiHeaders,
                                    "-o", cgiBody, "-w", "%{num_connects}\n", Url("/framing.pl"), "--next",
                                    "--max-time", kTransferSeconds, "-H", "Connection: keep-alive", "-o", fileBody,
                                    "-w", "%{num_connects}\n", Url("/hello.txt")},
                                   kRunLimit);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n0\n") << "the second request did not reuse the connection";
    const std::vector<Answer> answers = ParseHeaderDump(testsupport::GetFile(cgiHeaders));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].Header("Content-Length"), "6");
    EXPECT_EQ(answers[0].Header("Connection"), "Keep-Alive");
    int lengths = 0;
    for (const auto& header : answers[0].headers)
        lengths += servertest::EqualsNoCase(header.first, "Content-Length") ? 1 : 0;
    EXPECT_EQ(lengths, 1);
    EXPECT_EQ(testsupport::GetFile(cgiBody), "abcdef");
    EXPECT_EQ(testsupport::GetFile(fileBody), "hello\n");
}

// --- refusals and failures ---------------------------------------------------------------

TEST_F(CgiTest, PutToAScriptIs405)
{
    Start();
    const Answer answer = Get("/status.sh", {"-X", "PUT", "--data-binary", "x"});
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 405);
    EXPECT_EQ(answer.Header("Allow"), "GET, HEAD, POST");
    EXPECT_EQ(answer.body, Page("405 Method Not Allowed", "対応していないメソッドです", kNoDetail));
}

TEST_F(CgiTest, BodyAboveTheLimitIsRefusedAtOnce)
{
    Start();
    // Only the announcement is large: the server must answer without waiting for the body.
    const auto start = std::chrono::steady_clock::now();
    const Answer answer = Get("/x.cgi?echo", {"-H", "Content-Length: 70000000", "--data-binary", "x"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answer.status, 413) << answer.run.err;
    EXPECT_EQ(answer.Header("Connection"), "Close");
    EXPECT_LT(elapsed, 5s);
}

// A chunked body tells its size only at its end: it is refused once its data passes the
// limit, and the rest is not read.
TEST_F(CgiTest, ChunkedBodyIsRefusedOnceItPassesTheLimit)
{
    Start();
    const int fd =
        servertest::ConnectAndSend(port, "POST /x.cgi?echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
    ASSERT_GE(fd, 0);
    constexpr int64_t kChunk = 1024 * 1024;
    const std::string chunk = "100000\r\n" + std::string(kChunk, 'x') + "\r\n";
    std::atomic<bool> answered{false};
    // Sends past the limit, and on to twice it unless the answer comes first.
    std::thread sender([&] {
        for (int64_t sent = 0; sent <= 2 * CCGIResponse::kMaxRequestBody && !answered; sent += kChunk)
            if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(chunk.size()))
                return;
    });
    std::string received;
    char buffer[4096];
    for (ssize_t n = 1; n > 0 && servertest::PollReadable(fd, 15000);) {
        n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            received.append(buffer, static_cast<size_t>(n));
            answered = true;
        }
    }
    answered = true;
    sender.join();
    ::close(fd);
    EXPECT_EQ(received.rfind("HTTP/1.1 413 ", 0), 0u) << received.substr(0, 200);
    EXPECT_NE(received.find("\r\nConnection: Close\r\n"), std::string::npos) << received.substr(0, 400);
}

TEST_F(CgiTest, HangingProgramIsEndedAtTheTimeOut)
{
    settings.SetValue("Setting::Basic::TimeOut", "2");
    Start();
    const auto start = std::chrono::steady_clock::now();
    const Answer answer = Get("/x.cgi?hang");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.body,
              Page("500 Internal Server Error", "CGI実行エラー : プロセス実行中にタイムアウトしました", kNoDetail));
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LT(elapsed, 8s);

    // The program was ended and reaped: its process id names no process, not even a zombie.
    const int pid = std::atoi(testsupport::GetFile(docs.Path() + "hang.pid").c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitUntil([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; }));
}

}  // namespace
