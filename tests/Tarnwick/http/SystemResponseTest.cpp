#include "http/SystemResponse.h"

#include "CoreFixture.h"
#include "http/ServerFatalException.h"

#include "ByteBuffer.h"
#include "SettingsSchema.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char kNoDetail[] = "詳細情報はありません。";

class SystemResponseTest : public CoreFixture {
protected:
    void SetUp() override { settings.SetValue(std::string("Setting::").append(kHtmlKey), html.Path()); }

    void TearDown() override
    {
        CoreFixture::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(servertest::ServerRoot() + "Html", ignored);
    }

    static void WriteTemplate(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // A request's record as the driver leaves it when a check decides the answer: taro's
    // credentials (password "secret") and the Host example.test. `target` is the URL as
    // sent.
    CRequestRecord& NewRequest(const std::string& target = "/missing.html")
    {
        CRequestRecord& record = NewRecord();
        record.ParseRequest("GET " + target +
                            " HTTP/1.1\r\nHost: example.test\r\nAuthorization: Basic dGFybzpzZWNyZXQ=\r\n\r\n");
        return record;
    }

    // What the response pipeline does with a response: build, length, header, body.
    struct Answer {
        std::string header;
        std::string body;
        int64_t length;
    };
    static Answer Run(CResponse& response)
    {
        Answer answer;
        response.Build();
        answer.length = response.GetContentLength();
        response.SetHeader("Content-Length", std::to_string(answer.length));
        answer.header = BuildHeaderText(response.Answer());
        CByteBuffer buffer(32768);
        for (int n; (n = response.GetSendData(buffer)) > 0;)
            answer.body.append(buffer.GetData(), static_cast<size_t>(n));
        return answer;
    }

    static constexpr std::string_view kHtmlKey = schema::kHtmlFileDirectory.path;
    servertest::TempFolder html;
};

TEST_F(SystemResponseTest, BuiltinPageIsFilledAndEscapedByteForByte)
{
    StartCore();
    CRequestRecord& record = NewRequest("/a<b>&\"c'.html");
    CSystemResponse response(core.get(), record, "指定されたファイルは存在しません <script>", 404, kNoDetail);
    const Answer answer = Run(response);

    const std::string expected =
        "<html>\r\n"
        "\t<head>\r\n"
        "\t\t<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
        "\t\t<title>404 Not Found</title>\r\n"
        "\t</head>\r\n"
        "\t<body bgcolor='#FFFFFF'>\r\n"
        "\t\t<center>\r\n"
        "\t\t\t<font color='#0066aa'>\r\n"
        "\t\t\t\t<h1>404 Not Found</h1>\r\n"
        "\t\t\t</font>\r\n"
        "\t\t\t<font color='#003366'>Request : GET<br>\r\n"
        "\t\t\t\tObject : /a&lt;b&gt;&amp;&quot;c&#39;.html<br>\r\n"
        "\t\t\t\t<br>\r\n"
        "\t\t\t\t<pre>\x8e\x77\x92\xe8\x82\xb3\x82\xea\x82\xbd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd"
        "\x91\xb6\x8d\xdd\x82\xb5\x82\xdc\x82\xb9\x82\xf1 &lt;script&gt;</pre>\r\n"
        "\t\t\t\t<hr>\r\n"
        "\t\t\t\t<address>- Tarnwick/1.42 -</address>\r\n"
        "\t\t\t</font>\r\n"
        "\t\t</center>\r\n"
        "\t</body>\r\n"
        "</html>\r\n";
    EXPECT_EQ(expected, answer.body);
    EXPECT_EQ(static_cast<int64_t>(expected.size()), answer.length);
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\n"
              "Server: Tarnwick/1.42\r\n"
              "Date: " + record.GetStartGmt() + "\r\n"
              "Content-Type: text/html\r\n"
              "Connection: Close\r\n"
              "Content-Length: " + std::to_string(expected.size()) + "\r\n\r\n",
              answer.header);
    EXPECT_EQ("404", response.GetResponseInfo().GetString("ResponseCode", ""));
}

TEST_F(SystemResponseTest, CodeTemplateIsPreferred)
{
    WriteTemplate(html.Path() + "Response_404.html", "code page: %ResponseText%");
    WriteTemplate(html.Path() + "Response_default.html", "default page: %ResponseText%");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "none", 404, kNoDetail);
    EXPECT_EQ("code page: 404 Not Found", Run(response).body);
}

TEST_F(SystemResponseTest, DefaultTemplateServesCodesWithoutTheirOwn)
{
    WriteTemplate(html.Path() + "Response_404.html", "code page");
    WriteTemplate(html.Path() + "Response_default.html", "default page: %ResponseText%");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "forbidden", 403, kNoDetail);
    EXPECT_EQ("default page: 403 Forbidden", Run(response).body);
}

TEST_F(SystemResponseTest, TemplateNameHasThreeDigits)
{
    WriteTemplate(html.Path() + "Response_099.html", "ninety-nine %ResponseText%");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "", 99, "");
    EXPECT_EQ("ninety-nine 99 UNKNOWN", Run(response).body);
}

TEST_F(SystemResponseTest, DetailIsShownOnlyWhereATemplateAsksForIt)
{
    StartCore();
    CSystemResponse builtin(core.get(), NewRequest(), "info", 404, "a <detail>");
    const std::string page = Run(builtin).body;
    EXPECT_EQ(std::string::npos, page.find("detail"));

    WriteTemplate(html.Path() + "Response_default.html", "<p>%Detail%</p>");
    CSystemResponse custom(core.get(), NewRequest(), "info", 404, "a <detail> & more");
    EXPECT_EQ("<p>a &lt;detail&gt; &amp; more</p>", Run(custom).body);
}

TEST_F(SystemResponseTest, TemplateIsFilledFromEveryView)
{
    WriteTemplate(html.Path() + "Response_default.html",
                  "%ThreadName%|%Protocol%|%Host%|%TargetHost%|%ServerName%|%ServerSignature%|%Method%|"
                  "%URL%|%Version%|%User%|%ResponseCode%|%ResponseText%|%Info%|%Nothing%|100%|%");
    StartCore();
    CRequestRecord& record = NewRequest("/x");
    CSystemResponse response(core.get(), record, "moved", 301, kNoDetail);
    EXPECT_EQ(record.GetThreadName() +
                  "|http|127.0.0.1|example.test|Tarnwick|Tarnwick/1.42|GET|/x|1.1|taro|301|"
                  "301 Moved Permanently|moved|%Nothing%|100%|%",
              Run(response).body);
}

TEST_F(SystemResponseTest, PasswordIsNeverFilledIn)
{
    WriteTemplate(html.Path() + "Response_default.html", "[%Passwd%] [%Object%] [%Info%]");
    StartCore();
    CSystemResponse response(core.get(), NewRequest("/%25Passwd%25"), "/%Passwd%", 404, kNoDetail);
    const std::string page = Run(response).body;
    EXPECT_EQ("[] [/%Passwd%] [/%Passwd%]", page);
    EXPECT_EQ(std::string::npos, page.find("secret"));
}

TEST_F(SystemResponseTest, InfoHoldingPlaceholdersIsInsertedOnceAndNotExpanded)
{
    WriteTemplate(html.Path() + "Response_default.html", "<pre>%Info%</pre><p>%Info%</p>");
    StartCore();
    const std::string location = "/%Info%/%ServerRoot%/%ResponseText%/";
    CSystemResponse response(core.get(), NewRequest(), location + " に移動してください", 301, kNoDetail);
    const std::string info = location + " に移動してください";
    EXPECT_EQ("<pre>" + info + "</pre><p>" + info + "</p>", Run(response).body);
    EXPECT_EQ(info, response.GetInfo());
}

TEST_F(SystemResponseTest, RedirectCarriesItsLocationAfterTheDefaultHeaders)
{
    StartCore();
    CSystemResponse response(core.get(), NewRequest("/docs"), "/docs/ に移動してください", 301, kNoDetail);
    response.SetHeader("Location", "/docs/");
    const Answer answer = Run(response);
    EXPECT_EQ(0u, answer.header.find("HTTP/1.1 301 Moved Permanently\r\n"));
    EXPECT_NE(std::string::npos, answer.header.find("Connection: Close\r\nLocation: /docs/\r\nContent-Length: "));
    EXPECT_NE(std::string::npos, answer.body.find("<pre>/docs/ に移動してください</pre>"));
}

TEST_F(SystemResponseTest, NotModifiedHasNoBodyWhateverTemplateExists)
{
    WriteTemplate(html.Path() + "Response_304.html", "not empty");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "ターゲットは更新されていません", 304, kNoDetail);
    const Answer answer = Run(response);
    EXPECT_EQ(0, answer.length);
    EXPECT_EQ("", answer.body);
    // RFC 9110 8.6: a 304 announces no Content-Length.
    EXPECT_EQ(std::string::npos, answer.header.find("Content-Length"));
    EXPECT_EQ(0u, answer.header.find("HTTP/1.1 304 Not Modified\r\n"));
}

TEST_F(SystemResponseTest, PageGoesOutAsOneChunkThenEnds)
{
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    response.Build();
    CByteBuffer buffer(32768);
    const int n = response.GetSendData(buffer);
    EXPECT_EQ(response.GetContentLength(), n);
    EXPECT_EQ(n, buffer.GetLength());
    EXPECT_EQ(0, response.GetSendData(buffer));
    EXPECT_EQ(0, response.GetSendData(buffer));
}

TEST_F(SystemResponseTest, PageLargerThanTheSendBufferStillGoesOutWhole)
{
    const std::string big(100000, 'x');
    WriteTemplate(html.Path() + "Response_default.html", big);
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    const Answer answer = Run(response);
    EXPECT_EQ(big, answer.body);
    EXPECT_EQ(100000, answer.length);
}

TEST_F(SystemResponseTest, TemplateIsCutAtItsFirstNul)
{
    WriteTemplate(html.Path() + "Response_default.html", std::string("<p>%ResponseText%</p>\0hidden", 28));
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    const Answer answer = Run(response);
    EXPECT_EQ("<p>404 Not Found</p>", answer.body);
    EXPECT_EQ(20, answer.length);
}

TEST_F(SystemResponseTest, EmptyTemplateIsAFatalErrorWhenSent)
{
    WriteTemplate(html.Path() + "Response_default.html", "");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    response.Build();
    EXPECT_EQ(0, response.GetContentLength());
    CByteBuffer buffer(32768);
    try {
        response.GetSendData(buffer);
        FAIL() << "no exception";
    } catch (const CServerFatalException& e) {
        EXPECT_EQ("HTMLデータのロードに失敗しました、システムエラーです", e.message);
    }
}

TEST_F(SystemResponseTest, ChangedTemplateTakesEffectWithTheNextAnswer)
{
    WriteTemplate(html.Path() + "Response_404.html", "first");
    StartCore();
    CSystemResponse one(core.get(), NewRequest(), "info", 404, kNoDetail);
    EXPECT_EQ("first", Run(one).body);
    WriteTemplate(html.Path() + "Response_404.html", "second");
    CSystemResponse two(core.get(), NewRequest(), "info", 404, kNoDetail);
    EXPECT_EQ("second", Run(two).body);
    std::filesystem::remove(html.Path() + "Response_404.html");
    CSystemResponse three(core.get(), NewRequest(), "info", 404, kNoDetail);
    EXPECT_EQ(0u, Run(three).body.find("<html>\r\n"));
}

TEST_F(SystemResponseTest, TemplateFolderDefaultsToHtmlUnderTheServerRoot)
{
    settings.GetAccessor("Setting").Clear();
    PutFile("Html/Response_404.html", "from the server root");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    EXPECT_EQ("from the server root", Run(response).body);
}

TEST_F(SystemResponseTest, TemplateFolderSettingPassesTheValueFilter)
{
    settings.SetValue(std::string("Setting::").append(kHtmlKey), "%ServerRoot%Html/pages/");
    PutFile("Html/pages/Response_404.html", "filtered folder");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    EXPECT_EQ("filtered folder", Run(response).body);
}

TEST_F(SystemResponseTest, TemplateFolderKeyIsOneLeafNotANodePath)
{
    settings.GetAccessor("Setting").Clear();
    settings.SetValue("Setting::Html::HtmlFileDirectory", html.Path());
    WriteTemplate(html.Path() + "Response_404.html", "through a node path");
    StartCore();
    CSystemResponse response(core.get(), NewRequest(), "info", 404, kNoDetail);
    EXPECT_EQ(0u, Run(response).body.find("<html>\r\n"));
}

}  // namespace
