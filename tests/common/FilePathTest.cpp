#include "FilePath.h"

#include "FileIo.h"
#include "FileSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

struct SplitCase {
    const char* description;
    const char* path;
    const char* expected;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.description; }

class GetFileNameTable : public testing::TestWithParam<SplitCase> {};
TEST_P(GetFileNameTable, GivesTextAfterLastSlash)
{
    EXPECT_EQ(GetFileName(GetParam().path), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Paths, GetFileNameTable,
    testing::Values(SplitCase{"no folder", "abc", "abc"}, SplitCase{"empty", "", ""},
                    SplitCase{"ends in a slash", "/x/", ""}, SplitCase{"root", "/", ""},
                    SplitCase{"nested", "/a/b.txt", "b.txt"}, SplitCase{"relative", "a/b", "b"},
                    SplitCase{"double-byte names", "ソフト/表示.txt", "表示.txt"},
                    SplitCase{"trail byte 0x5C is no separator", "能力", "能力"}));

class GetFileExtensionTable : public testing::TestWithParam<SplitCase> {};
TEST_P(GetFileExtensionTable, GivesTextAfterLastDot)
{
    EXPECT_EQ(GetFileExtension(GetParam().path), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Paths, GetFileExtensionTable,
    testing::Values(SplitCase{"no dot gives the whole text", "README", "README"},
                    SplitCase{"last dot only, case kept", "a.b.TXT", "TXT"},
                    SplitCase{"ends in a dot", "a.", ""}, SplitCase{"hidden name", ".profile", "profile"},
                    SplitCase{"whole path without a dot", "/srv/www/README", "/srv/www/README"},
                    SplitCase{"the dot may be a folder's", "/a.d/README", "d/README"},
                    SplitCase{"double-byte extension", "資料.テキスト", "テキスト"}));

class GetParentDirectoryTable : public testing::TestWithParam<SplitCase> {};
TEST_P(GetParentDirectoryTable, GivesFolderEndingInSlash)
{
    EXPECT_EQ(GetParentDirectory(GetParam().path), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Paths, GetParentDirectoryTable,
    testing::Values(SplitCase{"file in a folder", "/a/b.txt", "/a/"}, SplitCase{"folder path", "/a/", "/a/"},
                    SplitCase{"root", "/", "/"}, SplitCase{"file at the root", "/a", "/"},
                    SplitCase{"no slash", "abc", ""}, SplitCase{"empty", "", ""},
                    SplitCase{"relative", "a/b", "a/"}, SplitCase{"doubled slash kept once", "/a//b", "/a/"},
                    SplitCase{"double-byte folder", "/設定/表.txt", "/設定/"}));

class WithoutTrailingSlashTable : public testing::TestWithParam<SplitCase> {};
TEST_P(WithoutTrailingSlashTable, DropsEverySlashAtTheEndButARootsOwn)
{
    EXPECT_EQ(WithoutTrailingSlash(GetParam().path), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Paths, WithoutTrailingSlashTable,
    testing::Values(SplitCase{"none to drop", "/a/b", "/a/b"}, SplitCase{"one", "/a/b/", "/a/b"},
                    SplitCase{"several", "/a//", "/a"}, SplitCase{"root stays", "/", "/"},
                    SplitCase{"doubled root stays a root", "//", "/"}, SplitCase{"empty", "", ""},
                    SplitCase{"inner slashes kept", "/a//b/", "/a//b"}));

class FilePathFsTest : public testing::Test {
protected:
    void Write(const std::string& name)
    {
        std::string error;
        ASSERT_TRUE(platform::WriteFileAtomically(root_ + name, "x", error)) << error;
    }

    void MakeDir(const std::string& name) { ASSERT_TRUE(platform::CreateDirectory(root_ + name)); }

    bool IsDir(const std::string& name)
    {
        platform::FileStatus status;
        return platform::GetFileStatus(root_ + name, status) && status.kind == platform::PathKind::Directory;
    }

    testsupport::TempFolder folder_;
    const std::string root_ = folder_.Path();  // ends in '/'
};

TEST_F(FilePathFsTest, PathTypeTellsFilesFromFolders)
{
    MakeDir("dir");
    MakeDir("empty");
    Write("dir/Readme.TXT");
    EXPECT_EQ(GetPathType(root_ + "dir/"), 2);
    EXPECT_EQ(GetPathType(root_ + "dir"), 2);
    EXPECT_EQ(GetPathType(root_ + "empty/"), 2);
    EXPECT_EQ(GetPathType(root_ + "empty"), 2);
    EXPECT_EQ(GetPathType(root_ + "dir/Readme.TXT"), 1);
    EXPECT_EQ(GetPathType(root_ + "dir/Readme.TXT/"), 0);
    EXPECT_EQ(GetPathType(root_ + "missing"), 0);
    EXPECT_EQ(GetPathType(root_ + "missing/"), 0);
    EXPECT_EQ(GetPathType("/"), 2);
}

TEST_F(FilePathFsTest, PathTypeFollowsTheFileSystemsCase)
{
    // The file system here tells names apart by case: another spelling is another file.
    MakeDir("Dir");
    Write("Dir/Readme.TXT");
    EXPECT_EQ(GetPathType(root_ + "dir/readme.txt"), 0);
    EXPECT_EQ(GetPathType(root_ + "Dir/readme.txt"), 0);
}

TEST_F(FilePathFsTest, WildcardPathIsAFileOnlyWhenAFileHasThatName)
{
    MakeDir("plain");
    Write("plain/a.txt");
    EXPECT_EQ(GetPathType(root_ + "plain/*.txt"), 0);
    EXPECT_EQ(GetPathType(root_ + "plain/?.txt"), 0);
    // A search would find "." and call this a folder; a request path is no pattern.
    EXPECT_EQ(GetPathType(root_ + "plain/*"), 0);
    MakeDir("literal");
    Write("literal/*.txt");
    EXPECT_EQ(GetPathType(root_ + "literal/*.txt"), 1);
}

TEST_F(FilePathFsTest, SpecialFilesHaveNoPathType)
{
    ASSERT_EQ(::mkfifo((root_ + "fifo").c_str(), 0600), 0);
    EXPECT_EQ(GetPathType(root_ + "fifo"), 0);
    EXPECT_EQ(GetPathType("/dev/null"), 0);
}

TEST_F(FilePathFsTest, PathTypeFollowsLinks)
{
    MakeDir("dir");
    Write("file");
    ASSERT_EQ(::symlink("dir", (root_ + "todir").c_str()), 0);
    ASSERT_EQ(::symlink("file", (root_ + "tofile").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (root_ + "dangling").c_str()), 0);
    EXPECT_EQ(GetPathType(root_ + "todir/"), 2);
    EXPECT_EQ(GetPathType(root_ + "tofile"), 1);
    EXPECT_EQ(GetPathType(root_ + "dangling"), 0);
}

TEST_F(FilePathFsTest, PathTypeOfJapaneseNames)
{
    MakeDir("資料");
    Write("資料/表示.html");
    EXPECT_EQ(GetPathType(root_ + "資料/"), 2);
    EXPECT_EQ(GetPathType(root_ + "資料/表示.html"), 1);
    EXPECT_EQ(GetPathType(root_ + "資料/表示.htm"), 0);
}

TEST_F(FilePathFsTest, PathAttributes)
{
    MakeDir("dir");
    Write(".hidden");
    Write("locked");
    ASSERT_EQ(::chmod((root_ + "locked").c_str(), 0444), 0);
    Write("plain");
    EXPECT_EQ(GetPathAttributes(root_ + "dir"), 0x10);
    EXPECT_EQ(GetPathAttributes(root_ + "dir/"), 0x10);
    EXPECT_EQ(GetPathAttributes(root_ + ".hidden"), 0x02);
    EXPECT_EQ(GetPathAttributes(root_ + "locked"), 0x01);
    EXPECT_EQ(GetPathAttributes(root_ + "plain"), 0);
    EXPECT_EQ(GetPathAttributes(root_ + "missing"), -1);
    EXPECT_EQ(GetPathAttributes(root_ + "plain//"), -1);  // only one '/' is removed
    EXPECT_EQ(GetPathAttributes("/") & 0x10, 0x10);
}

TEST_F(FilePathFsTest, CreateOneDirectoryIgnoresTrailingSlashesAndBlanks)
{
    EXPECT_EQ(CreateOneDirectory(root_ + "new/  "), 1);
    EXPECT_TRUE(IsDir("new"));
    EXPECT_FALSE(IsDir("new  "));
    EXPECT_EQ(CreateOneDirectory(root_ + "new"), 0);
    EXPECT_EQ(CreateOneDirectory(root_ + "new/ / "), 0);
}

TEST_F(FilePathFsTest, CreateOneDirectoryFailures)
{
    Write("file");
    EXPECT_EQ(CreateOneDirectory(root_ + "missing/child"), -1);
    EXPECT_EQ(CreateOneDirectory(root_ + "file"), -1);
    EXPECT_EQ(CreateOneDirectory(root_ + "file/child"), -1);
    EXPECT_FALSE(IsDir("missing"));
}

TEST_F(FilePathFsTest, CreateDirectoryPathCreatesOnlyMissingLevels)
{
    MakeDir("a");
    EXPECT_EQ(CreateDirectoryPath(root_ + "a/b"), 1);
    EXPECT_TRUE(IsDir("a/b"));
    EXPECT_EQ(CreateDirectoryPath(root_ + "a/b"), 0);
    EXPECT_EQ(CreateDirectoryPath(root_ + "a/b/"), 0);
    EXPECT_EQ(CreateDirectoryPath(root_ + "x/y/z/"), 1);
    EXPECT_TRUE(IsDir("x/y/z"));
}

TEST_F(FilePathFsTest, CreateDirectoryPathReportsTheDeepestLevel)
{
    Write("file");
    EXPECT_EQ(CreateDirectoryPath(root_ + "file/sub"), -1);
    EXPECT_EQ(CreateDirectoryPath(root_ + "file"), -1);
    EXPECT_EQ(CreateDirectoryPath(""), 0);
    EXPECT_EQ(CreateDirectoryPath("/"), 0);
}

TEST_F(FilePathFsTest, CreateDirectoryPathWithJapaneseNames)
{
    EXPECT_EQ(CreateDirectoryPath(root_ + "ログ/表示/"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(root_ + u8"ログ/表示"));
    EXPECT_EQ(GetPathType(root_ + "ログ/表示/"), 2);
}

}  // namespace
