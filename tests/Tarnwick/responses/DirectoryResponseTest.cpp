#include "responses/DirectoryResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"
#include "SettingsSchema.h"
#include "UrlCoding.h"

#include "CRuntime.h"
#include "FileSystem.h"
#include "TextCodec.h"
#include "ScopedEnvironment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Record = CDirectoryResponse::ListingRecord;

constexpr int64_t kTime = 1056964608;  // 2003-06-30 09:16:48 UTC

// Icons by the names the page looks up; the catch-all comes last.
const char kBackIcon[] = "/icons/back.gif";
const char kFolderIcon[] = "/icons/folder.gif";
const char kLinkIcon[] = "/icons/link.gif";
const char kTextIcon[] = "/icons/text.gif";
const char kOtherIcon[] = "/icons/unknown.gif";

// The template's listing starts after the header row's rule.
const char kListStart[] = "<hr>\r\n";

std::string LocalTime(int64_t time)
{
    const std::time_t value = static_cast<std::time_t>(time);
    std::tm local {};
    localtime_r(&value, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

// A link label as the listing pads it: to 70 bytes.
std::string Pad(const std::string& label)
{
    return label + std::string(label.size() < 70 ? 70 - label.size() : 0, ' ');
}

// --- sorting, pure -----------------------------------------------------------------------

std::vector<std::string> NamesOf(const std::vector<Record>& records)
{
    std::vector<std::string> names;
    for (const Record& record : records)
        names.push_back(record.name);
    return names;
}

std::vector<Record> Records(int kind, const std::vector<Record>& values)
{
    std::vector<Record> records = values;
    for (Record& record : records)
        record.kind = kind;
    return records;
}

TEST(DirectoryResponseSort, SortsByTheRecordsKindAndKeepsEqualKeysInOrder)
{
    const std::vector<Record> values = {
        {0, "b", 30, 1}, {0, "B", 10, 2}, {0, "a", 20, 2}, {0, "A", 10, 0}, {0, "表", 5, 1}, {0, "c", 20, 3},
    };
    const struct {
        const char* description;
        int kind;
        std::vector<std::string> names;
    } cases[] = {
        {"by name: byte order, upper case first, double-byte after ASCII", CDirectoryResponse::kByName,
         {"A", "B", "a", "b", "c", "表"}},
        {"by modified: ties in their first order", CDirectoryResponse::kByModified, {"表", "B", "A", "a", "c", "b"}},
        {"by size: ties in their first order", CDirectoryResponse::kBySize, {"A", "b", "表", "B", "a", "c"}},
        {"unsorted: left alone", CDirectoryResponse::kUnsorted, {"b", "B", "a", "A", "表", "c"}},
    };
    for (const auto& c : cases) {
        std::vector<Record> records = Records(c.kind, values);
        CDirectoryResponse::SortListing(records);
        EXPECT_EQ(NamesOf(records), c.names) << c.description;
    }
}

TEST(DirectoryResponseSort, SizesBeyondThirtyTwoBitsCompareWhole)
{
    std::vector<Record> records = {{2, "big", 0, 0x100000000LL}, {2, "small", 0, 1}, {2, "neg32", 0, 0x80000000LL}};
    CDirectoryResponse::SortListing(records);
    EXPECT_EQ(NamesOf(records), (std::vector<std::string>{"small", "neg32", "big"}));
}

// --- the page ------------------------------------------------------------------------------

class DirectoryResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", served_.Path());
        settings.SetValue("Setting::Path::Path_0::Options::EnableIndex", "1");
        settings.SetValue(std::string("Setting::").append(schema::kHtmlFileDirectory.path), html_.Path());
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        settings.SetValue("Setting::MimeType::text/html::Ext_00", "html");
        settings.SetValue(std::string("Setting::IconType::") + kBackIcon + "::Filter_00", "..");
        settings.SetValue(std::string("Setting::IconType::") + kFolderIcon + "::Filter_00", "^^DIRECTORY^^");
        settings.SetValue(std::string("Setting::IconType::") + kLinkIcon + "::Filter_00", "^^LINK^^");
        settings.SetValue(std::string("Setting::IconType::") + kTextIcon + "::Filter_00", "text/*");
        settings.SetValue(std::string("Setting::IconType::") + kOtherIcon + "::Filter_00", "*");
    }

    // One more path entry, before Start, with index pages on.
    void AddEntry(const std::string& serverPath, const std::string& key = "LocalPath",
                  const std::string& value = "/nonexistent/")
    {
        const std::string node = "Setting::Path::Path_" + std::to_string(++entries_) + "::";
        settings.SetValue(node + "ServerPath", serverPath);
        settings.SetValue(node + key, value);
        settings.SetValue(node + "Options::EnableIndex", "1");
    }
    void Option(const std::string& name, const std::string& value)
    {
        settings.SetValue("Setting::Path::Path_0::Options::" + name, value);
    }
    void Start() { StartCore(); }

    // Native (UTF-8) paths in the served folder.
    std::string Native(const std::string& relativeUtf8) const { return served_.Path() + relativeUtf8; }

    void MakeFile(const std::string& relativeUtf8, int64_t size = 0, int64_t time = kTime)
    {
        PutFileAt(Native(relativeUtf8), std::string(static_cast<std::size_t>(size < 4096 ? size : 0), 'x'));
        if (size >= 4096)
            fs::resize_file(Native(relativeUtf8), static_cast<std::uintmax_t>(size));  // sparse
        Touch(relativeUtf8, time);
    }
    void MakeDir(const std::string& relativeUtf8, int64_t time = kTime)
    {
        fs::create_directories(Native(relativeUtf8));
        Touch(relativeUtf8, time);
    }
    void Touch(const std::string& relativeUtf8, int64_t time)
    {
        const timespec times[2] = {{time, 0}, {time, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, Native(relativeUtf8).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    static void PutFileAt(const std::string& native, const std::string& bytes)
    {
        fs::create_directories(fs::path(native).parent_path());
        testsupport::PutFile(native, bytes);
    }

    // A request as the connection parses it; `url` is sent as given.
    CHttpRequest Request(const std::string& method, const std::string& url)
    {
        record_ = &NewRecord();
        return record_->ParseRequest(method + " " + url + " HTTP/1.1\r\nHost: test\r\n\r\n");
    }
    static std::string UrlOf(const std::string& object, const std::string& query)
    {
        return EscapeUrlAll(object) + (query.empty() ? "" : "?" + query);
    }

    struct Answer {
        int code = 0;
        bool replacedByConstructor = false;
        std::string info;  // a status page's reason
        int64_t length = -1;
        std::string body;
        std::string contentType;
    };

    // Constructs and builds the response as the driver does and drains it; a replacement
    // named by the constructor takes its place.
    Answer Serve(const std::string& method, const std::string& object, const std::string& query = "")
    {
        const CHttpRequest request = Request(method, UrlOf(object, query));
        const CRequestPath& path = NewPath(request.GetObject());
        Answer answer;
        std::unique_ptr<CResponse> response = std::make_unique<CDirectoryResponse>(core.get(), *record_, path);
        if (std::unique_ptr<CResponse> replacement = response->TakeReplacement()) {
            answer.replacedByConstructor = true;
            answer.info = dynamic_cast<CSystemResponse&>(*replacement).GetInfo();
            response = std::move(replacement);
        }
        response->Build();
        const CConfigAccessor info = response->GetResponseInfo();
        answer.code = info.GetInt("ResponseCode", 0);
        answer.contentType = info.GetString("Options::Content-Type", "");
        answer.length = response->GetContentLength();
        CByteBuffer buffer(32768);
        for (int n; (n = response->GetSendData(buffer)) > 0;)
            answer.body.append(buffer.GetData(), static_cast<std::size_t>(n));
        return answer;
    }

    // The page of a listing that must succeed.
    std::string Page(const std::string& object, const std::string& query = "")
    {
        const Answer answer = Serve("GET", object, query);
        EXPECT_EQ(answer.code, 200) << object << "?" << query << ": " << answer.info;
        EXPECT_FALSE(answer.replacedByConstructor);
        return answer.body;
    }

    // The listing lines of a page from the built-in template, without their line feeds.
    static std::vector<std::string> Lines(const std::string& page)
    {
        std::vector<std::string> lines;
        const std::string::size_type start = page.find(kListStart);
        const std::string::size_type end = page.find("</pre>");
        if (start == std::string::npos || end == std::string::npos) {
            ADD_FAILURE() << "no listing in " << page;
            return lines;
        }
        std::string::size_type at = start + sizeof kListStart - 1;
        while (at < end) {
            const std::string::size_type feed = page.find('\n', at);
            EXPECT_LT(feed, end) << "a listing line without its line feed";
            lines.push_back(page.substr(at, feed - at));
            at = feed + 1;
        }
        return lines;
    }

    // The link targets of the listing lines, in page order.
    static std::vector<std::string> Links(const std::string& page)
    {
        std::vector<std::string> links;
        static const std::regex link("<A HREF=\"([^\"]*)\">");
        for (std::sregex_iterator it(page.begin(), page.end(), link), end; it != end; ++it)
            links.push_back((*it)[1]);
        return links;
    }

    // Entry names in the order the file system gives them.
    std::vector<std::string> FileSystemOrder(const std::string& folderCp932, bool directories)
    {
        std::vector<std::string> names;
        platform::DirectorySearch search(served_.Path() + folderCp932 + "*.*");
        platform::DirectoryEntry entry;
        while (search.Next(entry)) {
            if (entry.name != "." && entry.name != ".." &&
                (entry.status.kind == platform::PathKind::Directory) == directories)
                names.push_back(directories ? EscapeUrl(entry.name) + "/" : EscapeUrl(entry.name));
        }
        return names;
    }

    // Where the server takes a link of the page listing `folderObject`: the local path of
    // the request a browser sends for it, percent-escaping (as UTF-8, the way browsers
    // write a path) what it may not send raw.
    std::string FollowLink(const std::string& folderObject, const std::string& href)
    {
        const std::string utf8 = platform::Cp932ToUtf8(HtmlUnescape(folderObject + href));
        std::string url;
        for (unsigned char c : utf8) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            url += c >= 0x80 || c <= 0x20 ? hex : std::string(1, static_cast<char>(c));
        }
        const CHttpRequest request = Request("GET", url);
        const CRequestPath path(request.GetObject(), "", core->GetSettingAccessor());
        platform::FileStatus status;
        EXPECT_TRUE(platform::GetFileStatus(path.GetLocalPath(), status)) << url;
        return path.GetLocalPath();
    }
    static std::string HtmlUnescape(std::string text)
    {
        const std::pair<const char*, const char*> references[] = {
            {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
        for (const auto& [reference, character] : references) {
            for (std::string::size_type at; (at = text.find(reference)) != std::string::npos;)
                text.replace(at, std::strlen(reference), character);
        }
        return text;
    }

    servertest::TempFolder served_;
    servertest::TempFolder html_;
    CRequestRecord* record_ = nullptr;
    int entries_ = 0;
};

TEST_F(DirectoryResponseTest, RootListsFoldersThenFilesInFileSystemOrderWithoutParent)
{
    Start();
    MakeDir("zeta");
    MakeDir("alpha");
    MakeFile("m.txt", 3);
    MakeFile("b.txt", 1);
    MakeFile("x.bin", 2);

    const Answer answer = Serve("GET", "/");
    EXPECT_EQ(answer.code, 200);
    EXPECT_EQ(answer.contentType, "text/html");
    EXPECT_EQ(answer.length, static_cast<int64_t>(answer.body.size()));

    std::vector<std::string> expected = FileSystemOrder("", true);
    for (const std::string& file : FileSystemOrder("", false))
        expected.push_back(file);
    EXPECT_EQ(Links(answer.body), expected);
    EXPECT_EQ(Lines(answer.body).size(), 5u);
    EXPECT_EQ(answer.body.find("Parent Directory"), std::string::npos);
}

TEST_F(DirectoryResponseTest, EachKindOfLineHasItsColumns)
{
    AddEntry("/sub/pe/");
    Start();
    MakeFile("sub/f.txt", 5, kTime + 60);
    MakeFile("sub/g.bin", 10240, kTime);
    MakeDir("sub/d", kTime + 120);

    const std::vector<std::string> lines = Lines(Page("/sub/"));
    const std::vector<std::string> expected = {
        std::string("<IMG SRC=\"") + kBackIcon + "\"> <A HREF=\"../\">" + Pad("Parent Directory</A>") + " -" +
            std::string(24, ' ') + "-  ",
        std::string("<IMG SRC=\"") + kFolderIcon + "\"> <A HREF=\"d/\">" + Pad("d/</A>") + LocalTime(kTime + 120) +
            "       -  ",
        std::string("<IMG SRC=\"") + kLinkIcon + "\"> <A HREF=\"pe/\">" + Pad("pe/</A>") + " -" +
            std::string(24, ' ') + "-  ",
    };
    ASSERT_EQ(lines.size(), 5u);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << "line " << i;
    const std::string fileLines[] = {
        std::string("<IMG SRC=\"") + kTextIcon + "\"> <A HREF=\"f.txt\">" + Pad("f.txt</A>") + LocalTime(kTime + 60) +
            "      5  ",
        std::string("<IMG SRC=\"") + kOtherIcon + "\"> <A HREF=\"g.bin\">" + Pad("g.bin</A>") + LocalTime(kTime) +
            "      10K  ",
    };
    // The two files come in file-system order.
    EXPECT_TRUE((lines[3] == fileLines[0] && lines[4] == fileLines[1]) ||
                (lines[3] == fileLines[1] && lines[4] == fileLines[0]))
        << lines[3] << "\n" << lines[4];
}

TEST_F(DirectoryResponseTest, SizeColumnChangesUnitAtItsBoundaries)
{
    Start();
    const struct {
        const char* name;
        int64_t size;
        const char* shown;
    } cases[] = {
        {"empty", 0, "0"},
        {"just below the kilobyte unit", 10239, "10239"},
        {"kilobyte unit", 10240, "10K"},
        {"truncated kilobytes", 10240 + 1023, "10K"},
        {"just below the megabyte unit", 10485759, "10239K"},
        {"megabyte unit", 10485760, "10M"},
        {"beyond 32 bits", 0x140000000LL, "5120M"},
    };
    for (const auto& c : cases)
        MakeFile(std::string("sizes/") + c.name, c.size);
    const std::string page = Page("/sizes/");
    for (const auto& c : cases) {
        const std::string escaped = EscapeUrl(c.name);
        const std::string tail = LocalTime(kTime) + "      " + c.shown + "  \n";
        const std::string::size_type line = page.find("<A HREF=\"" + escaped + "\">");
        ASSERT_NE(line, std::string::npos) << c.name;
        EXPECT_EQ(page.compare(page.find('\n', line) + 1 - tail.size(), tail.size(), tail), 0) << c.name;
    }
}

TEST_F(DirectoryResponseTest, TimesAreLocalOnBothSidesOfAnOffsetChange)
{
    Start();
    constexpr int64_t kSpringCet = 1616893200;   // 2021-03-28 01:00:00 UTC, CET to CEST
    constexpr int64_t kAutumnCet = 1635642000;   // 2021-10-31 01:00:00 UTC, CEST to CET
    constexpr int64_t kHalfHourOn = 1633188600;  // 2021-10-02 15:30:00 UTC, +10:30 to +11
    const struct {
        const char* description;
        const char* zone;
        int64_t change;
    } zones[] = {
        {"an hour forward", "CET-1CEST,M3.5.0,M10.5.0/3", kSpringCet},
        {"an hour back: local times repeat", "CET-1CEST,M3.5.0,M10.5.0/3", kAutumnCet},
        {"half an hour, off the UTC hour", "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", kHalfHourOn},
        {"a zone that counts leap seconds", "right/Europe/Berlin", kSpringCet},
    };
    // Seconds from the change, in listing order (the files' sizes grow in this order): a
    // time on each side within an hour, then times between them.
    const int64_t around[] = {-3599, 3599, -1800, 1799, 0, -1, 1, -61, 59};
    for (const auto& zone : zones) {
        const testsupport::ScopedTimeZone setting(zone.zone);
        fs::remove_all(Native("tz"));
        for (std::size_t i = 0; i < std::size(around); ++i)
            MakeFile("tz/t" + std::to_string(around[i]), static_cast<int64_t>(i), zone.change + around[i]);
        const std::string page = Page("/tz/", "size");
        for (std::size_t i = 0; i < std::size(around); ++i) {
            const int64_t delta = around[i];
            const std::string name = "t" + std::to_string(delta);
            const std::string::size_type line = page.find("<A HREF=\"" + name + "\">");
            ASSERT_NE(line, std::string::npos) << zone.description << ": " << name;
            const std::string::size_type end = page.find('\n', line);
            const std::string tail = LocalTime(zone.change + delta) + "      " + std::to_string(i) + "  ";
            EXPECT_EQ(page.substr(end - tail.size(), tail.size()), tail) << zone.description << ": " << name;
        }
    }
}

TEST_F(DirectoryResponseTest, NameQuerySortsFoldersAndFilesUpperCaseFirst)
{
    Start();
    for (const char* name : {"b", "B", "a", "A"}) {
        MakeDir(std::string("sub/dir_") + name);
        MakeFile(std::string("sub/") + name + ".txt");
    }
    const std::vector<std::string> links = Links(Page("/sub/", "name"));
    EXPECT_EQ(links, (std::vector<std::string>{"../", "dir_A/", "dir_B/", "dir_a/", "dir_b/", "A.txt", "B.txt",
                                                "a.txt", "b.txt"}));
}

TEST_F(DirectoryResponseTest, SizeAndModifiedQueriesSortAscending)
{
    Start();
    MakeFile("s/big", 300, kTime + 1);
    MakeFile("s/small", 100, kTime + 3);
    MakeFile("s/mid", 200, kTime + 2);
    MakeFile("s/old", 250, kTime - 100);
    MakeDir("s/d_new", kTime + 50);
    MakeDir("s/d_old", kTime - 50);

    std::vector<std::string> bySize = Links(Page("/s/", "size"));
    // Folders have no size: they stay in file-system order.
    const std::vector<std::string> folders = FileSystemOrder("s/", true);
    EXPECT_EQ(std::vector<std::string>(bySize.begin() + 1, bySize.begin() + 3), folders);
    EXPECT_EQ(std::vector<std::string>(bySize.begin() + 3, bySize.end()),
              (std::vector<std::string>{"small", "mid", "old", "big"}));

    EXPECT_EQ(Links(Page("/s/", "modified")),
              (std::vector<std::string>{"../", "d_old/", "d_new/", "old", "big", "mid", "small"}));
}

TEST_F(DirectoryResponseTest, OnlyTheExactQueryWordSorts)
{
    Start();
    for (const char* name : {"c", "a", "B", "b", "e", "D", "f", "A"})
        MakeFile(std::string("q/") + name);
    const std::vector<std::string> unsorted = Links(Page("/q/"));
    const std::vector<std::string> sorted = {"../", "A", "B", "D", "a", "b", "c", "e", "f"};
    ASSERT_NE(unsorted, sorted) << "the file system happens to list by name; the test cannot tell";

    const struct {
        const char* query;
        bool sorts;
    } cases[] = {
        {"name", true}, {"Name", false}, {"NAME", false}, {"name&x", false}, {"name%20", false},
        {"%6eame" /* the raw query is compared, not the decoded one */, false},
        {"size", false} /* equal sizes keep file-system order */, {"Size", false}, {"names", false}, {"x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Links(Page("/q/", c.query)), c.sorts ? sorted : unsorted) << c.query;
}

TEST_F(DirectoryResponseTest, HiddenEntriesAreListedOnlyWithEnableHiddenFile)
{
    MakeFile(".secret");
    MakeDir(".cache");
    MakeFile("shown.txt");
    for (const char* enabled : {"0", "1"}) {
        Option("EnableHiddenFile", enabled);
        Start();
        const std::vector<std::string> links = Links(Page("/", "name"));
        if (enabled[0] == '0')
            EXPECT_EQ(links, (std::vector<std::string>{"shown.txt"}));
        else
            EXPECT_EQ(links, (std::vector<std::string>{".cache/", ".secret", "shown.txt"}));
        core.reset();
    }
}

TEST_F(DirectoryResponseTest, PathEntriesOneLevelBelowAreListed)
{
    AddEntry("/docs/");
    AddEntry("/a/b/");
    AddEntry("/Z/");
    AddEntry("/fw/", "Forward", "http://elsewhere.test/");
    Start();
    MakeDir("a");
    MakeDir("A");

    // "/a/b/" lies two levels below the root; a forward entry is a path entry too.
    EXPECT_EQ(Links(Page("/", "name")), (std::vector<std::string>{"A/", "a/", "Z/", "docs/", "fw/"}));
    EXPECT_EQ(Links(Page("/a/")), (std::vector<std::string>{"../", "b/"}));
    // The URL prefix is compared without regard to case.
    EXPECT_EQ(Links(Page("/A/")), (std::vector<std::string>{"../", "b/"}));
}

TEST_F(DirectoryResponseTest, BuiltInPageIsFilledWithTheRequestAndTheListing)
{
    Start();
    MakeFile("sub/a.txt");
    const std::string signature = core->GetInfoAccessor().GetString("ServerSignature", "");
    ASSERT_NE(signature, "");
    const std::string expected =
        "<html>\r\n"
        "\t<head>\r\n"
        "\t\t<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
        "\t\t<title>Index of /sub/</title>\r\n"
        "\t</head>\r\n"
        "\t<body bgcolor='#FFFFFF'>\r\n"
        "\t\t<font color='#0066aa'>\r\n"
        "\t\t\t<h1>Index of /sub/</h1>\r\n"
        "\t\t</font><font color='#003366'>\r\n"
        "\t\t\t<!-- 以下　ディレクトリリスト -->\r\n"
        "\t\t\t<pre><IMG SRC=\"/icons/blank.gif\" ALT=\"     \"> <a href=\"/sub/?name\">Name</a>" +
        std::string(62, ' ') + "<a href=\"/sub/?modified\">Last modified</a>" + std::string(12, ' ') +
        "<a href=\"/sub/?size\">Size</a>\r\n"
        "<hr>\r\n"
        "<IMG SRC=\"/icons/back.gif\"> <A HREF=\"../\">Parent Directory</A>" +
        std::string(50, ' ') + " -" + std::string(24, ' ') + "-  \n" +
        "<IMG SRC=\"/icons/text.gif\"> <A HREF=\"a.txt\">a.txt</A>" + std::string(61, ' ') + LocalTime(kTime) +
        "      0  \n"
        "</pre>\r\n"
        "\t\t\t<hr>\r\n"
        "\t\t\t<!-- ここまで -->\r\n"
        "\t\t\t<address>" +
        signature +
        "</address>\r\n"
        "\t\t</font>\r\n"
        "\t</body>\r\n"
        "</html>\r\n";
    EXPECT_EQ(Page("/sub/"), expected);
}

TEST_F(DirectoryResponseTest, TemplateComesFromTheFolderThenTheHtmlDirectoryThenTheProgram)
{
    Start();
    MakeFile("sub/a.txt");
    const struct {
        const char* description;
        const char* folderTemplate;  // name in the listed folder, or nullptr
        const char* htmlTemplate;    // name in the HTML directory, or nullptr
        std::string used;            // the page's first bytes
    } cases[] = {
        {"neither: the program's page", nullptr, nullptr, "<html>"},
        {"the HTML directory's", nullptr, "DirectoryList.html", "html:"},
        {"the HTML directory's, name in another case", nullptr, "directorylist.HTML", "html:"},
        {"the folder's before the HTML directory's", "DirectoryList.html", "DirectoryList.html", "folder:"},
        {"the folder's, name in another case", "directorylist.html", "DirectoryList.html", "folder:"},
        {"the folder's alone, name in capitals", "DIRECTORYLIST.HTML", nullptr, "folder:"},
    };
    for (const auto& c : cases) {
        std::vector<fs::path> stale;
        for (const auto& entry : fs::directory_iterator(html_.Path()))
            stale.push_back(entry.path());
        for (const auto& entry : fs::directory_iterator(Native("sub"))) {
            if (entry.path().filename() != "a.txt")
                stale.push_back(entry.path());
        }
        for (const fs::path& file : stale)
            fs::remove(file);
        if (c.folderTemplate)
            PutFileAt(Native("sub/") + c.folderTemplate, "folder:%Object%|%FileList%");
        if (c.htmlTemplate)
            PutFileAt(html_.Path() + c.htmlTemplate, "html:%Object%|%FileList%");

        const std::string page = Page("/sub/");
        EXPECT_EQ(page.substr(0, c.used.size()), c.used) << c.description;
        if (c.used != "<html>") {
            EXPECT_EQ(page.substr(c.used.size(), 6), "/sub/|") << c.description;
        }
        // A template in the folder, in whatever case, is never listed.
        EXPECT_EQ(Links(page), (std::vector<std::string>{"../", "a.txt"})) << c.description;
    }
}

TEST_F(DirectoryResponseTest, TemplateThatIsNoRegularFileIsPassedOver)
{
    Start();
    MakeDir("sub");
    PutFileAt(html_.Path() + "DirectoryList.html", "html:%FileList%");
    // A folder of the template's name, and a FIFO of that name in any case, which would
    // hold a reader until some writer came.
    fs::create_directories(Native("sub/DirectoryList.html"));
    ASSERT_EQ(::mkfifo(Native("sub/directorylist.html").c_str(), 0600), 0);

    std::atomic<bool> done{false};
    std::atomic<bool> rescued{false};
    std::thread guard([&] {
        if (servertest::WaitUntil([&] { return done.load(); }))
            return;
        // Lets a blocked reader go, so that the test fails instead of hanging.
        rescued = true;
        const int fd = ::open(Native("sub/directorylist.html").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    });
    const std::string page = Page("/sub/");
    done = true;
    guard.join();
    EXPECT_FALSE(rescued);
    EXPECT_EQ(page.substr(0, 5), "html:");
}

TEST_F(DirectoryResponseTest, IndexSwitchedOffIs403FromTheConstructor)
{
    Option("EnableIndex", "0");
    Start();
    MakeDir("sub");
    for (const char* method : {"GET", "HEAD"}) {
        const Answer answer = Serve(method, "/sub/");
        EXPECT_TRUE(answer.replacedByConstructor) << method;
        EXPECT_EQ(answer.code, 403) << method;
        EXPECT_EQ(answer.info, "インデックス表示は許可されていません") << method;
    }
    // Checked before the folder's existence.
    EXPECT_EQ(Serve("GET", "/missing/").code, 403);
}

TEST_F(DirectoryResponseTest, MissingFolderIs404BeforeTheMethodIsChecked)
{
    AddEntry("/fw/", "Forward", "http://elsewhere.test/");
    Start();
    const struct {
        const char* description;
        const char* method;
        const char* object;
    } cases[] = {
        {"no such folder", "GET", "/missing/"},
        {"no such folder, other method", "HEAD", "/missing/"},
        {"a forward entry has no local folder", "GET", "/fw/"},
    };
    for (const auto& c : cases) {
        const Answer answer = Serve(c.method, c.object);
        EXPECT_TRUE(answer.replacedByConstructor) << c.description;
        EXPECT_EQ(answer.code, 404) << c.description;
        EXPECT_EQ(answer.info, "指定されたディレクトリは存在しません") << c.description;
    }
}

TEST_F(DirectoryResponseTest, MethodsOtherThanGetAre405)
{
    Start();
    MakeDir("sub");
    for (const char* method : {"HEAD", "POST", "get", "PROPFIND"}) {
        const Answer answer = Serve(method, "/sub/");
        EXPECT_TRUE(answer.replacedByConstructor) << method;
        EXPECT_EQ(answer.code, 405) << method;
        EXPECT_EQ(answer.info, "対応していないメソッドです") << method;
    }
}

TEST_F(DirectoryResponseTest, PageIsSentOnceAndOnlyAfterBuild)
{
    Start();
    MakeDir("sub");
    const CHttpRequest request = Request("GET", "/sub/");
    const CRequestPath& path = NewPath(request.GetObject());
    CDirectoryResponse response(core.get(), *record_, path);
    CByteBuffer buffer(16);
    EXPECT_EQ(response.GetContentLength(), 0);
    try {
        response.GetSendData(buffer);
        ADD_FAILURE() << "an empty page was sent";
    } catch (const CServerFatalException& e) {
        EXPECT_EQ(e.message, "HTMLデータのロードに失敗しました、システムエラーです");
    }

    response.Build();
    const int64_t length = response.GetContentLength();
    EXPECT_GT(length, 0);
    EXPECT_EQ(response.GetSendData(buffer), length);
    EXPECT_EQ(buffer.GetLength(), length);
    EXPECT_EQ(response.GetSendData(buffer), 0);
}

TEST_F(DirectoryResponseTest, JapaneseNamesAreListedAndTheirLinksLeadBack)
{
    Start();
    // "表" and "ソ" carry 0x5C as their second byte in Shift-JIS.
    MakeFile(u8"日本/表示資料.txt", 7);
    MakeDir(u8"日本/ソフト");

    const std::string folder = "/日本/";
    const std::string page = Page(folder);
    EXPECT_NE(page.find("<title>Index of /日本/</title>"), std::string::npos);
    EXPECT_NE(page.find(std::string(">") + Pad("ソフト/</A>")), std::string::npos);
    EXPECT_NE(page.find(std::string(">") + Pad("表示資料.txt</A>")), std::string::npos);

    const std::vector<std::string> links = Links(page);
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[1], "ソフト/");
    EXPECT_EQ(links[2], "表示資料.txt");
    EXPECT_EQ(FollowLink(folder, links[1]), served_.Path() + "日本/ソフト/");
    EXPECT_EQ(FollowLink(folder, links[2]), served_.Path() + "日本/表示資料.txt");
    // A client that sends the page's own Shift-JIS bytes, escaped, reaches it too.
    const CHttpRequest request = Request("GET", EscapeUrlAll(folder + links[2]));
    EXPECT_EQ(CRequestPath(request.GetObject(), "", core->GetSettingAccessor()).GetLocalPath(),
              served_.Path() + "日本/表示資料.txt");
}

TEST_F(DirectoryResponseTest, MarkupInNamesShowsAsTextAndTheLinkLeadsBack)
{
    Start();
    const std::string script = "<img src=x onerror=alert(1)>.txt";
    MakeFile("m/" + script, 4);
    MakeDir("m/a\"b'c&d");
    MakeFile("m/%Object% %FileList%.txt");

    const std::string page = Page("/m/");
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("b'c"), std::string::npos);
    // Labels show the names; they are padded as the names show, so the columns line up.
    const std::string shown = "&lt;img src=x onerror=alert(1)&gt;.txt</A>";
    EXPECT_NE(page.find(std::string("\"") + kTextIcon + "\"> <A HREF=\"%3cimg%20src=x%20onerror=alert(1)%3e.txt\">" +
                        shown + std::string(70 - (script.size() + 4), ' ') + LocalTime(kTime) + "      4  \n"),
              std::string::npos);
    EXPECT_NE(page.find(">a&quot;b&#39;c&amp;d/</A>"), std::string::npos);
    // Names are never taken for placeholders.
    EXPECT_NE(page.find(">%Object% %FileList%.txt</A>"), std::string::npos);

    const std::vector<std::string> links = Links(page);
    ASSERT_EQ(links.size(), 4u);
    for (std::size_t i = 1; i < links.size(); ++i) {
        const std::string local = FollowLink("/m/", links[i]);
        const std::string name = local.substr(served_.Path().size() + 2);
        EXPECT_TRUE(name == script || name == "a\"b'c&d/" || name == "%Object% %FileList%.txt") << local;
    }
}

TEST_F(DirectoryResponseTest, FolderNameIsEscapedInTitleAndLinks)
{
    Start();
    MakeDir("x?y#z%<b>");
    const std::string object = "/x?y#z%<b>/";
    const std::string page = Page(object);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("<title>Index of /x%3fy%23z%25%3cb%3e/</title>"), std::string::npos);
    const std::string sortLink = "/x%3fy%23z%25%3cb%3e/?size";
    EXPECT_NE(page.find("<a href=\"" + sortLink + "\">Size</a>"), std::string::npos);

    // The sort link reaches the folder, with the sort word as its query.
    const CHttpRequest request = Request("GET", sortLink);
    EXPECT_EQ(request.GetObject(), object);
    EXPECT_EQ(request.GetQuery(), "size");
}

TEST_F(DirectoryResponseTest, LongEscapedNamesAreListedWhole)
{
    Start();
    // Each '&' takes five bytes in the label and five in the link: the line runs past
    // two kilobytes and must still close its link.
    const std::string name = std::string(200, '&') + ".txt";
    MakeFile("long/" + name, 9);
    std::string entity;
    for (int i = 0; i < 200; ++i)
        entity += "&amp;";
    const std::vector<std::string> lines = Lines(Page("/long/"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_GT(lines[1].size(), 2047u);
    EXPECT_EQ(lines[1], std::string("<IMG SRC=\"") + kTextIcon + "\"> <A HREF=\"" + entity + ".txt\">" + entity +
                            ".txt</A>" + LocalTime(kTime) + "      9  ");
}

}  // namespace
