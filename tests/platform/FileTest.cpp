#include "File.h"

#include "FileSizeLimit.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::CFile;
using platform::CReplaceWriter;
using testsupport::GetFile;
using testsupport::PutFile;
using testsupport::TempFolder;

class FileTest : public testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ + name; }

    // Replaces `name` with `bytes` through a writer; false at the first step that fails.
    bool Replace(const std::string& name, const std::string& bytes, bool overwrite = true)
    {
        CReplaceWriter writer;
        return writer.Begin(Path(name), Path(".tmp"), 0644) &&
               writer.Write(bytes.data(), static_cast<std::int64_t>(bytes.size())) &&
               writer.Finish() == CReplaceWriter::Step::Done && writer.Commit(overwrite);
    }

    TempFolder folder_;
    const std::string dir_ = folder_.Path();  // ends in '/'
};

TEST_F(FileTest, StatusAndReadAtMeasureTheOpenFileEvenAfterItsNameIsGone)
{
    PutFile(Path("f"), "0123456789");
    CFile file;
    ASSERT_TRUE(file.Open(Path("f"), CFile::Mode::Read)) << std::strerror(errno);
    ASSERT_EQ(::unlink(Path("f").c_str()), 0);

    platform::FileStatus status;
    ASSERT_TRUE(file.Status(status));
    EXPECT_EQ(status.kind, platform::PathKind::File);
    EXPECT_EQ(status.size, 10u);
    char buffer[8] = {};
    EXPECT_EQ(file.ReadAt(6, buffer, sizeof buffer), 4) << "short only at the end";
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(file.ReadAt(10, buffer, sizeof buffer), 0);
}

TEST_F(FileTest, OpenReportsTheSystemsReason)
{
    CFile file;
    EXPECT_FALSE(file.Open(Path("missing"), CFile::Mode::Read));
    EXPECT_EQ(errno, ENOENT);
    PutFile(Path("taken"), "old");
    EXPECT_FALSE(file.Open(Path("taken"), CFile::Mode::CreateNew));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(FileTest, AppendAddsAtTheEndAndMovingHandsTheDescriptorOver)
{
    PutFile(Path("log"), "a");
    CFile first;
    ASSERT_TRUE(first.Open(Path("log"), CFile::Mode::Append));
    CFile second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    ASSERT_TRUE(second.Write("bc", 2));
    EXPECT_TRUE(second.Close());
    EXPECT_EQ(GetFile(Path("log")), "abc");
}

TEST_F(FileTest, UnnamedFileHasNoNameUntilItIsLinkedAndNeverReplacesOne)
{
    CFile file;
    ASSERT_TRUE(file.OpenUnnamed(dir_, 0644)) << std::strerror(errno);
    ASSERT_TRUE(file.Write("new", 3));
    EXPECT_TRUE(folder_.Entries().empty());

    PutFile(Path("taken"), "old");
    EXPECT_FALSE(file.Link(Path("taken")));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(GetFile(Path("taken")), "old");

    EXPECT_TRUE(file.Link(Path("named")));
    file.Close();
    EXPECT_EQ(GetFile(Path("named")), "new");
}

TEST_F(FileTest, UnnamedFileInAMissingFolderFails)
{
    CFile file;
    EXPECT_FALSE(file.OpenUnnamed(Path("missing"), 0644));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(file.OpenScratch(Path("missing")));
}

TEST_F(FileTest, ReplaceWriterReplacesAndLeavesNoTemporary)
{
    PutFile(Path("target"), "old");
    EXPECT_TRUE(Replace("target", "new"));
    EXPECT_EQ(GetFile(Path("target")), "new");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"target"});
}

TEST_F(FileTest, ReplaceWriterWithoutOverwriteKeepsWhatIsThere)
{
    PutFile(Path("target"), "old");
    EXPECT_FALSE(Replace("target", "new", false));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(GetFile(Path("target")), "old");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"target"});
}

TEST_F(FileTest, ReplaceWriterDroppedBeforeCommitLeavesTheOldTargetWhole)
{
    PutFile(Path("target"), "old");
    {
        CReplaceWriter writer;
        ASSERT_TRUE(writer.Begin(Path("target"), Path(".tmp"), 0644));
        ASSERT_TRUE(writer.Write("new", 3));
        ASSERT_EQ(writer.Finish(), CReplaceWriter::Step::Done);  // named now
    }
    EXPECT_EQ(GetFile(Path("target")), "old");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"target"});
}

TEST_F(FileTest, ReplaceWriterFailingMidwayKeepsTheOldTargetAndItsReason)
{
    PutFile(Path("target"), "old");
    bool written;
    int reason;
    {
        testsupport::FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.ok());
        written = Replace("target", std::string(100000, 'n'));
        reason = errno;
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(reason, EFBIG);
    EXPECT_EQ(GetFile(Path("target")), "old");
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"target"});
}

TEST_F(FileTest, ReplaceWriterInAReadOnlyFolderFailsToBegin)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    PutFile(Path("target"), "old");
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    const bool written = Replace("target", "new");
    const int reason = errno;
    ::chmod(dir_.c_str(), 0755);
    EXPECT_FALSE(written);
    EXPECT_EQ(reason, EACCES);
    EXPECT_EQ(GetFile(Path("target")), "old");
}

}  // namespace
