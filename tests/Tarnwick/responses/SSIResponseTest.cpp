#include "responses/SSIResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"
#include "ScopedEnvironment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kNotFound = "指定されたファイルは存在しません";
const std::string kNotAllowed = "対応していないメソッドです";
const std::string kParseFailed = "ファイルの操作に失敗しました";
const std::string kEmptyPage = "HTMLデータのロードに失敗しました、システムエラーです";
const std::string kCannotOpen = "ファイルが開けません";
const std::string kCannotRun = "コマンドが実行できませんでした";
const std::string kIfNotSupported = "SSIの制御構文はサポートしていません。";

constexpr int64_t kFileTime = 1714571100;  // 2024-05-01 13:45:00 UTC

using servertest::TestConnection;

// --- parsing ---------------------------------------------------------------------------------

struct Record {
    std::string command;
    std::string name;
    std::string value;
    std::string preceding;
};

std::vector<Record> Records(const CSSIDocument& document)
{
    std::vector<Record> records;
    for (const CSSIDirective& d : document.GetDirectives())
        records.push_back({d.command, d.attributeName, d.attributeValue, d.precedingText});
    return records;
}

TEST(SSIDocumentParse, SplitsDirectivesAndTheTextAroundThem)
{
    const struct {
        const char* description;
        std::string text;
        std::vector<Record> records;
    } cases[] = {
        {"no directive", "<p>plain</p>", {{"", "", "", "<p>plain</p>"}}},
        {"one directive", "a<!--#echo var=\"X\" -->b", {{"echo", "var", "X", "a"}, {"", "", "", "b"}}},
        {"directive alone", "<!--#echo var=X-->", {{"echo", "var", "X", ""}, {"", "", "", ""}}},
        {"command and attribute name lower-cased, value kept", "<!--#ECHO VAR=\"Date_Local\" -->",
         {{"echo", "var", "Date_Local", ""}, {"", "", "", ""}}},
        {"blanks around '=' stay in name and value", "<!--#config timefmt = \"%H\" -->",
         {{"config", "timefmt ", " \"%H", ""}, {"", "", "", ""}}},
        {"two attributes: the value runs to the end", "<!--#include file=\"a\" virtual=\"b\" -->",
         {{"include", "file", "a\" virtual=\"b", ""}, {"", "", "", ""}}},
        {"only double quotes are trimmed", "<!--#echo var='X' -->", {{"echo", "var", "'X'", ""}, {"", "", "", ""}}},
        {"several quotes at the ends", "<!--#echo \"\"var\"=\"\"X\"\" -->",
         {{"echo", "var", "X", ""}, {"", "", "", ""}}},
        {"no '=': no attribute", "<!--#foo bar -->", {{"foo", "", "", ""}, {"", "", "", ""}}},
        {"a tab is a blank", "<!--#echo\tvar=X-->", {{"echo", "var", "X", ""}, {"", "", "", ""}}},
        {"line breaks inside the parameters are trimmed", "<!--#echo var=X\r\n-->",
         {{"echo", "var", "X", ""}, {"", "", "", ""}}},
        {"bare directive vanishes, text on both sides stays", "left<!--#printenv-->right",
         {{"", "", "", "leftright"}}},
        {"bare directive's text joins the next record", "a<!--#printenv-->b<!--#echo var=X -->c",
         {{"echo", "var", "X", "ab"}, {"", "", "", "c"}}},
        {"empty directive vanishes", "a<!--#-->b", {{"", "", "", "ab"}}},
        {"unterminated directive stays text", "a<!--#echo var=X", {{"", "", "", "a<!--#echo var=X"}}},
        {"unterminated after a directive", "<!--#echo var=X -->b<!--#echo",
         {{"echo", "var", "X", ""}, {"", "", "", "b<!--#echo"}}},
        {"an ordinary comment is text", "<!-- note --><!--#echo var=X -->",
         {{"echo", "var", "X", "<!-- note -->"}, {"", "", "", ""}}},
        {"the end marker is searched after the start marker", "--><!--#a b-->",
         {{"a", "", "", "-->"}, {"", "", "", ""}}},
        {"Shift-JIS text around directives", "表示<!--#echo var=\"名前\" -->ソ",
         {{"echo", "var", "名前", "表示"}, {"", "", "", "ソ"}}},
    };
    for (const auto& c : cases) {
        TestConnection connection;
        CSSIDocument document(connection.state);
        ASSERT_EQ(document.ParseText(c.text), 0) << c.description;
        const std::vector<Record> records = Records(document);
        ASSERT_EQ(records.size(), c.records.size()) << c.description;
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].command, c.records[i].command) << c.description << " #" << i;
            EXPECT_EQ(records[i].name, c.records[i].name) << c.description << " #" << i;
            EXPECT_EQ(records[i].value, c.records[i].value) << c.description << " #" << i;
            EXPECT_EQ(records[i].preceding, c.records[i].preceding) << c.description << " #" << i;
        }
    }
}

TEST(SSIDocumentParse, EmptyTextFails)
{
    TestConnection connection;
    CSSIDocument document(connection.state);
    EXPECT_EQ(document.ParseText(""), -1);
    EXPECT_TRUE(document.GetDirectives().empty());
}

TEST(SSIDocumentParse, UnreadableOrMissingFileFails)
{
    TestConnection connection;
    CSSIDocument document(connection.state);
    servertest::TempFolder folder;
    EXPECT_EQ(document.ParseDirectives(folder.Path() + "missing.shtml"), -1);
    EXPECT_EQ(document.ParseDirectives(folder.Path()), -1) << "a folder";
}

// `count` directives, each `directive`.
std::string Repeat(const std::string& directive, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += directive;
    return text;
}

TEST(SSIDocumentParse, LostConnectionIsNoticedAfterEachThousandDirectives)
{
    const struct {
        const char* description;
        std::string text;
        bool stopped;
        int result;
        std::size_t records;
    } cases[] = {
        {"1000 directives are never tested", Repeat("<!--#x y-->", 1000), true, 0, 1001},
        {"the 1001st tests the connection", Repeat("<!--#x y-->", 1001), true, -1, 0},
        {"bare directives count too", Repeat("<!--#x-->", 1001), true, -1, 0},
        {"a live connection parses on", Repeat("<!--#x y-->", 3003), false, 0, 3004},
    };
    for (const auto& c : cases) {
        TestConnection connection;
        if (c.stopped)
            connection.thread.Stop();
        CSSIDocument document(connection.state);
        EXPECT_EQ(document.ParseText(c.text), c.result) << c.description;
        EXPECT_EQ(document.GetDirectives().size(), c.records) << c.description;
        if (c.result != 0) {
            EXPECT_EQ(connection.state.GetText(), "中断しました") << c.description;
        }
    }
}

// --- formats ---------------------------------------------------------------------------------

TEST(SSIFormats, SizeAbbreviatesFromTenKibibytes)
{
    const struct {
        int64_t size;
        const char* sizefmt;
        const char* text;
    } cases[] = {
        {0, "abbrev", "0"},
        {5000, "abbrev", "5000"},
        {10239, "abbrev", "10239"},
        {10240, "abbrev", "10K"},
        {20000, "abbrev", "19K"},
        {10485759, "abbrev", "10239K"},
        {10485760, "abbrev", "10M"},
        {int64_t{5} << 30, "abbrev", "5120M"},
        {20000, "bytes", "20000"},
        {20000, "Abbrev", "20000"},  // compared exactly
        {20000, "", "20000"},
        {int64_t{5} << 30, "bytes", "5368709120"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSSIResponse::FormatSize(c.size, c.sizefmt), c.text) << c.size << " " << c.sizefmt;
}

TEST(SSIFormats, TimeFormatsLocalAndGmt)
{
    testsupport::ScopedTimeZone zone("JST-9");
    const struct {
        const char* description;
        bool gmt;
        std::string timefmt;
        std::string text;
    } cases[] = {
        {"default format, GMT", true, CSSIResponse::kDefaultTimeFormat, "2024/05/01 13:45:00"},
        {"default format, local", false, CSSIResponse::kDefaultTimeFormat, "2024/05/01 22:45:00"},
        {"own format", true, "%H:%M", "13:45"},
        {"text without conversions", true, "at noon", "at noon"},
        {"127 characters fit", true, std::string(127, 'x'), std::string(127, 'x')},
        {"128 characters do not fit", true, std::string(128, 'x'), ""},
        {"empty format", true, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSSIResponse::FormatTime(kFileTime, c.gmt, c.timefmt), c.text) << c.description;
}

TEST(SSIFormats, StripCgiHeaderCutsAtTheFirstBlankLine)
{
    const struct {
        const char* description;
        std::string output;
        std::string body;
    } cases[] = {
        {"LF header", "Content-Type: text/html\n\nbody", "body"},
        {"CR LF header", "Content-Type: text/html\r\n\r\nbody", "body"},
        {"CR LF header, LF LF in the body", "A: b\r\nC: d\r\n\r\nbody\n\nmore", "body\n\nmore"},
        {"LF header, CR LF CR LF in the body", "A: b\n\nbody\r\n\r\nmore", "body\r\n\r\nmore"},
        {"no blank line", "just text\r\nno header", "just text\r\nno header"},
        {"blank line first", "\n\nbody", "body"},
        {"nothing after the header", "A: b\r\n\r\n", ""},
        {"empty output", "", ""},
        {"CR LF LF is no blank line of either kind", "A: b\r\n\nbody", "body"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StripCgiHeader(c.output), c.body) << c.description;
}

// --- the response ----------------------------------------------------------------------------

// The served tree: www/ under "/", other/ under "/other/", a forward entry under "/fwd/",
// and secret.txt beside www/, which no URL reaches.
class SSIResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        www_ = root_.Path() + "www/";
        fs::create_directories(www_ + "sub");
        fs::create_directories(root_.Path() + "other");
        testsupport::PutFile(root_.Path() + "secret.txt", "SECRET");
        testsupport::PutFile(www_ + "top.html", "TOP");
        testsupport::PutFile(root_.Path() + "other/o.html", "OTHER");

        settings.SetValue("Setting::Path::Path_0::ServerPath", sitePrefix_);
        settings.SetValue("Setting::Path::Path_0::LocalPath", www_);
        settings.SetValue("Setting::Path::Path_0::Options::EnableSSICGI", "1");
        settings.SetValue("Setting::Path::Path_1::ServerPath", "/other/");
        settings.SetValue("Setting::Path::Path_1::LocalPath", root_.Path() + "other/");
        settings.SetValue("Setting::Path::Path_2::ServerPath", "/fwd/");
        settings.SetValue("Setting::Path::Path_2::Forward", "http://example.com/");
        settings.SetValue("Setting::SSI::shtml", "shtml");
        settings.SetValue("Setting::CGI::Cgi_0::FileExt", "cgi");
        settings.SetValue("Setting::CGI::Cgi_0::ExecuteFile", "0");
        settings.SetValue("Setting::CGI::Cgi_0::FileHeader", "");
        settings.SetValue("Setting::CGI::Cgi_0::Command", "%FilePath%");
        StartCore();
    }

    // A file below www/ (folders made); `mode` 0 keeps the default.
    void Put(const std::string& name, const std::string& bytes, mode_t mode = 0)
    {
        fs::create_directories(fs::path(www_ + name).parent_path());
        testsupport::PutFile(www_ + name, bytes);
        if (mode != 0) {
            ASSERT_EQ(::chmod((www_ + name).c_str(), mode), 0);
        }
    }

    void SetFileTime(const std::string& name, int64_t time)
    {
        const timespec times[2] = {{time, 0}, {time, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (www_ + name).c_str(), times, 0), 0);
    }

    struct Page {
        int code = 0;             // of a status page the constructor named in its place
        std::string info;         // its reason
        std::string allow;        // its Allow header
        bool fatal = false;       // Build or GetSendData threw
        std::string fatalMessage;
        int64_t length = -1;
        std::string body;
        int laterSend = -1;       // what the second GetSendData returned
    };

    // Constructs, builds and drains the response as the pipeline does.
    Page Serve(const std::string& target, const std::string& method = "GET", const std::string& headers = "")
    {
        Page page;
        CRequestRecord& record = NewRecord();
        const CHttpRequest& request =
            record.ParseRequest(method + " " + target + " HTTP/1.1\r\nHost: test\r\n" + headers + "\r\n");
        const CRequestPath& path = NewPath(request.GetObject(), record.GetTargetHost());
        std::unique_ptr<CResponse> response =
            std::make_unique<CSSIResponse>(core.get(), record, path, connection_.state);
        if (const std::unique_ptr<CResponse> replacement = response->TakeReplacement()) {
            auto& status = dynamic_cast<CSystemResponse&>(*replacement);
            status.Build();
            page.code = status.GetResponseInfo().GetInt("ResponseCode", 0);
            page.info = status.GetInfo();
            page.allow = status.GetResponseInfo().GetString("Options::Allow", "");
            return page;
        }
        try {
            response->Build();
            page.length = response->GetContentLength();
            CByteBuffer buffer(32768);
            const int n = response->GetSendData(buffer);
            page.body.assign(buffer.GetData(), static_cast<std::size_t>(n > 0 ? n : 0));
            page.laterSend = response->GetSendData(buffer);
        } catch (const CServerFatalException& e) {
            page.fatal = true;
            page.fatalMessage = e.message;
        }
        return page;
    }

    // The page that `document` gives as /page.shtml.
    std::string Body(const std::string& document, const std::string& query = "", const std::string& headers = "")
    {
        Put("page.shtml", document);
        const Page page = Serve("/page.shtml" + query, "GET", headers);
        EXPECT_FALSE(page.fatal) << page.fatalMessage;
        EXPECT_EQ(page.length, static_cast<int64_t>(page.body.size()));
        return page.body;
    }

    // One value of a directive's attribute and the text it puts in the page.
    struct AttributeCase {
        const char* description;
        std::string value;
        std::string shown;
    };

    // For each case, the document that `target` names (below www/) holds only the directive
    // `directive`="value" between '<' and '>'; served, the page is the case's text between them.
    void ExpectEachShows(const std::string& directive, const std::string& target,
                         const std::vector<AttributeCase>& cases)
    {
        const std::string document = target.substr(1, target.find('?') - 1);
        for (const AttributeCase& c : cases) {
            Put(document, "<<!--#" + directive + "=\"" + c.value + "\" -->>");
            EXPECT_EQ(Serve(target).body, "<" + c.shown + ">") << c.description;
        }
    }

    std::string sitePrefix_ = "/";
    testsupport::TempFolder root_;
    std::string www_;
    TestConnection connection_;
};

TEST_F(SSIResponseTest, DocumentWithoutDirectivesIsSentUnchanged)
{
    const std::string document = std::string("<html>表示\r\n\0binary\xff</html>", 26);
    Put("page.shtml", document);
    const Page page = Serve("/page.shtml");
    ASSERT_FALSE(page.fatal) << page.fatalMessage;
    EXPECT_EQ(page.body, document);
    EXPECT_EQ(page.length, static_cast<int64_t>(document.size()));
    EXPECT_EQ(page.laterSend, 0) << "one piece, then the end";
}

TEST_F(SSIResponseTest, EmptyDocumentIsAFileFailure)
{
    Put("page.shtml", "");
    const Page page = Serve("/page.shtml");
    EXPECT_TRUE(page.fatal);
    EXPECT_EQ(page.fatalMessage, kParseFailed);
}

TEST_F(SSIResponseTest, PageOfSilentDirectivesFailsWhenSent)
{
    Put("page.shtml", "<!--#config sizefmt=\"bytes\" --><!--#echo var=\"NO_SUCH\" --><!--#printenv-->");
    const Page page = Serve("/page.shtml");
    EXPECT_TRUE(page.fatal);
    EXPECT_EQ(page.fatalMessage, kEmptyPage);
    EXPECT_EQ(page.length, 0);
}

TEST_F(SSIResponseTest, MissingDocumentIs404)
{
    const Page page = Serve("/none.shtml");
    EXPECT_EQ(page.code, 404);
    EXPECT_EQ(page.info, kNotFound);
}

TEST_F(SSIResponseTest, PathWithoutLocalFileIs404)
{
    // A forward entry "exists" as a redirect but names no file to read.
    const Page page = Serve("/fwd/page.shtml");
    EXPECT_EQ(page.code, 404);
    EXPECT_EQ(page.info, kNotFound);
}

TEST_F(SSIResponseTest, OnlyGetAndHeadAreServed)
{
    Put("page.shtml", "text");
    const struct {
        const char* method;
        int code;
    } cases[] = {{"GET", 0}, {"HEAD", 0}, {"POST", 405}, {"PUT", 405}, {"get", 405}, {"OPTIONS", 405}};
    for (const auto& c : cases) {
        const Page page = Serve("/page.shtml", c.method);
        EXPECT_EQ(page.code, c.code) << c.method;
        if (c.code == 405) {
            EXPECT_EQ(page.info, kNotAllowed) << c.method;
            EXPECT_EQ(page.allow, "GET, HEAD") << c.method;
        } else {
            EXPECT_EQ(page.body, "text") << c.method;
        }
    }
}

TEST_F(SSIResponseTest, EchoInCapitalsPrintsLocalTime)
{
    const int64_t before = std::time(nullptr);
    const std::string body = Body("[<!--#ECHO var=\"date_local\" -->]");
    const int64_t after = std::time(nullptr);
    EXPECT_TRUE(std::regex_match(body, std::regex(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\])"))) << body;
    bool matches = false;
    for (int64_t t = before; t <= after; ++t)
        matches = matches || body == "[" + CSSIResponse::FormatTime(t, false, CSSIResponse::kDefaultTimeFormat) + "]";
    EXPECT_TRUE(matches) << body;
}

TEST_F(SSIResponseTest, EchoOffersTheRequestAndDocumentVariables)
{
    testsupport::ScopedTimeZone zone("JST-9");
    Put("sub/doc.shtml", "x");
    SetFileTime("sub/doc.shtml", kFileTime);
    const struct {
        const char* description;
        std::string var;
        std::string value;
    } cases[] = {
        {"document name", "DOCUMENT_NAME", "doc.shtml"},
        {"document URI is the URL as received", "DOCUMENT_URI", "/sub/%64oc.shtml?a=%41+b"},
        {"query as received", "QUERY_STRING_UNESCAPED", "a=%41+b"},
        {"name in any case", "query_string_unescaped", "a=%41+b"},
        {"CGI variable", "QUERY_STRING", "a=%41+b"},
        {"CGI variable of the method", "Request_Method", "GET"},
        {"script name is the object", "SCRIPT_NAME", "/sub/doc.shtml"},
        {"header variable", "HTTP_USER_AGENT", "probe/1.0"},
        {"last write of the document", "LAST_MODIFIED", "2024/05/01 22:45:00"},
        {"unknown name", "NO_SUCH_VARIABLE", ""},
        {"the server's own environment is not offered", "PATH", ""},
    };
    for (const auto& c : cases) {
        Put("sub/doc.shtml", "[<!--#echo var=\"" + c.var + "\" -->]");
        SetFileTime("sub/doc.shtml", kFileTime);
        const Page page = Serve("/sub/%64oc.shtml?a=%41+b", "GET", "User-Agent: probe/1.0\r\n");
        EXPECT_EQ(page.body, "[" + c.value + "]") << c.description;
    }
}

TEST_F(SSIResponseTest, EchoFollowsTheTimeFormatInForce)
{
    const std::string year = CSSIResponse::FormatTime(std::time(nullptr), true, "%Y");
    EXPECT_EQ(Body("<!--#echo var=DATE_GMT --><!--#config timefmt=\"%Y\" -->|<!--#echo var=DATE_GMT -->").substr(19),
              "|" + year);
}

TEST_F(SSIResponseTest, EchoEscapesRequestText)
{
    const struct {
        const char* description;
        std::string var;
        std::string target;
        std::string headers;
        std::string shown;
    } cases[] = {
        {"markup in the query", "QUERY_STRING_UNESCAPED", "/page.shtml?<script>alert('x')</script>", "",
         "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        {"markup in the URI", "DOCUMENT_URI", "/page.shtml?\"><b>", "", "/page.shtml?&quot;&gt;&lt;b&gt;"},
        {"markup in a header", "HTTP_REFERER", "/page.shtml", "Referer: <img src=x>&\r\n", "&lt;img src=x&gt;&amp;"},
        {"a placeholder is text, not expanded", "QUERY_STRING_UNESCAPED", "/page.shtml?%DOCUMENT_NAME%", "",
         "%DOCUMENT_NAME%"},
    };
    for (const auto& c : cases) {
        Put("page.shtml", "<!--#echo var=\"" + c.var + "\" -->");
        const Page page = Serve(c.target, "GET", c.headers);
        EXPECT_EQ(page.body, c.shown) << c.description;
    }
}

TEST_F(SSIResponseTest, SizesFollowSizefmt)
{
    Put("big.bin", std::string(20000, 'b'));
    Put("small.bin", std::string(5000, 's'));
    Put("huge.bin", "");
    ASSERT_EQ(::truncate((www_ + "huge.bin").c_str(), 10485760), 0);
    EXPECT_EQ(Body("<!--#fsize file=\"big.bin\" -->|<!--#fsize file=\"small.bin\" -->|<!--#fsize file=\"huge.bin\" -->"
                   "|<!--#config sizefmt=\"bytes\" --><!--#fsize file=\"big.bin\" -->"),
              "19K|5000|10M|20000");
}

TEST_F(SSIResponseTest, LastModifiedUsesLocalTimeAndTimefmt)
{
    testsupport::ScopedTimeZone zone("JST-9");
    Put("dated.txt", "d");
    SetFileTime("dated.txt", kFileTime);
    EXPECT_EQ(Body("<!--#flastmod file=\"dated.txt\" -->|<!--#config timefmt=\"%d.%m.%Y %H\" -->"
                   "<!--#flastmod virtual=\"dated.txt\" -->"),
              "2024/05/01 22:45:00|01.05.2024 22");
}

TEST_F(SSIResponseTest, FileAttributeResolvesBesideTheDocument)
{
    Put("sub/part.txt", "PART");
    Put("sub/inc/deep.txt", "DEEP");
    Put("part.txt", "ROOTPART");
    Put("sub/folder/x", "x");
    ExpectEachShows("include file", "/sub/doc.shtml", {
        {"plain name", "part.txt", "PART"},
        {"dot slash", "./part.txt", "PART"},
        {"sub-folder", "inc/deep.txt", "DEEP"},
        {"missing file", "nothing.txt", kCannotOpen},
        {"a folder is no file", "folder", kCannotOpen},
        {"empty value", "", kCannotOpen},
    });
}

TEST_F(SSIResponseTest, FileAttributeNeverLeavesTheDocumentsFolder)
{
    Put("part.txt", "ROOTPART");
    Put("sub/.hidden", "HIDDEN");
    Put("sub/inc/x.txt", "X");
    ExpectEachShows("include file", "/sub/doc.shtml", {
        {"absolute path", www_ + "part.txt", kCannotOpen},
        {"system file", "/etc/passwd", kCannotOpen},
        {"parent folder", "../part.txt", kCannotOpen},
        {"down and up again", "inc/../../part.txt", kCannotOpen},
        {"'..' that stays inside is refused too", "inc/../inc/x.txt", kCannotOpen},
        {"hidden name", ".hidden", kCannotOpen},
        {"a name that only starts with dots", "...", kCannotOpen},
    });
    ExpectEachShows("fsize file", "/sub/doc.shtml", {{"fsize: parent folder", "../part.txt", kCannotOpen}});
}

TEST_F(SSIResponseTest, IncludedFileIsNotParsed)
{
    Put("part.txt", "<!--#echo var=\"DOCUMENT_NAME\" -->%DOCUMENT_NAME%");
    EXPECT_EQ(Body("<!--#include file=\"part.txt\" -->"), "<!--#echo var=\"DOCUMENT_NAME\" -->%DOCUMENT_NAME%");
}

TEST_F(SSIResponseTest, MissingIncludeKeepsTheTextAround)
{
    EXPECT_EQ(Body("before <!--#include file=\"gone.html\" --> after"), "before " + kCannotOpen + " after");
}

TEST_F(SSIResponseTest, VirtualAttributeResolvesThroughThePathEntries)
{
    Put("sub/part.txt", "PART");
    Put("sub/a b.txt", "SPACED");
    ExpectEachShows("include virtual", "/sub/doc.shtml", {
        {"relative to the document's URL", "part.txt", "PART"},
        {"absolute URL path", "/top.html", "TOP"},
        {"another path entry", "/other/o.html", "OTHER"},
        {"percent-escaped", "a%20b.txt", "SPACED"},
        {"'..' does not climb: /sub/../top.html is /sub/top.html", "../top.html", kCannotOpen},
        {"'..' at the root stays in the entry", "/../secret.txt", kCannotOpen},
        {"escaped '..' stays in the entry", "/%2e%2e/secret.txt", kCannotOpen},
        {"many '..'", "../../../secret.txt", kCannotOpen},
        {"a folder is no file", "/sub/", kCannotOpen},
        {"a forward entry has no file", "/fwd/x.html", kCannotOpen},
        {"missing", "/none.html", kCannotOpen},
    });
}

// Entries with access rules beside the open site.
class SSIResponseGuardedSiteTest : public SSIResponseTest {
protected:
    void SetUp() override
    {
        fs::create_directories(root_.Path() + "private");
        fs::create_directories(root_.Path() + "kicked");
        testsupport::PutFile(root_.Path() + "private/p.txt", "PRIVATE");
        testsupport::PutFile(root_.Path() + "kicked/k.txt", "KICKED");
        settings.SetValue("Setting::Path::Path_3::ServerPath", "/private/");
        settings.SetValue("Setting::Path::Path_3::LocalPath", root_.Path() + "private/");
        settings.SetValue("Setting::Path::Path_3::Options::EnableAuthenticate", "1");
        settings.SetValue("Setting::Path::Path_3::Users::ann", "ann");
        settings.SetValue("Setting::User::Enable::User_0::User", "ann");
        settings.SetValue("Setting::User::Enable::User_0::Passwd", "pw");
        settings.SetValue("Setting::Path::Path_4::ServerPath", "/kicked/");
        settings.SetValue("Setting::Path::Path_4::LocalPath", root_.Path() + "kicked/");
        settings.SetValue("Setting::Path::Path_4::Options::EnableHostKick", "1");
        settings.SetValue("Setting::Path::Path_4::Kick::Accept::10.*", "10.*");
        SSIResponseTest::SetUp();
    }
};

TEST_F(SSIResponseGuardedSiteTest, VirtualIncludeMeetsTheAccessRulesOfARequest)
{
    Put(".git/config", "[core]");
    const struct {
        const char* description;
        std::string directive;
        std::string credentials;  // "ann:pw" in Basic form, or none
        std::string shown;
    } cases[] = {
        {"authenticated entry without credentials", "include virtual=\"/private/p.txt\"", "", kCannotOpen},
        {"with wrong credentials", "include virtual=\"/private/p.txt\"", "Authorization: Basic YW5uOng=\r\n",
         kCannotOpen},
        {"with the request's credentials", "include virtual=\"/private/p.txt\"", "Authorization: Basic YW5uOnB3\r\n",
         "PRIVATE"},
        {"hidden folder", "include virtual=\"/.git/config\"", "", kCannotOpen},
        {"host not on the accept list", "include virtual=\"/kicked/k.txt\"", "", kCannotOpen},
        {"fsize of a refused file", "fsize virtual=\"/private/p.txt\"", "", kCannotOpen},
        {"flastmod of a refused file", "flastmod virtual=\"/.git/config\"", "", kCannotOpen},
    };
    for (const auto& c : cases) {
        Put("page.shtml", "<<!--#" + c.directive + " -->>");
        const Page page = Serve("/page.shtml", "GET", c.credentials);
        EXPECT_EQ(page.body, "<" + c.shown + ">") << c.description;
        EXPECT_EQ(page.code, 0) << c.description;
    }
}

TEST_F(SSIResponseTest, VirtualPathBesideADocumentIsNotDecodedTwice)
{
    // The document's folder "a%41" is requested as "a%2541"; decoding it again would name "aA".
    Put("a%41/doc.shtml", "<!--#include virtual=\"part.txt\" -->");
    Put("a%41/part.txt", "PERCENT");
    Put("aA/part.txt", "DECODED TWICE");
    EXPECT_EQ(Serve("/a%2541/doc.shtml").body, "PERCENT");
}

TEST_F(SSIResponseTest, VirtualFsizeUsesAnyAttributeNameButFile)
{
    Put("five.txt", "12345");
    EXPECT_EQ(Body("<!--#fsize virtual=\"/five.txt\" -->|<!--#fsize other=\"five.txt\" -->"), "5|5");
}

TEST_F(SSIResponseTest, IfAnswersTheFixedMessage)
{
    EXPECT_EQ(Body("<!--#if expr=\"$a\" -->A<!--#else -->B<!--#endif -->"), kIfNotSupported + "AB");
}

TEST_F(SSIResponseTest, UnknownAndBareDirectivesVanish)
{
    EXPECT_EQ(Body("1<!--#printenv-->2<!--#unknown x=y -->3<!--#exec other=\"x\" -->4<!--#config other=x -->5"),
              "12345");
}

TEST_F(SSIResponseTest, UnterminatedDirectiveAtTheEndIsText)
{
    EXPECT_EQ(Body("<!--#echo var=\"DOCUMENT_NAME\" --> and <!--#include file=\"x\""),
              "page.shtml and <!--#include file=\"x\"");
}

TEST_F(SSIResponseTest, TimeAndSizeFormatsStartAtTheirDefaultsForEachRequest)
{
    Put("big.bin", std::string(20000, 'b'));
    Body("<!--#config sizefmt=\"bytes\" -->x");
    EXPECT_EQ(Body("<!--#fsize file=\"big.bin\" -->"), "19K");
}

// A virtual path that no entry serves is the request's fatal error.
class SSIResponseNarrowSiteTest : public SSIResponseTest {
protected:
    void SetUp() override
    {
        sitePrefix_ = "/site/";
        SSIResponseTest::SetUp();
    }
};

TEST_F(SSIResponseNarrowSiteTest, VirtualPathOfNoEntryIsFatal)
{
    Put("page.shtml", "<!--#include virtual=\"/elsewhere.html\" -->");
    const Page page = Serve("/site/page.shtml");
    EXPECT_TRUE(page.fatal);
    EXPECT_EQ(page.fatalMessage, "あなたのアクセスしたURLは、このサーバの管理下ではありません");
}

// --- exec ------------------------------------------------------------------------------------

TEST_F(SSIResponseTest, ExecCmdRunsTheProgramBesideTheDocumentWithItsArguments)
{
    Put("bin/args.sh", "#!/bin/sh\nprintf '[%s]' \"$@\"\nprintf '{%s}' \"$(pwd -P)\"\n", 0755);
    const std::string folder = fs::canonical(www_ + "bin").string();
    const struct {
        const char* description;
        std::string value;
        std::string shown;
    } cases[] = {
        {"no arguments", "bin/args.sh", "[]{" + folder + "}"},
        {"arguments split at blanks", "bin/args.sh a  b", "[a][b]{" + folder + "}"},
        {"quoted argument", "bin/args.sh \"x y\" z", "[x y][z]{" + folder + "}"},
        {"arguments are not shell text", "bin/args.sh $(id) ;ls", "[$(id)][;ls]{" + folder + "}"},
        {"dot slash", "./bin/args.sh 1", "[1]{" + folder + "}"},
    };
    for (const auto& c : cases) {
        Put("page.shtml", "<!--#exec cmd=\"" + c.value + "\" -->");
        const Page page = Serve("/page.shtml");
        EXPECT_EQ(page.body, c.shown) << c.description;
    }
}

TEST_F(SSIResponseTest, ExecCmdThatCannotRunSaysSo)
{
    Put("plain.txt", "not a program");
    Put("marker.sh", "#!/bin/sh\nprintf RAN\n", 0755);
    const struct {
        const char* description;
        std::string value;
    } cases[] = {
        {"missing program: its arguments are never run instead", "nothing.sh " + www_ + "marker.sh"},
        {"empty command", ""},
        {"file without execute permission", "plain.txt"},
        {"a folder", "bin"},
    };
    fs::create_directories(www_ + "bin");
    for (const auto& c : cases) {
        Put("page.shtml", "<!--#exec cmd=\"" + c.value + "\" -->!");
        const Page page = Serve("/page.shtml");
        EXPECT_EQ(page.body, kCannotRun + "!") << c.description;
    }
}

TEST_F(SSIResponseTest, ExecCmdOutputIsAppendedUnchangedUpToAZeroByte)
{
    Put("markup.sh", "#!/bin/sh\nprintf '<b>%s</b><!--#echo var=\"DOCUMENT_NAME\" -->' \"$QUERY_STRING\"\n", 0755);
    Put("nul.sh", "#!/bin/sh\nprintf 'before\\000after'\n", 0755);
    Put("fails.sh", "#!/bin/sh\nprintf partial\nexit 3\n", 0755);
    EXPECT_EQ(Body("<!--#exec cmd=\"markup.sh\" -->|<!--#exec cmd=\"nul.sh\" -->|<!--#exec cmd=\"fails.sh\" -->", "?q"),
              "<b>q</b><!--#echo var=\"DOCUMENT_NAME\" -->|before|partial");
}

TEST_F(SSIResponseTest, ExecSeesTheDocumentsRequestInItsEnvironment)
{
    Put("env.sh",
        "#!/bin/sh\nprintf '%s|%s|%s|%s' \"$REQUEST_METHOD\" \"$SCRIPT_NAME\" \"$QUERY_STRING\" \"$CONTENT_LENGTH\"\n",
        0755);
    EXPECT_EQ(Body("<!--#exec cmd=\"env.sh\" -->", "?a=1"), "GET|/page.shtml|a=1|0");
}

TEST_F(SSIResponseTest, ExecCgiIncludesTheBodyOfTheScriptsOutput)
{
    Put("crlf.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\nStatus: 500\\r\\n\\r\\nbody\\n\\nmore'\n", 0755);
    Put("lf.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\nplain'\n", 0755);
    Put("query.cgi", "#!/bin/sh\nprintf '\\n\\n[%s]' \"$*\"\n", 0755);
    Put("script.txt", "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\nNO'\n", 0755);
    ExpectEachShows("exec cgi", "/page.shtml?x", {
        {"CR LF header, LF LF in the body", "crlf.cgi", "body\n\nmore"},
        {"LF header", "lf.cgi", "plain"},
        {"no query reaches the command line", "query.cgi", "[]"},
        {"no CGI entry for the extension", "script.txt", kCannotRun},
        {"missing file", "none.cgi", kCannotRun},
    });
}

TEST_F(SSIResponseTest, ExecRunsInDocumentOrder)
{
    Put("count.sh", "#!/bin/sh\nn=$(cat count.txt 2>/dev/null || echo 0)\nn=$((n+1))\necho $n > count.txt\nprintf $n\n",
        0755);
    EXPECT_EQ(Body("<!--#exec cmd=\"count.sh\" -->,<!--#exec cmd=\"count.sh\" -->,<!--#include file=\"count.txt\" -->"),
              "1,2,2\n");
}

}  // namespace
