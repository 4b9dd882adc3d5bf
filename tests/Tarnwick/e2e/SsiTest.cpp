// Server-side includes over the network: a running core on a loopback port serves pages
// with directives to curl, so what is checked is the assembled page on the wire.

#include "CurlFixture.h"

#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <ctime>
#include <string>
#include <vector>

namespace {

using servertest::Answer;

const std::string kCannotRun = "コマンドが実行できませんでした";
const std::string kIfNotSupported = "SSIの制御構文はサポートしていません。";

constexpr int64_t kPartTime = 1056964608;  // mid-2003 in every time zone

// One page with every directive the server carries out.
const std::string kEveryDirective =
    "<html><!--#config timefmt=\"%Y\" --><!--#config sizefmt=\"bytes\" -->\n"
    "echo:[<!--#echo var=\"QUERY_STRING_UNESCAPED\" -->][<!--#echo var=\"document_name\" -->]\n"
    "file:[<!--#include file=\"part.html\" -->]\n"
    "virtual:[<!--#include virtual=\"/inc/v.html\" -->][<!--#include virtual=\"inc/v.html\" -->]\n"
    "fsize:[<!--#fsize file=\"part.html\" -->]\n"
    "flastmod:[<!--#flastmod file=\"part.html\" -->]\n"
    "cmd:[<!--#exec cmd=\"ssi-cmd.sh one 'two' \"three four\" x\" -->]\n"
    "cgi:[<!--#exec cgi=\"ssi-body.cgi\" -->]\n"
    "if:[<!--#if expr=\"$x\" -->]\n"
    "bare:[<!--#printenv-->]</html>";

class SsiTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        ServeDocumentsAtRoot();
        settings.SetValue("Setting::Path::Path_0::Options::EnableSSICGI", "1");
        // The same folder without server-side includes.
        settings.SetValue("Setting::Path::Path_1::ServerPath", "/plain/");
        settings.SetValue("Setting::Path::Path_1::LocalPath", docs.Path());
        settings.SetValue("Setting::SSI::shtml", "shtml");
        settings.SetValue("Setting::CGI::Cgi_0::FileExt", "cgi");
        settings.SetValue("Setting::CGI::Cgi_0::ExecuteFile", "0");
        settings.SetValue("Setting::CGI::Cgi_0::FileHeader", "");
        settings.SetValue("Setting::CGI::Cgi_0::Command", "%FilePath%");
        settings.SetValue("Setting::MimeType::text/html::Ext_00", "html");

        InstallProgram(std::string(TEST_CGI_DATA_DIR) + "/ssi-cmd.sh", "ssi-cmd.sh");
        InstallProgram(std::string(TEST_CGI_DATA_DIR) + "/ssi-body.cgi", "ssi-body.cgi");
        testsupport::PutFile(docs.Path() + "part.html", "<i>part</i>");
        const timespec times[2] = {{kPartTime, 0}, {kPartTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (docs.Path() + "part.html").c_str(), times, 0), 0);
        ASSERT_EQ(::mkdir((docs.Path() + "inc").c_str(), 0755), 0);
        testsupport::PutFile(docs.Path() + "inc/v.html", "virtual");
        testsupport::PutFile(docs.Path() + "page.shtml", kEveryDirective);
    }
};

// The page for a request with that query (as echoed) and method (as the program sees it).
std::string ExpectedPage(const std::string& shownQuery, const std::string& method = "GET")
{
    return "<html>\n"
           "echo:[" + shownQuery + "][page.shtml]\n"
           "file:[<i>part</i>]\n"
           "virtual:[virtual][virtual]\n"
           "fsize:[11]\n"
           "flastmod:[2003]\n"
           "cmd:[one,'two',three four,x," + method + "]\n"
           "cgi:[cgi body\n\nafter blank]\n"
           "if:[" + kIfNotSupported + "]\n"
           "bare:[]</html>";
}

TEST_F(SsiTest, PageWithEveryDirectiveIsAssembled)
{
    Start();
    const Answer answer = Get("/page.shtml?plain");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.Header("Content-Type"), "text/html");
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(answer.body.size()));
    EXPECT_FALSE(answer.HasHeader("X-Ignored")) << "the program's header lines are not evaluated";
    EXPECT_EQ(answer.body, ExpectedPage("plain"));
}

// A protected folder inside the document's: include file and include virtual alike need
// the folder's credentials, which a direct GET needs too.
TEST_F(SsiTest, IncludeOfAFileInAProtectedPathEntryNeedsItsCredentials)
{
    ASSERT_EQ(::mkdir((docs.Path() + "members").c_str(), 0755), 0);
    testsupport::PutFile(docs.Path() + "members/secret.html", "secret");
    settings.SetValue("Setting::Path::Path_2::ServerPath", "/members/");
    settings.SetValue("Setting::Path::Path_2::LocalPath", docs.Path() + "members/");
    settings.SetValue("Setting::Path::Path_2::Options::EnableAuthenticate", "1");
    settings.SetValue("Setting::Path::Path_2::Users::alice", "alice");
    settings.SetValue("Setting::User::Enable::User_0::User", "alice");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "s3cret");
    testsupport::PutFile(docs.Path() + "inc.shtml",
                         "file:[<!--#include file=\"members/secret.html\" -->]"
                         "virtual:[<!--#include virtual=\"members/secret.html\" -->]");
    Start();
    EXPECT_EQ(Get("/members/secret.html").status, 401);
    const Answer anonymous = Get("/inc.shtml");
    EXPECT_EQ(anonymous.status, 200);
    EXPECT_EQ(anonymous.body.find("secret"), std::string::npos) << anonymous.body;
    const Answer member = Get("/inc.shtml", {"-u", "alice:s3cret"});
    EXPECT_EQ(member.body, "file:[secret]virtual:[secret]");
}

TEST_F(SsiTest, MarkupInTheQueryIsEchoedEscaped)
{
    Start();
    const Answer answer = Get("/page.shtml?<script>alert(\"x\")</script>");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, ExpectedPage("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;"));
}

TEST_F(SsiTest, HeadAnswersWithTheLengthOfThePageItAssembles)
{
    Start();
    const Answer head = Get("/page.shtml", {"-I"});
    ASSERT_EQ(head.run.exitCode, 0) << head.run.err;
    EXPECT_EQ(head.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(head.Header("Content-Length"), std::to_string(ExpectedPage("", "HEAD").size()));
}

TEST_F(SsiTest, RefusalsAnswerWithStatusPages)
{
    Start();
    const struct {
        const char* description;
        std::string target;
        std::vector<std::string> extra;
        int status;
        std::string info;
    } cases[] = {
        {"POST", "/page.shtml", {"-X", "POST", "--data", "a=b"}, 405, "対応していないメソッドです"},
        {"missing page", "/none.shtml", {}, 404, "指定されたファイルは存在しません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get(c.target, c.extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
        EXPECT_NE(answer.body.find("<pre>" + c.info + "</pre>"), std::string::npos) << answer.body;
        if (c.status == 405) {
            EXPECT_EQ(answer.Header("Allow"), "GET, HEAD");
        }
    }
}

TEST_F(SsiTest, PagesOutsideTheListOrThePathOptionAreServedAsFiles)
{
    testsupport::PutFile(docs.Path() + "page.html", kEveryDirective);
    Start();
    const struct {
        const char* description;
        std::string target;
    } cases[] = {
        {"extension not listed in SSI", "/page.html"},
        {"path without EnableSSICGI", "/plain/page.shtml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Get(c.target);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, kEveryDirective);
    }
}

// exec names a file, not a URL: a path from the document's folder, or an absolute one on the
// disk. The program's URL names a file at the root of the disk, which is not there.
TEST_F(SsiTest, ExecCgiNamesAFileFromTheDocumentsFolderOrTheDiskNotAUrl)
{
    ASSERT_EQ(::mkdir((docs.Path() + "sub").c_str(), 0755), 0);
    InstallProgram(std::string(TEST_CGI_DATA_DIR) + "/ssi-body.cgi", "sub/ssi-body.cgi");
    const std::string body = "cgi body\n\nafter blank";
    const struct {
        const char* description;
        std::string program;
        std::string shown;
    } cases[] = {
        {"path from the document's folder", "sub/ssi-body.cgi", body},
        {"absolute path on the disk", docs.Path() + "sub/ssi-body.cgi", body},
        {"the program's URL", "/sub/ssi-body.cgi", kCannotRun},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        testsupport::PutFile(docs.Path() + "exec" + std::to_string(i) + ".shtml",
                             "[<!--#exec cgi=\"" + cases[i].program + "\" -->]");
    Start();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].description);
        const Answer answer = Get("/exec" + std::to_string(i) + ".shtml");
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "[" + cases[i].shown + "]");
    }
}

TEST_F(SsiTest, ProgramThatHangsIsEndedAndThePageStillSent)
{
    settings.SetValue("Setting::Basic::TimeOut", "2");
    InstallProgram(TEST_CGI_PROGRAM, "prog");
    // The program reads its mode from the page request's query.
    testsupport::PutFile(docs.Path() + "hang.shtml", "before <!--#exec cmd=\"prog\" --> after");
    Start();
    const Answer answer = Get("/hang.shtml?hang");
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "before " + kCannotRun + " after");

    const int pid = std::atoi(testsupport::GetFile(docs.Path() + "hang.pid").c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(servertest::WaitUntil([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; }))
        << "the program still runs";
}

}  // namespace
