#include "responses/CGIResponse.h"

#include "http/Response.h"
#include "http/SystemResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"
#include "ConfigClass.h"
#include "SettingsSchema.h"
#include "TempFolder.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kNoDetail[] = "詳細情報はありません。";
const char kNoHeader[] = "CGIエラー : CGIヘッダーが出力されませんでした";

CByteBuffer BufferOf(const std::string& bytes)
{
    CByteBuffer buffer;
    buffer.Append(bytes.data(), static_cast<int32_t>(bytes.size()));
    return buffer;
}

// --- the header block ---------------------------------------------------------------------

TEST(CGIResponseHeaderEnd, CutsTheBlockAtWhicheverBlankLineComesFirst)
{
    const std::string block4096 = "X: " + std::string(4096 - 3 - 4, 'a');  // ends with its CR LF CR LF at 4096
    const struct {
        const char* description;
        std::string output;
        std::string header;
        std::string rest;
    } cases[] = {
        {"LF LF", "Content-Type: text/html\n\nhello", "Content-Type: text/html", "hello"},
        {"CR LF CR LF", "A: 1\r\nB: 2\r\n\r\nbody", "A: 1\r\nB: 2", "body"},
        {"LF LF before CR LF CR LF", "A: 1\n\nB\r\n\r\nC", "A: 1", "B\r\n\r\nC"},
        {"CR LF CR LF before LF LF", "A: 1\r\n\r\nB\n\nC", "A: 1", "B\n\nC"},
        {"blank line first", "\n\nbody", "", "body"},
        {"nothing after the block", "A: 1\n\n", "A: 1", ""},
        {"no blank line", "A: 1\nbody", "", "A: 1\nbody"},
        {"empty output", "", "", ""},
        {"a zero byte ends the search", std::string("A: 1\n\0\n\nx", 9), "", std::string("A: 1\n\0\n\nx", 9)},
        {"block ending at byte 4096", block4096 + "\r\n\r\nrest", block4096, "rest"},
        {"block ending at byte 4097", "X" + block4096 + "\r\n\r\nrest", "", "X" + block4096 + "\r\n\r\nrest"},
        {"LF LF ending at byte 4096", block4096 + "xx\n\nrest", block4096 + "xx", "rest"},
        {"LF LF ending at byte 4097", block4096 + "xxx\n\nrest", "", block4096 + "xxx\n\nrest"},
    };
    for (const auto& c : cases) {
        COutputSpool output;
        output.Append(c.output.data(), static_cast<int64_t>(c.output.size()));
        EXPECT_EQ(CCGIResponse::FindHeaderEnd(output), c.header) << c.description;
        EXPECT_EQ(output.ReadAll(), c.rest) << c.description;
    }
}

struct ParsedHeader {
    std::string status;
    std::string contentType;
    std::string location;
    std::string cgiHeader;
    int leaves = 0;
};

ParsedHeader Parse(const std::string& header)
{
    CConfigClass tree;
    const CConfigAccessor node = tree.GetAccessor("Option");
    CCGIResponse::ParseHeaderLines(node, header);
    return {node.GetString("Status", "(none)"), node.GetString("Content-Type", "(none)"),
            node.GetString("Location", "(none)"), node.GetString("CGIHeader", "(none)"), node.GetKeyCount()};
}

TEST(CGIResponseHeaderLines, TakesTheThreeNamedLinesInAnyCaseAndKeepsTheirBlank)
{
    const ParsedHeader parsed = Parse("status: 404 Not Found\r\nCONTENT-TYPE: text/plain\r\nlocation: /next");
    EXPECT_EQ(parsed.status, " 404 Not Found");
    EXPECT_EQ(parsed.contentType, " text/plain");
    EXPECT_EQ(parsed.location, " /next");
    EXPECT_EQ(parsed.cgiHeader, "(none)");
    EXPECT_EQ(parsed.leaves, 3);
}

TEST(CGIResponseHeaderLines, LaterNamedLineReplacesTheEarlier)
{
    EXPECT_EQ(Parse("Content-Type: a\nContent-Type: b").contentType, " b");
}

TEST(CGIResponseHeaderLines, OtherLinesPassInOrderWithDuplicates)
{
    const ParsedHeader parsed = Parse("Set-Cookie: a=1\nContent-Type: text/html\nSet-Cookie: b=2\nX-Mode: a");
    EXPECT_EQ(parsed.cgiHeader, "Set-Cookie:  a=1\r\nSet-Cookie:  b=2\r\nX-Mode:  a\r\n");
}

TEST(CGIResponseHeaderLines, AppendsToWhatTheNodeHolds)
{
    CConfigClass tree;
    const CConfigAccessor node = tree.GetAccessor("Option");
    node.SetString("CGIHeader", "A: 1\r\n");
    CCGIResponse::ParseHeaderLines(node, "B: 2");
    EXPECT_EQ(node.GetString("CGIHeader", ""), "A: 1\r\nB:  2\r\n");
}

TEST(CGIResponseHeaderLines, FramingLinesOfTheProgramAreDropped)
{
    const struct {
        const char* description;
        std::string header;
    } cases[] = {
        {"Content-Length", "Content-Length: 1"},
        {"lower case", "content-length: 1"},
        {"blank before the colon", "Content-Length : 1"},
        {"Transfer-Encoding", "Transfer-Encoding: chunked"},
        {"Connection", "CONNECTION: close"},
    };
    for (const auto& c : cases) {
        const ParsedHeader parsed = Parse("X-Before: 1\n" + c.header + "\nX-After: 2");
        EXPECT_EQ(parsed.cgiHeader, "X-Before:  1\r\nX-After:  2\r\n") << c.description;
    }
}

TEST(CGIResponseHeaderLines, MalformedPiecesAreSkippedOrMadeSafe)
{
    const struct {
        const char* description;
        std::string header;
        std::string cgiHeader;
    } cases[] = {
        {"no colon", "just text\nA: 1", "A:  1\r\n"},
        {"empty pieces", "\n\nA: 1\n\n", "A:  1\r\n"},
        {"no name", ": value\nA: 1", "A:  1\r\n"},
        {"CR at both ends trimmed", "\rA: 1\r\r\nB: 2", "A:  1\r\nB:  2\r\n"},
        {"CR inside a value becomes a blank", "A: 1\rInjected: yes", "A:  1 Injected: yes\r\n"},
        {"CR inside a name becomes a blank", "A\rB: 1", "A B:  1\r\n"},
        {"a colon inside the value stays", "Link: <http://x/>", "Link:  <http://x/>\r\n"},
        {"empty value", "A:", "A: \r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.header).cgiHeader, c.cgiHeader) << c.description;
}

TEST(CGIResponseHeaderLines, NoLeavesFromNothingUsable)
{
    EXPECT_EQ(Parse("").leaves, 0);
    EXPECT_EQ(Parse("no colon at all\nnor here").leaves, 0);
    EXPECT_EQ(Parse("Content-Length: 5").leaves, 0);
}

// --- the response on a core -------------------------------------------------------------

// Shows the body as it is stored for the program.
class ExposedCGIResponse : public CCGIResponse {
public:
    using CCGIResponse::CCGIResponse;
    CByteBuffer& Input() { return GetProcess().GetInput(); }
};

// The served folder, below the server root; the path entry maps "/" to it.
const char kFolder[] = "CGIResponse/";

class CGIResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", Local(""));
        settings.SetValue("Setting::Path::Path_0::Options::EnableSSICGI", "1");
        settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html_.Path());
        testsupport::PutFile(html_.Path() + "Response_default.html", "%ResponseText%|%Info%|%Detail%");
        StartCore();
        ASSERT_EQ(::mkdir(Local("").c_str(), 0755), 0);
    }

    void TearDown() override
    {
        connection_.ClosePeer();
        CoreFixture::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(Local(""), ignored);
    }

    static std::string Local(const std::string& name) { return servertest::ServerRoot() + kFolder + name; }

    // A shell script in the served folder that writes `output` to its standard output,
    // `errors` to its standard error and exits with `status`; its command line is that of
    // the request.
    void Script(const std::string& output, const std::string& errors = "", int status = 0)
    {
        testsupport::PutFile(Local("out.bin"), output);
        testsupport::PutFile(Local("err.bin"), errors);
        WriteScript("cat '" + Local("out.bin") + "'\ncat '" + Local("err.bin") + "' >&2\nexit " +
                    std::to_string(status) + "\n");
    }

    void WriteScript(const std::string& text)
    {
        testsupport::PutFile(Local("t.cgi"), text);
        command_ = "/bin/sh " + Local("t.cgi");
    }

    // Constructs the response as the driver does and runs it through the pipeline up to
    // Build: a replacement named by the constructor or Build takes its place and is built
    // in turn.
    std::unique_ptr<CResponse> Built(const std::string& method, const std::string& body = "",
                                     const std::string& object = "/t.cgi", const std::string& headers = "")
    {
        record_ = &NewRecord();
        std::string head = method + " " + object + " HTTP/1.1\r\nHost: test\r\n" + headers;
        if (!body.empty())
            head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        const CHttpRequest& request = record_->ParseRequest(head + "\r\n");
        const CRequestPath& path = NewPath(request.GetObject());
        record_->SetScriptCommand(command_);
        std::unique_ptr<CResponse> response =
            std::make_unique<CCGIResponse>(core.get(), *record_, path, connection_.state);
        std::unique_ptr<CResponse> replacement = response->TakeReplacement();
        replacedByConstructor_ = replacement != nullptr;
        replacedByBuild_ = false;
        if (!replacement) {
            response->BeginReceive();
            CByteBuffer chunk = BufferOf(body);
            if (!body.empty())
                response->ReceiveData(chunk);
            response->Build();
            replacement = response->TakeReplacement();
            replacedByBuild_ = replacement != nullptr;
        }
        if (replacement) {
            response = std::move(replacement);
            response->Build();
        }
        return response;
    }

    // The answer of the last request as the controller sees it in the request's node.
    CConfigAccessor Published() { return record_->GetThreadView().GetSubAccessor("ResponseInfo"); }
    int Code()
    {
        record_->PublishResponse();
        return Published().GetInt("ResponseCode", 0);
    }
    std::string Text()
    {
        record_->PublishResponse();
        return Published().GetString("ResponseText", "");
    }
    std::string HeaderValue(const std::string& name)
    {
        record_->PublishResponse();
        return Published().GetString("Options::" + name, "(none)");
    }
    std::string CgiHeader()
    {
        record_->PublishResponse();
        return Published().GetString("CGIHeader", "(none)");
    }

    // The whole body in chunks of `chunk` bytes.
    static std::string Body(CResponse& response, int32_t chunk = 4096)
    {
        std::string body;
        CByteBuffer buffer(chunk);
        for (int n = response.GetSendData(buffer); n > 0; n = response.GetSendData(buffer)) {
            body.append(buffer.GetData(), static_cast<size_t>(n));
            buffer.SetLength(chunk);
        }
        return body;
    }

    static std::string Info(CResponse& response)
    {
        auto* status = dynamic_cast<CSystemResponse*>(&response);
        return status == nullptr ? "(not a status response)" : status->GetInfo();
    }

    testsupport::TempFolder html_;
    CRequestRecord* record_ = nullptr;
    std::string command_;
    bool replacedByConstructor_ = false;
    bool replacedByBuild_ = false;
    servertest::TestConnection connection_;  // the client's end stays open until a test closes it
};

TEST_F(CGIResponseTest, ConstructorRefusesMissingTargetAndOtherMethods)
{
    Script("Content-Type: text/plain\n\nx");
    const struct {
        const char* description;
        std::string method;
        std::string object;
        int code;
        std::string info;
    } cases[] = {
        {"missing target", "GET", "/absent.cgi", 404, "指定されたファイルは存在しません"},
        {"PUT", "PUT", "/t.cgi", 405, "対応していないメソッドです"},
        {"DELETE", "DELETE", "/t.cgi", 405, "対応していないメソッドです"},
        {"methods are compared in their case", "get", "/t.cgi", 405, "対応していないメソッドです"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::unique_ptr<CResponse> response = Built(c.method, "", c.object);
        EXPECT_TRUE(replacedByConstructor_);
        EXPECT_EQ(Code(), c.code);
        EXPECT_EQ(Info(*response), c.info);
        EXPECT_EQ(Body(*response), GetStatusText(c.code) + "|" + c.info + "|" + kNoDetail);
        EXPECT_EQ(HeaderValue("Allow"), c.code == 405 ? "GET, HEAD, POST" : "(none)");
    }
}

TEST_F(CGIResponseTest, HeadAndPostRunTheProgram)
{
    Script("Content-Type: text/plain\n\nran");
    for (const char* method : {"GET", "HEAD", "POST"}) {
        const std::unique_ptr<CResponse> response = Built(method);
        EXPECT_FALSE(replacedByBuild_) << method;
        EXPECT_EQ(Body(*response), "ran") << method;
    }
}

TEST_F(CGIResponseTest, ContentTypeAndBlankLineGive200WithTheRestAsBody)
{
    Script("Content-Type: text/html\n\nhello");
    const std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_EQ(Code(), 200);
    EXPECT_EQ(HeaderValue("Content-Type"), " text/html");
    EXPECT_EQ(response->GetContentLength(), 5);
    EXPECT_EQ(Body(*response), "hello");
    EXPECT_EQ(CgiHeader(), "");
    // The header writer sends the program's value as it came, after one blank of its own.
    EXPECT_NE(BuildHeaderText(response->Answer()).find("\r\nContent-Type:  text/html\r\n"),
              std::string::npos);
}

TEST_F(CGIResponseTest, StatusLineSetsTheCodeWithTheStandardText)
{
    const struct {
        const char* description;
        std::string status;
        int code;
        std::string text;
    } cases[] = {
        {"404 with its own phrase", "404 Gone Fishing", 404, "404 Not Found"},
        {"leading blanks", "   201", 201, "201 Created"},
        {"code run into text", "500x", 500, "500 Internal Server Error"},
        {"99", "99 Low", 200, "200 OK"},
        {"no number", "abc", 200, "200 OK"},
        {"599", "599", 599, "599 UNKNOWN"},
        // A 1xx is interim, and no status line carries more than three digits.
        {"100", "100 Continue", 200, "200 OK"},
        {"199", "199", 200, "200 OK"},
        {"600", "600", 200, "200 OK"},
        {"1000", "1000", 200, "200 OK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Script("Status: " + c.status + "\r\nContent-Type: text/plain\r\n\r\nx");
        const std::unique_ptr<CResponse> response = Built("GET");
        EXPECT_FALSE(replacedByBuild_);
        EXPECT_EQ(Code(), c.code);
        EXPECT_EQ(Text(), c.text);
        EXPECT_EQ(Body(*response), "x");
    }
}

TEST_F(CGIResponseTest, StatusWithoutContentSendsNoBody)
{
    for (const int code : {204, 304}) {
        Script("Status: " + std::to_string(code) + "\nContent-Type: text/plain\n\nbody");
        const std::unique_ptr<CResponse> response = Built("GET");
        EXPECT_EQ(Code(), code);
        EXPECT_EQ(response->GetContentLength(), 0) << code;
        EXPECT_EQ(Body(*response), "") << code;
    }
}

TEST_F(CGIResponseTest, LocationRedirectsWithTheProgramsOtherHeaders)
{
    const struct {
        const char* description;
        std::string header;
        int code;
    } cases[] = {
        {"Location alone", "Location: /next\nSet-Cookie: a=1\n", 302},
        {"with Status 303", "Status: 303 See Other\nLocation: /next\nSet-Cookie: a=1\n", 303},
        {"with Status 301", "Location: /next\nStatus: 301\nSet-Cookie: a=1\n", 301},
        {"with Status 404", "Status: 404\nLocation: /next\nSet-Cookie: a=1\n", 302},
        {"with Content-Type", "Content-Type: text/plain\nLocation: /next\nSet-Cookie: a=1\n", 302},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Script(c.header + "\nthe program's body");
        const std::unique_ptr<CResponse> response = Built("GET");
        EXPECT_TRUE(replacedByBuild_);
        EXPECT_EQ(Code(), c.code);
        EXPECT_EQ(HeaderValue("Location"), " /next");
        EXPECT_EQ(HeaderValue("Content-Type"), "text/html");
        EXPECT_EQ(Info(*response), " /next に移動してください");
        EXPECT_EQ(CgiHeader(), "Set-Cookie:  a=1\r\n");
        const std::string body = Body(*response);
        EXPECT_EQ(body, GetStatusText(c.code) + "| /next に移動してください|" + kNoDetail);
        EXPECT_EQ(body.find("the program's body"), std::string::npos);
        const std::string header = BuildHeaderText(response->Answer());
        EXPECT_NE(header.find("\r\nLocation:  /next\r\n"), std::string::npos);
        EXPECT_NE(header.find("\r\nSet-Cookie:  a=1\r\n\r\n"), std::string::npos) << header;
    }
}

TEST_F(CGIResponseTest, MissingHeaderGivesTheHeaderErrorWithStandardError)
{
    const struct {
        const char* description;
        std::string output;
    } cases[] = {
        {"no blank line", "Content-Type: text/plain\nhello"},
        {"no output", ""},
        {"no header lines", "\n\nhello"},
        {"no line with a colon", "hello\n\nworld"},
        {"neither Location nor Content-Type", "X-Mode: a\nStatus: 200\n\nhello"},
        {"empty Content-Type", "Content-Type:\n\nhello"},
        {"header block past 4096 bytes", "X: " + std::string(4096, 'a') + "\nContent-Type: text/plain\n\nhello"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Script(c.output, "line one\n<b>two</b>");
        const std::unique_ptr<CResponse> response = Built("GET");
        EXPECT_TRUE(replacedByBuild_);
        EXPECT_EQ(Code(), 500);
        EXPECT_EQ(Info(*response), kNoHeader);
        EXPECT_EQ(CgiHeader(), "(none)");
        // The program's text is shown, never taken for markup.
        EXPECT_EQ(Body(*response), GetStatusText(500) + "|" + kNoHeader +
                                       "|-- 以下、CGIプログラムによるエラー情報 --\n\nline one\n&lt;b&gt;two&lt;/b&gt;");
    }
}

TEST_F(CGIResponseTest, ErrorDetailWithoutStandardErrorAndUpToItsFirstZeroByte)
{
    Script("no header");
    std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_EQ(Body(*response), GetStatusText(500) + "|" + kNoHeader + "|" + kNoDetail);

    Script("no header", std::string("before\0after", 12));
    response = Built("GET");
    EXPECT_EQ(Body(*response),
              GetStatusText(500) + "|" + kNoHeader + "|-- 以下、CGIプログラムによるエラー情報 --\n\nbefore");
}

TEST_F(CGIResponseTest, FloodedStandardErrorShowsOnlyItsStartWithWholeCharacters)
{
    const std::string prefix = "|-- 以下、CGIプログラムによるエラー情報 --\n\n";
    // One ASCII byte, then two-byte characters: a cut at 65536 bytes would halve one.
    std::string flood = "x";
    for (int i = 0; i < 40000; ++i)
        flood += "漢";
    Script("no header", flood);
    const std::unique_ptr<CResponse> response = Built("GET");
    const std::string body = Body(*response);
    const std::string::size_type at = body.find(prefix);
    ASSERT_NE(at, std::string::npos);
    const std::string detail = body.substr(at + prefix.size());
    EXPECT_EQ(detail.size(), 65535u);
    EXPECT_EQ(detail.substr(0, 3), "x漢");
    EXPECT_EQ(detail.substr(detail.size() - 2), "漢");
}

TEST_F(CGIResponseTest, RunnerFailureGivesTheExecutionError)
{
    Script("Content-Type: text/plain\n\nx");
    command_ = "";
    std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_TRUE(replacedByBuild_);
    EXPECT_EQ(Code(), 500);
    EXPECT_EQ(Info(*response), "CGI実行エラー : プロセスの起動に失敗しました");

    command_ = Local("no-such-program");
    response = Built("GET");
    EXPECT_EQ(Info(*response), "CGI実行エラー : プロセスの起動に失敗しました");
}

TEST_F(CGIResponseTest, StandardErrorOfAFailingProgramIsTheDetail)
{
    WriteScript("echo 'it broke: 壊れた' >&2\nexit 3\n");
    const std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_EQ(Code(), 500);
    EXPECT_EQ(Body(*response),
              GetStatusText(500) + "|" + kNoHeader + "|-- 以下、CGIプログラムによるエラー情報 --\n\nit broke: 壊れた\n");
}

TEST_F(CGIResponseTest, ProgramRunsInTheScriptsFolder)
{
    WriteScript("printf 'Content-Type: text/plain\\n\\n'\npwd\n");
    const std::unique_ptr<CResponse> response = Built("GET");
    const std::string folder = Local("");
    EXPECT_EQ(Body(*response), folder.substr(0, folder.size() - 1) + "\n");
}

TEST_F(CGIResponseTest, RequestBodyReachesStandardInputWhole)
{
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>((i * 31 + i / 977) & 0xFF);
    WriteScript("printf 'Content-Type: application/octet-stream\\n\\n'\nhead -c \"$CONTENT_LENGTH\"\n");
    const std::unique_ptr<CResponse> response = Built("POST", body);
    EXPECT_FALSE(replacedByBuild_);
    EXPECT_EQ(response->GetContentLength(), static_cast<int64_t>(body.size()));
    EXPECT_EQ(Body(*response, 65536), body);
}

TEST_F(CGIResponseTest, AnnouncedLargeBodyIsStoredWithOneGrowth)
{
    Script("Content-Type: text/plain\n\nx");
    record_ = &NewRecord();
    const int32_t length = 200000;
    const CHttpRequest& request = record_->ParseRequest("POST /t.cgi HTTP/1.1\r\nHost: test\r\nContent-Length: " +
                                                        std::to_string(length) + "\r\n\r\n");
    const CRequestPath& path = NewPath(request.GetObject());
    ExposedCGIResponse response(core.get(), *record_, path, connection_.state);
    response.BeginReceive();
    CByteBuffer chunk = BufferOf(std::string(1000, 'a'));
    response.ReceiveData(chunk);
    // Every further chunk of the announced body fits without another allocation.
    EXPECT_GE(response.Input().GetCapacity(), length);
}

TEST_F(CGIResponseTest, SendDataHandsOutTheBodyInTheCallersChunks)
{
    Script("Content-Type: text/plain\n\n0123456789");
    const std::unique_ptr<CResponse> response = Built("GET");
    std::vector<int> sizes;
    std::string body;
    CByteBuffer buffer(4);
    for (int n = response->GetSendData(buffer); n > 0; n = response->GetSendData(buffer)) {
        sizes.push_back(n);
        EXPECT_EQ(buffer.GetLength(), n);
        body.append(buffer.GetData(), static_cast<size_t>(n));
        buffer.SetLength(4);
    }
    EXPECT_EQ(sizes, (std::vector<int>{4, 4, 2}));
    EXPECT_EQ(body, "0123456789");
    EXPECT_EQ(response->GetSendData(buffer), 0);
}

TEST_F(CGIResponseTest, ProgramHeadersGoOutAfterTheServersAndCannotFrameTheAnswer)
{
    Script("Content-Type: text/plain\r\nContent-Length: 1\r\nConnection: keep-alive\r\n"
           "Transfer-Encoding: chunked\r\nSet-Cookie: a=1\r\nX-Split: one\rInjected: yes\r\nSet-Cookie: b=2\r\n\r\n"
           "body text");
    const std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_EQ(response->GetContentLength(), 9);
    const std::string header = BuildHeaderText(response->Answer());
    EXPECT_EQ(header.find("Content-Length:  1"), std::string::npos);
    EXPECT_EQ(header.find("Transfer-Encoding"), std::string::npos);
    EXPECT_EQ(header.find("keep-alive"), std::string::npos);
    EXPECT_EQ(header.find("\rInjected"), std::string::npos);
    const std::string tail = "Set-Cookie:  a=1\r\nX-Split:  one Injected: yes\r\nSet-Cookie:  b=2\r\n\r\n";
    ASSERT_GE(header.size(), tail.size());
    EXPECT_EQ(header.substr(header.size() - tail.size()), tail);
}

TEST_F(CGIResponseTest, OutputAboveTheLimitGivesTheExecutionError)
{
    Script("");
    WriteScript("printf 'Content-Type: text/plain\\n\\n'\nhead -c " + std::to_string(CSubProcess::kMaxOutput + 1) +
                " /dev/zero\n");
    const std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_TRUE(replacedByBuild_);
    EXPECT_EQ(Code(), 500);
    EXPECT_EQ(Info(*response), "CGI実行エラー : プロセスの出力が上限を超えました");
}

TEST_F(CGIResponseTest, ClientThatLeavesEndsTheProgram)
{
    Script("");
    WriteScript("sleep 30\nprintf 'Content-Type: text/plain\\n\\nlate'\n");
    connection_.ClosePeer();
    const auto start = std::chrono::steady_clock::now();
    const std::unique_ptr<CResponse> response = Built("GET");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(replacedByBuild_);
    EXPECT_EQ(Code(), 500);
    EXPECT_EQ(Info(*response), "CGI実行エラー : プロセス実行中に切断しました");
}

}  // namespace
