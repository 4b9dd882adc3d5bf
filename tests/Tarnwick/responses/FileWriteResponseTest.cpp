#include "responses/FileDeleteResponse.h"
#include "responses/FileMoveResponse.h"
#include "responses/FilePutResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ServerTestSupport.h"
#include "http/CoreFixture.h"

#include "ByteBuffer.h"
#include "FileSizeLimit.h"
#include "UrlCoding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The served folder and a folder outside every entry, below the server root.
const char kFolder[] = "Write/";
const char kOutside[] = "Outside/";
const char kOtherFolder[] = "Other/";

const char kOpenFailed[] =
    "ファイルのオープンに失敗しました、サーバー上のファイルは、使用中のためロックされている可能性があります";
const char kFileFailed[] = "ファイルの操作に失敗しました、システムエラーです";
const char kNotFound[] = "指定されたファイルは存在しません";
const char kBadDestination[] = "出力先が異常です";
const char kOtherCombination[] = "移動不可能な組み合わせです";

// "表" ends in the byte 0x5C in CP932.
const char kJapaneseName[] = "表示資料.txt";
const char kJapaneseNameUtf8[] = u8"表示資料.txt";
const char kJapaneseFolderUtf8[] = u8"表計算";

// The pipeline's receive chunk.
constexpr std::size_t kChunk = 65536;

// Bytes whose value tells their position, so that a shifted or dropped chunk shows.
std::string Pattern(std::size_t size, int seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i + static_cast<std::size_t>(seed)) % 251);
    return bytes;
}

CByteBuffer Chunk(const std::string& bytes)
{
    CByteBuffer buffer;
    buffer.AssignString(bytes);
    return buffer;
}

struct Outcome {
    int code = 0;              // ResponseCode on the thread node when done
    bool statusPage = false;   // a status page took the response's place
    std::string info;          // its Info
    std::string fatal;         // the message of a CServerFatalException
    int64_t length = -1;
    int sent = -1;
};

class FileWriteResponseTest : public CoreFixture {
protected:
    void SetUp() override
    {
        const std::string folder = servertest::ServerRoot() + kFolder;
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", folder);
        settings.SetValue("Setting::Path::Path_1::ServerPath", "/same/");
        settings.SetValue("Setting::Path::Path_1::LocalPath", folder);
        settings.SetValue("Setting::Path::Path_2::ServerPath", "/other/");
        settings.SetValue("Setting::Path::Path_2::LocalPath", servertest::ServerRoot() + kOtherFolder);
        settings.SetValue("Setting::Path::Path_3::ServerPath", "/fw/");
        settings.SetValue("Setting::Path::Path_3::Forward", "http://elsewhere.test/");
        StartCore();
        for (const char* made : {kFolder, kOutside, kOtherFolder})
            fs::create_directories(servertest::ServerRoot() + made);
    }

    void TearDown() override
    {
        CoreFixture::TearDown();
        std::error_code ignored;
        for (const char* made : {kFolder, kOutside, kOtherFolder})
            fs::remove_all(servertest::ServerRoot() + made, ignored);
    }

    static std::string Native(const std::string& nameUtf8) { return servertest::ServerRoot() + kFolder + nameUtf8; }
    static std::string Outside(const std::string& nameUtf8)
    {
        return servertest::ServerRoot() + kOutside + nameUtf8;
    }
    static void Make(const std::string& nameUtf8, const std::string& bytes) { PutFile(kFolder + nameUtf8, bytes); }
    static std::string Read(const std::string& nameUtf8) { return testsupport::GetFile(Native(nameUtf8)); }

    // Every name in the tree (relative, sorted), hidden ones included: no leftovers.
    static std::vector<std::string> Tree(const std::string& folder)
    {
        std::vector<std::string> names;
        for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
            names.push_back(fs::relative(it->path(), folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<CResponse> Construct(const std::string& method, const std::string& object,
                                         const std::string& headers)
    {
        record_ = &NewRecord();
        const CHttpRequest& request =
            record_->ParseRequest(method + " " + EscapeUrlAll(object) + " HTTP/1.1\r\nHost: test\r\n" + headers + "\r\n");
        // As the driver does: the Host header picks the entry and names this server.
        const CRequestPath& path = NewPath(request.GetObject(), record_->GetTargetHost());
        if (method == "PUT" || method == "MKCOL")
            return std::make_unique<CFilePutResponse>(core.get(), *record_, path);
        if (method == "DELETE")
            return std::make_unique<CFileDeleteResponse>(core.get(), *record_, path);
        return std::make_unique<CFileMoveResponse>(core.get(), *record_, path, connection_.state);
    }

    // Drives the response as the pipeline does, the body in chunks of kChunk.
    Outcome Run(const std::string& method, const std::string& object, const std::string& headers = "",
                const std::string& body = "")
    {
        Outcome outcome;
        try {
            std::unique_ptr<CResponse> response = Construct(method, object, headers);
            std::unique_ptr<CResponse> replacement = response->TakeReplacement();
            if (!replacement) {
                response->BeginReceive();
                for (std::size_t at = 0; at < body.size(); at += kChunk) {
                    CByteBuffer chunk = Chunk(body.substr(at, kChunk));
                    response->ReceiveData(chunk);
                }
                response->Build();
                replacement = response->TakeReplacement();
            }
            if (replacement) {
                response = std::move(replacement);
                auto& page = dynamic_cast<CSystemResponse&>(*response);
                page.Build();
                outcome.statusPage = true;
                outcome.info = page.GetInfo();
            } else {
                outcome.length = response->GetContentLength();
                CByteBuffer buffer(4096);
                outcome.sent = response->GetSendData(buffer);
                EXPECT_EQ(buffer.GetLength(), 0);
            }
        } catch (const CServerFatalException& e) {
            outcome.fatal = e.message;
        }
        outcome.code = record_->Response().GetCode();
        return outcome;
    }

    Outcome Transfer(const std::string& method, const std::string& from, const std::string& destination)
    {
        return Run(method, from, "Destination: " + destination + "\r\n");
    }

    CRequestRecord* record_ = nullptr;
    servertest::TestConnection connection_;
};

// --- PUT -------------------------------------------------------------------------------

TEST_F(FileWriteResponseTest, PutWritesTheWholeBodyWhateverItsChunking)
{
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, kChunk - 1, kChunk, kChunk + 1, std::size_t{100000}}) {
        const Outcome put = Run("PUT", "/new.bin", "", Pattern(size));
        EXPECT_EQ(put.code, 201) << size;
        EXPECT_FALSE(put.statusPage) << size;
        EXPECT_EQ(put.length, 0) << size;
        EXPECT_EQ(put.sent, 0) << size;
        EXPECT_EQ(Read("new.bin"), Pattern(size)) << size;
        EXPECT_EQ(Tree(Native("")), std::vector<std::string>{"new.bin"}) << size << ": no temporary file stays";
    }
}

TEST_F(FileWriteResponseTest, PutReplacesTheFileAndKeepsItsPermissions)
{
    ASSERT_EQ(Run("PUT", "/a.txt", "", Pattern(100000)).code, 201);
    ASSERT_EQ(::chmod(Native("a.txt").c_str(), 0640), 0);
    const Outcome again = Run("PUT", "/a.txt", "", "0123456789");
    EXPECT_EQ(again.code, 201);
    EXPECT_EQ(Read("a.txt"), "0123456789");
    struct stat status {};
    ASSERT_EQ(::stat(Native("a.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(FileWriteResponseTest, CutUploadLeavesTheOldFileAndNoTemporaryFile)
{
    Make("a.txt", "old contents");
    {
        std::unique_ptr<CResponse> put = Construct("PUT", "/a.txt", "");
        put->BeginReceive();
        CByteBuffer chunk = Chunk(Pattern(kChunk));
        put->ReceiveData(chunk);
        // The body goes to a file of its own that has no name yet: a crash here leaves
        // nothing behind.
        EXPECT_EQ(Tree(Native("")), std::vector<std::string>{"a.txt"});
        // The connection broke here: the pipeline throws and deletes the response unbuilt.
    }
    EXPECT_EQ(Read("a.txt"), "old contents");
    EXPECT_EQ(Tree(Native("")), std::vector<std::string>{"a.txt"});
}

TEST_F(FileWriteResponseTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    Make("a.txt", "old contents");
    testsupport::FileSizeLimit limit(1000);
    ASSERT_TRUE(limit.ok());
    const Outcome put = Run("PUT", "/a.txt", "", Pattern(5000));
    EXPECT_EQ(put.code, 507);
    EXPECT_EQ(Read("a.txt"), "old contents");
    EXPECT_EQ(Tree(Native("")), std::vector<std::string>{"a.txt"});
}

TEST_F(FileWriteResponseTest, PutThatCannotOpenItsFileFailsWithTheOpenText)
{
    fs::create_directories(Native("dir/sub"));
    const struct {
        const char* description;
        std::string object;
    } cases[] = {
        {"below a missing folder", "/missing/a.txt"},
        {"onto a folder", "/dir/sub"},
        {"onto a folder named with '/'", "/dir/sub/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Run("PUT", c.object, "", "data").fatal, kOpenFailed) << c.description;
    EXPECT_FALSE(fs::exists(Native("missing")));
    EXPECT_EQ(Tree(Native("")), (std::vector<std::string>{"dir", "dir/sub"}));
}

TEST_F(FileWriteResponseTest, PutReplacesALinkAndLeavesWhatItPointedAt)
{
    PutFile(std::string(kOutside) + "target.txt", "outside");
    fs::create_symlink(Outside("target.txt"), Native("link.txt"));
    EXPECT_EQ(Run("PUT", "/link.txt", "", "inside").code, 201);
    EXPECT_FALSE(fs::is_symlink(Native("link.txt")));
    EXPECT_EQ(Read("link.txt"), "inside");
    EXPECT_EQ(testsupport::GetFile(Outside("target.txt")), "outside");
}

TEST_F(FileWriteResponseTest, PutStoresAJapaneseNameInTheFileSystemsSpelling)
{
    EXPECT_EQ(Run("PUT", std::string("/") + kJapaneseName, "", "data").code, 201);
    EXPECT_EQ(Read(kJapaneseNameUtf8), "data");
}

TEST_F(FileWriteResponseTest, NothingIsWrittenWhereThePathHasNoLocalFolder)
{
    for (const char* method : {"PUT", "MKCOL", "DELETE", "COPY", "MOVE"}) {
        const Outcome outcome = Run(method, "/fw/a.txt", "Destination: http://test/fw/b.txt\r\n", "data");
        EXPECT_EQ(outcome.code, 404) << method;
        EXPECT_EQ(outcome.info, kNotFound) << method;
    }
}

// --- MKCOL -----------------------------------------------------------------------------

TEST_F(FileWriteResponseTest, MkcolCreatesTheFolderWithMissingParentsAndDiscardsTheBody)
{
    const Outcome made = Run("MKCOL", "/a/b/c", "", "ignored body");
    EXPECT_EQ(made.code, 201);
    EXPECT_FALSE(made.statusPage);
    EXPECT_EQ(made.length, 0);
    EXPECT_EQ(Tree(Native("")), (std::vector<std::string>{"a", "a/b", "a/b/c"}));
}

TEST_F(FileWriteResponseTest, MkcolAnswers201OnlyWhenItCreatedTheFolder)
{
    fs::create_directories(Native("dir"));
    Make("file.txt", "x");
    Make("plain", "x");
    fs::create_symlink(Outside("nothing"), Native("dangling"));
    const struct {
        const char* description;
        std::string object;
        int code;
    } cases[] = {
        {"an existing folder", "/dir", 405},
        {"an existing folder named with '/'", "/dir/", 405},
        {"an existing file", "/file.txt", 405},
        {"a dangling link", "/dangling", 405},
        {"a file where a parent folder must be", "/plain/sub", 409},
        {"a new Japanese folder", std::string("/") + kJapaneseName, 201},
    };
    for (const auto& c : cases) {
        const Outcome outcome = Run("MKCOL", c.object);
        EXPECT_EQ(outcome.code, c.code) << c.description;
        EXPECT_EQ(outcome.statusPage, c.code != 201) << c.description;
    }
    EXPECT_TRUE(fs::is_directory(Native(kJapaneseNameUtf8)));
    EXPECT_FALSE(fs::exists(Outside("nothing")));
    EXPECT_EQ(testsupport::GetFile(Native("plain")), "x");
}

// --- DELETE ----------------------------------------------------------------------------

TEST_F(FileWriteResponseTest, DeleteRemovesAFileAndAnswers404WhenNothingIsThere)
{
    Make(kJapaneseNameUtf8, "x");
    const Outcome deleted = Run("DELETE", std::string("/") + kJapaneseName);
    EXPECT_EQ(deleted.code, 204);
    EXPECT_EQ(deleted.length, 0);
    EXPECT_FALSE(fs::exists(Native(kJapaneseNameUtf8)));
    const Outcome missing = Run("DELETE", std::string("/") + kJapaneseName);
    EXPECT_EQ(missing.code, 404);
    EXPECT_EQ(missing.info, kNotFound);
}

TEST_F(FileWriteResponseTest, DeleteRemovesATreeButNotWhatItsLinksPointAt)
{
    PutFile(std::string(kOutside) + "keep/deep.txt", "outside");
    for (const char* object : {"/tree/", "/tree"}) {
        Make("tree/a.txt", "a");
        Make("tree/.hidden", "h");
        Make(std::string("tree/sub/") + kJapaneseNameUtf8, "j");
        fs::create_directories(Native("tree/empty/deeper"));
        fs::create_symlink(Outside("keep"), Native("tree/sub/out"));
        fs::create_symlink(Native("tree"), Native("tree/loop"));
        const Outcome deleted = Run("DELETE", object);
        EXPECT_EQ(deleted.code, 204) << object;
        EXPECT_TRUE(deleted.fatal.empty()) << object << ": " << deleted.fatal;
        EXPECT_FALSE(fs::exists(fs::symlink_status(Native("tree")))) << object;
        EXPECT_EQ(testsupport::GetFile(Outside("keep/deep.txt")), "outside") << object;
    }
}

TEST_F(FileWriteResponseTest, DeleteOfALinkToAFolderRemovesOnlyTheLink)
{
    PutFile(std::string(kOutside) + "keep.txt", "outside");
    for (const char* object : {"/link/", "/link"}) {
        fs::create_directory_symlink(servertest::ServerRoot() + kOutside, Native("link"));
        EXPECT_EQ(Run("DELETE", object).code, 204) << object;
        EXPECT_FALSE(fs::exists(fs::symlink_status(Native("link")))) << object;
        EXPECT_EQ(testsupport::GetFile(Outside("keep.txt")), "outside") << object;
    }
}

// --- MOVE ------------------------------------------------------------------------------

TEST_F(FileWriteResponseTest, MoveRenamesWithinTheFolderWhateverFormTheDestinationTakes)
{
    const struct {
        const char* description;
        std::string header;
    } cases[] = {
        {"a full URL naming the request's host", "Destination: http://TEST/b.txt\r\n"},
        {"a path to normalise", "Destination: //./b.txt\r\n"},
        {"the header name in lower case", "destination: https://test/b.txt\r\n"},
        {"another entry with the same folder", "Destination: http://test/same/b.txt\r\n"},
    };
    for (const auto& c : cases) {
        Make("a.txt", "moved");
        const Outcome moved = Run("MOVE", "/a.txt", c.header);
        EXPECT_EQ(moved.code, 201) << c.description;
        EXPECT_TRUE(moved.fatal.empty()) << c.description << ": " << moved.fatal;
        EXPECT_EQ(Tree(Native("")), std::vector<std::string>{"b.txt"}) << c.description;
        EXPECT_EQ(Read("b.txt"), "moved") << c.description;
        fs::remove(Native("b.txt"));
    }
}

TEST_F(FileWriteResponseTest, MoveReplacesWhatExistsUnlessOverwriteIsF)
{
    Make("a.txt", "a");
    Make("b.txt", "b");
    fs::create_directories(Native("dir"));
    const struct {
        const char* target;
        const char* headers;
        int code;
    } refused[] = {
        {"/b.txt", "Overwrite: F\r\n", 412},
        {"/dir", "Overwrite: F\r\n", 412},
        {"/a.txt", "", 403},
    };
    for (const auto& c : refused) {
        const Outcome outcome =
            Run("MOVE", "/a.txt", std::string("Destination: http://test") + c.target + "\r\n" + c.headers);
        EXPECT_EQ(outcome.code, c.code) << c.target;
        EXPECT_TRUE(outcome.statusPage) << c.target;
    }
    EXPECT_EQ(Read("a.txt"), "a");
    EXPECT_EQ(Read("b.txt"), "b");
    EXPECT_EQ(Tree(Native("")), (std::vector<std::string>{"a.txt", "b.txt", "dir"}));

    for (const char* headers : {"Overwrite: T\r\n", ""}) {
        Make("a.txt", headers);
        EXPECT_EQ(Run("MOVE", "/a.txt", std::string("Destination: http://test/b.txt\r\n") + headers).code, 204)
            << headers;
        EXPECT_EQ(Read("b.txt"), headers);
        EXPECT_EQ(Tree(Native("")), (std::vector<std::string>{"b.txt", "dir"})) << headers;
    }
}

TEST_F(FileWriteResponseTest, MoveTakesAFolderWithItsContentsAndJapaneseNames)
{
    Make(std::string(kJapaneseFolderUtf8) + "/sub/" + kJapaneseNameUtf8, "j");
    const std::string to = EscapeUrlAll(std::string("/") + u8"新しい" + kJapaneseNameUtf8);
    EXPECT_EQ(Transfer("MOVE", "/表計算/", "http://test" + to).code, 201);
    EXPECT_EQ(Read(std::string(u8"新しい") + kJapaneseNameUtf8 + "/sub/" + kJapaneseNameUtf8), "j");
    EXPECT_FALSE(fs::exists(Native(kJapaneseFolderUtf8)));
}

// --- Destination -------------------------------------------------------------------------

TEST(FileWriteResponseDestination, TakesThePathPartOfTheHeader)
{
    const struct {
        const char* description;
        std::string header;
        bool usable;
        std::string path;
    } cases[] = {
        {"empty", "", false, ""},
        {"seven bytes", "/a.txtx", false, ""},
        {"eight bytes", "/ab.txtx", true, "/ab.txtx"},
        {"full URL", "http://host:81/dir/b.txt", true, "/dir/b.txt"},
        {"scheme and host only", "http://host.example", true, "/"},
        {"still encoded", "http://h/%E8%A1%A8.txt", true, "/%E8%A1%A8.txt"},
        {"relative text keeps its first '/' on", "dir/b.txt/c", true, "/b.txt/c"},
        {"no '/' at all", "b.txtxxxx", true, "b.txtxxxx"},
    };
    for (const auto& c : cases) {
        std::string path;
        EXPECT_EQ(CFileMoveResponse::GetDestinationPath(c.header, path), c.usable) << c.description;
        if (c.usable) {
            EXPECT_EQ(path, c.path) << c.description;
        }
    }
}

TEST_F(FileWriteResponseTest, UnusableDestinationsChangeNothing)
{
    Make("a.txt", "a");
    const struct {
        const char* description;
        std::string headers;
        int code;
        std::string info;
        std::string fatal;
    } cases[] = {
        {"seven bytes", "Destination: /b.txtx\r\n", 500, kBadDestination, ""},
        {"no header", "", 500, kBadDestination, ""},
        {"a control byte once decoded", "Destination: http://test/b%01.txt\r\n", 400, "異常なURLを受信しました", ""},
        {"an entry with another folder", "Destination: http://test/other/b.txt\r\n", 502, kOtherCombination, ""},
        {"a Forward entry", "Destination: http://test/fw/b.txt\r\n", 502, kOtherCombination, ""},
        {"a missing folder", "Destination: http://test/none/b.txt\r\n", 409, "出力先のフォルダーが存在しません", ""},
    };
    for (const char* method : {"COPY", "MOVE"}) {
        for (const auto& c : cases) {
            const Outcome outcome = Run(method, "/a.txt", c.headers);
            EXPECT_EQ(outcome.info, c.info) << method << ", " << c.description;
            EXPECT_EQ(outcome.fatal, c.fatal) << method << ", " << c.description;
            if (c.code != 0) {
                EXPECT_EQ(outcome.code, c.code) << method << ", " << c.description;
            }
        }
    }
    EXPECT_EQ(Tree(Native("")), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(Tree(servertest::ServerRoot() + kOtherFolder).empty());
}

// --- COPY ------------------------------------------------------------------------------

TEST_F(FileWriteResponseTest, CopyOverwritesAndKeepsTheModificationTime)
{
    Make("a.txt", "new");
    Make("b.txt", "old and longer");
    const timespec times[2] = {{1056964608, 0}, {1056964608, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Native("a.txt").c_str(), times, 0), 0);
    for (const char* headers : {"", "Overwrite: T\r\n"}) {
        const Outcome copied = Run("COPY", "/a.txt", std::string("Destination: http://test/b.txt\r\n") + headers);
        EXPECT_EQ(copied.code, 204) << headers;
        EXPECT_EQ(Read("b.txt"), "new") << headers;
        struct stat status {};
        ASSERT_EQ(::stat(Native("b.txt").c_str(), &status), 0);
        EXPECT_EQ(status.st_mtim.tv_sec, 1056964608);
        EXPECT_EQ(status.st_mtim.tv_nsec, 123456789);
        EXPECT_EQ(Tree(Native("")), (std::vector<std::string>{"a.txt", "b.txt"})) << headers;
    }
    EXPECT_EQ(Read("a.txt"), "new");
}

TEST_F(FileWriteResponseTest, CopyWithOverwriteFLeavesTheTarget)
{
    Make("a.txt", "new");
    Make("b.txt", "old");
    const Outcome refused = Run("COPY", "/a.txt", "Destination: http://test/b.txt\r\nOverwrite: F\r\n");
    EXPECT_EQ(refused.code, 412);
    EXPECT_TRUE(refused.statusPage);
    EXPECT_EQ(Read("b.txt"), "old");
    const Outcome created = Run("COPY", "/a.txt", "Destination: http://test/c.txt\r\nOverwrite: F\r\n");
    EXPECT_EQ(created.code, 201);
    EXPECT_EQ(Read("c.txt"), "new");
}

TEST_F(FileWriteResponseTest, CopyOntoItselfIsForbiddenAndLeavesTheFile)
{
    Make("a.txt", "keep me");
    Make("dir/in.txt", "in");
    ASSERT_EQ(::link(Native("a.txt").c_str(), Native("hard.txt").c_str()), 0);
    const struct {
        const char* from;
        const char* to;
    } cases[] = {
        {"/a.txt", "/a.txt"}, {"/a.txt", "/same/a.txt"}, {"/a.txt", "/hard.txt"}, {"/dir/", "/dir/"}, {"/dir/", "/dir"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = Transfer("COPY", c.from, std::string("http://test") + c.to);
        EXPECT_EQ(outcome.code, 403) << c.from << " to " << c.to;
        EXPECT_TRUE(outcome.statusPage) << c.from << " to " << c.to;
    }
    EXPECT_EQ(Read("a.txt"), "keep me");
    EXPECT_EQ(Read("dir/in.txt"), "in");
    EXPECT_EQ(Tree(Native("")), (std::vector<std::string>{"a.txt", "dir", "dir/in.txt", "hard.txt"}));
}

TEST_F(FileWriteResponseTest, CopyOfAFolderMakesEveryFileAndFolderAndReplacesTheTarget)
{
    const std::string from = kJapaneseFolderUtf8;
    Make(from + "/a.txt", "a");
    Make(from + "/" + kJapaneseNameUtf8, "j");
    Make(from + "/sub/deep/b.txt", "b");
    fs::create_directories(Native(from + "/empty/inner"));
    Make("to/a.txt", "old");
    Make("to/extra.txt", "stays");

    EXPECT_EQ(Transfer("COPY", "/表計算/", "http://test/to").code, 204);
    // RFC 4918 9.8.4: the old folder is gone, not merged into.
    EXPECT_EQ(Tree(Native("to")), (std::vector<std::string>{"a.txt", "empty", "empty/inner", "sub", "sub/deep",
                                                              "sub/deep/b.txt", kJapaneseNameUtf8}));
    EXPECT_EQ(Read("to/a.txt"), "a");
    EXPECT_EQ(Read(std::string("to/") + kJapaneseNameUtf8), "j");
    EXPECT_EQ(Read("to/sub/deep/b.txt"), "b");
    EXPECT_EQ(Read(from + "/a.txt"), "a");
}

TEST_F(FileWriteResponseTest, CopyTakesLinksAsLinksAndNeverTouchesWhatTheyPointAt)
{
    PutFile(std::string(kOutside) + "keep.txt", "outside");
    const std::string outsideFolder = servertest::ServerRoot() + kOutside;
    Make("dir/a.txt", "a");
    fs::create_directory_symlink(outsideFolder, Native("dir/out"));
    fs::create_directory_symlink(outsideFolder, Native("link"));

    EXPECT_EQ(Transfer("COPY", "/dir/", "http://test/copy/").code, 201);
    EXPECT_TRUE(fs::is_symlink(Native("copy/out")));
    EXPECT_EQ(fs::read_symlink(Native("copy/out")), outsideFolder);
    EXPECT_EQ(Transfer("COPY", "/link/", "http://test/link2").code, 201);
    EXPECT_TRUE(fs::is_symlink(Native("link2")));

    // A link in a replaced target tree goes with it, as a link, where the source has a folder.
    Make("src/out/new.txt", "n");
    EXPECT_EQ(Transfer("COPY", "/src/", "http://test/dir/").code, 204);
    EXPECT_FALSE(fs::is_symlink(Native("dir/out")));
    EXPECT_EQ(Read("dir/out/new.txt"), "n");
    EXPECT_EQ(Tree(outsideFolder), std::vector<std::string>{"keep.txt"});
}

}  // namespace
