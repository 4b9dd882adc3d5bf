#include "FileList.h"

#include "FileIo.h"
#include "FilePath.h"
#include "FileSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

class FileListTest : public testing::Test {
protected:
    void SetUp() override { MakeDir(""); }

    void Write(const std::string& name, std::size_t size)
    {
        std::string error;
        ASSERT_TRUE(platform::WriteFileAtomically(root_ + name, std::string(size, 'x'), error)) << error;
    }

    void MakeDir(const std::string& name) { ASSERT_TRUE(platform::CreateDirectory(root_ + name)); }

    static std::vector<std::string> Entries(const CFileList& list)
    {
        std::vector<std::string> entries;
        for (int i = 0; i < list.GetCount(); ++i)
            entries.push_back(list.GetAt(i));
        return entries;
    }

    static std::vector<std::string> Sorted(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }

    std::vector<std::string> Paths(std::initializer_list<const char*> names) const
    {
        std::vector<std::string> paths;
        for (const char* name : names)
            paths.push_back(root_ + name);
        return paths;
    }

    testsupport::TempFolder folder_;
    const std::string base_ = folder_.Path();  // ends in '/'
    const std::string root_ = base_ + "tree/";  // the tree under test, ends in '/'
};

TEST_F(FileListTest, NewListIsEmpty)
{
    CFileList list;
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetTotalSize(), 0.0);
    EXPECT_EQ(list.GetAt(0), "");
}

TEST_F(FileListTest, RecursiveScanListsEveryFileAndSumsTheirSizes)
{
    Write("a", 10);
    Write(".hidden", 1);
    MakeDir("sub");
    Write("sub/b", 100);
    MakeDir("sub/deep");
    Write("sub/deep/c", 1000);
    MakeDir("empty");

    CFileList list;
    EXPECT_EQ(list.ScanFiles(root_ + "*.*", true), 0);
    EXPECT_EQ(Sorted(Entries(list)), Sorted(Paths({"a", ".hidden", "sub/b", "sub/deep/c"})));
    EXPECT_EQ(list.GetTotalSize(), 1111.0);
}

TEST_F(FileListTest, RecursiveScanKeepsEachFoldersFilesTogether)
{
    for (const char* dir : {"p", "q", "p/r"})
        MakeDir(dir);
    for (const char* file : {"1", "2", "p/3", "p/4", "p/r/5", "p/r/6", "q/7", "q/8"})
        Write(file, 1);
    CFileList list;
    list.ScanFiles(root_ + "*.*", true);
    const std::vector<std::string> entries = Entries(list);
    ASSERT_EQ(entries.size(), 8u);
    // Pre-order: the entries below one folder form one run, never split by others.
    for (const std::string& folder : {root_ + "p/", root_ + "q/", root_ + "p/r/"}) {
        std::vector<int> at;
        for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
            if (entries[i].compare(0, folder.size(), folder) == 0)
                at.push_back(i);
        }
        ASSERT_FALSE(at.empty());
        EXPECT_EQ(at.back() - at.front() + 1, static_cast<int>(at.size())) << folder;
    }
}

TEST_F(FileListTest, FlatScanSkipsSubfolders)
{
    Write("a", 3);
    MakeDir("sub");
    Write("sub/b", 5);
    CFileList list;
    list.ScanFiles(root_ + "*.*", false);
    EXPECT_EQ(Entries(list), Paths({"a"}));
    EXPECT_EQ(list.GetTotalSize(), 3.0);
}

TEST_F(FileListTest, EachScanAppendsButTotalsOnlyItself)
{
    Write("a", 3);
    MakeDir("sub");
    Write("sub/b", 5);
    CFileList list;
    list.ScanFiles(root_ + "*.*", false);
    list.ScanFiles(root_ + "sub/*.*", false);
    EXPECT_EQ(Entries(list), Paths({"a", "sub/b"}));
    EXPECT_EQ(list.GetTotalSize(), 5.0);
}

TEST_F(FileListTest, ScanOfAMissingFolderFindsNothing)
{
    CFileList list;
    EXPECT_EQ(list.ScanFiles(root_ + "missing/*.*", true), 0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetTotalSize(), 0.0);
    EXPECT_EQ(list.AddDirectories(root_ + "missing/*.*"), 0);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(FileListTest, ScanUsesTheSamePatternInSubfolders)
{
    MakeDir("x.txt");
    MakeDir("other");
    Write("a.txt", 1);
    Write("a.dat", 1);
    Write("x.txt/b.txt", 1);
    Write("x.txt/b.dat", 1);
    Write("other/c.txt", 1);
    CFileList list;
    list.ScanFiles(root_ + "*.txt", true);
    EXPECT_EQ(Sorted(Entries(list)), Sorted(Paths({"a.txt", "x.txt/b.txt"})));
}

TEST_F(FileListTest, AddDirectoriesListsDeepestFirst)
{
    MakeDir("a");
    MakeDir("a/b");
    MakeDir("a/b/c");
    Write("a/b/file", 1);
    CFileList list;
    EXPECT_EQ(list.AddDirectories(root_ + "*.*"), 0);
    EXPECT_EQ(Entries(list), Paths({"a/b/c", "a/b", "a"}));
}

TEST_F(FileListTest, AddDirectoriesPutsEveryFolderAfterItsSubfolders)
{
    for (const char* dir : {"a", "a/x", "a/y", "a/y/z", "b"})
        MakeDir(dir);
    CFileList list;
    list.AddDirectories(root_ + "*.*");
    const std::vector<std::string> entries = Entries(list);
    EXPECT_EQ(Sorted(entries), Sorted(Paths({"a", "a/x", "a/y", "a/y/z", "b"})));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        for (std::size_t j = i + 1; j < entries.size(); ++j)
            EXPECT_NE(entries[j].rfind(entries[i] + "/", 0), 0u) << entries[i] << " before " << entries[j];
    }
}

TEST_F(FileListTest, RemovingInListOrderEmptiesTheTree)
{
    for (const char* dir : {"a", "a/b", "a/b/c", "d"})
        MakeDir(dir);
    for (const char* file : {"f", "a/f", "a/b/f", "a/b/c/f", "d/f"})
        Write(file, 2);
    CFileList files, folders;
    files.ScanFiles(root_ + "*.*", true);
    folders.AddDirectories(root_ + "*.*");
    for (int i = 0; i < files.GetCount(); ++i)
        EXPECT_TRUE(platform::DeleteFile(files.GetAt(i))) << files.GetAt(i);
    for (int i = 0; i < folders.GetCount(); ++i)
        EXPECT_TRUE(platform::RemoveDirectory(folders.GetAt(i))) << folders.GetAt(i);
    EXPECT_TRUE(platform::RemoveDirectory(root_));
}

TEST_F(FileListTest, LinkToAnEnclosingFolderIsListedNotEntered)
{
    MakeDir("sub");
    Write("sub/f", 4);
    ASSERT_EQ(::symlink("..", (root_ + "sub/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (root_ + "self").c_str()), 0);
    CFileList files, folders;
    files.ScanFiles(root_ + "*.*", true);
    folders.AddDirectories(root_ + "*.*");
    EXPECT_EQ(Sorted(Entries(files)), Sorted(Paths({"self", "sub/f", "sub/up"})));
    EXPECT_EQ(files.GetTotalSize(), 4.0);
    EXPECT_EQ(Entries(folders), Paths({"sub"}));
}

TEST_F(FileListTest, LinkOutOfTheTreeIsListedNotEntered)
{
    ASSERT_TRUE(platform::CreateDirectory(base_ + "outside"));
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(base_ + "outside/secret", "s", error)) << error;
    ASSERT_EQ(::symlink("../outside", (root_ + "out").c_str()), 0);
    Write("mine", 1);

    CFileList files, folders;
    files.ScanFiles(root_ + "*.*", true);
    folders.AddDirectories(root_ + "*.*");
    EXPECT_EQ(Sorted(Entries(files)), Sorted(Paths({"mine", "out"})));
    EXPECT_EQ(folders.GetCount(), 0);

    // Removing what the lists name takes the link away, not what it points to.
    for (int i = 0; i < files.GetCount(); ++i)
        EXPECT_TRUE(platform::DeleteFile(files.GetAt(i)));
    EXPECT_EQ(GetPathType(base_ + "outside/secret"), 1);
}

TEST_F(FileListTest, LinkToAFileCountsTheTargetsSize)
{
    Write("real", 7);
    ASSERT_EQ(::symlink("real", (root_ + "alias").c_str()), 0);
    CFileList list;
    list.ScanFiles(root_ + "*.*", true);
    EXPECT_EQ(Sorted(Entries(list)), Sorted(Paths({"alias", "real"})));
    EXPECT_EQ(list.GetTotalSize(), 14.0);
}

// A tree is removed or copied whole: every name is listed as the file system stores it,
// also one that has no CP932 spelling and that searches leave out.
TEST_F(FileListTest, NamesAreListedAsStoredAlsoThoseWithoutACp932Spelling)
{
    MakeDir("資料");
    MakeDir("資料/表示");           // 表 ends in the byte 0x5C
    Write("報告書.txt", 6);
    Write("資料/ソフト.dat", 5);    // so does ソ
    Write("資料/表示/能力.csv", 4);  // and 能
    const std::string waveDash = u8"\u301c";  // its UTF-8 ends in a byte that CP932 leads with
    ASSERT_TRUE(std::filesystem::create_directory(root_ + waveDash));
    std::ofstream(root_ + waveDash + u8"/café.txt") << "12";
    ASSERT_TRUE(std::filesystem::exists(root_ + u8"資料/表示/能力.csv"));

    CFileList files, folders;
    files.ScanFiles(root_ + "*.*", true);
    folders.AddDirectories(root_ + "*.*");
    const std::vector<std::string> expected = {root_ + u8"報告書.txt", root_ + u8"資料/ソフト.dat",
                                               root_ + u8"資料/表示/能力.csv", root_ + waveDash + u8"/café.txt"};
    EXPECT_EQ(Sorted(Entries(files)), Sorted(expected));
    EXPECT_EQ(files.GetTotalSize(), 17.0);
    EXPECT_EQ(Sorted(Entries(folders)), Sorted({root_ + u8"資料/表示", root_ + u8"資料", root_ + waveDash}));
    const std::vector<std::string> listed = Entries(folders);
    EXPECT_LT(std::find(listed.begin(), listed.end(), root_ + u8"資料/表示") - listed.begin(),
              std::find(listed.begin(), listed.end(), root_ + u8"資料") - listed.begin());
    for (int i = 0; i < files.GetCount(); ++i) {
        platform::FileStatus status;
        EXPECT_TRUE(platform::GetNativeStatus(files.GetAt(i), status)) << i;
        EXPECT_EQ(status.kind, platform::PathKind::File) << i;
    }
}

TEST_F(FileListTest, GetAtOutsideTheListIsEmpty)
{
    Write("a", 1);
    CFileList list;
    list.ScanFiles(root_ + "*.*", false);
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetAt(0), root_ + "a");
    EXPECT_EQ(list.GetAt(1), "");
    EXPECT_EQ(list.GetAt(-1), "");
}

}  // namespace
