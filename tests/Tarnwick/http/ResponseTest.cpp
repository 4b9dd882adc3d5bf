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

    using CResponse::responseHeaderView_;
};

std::vector<CConfigLeaf> Leaves(const CConfigAccessor& view)
{
    std::vector<CConfigLeaf> leaves;
    view.GetLeaves(leaves);
    return leaves;
}

std::string Headers(const CConfigAccessor& threadView)
{
    std::string text;
    for (const CConfigLeaf& leaf : Leaves(threadView.GetSubAccessor("ResponseInfo::Options")))
        text += leaf.key + "=" + leaf.value + ";";
    return text;
}

class ResponseTest : public CoreFixture {
protected:
    // A request node as the connection worker leaves it before the answer is chosen.
    CConfigAccessor NewRequest(const std::string& headerName = "", const std::string& headerValue = "")
    {
        CConfigAccessor thread = NewThreadView();
        thread.SetString("StartTime::GMT", "Tue, 02 Mar 2004 00:00:00 GMT");
        thread.SetString("RequestInfo::Method", "GET");
        if (!headerName.empty())
            thread.SetString("RequestInfo::Options::" + headerName, headerValue);
        return thread;
    }
};

TEST_F(ResponseTest, FreshResponseSays200WithTheDefaultHeadersInOrder)
{
    StartCore();
    const CConfigAccessor thread = NewRequest();
    CPlainResponse response(core.get(), thread);

    EXPECT_EQ("200", thread.GetString("ResponseInfo::ResponseCode", ""));
    EXPECT_EQ("200 OK", thread.GetString("ResponseInfo::ResponseText", ""));
    EXPECT_EQ("Server=Tarnwick/1.42;Date=Tue, 02 Mar 2004 00:00:00 GMT;Content-Type=text/html;"
              "Connection=Close;",
              Headers(thread));
    EXPECT_EQ(thread.GetSubAccessor("ResponseInfo").GetPrefix(), response.GetResponseInfo().GetPrefix());
    EXPECT_EQ(thread.GetTree(), response.GetResponseInfo().GetTree());
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
        const CConfigAccessor thread = NewRequest(c.name, c.value);
        CPlainResponse response(core.get(), thread);
        const std::string defaults = "Server=Tarnwick/1.42;Date=Tue, 02 Mar 2004 00:00:00 GMT;"
                                     "Content-Type=text/html;";
        EXPECT_EQ(defaults + (c.keepAlive ? "Keep-Alive=timeout=20, max=5;Connection=Keep-Alive;"
                                          : "Connection=Close;"),
                  Headers(thread))
            << c.what;
    }
}

TEST_F(ResponseTest, KeepAliveIsNotOfferedWhenSwitchedOff)
{
    StartCore();
    for (const char* value : {"keep-alive", "Keep-Alive"}) {
        const CConfigAccessor thread = NewRequest("Connection", value);
        CPlainResponse response(core.get(), thread);
        EXPECT_EQ("Close", thread.GetString("ResponseInfo::Options::Connection", "")) << value;
        EXPECT_EQ("-", thread.GetString("ResponseInfo::Options::Keep-Alive", "-")) << value;
    }
}

TEST_F(ResponseTest, KeepAliveAnnouncesTheConfiguredLimits)
{
    settings.SetValue("Setting::Basic::EnableKeepAlive", "2");
    settings.SetValue("Setting::Basic::KeepAliveTime", "7");
    settings.SetValue("Setting::Basic::MaxKeepAlive", "100");
    StartCore();
    const CConfigAccessor thread = NewRequest("Connection", "keep-alive");
    CPlainResponse response(core.get(), thread);
    EXPECT_EQ("timeout=7, max=100", thread.GetString("ResponseInfo::Options::Keep-Alive", ""));
    EXPECT_EQ("Keep-Alive", thread.GetString("ResponseInfo::Options::Connection", ""));
}

TEST_F(ResponseTest, ServerAndDateComeFromTheServerAndTheRequestStart)
{
    StartCore();
    core->GetInfoAccessor().SetString("ServerSignature", "Other/2.0");
    CConfigAccessor thread = NewThreadView();  // no StartTime
    CPlainResponse response(core.get(), thread);
    EXPECT_EQ("Server=Other/2.0;Date=;Content-Type=text/html;Connection=Close;", Headers(thread));
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
    const CConfigAccessor thread = NewRequest();
    CPlainResponse response(core.get(), thread);
    response.SetResponseCode(404);
    EXPECT_EQ("404", thread.GetString("ResponseInfo::ResponseCode", ""));
    EXPECT_EQ("404 Not Found", thread.GetString("ResponseInfo::ResponseText", ""));
    response.SetResponseCode(299);
    EXPECT_EQ("HTTP/1.1 299 UNKNOWN\r\n", BuildHeaderText(response.GetResponseInfo()).substr(0, 22));
}

TEST_F(ResponseTest, HeaderBlockKeepsTheOrderInWhichHeadersWereFirstSet)
{
    StartCore();
    const CConfigAccessor thread = NewRequest();
    CPlainResponse response(core.get(), thread);
    response.SetResponseCode(206);
    response.responseHeaderView_.SetString("Content-Range", "bytes 0-9/20");
    response.responseHeaderView_.SetString("Content-Type", "text/plain");  // keeps its place
    response.responseHeaderView_.SetString("X-Empty", "");
    response.responseHeaderView_.SetString("Content-Length", "10");

    EXPECT_EQ("HTTP/1.1 206 Partial Content\r\n"
              "Server: Tarnwick/1.42\r\n"
              "Date: Tue, 02 Mar 2004 00:00:00 GMT\r\n"
              "Content-Type: text/plain\r\n"
              "Connection: Close\r\n"
              "Content-Range: bytes 0-9/20\r\n"
              "X-Empty: \r\n"
              "Content-Length: 10\r\n"
              "\r\n",
              BuildHeaderText(response.GetResponseInfo()));
}

TEST(ResponseHeaderTextTest, CgiHeaderLinesFollowTheOtherHeaders)
{
    CConfigClass tree;
    const CConfigAccessor info = tree.GetAccessor("Thread_0000::ResponseInfo");
    info.SetString("ResponseText", "200 OK");
    info.SetString("Options::Server", "Tarnwick/1.42");
    info.SetString("CGIHeader", "Content-Type: text/plain\r\nX-Script: 1\r\n");
    EXPECT_EQ("HTTP/1.1 200 OK\r\nServer: Tarnwick/1.42\r\nContent-Type: text/plain\r\nX-Script: 1\r\n\r\n",
              BuildHeaderText(info));
}

TEST(ResponseHeaderTextTest, MissingStatusTextSaysInternalServerError)
{
    CConfigClass tree;
    const CConfigAccessor info = tree.GetAccessor("Thread_0000::ResponseInfo");
    EXPECT_EQ("HTTP/1.1 500 Internal Server Error\r\n\r\n", BuildHeaderText(info));
    info.SetString("Options::Server", "x");
    EXPECT_EQ("HTTP/1.1 500 Internal Server Error\r\nServer: x\r\n\r\n", BuildHeaderText(info));
}

TEST(ResponseHeaderTextTest, LineBreaksInsideAHeaderCannotStartAnotherHeader)
{
    CConfigClass tree;
    const CConfigAccessor info = tree.GetAccessor("ResponseInfo");
    info.SetString("ResponseText", "301 Moved Permanently");
    info.SetString("Options::Location", "/a\r\nSet-Cookie: id=1\n\rx");
    info.SetString("Options::X-Nul", std::string("a\0b", 3));
    EXPECT_EQ(std::string("HTTP/1.1 301 Moved Permanently\r\n"
                          "Location: /a  Set-Cookie: id=1  x\r\n"
                          "X-Nul: a b\r\n"
                          "\r\n"),
              BuildHeaderText(info));
}

TEST_F(ResponseTest, ResponseIsDeletedThroughTheBasePointer)
{
    StartCore();
    const CConfigAccessor thread = NewRequest();
    std::unique_ptr<CResponse> response = std::make_unique<CPlainResponse>(core.get(), thread);
    response.reset();
    // The ResponseInfo node outlives the object: the finished request keeps it.
    EXPECT_EQ("200 OK", thread.GetString("ResponseInfo::ResponseText", ""));
}

}  // namespace
