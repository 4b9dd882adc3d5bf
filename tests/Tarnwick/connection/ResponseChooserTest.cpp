#include "connection/ResponseChooser.h"

#include "connection/ResponsePipeline.h"

#include "CoreFixture.h"
#include "core/BandWidth.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/Response.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "responses/CGIResponse.h"
#include "responses/DavPropfindResponse.h"
#include "responses/DirectoryResponse.h"
#include "responses/FileDeleteResponse.h"
#include "responses/FileMoveResponse.h"
#include "responses/FilePutResponse.h"
#include "responses/FileResponse.h"
#include "responses/OptionsResponse.h"
#include "responses/SSIResponse.h"

#include "IPv4Address.h"
#include "SettingsSchema.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kEntry[] = "Setting::Path::Main::";

// The choice of answer, without a client: a parsed request and the
// settings in, the response that would be sent out.
class ResponseChooserTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue(std::string(kEntry) + "ServerPath", "/");
        settings.SetValue(std::string(kEntry) + "LocalPath", www.Path());
        settings.SetValue("Setting::SSI::shtml", "shtml");
        settings.SetValue("Setting::CGI::Cgi_0::FileExt", "sh");
        settings.SetValue("Setting::CGI::Cgi_0::ExecuteFile", "0");
        settings.SetValue("Setting::CGI::Cgi_0::Command", "/bin/sh %FilePath%");
        // Status pages show their reason, so that the table can tell them apart.
        settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html.Path());
        testsupport::PutFile(html.Path() + "Response_default.html", "<p>%Info%</p>");
        testsupport::PutFile(www.Path() + "hello.txt", "hello");
        testsupport::PutFile(www.Path() + ".hidden.txt", "secret");
        testsupport::PutFile(www.Path() + "page.shtml", "<p>page</p>");
        testsupport::PutFile(www.Path() + "run.sh", "echo");
        std::filesystem::create_directory(www.Path() + "dir");
        StartCore();
    }

    // The path entry's options are those of `options` ("Name=value" each), and only those.
    void SetOptions(const std::vector<std::string>& options)
    {
        const CConfigAccessor node = core->GetSettingAccessor().GetSubAccessor("Path::Main::Options");
        node.Clear();
        for (const std::string& option : options) {
            const std::string::size_type equals = option.find('=');
            node.SetString(option.substr(0, equals), option.substr(equals + 1));
        }
    }

    // What is chosen for the request line `method target` with `lines` (header
    // lines, each ending in CR LF): the response's kind, or for a status page its code and
    // reason; "fatal: <message>" when the choice throws CServerFatalException.
    std::string Choose(const std::string& method, const std::string& target, const std::string& lines = "")
    {
        CRequestRecord& record = NewRecord();
        const std::string header = method + " " + target + " HTTP/1.1\r\nHost: example.test\r\n" + lines + "\r\n";
        record.ParseRequest(header);
        const CRequestPath path(record.GetRequest().GetObject(), record.GetTargetHost(), core->GetSettingsSnapshot());
        const CIPv4Address peer("127.0.0.1");
        const CBandWidthLimiter limiter(&core->GetBandWidthManager(), peer, record.GetThreadName());
        RequestTransfer transfer;
        std::unique_ptr<CResponse> response;
        try {
            response = CResponseChooser(core.get(), record, path, limiter, false, peer, connection.state, transfer)
                           .Choose();
        } catch (const CServerFatalException& e) {
            return "fatal: " + e.message;
        }
        closes = transfer.closeAfterResponse;
        return Describe(*response);
    }

    static std::string Describe(CResponse& response)
    {
        if (auto* page = dynamic_cast<CSystemResponse*>(&response)) {
            page->Build();
            return std::to_string(page->GetResponseInfo().GetInt("ResponseCode", 0)) + " " + page->GetInfo();
        }
        const std::pair<const char*, bool> kinds[] = {
            {"file", dynamic_cast<CFileResponse*>(&response) != nullptr},
            {"directory", dynamic_cast<CDirectoryResponse*>(&response) != nullptr},
            {"options", dynamic_cast<COptionsResponse*>(&response) != nullptr},
            {"propfind", dynamic_cast<CDAVPropfindResponse*>(&response) != nullptr},
            {"put", dynamic_cast<CFilePutResponse*>(&response) != nullptr},
            {"delete", dynamic_cast<CFileDeleteResponse*>(&response) != nullptr},
            {"copy or move", dynamic_cast<CFileMoveResponse*>(&response) != nullptr},
            {"cgi", dynamic_cast<CCGIResponse*>(&response) != nullptr},
            {"ssi", dynamic_cast<CSSIResponse*>(&response) != nullptr},
        };
        for (const auto& kind : kinds)
            if (kind.second)
                return kind.first;
        return "unknown";
    }


    servertest::TempFolder www;
    servertest::TempFolder html;
    // A connection's parts for the choice, which never uses the socket's peer.
    servertest::TestConnection connection;
    bool closes = false;  // the last choice marked the connection to close after its answer
};

TEST_F(ResponseChooserTest, ChoosesTheAnswerOfTheFirstCheckThatDecides)
{
    const char kNotFound[] = "404 指定されたファイルは存在しません";
    const char kNotAllowed[] = "405 対応していないメソッドです";
    const char kHttpRefused[] = "403 HTTP からのアクセスは、許可されていません";
    const std::string kLargestCgiBody = "Content-Length: " + std::to_string(CCGIResponse::kMaxRequestBody) + "\r\n";
    const std::string kTooLargeCgiBody =
        "Content-Length: " + std::to_string(CCGIResponse::kMaxRequestBody + 1) + "\r\n";
    const struct {
        const char* description;
        std::vector<std::string> options;
        const char* method;
        const char* target;
        const char* lines;
        const char* chosen;
        bool closes;
    } cases[] = {
        {"a file", {}, "GET", "/hello.txt", "", "file", false},
        {"a missing file: the file response names its 404", {}, "GET", "/missing.txt", "", kNotFound, false},
        {"another method on a file: 405", {}, "POST", "/hello.txt", "", kNotAllowed, false},
        {"a folder without its slash", {}, "GET", "/dir", "", "301 /dir/ に移動してください", false},
        {"a folder without its index option", {}, "GET", "/dir/", "",
         "403 インデックス表示は許可されていません", false},
        {"a folder with its index option", {"EnableIndex=1"}, "GET", "/dir/", "", "directory", false},
        {"OPTIONS comes before the redirect", {}, "OPTIONS", "/dir", "", "options", false},
        {"PROPFIND without WebDAV reaches the file", {}, "PROPFIND", "/hello.txt", "", kNotAllowed, false},
        {"PROPFIND with WebDAV", {"EnableWebDAV=1"}, "PROPFIND", "/hello.txt", "", "propfind", false},
        {"PROPPATCH with WebDAV is not served", {"EnableWebDAV=1"}, "PROPPATCH", "/hello.txt", "",
         "fatal: サポートしていません", false},
        {"PUT without writing reaches the file", {}, "PUT", "/new.txt", "", kNotFound, false},
        {"PUT with writing", {"EnableWrite=1"}, "PUT", "/new.txt", "", "put", false},
        {"MKCOL with writing", {"EnableWrite=1"}, "MKCOL", "/new/", "", "put", false},
        {"DELETE with writing", {"EnableWrite=1"}, "DELETE", "/hello.txt", "", "delete", false},
        {"DELETE of nothing: the response names its 404", {"EnableWrite=1"}, "DELETE", "/missing.txt", "",
         kNotFound, false},
        {"COPY with writing", {"EnableWrite=1"}, "COPY", "/hello.txt", "", "copy or move", false},
        {"MOVE with writing", {"EnableWrite=1"}, "MOVE", "/hello.txt", "", "copy or move", false},
        {"an SSI document", {"EnableSSICGI=1"}, "GET", "/page.shtml", "", "ssi", false},
        {"an SSI document without the option is a file", {}, "GET", "/page.shtml", "", "file", false},
        {"a CGI script", {"EnableSSICGI=1"}, "GET", "/run.sh", "", "cgi", false},
        {"a CGI script whose body is too large", {"EnableSSICGI=1"}, "POST", "/run.sh",
         "Content-Length: 99999999999\r\n", "413 リクエストの本文が大きすぎます", true},
        {"a CGI script whose body is as large as it takes", {"EnableSSICGI=1"}, "POST", "/run.sh",
         kLargestCgiBody.c_str(), "cgi", false},
        {"a CGI script whose body is one byte larger", {"EnableSSICGI=1"}, "POST", "/run.sh",
         kTooLargeCgiBody.c_str(), "413 リクエストの本文が大きすぎます", true},
        {"a CGI script whose body is chunked: measured as it comes", {"EnableSSICGI=1"}, "POST", "/run.sh",
         "Transfer-Encoding: chunked\r\n", "cgi", false},
        {"PUT with a chunked body", {"EnableWrite=1"}, "PUT", "/new.txt", "Transfer-Encoding: chunked\r\n", "put",
         false},
        {"a file's answer does not wait for its size: no body is read", {}, "POST", "/hello.txt",
         kTooLargeCgiBody.c_str(), kNotAllowed, false},
        {"plain access refused", {"AcceptHTTP=0"}, "GET", "/hello.txt", "", kHttpRefused, false},
        {"the access checks come before the dispatch", {"AcceptHTTP=0"}, "OPTIONS", "/hello.txt", "",
         kHttpRefused, false},
        {"the access checks come before a missing file", {"AcceptHTTP=0"}, "GET", "/missing.txt", "",
         kHttpRefused, false},
        {"a hidden file", {}, "GET", "/.hidden.txt", "",
         "403 このファイル・ディレクトリへのアクセスは、許可されていません", false},
        {"authentication asked", {"EnableAuthenticate=1"}, "GET", "/hello.txt", "", "401 認証が必要です", false},
        {"a control byte in the path comes before the access checks", {"AcceptHTTP=0"}, "GET", "/a%01b.txt", "",
         "400 異常なURLを受信しました", false},
        {"so does a NUL the decoding dropped", {"AcceptHTTP=0"}, "GET", "/a%00b.txt", "", "400 異常なURLを受信しました",
         false},
        {"a write with a '..' segment, before the access checks", {"AcceptHTTP=0", "EnableWrite=1"}, "DELETE",
         "/dir/..", "", "400 異常なURLを受信しました", false},
        {"a read with a '..' segment names the collapsed path", {}, "GET", "/dir/../hello.txt", "", kNotFound,
         false},
        {"a write to a hidden name that is not there yet", {"EnableWrite=1"}, "PUT", "/.new.txt", "",
         "403 このファイル・ディレクトリへのアクセスは、許可されていません", false},
        {"a read of a hidden name that is not there", {}, "GET", "/.new.txt", "", kNotFound, false},
        {"the body framing comes first of all", {"AcceptHTTP=0"}, "GET", "/a%01b.txt",
         "Transfer-Encoding: gzip\r\n", "400 この Transfer-Encoding には対応していません", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        SetOptions(c.options);
        const std::string chosen = Choose(c.method, c.target, c.lines);
        EXPECT_EQ(chosen, c.chosen);
        if (chosen.rfind("fatal: ", 0) != 0) {
            EXPECT_EQ(closes, c.closes);
        }
    }
}

}  // namespace
