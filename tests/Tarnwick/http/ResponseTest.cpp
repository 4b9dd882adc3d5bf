#include "http/Response.h"

#include "CoreFixture.h"

#include "ByteBuffer.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The least a concrete response must be: the tests look only at what the base does.
class CPlainResponse : public CResponse {
public:
    using CResponse::CResponse;
    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    void Build() override {}
    int64_t GetContentLength() override { return 0; }
    int GetSendData(CByteBuffer&) override { return 0; }
};

std::vector<CConfigLeaf> Leaves(const CConfigAccessor& view)
{
    std::vector<CConfigLeaf> leaves;
    view.GetLeaves(leaves);
    return leaves;
}

// The response headers as the request's published node shows them.
std::string Headers(CResponse& response)
{
    std::string text;
    for (const CConfigLeaf& leaf : Leaves(response.GetResponseInfo().GetSubAccessor("Options")))
        text += leaf.key + "=" + leaf.value + ";";
    return text;
}

class ResponseTest : public CoreFixture {
protected:
    // A request's record as the connection worker leaves it before the answer is chosen,
    // with one header line `name: value` besides Host.
    CRequestRecord& NewRequest(const std::string& headerName = "", const std::string& headerValue = "")
    {
        CRequestRecord& record = NewRecord();
        std::string header = "GET / HTTP/1.1\r\nHost: a\r\n";
        if (!headerName.empty())
            header += headerName + ": " + headerValue + "\r\n";
        record.ParseRequest(header + "\r\n");
        return record;
    }
    static std::string Defaults(const CRequestRecord& record)
    {
        return "Server=Tarnwick/1.42;Date=" + record.GetStartGmt() + ";Content-Type=text/html;";
    }
};

TEST_F(ResponseTest, FreshResponseSays200WithTheDefaultHeadersInOrder)
{
    StartCore();
    CRequestRecord& record = NewRequest();
    CPlainResponse response(core.get(), record);

    const CConfigAccessor info = response.GetResponseInfo();
    EXPECT_EQ("200", info.GetString("ResponseCode", ""));
    EXPECT_EQ("200 OK", info.GetString("ResponseText", ""));
    EXPECT_EQ(Defaults(record) + "Connection=Close;", Headers(response));
    EXPECT_EQ(record.GetThreadView().GetSubAccessor("ResponseInfo").GetPrefix(), info.GetPrefix());
    EXPECT_EQ(&requestTree, info.GetTree());
}

TEST_F(ResponseTest, KeepAliveIsOfferedOnlyWhenSwitchedOnAndAsked)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "1");
    StartCore();
    struct Case {
        const char* what;
        const char* name;  // "" for no Connection header
        const char* value;
        bool keepAlive;
    } const cases[] = {
        {"lower-case value", "Connection", "keep-alive", true},
        {"mixed-case value", "Connection", "Keep-Alive", true},
        {"upper-case value", "Connection", "KEEP-ALIVE", true},
        {"lower-case name", "connection", "keep-alive", true},
        {"upper-case name", "CONNECTION", "Keep-Alive", true},
        {"close", "Connection", "close", false},
        {"empty value", "Connection", "", false},
        {"other token too", "Connection", "keep-alive, Upgrade", false},
        {"no header", "", "", false},
        {"other header", "Keep-Alive", "keep-alive", false},
    };
    for (const Case& c : cases) {
        CRequestRecord& record = NewRequest(c.name, c.value);
        CPlainResponse response(core.get(), record);
        EXPECT_EQ(Defaults(record) + (c.keepAlive ? "Keep-Alive=timeout=20, max=5;Connection=Keep-Alive;"
                                                  : "Connection=Close;"),
                  Headers(response))
            << c.what;
    }
}

TEST_F(ResponseTest, KeepAliveIsNotOfferedWhenSwitchedOff)
{
    StartCore();
    for (const char* value : {"keep-alive", "Keep-Alive"}) {
        CRequestRecord& record = NewRequest("Connection", value);
        CPlainResponse response(core.get(), record);
        EXPECT_EQ("Close", response.GetResponseInfo().GetString("Options::Connection", "")) << value;
        EXPECT_EQ("-", response.GetResponseInfo().GetString("Options::Keep-Alive", "-")) << value;
    }
}

TEST_F(ResponseTest, KeepAliveAnnouncesTheConfiguredLimits)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "2");
    settings.SetValue("Setting::Basic::KeepAliveTime", "7");
    settings.SetValue("Setting::Basic::MaxKeepAlive", "100");
    StartCore();
    CRequestRecord& record = NewRequest("Connection", "keep-alive");
    CPlainResponse response(core.get(), record);
    EXPECT_EQ("timeout=7, max=100", response.GetResponseInfo().GetString("Options::Keep-Alive", ""));
    EXPECT_EQ("Keep-Alive", response.GetResponseInfo().GetString("Options::Connection", ""));
}

TEST_F(ResponseTest, ServerAndDateComeFromTheServerAndTheRequestStart)
{
    StartCore();
    core->GetInfoAccessor().SetString("ServerSignature", "Other/2.0");
    CRequestRecord& record = NewRecord();
    CPlainResponse response(core.get(), record);
    EXPECT_EQ("Server=Other/2.0;Date=" + record.GetStartGmt() + ";Content-Type=text/html;Connection=Close;",
              Headers(response));
    EXPECT_EQ(record.GetStartGmt(), record.GetThreadView().GetString("StartTime::GMT", "-"));
}

TEST_F(ResponseTest, AnAnswerToAHeaderNotParsedShowsAnEmptyRequestNode)
{
    StartCore();
    CRequestRecord& record = NewRecord();
    CPlainResponse response(core.get(), record);
    response.GetResponseInfo();
    const CConfigAccessor thread = record.GetThreadView();
    std::vector<std::string> children;
    thread.GetSections(children);
    EXPECT_EQ(children, (std::vector<std::string>{"StartTime", "RequestInfo", "ResponseInfo"}));
    EXPECT_EQ(thread.GetSubAccessor("RequestInfo").GetKeyCount(), 0);
    std::vector<std::string> requestChildren;
    thread.GetSubAccessor("RequestInfo").GetSections(requestChildren);
    EXPECT_EQ(requestChildren, std::vector<std::string>{"Options"});
}

TEST(ResponseStatusTextTest, KnownCodesHaveTheirTexts)
{
    struct Case {
        int code;
        const char* text;
    } const cases[] = {
        {100, "100 Continue"},
        {200, "200 OK"},
        {203, "203 Non-Authoritative Information"},
        {207, "207 Multi-Status"},
        {300, "300 Multiple Choices"},
        {304, "304 Not Modified"},
        {306, "306 (Unused)"},
        {307, "307 Temporary Redirect"},
        {400, "400 Bad Request"},
        {408, "408 Request Timeout"},
        {413, "413 Request Entity Too Large"},
        {414, "414 Request-URI Too Long"},
        {416, "416 Requested Range Not Satisfiable"},
        {500, "500 Internal Server Error"},
        {505, "505 HTTP Version Not Supported"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, GetStatusText(c.code)) << c.code;
}

TEST(ResponseStatusTextTest, OtherCodesAreUnknown)
{
    for (const int code : {0, -1, 99, 102, 199, 208, 299, 308, 399, 417, 418, 499, 506, 999, 1000})
        EXPECT_EQ(std::to_string(code) + " UNKNOWN", GetStatusText(code)) << code;
}

TEST_F(ResponseTest, SetResponseCodeWritesCodeAndText)
{
    StartCore();
    CRequestRecord& record = NewRequest();
    CPlainResponse response(core.get(), record);
    response.SetResponseCode(404);
    EXPECT_EQ("404", response.GetResponseInfo().GetString("ResponseCode", ""));
    EXPECT_EQ("404 Not Found", response.GetResponseInfo().GetString("ResponseText", ""));
    response.SetResponseCode(299);
    EXPECT_EQ("HTTP/1.1 299 UNKNOWN\r\n", BuildHeaderText(response.Answer()).substr(0, 22));
}

TEST_F(ResponseTest, HeaderBlockKeepsTheOrderInWhichHeadersWereFirstSet)
{
    StartCore();
    CRequestRecord& record = NewRequest();
    CPlainResponse response(core.get(), record);
    response.SetResponseCode(206);
    response.SetHeader("Content-Range", "bytes 0-9/20");
    response.SetHeader("Content-Type", "text/plain");  // keeps its place
    response.SetHeader("X-Empty", "");
    response.SetHeader("Content-Length", "10");

    EXPECT_EQ("HTTP/1.1 206 Partial Content\r\n"
              "Server: Tarnwick/1.42\r\n"
              "Date: " + record.GetStartGmt() + "\r\n"
              "Content-Type: text/plain\r\n"
              "Connection: Close\r\n"
              "Content-Range: bytes 0-9/20\r\n"
              "X-Empty: \r\n"
              "Content-Length: 10\r\n"
              "\r\n",
              BuildHeaderText(response.Answer()));
}

TEST(ResponseHeaderTextTest, CgiHeaderLinesFollowTheOtherHeaders)
{
    CResponseInfo info;
    info.SetCode(200);
    info.SetHeader("Server", "Tarnwick/1.42");
    info.SetCgiHeader("Content-Type: text/plain\r\nX-Script: 1\r\n");
    EXPECT_EQ("HTTP/1.1 200 OK\r\nServer: Tarnwick/1.42\r\nContent-Type: text/plain\r\nX-Script: 1\r\n\r\n",
              BuildHeaderText(info));
}

TEST(ResponseHeaderTextTest, MissingStatusTextSaysInternalServerError)
{
    CResponseInfo info;
    EXPECT_EQ("HTTP/1.1 500 Internal Server Error\r\n\r\n", BuildHeaderText(info));
    info.SetHeader("Server", "x");
    EXPECT_EQ("HTTP/1.1 500 Internal Server Error\r\nServer: x\r\n\r\n", BuildHeaderText(info));
}

TEST(ResponseHeaderTextTest, LineBreaksInsideAHeaderCannotStartAnotherHeader)
{
    CResponseInfo info;
    info.SetCode(301);
    info.SetHeader("Location", "/a\r\nSet-Cookie: id=1\n\rx");
    info.SetHeader("X-Nul", std::string("a\0b", 3));
    EXPECT_EQ(std::string("HTTP/1.1 301 Moved Permanently\r\n"
                          "Location: /a  Set-Cookie: id=1  x\r\n"
                          "X-Nul: a b\r\n"
                          "\r\n"),
              BuildHeaderText(info));
}

// At every place of a long value, and only CR, LF and NUL: other control bytes stand.
TEST(ResponseHeaderTextTest, ALineBreakAnywhereInALongHeaderGoesOutAsABlank)
{
    const std::string value = "abcdefghijklmnopqrstu\t\x0B\x0C\x0E";
    for (std::string::size_type at = 0; at < value.size(); ++at) {
        for (const char breaker : {'\r', '\n', '\0'}) {
            std::string sent = value;
            sent[at] = breaker;
            std::string expected = value;
            expected[at] = ' ';
            CResponseInfo info;
            info.SetCode(200);
            info.SetHeader("X-" + sent, sent);
            EXPECT_EQ("HTTP/1.1 200 OK\r\nX-" + expected + ": " + expected + "\r\n\r\n", BuildHeaderText(info))
                << "at " << at;
        }
    }
}

TEST(ResponseHeaderTextTest, ABodilessAnswerCarriesNoContentLength)
{
    for (const int code : {100, 204, 304}) {
        CResponseInfo info;
        info.SetCode(code);
        info.SetHeader("content-length", "0");
        EXPECT_EQ(BuildHeaderText(info).find("ength"), std::string::npos) << code;
    }
    CResponseInfo info;
    info.SetCode(200);
    info.SetHeader("Content-Length", "0");
    EXPECT_NE(BuildHeaderText(info).find("Content-Length: 0\r\n"), std::string::npos);
}

TEST(ResponseHeaderTextTest, AnnouncingTheCloseDropsKeepAliveAndSaysClose)
{
    CResponseInfo info;
    info.SetCode(200);
    info.SetHeader("Server", "x");
    info.SetHeader("Keep-Alive", "timeout=5, max=5");
    info.SetHeader("connection", "Keep-Alive");
    info.SetHeader("X-After", "y");
    info.AnnounceClose();
    EXPECT_EQ("HTTP/1.1 200 OK\r\nServer: x\r\nconnection: Close\r\nX-After: y\r\n\r\n", BuildHeaderText(info));
}

TEST_F(ResponseTest, ResponseIsDeletedThroughTheBasePointer)
{
    StartCore();
    CRequestRecord& record = NewRequest();
    std::unique_ptr<CResponse> response = std::make_unique<CPlainResponse>(core.get(), record);
    response->GetResponseInfo();
    response.reset();
    // The ResponseInfo node outlives the object: the finished request keeps it.
    EXPECT_EQ("200 OK", record.GetThreadView().GetString("ResponseInfo::ResponseText", ""));
}

}  // namespace
