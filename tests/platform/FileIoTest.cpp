#include "FileIo.h"

#include "FileSizeLimit.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::FileReadResult;
using testsupport::FileSizeLimit;
using testsupport::GetFile;
using testsupport::PutFile;
using testsupport::TempFolder;

class FileIoTest : public testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ + name; }

    TempFolder folder_;
    const std::string dir_ = folder_.Path();  // ends in '/'
};

TEST_F(FileIoTest, ReadsAWholeFileWithZeroBytesAndMoreThanOneBlock)
{
    std::string bytes(200000, 'x');
    bytes[5] = '\0';
    bytes[199999] = '\xFF';
    PutFile(Path("big"), bytes);
    std::string contents, error;
    EXPECT_EQ(platform::ReadWholeFile(Path("big"), contents, error), FileReadResult::Read);
    EXPECT_EQ(contents, bytes);
}

TEST(UniqueTempSuffixTest, NamesTheProcessAndNeverRepeats)
{
    const std::string first = platform::UniqueTempSuffix();
    const std::string second = platform::UniqueTempSuffix();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(std::to_string(::getpid()) + "_", 0), 0u) << first;
}

TEST_F(FileIoTest, ReadsAnEmptyFile)
{
    PutFile(Path("empty"), "");
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
    // With and without the final '/'.
    for (const std::string& dir : {dir_, dir_.substr(0, dir_.size() - 1)}) {
        std::string contents = "stale", error;
        EXPECT_EQ(platform::ReadWholeFile(dir, contents, error), FileReadResult::Failed) << dir;
        EXPECT_EQ(contents, "") << dir;
        EXPECT_NE(error.find(dir), std::string::npos) << error;
    }
}

TEST_F(FileIoTest, ConvertsCp932PathsToUtf8Names)
{
    EXPECT_EQ(platform::NativePath("/tmp/設定.xml"), u8"/tmp/設定.xml");
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("設定.xml"), "abc", error)) << error;
    EXPECT_EQ(GetFile(dir_ + u8"設定.xml"), "abc");
    std::string contents;
    EXPECT_EQ(platform::ReadWholeFile(Path("設定.xml"), contents, error), FileReadResult::Read);
    EXPECT_EQ(contents, "abc");
}

// 0x8160 reads as U+FF5E in CP932 and as U+301C (WAVE DASH) in JIS X 0208, which Linux
// and macOS input methods type; 0x817C likewise as U+FF0D and U+2212.
TEST_F(FileIoTest, NativePathLeadsToANameOnDiskInEitherSpelling)
{
    const std::string wave = "\x81\x60";
    const std::string minus = "\x81\x7C";
    ASSERT_EQ(::mkdir((dir_ + u8"a\u301Cb").c_str(), 0755), 0);
    PutFile(dir_ + u8"a\u301Cb/1\u22122.txt", "jis");
    PutFile(dir_ + u8"both\u301C.txt", "jis");
    PutFile(dir_ + u8"both\uFF5E.txt", "code page");

    EXPECT_EQ(platform::NativePath(Path("a" + wave + "b/1" + minus + "2.txt")), dir_ + u8"a\u301Cb/1\u22122.txt");
    EXPECT_EQ(platform::NativePath(Path("a" + wave + "b/")), dir_ + u8"a\u301Cb/");
    std::string contents, error;
    EXPECT_EQ(platform::ReadWholeFile(Path("a" + wave + "b/1" + minus + "2.txt"), contents, error),
              FileReadResult::Read)
        << error;
    EXPECT_EQ(contents, "jis");
    // The code page's spelling, where it is there too, and for whatever is new.
    EXPECT_EQ(platform::NativePath(Path("both" + wave + ".txt")), dir_ + u8"both\uFF5E.txt");
    EXPECT_EQ(platform::NativePath(Path("a" + wave + "b/new" + wave + ".txt")), dir_ + u8"a\u301Cb/new\uFF5E.txt");
    EXPECT_EQ(platform::NativePath(Path("gone" + wave + "/x" + minus)), dir_ + u8"gone\uFF5E/x\uFF0D");
    EXPECT_EQ(platform::NativePath("/tmp/plain/a.txt"), "/tmp/plain/a.txt");
}

TEST_F(FileIoTest, WritesANewFileAndLeavesNoTemporaryFile)
{
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("new"), std::string("a\0b", 3), error)) << error;
    EXPECT_EQ(GetFile(Path("new")), std::string("a\0b", 3));
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"new"});
}

TEST_F(FileIoTest, ReplacesByRenameSoThatOtherLinksKeepTheOldBytes)
{
    PutFile(Path("target"), "old contents");
    ASSERT_EQ(::link(Path("target").c_str(), Path("backup").c_str()), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("target"), "new", error)) << error;
    EXPECT_EQ(GetFile(Path("target")), "new");
    // A truncate-and-write in place would have changed the shared inode.
    EXPECT_EQ(GetFile(Path("backup")), "old contents");
}

TEST_F(FileIoTest, WritesThroughASymbolicLinkAndKeepsTheLink)
{
    PutFile(Path("real"), "old");
    ASSERT_EQ(::symlink("real", Path("link").c_str()), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("link"), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(GetFile(Path("real")), "new");
}

TEST_F(FileIoTest, KeepsThePermissionsOfTheReplacedFile)
{
    PutFile(Path("target"), "old");
    ASSERT_EQ(::chmod(Path("target").c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("target"), "new", error)) << error;
    struct stat st;
    ASSERT_EQ(::stat(Path("target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FileIoTest, OwnerOnlyCreatesAPrivateFileAndNarrowsAReplacedOne)
{
    const mode_t umask = ::umask(0);
    const struct {
        const char* description;
        int before;  // -1: no file yet
        unsigned after;
    } cases[] = {
        {"new file, whatever the umask", -1, 0600},
        {"others' bits dropped", 0666, 0600},
        {"group's bits dropped", 0640, 0600},
        {"owner's bits kept", 0700, 0700},
    };
    for (const auto& c : cases) {
        ::unlink(Path("secret").c_str());
        if (c.before >= 0) {
            PutFile(Path("secret"), "old");
            ASSERT_EQ(::chmod(Path("secret").c_str(), static_cast<mode_t>(c.before)), 0);
        }
        std::string error;
        ASSERT_TRUE(platform::WriteFileAtomically(Path("secret"), "new", error, platform::FileAccess::OwnerOnly))
            << error;
        struct stat st;
        ASSERT_EQ(::stat(Path("secret").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after) << c.description;
        EXPECT_EQ(GetFile(Path("secret")), "new");
    }
    ::umask(umask);
}

TEST_F(FileIoTest, AReplacedFileKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a privileged process writes another user's file";
    constexpr uid_t kOtherUser = 65534;  // nobody
    constexpr gid_t kOtherGroup = 65534;
    PutFile(Path("theirs"), "old");
    ASSERT_EQ(::chown(Path("theirs").c_str(), kOtherUser, kOtherGroup), 0);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(Path("theirs"), "new", error, platform::FileAccess::OwnerOnly)) << error;
    struct stat st;
    ASSERT_EQ(::stat(Path("theirs").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOtherUser);
    EXPECT_EQ(st.st_gid, kOtherGroup);
}

TEST_F(FileIoTest, FailsWhenTheParentIsARegularFile)
{
    PutFile(Path("file"), "x");
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically(Path("file/target"), "new", error));
    EXPECT_NE(error.find(Path("file/target")), std::string::npos) << error;
    EXPECT_EQ(GetFile(Path("file")), "x");
}

TEST_F(FileIoTest, FailsOnADirectoryAndLeavesItAndNoTemporaryFile)
{
    ASSERT_TRUE(fs::create_directory(Path("sub")));
    PutFile(Path("sub/inside"), "keep");
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically(Path("sub"), "new", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(GetFile(Path("sub/inside")), "keep");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"sub"});
}

TEST_F(FileIoTest, FailsInAReadOnlyDirectoryAndKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories";
    PutFile(Path("target"), "old");
    ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically(Path("target"), "new", error));
    ::chmod(dir_.c_str(), 0700);
    EXPECT_EQ(GetFile(Path("target")), "old");
}

TEST_F(FileIoTest, AFailedWriteKeepsTheOldFileAndRemovesTheTemporaryFile)
{
    PutFile(Path("target"), "old contents");
    bool written;
    std::string error;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.ok());
        written = platform::WriteFileAtomically(Path("target"), std::string(100000, 'n'), error);
    }
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(Path("target")), std::string::npos) << error;
    EXPECT_EQ(GetFile(Path("target")), "old contents");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"target"});
}

TEST_F(FileIoTest, NativeVariantsTakeNamesAsTheyAreAndReportThroughErrno)
{
    std::string contents = "stale";
    errno = 0;
    EXPECT_FALSE(platform::ReadNativeFile(Path("none"), contents));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(contents, "");

    // A UTF-8 name is used as it is, not converted as a CP932 one would be.
    ASSERT_TRUE(platform::WriteNativeFileAtomically(dir_ + u8"設定", "abc"));
    EXPECT_EQ(GetFile(dir_ + u8"設定"), "abc");
    EXPECT_TRUE(platform::ReadNativeFile(dir_ + u8"設定", contents));
    EXPECT_EQ(contents, "abc");

    PutFile(Path("file"), "x");
    errno = 0;
    EXPECT_FALSE(platform::WriteNativeFileAtomically(Path("file/target"), "new"));
    EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(FileIoTest, AFailedNativeWriteKeepsItsReasonAndTheOldFile)
{
    PutFile(Path("target"), "old contents");
    bool written;
    int reason;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.ok());
        written = platform::WriteNativeFileAtomically(Path("target"), std::string(100000, 'n'));
        reason = errno;
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(reason, EFBIG) << "cleaning up must not overwrite the reason";
    EXPECT_EQ(GetFile(Path("target")), "old contents");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"target"});
}

}  // namespace
