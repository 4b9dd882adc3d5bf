#include "responses/FileResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"
#include "HttpDate.h"
#include "UrlCoding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Range = CFileResponse::ByteRange;

constexpr int64_t kFileTime = 1056964608;  // 0x3f000000
const char kFileDate[] = "Mon, 30 Jun 2003 09:16:48 GMT";
const char kOneSecondEarlier[] = "Mon, 30 Jun 2003 09:16:47 GMT";
const char kOneSecondLater[] = "Mon, 30 Jun 2003 09:16:49 GMT";

// --- pure decisions ----------------------------------------------------------------------

TEST(FileResponseETag, FormatsLengthTimeAndPathByteSum)
{
    const struct {
        const char* description;
        int64_t length;
        int64_t time;
        std::string path;
        std::string etag;
    } cases[] = {
        {"a Windows-style path", 1234, 1056964608, "D:\\www\\a.txt", "\"4d2-3f000000:1162\""},
        {"all zero", 0, 0, "", "\"0-0:0000\""},
        {"sum padded to four digits", 0, 0, "/a", "\"0-0:0144\""},
        {"sum beyond four digits is not cut", 1, 1, std::string(100, 'z'), "\"1-1:12200\""},
        {"length beyond 32 bits", 0x123456789aLL, 0x10, "/", "\"123456789a-10:0047\""},
        {"CP932 bytes count unsigned, trail 0x5C included", 2, 3, "\x95\x5C", "\"2-3:0241\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileResponse::MakeETag(c.length, c.time, c.path), c.etag) << c.description;
}

TEST(FileResponseConditions, IfModifiedSinceComparesWholeSeconds)
{
    const struct {
        const char* description;
        std::string header;
        int result;
    } cases[] = {
        {"absent", "", -1},
        {"the file's own date", kFileDate, 0},
        {"a second before the file", kOneSecondEarlier, 1},
        {"a second after the file", kOneSecondLater, 0},
        {"RFC 850 form of the file's date", "Monday, 30-Jun-03 09:16:48 GMT", 0},
        {"asctime form of the file's date", "Mon Jun 30 09:16:48 2003", 0},
        {"text that is no date", "yesterday", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileResponse::CheckModifiedSince(kFileTime, c.header), c.result) << c.description;
}

TEST(FileResponseConditions, IfNoneMatchKnowsOnlyTheWholeTag)
{
    const std::string tag = "\"4d2-3f000000:1162\"";
    const struct {
        const char* description;
        std::string header;
        int result;
    } cases[] = {
        {"absent", "", -1},
        {"the tag", tag, 0},
        {"the tag with white space around it", " " + tag + "\t", 0},
        {"another tag", "\"4d2-3f000001:1162\"", 1},
        {"the tag without quotes", "4d2-3f000000:1162", 1},
        {"the tag in upper case", "\"4D2-3F000000:1162\"", 1},
        {"weak form", "W/" + tag, 1},
        {"in a list", "\"x\", " + tag, 1},
        {"any tag", "*", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileResponse::CheckNoneMatch(tag, c.header), c.result) << c.description;
}

TEST(FileResponseConditions, NotModifiedOnlyWhenNoCheckSeesAChange)
{
    const struct {
        int modifiedSince;
        int noneMatch;
        bool notModified;
    } cases[] = {
        {-1, -1, false}, {-1, 0, true}, {-1, 1, false}, {0, -1, true}, {0, 0, true},
        {0, 1, false},   {1, -1, false}, {1, 0, false},  {1, 1, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileResponse::IsNotModified(c.modifiedSince, c.noneMatch), c.notModified)
            << "If-Modified-Since " << c.modifiedSince << ", If-None-Match " << c.noneMatch;
}

TEST(FileResponseRanges, ParsesOneRangeOfEveryForm)
{
    constexpr bool kWhole = false;
    const struct {
        const char* description;
        std::string header;
        int64_t length;
        bool partial;
        int64_t first;
        int64_t last;
    } cases[] = {
        {"first-last", "bytes=100-199", 1000, true, 100, 199},
        {"first byte only", "bytes=0-0", 1000, true, 0, 0},
        {"the whole body by positions", "bytes=0-999", 1000, true, 0, 999},
        {"last one past the end is clamped", "bytes=0-1000", 1000, true, 0, 999},
        {"last far past the end", "bytes=900-5000", 1000, true, 900, 999},
        {"last beyond 64 bits", "bytes=5-99999999999999999999999", 1000, true, 5, 999},
        {"open-ended", "bytes=100-", 1000, true, 100, 999},
        {"open-ended at the last byte", "bytes=999-", 1000, true, 999, 999},
        {"suffix", "bytes=-500", 1000, true, 500, 999},
        {"suffix of one byte", "bytes=-1", 1000, true, 999, 999},
        {"suffix of the whole length", "bytes=-1000", 1000, true, 0, 999},
        {"suffix longer than the body", "bytes=-1001", 1000, true, 0, 999},
        {"unit in other case", "BYTES=1-2", 1000, true, 1, 2},
        {"white space around the value and the range", " bytes= 1-2 ", 1000, true, 1, 2},
        {"empty list elements", "bytes=,1-2,", 1000, true, 1, 2},
        {"one-byte body", "bytes=0-", 1, true, 0, 0},

        {"absent", "", 1000, kWhole, 0, 0},
        {"first at the end", "bytes=1000-", 1000, kWhole, 0, 0},
        {"first past the end", "bytes=1001-2000", 1000, kWhole, 0, 0},
        {"first beyond 64 bits", "bytes=99999999999999999999999-", 1000, kWhole, 0, 0},
        {"suffix of zero bytes", "bytes=-0", 1000, kWhole, 0, 0},
        {"last before first", "bytes=5-4", 1000, kWhole, 0, 0},
        {"another unit", "items=0-5", 1000, kWhole, 0, 0},
        {"unit without '='", "bytes 0-5", 1000, kWhole, 0, 0},
        {"several ranges", "bytes=0-5,10-20", 1000, kWhole, 0, 0},
        {"no dash", "bytes=5", 1000, kWhole, 0, 0},
        {"dash alone", "bytes=-", 1000, kWhole, 0, 0},
        {"nothing after the unit", "bytes=", 1000, kWhole, 0, 0},
        {"negative first", "bytes=-5-10", 1000, kWhole, 0, 0},
        {"letters in the first", "bytes=1a-5", 1000, kWhole, 0, 0},
        {"letters in the last", "bytes=1-5x", 1000, kWhole, 0, 0},
        {"blank inside the range", "bytes=1 -5", 1000, kWhole, 0, 0},
        {"empty body, open-ended", "bytes=0-", 0, kWhole, 0, 0},
        {"empty body, suffix", "bytes=-5", 0, kWhole, 0, 0},
    };
    for (const auto& c : cases) {
        Range range;
        range.first = -7;
        range.last = -7;
        const bool partial = CFileResponse::ParseRange(c.header, c.length, range);
        EXPECT_EQ(partial, c.partial) << c.description;
        if (partial && c.partial) {
            EXPECT_EQ(range.first, c.first) << c.description;
            EXPECT_EQ(range.last, c.last) << c.description;
        }
    }
}

TEST(FileResponseRanges, IfRangeNeedsAStrongTagOrTheExactDate)
{
    const std::string tag = "\"3e8-3f000000:0144\"";
    const struct {
        const char* description;
        std::string header;
        bool holds;
    } cases[] = {
        {"absent", "", true},
        {"the current tag", tag, true},
        {"the current tag with white space", " " + tag + " ", true},
        {"a stale tag", "\"3e8-3effffff:0144\"", false},
        {"the current tag marked weak", "W/" + tag, false},
        {"the file's date", kFileDate, true},
        {"a second earlier", kOneSecondEarlier, false},
        {"a second later", kOneSecondLater, false},
        {"no date at all", "soon", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileResponse::CheckIfRange(c.header, tag, kFileTime), c.holds) << c.description;
}

TEST(FileResponseRanges, ApplyRangeHonoursIfRangeOnlyWithARange)
{
    const std::string tag = "\"3e8-3f000000:0144\"";
    Range range;
    EXPECT_FALSE(CFileResponse::ApplyRange("", tag, tag, kFileTime, 1000, range)) << "If-Range without Range";
    EXPECT_FALSE(CFileResponse::ApplyRange("bytes=1-2", "\"stale\"", tag, kFileTime, 1000, range));
    EXPECT_FALSE(CFileResponse::ApplyRange("bytes=1000-", tag, tag, kFileTime, 1000, range));
    ASSERT_TRUE(CFileResponse::ApplyRange("bytes=1-2", tag, tag, kFileTime, 1000, range));
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.last, 2);
    EXPECT_EQ(range.Length(), 2);
}

TEST(FileResponseRanges, ContentRangeNamesFirstLastAndLength)
{
    Range range;
    range.first = 100;
    range.last = 999;
    EXPECT_EQ(CFileResponse::FormatContentRange(range, 1000), "bytes 100-999/1000");
    range.first = 0;
    range.last = 0;
    EXPECT_EQ(CFileResponse::FormatContentRange(range, 1), "bytes 0-0/1");
    range.first = 0x100000000LL;
    range.last = 0x1ffffffffLL;
    EXPECT_EQ(CFileResponse::FormatContentRange(range, 0x200000000LL), "bytes 4294967296-8589934591/8589934592");
}

// --- the response over a server core ---------------------------------------------------

// The served folder, below the server root; the path entry maps "/" to it.
const char kFolder[] = "FileResponse/";
// A name with a 0x5C trail byte ("表") in CP932, as sources are compiled.
const char kJapaneseName[] = "表示資料.txt";
const char kJapaneseNameUtf8[] = u8"表示資料.txt";

class FileResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", servertest::ServerRoot() + kFolder);
        settings.SetValue("Setting::Path::Path_1::ServerPath", "/fw/");
        settings.SetValue("Setting::Path::Path_1::Forward", "http://elsewhere.test/");
        settings.SetValue("Setting::MimeType::text/plain::Ext_00", "txt");
        StartCore();
        fs::create_directories(Native(""));
    }

    void TearDown() override
    {
        CoreFixture::TearDown();
        std::error_code ignored;
        fs::remove_all(Native(""), ignored);
    }

    // The file-system name of a file in the served folder; `nameUtf8` as on disk.
    static std::string Native(const std::string& nameUtf8) { return servertest::ServerRoot() + kFolder + nameUtf8; }

    // Bytes whose value tells their position, so that a shifted range shows.
    static std::string Pattern(std::size_t size)
    {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i % 251);
        return bytes;
    }

    // A file in the served folder, last written at kFileTime.
    static void MakeFile(const std::string& nameUtf8, const std::string& bytes)
    {
        PutFile(kFolder + nameUtf8, bytes);
        const timespec times[2] = {{kFileTime, 0}, {kFileTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, Native(nameUtf8).c_str(), times, 0), 0);
    }

    // A request as the connection parses it, with `headers` (each ending in CR LF).
    CHttpRequest Request(const std::string& method, const std::string& object, const std::string& headers)
    {
        record_ = &NewRecord();
        return record_->ParseRequest(method + " " + EscapeUrlAll(object) + " HTTP/1.1\r\nHost: test\r\n" + headers +
                                     "\r\n");
    }

    // Constructs and builds the response as the driver does; a replacement named by the
    // constructor or Build takes its place and is built in turn.
    std::unique_ptr<CResponse> Built(const std::string& method, const std::string& object,
                                     const std::string& headers = "")
    {
        const CHttpRequest request = Request(method, object, headers);
        const CRequestPath& path = NewPath(request.GetObject());
        localPath_ = path.GetLocalPath();
        std::unique_ptr<CResponse> response = std::make_unique<CFileResponse>(core.get(), *record_, path);
        std::unique_ptr<CResponse> replacement = response->TakeReplacement();
        replacedByConstructor_ = replacement != nullptr;
        if (!replacement) {
            response->Build();
            replacement = response->TakeReplacement();
        }
        if (replacement) {
            response = std::move(replacement);
            response->Build();
        }
        return response;
    }

    // What GetSendData delivers until it returns 0 or less, with one buffer of `chunk`
    // bytes that is never reset, as in the pipeline.
    static std::string Drain(CResponse& response, int32_t chunk = 32768, std::vector<int>* sizes = nullptr)
    {
        std::string body;
        CByteBuffer buffer(chunk);
        for (int calls = 0; calls < 100000; ++calls) {
            const int n = response.GetSendData(buffer);
            if (n <= 0)
                return body;
            EXPECT_EQ(buffer.GetLength(), n);
            body.append(buffer.GetData(), static_cast<std::size_t>(n));
            if (sizes)
                sizes->push_back(n);
        }
        ADD_FAILURE() << "the body does not end";
        return body;
    }

    struct Answer {
        int code = 0;
        bool isStatusPage = false;
        int64_t length = -1;
        std::string body;
        CConfigAccessor info;       // the request's ResponseInfo node, as published
        std::string headerText;     // the header block, without Content-Length, Date's value blanked
        std::string Header(const std::string& name) const { return info.GetString("Options::" + name, "<none>"); }
    };

    Answer Serve(const std::string& method, const std::string& object, const std::string& headers = "")
    {
        std::unique_ptr<CResponse> response = Built(method, object, headers);
        Answer answer;
        answer.isStatusPage = dynamic_cast<CSystemResponse*>(response.get()) != nullptr;
        answer.info = response->GetResponseInfo();
        answer.headerText = BuildHeaderText(response->Answer());
        // Two answers built either side of a second's turn differ in Date alone.
        const std::string::size_type date = answer.headerText.find("\r\nDate: ");
        if (date != std::string::npos) {
            const std::string::size_type from = date + 8;
            answer.headerText.replace(from, answer.headerText.find("\r\n", from) - from, "<date>");
        }
        answer.code = answer.info.GetInt("ResponseCode", 0);
        answer.length = response->GetContentLength();
        if (method != "HEAD")
            answer.body = Drain(*response);
        return answer;
    }

    // The tag of the file as the server gives it.
    std::string CurrentTag(const std::string& object) { return Serve("GET", object).Header("ETag"); }

    CRequestRecord* record_ = nullptr;
    std::string localPath_;
    bool replacedByConstructor_ = false;
};

TEST_F(FileResponseTest, GetSendsTheWholeFileWithValidatorsAndType)
{
    const std::string bytes = Pattern(100000);
    MakeFile(kJapaneseNameUtf8, bytes);

    std::unique_ptr<CResponse> response = Built("GET", std::string("/") + kJapaneseName);
    ASSERT_NE(dynamic_cast<CFileResponse*>(response.get()), nullptr);
    EXPECT_EQ(localPath_, servertest::ServerRoot() + kFolder + kJapaneseName);
    const CConfigAccessor info = response->GetResponseInfo();
    EXPECT_EQ(info.GetInt("ResponseCode", 0), 200);
    EXPECT_EQ(info.GetString("ResponseText", ""), "200 OK");
    EXPECT_EQ(info.GetString("Options::Last-modified", ""), kFileDate);
    // The tag sums the CP932 path, the path as the server names the file.
    EXPECT_EQ(info.GetString("Options::ETag", ""), CFileResponse::MakeETag(100000, kFileTime, localPath_));
    EXPECT_EQ(info.GetString("Options::ETag", "").rfind("\"186a0-3f000000:", 0), 0u);
    EXPECT_EQ(info.GetString("Options::Content-Type", ""), "text/plain");
    EXPECT_EQ(info.GetString("Options::Content-Range", "<none>"), "<none>");
    EXPECT_EQ(info.GetString("Options::Accept-Ranges", "<none>"), "<none>");

    EXPECT_EQ(response->GetContentLength(), 100000);
    std::vector<int> sizes;
    EXPECT_EQ(Drain(*response, 32768, &sizes), bytes);
    EXPECT_EQ(sizes, (std::vector<int>{32768, 32768, 32768, 1696}));
    CByteBuffer again(32768);
    EXPECT_EQ(response->GetSendData(again), 0) << "stays at its end";
}

TEST_F(FileResponseTest, ChunksNeverExceedTheBuffersLength)
{
    const std::string bytes = Pattern(2500);
    MakeFile("a.txt", bytes);
    std::unique_ptr<CResponse> response = Built("GET", "/a.txt");
    std::vector<int> sizes;
    EXPECT_EQ(Drain(*response, 1000, &sizes), bytes);
    EXPECT_EQ(sizes, (std::vector<int>{1000, 1000, 500}));
}

TEST_F(FileResponseTest, HeadBuildsTheSameHeadersAsGet)
{
    MakeFile("a.txt", Pattern(1000));
    const Answer get = Serve("GET", "/a.txt");
    const Answer head = Serve("HEAD", "/a.txt");
    EXPECT_EQ(head.code, get.code);
    EXPECT_EQ(head.length, get.length);
    EXPECT_EQ(head.headerText, get.headerText);
}

// RFC 9110 14.2: a server must ignore Range on any method but GET.
TEST_F(FileResponseTest, HeadWithRangeAnswersAsAGetWithoutRange)
{
    MakeFile("a.txt", Pattern(1000));
    const std::string tag = CurrentTag("/a.txt");
    const Answer whole = Serve("GET", "/a.txt");
    ASSERT_EQ(whole.code, 200);
    const struct {
        const char* description;
        std::string headers;
    } cases[] = {
        {"first-last", "Range: bytes=100-199\r\n"},
        {"name in lower case", "range: bytes=100-199\r\n"},
        {"open-ended", "Range: bytes=100-\r\n"},
        {"suffix", "Range: bytes=-500\r\n"},
        {"first byte", "Range: bytes=0-0\r\n"},
        {"If-Range with the current tag", "Range: bytes=100-199\r\nIf-Range: " + tag + "\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Serve("GET", "/a.txt", c.headers).code, 206) << c.description << ": a GET still gets its range";
        const Answer head = Serve("HEAD", "/a.txt", c.headers);
        EXPECT_EQ(head.code, 200) << c.description;
        EXPECT_EQ(head.length, 1000) << c.description;
        EXPECT_EQ(head.Header("Content-Range"), "<none>") << c.description;
        EXPECT_EQ(head.Header("Accept-Ranges"), "<none>") << c.description;
        EXPECT_EQ(head.headerText, whole.headerText) << c.description;
    }
}

TEST_F(FileResponseTest, EmptyFileIsSentWholeAndIgnoresRanges)
{
    MakeFile("empty.txt", "");
    for (const std::string headers : {"", "Range: bytes=0-\r\n", "Range: bytes=-5\r\n"}) {
        const Answer answer = Serve("GET", "/empty.txt", headers);
        EXPECT_EQ(answer.code, 200) << headers;
        EXPECT_EQ(answer.length, 0) << headers;
        EXPECT_EQ(answer.body, "") << headers;
        EXPECT_EQ(answer.Header("Content-Range"), "<none>") << headers;
    }
}

TEST_F(FileResponseTest, ConditionalRequestsAnswer304OrTheFile)
{
    MakeFile("a.txt", Pattern(1000));
    const std::string tag = CurrentTag("/a.txt");
    ASSERT_FALSE(tag.empty());
    const std::string stale = "\"3e8-3effffff:0000\"";
    const std::string date = kFileDate;

    const struct {
        const char* description;
        std::string headers;
        int code;
    } cases[] = {
        {"no validators", "", 200},
        {"current tag", "If-None-Match: " + tag + "\r\n", 304},
        {"current tag, name in lower case", "if-none-match: " + tag + "\r\n", 304},
        {"current tag, name in upper case", "IF-NONE-MATCH: " + tag + "\r\n", 304},
        {"stale tag", "If-None-Match: " + stale + "\r\n", 200},
        {"the file's date", "If-Modified-Since: " + date + "\r\n", 304},
        {"the file's date, name in lower case", "if-modified-since: " + date + "\r\n", 304},
        {"a later date", std::string("If-Modified-Since: ") + kOneSecondLater + "\r\n", 304},
        {"an earlier date", std::string("If-Modified-Since: ") + kOneSecondEarlier + "\r\n", 200},
        {"a date that does not parse", "If-Modified-Since: never\r\n", 200},
        {"current tag, earlier date: the change wins",
         "If-None-Match: " + tag + "\r\nIf-Modified-Since: " + kOneSecondEarlier + "\r\n", 200},
        {"stale tag, current date: the change wins", "If-None-Match: " + stale + "\r\nIf-Modified-Since: " + date + "\r\n",
         200},
        {"both current", "If-None-Match: " + tag + "\r\nIf-Modified-Since: " + date + "\r\n", 304},
    };
    for (const auto& c : cases) {
        const Answer answer = Serve("GET", "/a.txt", c.headers);
        EXPECT_EQ(answer.code, c.code) << c.description;
        EXPECT_EQ(answer.isStatusPage, c.code == 304) << c.description;
        EXPECT_EQ(answer.body.size(), c.code == 304 ? 0u : 1000u) << c.description;
    }
}

TEST_F(FileResponseTest, NotModifiedCarriesTheValidatorsAndNoBody)
{
    MakeFile("a.txt", Pattern(1000));
    const std::string tag = CurrentTag("/a.txt");
    for (const std::string method : {"GET", "HEAD"}) {
        for (const std::string& condition :
             {"If-None-Match: " + tag + "\r\n", std::string("If-Modified-Since: ") + kFileDate + "\r\n"}) {
            const Answer answer = Serve(method, "/a.txt", condition);
            ASSERT_TRUE(answer.isStatusPage) << method << " " << condition;
            EXPECT_EQ(answer.code, 304) << condition;
            EXPECT_EQ(answer.info.GetString("ResponseText", ""), "304 Not Modified");
            EXPECT_EQ(answer.Header("ETag"), tag) << condition;
            EXPECT_EQ(answer.Header("Last-modified"), kFileDate) << condition;
            // A cache merges a 304's fields into what it stored: never a status page's type.
            EXPECT_EQ(answer.Header("Content-Type"), "text/plain") << condition;
            EXPECT_EQ(answer.length, 0) << condition;
            EXPECT_EQ(answer.body, "") << condition;
        }
    }
}

TEST_F(FileResponseTest, RangesOfEveryFormAreServedWith206)
{
    const std::string bytes = Pattern(1000);
    MakeFile("a.txt", bytes);
    const std::string tag = CurrentTag("/a.txt");

    const struct {
        const char* description;
        std::string headers;
        int code;
        std::string contentRange;
        std::size_t first;
        std::size_t count;
    } cases[] = {
        {"first-last", "Range: bytes=100-199\r\n", 206, "bytes 100-199/1000", 100, 100},
        {"name in lower case", "range: bytes=100-199\r\n", 206, "bytes 100-199/1000", 100, 100},
        {"open-ended", "Range: bytes=100-\r\n", 206, "bytes 100-999/1000", 100, 900},
        {"suffix", "Range: bytes=-500\r\n", 206, "bytes 500-999/1000", 500, 500},
        {"first byte", "Range: bytes=0-0\r\n", 206, "bytes 0-0/1000", 0, 1},
        {"last byte", "Range: bytes=999-\r\n", 206, "bytes 999-999/1000", 999, 1},
        {"last clamped", "Range: bytes=900-5000\r\n", 206, "bytes 900-999/1000", 900, 100},
        {"suffix longer than the file", "Range: bytes=-5000\r\n", 206, "bytes 0-999/1000", 0, 1000},
        {"If-Range with the current tag", "Range: bytes=100-199\r\nIf-Range: " + tag + "\r\n", 206,
         "bytes 100-199/1000", 100, 100},
        {"If-Range with the file's date", std::string("Range: bytes=100-199\r\nif-range: ") + kFileDate + "\r\n",
         206, "bytes 100-199/1000", 100, 100},
        {"If-Range with a stale tag", "RANGE: bytes=100-199\r\nIF-RANGE: \"3e8-1:0000\"\r\n", 200, "<none>", 0,
         1000},
        {"If-Range with an earlier date",
         std::string("Range: bytes=100-199\r\nIf-Range: ") + kOneSecondEarlier + "\r\n", 200, "<none>", 0, 1000},
        {"first at the end", "Range: bytes=1000-\r\n", 200, "<none>", 0, 1000},
        {"another unit", "Range: items=0-5\r\n", 200, "<none>", 0, 1000},
        {"several ranges", "Range: bytes=0-5,10-20\r\n", 200, "<none>", 0, 1000},
        {"last before first", "Range: bytes=5-4\r\n", 200, "<none>", 0, 1000},
    };
    for (const auto& c : cases) {
        const Answer answer = Serve("GET", "/a.txt", c.headers);
        EXPECT_EQ(answer.code, c.code) << c.description;
        EXPECT_EQ(answer.Header("Content-Range"), c.contentRange) << c.description;
        EXPECT_EQ(answer.Header("Accept-Ranges"), c.code == 206 ? "bytes" : "<none>") << c.description;
        EXPECT_EQ(answer.length, static_cast<int64_t>(c.count)) << c.description;
        EXPECT_EQ(answer.body, bytes.substr(c.first, c.count)) << c.description;
        EXPECT_EQ(answer.Header("ETag"), tag) << c.description;
    }
}

TEST_F(FileResponseTest, MissingFileIs404ForEveryMethod)
{
    for (const std::string method : {"GET", "HEAD", "POST", "get"}) {
        const Answer answer = Serve(method, "/missing.txt");
        EXPECT_TRUE(replacedByConstructor_) << method;
        EXPECT_TRUE(answer.isStatusPage) << method;
        EXPECT_EQ(answer.code, 404) << method;
        if (method != "HEAD") {
            EXPECT_NE(answer.body.find("指定されたファイルは存在しません"), std::string::npos) << method;
        }
    }
}

TEST_F(FileResponseTest, OtherMethodsOnAFileAre405)
{
    MakeFile("a.txt", "x");
    for (const std::string method : {"POST", "PUT", "DELETE", "OPTIONS", "get", "Head"}) {
        const Answer answer = Serve(method, "/a.txt");
        EXPECT_TRUE(replacedByConstructor_) << method;
        EXPECT_EQ(answer.code, 405) << method;
        EXPECT_NE(answer.body.find("対応していないメソッドです"), std::string::npos) << method;
        // RFC 9110 15.5.6: a 405 names the methods the file answers.
        EXPECT_EQ(answer.Header("Allow"), "GET, HEAD") << method;
        EXPECT_NE(answer.headerText.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << method;
    }
}

TEST_F(FileResponseTest, PathWithoutLocalPathIs404)
{
    // A forward entry resolves to a redirect with no local path: it "exists", yet there is
    // nothing to read.
    const Answer answer = Serve("GET", "/fw/a.txt");
    EXPECT_TRUE(replacedByConstructor_);
    EXPECT_EQ(localPath_, "");
    EXPECT_EQ(answer.code, 404);
}

TEST_F(FileResponseTest, FoldersAndFifosAreNotServed)
{
    fs::create_directories(Native("sub"));
    for (const std::string object : {"/sub", "/sub/"}) {
        const Answer answer = Serve("GET", object);
        EXPECT_EQ(answer.code, 404) << object;
        EXPECT_TRUE(answer.isStatusPage) << object;
    }

    // Opening a FIFO for reading would wait for a writer.
    ASSERT_EQ(::mkfifo(Native("pipe.txt").c_str(), 0600), 0);
    const Answer answer = Serve("GET", "/pipe.txt");
    EXPECT_EQ(answer.code, 404);
}

// A request's own path opens the file when it is looked up (CRequestPath::Look::Open):
// what comes to the name afterwards does not change the answer.
TEST_F(FileResponseTest, AFileOpenedAtTheLookupIsServedWhateverComesToItsNameAfter)
{
    MakeFile("a.txt", "first");
    const CHttpRequest request = Request("GET", "/a.txt", "");
    const CRequestPath path(request.GetObject(), "", core->GetSettingsSnapshot(), CRequestPath::Look::Open);
    ASSERT_TRUE(path.HasOpenFile());
    CFileResponse response(core.get(), *record_, path);
    fs::remove(Native("a.txt"));
    fs::create_symlink("a.txt", Native("a.txt"));
    response.Build();
    ASSERT_EQ(response.TakeReplacement(), nullptr);
    EXPECT_EQ(response.GetResponseInfo().GetInt("ResponseCode", 0), 200);
    EXPECT_EQ(response.GetContentLength(), 5);
    EXPECT_EQ(Drain(response), "first");
    EXPECT_FALSE(path.HasOpenFile()) << "the response took it";
}

// The file changes between the lookup and Build: removed, it is not found as a moment
// later; in its place a link to itself cannot be opened, which is a failure.
TEST_F(FileResponseTest, FileGoneBeforeBuildIsNotFoundAndOneThatCannotBeOpenedIsAFailure)
{
    for (const bool loops : {false, true}) {
        SCOPED_TRACE(loops ? "a link to itself" : "removed");
        MakeFile("a.txt", "x");
        const CHttpRequest request = Request("GET", "/a.txt", "");
        const CRequestPath& path = NewPath(request.GetObject());
        CFileResponse response(core.get(), *record_, path);
        fs::remove(Native("a.txt"));
        if (!loops) {
            response.Build();
            std::unique_ptr<CResponse> replacement = response.TakeReplacement();
            ASSERT_NE(replacement, nullptr);
            replacement->Build();
            EXPECT_EQ(replacement->GetResponseInfo().GetInt("ResponseCode", 0), 404);
            continue;
        }
        fs::create_symlink("a.txt", Native("a.txt"));
        try {
            response.Build();
            ADD_FAILURE() << "Build went on without the file";
        } catch (const CServerFatalException& e) {
            EXPECT_EQ(e.message,
                      "ファイルのオープンに失敗しました、サーバー上のファイルは、使用中のためロックされている可能性があります");
            EXPECT_EQ(e.systemError, ELOOP);
        }
        fs::remove(Native("a.txt"));
    }
}

TEST_F(FileResponseTest, FileTruncatedAfterBuildEndsTheBodyShort)
{
    const std::string bytes = Pattern(100000);
    MakeFile("a.txt", bytes);
    std::unique_ptr<CResponse> response = Built("GET", "/a.txt");
    ASSERT_EQ(response->GetContentLength(), 100000);
    fs::resize_file(Native("a.txt"), 40000);
    EXPECT_EQ(Drain(*response), bytes.substr(0, 40000));
    EXPECT_EQ(response->GetContentLength(), 0);
}

TEST_F(FileResponseTest, FileGrownAfterBuildSendsOnlyTheAnnouncedLength)
{
    const std::string bytes = Pattern(100000);
    MakeFile("a.txt", bytes);
    std::unique_ptr<CResponse> response = Built("GET", "/a.txt");
    ASSERT_EQ(response->GetContentLength(), 100000);
    std::ofstream(Native("a.txt"), std::ios::binary | std::ios::app) << std::string(50000, 'G');
    ASSERT_EQ(fs::file_size(Native("a.txt")), 150000u);
    EXPECT_EQ(Drain(*response), bytes);
}

TEST_F(FileResponseTest, RangeOfAFileThatChangedStaysWithinWhatWasAnnounced)
{
    const std::string bytes = Pattern(1000);
    MakeFile("a.txt", bytes);

    std::unique_ptr<CResponse> grown = Built("GET", "/a.txt", "Range: bytes=100-199\r\n");
    ASSERT_EQ(grown->GetContentLength(), 100);
    std::unique_ptr<CResponse> shrunk = Built("GET", "/a.txt", "Range: bytes=100-199\r\n");
    ASSERT_EQ(shrunk->GetContentLength(), 100);

    fs::resize_file(Native("a.txt"), 150);
    EXPECT_EQ(Drain(*shrunk), bytes.substr(100, 50));
    fs::resize_file(Native("a.txt"), 5000);
    EXPECT_EQ(Drain(*grown, 7), bytes.substr(100, 50) + std::string(50, '\0'));
}

TEST_F(FileResponseTest, OpenFileIsCloseOnExecAndClosedWithTheResponse)
{
    MakeFile("a.txt", "x");
    const fs::path file = fs::canonical(Native("a.txt"));
    // Descriptors of this process open on the file.
    const auto openOnFile = [&file] {
        std::vector<int> fds;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", error)) {
            std::error_code ignored;
            if (fs::read_symlink(entry.path(), ignored) == file)
                fds.push_back(std::stoi(entry.path().filename().string()));
        }
        return fds;
    };
    ASSERT_TRUE(openOnFile().empty());

    std::unique_ptr<CResponse> response = Built("GET", "/a.txt");
    const std::vector<int> fds = openOnFile();
    ASSERT_EQ(fds.size(), 1u);
    EXPECT_NE(::fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0);

    response.reset();
    EXPECT_TRUE(openOnFile().empty());
}

TEST_F(FileResponseTest, LengthIsZeroBeforeBuild)
{
    MakeFile("a.txt", "abc");
    const CHttpRequest request = Request("GET", "/a.txt", "");
    const CRequestPath& path = NewPath(request.GetObject());
    CFileResponse response(core.get(), *record_, path);
    EXPECT_EQ(response.GetContentLength(), 0);
    CByteBuffer buffer(16);
    EXPECT_EQ(response.GetSendData(buffer), 0);
}

}  // namespace
