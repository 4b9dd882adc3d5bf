// The real server under hostile use: what CGI answers cost in memory, what a CGI program
// sees of the server's own environment, includes that must not show what a request may
// not see, and an upload cut short by a crash.

#include "ServerProcessFixture.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using servertest::WaitUntil;
using testsupport::GetFile;
using testsupport::PutFile;

// How the big answers are made and checked: `yes` repeats this line.
const std::string kLine = "0123456789abcde\n";
constexpr long kAnswerBytes = 60 * 1000 * 1000;
constexpr int kAnswersAtOnce = 8;
// Eight such answers pass through the loopback and a temporary file in a few seconds.
constexpr int kBigAnswerTimeoutMs = 60000;
// How far the server's peak resident memory may rise above what it had once started: each
// answer holds little more than COutputSpool::kMemoryPart. Below the size of one answer, so
// a server that held even one answer whole would fail; measured from the started server,
// since a sanitizer's own memory there is several times the plain program's.
constexpr long kMemoryGrowthBoundKiB = 32 * 1024;

std::string BodyOf(const std::string& response)
{
    const std::string::size_type end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string Get(int port, const std::string& target, const std::string& headers = "")
{
    return testsupport::HttpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: safety-test\r\n" + headers +
                                               "Connection: close\r\n\r\n");
}

struct BigAnswer {
    std::string head;     // status line and headers
    long bodyBytes = 0;
    bool bodyIntact = true;  // every byte is where `yes` put it
};

// One GET read to the server's end of stream without keeping the body.
BigAnswer FetchBig(int port, const std::string& target)
{
    BigAnswer answer;
    const int fd = testsupport::ConnectLoopback(port, kBigAnswerTimeoutMs);
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: safety-test\r\nConnection: close\r\n\r\n";
    if (fd < 0 || ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        if (fd >= 0)
            ::close(fd);
        return answer;
    }
    std::string head;
    bool inBody = false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        size_t at = 0;
        if (!inBody) {
            head.append(buffer, static_cast<size_t>(n));
            const std::string::size_type end = head.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            inBody = true;
            const std::string first = head.substr(end + 4);
            head.resize(end);
            for (const char c : first)
                answer.bodyIntact = answer.bodyIntact && c == kLine[static_cast<size_t>(answer.bodyBytes++) % kLine.size()];
            continue;
        }
        for (; at < static_cast<size_t>(n); ++at)
            answer.bodyIntact =
                answer.bodyIntact && buffer[at] == kLine[static_cast<size_t>(answer.bodyBytes++) % kLine.size()];
    }
    ::close(fd);
    answer.head = head;
    return answer;
}

// The names in a folder other than "." and "..".
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// Whether the process holds a file of the folder open (named or not).
bool HoldsFileIn(pid_t pid, const std::string& folder)
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
        if (target.compare(0, folder.size(), folder) == 0 && target.size() > folder.size())
            return true;
    }
    return false;
}

class ProgramSafetyTest : public programtest::ServerProcessFixture {
protected:
    void SetUp() override
    {
        ServerProcessFixture::SetUp();
        settings.SetValue("Setting::Path::Path_0::Options::EnableSSICGI", "1");
        settings.SetValue("Setting::SSI::shtml", "shtml");
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        settings.SetValue("Setting::CGI::Cgi_0::FileExt", "sh");
        settings.SetValue("Setting::CGI::Cgi_0::ExecuteFile", "0");
        settings.SetValue("Setting::CGI::Cgi_0::Command", "/bin/sh %FilePath%");
    }
};

TEST_F(ProgramSafetyTest, EightLargeCgiAnswersAtOnceKeepMemoryBounded)
{
    const testsupport::TempFolder spool;
    PutFile(Www() + "big.sh", "printf 'Content-Type: text/plain\\r\\n\\r\\n'\nyes " + kLine.substr(0, kLine.size() - 1) +
                                  " | head -c " + std::to_string(kAnswerBytes) + "\n");
    StartServer({"TMPDIR=" + spool.Path()});
    const long started = StatusKilobytes("VmHWM");
    ASSERT_GT(started, 0);

    std::vector<std::future<BigAnswer>> answers;
    for (int i = 0; i < kAnswersAtOnce; ++i)
        answers.push_back(std::async(std::launch::async, FetchBig, Port(), "/big.sh"));
    for (auto& future : answers) {
        ASSERT_EQ(future.wait_for(std::chrono::milliseconds(2 * kBigAnswerTimeoutMs)), std::future_status::ready);
        const BigAnswer answer = future.get();
        EXPECT_EQ(answer.head.rfind("HTTP/1.1 200", 0), 0u) << answer.head;
        const std::string::size_type length = answer.head.find("Content-Length:");
        ASSERT_NE(length, std::string::npos) << answer.head;
        EXPECT_EQ(std::atol(answer.head.c_str() + length + 15), kAnswerBytes) << answer.head;
        EXPECT_EQ(answer.bodyBytes, kAnswerBytes);
        EXPECT_TRUE(answer.bodyIntact);
    }
    const long peak = StatusKilobytes("VmHWM");
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak - started, kMemoryGrowthBoundKiB) << "peak " << peak << " KiB, started " << started << " KiB";
    // The spooled output has no name and is gone with its answer.
    EXPECT_TRUE(Names(spool.Path()).empty());
}

TEST_F(ProgramSafetyTest, CgiProgramSeesOnlyPathLanguageAndTimeZoneOfTheServersEnvironment)
{
    PutFile(Www() + "env.sh", "printf 'Content-Type: text/plain\\r\\n\\r\\n'\nenv\n");
    StartServer({"TW_SECRET_TOKEN=hunter2", "LANG=C", "LC_TIME=C", "TZ=UTC"});
    const std::string body = BodyOf(Get(Port(), "/env.sh"));
    EXPECT_NE(body.find("GATEWAY_INTERFACE=CGI/1.1\n"), std::string::npos) << body;
    for (const char* kept : {"\nPATH=", "\nLANG=C\n", "\nLC_TIME=C\n", "\nTZ=UTC\n"})
        EXPECT_NE(("\n" + body).find(kept), std::string::npos) << kept << " in\n" << body;
    for (const char* gone : {"hunter2", "TARNWICK_ROOT", "NOTIFY_SOCKET", "HOME="})
        EXPECT_EQ(body.find(gone), std::string::npos) << gone << " in\n" << body;
}

TEST_F(ProgramSafetyTest, IncludesPrintTheErrorForWhatARequestMayNotSee)
{
    settings.SetValue("Setting::Path::Path_1::VirtualHost", "*");
    settings.SetValue("Setting::Path::Path_1::ServerPath", "/private/");
    settings.SetValue("Setting::Path::Path_1::LocalPath", "%ServerRoot%private/");
    settings.SetValue("Setting::Path::Path_1::Options::EnableAuthenticate", "1");
    settings.SetValue("Setting::Path::Path_1::Users::ann", "ann");
    settings.SetValue("Setting::User::Enable::User_0::User", "ann");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "pw");
    std::filesystem::create_directories(Www() + ".git");
    std::filesystem::create_directories(Www() + "../private");
    PutFile(Www() + ".git/config", "[core] secret");
    PutFile(Www() + "../private/p.txt", "PRIVATE");
    PutFile(Www() + "page.shtml", "<!--#include file=\"../Tarnwick.xml\" -->|<!--#include file=\"/etc/passwd\" -->|"
                                  "<!--#include virtual=\"/private/p.txt\" -->|<!--#include virtual=\"/.git/config\" -->");
    StartServer();
    const std::string error = "ファイルが開けません";
    EXPECT_EQ(BodyOf(Get(Port(), "/page.shtml")), error + "|" + error + "|" + error + "|" + error);
    // The same include with the request's credentials shows the file.
    PutFile(Www() + "page.shtml", "<!--#include virtual=\"/private/p.txt\" -->");
    EXPECT_EQ(BodyOf(Get(Port(), "/page.shtml", "Authorization: Basic YW5uOnB3\r\n")), "PRIVATE");
}

TEST_F(ProgramSafetyTest, UploadCutShortByAKillLeavesNoFileBehind)
{
    settings.SetValue("Setting::Path::Path_0::Options::EnableWrite", "1");
    PutFile(Www() + "old.txt", "OLD");
    StartServer();

    const long announced = 200L * 1000 * 1000;
    const int fd = testsupport::ConnectLoopback(Port());
    ASSERT_GE(fd, 0);
    const std::string head = "PUT /old.txt HTTP/1.1\r\nHost: safety-test\r\nContent-Length: " +
                             std::to_string(announced) + "\r\n\r\n";
    ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
    const std::string chunk(1 << 20, 'u');
    // Half of the body, far past the first writes to the temporary file.
    for (long sent = 0; sent < announced / 2; sent += static_cast<long>(chunk.size()))
        ASSERT_EQ(::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(chunk.size()));
    ASSERT_TRUE(WaitUntil([&] { return HoldsFileIn(Server().Pid(), Www()); }, 10s))
        << "the upload never opened a file in the folder";

    ASSERT_TRUE(Server().Signal(SIGKILL));
    EXPECT_EQ(Server().Wait(10s).signal, SIGKILL);
    ::close(fd);
    EXPECT_EQ(Names(Www()), std::vector<std::string>{"old.txt"});
    EXPECT_EQ(GetFile(Www() + "old.txt"), "OLD");
}

}  // namespace
