// The server answering over the network: a running core on a loopback port and the real
// curl as its client, so that what is checked is what a browser would see on the wire.

#include "CurlFixture.h"

#include "ChildProcess.h"
#include "ServerTestSupport.h"
#include "net/TestCertificate.h"
#include "responses/FileResponse.h"

#include "HttpDate.h"
#include "SettingsSchema.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using servertest::Answer;
using servertest::CurlResult;
using servertest::CurlRunner;
using servertest::kRunLimit;
using servertest::kTransferSeconds;
using servertest::LineEnd;
using servertest::ParseHeaderDump;
using servertest::PercentEncode;
using servertest::RunCurl;
using servertest::SplitLines;
using servertest::WaitUntil;

const std::string kHelloText = "Hello, Tarnwick!\n";
constexpr int kRangeFileLength = 1000;
// Beyond what the loopback socket buffers can hold, so that a limited download is still
// running when the server stops.
constexpr off_t kLargeFileLength = off_t{1} << 30;

// Spelled out here rather than taken from the server, so that a change to either shows.
const std::string kOverloadAnswerBody =
    "<HTML><HEAD><TITLE>503 Service Unavailable</TITLE><meta http-equiv=\"Content-Type\" "
    "content=\"text/html;charset=Shift_JIS\"></HEAD>\n<BODY><H1>Error : 503 Service Unavailable</H1>"
    "<PRE>接続数が限界を超えました</PRE><HR><ADDRESS>Tarnwick/1.42</ADDRESS></BODY></HTML>";

std::string RangeFileBytes()
{
    std::string bytes(kRangeFileLength, '\0');
    for (int i = 0; i < kRangeFileLength; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

// A 64-bit number of the information tree; 0 when absent.
long long InfoNumber(const CConfigAccessor& info, const std::string& key)
{
    return std::atoll(info.GetString(key, "0").c_str());
}

int64_t FileTime(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

class ServeFilesTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        ServeDocumentsAtRoot();
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        settings.SetValue("Setting::MimeType::text/html::Ext_00", "html");
        settings.SetValue("Setting::MimeType::application/x-test::Ext_00", "bin");

        testsupport::PutFile(docs.Path() + "hello.txt", kHelloText);
        testsupport::PutFile(docs.Path() + "range.bin", RangeFileBytes());
        ASSERT_EQ(::mkdir((docs.Path() + "sub").c_str(), 0755), 0);
        testsupport::PutFile(docs.Path() + "sub/inner.txt", "inner\n");
    }

    // Get with each of `headers` ("Name: value") sent as a request header.
    Answer GetWithHeaders(const std::string& target, const std::vector<std::string>& headers)
    {
        std::vector<std::string> extra;
        for (const std::string& header : headers) {
            extra.push_back("-H");
            extra.push_back(header);
        }
        return Get(target, extra);
    }

    // The finished request numbered `number` of this start, in a copy of the context taken
    // once the worker has handed it to ThreadLogs (curl may be done before the worker
    // is); the copy stays with the test.
    CConfigAccessor FinishedRequest(int number)
    {
        char name[32];
        std::snprintf(name, sizeof name, "Thread_%04x", number);
        std::unique_ptr<CConfigClass> context;
        const bool found = WaitUntil([&] {
            context = servertest::CopyContext(core->GetContext());
            std::vector<std::string> names;
            context->GetSections("ThreadLogs", names);
            return std::find(names.begin(), names.end(), name) != names.end();
        });
        EXPECT_TRUE(found) << name << " never finished";
        contexts_.push_back(std::move(context));
        return contexts_.back()->GetAccessor("ThreadLogs").GetSubAccessor(name);
    }
    std::vector<std::unique_ptr<CConfigClass>> contexts_;

};

// --- GET and HEAD -------------------------------------------------------------------------

TEST_F(ServeFilesTest, GetAnswersWithTheFileItsTypeAndValidators)
{
    Start();
    const Answer answer = Get("/hello.txt");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.body, kHelloText);
    EXPECT_EQ(answer.Header("Server"), "Tarnwick/1.42");
    EXPECT_EQ(answer.Header("Content-Type"), "text/plain");
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(kHelloText.size()));
    EXPECT_EQ(answer.Header("Connection"), "Close");
    const std::string path = docs.Path() + "hello.txt";
    const int64_t time = FileTime(path);
    EXPECT_EQ(answer.Header("Last-modified"), FormatHttpDate(time));
    EXPECT_EQ(answer.Header("ETag"), CFileResponse::MakeETag(static_cast<int64_t>(kHelloText.size()), time, path));
    EXPECT_FALSE(answer.HasHeader("Content-Range"));
}

TEST_F(ServeFilesTest, HeadAnswersWithTheHeadersOfGetAndNoBody)
{
    // On one kept-alive connection: a body after the HEAD answer would be read as the
    // start of the GET answer that follows it.
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    Start();
    const std::string headHeaders = ScratchFile("headers");
    const std::string getHeaders = ScratchFile("headers");
    const std::string getBody = ScratchFile("body");
    const CurlResult run = RunCurl({"--max-time", kTransferSeconds, "-I", "-H", "Connection: keep-alive", "-D",
                                    headHeaders, "-o", "/dev/null", "-w", "%{num_connects}\n", Url("/range.bin"),
                                    "--next", "--max-time", kTransferSeconds, "-H", "Connection: keep-alive", "-D",
                                    getHeaders, "-o", getBody, "-w", "%{num_connects}\n", Url("/range.bin")},
                                   kRunLimit);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n0\n") << "the GET did not reuse the HEAD's connection";

    const std::vector<Answer> head = ParseHeaderDump(testsupport::GetFile(headHeaders));
    const std::vector<Answer> get = ParseHeaderDump(testsupport::GetFile(getHeaders));
    ASSERT_EQ(head.size(), 1u);
    ASSERT_EQ(get.size(), 1u);
    EXPECT_EQ(head[0].statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(head[0].Header("Content-Length"), std::to_string(kRangeFileLength));
    EXPECT_EQ(testsupport::GetFile(getBody), RangeFileBytes());
    // The same headers in the same order; only the request's own start time may differ.
    ASSERT_EQ(head[0].headers.size(), get[0].headers.size());
    for (size_t i = 0; i < head[0].headers.size(); ++i) {
        EXPECT_EQ(head[0].headers[i].first, get[0].headers[i].first);
        if (head[0].headers[i].first != "Date") {
            EXPECT_EQ(head[0].headers[i].second, get[0].headers[i].second) << head[0].headers[i].first;
        }
    }
}

TEST_F(ServeFilesTest, JapaneseNameIsFoundThroughUtf8AndCp932PercentEncoding)
{
    // 表 ends in the byte 0x5C in CP932, which must not be taken for a path separator.
    const std::string utf8Name = u8"日本語表.txt";
    const std::string cp932Name = "日本語表.txt";
    ASSERT_NE(utf8Name, cp932Name) << "narrow literals are not compiled as CP932";
    const std::string contents = "japanese name\n";
    testsupport::PutFile(docs.Path() + utf8Name, contents);
    Start();

    const struct {
        const char* description;
        std::string target;
    } cases[] = {
        {"UTF-8 bytes", "/" + PercentEncode(utf8Name)},
        {"CP932 bytes", "/" + PercentEncode(cp932Name)},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get(c.target);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, contents);
        EXPECT_EQ(answer.Header("Content-Type"), "text/plain");
        // Inside the server the name is CP932 whichever way it came.
        EXPECT_EQ(FinishedRequest(number++).GetString("RequestInfo::Object", ""), "/" + cp932Name);
    }
}

// --- validators and 304 -------------------------------------------------------------------

TEST_F(ServeFilesTest, ConditionalGetAnswers304OnlyWhileEveryValidatorHolds)
{
    Start();
    const Answer first = Get("/hello.txt");
    ASSERT_EQ(first.status, 200);
    const std::string lastModified = first.Header("Last-modified");
    const std::string etag = first.Header("ETag");
    ASSERT_FALSE(lastModified.empty());
    ASSERT_FALSE(etag.empty());
    const std::string older = FormatHttpDate(FileTime(docs.Path() + "hello.txt") - 3600);

    const struct {
        const char* description;
        std::vector<std::string> headers;
        int status;
    } cases[] = {
        {"If-Modified-Since with the file's date", {"If-Modified-Since: " + lastModified}, 304},
        {"if-modified-since in lower case", {"if-modified-since: " + lastModified}, 304},
        {"If-None-Match with the current tag", {"If-None-Match: " + etag}, 304},
        {"if-none-match in lower case", {"if-none-match: " + etag}, 304},
        {"both validators current", {"If-None-Match: " + etag, "If-Modified-Since: " + lastModified}, 304},
        {"If-Modified-Since before the file's date", {"If-Modified-Since: " + older}, 200},
        {"If-None-Match with another tag", {"If-None-Match: \"0-0:0000\""}, 200},
        {"current tag but an older date", {"If-None-Match: " + etag, "If-Modified-Since: " + older}, 200},
        {"If-Modified-Since that is no date", {"If-Modified-Since: yesterday"}, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = GetWithHeaders("/hello.txt", c.headers);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
        if (c.status == 304) {
            EXPECT_EQ(answer.statusLine, "HTTP/1.1 304 Not Modified");
            EXPECT_EQ(answer.body, "");
            EXPECT_FALSE(answer.HasHeader("Content-Length"));
            // RFC 9110 15.4.5: the validators a 200 would have carried.
            EXPECT_EQ(answer.Header("ETag"), etag);
            EXPECT_EQ(answer.Header("Last-modified"), lastModified);
        } else {
            EXPECT_EQ(answer.body, kHelloText);
        }
    }
}

// --- ranges -------------------------------------------------------------------------------

TEST_F(ServeFilesTest, RangeRequestsServeOneRangeOrTheWholeFile)
{
    Start();
    const Answer plain = Get("/range.bin");
    ASSERT_EQ(plain.status, 200);
    const std::string etag = plain.Header("ETag");
    const std::string lastModified = plain.Header("Last-modified");
    const std::string bytes = RangeFileBytes();

    const struct {
        const char* description;
        std::vector<std::string> headers;
        int first;  // -1: the whole file with 200
        int last;
    } cases[] = {
        {"first-last", {"Range: bytes=100-199"}, 100, 199},
        {"one byte at the start", {"Range: bytes=0-0"}, 0, 0},
        {"the last byte", {"Range: bytes=999-999"}, 999, 999},
        {"last position past the end", {"Range: bytes=990-5000"}, 990, 999},
        {"open-ended", {"Range: bytes=900-"}, 900, 999},
        {"suffix", {"Range: bytes=-100"}, 900, 999},
        {"suffix longer than the file", {"Range: bytes=-2000"}, 0, 999},
        {"header name in lower case", {"range: bytes=100-199"}, 100, 199},
        {"first position at the length: unsatisfiable", {"Range: bytes=1000-"}, -1, -1},
        {"first position past the length", {"Range: bytes=1001-1100"}, -1, -1},
        {"another unit", {"Range: items=0-5"}, -1, -1},
        {"If-Range with the current tag", {"Range: bytes=100-199", "If-Range: " + etag}, 100, 199},
        {"If-Range with the file's date", {"Range: bytes=100-199", "If-Range: " + lastModified}, 100, 199},
        {"If-Range with a stale tag", {"Range: bytes=100-199", "If-Range: \"0-0:0000\""}, -1, -1},
        {"If-Range with an older date",
         {"Range: bytes=100-199", "If-Range: " + FormatHttpDate(FileTime(docs.Path() + "range.bin") - 60)},
         -1,
         -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = GetWithHeaders("/range.bin", c.headers);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        if (c.first < 0) {
            EXPECT_EQ(answer.status, 200);
            EXPECT_EQ(answer.body, bytes);
            EXPECT_FALSE(answer.HasHeader("Content-Range"));
            EXPECT_EQ(answer.Header("Content-Length"), std::to_string(kRangeFileLength));
        } else {
            const int length = c.last - c.first + 1;
            EXPECT_EQ(answer.statusLine, "HTTP/1.1 206 Partial Content");
            EXPECT_EQ(answer.Header("Content-Range"), "bytes " + std::to_string(c.first) + "-" +
                                                          std::to_string(c.last) + "/" +
                                                          std::to_string(kRangeFileLength));
            EXPECT_EQ(answer.Header("Content-Length"), std::to_string(length));
            EXPECT_EQ(answer.Header("Accept-Ranges"), "bytes");
            EXPECT_EQ(answer.body, bytes.substr(static_cast<size_t>(c.first), static_cast<size_t>(length)));
        }
    }
}

// --- status pages and redirects -----------------------------------------------------------

TEST_F(ServeFilesTest, RefusalsAnswerWithTheBuiltInStatusPage)
{
    Start();
    const struct {
        const char* description;
        std::string target;
        std::vector<std::string> extra;
        int status;
        std::string statusText;
        std::string info;
        std::string object;  // as the page must show it
    } cases[] = {
        {"missing file", "/missing.txt", {}, 404, "404 Not Found", "指定されたファイルは存在しません",
         "/missing.txt"},
        {"POST to a file", "/hello.txt", {"-X", "POST"}, 405, "405 Method Not Allowed",
         "対応していないメソッドです", "/hello.txt"},
        {"lower-case method", "/hello.txt", {"-X", "get"}, 405, "405 Method Not Allowed",
         "対応していないメソッドです", "/hello.txt"},
        {"markup in the object is escaped", "/%3Cb%3Ex%26y.txt", {}, 404, "404 Not Found",
         "指定されたファイルは存在しません", "/&lt;b&gt;x&amp;y.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get(c.target, c.extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.statusLine, "HTTP/1.1 " + c.statusText);
        EXPECT_EQ(answer.Header("Content-Type"), "text/html");
        EXPECT_EQ(answer.Header("Content-Length"), std::to_string(answer.body.size()));
        // RFC 9110 15.5.6: only the 405 names the methods the file answers.
        EXPECT_EQ(answer.HasHeader("Allow"), c.status == 405);
        if (c.status == 405) {
            EXPECT_EQ(answer.Header("Allow"), "GET, HEAD");
        }
        EXPECT_NE(answer.body.find("<title>" + c.statusText + "</title>"), std::string::npos) << answer.body;
        EXPECT_NE(answer.body.find("<h1>" + c.statusText + "</h1>"), std::string::npos) << answer.body;
        EXPECT_NE(answer.body.find("<pre>" + c.info + "</pre>"), std::string::npos) << answer.body;
        EXPECT_NE(answer.body.find("Object : " + c.object + "<br>"), std::string::npos) << answer.body;
        EXPECT_NE(answer.body.find("<address>- Tarnwick/1.42 -</address>"), std::string::npos) << answer.body;
        EXPECT_EQ(answer.body.find("<b>"), std::string::npos) << answer.body;
    }
}

// Only the names the server fills are blanked when this request has no value for them; the
// template's own "%" text (an escaped URL, a price) is sent as written.
TEST_F(ServeFilesTest, StatusPageTemplateKeepsThePercentTextItDoesNotFill)
{
    testsupport::TempFolder html;
    settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html.Path());
    testsupport::PutFile(html.Path() + "Response_404.html",
                         "<a href=\"/x%E3%81%82y.html\">100%OFF%</a> %Nothing% [%Method%] [%ScriptCommand%] "
                         "[%Detail%] [%Info%]");
    Start();
    const Answer answer = Get("/missing.txt");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body,
              "<a href=\"/x%E3%81%82y.html\">100%OFF%</a> %Nothing% [GET] [] "
              "[詳細情報はありません。] [指定されたファイルは存在しません]");
}

TEST_F(ServeFilesTest, DirectoryWithoutSlashIsRedirectedToItsFolderUrl)
{
    Start();
    const Answer answer = Get("/sub");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(answer.Header("Location"), "/sub/");
    EXPECT_EQ(answer.Header("Content-Type"), "text/html");
    EXPECT_NE(answer.body.find("<h1>301 Moved Permanently</h1>"), std::string::npos) << answer.body;
    EXPECT_EQ(FinishedRequest(0).GetString("Info", ""), "/sub/ に移動してください");

    // Where it points, the folder's files are found.
    const Answer inner = Get("/sub/inner.txt");
    EXPECT_EQ(inner.status, 200);
    EXPECT_EQ(inner.body, "inner\n");
}

// RFC 9110 10.2.2: Location is a URI reference. A Japanese folder's is its name in UTF-8,
// percent-escaped: python-requests reads the header as text and curl -L follows it, to the
// folder whichever encoding the request came in.
TEST_F(ServeFilesTest, JapaneseFolderWithoutSlashIsRedirectedToAUrlThatClientsFollow)
{
    settings.SetValue("Setting::Path::Path_0::Options::EnableIndex", "1");
    const std::string folder = u8"日本語フォルダ";
    ASSERT_EQ(::mkdir((docs.Path() + folder).c_str(), 0755), 0);
    testsupport::PutFile(docs.Path() + folder + u8"/中身.txt", "inside\n");
    Start();
    const std::string location = "/%e6%97%a5%e6%9c%ac%e8%aa%9e%e3%83%95%e3%82%a9%e3%83%ab%e3%83%80/";
    // The listing names the folder and its file in the page's Shift-JIS.
    const std::string listed = "Index of /日本語フォルダ/";

    const struct {
        const char* description;
        std::string target;
    } cases[] = {
        {"UTF-8", "/" + PercentEncode(folder)},
        {"Shift-JIS", "/" + PercentEncode("日本語フォルダ")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get(c.target);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 301);
        EXPECT_EQ(answer.Header("Location"), location);

        const Answer followed = Get(c.target, {"-L"});
        ASSERT_EQ(followed.run.exitCode, 0) << followed.run.err;
        EXPECT_EQ(followed.status, 200);
        EXPECT_NE(followed.body.find(listed), std::string::npos) << followed.body;
        EXPECT_NE(followed.body.find("中身.txt"), std::string::npos) << followed.body;

        testsupport::ChildProcess python(
            "/usr/bin/python3",
            {"-c",
             "import sys, requests\n"
             "r = requests.get(sys.argv[1], timeout=10)\n"
             "print(r.status_code, len(r.history), r.url)\n",
             Url(c.target)});
        const testsupport::ChildResult run = python.Wait(kRunLimit);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "200 1 " + Url(location) + "\n");
    }
}

// On a port other than 80 a client names the port in Host (RFC 9110 7.2): a VirtualHost
// pattern without a port serves the host on this port, a pattern with another port does not.
TEST_F(ServeFilesTest, VirtualHostWithoutAPortServesItsSiteOnThisPort)
{
    testsupport::TempFolder site;
    testsupport::TempFolder v6;
    testsupport::PutFile(site.Path() + "hello.txt", "virtual host\n");
    testsupport::PutFile(v6.Path() + "hello.txt", "IPv6 literal\n");
    ServeFolder(1, "/", site.Path(), {});
    settings.SetValue("Setting::Path::Path_1::VirtualHost", "*.example.jp");
    ServeFolder(2, "/", v6.Path(), {});
    settings.SetValue("Setting::Path::Path_2::VirtualHost", "[::1]");
    ServeFolder(3, "/", scratch.Path(), {});
    settings.SetValue("Setting::Path::Path_3::VirtualHost", "*.example.jp:1");
    Start();
    const std::string here = ":" + std::to_string(port);

    const struct {
        const char* description;
        std::string url;
        std::vector<std::string> extra;
        const char* body;
    } cases[] = {
        {"named with this port, as a browser does", "http://www.example.jp" + here + "/hello.txt",
         {"--resolve", "www.example.jp" + here + ":127.0.0.1"}, "virtual host\n"},
        {"named without a port", Url("/hello.txt"), {"-H", "Host: www.example.jp"}, "virtual host\n"},
        {"IPv6 literal with this port", Url("/hello.txt"), {"-H", "Host: [::1]" + here}, "IPv6 literal\n"},
        {"another host", Url("/hello.txt"), {"-H", "Host: example.jp" + here}, kHelloText.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Fetch(c.url, c.extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, c.body);
    }
}

TEST_F(ServeFilesTest, AnswerReadWholeCountsAsFinishedThoughTheClientHangsUpAtOnce)
{
    // curl closes as soon as the last announced byte is in, often before the server has
    // looked at the socket again: that is no broken transfer. Many rounds, as it is a race.
    constexpr int kRounds = 20;
    settings.SetValue("Setting::Log::MaxThreadLog", std::to_string(kRounds));
    Start();
    for (int i = 0; i < kRounds; ++i) {
        SCOPED_TRACE(i);
        const Answer answer = Get(i % 2 ? "/hello.txt" : "/missing.txt");
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        const CConfigAccessor finished = FinishedRequest(i);
        EXPECT_EQ(finished.GetString("Info", ""),
                  i % 2 ? "正常に終了しました" : "指定されたファイルは存在しません");
        EXPECT_EQ(finished.GetString("ResponseInfo::ResponseCode", ""), i % 2 ? "200" : "404");
    }
}

// A file that a writer removes between the request's lookup and the opening of the file
// is not found, as it would be a moment later: no request ends in the emergency page.
TEST_F(ServeFilesTest, FileRemovedWhileItIsLookedUpIs404)
{
    // Requests enough for the removal to fall between lookup and opening many times over.
    constexpr int kRounds = 1500;
    // Yields the writer makes while the file is there: about the time it takes to write it.
    constexpr int kYieldsWhileThere = 20;
    Start();
    const std::string file = docs.Path() + "race.txt";
    const std::string next = docs.Path() + "race.next";
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load()) {
            testsupport::PutFile(next, "racing\n");
            ::rename(next.c_str(), file.c_str());
            // About as long there as gone, so that requests meet it either way.
            for (int i = 0; i < kYieldsWhileThere; ++i)
                std::this_thread::yield();
            ::unlink(file.c_str());
        }
    });
    std::map<int, int> statuses;
    for (int round = 0; round < kRounds; ++round)
        ++statuses[RawGet("/race.txt").status];
    stop = true;
    writer.join();
    std::string counts;
    for (const auto& status : statuses)
        counts += std::to_string(status.first) + ": " + std::to_string(status.second) + "\n";
    EXPECT_EQ(statuses.size(), 2u) << counts;
    EXPECT_GT(statuses[200], 0) << counts;
    EXPECT_GT(statuses[404], 0) << counts;
}

// A client that leaves in the middle of the body has had the status line and part of the
// body: the records say so, with the bytes that went out, not an answer it never saw.
TEST_F(ServeFilesTest, ClientThatHangsUpMidBodyIsRecordedWithTheStatusItGotAndTheBytesSent)
{
    {
        const int fd = ::open((docs.Path() + "large.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        // Sparse: far more than the socket buffers hold, nothing on the disk.
        ASSERT_EQ(::ftruncate(fd, kLargeFileLength), 0);
        ::close(fd);
    }
    settings.SetValue("Setting::Log::LogFormatNoTime", "%ResponseCode% %ResponseText% %SendSize% [%Info%]");
    Start();
    const int fd = servertest::ConnectAndSend(port, "GET /large.bin HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_GE(fd, 0);
    constexpr size_t kReadBeforeLeaving = 2 * 1024 * 1024 + 100;
    std::string received;
    char chunk[65536];
    for (ssize_t n = 1; n > 0 && received.size() < kReadBeforeLeaving && servertest::PollReadable(fd, 10000);) {
        n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n > 0)
            received.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    ASSERT_GE(received.size(), kReadBeforeLeaving);
    ASSERT_EQ(received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

    const CConfigAccessor finished = FinishedRequest(0);
    EXPECT_EQ(finished.GetString("ResponseInfo::ResponseCode", ""), "200");
    EXPECT_EQ(finished.GetString("ResponseInfo::ResponseText", ""), "200 OK");
    const std::string info = finished.GetString("Info", "");
    EXPECT_EQ(info.rfind("データ送信中に", 0), 0u) << info;
    const std::string sent = finished.GetString("SendSize", "");
    EXPECT_GE(std::atoll(sent.c_str()), static_cast<long long>(received.size()));
    EXPECT_LT(std::atoll(sent.c_str()), static_cast<long long>(kLargeFileLength));

    EXPECT_EQ(WrittenRequestLog(), "200 200 OK " + sent + " [" + info + "]\r\n");
}

// --- connections --------------------------------------------------------------------------

// Three URLs on one curl command line: with keep-alive curl sends them over one connection.
std::vector<std::string> ThreeTransfers(const std::string& url)
{
    return {"--max-time", kTransferSeconds, "-H", "Connection: keep-alive", "-w", "%{num_connects}\n",
            "-o", "/dev/null", "-o", "/dev/null", "-o", "/dev/null", url, url, url};
}

TEST_F(ServeFilesTest, KeepAliveCarriesSeveralRequestsOnOneConnection)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    Start();
    const CurlResult run = RunCurl(ThreeTransfers(Url("/hello.txt")), kRunLimit);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n0\n0\n");

    const Answer answer = Get("/hello.txt", {"-H", "Connection: keep-alive"});
    EXPECT_EQ(answer.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(answer.Header("Keep-Alive"), "timeout=20, max=5");
}

TEST_F(ServeFilesTest, LargeBodiesArriveWholeInFullRangesAndOnKeptConnections)
{
    // Past its first chunk an unlimited body leaves by another route than the first chunk
    // and than a limited or secure one; every byte must still be in its place.
    const std::string bytes = servertest::Pattern(700000);
    testsupport::PutFile(docs.Path() + "large.bin", bytes);
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    Start();

    const Answer whole = Get("/large.bin");
    ASSERT_EQ(whole.status, 200) << whole.run.err;
    EXPECT_TRUE(whole.body == bytes) << "body of " << whole.body.size() << " bytes differs";
    const Answer range = Get("/large.bin", {"-H", "Range: bytes=100000-650000"});
    ASSERT_EQ(range.status, 206);
    EXPECT_TRUE(range.body == bytes.substr(100000, 550001)) << range.body.size() << " bytes";

    const CurlResult kept = RunCurl(ThreeTransfers(Url("/large.bin")), kRunLimit);
    ASSERT_EQ(kept.exitCode, 0) << kept.err;
    EXPECT_EQ(kept.out, "1\n0\n0\n");
}

TEST_F(ServeFilesTest, WithoutKeepAliveEveryRequestHasItsOwnConnection)
{
    Start();
    const CurlResult run = RunCurl(ThreeTransfers(Url("/hello.txt")), kRunLimit);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n1\n1\n");

    const Answer answer = Get("/hello.txt", {"-H", "Connection: keep-alive"});
    EXPECT_EQ(answer.Header("Connection"), "Close");
    EXPECT_FALSE(answer.HasHeader("Keep-Alive"));
}

TEST_F(ServeFilesTest, HttpsServesFilesWithAThrowAwayCertificate)
{
    const servertest::TestCertificate& certificate = servertest::SharedTestCertificate();
    const int securePort = reservedSecurePort.Port();
    settings.SetValue("Setting::Basic::EnableSSL", "1");
    settings.SetValue("Setting::SSL::Port", std::to_string(securePort));
    settings.SetValue("Setting::SSL::Certificate", certificate.CertificateFile());
    settings.SetValue("Setting::SSL::PrivateKey",
                      certificate.WriteKey("e2e-key.pem", servertest::KeyCipher::Aes256Cbc, "e2e pass"));
    settings.SetValue("Setting::SSL::Password", "e2e pass");
    Start();

    const Answer answer = Fetch("https://127.0.0.1:" + std::to_string(securePort) + "/hello.txt", {"-k"});
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, kHelloText);
    EXPECT_EQ(FinishedRequest(0).GetString("Protocol", ""), "https");

    // The plain port goes on serving beside it.
    const Answer plain = Get("/hello.txt");
    EXPECT_EQ(plain.body, kHelloText);
    EXPECT_EQ(FinishedRequest(1).GetString("Protocol", ""), "http");
}

TEST_F(ServeFilesTest, ConnectionBeyondMaxConnectGetsTheFixed503Answer)
{
    settings.SetValue("Setting::Basic::MaxConnect", "0");
    Start();
    // The request is never read: closing on it unread must not reset the connection
    // before the client has the answer. Several rounds and a long request, as it is a race.
    constexpr int kRounds = 10;
    const std::string padding(16000, 'x');
    for (int i = 0; i < kRounds; ++i) {
        SCOPED_TRACE(i);
        const Answer answer = Get("/hello.txt", {"-H", "X-Padding: " + padding});
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.statusLine, "HTTP/1.0 503 Service Unavailable");
        EXPECT_EQ(answer.Header("Server"), "Tarnwick/1.42");
        EXPECT_EQ(answer.Header("Content-Type"), "text/html");
        EXPECT_EQ(answer.Header("Connection"), "Close");
        EXPECT_FALSE(answer.HasHeader("Content-Length"));
        EXPECT_EQ(answer.body, kOverloadAnswerBody);
    }
}

TEST_F(ServeFilesTest, ServerInfoCountsTheRequestsAndBytesOfTheTraffic)
{
    Start();
    // curl's own counts of what went each way.
    const std::vector<std::string> measure = {"-w", "%{size_request} %{size_header} %{size_download}"};
    int64_t received = 0;
    int64_t sent = 0;
    const char* targets[] = {"/hello.txt", "/range.bin", "/missing.txt", "/hello.txt"};
    for (const char* target : targets) {
        const Answer answer = Get(target, measure);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        long long request = 0, header = 0, body = 0;
        ASSERT_EQ(std::sscanf(answer.run.out.c_str(), "%lld %lld %lld", &request, &header, &body), 3)
            << answer.run.out;
        received += request;
        sent += header + body;
    }
    const CConfigAccessor info = core->GetInfoAccessor();
    // Published once a second.
    const bool published = WaitUntil(
        [&] {
            return info.GetInt("AllConnected", 0) == 4 && InfoNumber(info, "AllSendSize") == sent &&
                   InfoNumber(info, "AllRecvSize") == received;
        },
        5s);
    EXPECT_TRUE(published) << "AllConnected " << info.GetInt("AllConnected", 0) << ", AllSendSize "
                           << InfoNumber(info, "AllSendSize") << " (curl: " << sent << "), AllRecvSize "
                           << InfoNumber(info, "AllRecvSize") << " (curl: " << received << ")";
    EXPECT_EQ(info.GetInt("Connected1Hour", 0), 4);
    EXPECT_EQ(InfoNumber(info, "SendSize1Hour"), sent);
}

TEST_F(ServeFilesTest, StopWhileADownloadRunsEndsTheDownloadAndTheCore)
{
    {
        const int fd = ::open((docs.Path() + "large.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        // Sparse: large to the server, nothing on the disk.
        ASSERT_EQ(::ftruncate(fd, kLargeFileLength), 0);
        ::close(fd);
    }
    Start();
    CurlRunner download({"--max-time", "30", "--limit-rate", "8M", "-o", "/dev/null", "-w", "%{size_download}",
                         Url("/large.bin")});
    // The worker is sending once its request shows that text.
    const bool sending = WaitUntil([&] {
        const std::unique_ptr<CConfigClass> context = servertest::CopyContext(core->GetContext());
        const CConfigAccessor threads = context->GetAccessor("Threads");
        std::vector<std::string> names;
        threads.GetSections(names);
        for (const std::string& name : names) {
            const std::string info = threads.GetSubAccessor(name).GetString("Info", "");
            if (info == "データの送信を開始しています..." || info.rfind("送信中", 0) == 0)
                return true;
        }
        return false;
    });
    ASSERT_TRUE(sending);
    ASSERT_FALSE(download.HasEnded());

    const auto stopStarted = std::chrono::steady_clock::now();
    core.reset();
    const auto stopTook = std::chrono::steady_clock::now() - stopStarted;
    EXPECT_LT(stopTook, 5s) << "the core's destructor waited on the connection";

    const CurlResult result = download.Wait(10s);
    EXPECT_FALSE(result.timedOut) << "curl went on after the server stopped";
    // 18: the transfer ended short of the announced length.
    EXPECT_EQ(result.exitCode, 18) << result.err;
    EXPECT_LT(std::atoll(result.out.c_str()), static_cast<long long>(kLargeFileLength));
}

// --- authentication -----------------------------------------------------------------------

TEST_F(ServeFilesTest, BasicAuthenticationLetsOnlyTheListedAccountIn)
{
    settings.SetValue("Setting::Path::Path_0::Info", "Members Only");
    settings.SetValue("Setting::Path::Path_0::Options::EnableAuthenticate", "1");
    settings.SetValue("Setting::Path::Path_0::Users::alice", "alice");
    settings.SetValue("Setting::User::Enable::User_0::User", "alice");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "s3cret");
    settings.SetValue("Setting::User::Disable::User_0::User", "bob");
    settings.SetValue("Setting::User::Disable::User_0::Passwd", "bobpass");
    Start();

    const struct {
        const char* description;
        std::vector<std::string> extra;
        int status;
    } cases[] = {
        {"right password", {"-u", "alice:s3cret"}, 200},
        {"wrong password", {"-u", "alice:wrong-pw"}, 401},
        {"no credentials", {}, 401},
        {"user name in other case", {"-u", "Alice:s3cret"}, 401},
        {"disabled account", {"-u", "bob:bobpass"}, 401},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get("/hello.txt", c.extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
        if (c.status == 200) {
            EXPECT_EQ(answer.body, kHelloText);
        } else {
            EXPECT_EQ(answer.statusLine, "HTTP/1.1 401 Unauthorized");
            EXPECT_EQ(answer.Header("WWW-Authenticate"), "Basic realm=\"Members Only\"");
            EXPECT_EQ(answer.Header("Content-Type"), "text/html");
            EXPECT_NE(answer.body.find("<pre>認証が必要です</pre>"), std::string::npos) << answer.body;
            EXPECT_EQ(answer.body.find("wrong-pw"), std::string::npos) << "the password reached the page";
        }
    }
}

// A browser sends a Japanese user name and password in UTF-8; the account is stored in
// Shift-JIS, as every text of the settings is.
TEST_F(ServeFilesTest, BasicAuthenticationTakesAJapaneseAccountInUtf8AndInShiftJis)
{
    settings.SetValue("Setting::Path::Path_0::Options::EnableAuthenticate", "1");
    settings.SetValue("Setting::Path::Path_0::Users::山田", "山田");
    settings.SetValue("Setting::User::Enable::User_0::User", "山田");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "パスワード");
    Start();

    const struct {
        const char* description;
        std::string credentials;
        int status;
    } cases[] = {
        {"UTF-8, as browsers send it", u8"山田:パスワード", 200},
        {"Shift-JIS", "山田:パスワード", 200},
        {"UTF-8 with a wrong password", u8"山田:パスワート", 401},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get("/hello.txt", {"-u", c.credentials});
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
        if (c.status == 200) {
            EXPECT_EQ(answer.body, kHelloText);
        }
    }
}

// --- the request log ----------------------------------------------------------------------

TEST_F(ServeFilesTest, EachRequestIsLoggedWithItsSizesAndOutcome)
{
    Start();
    const std::vector<std::string> measure = {"-w", "%{size_request} %{size_header} %{size_download}"};
    const struct {
        std::string target;
        std::string info;
    } cases[] = {
        {"/hello.txt", "正常に終了しました"},
        {"/missing.txt", "指定されたファイルは存在しません"},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        const Answer answer = Get(c.target, measure);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        long long request = 0, header = 0, body = 0;
        ASSERT_EQ(std::sscanf(answer.run.out.c_str(), "%lld %lld %lld", &request, &header, &body), 3);
        expected.push_back("<127.0.0.1> (" + std::to_string(request) + "," + std::to_string(header + body) +
                           ") [" + c.info + "] GET " + c.target);
    }

    // The core writes the queued lines out once a second.
    const std::string logFile = logs.Path() + "request.txt";
    std::vector<std::string> lines;
    const bool flushed = WaitUntil(
        [&] {
            lines = SplitLines(testsupport::GetFile(logFile), LineEnd::CrLf);
            return lines.size() >= expected.size();
        },
        5s);
    ASSERT_TRUE(flushed) << "no request log in " << logFile;
    ASSERT_EQ(lines.size(), expected.size());
    const std::regex timePrefix("^\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\] $");
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(cases[i].target);
        // "[hh:mm:ss] " and then the request's own fields.
        ASSERT_GT(lines[i].size(), 11u);
        EXPECT_TRUE(std::regex_match(lines[i].substr(0, 11), timePrefix)) << lines[i];
        EXPECT_EQ(lines[i].substr(11), expected[i]);
    }
    // Lines end with CR LF in the file.
    EXPECT_NE(testsupport::GetFile(logFile).find("GET /hello.txt\r\n"), std::string::npos);
}

}  // namespace
