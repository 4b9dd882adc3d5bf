// What a CGI program is started with: the command line the CGI entries choose for a script,
// the CGI variables of a request, and the environment block made of them and of a few
// variables of the server's own environment.

#include "responses/CGIProgram.h"

#include "http/RequestHeader.h"

#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "process/SubProcess.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "FileIo.h"
#include "Process.h"
#include "ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using servertest::TestConnection;

std::vector<std::string> Arguments(const std::string& commandLine)
{
    std::vector<std::string> texts;
    for (const platform::CommandArgument& arg : platform::SplitCommandLine(commandLine))
        texts.push_back(arg.text);
    return texts;
}

// --- command lines ------------------------------------------------------------------------

class CGICommandLineTest : public CoreFixture {
protected:
    void SetUp() override
    {
        const struct {
            const char* ext;
            const char* executeFile;
            const char* header;
            const char* command;
        } entries[] = {
            {"pl", "0", "perl", "/usr/bin/perl %FilePath%"},
            {"pl", "0", "", "/usr/bin/other %FilePath%"},
            {"cgi", "1", "", "%FilePath% %Query%"},
            {"cgi", "0", "#!/bin/sh", "/bin/sh %FilePath%"},
            {"none", "0", "", ""},
            {"odd", "2", "", "/bin/odd %FilePath%"},
            {"ア", "0", "", "/bin/katakana %FilePath%"},
            {"hdr", "0", "ア", "/bin/header %FilePath%"},
            {"tpl", "0", "", "/bin/echo \"%Query%\" %Other% --file=%FilePath% %25Query%25 %Query%"},
        };
        int index = 0;
        for (const auto& e : entries) {
            const std::string node = "Setting::CGI::CGI_" + std::to_string(index++) + "::";
            settings.SetValue(node + "FileExt", e.ext);
            settings.SetValue(node + "ExecuteFile", e.executeFile);
            settings.SetValue(node + "FileHeader", e.header);
            settings.SetValue(node + "Command", e.command);
        }
        StartCore();
    }

    // Writes a script into the folder; gives its path.
    std::string Script(const std::string& name, const std::string& bytes, mode_t mode = 0644)
    {
        const std::string path = folder_.Path() + name;
        testsupport::PutFile(platform::NativePath(path), bytes);
        EXPECT_EQ(chmod(platform::NativePath(path).c_str(), mode), 0);
        return path;
    }

    std::string Command(const std::string& path, const std::string& query = "")
    {
        return MakeCommandLine(core.get(), path, query);
    }

    servertest::TempFolder folder_;
};

TEST_F(CGICommandLineTest, ChoosesTheEntryByExtensionAndFirstLine)
{
    const std::string elf = std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10) + "perl";
    const struct {
        const char* description;
        std::string name;
        std::string bytes;
        mode_t mode;
        std::string program;  // "" for no command line
    } cases[] = {
        {"header found, extension in other case", "form.PL", "#!/usr/bin/Perl -w\nprint 1;\n", 0644, "/usr/bin/perl"},
        {"header missing: the next entry", "a.pl", "#!/bin/sh\n# perl on line two\n", 0644, "/usr/bin/other"},
        {"header beyond 254 bytes", "long.pl", "#" + std::string(253, ' ') + "perl\n", 0644, "/usr/bin/other"},
        {"header within 254 bytes", "edge.pl", "#" + std::string(249, ' ') + "perl\n", 0644, "/usr/bin/perl"},
        {"header after a zero byte", "zero.pl", std::string("#!\0perl\n", 8), 0644, "/usr/bin/other"},
        {"executable ELF program", "elf.cgi", elf, 0755, "elf.cgi"},
        {"executable script", "run.cgi", "#!/bin/sh\necho\n", 0755, "run.cgi"},
        {"script without execute permission", "plain.cgi", "#!/bin/sh\necho\n", 0644, "/bin/sh"},
        {"executable without ELF or #!", "mz.cgi", "MZ\x90\0", 0755, ""},
        {"ELF without execute permission", "noexec.cgi", elf, 0644, ""},
        {"empty Command", "x.none", "", 0644, ""},
        {"ExecuteFile neither 0 nor 1", "x.odd", "", 0644, ""},
        {"no entry for the extension", "x.txt", "", 0644, ""},
        {"no extension", "noext", "", 0644, ""},
        {"extension in CP932", "x.ア", "", 0644, "/bin/katakana"},
        {"a trail byte is not a letter", "x.ヂ", "", 0644, ""},
        {"CP932 header found", "h.hdr", "# ア\n", 0644, "/bin/header"},
        {"CP932 header not folded", "k.hdr", "# ヂ\n", 0644, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string path = Script(c.name, c.bytes, c.mode);
        const std::vector<std::string> args = Arguments(Command(path));
        if (c.program.empty()) {
            EXPECT_EQ(Command(path), "");
            continue;
        }
        ASSERT_FALSE(args.empty());
        if (c.program.front() == '/')
            EXPECT_EQ(args, (std::vector<std::string>{c.program, path}));
        else
            EXPECT_EQ(args, std::vector<std::string>{path});
    }
}

TEST_F(CGICommandLineTest, UnreadableScriptHasAnEmptyFirstLine)
{
    EXPECT_EQ(Command(folder_.Path() + "absent.pl"), "/usr/bin/other " + folder_.Path() + "absent.pl");
    EXPECT_EQ(Command(folder_.Path() + "absent.cgi"), "");
    ASSERT_EQ(mkfifo((folder_.Path() + "fifo.pl").c_str(), 0644), 0);
    EXPECT_EQ(Command(folder_.Path() + "fifo.pl"), "/usr/bin/other " + folder_.Path() + "fifo.pl")
        << "a FIFO must not be waited on";
}

TEST_F(CGICommandLineTest, PathAndQueryStayOneArgumentEach)
{
    const std::string path = Script("my script.cgi", "#!/bin/sh\n", 0755);
    const struct {
        const char* description;
        std::string query;
        std::vector<std::string> args;
    } cases[] = {
        {"no query leaves no argument", "", {path}},
        {"blanks", "a b  c", {path, "a b  c"}},
        {"an option", "-x", {path, "-x"}},
        {"quotes and backslashes", "\"a\\\" \\", {path, "\"a\\\" \\"}},
        {"the path placeholder", "%FilePath%", {path, "%FilePath%"}},
        {"the query placeholder", "%Query%", {path, "%Query%"}},
        {"an encoded placeholder", "%25Query%25", {path, "%25Query%25"}},
        {"CP932 with a 0x5C byte", "表示", {path, "表示"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Arguments(Command(path, c.query)), c.args);
    }
    EXPECT_EQ(Command(path, "q"), "\"" + path + "\" q");
}

TEST_F(CGICommandLineTest, FillsOnlyItsTwoPlaceholdersAndKeepsQuotedEmptyArguments)
{
    const std::string path = Script("t.tpl", "");
    EXPECT_EQ(Arguments(Command(path, "")),
              (std::vector<std::string>{"/bin/echo", "", "%Other%", "--file=" + path, "%25Query%25"}));
    EXPECT_EQ(Arguments(Command(path, "q")),
              (std::vector<std::string>{"/bin/echo", "q", "%Other%", "--file=" + path, "%25Query%25", "q"}));
}

// --- the CGI environment ------------------------------------------------------------------

class CGIEnvironmentTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", folder_.Path());
        StartCore();
        testsupport::PutFile(folder_.Path() + "s.cgi", "#!/bin/sh\n");
    }


    // Parses the request into a new record (client 127.0.0.1) and builds its environment
    // as reached at 127.0.0.2:kServerPort with the body its header announces, or of
    // `bodyLength` bytes.
    std::vector<CConfigLeaf> Environment(const std::string& head, int64_t bodyLength = -1)
    {
        record_ = &NewRecord();
        try {
            record_->ParseRequest(head + "\r\n");
        } catch (const CRequestRefusal&) {
            // Host lines are the driver's to refuse: the request is parsed either way.
        }
        path_ = &NewPath(record_->GetRequest().GetObject());
        const CConfigAccessor env = scratch_.GetAccessor("Env");
        env.SetString("STALE", "from before");
        const int64_t length = bodyLength >= 0 ? bodyLength : record_->GetRequest().GetContentLength();
        BuildEnvironment(env, core.get(), *record_, *path_, CgiCallFacts{"127.0.0.2", kServerPort, length});
        std::vector<CConfigLeaf> leaves;
        env.GetLeaves(leaves);
        return leaves;
    }

    static std::string Value(const std::vector<CConfigLeaf>& leaves, const std::string& key)
    {
        for (const CConfigLeaf& leaf : leaves)
            if (leaf.key == key)
                return leaf.value;
        return "(unset)";
    }

    // Every listed variable has its value; "(unset)" names one that must be absent.
    static void ExpectValues(const std::vector<CConfigLeaf>& leaves,
                             const std::vector<std::pair<std::string, std::string>>& expected)
    {
        for (const auto& e : expected)
            EXPECT_EQ(Value(leaves, e.first), e.second) << e.first;
    }

    static std::vector<std::string> Keys(const std::vector<CConfigLeaf>& leaves)
    {
        std::vector<std::string> keys;
        for (const CConfigLeaf& leaf : leaves)
            keys.push_back(leaf.key);
        return keys;
    }

    void Option(const std::string& key, const std::string& value)
    {
        core->GetSettingAccessor().SetString("Path::Path_0::Options::" + key, value);
    }

    // The port the request reached: not the server's HTTP port, as on HTTPS.
    static constexpr int kServerPort = 44321;

    servertest::TempFolder folder_;
    CConfigClass scratch_;
    CRequestRecord* record_ = nullptr;
    const CRequestPath* path_ = nullptr;
};

TEST_F(CGIEnvironmentTest, SetsEveryVariableInItsOrder)
{
    Option("EnableAuthenticate", "1");
    core->GetSettingAccessor().SetString("CGIEnvironment::EnableGetHostName", "1");
    const auto env = Environment(
        "POST /s.cgi?a=%41&b HTTP/1.1\r\nHost: example.org\r\nContent-Length: 12\r\nContent-Type: text/plain\r\n"
        "Accept: text/html\r\nUser-Agent: agent\r\nReferer: http://r/\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"
        "Via: 1.1 p\r\nForwarded: for=x\r\nProxy-Connection: close\r\nCookie: c=1\r\n");
    EXPECT_EQ(Keys(env), (std::vector<std::string>{
                             "SERVER_SOFTWARE", "SERVER_SIGNATURE", "SERVER_NAME", "GATEWAY_INTERFACE",
                             "SERVER_PROTOCOL", "SERVER_ADDR", "SERVER_PORT", "HTTP_HOST", "REQUEST_METHOD",
                             "CONTENT_LENGTH", "CONTENT_TYPE", "QUERY_STRING", "SCRIPT_FILENAME", "SCRIPT_NAME",
                             "REQUEST_URI", "AUTH_TYPE", "HTTP_ACCEPT", "HTTP_USER_AGENT", "HTTP_REFERER",
                             "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_USER", "HTTP_VIA", "HTTP_FORWARDED",
                             "HTTP_PROXY_CONNECTION", "HTTP_COOKIE"}));
    const CConfigAccessor info = core->GetInfoAccessor();
    ExpectValues(env, {
        {"SERVER_SOFTWARE", CServerCore::kServerSignature},
        {"SERVER_SIGNATURE", std::string("<address>") + CServerCore::kServerSignature + "</address>"},
        {"SERVER_NAME", info.GetString("ServerHostName", "")},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
        {"SERVER_PROTOCOL", "HTTP/1.1"},
        {"SERVER_ADDR", "127.0.0.2"},
        {"SERVER_PORT", std::to_string(kServerPort)},
        {"HTTP_HOST", "example.org"},
        {"REQUEST_METHOD", "POST"},
        {"CONTENT_LENGTH", "12"},
        {"CONTENT_TYPE", "text/plain"},
        {"QUERY_STRING", "a=%41&b"},
        {"SCRIPT_FILENAME", folder_.Path() + "s.cgi"},
        {"SCRIPT_NAME", "/s.cgi"},
        {"REQUEST_URI", "/s.cgi?a=%41&b"},
        {"AUTH_TYPE", "basic"},
        {"HTTP_ACCEPT", "text/html"},
        {"HTTP_USER_AGENT", "agent"},
        {"HTTP_REFERER", "http://r/"},
        {"REMOTE_ADDR", "127.0.0.1"},
        {"REMOTE_USER", "user"},
        {"HTTP_VIA", "1.1 p"},
        {"HTTP_FORWARDED", "for=x"},
        {"HTTP_PROXY_CONNECTION", "close"},
        {"HTTP_COOKIE", "c=1"},
    });
    EXPECT_NE(Value(env, "REMOTE_HOST"), "");
}

TEST_F(CGIEnvironmentTest, EachKindOfRequestGetsItsValues)
{
    const struct {
        const char* description;
        std::string head;
        std::vector<std::pair<std::string, std::string>> expected;
    } cases[] = {
        {"a minimal request gets the defaults", "GET /s.cgi HTTP/1.1\r\n",
         {
             {"HTTP_HOST", "(unset)"},
             {"QUERY_STRING", ""},
             {"CONTENT_LENGTH", "0"},
             {"CONTENT_TYPE", ""},
             {"HTTP_ACCEPT", "*/*"},
             {"REMOTE_HOST", "(unset)"},
             {"AUTH_TYPE", "(unset)"},
             {"REMOTE_USER", "(unset)"},
             {"STALE", "(unset)"},
         }},
        {"header names match in any case", "GET /s.cgi HTTP/1.1\r\nhost: h\r\ncontent-LENGTH: 7\r\nUSER-AGENT: u\r\n",
         {{"HTTP_HOST", "h"}, {"CONTENT_LENGTH", "7"}, {"HTTP_USER_AGENT", "u"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        ExpectValues(Environment(c.head), c.expected);
    }
}

TEST(CGIOneLineTest, LineBreaksInAHeaderValueBecomeBlanks)
{
    EXPECT_EQ(OneLine("a\r\nSet: x"), "a  Set: x");
    EXPECT_EQ(OneLine("c\nd\re"), "c d e");
    EXPECT_EQ(OneLine("h\r\n"), "h  ");
    EXPECT_EQ(OneLine("plain"), "plain");
}

// The body a program gets is known only once it has come (a chunked one has no
// Content-Length), and the port is the one the client reached.
TEST_F(CGIEnvironmentTest, ContentLengthIsTheBodyGivenAndServerPortThePortReached)
{
    const auto env = Environment("POST /s.cgi HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n", 5);
    ExpectValues(env, {{"CONTENT_LENGTH", "5"}, {"SERVER_PORT", std::to_string(kServerPort)}});
    EXPECT_NE(std::to_string(kServerPort), core->GetInfoAccessor().GetString("ServerPort", ""));
}

TEST_F(CGIEnvironmentTest, UserOnlyWhenThePathAuthenticated)
{
    const struct {
        const char* description;
        const char* enable;
        std::string authorization;
        std::string authType;
        std::string user;
    } cases[] = {
        {"authentication off, credentials sent", "0", "Authorization: Basic dXNlcjpwYXNz\r\n", "(unset)", "(unset)"},
        {"authentication on, credentials sent", "1", "Authorization: Basic dXNlcjpwYXNz\r\n", "basic", "user"},
        {"authentication on, none sent", "1", "", "(unset)", "(unset)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Option("EnableAuthenticate", c.enable);
        const auto env = Environment("GET /s.cgi HTTP/1.1\r\n" + c.authorization);
        EXPECT_EQ(Value(env, "AUTH_TYPE"), c.authType);
        EXPECT_EQ(Value(env, "REMOTE_USER"), c.user);
    }
}

TEST_F(CGIEnvironmentTest, ChildSeesTheCgiVariablesThenOnlyPathLanguageAndTimeZoneOfOurs)
{
    const testsupport::ScopedEnvironment variables[] = {
        {"QUERY_STRING", "leaked"}, {"SERVER_NAME", "ours"}, {"TW_SECRET_TOKEN", "leaked"},
        {"LANGUAGE", "leaked"},     {"LANG", "C"},           {"LC_TIME", "C"},
        {"TZ", "UTC"},
    };
    Environment("GET /s.cgi HTTP/1.1\r\nHost: h\r\n");

    TestConnection connection;
    CSubProcess process(connection.state);
    process.SetEnvironmentBlock(
        PrepareEnvironment(core.get(), *record_, *path_, MakeCgiCallFacts(connection.state, 0)));
    process.Start("/usr/bin/env", "", "");
    const std::string output = process.GetOutput().ReadAll();

    std::vector<std::string> names;
    for (size_t at = 0; at < output.size();) {
        const size_t end = output.find('\n', at);
        const std::string line = output.substr(at, end - at);
        names.push_back(line.substr(0, line.find('=')));
        at = end == std::string::npos ? output.size() : end + 1;
    }
    // Empty values are left out: no QUERY_STRING, CONTENT_TYPE, HTTP_USER_AGENT ...
    const std::vector<std::string> cgi = {"SERVER_SOFTWARE", "SERVER_SIGNATURE", "SERVER_NAME", "GATEWAY_INTERFACE",
                                          "SERVER_PROTOCOL", "SERVER_ADDR",      "SERVER_PORT", "HTTP_HOST",
                                          "REQUEST_METHOD",  "CONTENT_LENGTH",   "SCRIPT_FILENAME", "SCRIPT_NAME",
                                          "REQUEST_URI",     "HTTP_ACCEPT",      "REMOTE_ADDR"};
    ASSERT_GE(names.size(), cgi.size()) << output;
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + static_cast<long>(cgi.size())), cgi);
    EXPECT_EQ(output.find("QUERY_STRING"), std::string::npos);
    EXPECT_EQ(output.find("=ours\n"), std::string::npos);
    EXPECT_EQ(output.find("leaked"), std::string::npos) << output;
    const std::vector<std::string> ours(names.begin() + static_cast<long>(cgi.size()), names.end());
    for (const std::string& name : ours)
        EXPECT_TRUE(name == "PATH" || name == "LANG" || name == "TZ" || name.compare(0, 3, "LC_") == 0) << name;
    for (const char* name : {"PATH=", "LANG=C\n", "LC_TIME=C\n", "TZ=UTC\n"})
        EXPECT_NE(output.find(std::string("\n") + name), std::string::npos) << name;
    EXPECT_NE(output.find("\nHTTP_HOST=h\n"), std::string::npos);
    EXPECT_NE(output.find("\nCONTENT_LENGTH=0\n"), std::string::npos);
}

// --- the environment block ---------------------------------------------------------------

// The block's entries, in order, up to the empty one that ends it.
std::vector<std::string> Entries(const std::string& block)
{
    std::vector<std::string> entries;
    for (std::string::size_type at = 0; at < block.size() && block[at] != '\0';) {
        entries.emplace_back(block.c_str() + at);
        at += entries.back().size() + 1;
    }
    return entries;
}

std::string Block(const std::vector<std::pair<std::string, std::string>>& variables,
                  std::vector<const char*> own)
{
    CConfigClass scratch;
    const CConfigAccessor env = scratch.GetAccessor("Env");
    for (const auto& variable : variables)
        env.SetString(variable.first, variable.second);
    own.push_back(nullptr);
    return MakeEnvironmentBlock(env, own.data());
}

TEST(CGIEnvironmentBlockTest, HoldsTheVariablesThenOnlyPathLanguageAndTimeZoneOfOurs)
{
    const struct {
        const char* description;
        std::vector<std::pair<std::string, std::string>> variables;
        std::vector<const char*> own;
        std::vector<std::string> entries;
    } cases[] = {
        {"the variables in their order", {{"B", "2"}, {"A", "1"}}, {}, {"B=2", "A=1"}},
        {"a variable with an empty value is left out", {{"QUERY_STRING", ""}, {"X", "1"}}, {}, {"X=1"}},
        {"ours come after the variables", {{"A", "1"}}, {"PATH=/bin"}, {"A=1", "PATH=/bin"}},
        {"of ours only PATH, LANG, LC_* and TZ",
         {},
         {"HOME=/root", "PATH=/bin", "LANGUAGE=en", "LANG=C", "TW_SECRET_TOKEN=s", "LC_TIME=C", "TZ=UTC", "LC=x"},
         {"PATH=/bin", "LANG=C", "LC_TIME=C", "TZ=UTC"}},
        {"a name in both comes twice, the variable first", {{"PATH", "/cgi"}}, {"PATH=/bin"},
         {"PATH=/cgi", "PATH=/bin"}},
        {"ours without '=' or with an empty value are left out", {}, {"PATH", "LANG=", "TZ=UTC"}, {"TZ=UTC"}},
        {"a value may hold '='", {{"QUERY_STRING", "a=b"}}, {"LC_ALL=x=y"}, {"QUERY_STRING=a=b", "LC_ALL=x=y"}},
        {"nothing at all", {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Entries(Block(c.variables, c.own)), c.entries);
    }
}

TEST(CGIEnvironmentBlockTest, TakesAtMostTheLimitOfOurs)
{
    const struct {
        const char* description;
        int ours;
    } cases[] = {
        {"one fewer than the limit", kMaxOwnEnvironment - 1},
        {"the limit", kMaxOwnEnvironment},
        {"one more than the limit", kMaxOwnEnvironment + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::vector<std::string> texts;
        for (int i = 0; i < c.ours; ++i)
            texts.push_back("LC_" + std::to_string(i) + "=C");
        std::vector<const char*> own;
        for (const std::string& text : texts)
            own.push_back(text.c_str());
        const std::vector<std::string> entries = Entries(Block({{"A", "1"}}, own));
        ASSERT_EQ(entries.size(), 1u + static_cast<size_t>(std::min(c.ours, kMaxOwnEnvironment)));
        EXPECT_EQ(entries.front(), "A=1");
        EXPECT_EQ(entries.back(), texts[entries.size() - 2]);
    }
}

}  // namespace
