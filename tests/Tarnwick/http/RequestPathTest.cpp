#include "http/RequestPath.h"

#include "http/NormalResponse.h"
#include "http/ServerFatalException.h"

#include "CoreFixture.h"
#include "ServerTestSupport.h"

#include "UrlCoding.h"

#include "FileIo.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Keys = std::vector<std::pair<std::string, std::string>>;

const std::string kNoEntries = "パス設定が存在しません、設定してください！";
const std::string kNoHost = "あなたのアクセスしたホスト名(URL)は、このサーバの管理下ではありません";
const std::string kNoUrl = "あなたのアクセスしたURLは、このサーバの管理下ではありません";

class RequestPathTest : public testing::Test {
protected:
    // A path entry "Setting::Path::<name>" with exactly the given keys.
    void AddEntry(const std::string& name, const Keys& keys)
    {
        const CConfigAccessor entry = tree.GetAccessor("Setting::Path::" + name);
        entry.GetString("Unused", "");  // creates the node even without keys
        for (const auto& [key, value] : keys)
            entry.SetString(key, value);
    }
    void AddIndex(const std::vector<std::string>& names)
    {
        for (const std::string& name : names)
            tree.SetValue("Setting::Index::" + name, name);
    }
    CRequestPath Resolve(const std::string& object, const std::string& host = "")
    {
        return CRequestPath(object, host, tree.GetAccessor("Setting"));
    }
    // The message of the CServerFatalException that resolving throws; "" when none.
    std::string FatalText(const std::string& object, const std::string& host = "")
    {
        try {
            Resolve(object, host);
        } catch (const CServerFatalException& e) {
            return e.message;
        }
        return "";
    }
    static std::string EntryName(const CRequestPath& path)
    {
        std::string prefix = path.GetEntry().GetPrefix();  // "Setting::Path::<name>::"
        prefix.erase(0, std::string("Setting::Path::").size());
        return prefix.substr(0, prefix.size() - 2);
    }

    // Folders and files below the temporary folder; `relative` is UTF-8, as on disk.
    void MakeDir(const std::string& relative) { fs::create_directories(folder.Path() + relative); }
    void MakeFile(const std::string& relative)
    {
        const fs::path full = folder.Path() + relative;
        fs::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << "x";
    }
    std::string Root() const { return folder.Path(); }
    std::string Www() const { return folder.Path() + "www/"; }

    servertest::TempFolder folder;
    CConfigClass tree;
};

// --- entry choice --------------------------------------------------------------------

TEST_F(RequestPathTest, ChoosesTheEntryByHostAndLongestPrefix)
{
    AddEntry("Path_0", {{"ServerPath", "/docs/"}, {"LocalPath", Root() + "d0/"}});
    AddEntry("Path_1", {{"ServerPath", "/"}, {"LocalPath", Root() + "root/"}});
    AddEntry("Path_2", {{"ServerPath", "/docs/"}, {"VirtualHost", "alpha"}, {"LocalPath", Root() + "d2/"}});
    AddEntry("Path_3", {{"ServerPath", "/img/"}, {"VirtualHost", "*.example.org"}, {"LocalPath", Root() + "i/"}});

    const struct {
        const char* description;
        std::string object;
        std::string host;
        std::string entry;
        std::string localPath;
    } cases[] = {
        {"longer prefix wins", "/docs/a.html", "", "Path_0", Root() + "d0/a.html"},
        {"shorter prefix for the rest", "/index.html", "", "Path_1", Root() + "root/index.html"},
        {"host pattern chosen over *", "/docs/a.html", "alpha", "Path_2", Root() + "d2/a.html"},
        {"host matched without case", "/docs/a.html", "ALPHA", "Path_2", Root() + "d2/a.html"},
        {"other host takes *", "/docs/a.html", "beta", "Path_0", Root() + "d0/a.html"},
        {"pattern without a port, host with one", "/docs/a.html", "alpha:8080", "Path_2", Root() + "d2/a.html"},
        {"prefix matched without case", "/DOCS/A.html", "", "Path_0", Root() + "d0/A.html"},
        {"wildcard host", "/img/p.png", "www.Example.org", "Path_3", Root() + "i/p.png"},
        {"wildcard host not matching", "/img/p.png", "example.org", "Path_1", Root() + "root/img/p.png"},
    };
    for (const auto& c : cases) {
        const CRequestPath path = Resolve(c.object, c.host);
        EXPECT_EQ(EntryName(path), c.entry) << c.description;
        EXPECT_EQ(path.GetLocalPath(), c.localPath) << c.description;
        EXPECT_EQ(path.GetTargetHost(), c.host) << c.description;
        EXPECT_EQ(path.IsRedirect(), 0) << c.description;
    }
}

// RFC 9110 7.2: clients send the port in Host whenever it is not 80. A pattern is matched
// against the whole value and, when it names no port, against the host without its port.
TEST_F(RequestPathTest, HostPatternWithoutAPortServesThatHostOnEveryPort)
{
    AddEntry("Any", {{"LocalPath", Root() + "any/"}});
    AddEntry("Jp", {{"VirtualHost", "*.example.jp"}, {"LocalPath", Root() + "jp/"}});
    AddEntry("JpPort", {{"VirtualHost", "www.example.jp:9090"}, {"LocalPath", Root() + "jp9090/"}});
    AddEntry("AnyPort", {{"VirtualHost", "alpha:*"}, {"LocalPath", Root() + "alpha/"}});
    AddEntry("V6", {{"VirtualHost", "[::1]"}, {"LocalPath", Root() + "v6/"}});
    const struct {
        const char* description;
        std::string host;
        std::string entry;
    } cases[] = {
        {"host alone", "www.example.jp", "Jp"},
        {"host on a port", "www.example.jp:8080", "Jp"},
        {"host on a port, other case", "WWW.Example.JP:8080", "Jp"},
        {"empty port", "www.example.jp:", "Jp"},
        {"the longer pattern that names the port", "www.example.jp:9090", "JpPort"},
        {"a port the pattern does not name", "beta.example.jp:9090", "Jp"},
        {"pattern's own wildcard port", "alpha:8080", "AnyPort"},
        {"pattern naming a port, host without one", "alpha", "Any"},
        {"host that the pattern does not match on any port", "example.jp:8080", "Any"},
        {"IP literal on a port", "[::1]:8080", "V6"},
        {"IP literal alone", "[::1]", "V6"},
        {"other IP literal", "[::2]:8080", "Any"},
        {"IP literal without its closing bracket", "[::1:8080", "Any"},
        {"port alone", ":8080", "Any"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EntryName(Resolve("/a.html", c.host)), c.entry) << c.description;
}

TEST_F(RequestPathTest, RequestWithoutHostReachesOnlyEntriesForAnyHost)
{
    AddEntry("Named", {{"VirtualHost", "alpha"}});
    EXPECT_EQ(FatalText("/a.html"), kNoHost);

    // The missing host is read as "*", which a one-character pattern matches.
    AddEntry("AnyOne", {{"VirtualHost", "?"}});
    EXPECT_EQ(EntryName(Resolve("/a.html")), "AnyOne");
}

TEST_F(RequestPathTest, FatalErrorsNameWhatWasMissing)
{
    EXPECT_EQ(FatalText("/"), kNoEntries) << "no Path node";
    tree.SetValue("Setting::Path::Text", "a leaf is no entry");
    EXPECT_EQ(FatalText("/"), kNoEntries) << "Path without child nodes";

    AddEntry("Path_0", {{"VirtualHost", "alpha"}, {"ServerPath", "/docs/"}});
    EXPECT_EQ(FatalText("/docs/", "beta"), kNoHost);
    EXPECT_EQ(FatalText("/other/", "alpha"), kNoUrl);
    EXPECT_EQ(FatalText("/doc", "alpha"), kNoUrl) << "two bytes short of the prefix";
    EXPECT_EQ(FatalText("/docs/", "alpha"), "");
}

TEST_F(RequestPathTest, EqualPrefixesTakeTheLongestHostPatternThenTheFirst)
{
    AddEntry("A", {{"ServerPath", "/x/"}, {"VirtualHost", "a*"}, {"LocalPath", Root() + "a/"}});
    AddEntry("B", {{"ServerPath", "/x/"}, {"VirtualHost", "*a"}, {"LocalPath", Root() + "b/"}});
    AddEntry("C", {{"ServerPath", "/X/"}, {"VirtualHost", "*"}, {"LocalPath", Root() + "c/"}});
    AddEntry("D", {{"ServerPath", "/x/"}, {"VirtualHost", "al*a"}, {"LocalPath", Root() + "d/"}});
    EXPECT_EQ(EntryName(Resolve("/x/f", "aa")), "A") << "A and B tie; the first stored wins";
    EXPECT_EQ(EntryName(Resolve("/x/f", "alpha")), "D") << "longest pattern, though stored last";
    EXPECT_EQ(EntryName(Resolve("/x/f", "zz")), "C");
}

TEST_F(RequestPathTest, PrefixIsAPlainByteTest)
{
    AddEntry("Doc", {{"ServerPath", "/doc"}, {"LocalPath", Root() + "doc/"}});
    AddEntry("Top", {{"ServerPath", "/"}, {"LocalPath", Root() + "top/"}});
    const CRequestPath path = Resolve("/documents/x");
    EXPECT_EQ(EntryName(path), "Doc");
    EXPECT_EQ(path.GetLocalPath(), Root() + "doc/uments/x");
}

TEST_F(RequestPathTest, MissingKeysReadAsDefaultsWithoutBeingCreated)
{
    AddEntry("Path_0", {{"LocalPath", Www()}});
    const CRequestPath path = Resolve("/a.html");
    EXPECT_EQ(path.GetLocalPath(), Www() + "a.html");
    std::vector<std::string> keys;
    tree.GetKeys("Setting::Path::Path_0::", keys);
    EXPECT_EQ(keys, std::vector<std::string>{"LocalPath"});
}

TEST_F(RequestPathTest, OptionsAreTheChosenEntrysNode)
{
    AddEntry("Path_0", {{"LocalPath", Www()}});
    tree.SetValue("Setting::Path::Path_0::Options::Flag", "1");
    const CRequestPath path = Resolve("/");
    EXPECT_EQ(path.GetOptions().GetPrefix(), "Setting::Path::Path_0::Options::");
    EXPECT_EQ(path.GetOptions().GetString("Flag", ""), "1");

    const CRequestPath copy = path;
    EXPECT_EQ(copy.GetEntry().GetPrefix(), path.GetEntry().GetPrefix());
    EXPECT_EQ(copy.GetLocalPath(), path.GetLocalPath());
    EXPECT_EQ(copy.IsDirectory(), 1);
}

// --- local mapping -------------------------------------------------------------------

TEST_F(RequestPathTest, LocalPathIsJoinedWithExactlyOneSeparator)
{
    const struct {
        const char* description;
        std::string serverPath;
        std::string localPath;
        std::string object;
        std::string mapped;
    } cases[] = {
        {"both with '/'", "/docs/", Www(), "/docs/a/b.txt", Www() + "a/b.txt"},
        {"LocalPath without '/'", "/docs/", Root() + "www", "/docs/a/b.txt", Www() + "a/b.txt"},
        {"prefix without '/'", "/docs", Www(), "/docs/a/b.txt", Www() + "a/b.txt"},
        {"neither with '/'", "/docs", Root() + "www", "/docs/a/b.txt", Www() + "a/b.txt"},
        {"LocalPath with two '/'", "/docs/", Root() + "www//", "/docs/a", Root() + "www//a"},
        {"object equal to the prefix", "/docs/", Root() + "www", "/docs/", Www()},
        {"prefix without '/' and object with", "/docs", Root() + "www", "/docs/", Www()},
        {"object with doubled '/'", "/docs/", Www(), "/docs//a", Www() + "a"},
    };
    for (const auto& c : cases) {
        tree.RemoveNode("Setting::Path");
        AddEntry("Path_0", {{"ServerPath", c.serverPath}, {"LocalPath", c.localPath}});
        const CRequestPath path = Resolve(c.object);
        EXPECT_EQ(path.GetLocalPath(), c.mapped) << c.description;
        EXPECT_EQ(path.IsRedirect(), 0) << c.description;
    }
}

TEST_F(RequestPathTest, ObjectEqualToThePrefixIsTheFolder)
{
    AddEntry("Path_0", {{"ServerPath", "/docs/"}, {"LocalPath", Www()}});
    const CRequestPath path = Resolve("/Docs/");
    EXPECT_EQ(path.IsDirectory(), 1);
    EXPECT_EQ(path.IsRedirect(), 0);
    EXPECT_EQ(path.GetLocalPath(), Www());
}

TEST_F(RequestPathTest, PrefixWithoutItsSlashRedirectsToThePrefix)
{
    MakeDir("www");
    AddEntry("Path_0", {{"ServerPath", "/docs/"}, {"LocalPath", Www()}});
    for (const char* object : {"/docs", "/DOCS"}) {
        const CRequestPath path = Resolve(object);
        EXPECT_EQ(path.IsRedirect(), 1) << object;
        EXPECT_EQ(path.IsDirectory(), 1) << object;
        EXPECT_EQ(path.GetRedirectLocation(), "/docs/") << object;
        EXPECT_EQ(path.GetLocalPath(), Www()) << object;
        EXPECT_EQ(path.Exists(), 1) << object;
    }
}

TEST_F(RequestPathTest, FolderNamedWithoutSlashRedirectsToTheSlashedName)
{
    MakeDir("www/sub");
    MakeFile("www/sub/index.html");
    AddEntry("Path_0", {{"ServerPath", "/docs/"}, {"LocalPath", Www()}});
    AddIndex({"index.html"});
    const CRequestPath path = Resolve("/docs/sub");
    EXPECT_EQ(path.IsRedirect(), 1);
    EXPECT_EQ(path.IsDirectory(), 1);
    EXPECT_EQ(path.GetRedirectLocation(), "/docs/sub/") << "not the index document yet";
    EXPECT_EQ(path.GetLocalPath(), Www() + "sub/");
}

TEST_F(RequestPathTest, FirstExistingIndexDocumentIsTheRedirect)
{
    MakeDir("www/empty");
    MakeFile("www/index.htm");
    MakeFile("www/my index.html");
    MakeDir("www/index.html/");  // a folder of that name is no index document
    AddEntry("Path_0", {{"ServerPath", "/docs/"}, {"LocalPath", Www()}});
    AddIndex({"index.html", "index.htm"});

    CRequestPath path = Resolve("/docs/");
    EXPECT_EQ(path.IsRedirect(), 1);
    EXPECT_EQ(path.GetRedirectLocation(), "index.htm");
    EXPECT_EQ(path.GetLocalPath(), Www());

    path = Resolve("/docs/empty/");
    EXPECT_EQ(path.IsRedirect(), 0) << "no index document: the folder's list follows";
    EXPECT_EQ(path.IsDirectory(), 1);

    tree.RemoveNode("Setting::Index");
    AddIndex({"my index.html"});
    EXPECT_EQ(Resolve("/docs/").GetRedirectLocation(), "my%20index.html");
}

TEST_F(RequestPathTest, ForwardEntryRedirectsWithTheRestOfTheObject)
{
    AddEntry("Path_0", {{"ServerPath", "/fw/"}, {"Forward", "http://other.example/base/"}});
    const struct {
        const char* description;
        std::string object;
        std::string location;
    } cases[] = {
        {"rest appended", "/fw/a/b", "http://other.example/base/a/b"},
        {"the prefix alone", "/fw/", "http://other.example/base/"},
        {"the prefix without its slash", "/fw", "http://other.example/base/"},
        {"rest escaped", "/fw/a b#c?d%e", "http://other.example/base/a%20b%23c%3fd%25e"},
        {"Japanese rest, in UTF-8", "/fw/資料", "http://other.example/base/%e8%b3%87%e6%96%99"},
    };
    for (const auto& c : cases) {
        const CRequestPath path = Resolve(c.object);
        EXPECT_EQ(path.IsRedirect(), 1) << c.description;
        EXPECT_EQ(path.IsDirectory(), 0) << c.description;
        EXPECT_EQ(path.GetRedirectLocation(), c.location) << c.description;
        EXPECT_EQ(path.GetLocalPath(), "") << c.description;
        EXPECT_EQ(path.Exists(), 1) << c.description;
        EXPECT_EQ(path.IsHidden(), 0) << c.description;
    }
}

// RFC 9110 10.2.2: the stored address keeps its reserved characters and escapes; its
// other characters go out as UTF-8 (RFC 3987 3.1), escaped, as a browser sends a typed URL.
TEST_F(RequestPathTest, ForwardValueKeepsItsUrlAndEscapesWhatAHeaderCannotCarry)
{
    AddEntry("Path_0", {{"ServerPath", "/fw/"}, {"Forward", "http://h/a%20b/"}});
    EXPECT_EQ(Resolve("/fw/c").GetRedirectLocation(), "http://h/a%20b/c");
    AddEntry("Path_1", {{"ServerPath", "/jp/"}, {"Forward", "http://h:8080/資料 室/?q=1#top"}});
    EXPECT_EQ(Resolve("/jp/").GetRedirectLocation(), "http://h:8080/%e8%b3%87%e6%96%99%20%e5%ae%a4/?q=1#top");
}

// RFC 9110 10.2.2: Location is a URI reference, so no raw byte from 0x80 up; the text is
// UTF-8 (RFC 3987 3.1), which the server's own decoding takes back to the same folder.
TEST_F(RequestPathTest, RedirectLocationsAreEscapedUtf8ThatDecodesBackToTheObject)
{
    MakeDir("www/my dir");
    MakeDir("www/a?b");
    MakeDir("www/50%");
    MakeDir(u8"www/日本語フォルダ");
    MakeDir(u8"www/ｶﾅ");
    MakeDir(u8"www/波\uFF5E線");
    AddEntry("Path_0", {{"ServerPath", "/docs/"}, {"LocalPath", Www()}});
    AddEntry("Path_1", {{"ServerPath", "/a b/"}, {"LocalPath", Www()}});
    AddEntry("Path_2", {{"ServerPath", "/資料/"}, {"LocalPath", Www()}});
    const struct {
        const char* object;
        const char* location;
    } cases[] = {
        {"/docs/my dir", "/docs/my%20dir/"},
        {"/docs/a?b", "/docs/a%3fb/"},
        {"/docs/50%", "/docs/50%25/"},
        {"/a b", "/a%20b/"},
        {"/docs/日本語フォルダ", "/docs/%e6%97%a5%e6%9c%ac%e8%aa%9e%e3%83%95%e3%82%a9%e3%83%ab%e3%83%80/"},
        {"/docs/\xB6\xC5", "/docs/%ef%bd%b6%ef%be%85/"},
        {"/docs/波\x81\x60線", "/docs/%e6%b3%a2%ef%bd%9e%e7%b7%9a/"},
        {"/資料", "/%e8%b3%87%e6%96%99/"},
    };
    for (const auto& c : cases) {
        const std::string location = Resolve(c.object).GetRedirectLocation();
        EXPECT_EQ(location, c.location) << c.object;
        EXPECT_EQ(NormalizeUrlPath(location), c.object + std::string("/")) << c.object;
    }
}

TEST_F(RequestPathTest, ExistsReportsFilesAndFolders)
{
    MakeFile("www/a.txt");
    AddEntry("Path_0", {{"LocalPath", Www()}});
    EXPECT_EQ(Resolve("/a.txt").Exists(), 1);
    EXPECT_EQ(Resolve("/").Exists(), 1);
    EXPECT_EQ(Resolve("/missing.txt").Exists(), 0);
    EXPECT_EQ(Resolve("/missing/").Exists(), 0);
}

// What lies at a name without a trailing '/' decides between the file, the redirect to the
// folder and not found; links are followed, as the name with a '/' would resolve. Looked at
// by opening it, the answers are the same, and only a regular file stays open.
TEST_F(RequestPathTest, WhatLiesAtTheNameDecidesFileFolderOrNothing)
{
    MakeFile("www/file.txt");
    MakeFile("www/unreadable.txt");
    ASSERT_EQ(0, ::chmod((Www() + "unreadable.txt").c_str(), 0));
    MakeDir("www/folder");
    fs::create_directory_symlink(Www() + "folder", Www() + "link-to-folder");
    fs::create_symlink(Www() + "file.txt", Www() + "link-to-file");
    fs::create_symlink(Www() + "gone", Www() + "dangling");
    fs::create_symlink(Www() + "loop", Www() + "loop");
    ASSERT_EQ(0, ::mkfifo((Www() + "fifo").c_str(), 0600));
    AddEntry("Path_0", {{"LocalPath", Www()}});
    // Without the privilege to read it, the file is looked at by name.
    const bool readsAll = ::geteuid() == 0;
    const struct {
        const char* object;
        int exists;
        int redirect;
        int directory;
        std::string localPath;
        bool opened;  // with CRequestPath::Look::Open
    } cases[] = {
        {"/file.txt", 1, 0, 0, Www() + "file.txt", true},
        {"/unreadable.txt", 1, 0, 0, Www() + "unreadable.txt", readsAll},
        {"/folder", 1, 1, 1, Www() + "folder/", false},
        {"/link-to-folder", 1, 1, 1, Www() + "link-to-folder/", false},
        {"/link-to-file", 1, 0, 0, Www() + "link-to-file", true},
        {"/dangling", 0, 0, 0, Www() + "dangling", false},
        {"/loop", 0, 0, 0, Www() + "loop", false},
        {"/fifo", 0, 0, 0, Www() + "fifo", false},
        {"/missing", 0, 0, 0, Www() + "missing", false},
        {"/file.txt/x", 0, 0, 0, Www() + "file.txt/x", false},
        {"/file.txt/", 0, 0, 1, Www() + "file.txt/", false},
        {"/folder/", 1, 0, 1, Www() + "folder/", false},
        {"/missing/", 0, 0, 1, Www() + "missing/", false},
    };
    for (const CRequestPath::Look look : {CRequestPath::Look::Stat, CRequestPath::Look::Open}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.object << (look == CRequestPath::Look::Open ? " opened" : ""));
            const CRequestPath path(c.object, "", std::make_shared<const CSettingsSnapshot>(tree.GetAccessor("Setting")),
                                    look);
            EXPECT_EQ(path.Exists(), c.exists);
            EXPECT_EQ(path.IsRedirect(), c.redirect);
            EXPECT_EQ(path.IsDirectory(), c.directory);
            EXPECT_EQ(path.GetLocalPath(), c.localPath);
            EXPECT_EQ(path.HasOpenFile(), look == CRequestPath::Look::Open && c.opened);
        }
    }
}

// The file the look opened goes, once, to the response that reads it, with the size and
// time read then; a copy of the path has none.
TEST_F(RequestPathTest, AnOpenedFileIsHandedOverOnce)
{
    MakeFile("www/file.txt");
    AddEntry("Path_0", {{"LocalPath", Www()}});
    const CRequestPath path("/file.txt", "", std::make_shared<const CSettingsSnapshot>(tree.GetAccessor("Setting")),
                            CRequestPath::Look::Open);
    const CRequestPath copy = path;
    EXPECT_FALSE(copy.HasOpenFile());
    platform::FileStatus status;
    platform::CFile file = path.TakeOpenFile(status);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(status.kind, platform::PathKind::File);
    EXPECT_EQ(status.size, 1u);
    struct stat byName {};
    ASSERT_EQ(::stat((Www() + "file.txt").c_str(), &byName), 0);
    EXPECT_EQ(status.modified, static_cast<int64_t>(byName.st_mtime));
    EXPECT_FALSE(path.HasOpenFile());
    EXPECT_FALSE(path.TakeOpenFile(status).IsOpen());
}

// The file system is looked at once, when the path is resolved: the answers of one request
// and of the copies its responses keep stay those of that moment.
TEST_F(RequestPathTest, AnswersAreThoseOfTheMomentOfResolving)
{
    MakeFile("www/.gone.txt");
    MakeDir("www/folder");
    AddEntry("Path_0", {{"LocalPath", Www()}});
    const CRequestPath file = Resolve("/.gone.txt");
    const CRequestPath folder = Resolve("/folder/");
    const CRequestPath missing = Resolve("/later.txt");
    fs::remove(Www() + ".gone.txt");
    fs::remove(Www() + "folder");
    MakeFile("www/later.txt");

    const CRequestPath fileCopy = file;
    for (const CRequestPath* path : {&file, &fileCopy}) {
        EXPECT_EQ(path->Exists(), 1);
        EXPECT_EQ(path->IsHidden(), 1);
    }
    EXPECT_EQ(folder.Exists(), 1);
    EXPECT_EQ(missing.Exists(), 0);
    EXPECT_EQ(Resolve("/.gone.txt").Exists(), 0) << "a new resolution looks again";
    EXPECT_EQ(Resolve("/later.txt").Exists(), 1);
}

TEST_F(RequestPathTest, EmptyLocalPathServesNothing)
{
    MakeFile("etc-like/passwd");
    AddEntry("Path_0", {{"LocalPath", ""}});
    const CRequestPath path = Resolve("/etc-like/passwd");
    EXPECT_EQ(path.GetLocalPath(), "");
    EXPECT_EQ(path.Exists(), 0);
}

// --- staying inside the entry's folder -----------------------------------------------

TEST_F(RequestPathTest, ParentSegmentLeftByThePrefixCutIsNotFound)
{
    MakeFile("secret.txt");
    MakeDir("www");
    AddEntry("Path_0", {{"ServerPath", "/doc"}, {"LocalPath", Www()}});
    for (const char* object : {"/doc../secret.txt", "/doc..", "/doc/../secret.txt", "/doc/a/../../secret.txt"}) {
        const CRequestPath path = Resolve(object);
        EXPECT_EQ(path.GetLocalPath(), "") << object;
        EXPECT_EQ(path.Exists(), 0) << object;
        EXPECT_EQ(path.IsRedirect(), 0) << object;
        EXPECT_EQ(path.IsDirectory(), 0) << object;
        EXPECT_EQ(path.IsHidden(), 0) << object;
    }
    // A name that merely holds dots is a name.
    MakeFile("www/..a/b");
    EXPECT_EQ(Resolve("/doc/..a/b").GetLocalPath(), Www() + "..a/b");
    EXPECT_EQ(Resolve("/doc/...").GetLocalPath(), Www() + "...");
}

// The lexical and the real location of a mapped path must both lie in the entry's folder.
void ExpectInside(const CRequestPath& path, const std::string& root, const std::string& url)
{
    const std::string& local = path.GetLocalPath();
    if (local.empty())
        return;  // refused: answered as not found
    ASSERT_EQ(local.compare(0, root.size(), root), 0) << url << " -> " << local;
    const std::string below = local.substr(root.size());
    EXPECT_EQ(("/" + below + "/").find("/../"), std::string::npos) << url << " -> " << local;
    if (path.Exists() && !path.IsRedirect()) {
        const std::string real = fs::canonical(platform::NativePath(local)).string() + "/";
        const std::string realRoot = fs::canonical(platform::NativePath(root)).string() + "/";
        EXPECT_EQ(real.compare(0, realRoot.size(), realRoot), 0) << url << " -> " << real;
    }
}

TEST_F(RequestPathTest, TraversalAttemptsStayInsideTheEntrysFolder)
{
    MakeFile("secret.txt");
    MakeFile("www/docs/a.txt");
    MakeFile("www/sub/b.txt");
    const std::string docs = Www() + "docs/";
    AddEntry("Top", {{"ServerPath", "/"}, {"LocalPath", Www()}});
    AddEntry("Doc", {{"ServerPath", "/doc"}, {"LocalPath", Www() + "docs"}});
    AddEntry("Sub", {{"ServerPath", "/sub/"}, {"LocalPath", Www() + "sub"}});

    const char* urls[] = {
        "/../secret.txt",
        "/..",
        "..",
        "/../",
        "/%2e%2e/secret.txt",
        "/%2E%2E/secret.txt",
        "/.%2e/secret.txt",
        "/%2e./secret.txt",
        "/%c0%ae%c0%ae/secret.txt",
        "/%c0%ae%c0%ae%c0%afsecret.txt",
        "/..%2fsecret.txt",
        "/..%2Fsecret.txt",
        "/..%5csecret.txt",
        "/..\\secret.txt",
        "\\..\\secret.txt",
        "/./../secret.txt",
        "/././.././secret.txt",
        "/sub/..",
        "/sub/../../secret.txt",
        "/sub/..%2f..%2fsecret.txt",
        "/sub/%2e%2e%5c%2e%2e%5csecret.txt",
        "/sub/.../..//../secret.txt",
        "/%2e%2e%2f%2e%2e%2fsecret.txt",
        "/%252e%252e/secret.txt",
        "/..:secret.txt",
        "/..%3asecret.txt",
        "/doc../secret.txt",
        "/doc..%2fsecret.txt",
        "/doc%2e%2e/secret.txt",
        "/doc%2e%2e%5csecret.txt",
        "/doc/..",
        "/doc..",
        "/doc/../../secret.txt",
        "/docs/../../secret.txt?x=../..",
        " /../secret.txt ",
        "/%20../secret.txt",
        "/..%00/secret.txt",
    };
    for (const char* url : urls) {
        const std::string object = NormalizeUrlPath(GetUrlPath(url));
        const CRequestPath path = Resolve(object);
        const std::string root = EntryName(path) == "Doc" ? docs : EntryName(path) == "Sub" ? Www() + "sub/" : Www();
        ExpectInside(path, root, url);
        EXPECT_NE(path.GetLocalPath(), Root() + "secret.txt") << url;
    }
}

// --- hidden names --------------------------------------------------------------------

TEST_F(RequestPathTest, HiddenWhenAnyNameBelowTheRootStartsWithADot)
{
    MakeFile(".www/.git/config");
    MakeFile(".www/a/.env");
    MakeFile(".www/a/b.txt");
    MakeFile(".www/.well/c.txt");
    MakeFile(".www/x.y/z.txt");
    // The entry's own folder may have a dotted name: the administrator chose it.
    AddEntry("Path_0", {{"LocalPath", Root() + ".www/"}});
    const struct {
        std::string object;
        int hidden;
    } cases[] = {
        {"/.git/config", 1}, {"/.git/", 1}, {"/.git", 1},   {"/a/.env", 1},  {"/.well/c.txt", 1},
        {"/a/b.txt", 0},     {"/a/", 0},    {"/", 0},       {"/x.y/z.txt", 0}, {"/.missing", 0},
        {"/a/.missing", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Resolve(c.object).IsHidden(), c.hidden) << c.object;
}

TEST_F(RequestPathTest, DottedFolderThatRedirectsToItsIndexDocumentIsHidden)
{
    MakeFile("www/.private/index.html");
    MakeFile("www/open/index.html");
    AddEntry("Path_0", {{"LocalPath", Www()}});
    AddIndex({"index.html"});
    const CRequestPath hidden = Resolve("/.private/");
    EXPECT_EQ(hidden.IsRedirect(), 1);
    EXPECT_EQ(hidden.GetRedirectLocation(), "index.html");
    EXPECT_EQ(hidden.IsHidden(), 1);
    EXPECT_EQ(Resolve("/.private").IsHidden(), 1) << "the redirect to the folder's own name";
    EXPECT_EQ(Resolve("/open/").IsHidden(), 0);
}

TEST_F(RequestPathTest, PrefixCutIntoADottedNameIsHidden)
{
    MakeFile("www/.doc-private/a.txt");
    AddEntry("Path_0", {{"ServerPath", "/doc"}, {"LocalPath", Www()}});
    const CRequestPath path = Resolve("/doc.doc-private/a.txt");
    EXPECT_EQ(path.GetLocalPath(), Www() + ".doc-private/a.txt");
    EXPECT_EQ(path.IsHidden(), 1);
}

// --- control bytes -------------------------------------------------------------------

TEST_F(RequestPathTest, ControlBytesInTheObjectAreToldAndNoLocationCarriesOne)
{
    MakeDir("www");
    AddEntry("Path_0", {{"ServerPath", "/"}, {"LocalPath", Www()}});
    AddEntry("Path_1", {{"ServerPath", "/fw/"}, {"Forward", "http://h/\r\nSet-Cookie: a=b"}});
    AddEntry("Path_2", {{"ServerPath", "/fine/"}, {"Forward", "http://h/"}});
    const struct {
        const char* description;
        std::string object;
        int holds;
    } cases[] = {
        {"plain", "/a b.txt", 0},
        {"Japanese with 0x5C and 0x7C trail bytes", "/表/ポ.txt", 0},
        {"0x1F", std::string("/a\x1f"), 1},
        {"0x01", std::string("/\x01"), 1},
        {"line feed", "/a\nb", 1},
        {"carriage return", "/a\rb", 1},
        {"tab", "/a\tb", 1},
        {"DEL", std::string("/a\x7f"), 1},
        {"0x20 is allowed", "/ ", 0},
        {"0x7E is allowed", "/~", 0},
        {"0x80 is allowed", std::string("/\x80"), 0},
        {"stored Forward with CR LF, escaped", "/fw/x", 0},
        {"escaped into the forward location, still told", std::string("/fine/\x7f"), 1},
        {"escaped into the forward location", "/fine/a\nb", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Resolve(c.object).HoldsControlByte(), c.holds) << c.description;
    // Neither the object's control bytes nor the stored address's reach the location raw.
    EXPECT_EQ(Resolve("/fine/a\nb").GetRedirectLocation(), "http://h/a%0ab");
    EXPECT_EQ(Resolve("/fw/x").GetRedirectLocation(), "http://h/%0d%0aSet-Cookie:%20a=bx");
}

// --- Japanese names ------------------------------------------------------------------

TEST_F(RequestPathTest, JapaneseNamesMapToTheirFiles)
{
    MakeFile(u8"www/表.txt");
    MakeDir(u8"www/資料");
    MakeDir(u8"www/ソフト");
    MakeFile(u8"www/日本/文書.html");
    AddEntry("Path_0", {{"ServerPath", "/"}, {"LocalPath", Www()}});
    AddEntry("Path_1", {{"ServerPath", "/日本/"}, {"LocalPath", Www() + "日本"}});

    CRequestPath path = Resolve("/表.txt");
    EXPECT_EQ(path.GetLocalPath(), Www() + "表.txt");
    EXPECT_EQ(path.Exists(), 1);

    path = Resolve("/資料");
    EXPECT_EQ(path.IsRedirect(), 1);
    EXPECT_EQ(path.GetRedirectLocation(), "/%e8%b3%87%e6%96%99/");
    EXPECT_EQ(path.GetLocalPath(), Www() + "資料/");

    // The trail byte 0x5C of "ソ" stays with its character.
    path = Resolve("/ソフト");
    EXPECT_EQ(path.GetRedirectLocation(), "/%e3%82%bd%e3%83%95%e3%83%88/");
    EXPECT_EQ(path.HoldsControlByte(), 0);

    path = Resolve("/日本/文書.html");
    EXPECT_EQ(EntryName(path), "Path_1");
    EXPECT_EQ(path.Exists(), 1);

    // A UTF-8 URL is decoded to Shift-JIS before it is mapped.
    path = Resolve(NormalizeUrlPath(GetUrlPath("/%E8%A1%A8.txt?q=1")));
    EXPECT_EQ(path.GetLocalPath(), Www() + "表.txt");
    EXPECT_EQ(path.Exists(), 1);
}

// --- with the server's settings --------------------------------------------------------

class RequestPathCoreTest : public CoreFixture {};

TEST_F(RequestPathCoreTest, DefaultLocalPathIsTheServerRootsWwwFolder)
{
    settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
    settings.SetValue("Setting::Index::index.html", "index.html");
    StartCore();
    PutFile("www/index.html", "<html></html>");

    const CRequestPath path("/", "", core->GetSettingAccessor());
    EXPECT_EQ(path.GetLocalPath(), servertest::ServerRoot() + "www/");
    EXPECT_EQ(path.IsRedirect(), 1);
    EXPECT_EQ(path.GetRedirectLocation(), "index.html");
}

// A response that only keeps what it was given.
class KeepingResponse : public CNormalResponse {
public:
    using CNormalResponse::CNormalResponse;
    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    void Build() override {}
    int64_t GetContentLength() override { return 0; }
    int GetSendData(CByteBuffer&) override { return 0; }
    const CRequestPath& Path() const { return path_; }
    const CHttpRequest& Request() const { return request_; }
};

TEST_F(RequestPathCoreTest, NormalResponseAnswersTheRecordsRequestOnTheGivenPath)
{
    settings.SetValue("Setting::Path::Path_0::ServerPath", "/fw/");
    settings.SetValue("Setting::Path::Path_0::Forward", "http://h/");
    StartCore();
    CRequestRecord& record = NewRecord();
    record.ParseRequest("GET /fw/x HTTP/1.1\r\nHost: host\r\n\r\n");
    const CRequestPath path("/fw/x", record.GetTargetHost(), core->GetSettingAccessor());

    const KeepingResponse response(core.get(), record, path);
    EXPECT_EQ(&response.Path(), &path);
    EXPECT_EQ(&response.Request(), &record.GetRequest());
    EXPECT_EQ(response.Path().GetRedirectLocation(), "http://h/x");
    EXPECT_EQ(response.Path().GetTargetHost(), "host");
    EXPECT_EQ(response.Request().GetMethod(), "GET");
}

}  // namespace
