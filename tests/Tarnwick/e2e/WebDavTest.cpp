// Index pages, the write methods, OPTIONS and PROPFIND over the network: a running core on a
// loopback port, with curl and the WebDAV client cadaver as its clients, and the effects
// checked on the disk.

#include "CurlFixture.h"

#include "ChildProcess.h"
#include "FileSizeLimit.h"
#include "ServerTestSupport.h"

#include "CRuntime.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using servertest::Answer;
using servertest::PercentEncode;

// A whole scripted cadaver session: a dozen requests and its start-up.
constexpr auto kCadaverLimit = 30s;
constexpr const char* kCadaver = "/usr/bin/cadaver";

constexpr const char* kDavNamespace = "DAV:";

std::string PercentDecode(const std::string& text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            bytes += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

bool Exists(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

bool IsFolder(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// One D:response of a multistatus document: its decoded href and whether it is a folder.
struct DavEntry {
    std::string href;
    bool collection = false;
};

class WebDavTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        site = docs.Path() + "site/";
        other = docs.Path() + "other/";
        ASSERT_EQ(::mkdir(site.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(other.c_str(), 0755), 0);
        ServeFolder(0, "/", site, {"EnableIndex", "EnableWrite", "EnableWebDAV"});
        ServeFolder(1, "/other/", other, {"EnableIndex", "EnableWrite", "EnableWebDAV"});
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
    }

    // One request by curl; `extra` goes before the URL.
    Answer Request(const std::string& target, const std::vector<std::string>& extra = {})
    {
        return Fetch(Url(target), extra);
    }

    Answer Method(const std::string& method, const std::string& target, std::vector<std::string> extra = {})
    {
        extra.insert(extra.begin(), {"-X", method});
        return Request(target, extra);
    }

    // PUT of `bytes` as the body; no "Expect: 100-continue" wait.
    Answer Put(const std::string& target, const std::string& bytes)
    {
        const std::string bodyFile = ScratchFile("upload");
        testsupport::PutFile(bodyFile, bytes);
        return Method("PUT", target, {"-H", "Expect:", "-H", "Content-Type: application/octet-stream",
                                      "--data-binary", "@" + bodyFile});
    }

    // COPY or MOVE with a Destination on this server.
    Answer Transfer(const std::string& method, const std::string& source, const std::string& destination)
    {
        return Method(method, source, {"-H", "Destination: " + Url(destination)});
    }

    // A PROPFIND's D:response elements, in document order.
    std::vector<DavEntry> Propfind(const std::string& target, const std::string& depth, Answer& answer)
    {
        answer = Method("PROPFIND", target, {"-H", "Depth: " + depth});
        std::vector<DavEntry> entries;
        std::string error;
        const std::unique_ptr<platform::XmlDocument> document = platform::XmlDocument::Parse(answer.body, error);
        if (!document) {
            ADD_FAILURE() << "not XML: " << error << "\n" << answer.body;
            return entries;
        }
        for (const platform::XmlNode& response : ResponsesOf(*document)) {
            DavEntry entry;
            for (const platform::XmlNode& child : response.Children()) {
                if (child.IsElement() && child.Name() == "href" && child.NamespaceUri() == kDavNamespace)
                    entry.href = PercentDecode(child.Text());
            }
            entry.collection = HasCollection(response);
            entries.push_back(entry);
        }
        return entries;
    }

    static std::vector<platform::XmlNode> ResponsesOf(const platform::XmlDocument& document)
    {
        return document.ElementsByTagNameNS(kDavNamespace, "response");
    }

    // Whether a D:resourcetype below `node` holds a D:collection.
    static bool HasCollection(const platform::XmlNode& node)
    {
        for (const platform::XmlNode& child : node.Children()) {
            if (!child.IsElement())
                continue;
            if (child.Name() == "collection" && child.NamespaceUri() == kDavNamespace)
                return true;
            if (HasCollection(child))
                return true;
        }
        return false;
    }

    // A request for a table: `destination` ("" for none) is on this server, and a PUT has a
    // small body.
    struct Named {
        const char* method;
        const char* target;
        const char* destination;
    };

    // Sends each request and expects `status` for every one.
    void ExpectEachAnswered(const std::vector<Named>& requests, int status)
    {
        for (const Named& named : requests) {
            SCOPED_TRACE(std::string(named.method) + " " + named.target + " " + named.destination);
            const std::string method = named.method;
            std::vector<std::string> extra;
            if (*named.destination)
                extra = {"-H", "Destination: " + Url(named.destination)};
            if (method == "PUT")
                extra.insert(extra.end(), {"-H", "Expect:", "--data-binary", "new"});
            if (method == "HEAD")
                extra.push_back("-I");
            const Answer answer = Method(method, named.target, extra);
            ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
            EXPECT_EQ(answer.status, status);
        }
    }

    // A GET and the body it must be answered with.
    struct Served {
        const char* what;
        std::string target;
        const char* body;
    };

    // Each target answers 200 with its body.
    void ExpectEachServed(const std::vector<Served>& requests)
    {
        for (const Served& served : requests) {
            SCOPED_TRACE(served.what);
            const Answer answer = Request(served.target);
            ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
            EXPECT_EQ(answer.status, 200);
            EXPECT_EQ(answer.body, served.body);
        }
    }

    // The decoded hrefs of a PROPFIND of the whole site, sorted; `answer` receives its answer.
    std::vector<std::string> SortedHrefs(Answer& answer)
    {
        std::vector<std::string> hrefs;
        for (const DavEntry& entry : Propfind("/", "infinity", answer))
            hrefs.push_back(entry.href);
        std::sort(hrefs.begin(), hrefs.end());
        return hrefs;
    }

    // Every path below `folder` (links not followed), relative to it and sorted: a write
    // that was refused leaves this as it was.
    static std::vector<std::string> Tree(const std::string& folder)
    {
        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            paths.push_back(entry.path().string().substr(folder.size()));
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::string site;   // the "/" entry's folder
    std::string other;  // the "/other/" entry's folder
};

// --- index pages --------------------------------------------------------------------------

// A link target as a browser sends it from a Shift_JIS page: each non-ASCII character
// becomes its Shift_JIS bytes, all percent-escaped (a trail byte such as '{' included).
std::string AsBrowserSendsIt(const std::string& href)
{
    std::string url;
    for (std::string::size_type i = 0; i < href.size();) {
        const std::string::size_type length = platform::CharLength(href, i);
        if (length == 1 && static_cast<unsigned char>(href[i]) < 0x80) {
            url += href[i++];
            continue;
        }
        for (std::string::size_type k = 0; k < length && i < href.size(); ++k, ++i) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(href[i]));
            url += escaped;
        }
    }
    return url;
}

// The target of the link whose label is `label`; "" when the page has none.
std::string LinkTarget(const std::string& page, const std::string& label)
{
    const std::string::size_type end = page.find("\">" + label + "</A>");
    if (end == std::string::npos)
        return "";
    const std::string opening = "<A HREF=\"";
    const std::string::size_type start = page.rfind(opening, end);
    if (start == std::string::npos)
        return "";
    return page.substr(start + opening.size(), end - start - opening.size());
}

TEST_F(WebDavTest, IndexPageListsAJapaneseNamedFileWhoseLinkFetchesIt)
{
    // 表 ends in the byte 0x5C in CP932: the link must keep it as part of the name.
    const std::string utf8Name = u8"日本語表.txt";
    const std::string cp932Name = "日本語表.txt";
    ASSERT_NE(utf8Name, cp932Name) << "narrow literals are not compiled as CP932";
    testsupport::PutFile(site + utf8Name, "japanese\n");
    testsupport::PutFile(site + ".secret", "hidden\n");
    Start();

    const Answer index = Request("/");
    ASSERT_EQ(index.run.exitCode, 0) << index.run.err;
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(index.Header("Content-Type"), "text/html");
    EXPECT_EQ(index.Header("Content-Length"), std::to_string(index.body.size()));
    // The page is CP932, as is the name on it.
    const std::string link = LinkTarget(index.body, cp932Name);
    ASSERT_FALSE(link.empty()) << index.body;
    EXPECT_EQ(index.body.find(".secret"), std::string::npos) << "a hidden file was listed";
    // The second entry shows as a link below the root.
    EXPECT_EQ(LinkTarget(index.body, "other/"), "other/") << index.body;

    EXPECT_NE(index.body.find("charset=Shift_JIS"), std::string::npos);
    const Answer followed = Request("/" + AsBrowserSendsIt(link));
    ASSERT_EQ(followed.run.exitCode, 0) << followed.run.err;
    EXPECT_EQ(followed.status, 200) << link;
    EXPECT_EQ(followed.body, "japanese\n");
}

TEST_F(WebDavTest, IndexPageQueryChoosesTheOrderOfTheFiles)
{
    testsupport::PutFile(site + "a.txt", std::string(300, 'a'));
    testsupport::PutFile(site + "b.txt", std::string(10, 'b'));
    testsupport::PutFile(site + "c.txt", std::string(20, 'c'));
    Start();

    const struct {
        const char* query;
        std::vector<std::string> order;
    } cases[] = {
        {"?name", {"a.txt", "b.txt", "c.txt"}},
        {"?size", {"b.txt", "c.txt", "a.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const Answer index = Request(std::string("/") + c.query);
        ASSERT_EQ(index.run.exitCode, 0) << index.run.err;
        ASSERT_EQ(index.status, 200);
        std::vector<std::string::size_type> positions;
        for (const std::string& name : c.order) {
            positions.push_back(index.body.find("\">" + name + "</A>"));
            ASSERT_NE(positions.back(), std::string::npos) << name << "\n" << index.body;
        }
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << index.body;
    }
}

TEST_F(WebDavTest, IndexPageOfAFolderLeadsBackToItsParent)
{
    ASSERT_EQ(::mkdir((site + "sub").c_str(), 0755), 0);
    testsupport::PutFile(site + "sub/inner.txt", "inner\n");
    Start();
    const Answer index = Request("/sub/");
    ASSERT_EQ(index.run.exitCode, 0) << index.run.err;
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(LinkTarget(index.body, "Parent Directory"), "../") << index.body;
    EXPECT_EQ(Request("/sub/" + LinkTarget(index.body, "inner.txt")).body, "inner\n");
}

// --- PUT, MKCOL, DELETE -------------------------------------------------------------------

TEST_F(WebDavTest, PutCreatesAFileAndThenReplacesIt)
{
    Start();
    // Binary bytes across several 64 KiB receive chunks.
    std::string first(200000, '\0');
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>((i * 31) & 0xFF);
    const std::string second = "short replacement\n";
    const struct {
        const char* description;
        std::string bytes;
    } cases[] = {{"new file", first}, {"replaced by a shorter one", second}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer put = Put("/up.bin", c.bytes);
        ASSERT_EQ(put.run.exitCode, 0) << put.run.err;
        EXPECT_EQ(put.status, 201);
        EXPECT_EQ(testsupport::GetFile(site + "up.bin"), c.bytes);
        const Answer get = Request("/up.bin");
        EXPECT_EQ(get.status, 200);
        EXPECT_TRUE(get.body == c.bytes) << "GET gave " << get.body.size() << " bytes";
    }
    // No temporary file is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(site))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"up.bin"});
}

// What curl reads from a pipe has no length it could announce: "curl -T - URL < file"
// sends it chunked (RFC 9112 7.1), after asking for "100 Continue".
TEST_F(WebDavTest, UploadOfUnknownLengthComesChunkedAndIsStoredByteForByte)
{
    Start();
    const struct {
        const char* description;
        std::string bytes;
    } cases[] = {
        {"several receive buffers, odd length", servertest::Pattern(3 * 1024 * 1024 + 11)},
        {"replaced by an empty one", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string upload = ScratchFile("upload");
        testsupport::PutFile(upload, c.bytes);
        const Answer put = Fetch(Url("/piped.bin"), {"-v", "-T", "-"}, upload);
        ASSERT_EQ(put.run.exitCode, 0) << put.run.err;
        EXPECT_NE(put.run.err.find("> Transfer-Encoding: chunked"), std::string::npos) << put.run.err;
        EXPECT_EQ(put.status, 201);
        EXPECT_TRUE(testsupport::GetFile(site + "piped.bin") == c.bytes)
            << "stored " << testsupport::GetFile(site + "piped.bin").size() << " bytes";
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(site))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"piped.bin"});
}

TEST_F(WebDavTest, PutThatRunsOutOfRoomIs507AndKeepsTheOldFile)
{
    testsupport::PutFile(site + "a.txt", "old contents");
    const std::string bodyFile = ScratchFile("upload");
    testsupport::PutFile(bodyFile, servertest::Pattern(200000));
    Start();
    Answer answer;
    {
        // Room for the logs and curl's small files, not for the upload.
        testsupport::FileSizeLimit limit(16384);
        ASSERT_TRUE(limit.ok());
        answer = Method("PUT", "/a.txt", {"-H", "Expect:", "--data-binary", "@" + bodyFile});
    }
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 507);
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 507 Insufficient Storage");
    EXPECT_EQ(testsupport::GetFile(site + "a.txt"), "old contents");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(site))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"a.txt"});
}

// ':' is a character of Linux names; '\\' is read as '/' but never written as one.
TEST_F(WebDavTest, ColonIsANameCharacterAndAWriteThatABackslashWouldRenameIs400)
{
    ASSERT_EQ(::mkdir((site + "x").c_str(), 0755), 0);
    testsupport::PutFile(site + "log-12:00:00.txt", "log\n");
    testsupport::PutFile(site + "f.txt", "file\n");
    Start();
    EXPECT_EQ(Put("/x%3Ay.txt", "colon").status, 201);
    EXPECT_EQ(testsupport::GetFile(site + "x:y.txt"), "colon");
    EXPECT_TRUE(std::filesystem::is_empty(site + "x"));
    EXPECT_EQ(Request("/x:y.txt").body, "colon");
    const Answer listed = Request("/log-12:00:00.txt");
    EXPECT_EQ(listed.status, 200);
    EXPECT_EQ(listed.body, "log\n");
    EXPECT_EQ(Request("/log-12%3a00%3a00.txt").body, "log\n");

    EXPECT_EQ(Put("/x%5Cz.txt", "slash").status, 400);
    EXPECT_EQ(Method("MKCOL", "/x%5Cdir").status, 400);
    EXPECT_EQ(Transfer("COPY", "/f.txt", "/x%5Cg.txt").status, 400);
    EXPECT_EQ(Transfer("MOVE", "/f.txt", "/x\\g.txt").status, 400);
    EXPECT_TRUE(std::filesystem::is_empty(site + "x"));
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
}

// A name Shift-JIS cannot hold is refused (400) in every spelling and by every method, a
// two-byte UTF-8 character such as "é" as much as "€"; every spelling of a name it holds
// reaches its file, Shift-JIS bytes that happen to be well-formed UTF-8 included.
TEST_F(WebDavTest, NameOutsideShiftJisIs400InEverySpellingAndEveryMethod)
{
    // On the disk, but never reachable: the server's names are Shift-JIS.
    testsupport::PutFile(site + u8"café.txt", "unreachable\n");
    testsupport::PutFile(site + u8"ﾃｽﾄ一覧.txt", "katakana\n");
    testsupport::PutFile(site + u8"設定.txt", "kanji\n");
    testsupport::PutFile(site + "plain.txt", "plain\n");
    testsupport::PutFile(site + "f.txt", "file\n");
    Start();
    const auto put = [this](const std::string& target) { return Put(target, "new\n"); };
    const auto mkcol = [this](const std::string& target) { return Method("MKCOL", target); };
    const auto copyTo = [this](const std::string& target) { return Transfer("COPY", "/f.txt", target); };
    const auto moveTo = [this](const std::string& target) { return Transfer("MOVE", "/f.txt", target); };
    const auto get = [this](const std::string& target) { return Request(target); };
    const auto raw = [this](const std::string& target) { return RawGet(target); };
    const struct {
        const char* what;
        std::function<Answer(const std::string&)> send;
        std::string target;
        int status;
        const char* body;  // of a GET that succeeds
    } cases[] = {
        {"ASCII", get, "/plain.txt", 200, "plain\n"},
        {"UTF-8 of half-width katakana", get, "/" + servertest::PercentEncode(u8"ﾃｽﾄ一覧.txt"), 200, "katakana\n"},
        {"Shift-JIS that is well-formed UTF-8", get, "/%C3%BD%C4%88%EA%97%97.txt", 200, "katakana\n"},
        {"the same sent raw", raw, "/ﾃｽﾄ一覧.txt", 200, "katakana\n"},
        {"UTF-8 of kanji", get, "/" + servertest::PercentEncode(u8"設定.txt"), 200, "kanji\n"},
        {"EUC-JP of kanji", get, "/%C0%DF%C4%EA.txt", 200, "kanji\n"},
        {"UTF-8 e acute", get, "/caf%C3%A9.txt", 400, ""},
        {"UTF-8 e acute sent raw", raw, "/" + std::string(u8"café.txt"), 400, ""},
        {"UTF-8 e acute alone", get, "/%C3%A9", 400, ""},
        {"UTF-8 u umlaut", get, "/z%C3%BCrich.txt", 400, ""},
        {"UTF-8 euro sign", get, "/%E2%82%AC.txt", 400, ""},
        {"UTF-8 beyond 16 bits", get, "/%F0%9F%98%80.txt", 400, ""},
        {"PUT of e acute", put, "/caf%C3%A9-new.txt", 400, ""},
        {"MKCOL of u umlaut", mkcol, "/%C3%BC", 400, ""},
        {"COPY to e acute", copyTo, "/%C3%A9.txt", 400, ""},
        {"MOVE to n tilde", moveTo, "/a%C3%B1o.txt", 400, ""},
        {"PUT of Shift-JIS that is well-formed UTF-8", put, "/%C3%BD%C4%97p.txt", 201, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Answer answer = c.send(c.target);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
        if (c.status == 200) {
            EXPECT_EQ(answer.body, c.body);
        }
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(site))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {u8"café.txt", "f.txt", "plain.txt", u8"ﾃｽﾄ一覧.txt", u8"ﾃｽﾄ用.txt",
                                         u8"設定.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
}

// Input methods on Linux and macOS type 〜 as U+301C (JIS X 0208), Windows as U+FF5E (the
// code page); both are the Shift-JIS code 0x8160, as − U+2212 and U+FF0D are 0x817C and
// ¢ U+00A2 and U+FFE0 are 0x8191. Names on disk in either spelling are served, listed and
// found by PROPFIND through either spelling of the URL; a PUT replaces a file under its own
// name and gives a new one the code page's spelling.
TEST_F(WebDavTest, NamesOnDiskInEitherSpellingOfACodeAreServedListedAndWritten)
{
    const std::string jisFolder = u8"波\u301C線";
    ASSERT_EQ(::mkdir((site + jisFolder).c_str(), 0755), 0);
    testsupport::PutFile(site + jisFolder + u8"/p\u2212q.txt", "jis\n");
    testsupport::PutFile(site + u8"code\uFF5E.txt", "code page\n");
    testsupport::PutFile(site + u8"price\u00A2.txt", "cent\n");
    Start();

    ExpectEachServed({
        {"JIS spelling", "/" + PercentEncode(jisFolder + u8"/p\u2212q.txt"), "jis\n"},
        {"code page spelling", "/" + PercentEncode(u8"波\uFF5E線/p\uFF0Dq.txt"), "jis\n"},
        {"Shift-JIS", "/" + PercentEncode("波\x81\x60線/p\x81\x7Cq.txt"), "jis\n"},
        {"JIS spelling of a name on disk in the code page's", "/" + PercentEncode(u8"code\u301C.txt"),
         "code page\n"},
        {"two-byte UTF-8 cent sign", "/" + PercentEncode(u8"price\u00A2.txt"), "cent\n"},
        {"fullwidth cent sign", "/" + PercentEncode(u8"price\uFFE0.txt"), "cent\n"},
    });

    // The index pages list every name by its Shift-JIS code, and their links lead there.
    const Answer index = Request("/");
    const std::string folderLink = LinkTarget(index.body, "波\x81\x60線/");
    ASSERT_FALSE(folderLink.empty()) << index.body;
    EXPECT_FALSE(LinkTarget(index.body, "code\x81\x60.txt").empty()) << index.body;
    EXPECT_FALSE(LinkTarget(index.body, "price\x81\x91.txt").empty()) << index.body;
    const Answer folderIndex = Request("/" + AsBrowserSendsIt(folderLink));
    EXPECT_EQ(folderIndex.status, 200);
    const std::string fileLink = LinkTarget(folderIndex.body, "p\x81\x7Cq.txt");
    ASSERT_FALSE(fileLink.empty()) << folderIndex.body;
    EXPECT_EQ(Request("/" + AsBrowserSendsIt(folderLink + fileLink)).body, "jis\n");

    // PROPFIND names them in UTF-8 by the code page's spelling, and each href fetches.
    Answer answer;
    const std::vector<std::string> hrefs = SortedHrefs(answer);
    const std::vector<std::string> expected = {"/", u8"/code\uFF5E.txt", u8"/price\uFFE0.txt",
                                               u8"/波\uFF5E線/", u8"/波\uFF5E線/p\uFF0Dq.txt"};
    EXPECT_EQ(hrefs, expected) << answer.body;
    EXPECT_EQ(Request("/" + PercentEncode(expected.back().substr(1))).body, "jis\n");

    EXPECT_EQ(Put("/" + PercentEncode(u8"波\uFF5E線/p\uFF0Dq.txt"), "replaced\n").status, 201);
    EXPECT_EQ(Put("/" + PercentEncode(jisFolder + u8"/new\u301C.txt"), "new\n").status, 201);
    EXPECT_EQ(Tree(site + jisFolder + "/"), (std::vector<std::string>{u8"new\uFF5E.txt", u8"p\u2212q.txt"}));
    EXPECT_EQ(testsupport::GetFile(site + jisFolder + u8"/p\u2212q.txt"), "replaced\n");
    EXPECT_EQ(testsupport::GetFile(site + jisFolder + u8"/new\uFF5E.txt"), "new\n");
}

// Japanese names hold the code page's own characters beyond JIS X 0208: IBM extension kanji
// (髙 U+9AD9, 﨑 U+FA11), NEC row 13 (①, Ⅱ, ㈱) and codes held twice (∵, ¬). Names on disk in
// UTF-8 are served through a UTF-8 URL, as browsers send it, and through a Shift-JIS one,
// listed, found by PROPFIND's hrefs, and a PUT writes a new name as it was asked for.
TEST_F(WebDavTest, NamesOnDiskWithTheCodePagesExtensionsAreServedListedAndWritten)
{
    const std::string folder = u8"山﨑㈱";
    ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0);
    testsupport::PutFile(site + folder + u8"/髙橋①.txt", "takahashi\n");
    testsupport::PutFile(site + u8"Ⅱ∵¬.txt", "signs\n");
    Start();

    ExpectEachServed({
        {"UTF-8", "/" + PercentEncode(folder + u8"/髙橋①.txt"), "takahashi\n"},
        {"UTF-8 of signs", "/" + PercentEncode(u8"Ⅱ∵¬.txt"), "signs\n"},
        {"Shift-JIS", "/" + PercentEncode("山﨑㈱/髙橋①.txt"), "takahashi\n"},
        {"Shift-JIS in NEC's selection of the IBM extensions", "/" + PercentEncode("山\xED\x95㈱/\xEE\xE0橋①.txt"),
         "takahashi\n"},
        {"Shift-JIS of the signs' other codes", "/" + PercentEncode("\xFA\x4B\x87\x9A\xFA\x54.txt"), "signs\n"},
    });

    const Answer index = Request("/");
    const std::string folderLink = LinkTarget(index.body, "山﨑㈱/");
    ASSERT_FALSE(folderLink.empty()) << index.body;
    EXPECT_EQ(Request("/" + AsBrowserSendsIt(LinkTarget(index.body, "Ⅱ∵¬.txt"))).body, "signs\n");
    const Answer folderIndex = Request("/" + AsBrowserSendsIt(folderLink));
    const std::string fileLink = LinkTarget(folderIndex.body, "髙橋①.txt");
    ASSERT_FALSE(fileLink.empty()) << folderIndex.body;
    EXPECT_EQ(Request("/" + AsBrowserSendsIt(folderLink + fileLink)).body, "takahashi\n");

    Answer answer;
    const std::vector<std::string> hrefs = SortedHrefs(answer);
    // The hrefs spell ¬ as the code page reads 0x81CA, as they do 〜.
    std::vector<std::string> expected = {"/", u8"/Ⅱ∵\uFFE2.txt", "/" + folder + "/",
                                         "/" + folder + u8"/髙橋①.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(hrefs, expected) << answer.body;
    for (const std::string& href : expected)
        EXPECT_EQ(Request("/" + PercentEncode(href.substr(1))).status, 200) << href;

    EXPECT_EQ(Put("/" + PercentEncode(folder + u8"/新髙ⅰ.txt"), "new\n").status, 201);
    EXPECT_EQ(Tree(site + folder + "/"), (std::vector<std::string>{u8"新髙ⅰ.txt", u8"髙橋①.txt"}));
    EXPECT_EQ(testsupport::GetFile(site + folder + u8"/新髙ⅰ.txt"), "new\n");
}

TEST_F(WebDavTest, MkcolCreatesAFolderOnceAndRefusesItThen)
{
    Start();
    const Answer created = Method("MKCOL", "/made");
    ASSERT_EQ(created.run.exitCode, 0) << created.run.err;
    EXPECT_EQ(created.status, 201);
    EXPECT_TRUE(IsFolder(site + "made"));

    const Answer again = Method("MKCOL", "/made");
    EXPECT_EQ(again.status, 405);
    EXPECT_TRUE(IsFolder(site + "made"));
}

TEST_F(WebDavTest, DeleteRemovesAWholeTree)
{
    ASSERT_EQ(::mkdir((site + "tree").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((site + "tree/sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((site + "tree/empty").c_str(), 0755), 0);
    testsupport::PutFile(site + "tree/a.txt", "a");
    testsupport::PutFile(site + "tree/sub/b.txt", "b");
    testsupport::PutFile(site + "keep.txt", "keep");
    Start();

    const Answer deleted = Method("DELETE", "/tree/");
    ASSERT_EQ(deleted.run.exitCode, 0) << deleted.run.err;
    EXPECT_EQ(deleted.status, 204);
    EXPECT_FALSE(Exists(site + "tree"));
    EXPECT_EQ(testsupport::GetFile(site + "keep.txt"), "keep");

    EXPECT_EQ(Method("DELETE", "/tree/").status, 404);
}

// "/../" is collapsed, not resolved: a write with a ".." segment would change a folder the
// client did not name. Reads keep the collapse.
TEST_F(WebDavTest, WriteWithADotDotSegmentIs400AndChangesNothing)
{
    for (const char* folder : {"keep", "keep/important", "sub"})
        ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0) << folder;
    testsupport::PutFile(site + "keep/important/data.txt", "data\n");
    testsupport::PutFile(site + "keep/k.txt", "k\n");
    testsupport::PutFile(site + "f.txt", "file\n");
    Start();
    const std::vector<std::string> before = Tree(site);
    const std::vector<Named> cases = {
        {"DELETE", "/keep/important/..", ""},
        {"DELETE", "/keep/important/%2e%2E", ""},
        {"DELETE", "/keep/important/.%2E/", ""},
        {"DELETE", "/sub/../", ""},
        {"DELETE", "/keep/%2E%2e%2fimportant/", ""},
        {"DELETE", "/keep\\..\\important/", ""},
        {"MOVE", "/keep/../", "/moved/"},
        {"MOVE", "/keep/%2e%2e/f.txt", "/g.txt"},
        {"COPY", "/keep/important/../", "/copied/"},
        {"PUT", "/keep/../new.txt", ""},
        {"PUT", "/keep/important/%2E%2E", ""},
        {"MKCOL", "/keep/..%2fmade/", ""},
        {"COPY", "/f.txt", "/keep/important/.."},
        {"COPY", "/f.txt", "/keep/%2e%2e/g.txt"},
        {"MOVE", "/f.txt", "/sub/%2E./g.txt"},
        {"MOVE", "/keep/important/", "/keep/important/../x/"},
    };
    ExpectEachAnswered(cases, 400);
    EXPECT_EQ(Tree(site), before);
    EXPECT_EQ(testsupport::GetFile(site + "keep/important/data.txt"), "data\n");

    // A read names the collapsed path, as ever.
    EXPECT_EQ(Request("/keep/../k.txt").body, "k\n");
    Answer listing;
    const std::vector<DavEntry> entries = Propfind("/keep/important/%2e%2e", "0", listing);
    EXPECT_EQ(listing.status, 207);
    ASSERT_EQ(entries.size(), 1u) << listing.body;
    EXPECT_EQ(entries[0].href, "/keep/important/");
}

// A NUL byte ends the name for the system: "%00" names no file, whatever the decoding of
// the other escapes makes of it.
TEST_F(WebDavTest, PathOrDestinationWithANulIs400AndWritesNothing)
{
    testsupport::PutFile(site + "f.txt", "file\n");
    testsupport::PutFile(site + "x00y.txt", "not this\n");
    Start();
    const std::vector<std::string> before = Tree(site);
    const std::vector<Named> cases = {
        {"GET", "/x%00y.txt", ""},
        {"HEAD", "/x%00y.txt", ""},
        {"PUT", "/x%00z.txt", ""},
        {"PUT", "/x%0z.txt", ""},
        {"MKCOL", "/m%00n/", ""},
        {"DELETE", "/x%00y.txt", ""},
        {"MOVE", "/f.txt", "/g%00h.txt"},
        {"COPY", "/f.txt", "/g%00h.txt"},
        {"COPY", "/f.txt", "/g%0ah.txt"},
    };
    ExpectEachAnswered(cases, 400);
    EXPECT_EQ(Tree(site), before);
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
}

// With hidden files off, a name starting with '.' can be neither read nor removed: none is
// made either, by any write, whether the name is the target's or a folder's on the way.
TEST_F(WebDavTest, WriteToANameTheEntryHidesIs403AndWritesNothing)
{
    settings.SetValue("Setting::Path::Path_1::Options::EnableHiddenFile", "1");
    testsupport::PutFile(site + "f.txt", "file\n");
    ASSERT_EQ(::mkdir((site + "sub").c_str(), 0755), 0);
    Start();
    const std::vector<std::string> before = Tree(site);
    const std::vector<Named> cases = {
        {"PUT", "/.h", ""},
        {"PUT", "/.hd/x.txt", ""},
        {"PUT", "/sub/.h", ""},
        {"MKCOL", "/.hd/", ""},
        {"MKCOL", "/sub/.hd", ""},
        {"COPY", "/f.txt", "/.c.txt"},
        {"COPY", "/sub/", "/.csub/"},
        {"MOVE", "/f.txt", "/sub/.m.txt"},
        {"MOVE", "/sub/", "/.msub/"},
    };
    ExpectEachAnswered(cases, 403);
    EXPECT_EQ(Tree(site), before);

    // Where the entry shows hidden names, they are written and read like any other.
    EXPECT_EQ(Put("/other/.h", "shown").status, 201);
    EXPECT_EQ(Request("/other/.h").body, "shown");
    EXPECT_EQ(Method("DELETE", "/other/.h").status, 204);
}

// --- COPY and MOVE ------------------------------------------------------------------------

TEST_F(WebDavTest, CopyAndMoveCarryFilesAndFoldersToTheDestination)
{
    testsupport::PutFile(site + "f.txt", "file\n");
    testsupport::PutFile(site + "g.txt", "moved\n");
    for (const char* folder : {"dir", "dir/empty", "dir/sub", "mdir"})
        ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0);
    testsupport::PutFile(site + "dir/sub/in.txt", "in\n");
    testsupport::PutFile(site + "mdir/m.txt", "m\n");
    Start();

    const struct {
        const char* method;
        const char* source;
        const char* destination;
        bool sourceStays;
        std::vector<std::pair<std::string, std::string>> files;  // path below the site, bytes
        std::vector<std::string> folders;
    } cases[] = {
        {"COPY", "/f.txt", "/f2.txt", true, {{"f2.txt", "file\n"}}, {}},
        {"MOVE", "/g.txt", "/dir/g.txt", false, {{"dir/g.txt", "moved\n"}}, {}},
        {"COPY", "/dir/", "/dir2/", true, {{"dir2/sub/in.txt", "in\n"}, {"dir2/g.txt", "moved\n"}}, {"dir2/empty"}},
        {"MOVE", "/mdir/", "/dir/mdir/", false, {{"dir/mdir/m.txt", "m\n"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.source + " " + c.destination);
        const Answer answer = Transfer(c.method, c.source, c.destination);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 201) << answer.body;
        EXPECT_EQ(Exists(site + (c.source + 1)), c.sourceStays);
        for (const auto& file : c.files)
            EXPECT_EQ(testsupport::GetFile(site + file.first), file.second) << file.first;
        for (const std::string& folder : c.folders)
            EXPECT_TRUE(IsFolder(site + folder)) << folder;
    }
    // The copy is a copy: changing it leaves the original.
    testsupport::PutFile(site + "f2.txt", "changed\n");
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
}

TEST_F(WebDavTest, CopyAndMoveToAnotherPathEntryAreRefused)
{
    testsupport::PutFile(site + "f.txt", "file\n");
    ASSERT_EQ(::mkdir((site + "dir").c_str(), 0755), 0);
    testsupport::PutFile(site + "dir/in.txt", "in\n");
    testsupport::PutFile(other + "o.txt", "other\n");
    Start();

    const struct {
        const char* method;
        const char* source;
        const char* destination;
    } cases[] = {
        {"COPY", "/f.txt", "/other/f.txt"},
        {"MOVE", "/f.txt", "/other/f.txt"},
        {"COPY", "/dir/", "/other/dir/"},
        {"MOVE", "/dir/", "/other/dir/"},
        {"MOVE", "/other/o.txt", "/o.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.source + " " + c.destination);
        const Answer answer = Transfer(c.method, c.source, c.destination);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 502);
    }
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
    EXPECT_EQ(testsupport::GetFile(site + "dir/in.txt"), "in\n");
    EXPECT_EQ(testsupport::GetFile(other + "o.txt"), "other\n");
    EXPECT_FALSE(Exists(other + "f.txt"));
    EXPECT_FALSE(Exists(other + "dir"));
    EXPECT_FALSE(Exists(site + "o.txt"));
}

// RFC 4918 9.8.4: a Destination on another host is that host's to write. The host is the
// one the request named in Host, or without Host (HTTP/1.0) the address and port the
// client reached (RFC 9112 3.3).
TEST_F(WebDavTest, DestinationOnAnotherHostIs502AndWritesNothing)
{
    testsupport::PutFile(site + "f.txt", "file\n");
    Start();
    const std::string local = "127.0.0.1:" + std::to_string(port);
    const std::vector<std::string> withHost = {};
    const std::vector<std::string> withoutHost = {"--http1.0", "-H", "Host:"};
    const struct {
        const char* method;
        std::string destination;
        const std::vector<std::string>& host;
        int status;
    } cases[] = {
        {"COPY", "http://elsewhere.example/g.txt", withHost, 502},
        {"MOVE", "http://elsewhere.example/g.txt", withHost, 502},
        {"COPY", "http://127.0.0.1:1/g.txt", withHost, 502},
        {"COPY", "http://elsewhere.example", withHost, 502},
        // The request's own host, in any case, is this server.
        {"COPY", "HTTP://" + local + "/h.txt", withHost, 201},
        {"COPY", "http://elsewhere.example/g.txt", withoutHost, 502},
        {"MOVE", "http://elsewhere.example/g.txt", withoutHost, 502},
        {"COPY", "http://127.0.0.1:1/g.txt", withoutHost, 502},
        {"COPY", "http://127.0.0.1/g.txt", withoutHost, 502},
        {"COPY", "http://127.0.0.2:" + std::to_string(port) + "/g.txt", withoutHost, 502},
        {"COPY", "http://" + local + "x/g.txt", withoutHost, 502},
        {"COPY", "http://" + local + "/i.txt", withoutHost, 201},
        {"COPY", "/path-only.txt", withoutHost, 201},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.destination + (c.host.empty() ? "" : " without Host"));
        std::vector<std::string> extra = c.host;
        extra.insert(extra.end(), {"-H", "Destination: " + c.destination});
        const Answer answer = Method(c.method, "/f.txt", extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
    }
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
    EXPECT_FALSE(Exists(site + "g.txt"));
    EXPECT_TRUE(Exists(site + "h.txt"));
    EXPECT_TRUE(Exists(site + "i.txt"));
    EXPECT_TRUE(Exists(site + "path-only.txt"));
}

// The rule of every request path: no byte sequence that is no Shift-JIS name becomes one.
TEST_F(WebDavTest, DestinationThatIsNoShiftJisIs400AndWritesNothing)
{
    testsupport::PutFile(site + "f.txt", "file\n");
    ASSERT_EQ(::mkdir((site + "t").c_str(), 0755), 0);
    Start();
    for (const char* method : {"COPY", "MOVE"}) {
        for (const char* destination : {"/t/%81.txt", "/t/%a0.txt", "/t/%E2%82%AC.txt", "/t/%FF%FE.txt"}) {
            SCOPED_TRACE(std::string(method) + " " + destination);
            const Answer answer = Transfer(method, "/f.txt", destination);
            ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
            EXPECT_EQ(answer.status, 400);
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(site + "t"));
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
}

// Without its folder the entry would serve nothing and refuse every write.
TEST_F(WebDavTest, DeleteOrMoveOfAPathEntrysOwnFolderIs403AndRemovesNothing)
{
    testsupport::PutFile(other + "o.txt", "other\n");
    testsupport::PutFile(site + "f.txt", "file\n");
    Start();
    const struct {
        const char* method;
        const char* target;
    } cases[] = {
        {"DELETE", "/other/"}, {"DELETE", "/other"}, {"DELETE", "/"},
        {"MOVE", "/other/"},   {"MOVE", "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        const Answer answer = Method(c.method, c.target, {"-H", "Destination: " + Url("/moved/")});
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 403);
    }
    EXPECT_EQ(testsupport::GetFile(other + "o.txt"), "other\n");
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
    EXPECT_FALSE(Exists(site + "moved"));
    // Writes there go on.
    EXPECT_EQ(Put("/other/p.txt", "p").status, 201);
}

// Reached through the outer entry "/", a folder that another entry serves is that entry's
// folder all the same, however its LocalPath is spelled; so is a folder on the way to one.
TEST_F(WebDavTest, AnotherEntrysFolderReachedThroughAnOuterEntryIsNeitherRemovedNorMoved)
{
    const std::string links = docs.Path() + "links/";
    ASSERT_EQ(::mkdir(links.c_str(), 0755), 0);
    for (const char* folder : {"dav", "holder", "holder/deep", "free", "real"})
        ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0);
    testsupport::PutFile(site + "dav/d.txt", "dav\n");
    testsupport::PutFile(site + "f.txt", "file\n");
    // One entry's LocalPath goes through a link outside the site, one through a link in it.
    ASSERT_EQ(::symlink((site + "dav").c_str(), (links + "dav").c_str()), 0);
    ASSERT_EQ(::symlink((site + "real").c_str(), (site + "alias").c_str()), 0);
    ServeFolder(2, "/inner/", links + "dav/", {"EnableWrite"});
    ServeFolder(3, "/deep/", site + "holder/deep/", {"EnableWrite"});
    ServeFolder(4, "/aliased/", site + "alias/", {"EnableWrite"});
    Start();
    const struct {
        const char* method;
        const char* target;
        const char* destination;
        int status;
    } cases[] = {
        {"DELETE", "/dav/", "", 403},
        {"DELETE", "/dav", "", 403},
        {"MOVE", "/dav/", "/moved/", 403},
        {"DELETE", "/holder/", "", 403},
        {"MOVE", "/holder/", "/moved/", 403},
        {"DELETE", "/alias", "", 403},
        {"MOVE", "/alias", "/moved", 403},
        {"COPY", "/f.txt", "/dav/", 403},
        {"MOVE", "/f.txt", "/holder", 403},
        // A folder that is no entry's, and the entry's own files, go as ever.
        {"DELETE", "/dav/d.txt", "", 204},
        {"MOVE", "/free/", "/moved/", 201},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        std::vector<std::string> extra;
        if (*c.destination)
            extra = {"-H", "Destination: " + Url(c.destination)};
        const Answer answer = Method(c.method, c.target, extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status);
    }
    EXPECT_TRUE(IsFolder(site + "dav"));
    EXPECT_TRUE(IsFolder(site + "holder/deep"));
    EXPECT_TRUE(Exists(site + "alias"));
    EXPECT_EQ(testsupport::GetFile(site + "f.txt"), "file\n");
    EXPECT_TRUE(IsFolder(site + "moved"));
    EXPECT_FALSE(Exists(site + "free"));
    // The entries still serve their folders.
    EXPECT_EQ(Put("/inner/p.txt", "p").status, 201);
    EXPECT_EQ(testsupport::GetFile(site + "dav/p.txt"), "p");
}

TEST_F(WebDavTest, CopyAndMoveFollowOverwriteAndTellCreatedFromReplaced)
{
    Start();
    // The site before each case: two files, a folder with a file, a folder to replace.
    const auto reset = [this] {
        std::filesystem::remove_all(site);
        for (const char* folder : {"", "dir", "olddir"})
            ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0) << folder;
        testsupport::PutFile(site + "src.txt", "source");
        testsupport::PutFile(site + "old.txt", "old");
        testsupport::PutFile(site + "dir/in.txt", "in");
        testsupport::PutFile(site + "olddir/x.txt", "x");
    };
    const struct {
        const char* description;
        const char* method;
        const char* source;
        const char* destination;
        std::vector<std::string> extra;
        int status;
        bool sourceStays;
        std::vector<std::pair<std::string, std::string>> files;  // path below the site, bytes
        std::vector<std::string> absent;
    } cases[] = {
        {"COPY creates", "COPY", "/src.txt", "/new.txt", {}, 201, true, {{"new.txt", "source"}}, {}},
        {"COPY replaces without a header", "COPY", "/src.txt", "/old.txt", {}, 204, true, {{"old.txt", "source"}}, {}},
        {"COPY replaces with T", "COPY", "/src.txt", "/old.txt", {"-H", "Overwrite: T"}, 204, true,
         {{"old.txt", "source"}}, {}},
        {"COPY keeps the target with F", "COPY", "/src.txt", "/old.txt", {"-H", "Overwrite: F"}, 412, true,
         {{"old.txt", "old"}}, {}},
        {"COPY with F creates", "COPY", "/src.txt", "/new.txt", {"-H", "Overwrite: F"}, 201, true,
         {{"new.txt", "source"}}, {}},
        {"MOVE keeps the target with F", "MOVE", "/src.txt", "/old.txt", {"-H", "Overwrite: F"}, 412, true,
         {{"old.txt", "old"}}, {}},
        {"MOVE replaces without a header", "MOVE", "/src.txt", "/old.txt", {}, 204, false, {{"old.txt", "source"}}, {}},
        {"MOVE replaces with T", "MOVE", "/src.txt", "/old.txt", {"-H", "Overwrite: T"}, 204, false,
         {{"old.txt", "source"}}, {}},
        {"MOVE creates", "MOVE", "/src.txt", "/new.txt", {}, 201, false, {{"new.txt", "source"}}, {}},
        {"COPY of a folder replaces a folder whole", "COPY", "/dir/", "/olddir/", {}, 204, true,
         {{"olddir/in.txt", "in"}}, {"olddir/x.txt"}},
        {"MOVE of a folder replaces a file", "MOVE", "/dir/", "/old.txt", {}, 204, false, {{"old.txt/in.txt", "in"}},
         {}},
        {"COPY of a file replaces a folder", "COPY", "/src.txt", "/olddir/", {}, 204, true, {{"olddir", "source"}},
         {}},
        {"COPY with Depth 0 leaves the members", "COPY", "/dir/", "/shallow/", {"-H", "Depth: 0"}, 201, true, {},
         {"shallow/in.txt"}},
        {"COPY into a missing folder", "COPY", "/src.txt", "/none/new.txt", {}, 409, true, {}, {"none"}},
        {"MOVE into a missing folder", "MOVE", "/src.txt", "/none/new.txt", {}, 409, true, {}, {"none"}},
        {"COPY of a folder into itself", "COPY", "/dir/", "/dir/sub/", {}, 403, true, {}, {"dir/sub"}},
        {"MOVE onto a folder that holds the source", "MOVE", "/dir/in.txt", "/dir/", {}, 403, true,
         {{"dir/in.txt", "in"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        reset();
        struct stat before {};
        ASSERT_EQ(::lstat((site + (c.source + 1)).c_str(), &before), 0);
        std::vector<std::string> extra = c.extra;
        extra.insert(extra.end(), {"-H", "Destination: " + Url(c.destination)});
        const Answer answer = Method(c.method, c.source, extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, c.status) << answer.body;
        EXPECT_EQ(Exists(site + (c.source + 1)), c.sourceStays);
        for (const auto& file : c.files)
            EXPECT_EQ(testsupport::GetFile(site + file.first), file.second) << file.first;
        for (const std::string& path : c.absent)
            EXPECT_FALSE(Exists(site + path)) << path;
        // A MOVE renames: the target is the source's own inode, not a copy of it.
        struct stat after {};
        if (std::string(c.method) == "MOVE" && !c.sourceStays) {
            ASSERT_EQ(::lstat((site + (c.destination + 1)).c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino);
        }
    }
}

// Names that Shift-JIS lacks are on the disk as any other program writes them: no request
// can name them, but a folder's copy, move or removal takes them along all the same.
TEST_F(WebDavTest, FolderCopyMoveAndDeleteTakeEveryFileAlongWhateverItsName)
{
    const std::string accented = u8"café.txt";
    const std::string waveDash = u8"\u301c.txt";
    const std::string folder = u8"naïve";
    for (const std::string& made : {std::string("x"), std::string("x/sub"), "x/" + folder, std::string("old")})
        ASSERT_EQ(::mkdir((site + made).c_str(), 0755), 0) << made;
    const std::vector<std::string> files = {accented, waveDash, "plain.txt", "sub/" + accented, folder + "/in.txt"};
    for (const std::string& file : files)
        testsupport::PutFile(site + "x/" + file, file);
    testsupport::PutFile(site + "old/" + waveDash, "replaced");
    Start();

    const auto holdsEveryFile = [&](const std::string& copy) {
        for (const std::string& file : files)
            EXPECT_EQ(testsupport::GetFile(site + copy + "/" + file), file) << copy << "/" << file;
    };
    EXPECT_EQ(Transfer("COPY", "/x/", "/xcopy/").status, 201);
    holdsEveryFile("xcopy");
    // A folder that is replaced goes whole, the names it held included.
    testsupport::PutFile(site + "old/" + accented, "old");
    EXPECT_EQ(Transfer("COPY", "/x/", "/old/").status, 204);
    holdsEveryFile("old");
    EXPECT_EQ(Transfer("MOVE", "/xcopy/", "/xmoved/").status, 201);
    holdsEveryFile("xmoved");
    EXPECT_FALSE(Exists(site + "xcopy"));

    for (const char* target : {"/x/", "/xmoved/", "/old/"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Method("DELETE", target).status, 204);
    }
    EXPECT_EQ(Tree(site), std::vector<std::string>{});
}

TEST_F(WebDavTest, CopyThatRunsOutOfRoomIs507AndLeavesNoHalfMadeTarget)
{
    for (const char* folder : {"big", "big/sub", "old"})
        ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0) << folder;
    testsupport::PutFile(site + "big/a.txt", "a");
    testsupport::PutFile(site + "big/sub/b.txt", "b");
    testsupport::PutFile(site + "big/large.bin", servertest::Pattern(200000));
    testsupport::PutFile(site + "old/old.txt", "old");
    Start();
    const std::vector<std::string> before = Tree(site);
    const struct {
        const char* description;
        const char* source;
        const char* destination;
    } cases[] = {
        {"a folder to a new name", "/big/", "/copy/"},
        {"a folder over a folder", "/big/", "/old/"},
        {"a file", "/big/large.bin", "/large.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Answer answer;
        {
            // Room for the logs and curl's small files, not for the large one.
            testsupport::FileSizeLimit limit(16384);
            ASSERT_TRUE(limit.ok());
            answer = Transfer("COPY", c.source, c.destination);
        }
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.statusLine, "HTTP/1.1 507 Insufficient Storage");
        EXPECT_EQ(Tree(site), before);
    }
    EXPECT_EQ(testsupport::GetFile(site + "old/old.txt"), "old");
}

// --- OPTIONS and PROPFIND -----------------------------------------------------------------

TEST_F(WebDavTest, OptionsNamesTheMethodsOfTheTarget)
{
    const std::string all = "OPTIONS, GET, HEAD, DELETE, PUT, POST, COPY, MOVE, MKCOL, PROPFIND";
    Start();
    const struct {
        const char* description;
        std::string target;
        std::vector<std::string> extra;
        std::string allow;
    } cases[] = {
        {"existing folder", "/", {}, "OPTIONS, GET, HEAD, POST, DELETE, PUT, COPY, MKCOL, MOVE, PROPFIND"},
        {"missing file", "/missing.txt", {}, "OPTIONS, DELETE, PUT, COPY, MOVE"},
        {"asterisk", "/", {"--request-target", "*"}, all},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Answer answer = Method("OPTIONS", c.target, c.extra);
        ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.Header("Allow"), c.allow);
        EXPECT_EQ(answer.Header("Dav"), "1");
        EXPECT_EQ(answer.Header("Public"), all);
    }
}

TEST_F(WebDavTest, PropfindListsTheFolderByDepth)
{
    const std::string utf8Name = u8"日本語表.txt";
    ASSERT_EQ(::mkdir((site + "dir").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((site + "dir/sub").c_str(), 0755), 0);
    testsupport::PutFile(site + "dir/a.txt", "aaa");
    testsupport::PutFile(site + "dir/" + utf8Name, "j");
    testsupport::PutFile(site + "dir/.hidden", "h");
    testsupport::PutFile(site + "dir/sub/deeper.txt", "d");
    Start();

    Answer answer;
    const std::vector<DavEntry> self = Propfind("/dir/", "0", answer);
    ASSERT_EQ(answer.run.exitCode, 0) << answer.run.err;
    EXPECT_EQ(answer.status, 207);
    EXPECT_EQ(answer.Header("Content-Type"), "text/xml; charset=\"utf-8\"");
    ASSERT_EQ(self.size(), 1u) << answer.body;
    EXPECT_EQ(self[0].href, "/dir/");
    EXPECT_TRUE(self[0].collection) << answer.body;

    const std::vector<DavEntry> listing = Propfind("/dir/", "1", answer);
    EXPECT_EQ(answer.status, 207);
    std::vector<std::pair<std::string, bool>> found;
    for (const DavEntry& entry : listing)
        found.emplace_back(entry.href, entry.collection);
    std::sort(found.begin(), found.end());
    // Hrefs are UTF-8 on the wire; the hidden file and the deeper level stay out.
    const std::vector<std::pair<std::string, bool>> expected = {
        {"/dir/", true}, {"/dir/a.txt", false}, {"/dir/sub/", true}, {"/dir/" + utf8Name, false}};
    EXPECT_EQ(found, expected) << answer.body;
}

TEST_F(WebDavTest, PropfindGivesTheEntityTagOfGet)
{
    ASSERT_EQ(::mkdir((site + "dir").c_str(), 0755), 0);
    testsupport::PutFile(site + "dir/a.txt", "first");
    Start();

    // The D:getetag texts of a PROPFIND, in document order.
    const auto tagsOf = [this](const std::string& target, const std::string& depth) {
        const Answer answer = Method("PROPFIND", target, {"-H", "Depth: " + depth});
        std::string error;
        const std::unique_ptr<platform::XmlDocument> document = platform::XmlDocument::Parse(answer.body, error);
        std::vector<std::string> tags;
        if (!document) {
            ADD_FAILURE() << "not XML: " << error << "\n" << answer.body;
            return tags;
        }
        for (const platform::XmlNode& tag : document->ElementsByTagNameNS(kDavNamespace, "getetag"))
            tags.push_back(tag.Text());
        return tags;
    };
    for (const char* contents : {"first", "second, longer"}) {
        SCOPED_TRACE(contents);
        testsupport::PutFile(site + "dir/a.txt", contents);
        const std::string etag = Request("/dir/a.txt").Header("ETag");
        ASSERT_FALSE(etag.empty());
        EXPECT_EQ(tagsOf("/dir/a.txt", "0"), std::vector<std::string>{etag});
        // The folder's own response comes first; a collection has no tag.
        EXPECT_EQ(tagsOf("/dir/", "1"), (std::vector<std::string>{"", etag}));
    }
}

// A walk goes into a folder that another entry serves only as far as a PROPFIND of that
// folder would be answered: its authentication, host lists and WebDAV switch hold.
TEST_F(WebDavTest, PropfindWalkEntersAnotherEntrysFolderOnlyWhereThatEntryLetsTheRequestIn)
{
    const char* const folders[] = {"private", "private/deeper", "nodav", "kicked", "open", "plain"};
    for (const char* folder : folders) {
        ASSERT_EQ(::mkdir((site + folder).c_str(), 0755), 0) << folder;
        testsupport::PutFile(site + folder + "/in.txt", folder);
    }
    ServeFolder(2, "/private/", site + "private/", {"EnableWebDAV", "EnableAuthenticate"});
    settings.SetValue("Setting::Path::Path_2::Users::User_0", "alice");
    settings.SetValue("Setting::User::Enable::User_0::User", "alice");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "s3cret");
    ServeFolder(3, "/private/deeper/", site + "private/deeper/", {"EnableWebDAV"});
    ServeFolder(4, "/nodav/", site + "nodav/", {});
    // Host lists on, and no address accepted.
    ServeFolder(5, "/kicked/", site + "kicked/", {"EnableWebDAV", "EnableHostKick"});
    ServeFolder(6, "/open/", site + "open/", {"EnableWebDAV"});
    Start();

    const auto hrefs = [this](const std::vector<std::string>& extra) {
        std::vector<std::string> found;
        std::vector<std::string> args = {"-H", "Depth: infinity"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Answer answer = Method("PROPFIND", "/", args);
        EXPECT_EQ(answer.status, 207);
        std::string error;
        const std::unique_ptr<platform::XmlDocument> document = platform::XmlDocument::Parse(answer.body, error);
        if (!document) {
            ADD_FAILURE() << "not XML: " << error << "\n" << answer.body;
            return found;
        }
        for (const platform::XmlNode& href : document->ElementsByTagNameNS(kDavNamespace, "href"))
            found.push_back(PercentDecode(href.Text()));
        std::sort(found.begin(), found.end());
        return found;
    };
    // Every folder is listed; only those the request may enter show what they hold.
    std::vector<std::string> anonymous = {"/",       "/kicked/",      "/nodav/",  "/open/", "/open/in.txt",
                                          "/plain/", "/plain/in.txt", "/private/"};
    std::sort(anonymous.begin(), anonymous.end());
    EXPECT_EQ(hrefs({}), anonymous);
    std::vector<std::string> alice = anonymous;
    alice.insert(alice.end(), {"/private/in.txt", "/private/deeper/", "/private/deeper/in.txt"});
    std::sort(alice.begin(), alice.end());
    EXPECT_EQ(hrefs({"-u", "alice:s3cret"}), alice);
    EXPECT_EQ(hrefs({"-u", "alice:wrong"}), anonymous);

    // The same answers as a request for the folder itself.
    EXPECT_EQ(Method("PROPFIND", "/private/", {"-H", "Depth: 1"}).status, 401);
    EXPECT_EQ(Request("/private/in.txt").status, 401);
}

TEST_F(WebDavTest, ExpectContinueGetsTheInterimAnswerOnlyForABodyThatIsRead)
{
    for (const char* folder : {"members", "cgi"})
        ASSERT_EQ(::mkdir((docs.Path() + folder).c_str(), 0755), 0);
    ServeFolder(2, "/members/", docs.Path() + "members/", {"EnableWrite", "EnableAuthenticate"});
    settings.SetValue("Setting::Path::Path_2::Users::alice", "alice");
    settings.SetValue("Setting::User::Enable::User_0::User", "alice");
    settings.SetValue("Setting::User::Enable::User_0::Passwd", "s3cret");
    ServeFolder(3, "/cgi/", docs.Path() + "cgi/", {"EnableSSICGI"});
    settings.SetValue("Setting::CGI::Cgi_0::FileExt", "sh");
    settings.SetValue("Setting::CGI::Cgi_0::ExecuteFile", "0");
    settings.SetValue("Setting::CGI::Cgi_0::Command", "/bin/sh %FilePath%");
    testsupport::PutFile(docs.Path() + "cgi/s.sh", "echo 'Content-Type: text/plain'; echo; echo ran\n");
    Start();

    // Twice the size at which curl starts to ask by itself.
    const std::string bytes = servertest::Pattern(2 * 1024 * 1024);
    const std::string upload = scratch.Path() + "upload.bin";
    testsupport::PutFile(upload, bytes);
    // Far beyond what a loopback request takes: a missing answer shows as this wait.
    constexpr const char* kExpectWait = "5";
    constexpr auto kWithoutWait = 2s;
    const std::vector<std::string> asking = {"-v", "--expect100-timeout", kExpectWait, "-H", "Expect: 100-continue"};
    const struct {
        const char* description;
        const char* target;
        std::vector<std::string> extra;
        int status;
        bool interim;
    } cases[] = {
        {"PUT that is read", "/up.bin", {"-T", upload}, 201, true},
        {"PUT without credentials", "/members/up.bin", {"-T", upload}, 401, false},
        {"PUT to a script", "/cgi/s.sh", {"-T", upload}, 405, false},
        {"POST above the body limit", "/cgi/s.sh", {"-H", "Content-Length: 70000000", "--data-binary", "x"}, 413,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::vector<std::string> extra = asking;
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        const auto start = std::chrono::steady_clock::now();
        const Answer answer = Request(c.target, extra);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(answer.status, c.status) << answer.run.err;
        EXPECT_EQ(answer.run.err.find("< HTTP/1.1 100 Continue") != std::string::npos, c.interim) << answer.run.err;
        EXPECT_LT(elapsed, kWithoutWait);
    }
    EXPECT_EQ(testsupport::GetFile(site + "up.bin"), bytes);
    EXPECT_FALSE(Exists(docs.Path() + "members/up.bin"));
}

// --- failures ------------------------------------------------------------------------------

TEST_F(WebDavTest, FailedFileOperationNamesPathAndReasonInTheLogsButNotOnThePage)
{
    // A file where the upload's folder should be: the open fails with ENOTDIR.
    testsupport::PutFile(site + "blocker", "not a folder");
    Start();
    const Answer answer = Put("/blocker/new.txt", "body");
    EXPECT_EQ(answer.status, 500) << answer.run.err;
    const std::string message =
        "ファイルのオープンに失敗しました、サーバー上のファイルは、使用中のためロックされている可能性があります";
    const std::string detail = site + "blocker/: " + std::strerror(ENOTDIR);
    EXPECT_NE(answer.body.find(message), std::string::npos) << answer.body;
    EXPECT_EQ(answer.body.find(site), std::string::npos) << answer.body;

    const struct {
        const char* log;
        std::string expected;
    } logFiles[] = {
        {"request.txt", "[" + message + " (" + detail + ")] PUT /blocker/new.txt"},
        {"system.txt", "SystemError : " + message + " (" + detail + ")"},
    };
    for (const auto& c : logFiles) {
        SCOPED_TRACE(c.log);
        std::string text;
        // The core writes the queued lines out once a second.
        EXPECT_TRUE(servertest::WaitUntil(
            [&] {
                text = testsupport::GetFile(logs.Path() + c.log);
                return text.find(c.expected) != std::string::npos;
            },
            5s))
            << text;
    }
}

// --- a real WebDAV client -----------------------------------------------------------------

TEST_F(WebDavTest, CadaverSessionMakesCopiesMovesAndDeletes)
{
    Start();
    testsupport::TempFolder home;  // no ~/.netrc or ~/.cadaverrc of the user is read
    const std::string local = scratch.Path() + "local.txt";
    const std::string fetched = scratch.Path() + "fetched.txt";
    const std::string contents = "sent by cadaver\n";
    testsupport::PutFile(local, contents);
    const std::string script = scratch.Path() + "script.txt";
    testsupport::PutFile(script, "ls\n"
                                 "mkcol d\n"
                                 "put " + local + " f.txt\n"
                                 "get f.txt " + fetched + "\n"
                                 "copy f.txt d/g.txt\n"
                                 "move f.txt h.txt\n"
                                 "delete h.txt\n"
                                 "ls d\n"
                                 "quit\n");

    // The script on stdin through a shell, as cadaver reads commands from there.
    testsupport::ChildProcess cadaver("/bin/sh", {"-c", std::string("exec ") + kCadaver + " \"$1\" < \"$2\"", "sh",
                                                  Url("/"), script},
                                      {"HOME=" + home.Path(), "http_proxy", "https_proxy", "HTTP_PROXY"});
    const testsupport::ChildResult result = cadaver.Wait(kCadaverLimit);
    ASSERT_FALSE(result.timedOut) << result.out << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;

    EXPECT_TRUE(IsFolder(site + "d")) << result.out;
    EXPECT_EQ(testsupport::GetFile(site + "d/g.txt"), contents) << result.out;
    EXPECT_EQ(testsupport::GetFile(fetched), contents) << result.out;
    EXPECT_FALSE(Exists(site + "f.txt")) << result.out;
    EXPECT_FALSE(Exists(site + "h.txt")) << result.out;
    // Each of the seven commands after the first listing reports its success.
    size_t succeeded = 0;
    for (std::string::size_type at = result.out.find("succeeded."); at != std::string::npos;
         at = result.out.find("succeeded.", at + 1))
        ++succeeded;
    EXPECT_EQ(succeeded, 7u) << result.out;
    EXPECT_EQ(result.out.find("failed"), std::string::npos) << result.out;
    // The last listing shows the copy.
    EXPECT_NE(result.out.find("g.txt"), std::string::npos) << result.out;
}

}  // namespace
