#include "FileIo.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::FileReadResult;

class FileIoTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "FileIoTest.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    static void Put(const std::string& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string dir_;
};

TEST_F(FileIoTest, ReadsAWholeFileWithZeroBytesAndMoreThanOneBlock)
{
    std::string bytes(200000, 'x');
    bytes[5] = '\0';
    bytes[199999] = '\xFF';
    Put(Path("big"), bytes);
    std::string contents, error;
    EXPECT_EQ(platform::ReadWholeFile(Path("big"), contents, error), FileReadResult::Read);
    EXPECT_EQ(contents, bytes);
}

TEST_F(FileIoTest, ReadsAnEmptyFile)
{
    Put(Path("empty"), "");
    std::string contents = "stale", error;
    EXPECT_EQ(platform::ReadWholeFile(Path("empty"), contents, error), FileReadResult::Read);
    EXPECT_EQ(contents, "");
}

TEST_F(FileIoTest, ReportsAMissingFileByName)
{
    std::string contents = "stale", error;
    EXPECT_EQ(platform::ReadWholeFile(Path("none"), contents, error), FileReadResult::Missing);
    EXPECT_EQ(contents, "");
    EXPECT_NE(error.find(Path("none")), std::string::npos) << error;
}

TEST_F(FileIoTest, ReportsADirectoryAsAFailedRead)
{
    std::string contents = "stale", error;
    EXPECT_EQ(platform::ReadWholeFile(dir_, contents, error), FileReadResult::Failed);
    EXPECT_EQ(contents, "");
    EXPECT_NE(error.find(dir_), std::string::npos) << error;
}

TEST_F(FileIoTest, ConvertsCp932PathsToUtf8Names)
{
    EXPECT_EQ(platform::NativePath("/tmp/設定.xml"), u8"/tmp/設定.xml");
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("設定.xml"), "abc", error)) << error;
    EXPECT_EQ(Get(dir_ + u8"/設定.xml"), "abc");
    std::string contents;
    EXPECT_EQ(platform::ReadWholeFile(Path("設定.xml"), contents, error), FileReadResult::Read);
    EXPECT_EQ(contents, "abc");
}

TEST_F(FileIoTest, WritesANewFileAndLeavesNoTemporaryFile)
{
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("new"), std::string("a\0b", 3), error)) << error;
    EXPECT_EQ(Get(Path("new")), std::string("a\0b", 3));
    EXPECT_EQ(Entries(), std::vector<std::string>{"new"});
}

TEST_F(FileIoTest, ReplacesByRenameSoThatOtherLinksKeepTheOldBytes)
{
    Put(Path("target"), "old contents");
    ASSERT_EQ(::link(Path("target").c_str(), Path("backup").c_str()), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("target"), "new", error)) << error;
    EXPECT_EQ(Get(Path("target")), "new");
    // A truncate-and-write in place would have changed the shared inode.
    EXPECT_EQ(Get(Path("backup")), "old contents");
}

TEST_F(FileIoTest, WritesThroughASymbolicLinkAndKeepsTheLink)
{
    Put(Path("real"), "old");
    ASSERT_EQ(::symlink("real", Path("link").c_str()), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("link"), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(Get(Path("real")), "new");
}

TEST_F(FileIoTest, KeepsThePermissionsOfTheReplacedFile)
{
    Put(Path("target"), "old");
    ASSERT_EQ(::chmod(Path("target").c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("target"), "new", error)) << error;
    struct stat st;
    ASSERT_EQ(::stat(Path("target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FileIoTest, FailsWhenTheParentIsARegularFile)
{
    Put(Path("file"), "x");
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically(Path("file/target"), "new", error));
    EXPECT_NE(error.find(Path("file/target")), std::string::npos) << error;
    EXPECT_EQ(Get(Path("file")), "x");
}

TEST_F(FileIoTest, FailsOnADirectoryAndLeavesItAndNoTemporaryFile)
{
    ASSERT_TRUE(fs::create_directory(Path("sub")));
    Put(Path("sub/inside"), "keep");
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically(Path("sub"), "new", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Get(Path("sub/inside")), "keep");
    EXPECT_EQ(Entries(), std::vector<std::string>{"sub"});
}

TEST_F(FileIoTest, FailsInAReadOnlyDirectoryAndKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories";
    Put(Path("target"), "old");
    ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically(Path("target"), "new", error));
    ::chmod(dir_.c_str(), 0700);
    EXPECT_EQ(Get(Path("target")), "old");
}

// Lowers the file size limit so that writing the temporary file fails midway; root is
// bound by it too. SIGXFSZ is ignored meanwhile so the write reports EFBIG instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    sighandler_t oldHandler_;
    bool ok_ = false;
};

TEST_F(FileIoTest, AFailedWriteKeepsTheOldFileAndRemovesTheTemporaryFile)
{
    Put(Path("target"), "old contents");
    bool written;
    std::string error;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.ok());
        written = platform::WriteFileAtomically(Path("target"), std::string(100000, 'n'), error);
    }
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(Path("target")), std::string::npos) << error;
    EXPECT_EQ(Get(Path("target")), "old contents");
    EXPECT_EQ(Entries(), std::vector<std::string>{"target"});
}

}  // namespace
