#include "responses/DavPropfindResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "responses/FileResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"
#include "HttpDate.h"
#include "UrlCoding.h"

#include "XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Resource = CDAVPropfindResponse::Resource;

constexpr int64_t kFileTime = 1056964608;  // 0x3f000000
const char kFileDate[] = "Mon, 30 Jun 2003 09:16:48 GMT";
const char kContentType[] = "text/xml; charset=\"utf-8\"";

const char* const kPropertyOrder[] = {"creationdate",    "displayname",  "getcontentlength",
                                      "getcontenttype",  "getetag",      "getlastmodified",
                                      "resourcetype",    "iscollection", "ishidden"};

// --- the document and its texts, without files -------------------------------------------

TEST(DavPropfindDocument, SmallDocumentIsWrittenByteForByte)
{
    Resource folder;
    folder.href = "/d/";
    folder.collection = true;
    folder.displayName = ".";
    folder.length = 4096;  // a folder's size is never told
    folder.created = kFileTime;
    folder.modified = kFileTime;
    folder.contentType = "application/octet-stream";
    Resource file;
    file.href = "/d/a&b.txt";
    file.displayName = "a&b.txt";
    file.length = 5;
    file.created = 0;
    file.modified = kFileTime;
    file.contentType = "text/plain";
    file.etag = "\"5-3f000000:1234\"";
    EXPECT_EQ(CDAVPropfindResponse::MakeDocument({folder, file}),
              "<?xml version=\"1.0\"?>\n"
              "<D:multistatus xmlns:D=\"DAV:\">"
              "<D:response><D:href>/d/</D:href><D:propstat><D:status>HTTP/1.1 200 OK</D:status><D:prop>"
              "<D:creationdate>2003-06-30T09:16:48Z</D:creationdate><D:displayname>.</D:displayname>"
              "<D:getcontentlength>0</D:getcontentlength>"
              "<D:getcontenttype>application/octet-stream</D:getcontenttype><D:getetag/>"
              "<D:getlastmodified>Mon, 30 Jun 2003 09:16:48 GMT</D:getlastmodified>"
              "<D:resourcetype><D:collection/></D:resourcetype>"
              "<D:iscollection>1</D:iscollection><D:ishidden>0</D:ishidden>"
              "</D:prop></D:propstat></D:response>"
              "<D:response><D:href>/d/a&amp;b.txt</D:href><D:propstat><D:status>HTTP/1.1 200 OK</D:status>"
              "<D:prop><D:creationdate>1970-01-01T00:00:00Z</D:creationdate>"
              "<D:displayname>a&amp;b.txt</D:displayname><D:getcontentlength>5</D:getcontentlength>"
              "<D:getcontenttype>text/plain</D:getcontenttype><D:getetag>\"5-3f000000:1234\"</D:getetag>"
              "<D:getlastmodified>Mon, 30 Jun 2003 09:16:48 GMT</D:getlastmodified><D:resourcetype/>"
              "<D:iscollection>0</D:iscollection><D:ishidden>0</D:ishidden>"
              "</D:prop></D:propstat></D:response></D:multistatus>\n");
}

TEST(DavPropfindDocument, NoResourcesGiveAnEmptyMultistatus)
{
    EXPECT_EQ(CDAVPropfindResponse::MakeDocument({}),
              "<?xml version=\"1.0\"?>\n<D:multistatus xmlns:D=\"DAV:\"/>\n");
}

TEST(DavPropfindDocument, HrefsAreEscapedUtf8ThatIsNeverCutShort)
{
    const struct {
        const char* description;
        std::string href;
        std::string escaped;
    } cases[] = {
        {"plain", "/docs/a.txt", "/docs/a.txt"},
        {"characters a URL must escape", "/a b#%?:\"<>|*\\'", "/a%20b%23%25%3f%3a%22%3c%3e%7c%2a%5c%27"},
        {"kanji with a 0x5C trail byte", "/表.txt", "/%e8%a1%a8.txt"},
        {"half-width katakana stays half-width", "/\xB1", "/%ef%bd%b1"},
        {"an unmappable byte is replaced, the rest kept", "/a\x80z/b", "/a%ef%bf%bdz/b"},
        {"a lead byte without its trail", "/a\x81", "/a%ef%bf%bd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CDAVPropfindResponse::EscapeHref(c.href), c.escaped) << c.description;
}

TEST(DavPropfindDocument, CreationDateIsUtcInTheIsoForm)
{
    const struct {
        int64_t time;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {-1, "1969-12-31T23:59:59Z"},
        {kFileTime, "2003-06-30T09:16:48Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
        {INT64_MAX, ""},
        {INT64_MIN, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CDAVPropfindResponse::FormatCreationDate(c.time), c.text) << c.time;
}

// --- the response over a server core ---------------------------------------------------

// The served folder, below the server root; the path entry maps "/" to it.
const char kFolder[] = "DavPropfind/";

// One D:response as a client reads it.
struct Listed {
    std::string href;
    std::string status;
    std::vector<std::string> order;  // local names of D:prop's children
    std::map<std::string, std::string> props;
    bool collectionType = false;  // D:resourcetype holds D:collection
    std::string Prop(const std::string& name) const
    {
        const auto found = props.find(name);
        return found == props.end() ? "<none>" : found->second;
    }
};

std::vector<platform::XmlNode> ElementChildren(const platform::XmlNode& node)
{
    std::vector<platform::XmlNode> elements;
    for (const platform::XmlNode& child : node.Children()) {
        EXPECT_TRUE(child.IsElement()) << "only elements, no text between them, under " << node.Name();
        if (child.IsElement())
            elements.push_back(child);
    }
    return elements;
}

// Reads the document back with the XML parser, by namespace, whatever its prefixes.
std::vector<Listed> ReadMultistatus(const std::string& body)
{
    std::vector<Listed> listed;
    std::string error;
    const std::unique_ptr<platform::XmlDocument> doc = platform::XmlDocument::Parse(body, error);
    EXPECT_TRUE(doc) << error << "\n" << body;
    if (!doc)
        return listed;
    EXPECT_EQ(doc->ElementsByTagNameNS("DAV:", "multistatus").size(), 1u);
    for (const platform::XmlNode& response : doc->ElementsByTagNameNS("DAV:", "response")) {
        Listed item;
        const std::vector<platform::XmlNode> parts = ElementChildren(response);
        EXPECT_EQ(parts.size(), 2u);
        if (parts.size() != 2)
            continue;
        EXPECT_EQ(parts[0].Name(), "href");
        item.href = parts[0].Text();
        const std::vector<platform::XmlNode> propstat = ElementChildren(parts[1]);
        EXPECT_EQ(propstat.size(), 2u);
        if (propstat.size() != 2)
            continue;
        EXPECT_EQ(propstat[0].Name(), "status");
        item.status = propstat[0].Text();
        for (const platform::XmlNode& prop : ElementChildren(propstat[1])) {
            EXPECT_EQ(prop.NamespaceUri(), "DAV:");
            item.order.push_back(prop.Name());
            item.props[prop.Name()] = prop.Text();
            if (prop.Name() == "resourcetype") {
                for (const platform::XmlNode& type : ElementChildren(prop))
                    item.collectionType = item.collectionType ||
                                          (type.Name() == "collection" && type.NamespaceUri() == "DAV:");
            }
        }
        listed.push_back(item);
    }
    return listed;
}

std::vector<std::string> Hrefs(const std::vector<Listed>& listed)
{
    std::vector<std::string> hrefs;
    for (const Listed& item : listed)
        hrefs.push_back(item.href);
    return hrefs;
}

std::vector<std::string> Sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

class DavPropfindResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", servertest::ServerRoot() + kFolder);
        settings.SetValue("Setting::Path::Path_0::Options::EnableWebDAV", "1");
        settings.SetValue("Setting::Path::Path_1::ServerPath", "/fw/");
        settings.SetValue("Setting::Path::Path_1::Forward", "http://elsewhere.test/");
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        StartCore();
        fs::create_directories(Native(""));
        started_ = std::time(nullptr);
    }

    void TearDown() override
    {
        CoreFixture::TearDown();
        std::error_code ignored;
        fs::remove_all(Native(""), ignored);
    }

    // The file-system name in the served folder; `nameUtf8` as on disk.
    static std::string Native(const std::string& nameUtf8) { return servertest::ServerRoot() + kFolder + nameUtf8; }

    // A file in the served folder, last written at kFileTime.
    static void MakeFile(const std::string& nameUtf8, const std::string& bytes)
    {
        PutFile(kFolder + nameUtf8, bytes);
        const timespec times[2] = {{kFileTime, 0}, {kFileTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, Native(nameUtf8).c_str(), times, 0), 0);
    }

    static void MakeFolder(const std::string& nameUtf8) { fs::create_directories(Native(nameUtf8)); }

    struct Answer {
        int code = 0;
        bool isStatusPage = false;
        CConfigAccessor info;
        std::string body;
        std::vector<Listed> listed;
        std::string Header(const std::string& name) const { return info.GetString("Options::" + name, "<none>"); }
    };

    // "PROPFIND <target>" with `headers` (each ending in CR LF) and a request body, built
    // and sent as the pipeline does; `target` is sent as given.
    Answer Propfind(const std::string& target, const std::string& headers = "", const std::string& body = "")
    {
        CRequestRecord& record = NewRecord();
        const CHttpRequest& request =
            record.ParseRequest("PROPFIND " + target + " HTTP/1.1\r\nHost: test\r\n" + headers + "\r\n");
        const CRequestPath& path = NewPath(request.GetObject());
        std::unique_ptr<CResponse> response = std::make_unique<CDAVPropfindResponse>(core.get(), record, path, 0, CIPv4Address());
        Answer answer;
        std::unique_ptr<CResponse> replacement = response->TakeReplacement();
        if (!replacement) {
            response->BeginReceive();
            CByteBuffer chunk;
            chunk.AssignString(body);
            if (!body.empty())
                response->ReceiveData(chunk);
            if (hook_)
                hook_();
            response->Build();
            replacement = response->TakeReplacement();
        }
        if (replacement) {
            response = std::move(replacement);
            answer.isStatusPage = true;
            response->Build();
        }
        answer.info = response->GetResponseInfo();
        answer.code = answer.info.GetInt("ResponseCode", 0);
        const int64_t length = response->GetContentLength();
        CByteBuffer buffer(100);
        const int sent = response->GetSendData(buffer);
        answer.body.assign(buffer.GetData(), static_cast<std::size_t>(std::max(sent, 0)));
        if (!answer.isStatusPage) {
            EXPECT_EQ(sent, length) << "the whole body in one piece";
            EXPECT_EQ(response->GetContentLength(), 0) << "handed over";
            EXPECT_EQ(response->GetSendData(buffer), 0) << "sent once";
            EXPECT_EQ(buffer.GetLength(), 0);
            answer.listed = ReadMultistatus(answer.body);
        }
        return answer;
    }

    // Runs between construction and Build.
    void (*hook_)() = nullptr;
    std::time_t started_ = 0;
};

TEST_F(DavPropfindResponseTest, FolderWithoutSlashListsItselfAndItsEntries)
{
    MakeFile("docs/a.txt", "hello");
    MakeFolder("docs/sub");
    MakeFile("docs/sub/deeper.txt", "x");

    const Answer answer = Propfind("/docs");
    EXPECT_FALSE(answer.isStatusPage);
    EXPECT_EQ(answer.code, 207);
    EXPECT_EQ(answer.info.GetString("ResponseText", ""), "207 Multi-Status");
    EXPECT_EQ(answer.Header("Content-Type"), kContentType);
    EXPECT_EQ(answer.Header("DAV"), "1");
    EXPECT_EQ(answer.Header("Content-Location"), "/docs/");
    ASSERT_EQ(answer.listed.size(), 3u);
    EXPECT_EQ(answer.listed[0].href, "/docs/") << "the folder's own entry comes first";
    EXPECT_EQ(Sorted(Hrefs(answer.listed)), (std::vector<std::string>{"/docs/", "/docs/a.txt", "/docs/sub/"}));
    EXPECT_EQ(answer.body.rfind("<?xml version=\"1.0\"?>\n<D:multistatus xmlns:D=\"DAV:\"><D:response>", 0), 0u)
        << answer.body;
}

TEST_F(DavPropfindResponseTest, DepthDecidesHowFarTheListingGoes)
{
    MakeFile("docs/a.txt", "hello");
    MakeFolder("docs/sub");
    MakeFile("docs/sub/b.txt", "x");
    MakeFolder("docs/sub/deep");
    MakeFile("docs/sub/deep/c.txt", "x");
    const std::vector<std::string> own = {"/docs/"};
    const std::vector<std::string> direct = {"/docs/", "/docs/a.txt", "/docs/sub/"};
    const std::vector<std::string> all = {"/docs/",         "/docs/a.txt",      "/docs/sub/",
                                          "/docs/sub/b.txt", "/docs/sub/deep/", "/docs/sub/deep/c.txt"};
    const struct {
        const char* description;
        std::string headers;
        std::vector<std::string> hrefs;
    } cases[] = {
        {"0", "Depth: 0\r\n", own},
        {"0, header name in another case", "depth: 0\r\n", own},
        {"0 with white space after it", "Depth: 0 \r\n", own},
        {"1", "Depth: 1\r\n", direct},
        {"absent: 1", "", direct},
        {"infinity", "Depth: infinity\r\n", all},
        {"infinity, header name in capitals", "DEPTH: infinity\r\n", all},
        {"Infinity in another case: 1", "Depth: Infinity\r\n", direct},
        {"a number beyond 1: 1", "Depth: 2\r\n", direct},
        {"garbage: 1", "Depth: deep\r\n", direct},
    };
    for (const auto& c : cases) {
        const Answer answer = Propfind("/docs/", c.headers);
        EXPECT_EQ(answer.code, 207) << c.description;
        EXPECT_EQ(Sorted(Hrefs(answer.listed)), c.hrefs) << c.description;
        ASSERT_FALSE(answer.listed.empty()) << c.description;
        EXPECT_EQ(answer.listed[0].Prop("displayname"), ".") << c.description;
    }
}

TEST_F(DavPropfindResponseTest, DepthInfinityListsEachFoldersContentsRightAfterIt)
{
    for (const char* folder : {"t/a/x", "t/a/y", "t/b/z"})
        MakeFolder(folder);
    for (const char* file : {"t/1.txt", "t/a/2.txt", "t/a/x/3.txt", "t/b/z/4.txt"})
        MakeFile(file, "x");

    const std::vector<std::string> hrefs = Hrefs(Propfind("/t/", "Depth: infinity\r\n").listed);
    ASSERT_EQ(hrefs.size(), 10u);
    EXPECT_EQ(hrefs[0], "/t/");
    // Depth-first: the resources below a folder follow it without a gap.
    for (std::size_t i = 0; i < hrefs.size(); ++i) {
        if (hrefs[i].back() != '/')
            continue;
        std::size_t end = i + 1;
        while (end < hrefs.size() && hrefs[end].rfind(hrefs[i], 0) == 0)
            ++end;
        for (std::size_t j = end; j < hrefs.size(); ++j)
            EXPECT_NE(hrefs[j].rfind(hrefs[i], 0), 0u) << hrefs[j] << " is apart from " << hrefs[i];
    }
}

TEST_F(DavPropfindResponseTest, FileIsListedAloneWhateverTheDepth)
{
    MakeFile("docs/a.txt", "hello");
    MakeFile("docs/b.txt", "other");
    for (const std::string headers : {"", "Depth: 0\r\n", "Depth: 1\r\n", "Depth: infinity\r\n"}) {
        const Answer answer = Propfind("/docs/a.txt", headers);
        EXPECT_EQ(answer.code, 207) << headers;
        EXPECT_EQ(answer.Header("Content-Location"), "/docs/a.txt") << headers;
        ASSERT_EQ(answer.listed.size(), 1u) << headers;
        const Listed& file = answer.listed[0];
        EXPECT_EQ(file.href, "/docs/a.txt") << headers;
        EXPECT_EQ(file.status, "HTTP/1.1 200 OK");
        EXPECT_EQ(file.order, std::vector<std::string>(std::begin(kPropertyOrder), std::end(kPropertyOrder)));
        EXPECT_EQ(file.Prop("displayname"), "a.txt");
        EXPECT_EQ(file.Prop("getcontentlength"), "5");
        EXPECT_EQ(file.Prop("getcontenttype"), "text/plain");
        // RFC 4918 15.6: the tag GET sends.
        EXPECT_EQ(file.Prop("getetag"), CFileResponse::MakeETag(5, kFileTime, servertest::ServerRoot() + kFolder + "docs/a.txt"));
        EXPECT_EQ(file.Prop("getlastmodified"), kFileDate);
        EXPECT_EQ(file.Prop("resourcetype"), "");
        EXPECT_FALSE(file.collectionType);
        EXPECT_EQ(file.Prop("iscollection"), "0");
        EXPECT_EQ(file.Prop("ishidden"), "0");
    }
}

TEST_F(DavPropfindResponseTest, CreationDateIsTheBirthTimeOrElseTheLastWrite)
{
    MakeFile("a.txt", "hello");
    const Listed file = Propfind("/a.txt").listed.at(0);
    const std::string created = file.Prop("creationdate");
    ASSERT_TRUE(std::regex_match(created, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << created;
    if (created != "2003-06-30T09:16:48Z") {
        // Made by this test, after the core started.
        std::tm utc {};
        ASSERT_NE(::strptime(created.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc), nullptr);
        const std::time_t birth = ::timegm(&utc);
        EXPECT_GE(birth, started_ - 1) << created;
        EXPECT_LE(birth, std::time(nullptr) + 1) << created;
    }
}

TEST_F(DavPropfindResponseTest, FoldersCarryTheCollectionMarkers)
{
    MakeFolder("docs/sub");
    MakeFile("docs/sub/a.txt", "x");
    const std::vector<Listed> listed = Propfind("/docs/").listed;
    ASSERT_EQ(listed.size(), 2u);
    for (const Listed& folder : listed) {
        EXPECT_EQ(folder.order, std::vector<std::string>(std::begin(kPropertyOrder), std::end(kPropertyOrder)));
        EXPECT_TRUE(folder.collectionType) << folder.href << ": WebDAV clients tell folders by it";
        EXPECT_EQ(folder.Prop("iscollection"), "1") << folder.href;
        EXPECT_EQ(folder.Prop("ishidden"), "0") << folder.href;
        EXPECT_EQ(folder.Prop("getcontentlength"), "0") << folder.href;
        EXPECT_EQ(folder.Prop("getcontenttype"), "application/octet-stream") << folder.href;
        EXPECT_EQ(folder.Prop("getetag"), "") << folder.href;
        EXPECT_FALSE(folder.Prop("creationdate").empty()) << folder.href;
        EXPECT_EQ(folder.Prop("getlastmodified").size(), std::string(kFileDate).size()) << folder.href;
    }
    EXPECT_EQ(listed[0].Prop("displayname"), ".");
    EXPECT_EQ(listed[1].Prop("displayname"), "sub");
}

TEST_F(DavPropfindResponseTest, ServedRootHasNoDoubledSlash)
{
    MakeFile("a.txt", "x");
    const Answer answer = Propfind("/");
    EXPECT_EQ(answer.Header("Content-Location"), "/");
    EXPECT_EQ(Sorted(Hrefs(answer.listed)), (std::vector<std::string>{"/", "/a.txt"}));
}

TEST_F(DavPropfindResponseTest, JapaneseNamesAreEscapedUtf8InHrefsAndCharactersInNames)
{
    MakeFile(u8"日本/表示資料.txt", "x");
    MakeFile(u8"日本/ｱｲ.txt", "x");
    const Answer answer = Propfind(EscapeUrlAll("/日本/"));
    EXPECT_EQ(answer.code, 207);
    std::map<std::string, std::string> names;  // href -> displayname
    for (const Listed& item : answer.listed)
        names[item.href] = item.Prop("displayname");
    EXPECT_EQ(names, (std::map<std::string, std::string>{
                         {"/%e6%97%a5%e6%9c%ac/", "."},
                         {"/%e6%97%a5%e6%9c%ac/%e8%a1%a8%e7%a4%ba%e8%b3%87%e6%96%99.txt", u8"表示資料.txt"},
                         {"/%e6%97%a5%e6%9c%ac/%ef%bd%b1%ef%bd%b2.txt", u8"ｱｲ.txt"},
                     }));
    EXPECT_EQ(answer.Header("Content-Location"), "/%e6%97%a5%e6%9c%ac/");
    for (char c : answer.body)
        ASSERT_GE(static_cast<unsigned char>(c), 0x0A) << "text only";
}

TEST_F(DavPropfindResponseTest, EveryHrefLeadsBackToTheEntryItNames)
{
    const char* const names[] = {u8"a b.txt", u8"100%.txt", u8"#1.txt", u8"q?.txt", u8"<&>.txt", u8"表.txt",   u8"ｶﾞ.txt", u8"x+y.txt", u8"it's"};
    for (const char* name : names)
        MakeFile(std::string("r/") + name, name);
    MakeFolder(u8"r/sub dir");
    const std::vector<Listed> listed = Propfind("/r/", "Depth: infinity\r\n").listed;
    ASSERT_EQ(listed.size(), std::size(names) + 2);
    for (const Listed& item : listed) {
        // A client sends the href back as the request target.
        const Answer again = Propfind(item.href, "Depth: 0\r\n");
        EXPECT_EQ(again.code, 207) << item.href;
        ASSERT_EQ(again.listed.size(), 1u) << item.href;
        EXPECT_EQ(again.listed[0].href, item.href);
        if (item.Prop("iscollection") == "0") {
            EXPECT_EQ(again.listed[0].Prop("displayname"), item.Prop("displayname"));
            EXPECT_EQ(again.listed[0].Prop("getcontentlength"),
                      std::to_string(item.Prop("displayname").size()))
                << "the file of that name";
        }
    }
}

TEST_F(DavPropfindResponseTest, HiddenAndUnnameableEntriesAreNotListed)
{
    MakeFile("h/shown.txt", "x");
    MakeFile("h/.hidden", "x");
    MakeFile("h/.git/config", "x");
    MakeFile("h/sub/.also", "x");
    MakeFile("h/bell\x07.txt", "x");
    MakeFile("h/del\x7f.txt", "x");
    MakeFile("h/tab\t.txt", "x");
    // At depth infinity nothing below a hidden folder shows either.
    for (const std::string depth : {"1", "infinity"}) {
        const Answer answer = Propfind("/h/", "Depth: " + depth + "\r\n");
        EXPECT_EQ(Sorted(Hrefs(answer.listed)), (std::vector<std::string>{"/h/", "/h/shown.txt", "/h/sub/"}))
            << depth;
    }
}

TEST_F(DavPropfindResponseTest, LinksToFoldersAreListedAsFilesAndNeverEntered)
{
    const servertest::TempFolder outside;
    testsupport::PutFile(outside.Path() + "secret.txt", "secret");
    MakeFile("l/a.txt", "x");
    MakeFile("l/real/b.txt", "x");
    fs::create_directory_symlink(outside.Path(), Native("l/out"));
    fs::create_directory_symlink(Native("l"), Native("l/real/loop"));
    fs::create_symlink(Native("l/a.txt"), Native("l/alias.txt"));

    const Answer answer = Propfind("/l/", "Depth: infinity\r\n");
    EXPECT_EQ(Sorted(Hrefs(answer.listed)),
              (std::vector<std::string>{"/l/", "/l/a.txt", "/l/alias.txt", "/l/out", "/l/real/", "/l/real/b.txt",
                                        "/l/real/loop"}));
    for (const Listed& item : answer.listed) {
        if (item.href == "/l/out" || item.href == "/l/real/loop") {
            EXPECT_EQ(item.Prop("iscollection"), "0") << item.href;
            EXPECT_FALSE(item.collectionType) << item.href;
            EXPECT_EQ(item.Prop("getcontentlength"), "0") << item.href;
        }
        if (item.href == "/l/alias.txt") {
            EXPECT_EQ(item.Prop("getcontentlength"), "1") << "a link to a file is the file";
        }
    }
    EXPECT_EQ(answer.body.find("secret"), std::string::npos);
    // At depth 1 the link is a file as well.
    for (const Listed& item : Propfind("/l/").listed) {
        if (item.href == "/l/out") {
            EXPECT_EQ(item.Prop("iscollection"), "0");
        }
    }
}

TEST_F(DavPropfindResponseTest, MissingTargetsAnswer404)
{
    MakeFile("docs/a.txt", "x");
    for (const std::string target : {"/docs/missing.txt", "/missing/", "/missing", "/fw/anything"}) {
        const Answer answer = Propfind(target);
        EXPECT_TRUE(answer.isStatusPage) << target;
        EXPECT_EQ(answer.code, 404) << target;
        EXPECT_EQ(answer.body.find("multistatus"), std::string::npos) << target;
    }
}

TEST_F(DavPropfindResponseTest, RequestBodyChangesNothing)
{
    MakeFile("docs/a.txt", "hello");
    MakeFolder("docs/sub");
    const std::string none = Propfind("/docs/").body;
    const std::string bodies[] = {
        "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:getetag/></D:prop></D:propfind>",
        "<D:propfind xmlns:D=\"DAV:\"><D:propname/></D:propfind>",
        "not xml at all <<<",
        std::string("\0\xff\xfe", 3),
    };
    for (const std::string& body : bodies)
        EXPECT_EQ(Propfind("/docs/", "Content-Length: " + std::to_string(body.size()) + "\r\n", body).body, none);
}

TEST_F(DavPropfindResponseTest, FolderThatVanishesBeforeBuildIsStillTheTarget)
{
    MakeFile("gone/a.txt", "x");
    hook_ = [] { fs::remove_all(Native("gone")); };
    const Answer answer = Propfind("/gone/", "Depth: infinity\r\n");
    EXPECT_EQ(answer.code, 207);
    ASSERT_EQ(answer.listed.size(), 1u);
    const Listed& self = answer.listed[0];
    EXPECT_EQ(self.href, "/gone/");
    EXPECT_TRUE(self.collectionType);
    EXPECT_EQ(self.Prop("iscollection"), "1");
    EXPECT_EQ(self.Prop("ishidden"), "0");
    for (const char* empty : {"creationdate", "displayname", "getcontentlength", "getcontenttype", "getetag",
                              "getlastmodified"})
        EXPECT_EQ(self.Prop(empty), "") << empty;
}

}  // namespace
