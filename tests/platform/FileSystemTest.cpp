#include "FileSystem.h"

#include "FileIo.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

// When not 0, the next fstat in this process fails with this errno: a descriptor that was
// just opened cannot be made to fail its status any other way.
std::atomic<int> gFstatFailure{0};

}  // namespace

// Stands in for the C library's fstat throughout this program (the platform library is
// linked into it statically), passing every call on unless a failure is armed.
extern "C" int fstat(int fd, struct stat* status) noexcept
{
    using Fstat = int (*)(int, struct stat*);
    static const Fstat real = reinterpret_cast<Fstat>(::dlsym(RTLD_NEXT, "fstat"));
    if (const int err = gFstatFailure.exchange(0)) {
        errno = err;
        return -1;
    }
    return real(fd, status);
}

namespace {

using platform::DirectoryEntry;
using platform::DirectorySearch;
using platform::FileStatus;
using platform::PathKind;

class FileSystemTest : public testing::Test {
protected:
    // Writes through the platform layer, so the name on disk is the UTF-8 one.
    void Write(const std::string& name, const std::string& contents)
    {
        std::string error;
        ASSERT_TRUE(platform::WriteFileAtomically(root_ + name, contents, error)) << error;
    }

    std::string Read(const std::string& name)
    {
        std::string contents, error;
        EXPECT_EQ(platform::ReadWholeFile(root_ + name, contents, error), platform::FileReadResult::Read) << error;
        return contents;
    }

    bool ExistsNative(const std::string& utf8Name) { return std::filesystem::exists(root_ + utf8Name); }

    // Names that a search yields, in its order.
    std::vector<std::string> Search(const std::string& pattern, platform::Dots dots = platform::Dots::Give)
    {
        std::vector<std::string> names;
        DirectorySearch search(root_ + pattern, platform::Spelling::Cp932, dots);
        DirectoryEntry entry;
        while (search.Next(entry))
            names.push_back(entry.name);
        return names;
    }

    static std::vector<std::string> Sorted(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }

    testsupport::TempFolder folder_;
    const std::string root_ = folder_.Path();  // ends in '/'
};

TEST_F(FileSystemTest, StatusOfAFileGivesSizeAndTime)
{
    Write("a.txt", "12345");
    FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(root_ + "a.txt", status));
    EXPECT_EQ(status.kind, PathKind::File);
    EXPECT_FALSE(status.isLink);
    EXPECT_EQ(status.size, 5u);
    EXPECT_EQ(status.attributes, 0);
    struct stat st;
    ASSERT_EQ(::stat((root_ + "a.txt").c_str(), &st), 0);
    EXPECT_EQ(status.modified, st.st_mtime);
}

TEST_F(FileSystemTest, StatusOfAFolderHasTheDirectoryBit)
{
    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(root_ + "d", status));
    EXPECT_EQ(status.kind, PathKind::Directory);
    EXPECT_EQ(status.size, 0u);
    EXPECT_EQ(status.attributes, platform::kAttributeDirectory);
}

TEST_F(FileSystemTest, StatusOfAMissingPathFails)
{
    FileStatus status;
    EXPECT_FALSE(platform::GetFileStatus(root_ + "missing", status));
    EXPECT_EQ(platform::GetFileAttributes(root_ + "missing"), -1);
}

TEST_F(FileSystemTest, SpecialFilesAreNeitherFileNorFolder)
{
    ASSERT_EQ(::mkfifo((root_ + "fifo").c_str(), 0600), 0);
    FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(root_ + "fifo", status));
    EXPECT_EQ(status.kind, PathKind::Other);
    ASSERT_TRUE(platform::GetFileStatus("/dev/null", status));
    EXPECT_EQ(status.kind, PathKind::Other);
}

TEST_F(FileSystemTest, LinksAreFollowedAndReported)
{
    Write("target.txt", "abc");
    ASSERT_TRUE(platform::CreateDirectory(root_ + "dir"));
    ASSERT_EQ(::symlink("target.txt", (root_ + "tofile").c_str()), 0);
    ASSERT_EQ(::symlink("dir", (root_ + "todir").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (root_ + "dangling").c_str()), 0);

    FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(root_ + "tofile", status));
    EXPECT_TRUE(status.isLink);
    EXPECT_EQ(status.kind, PathKind::File);
    EXPECT_EQ(status.size, 3u);
    ASSERT_TRUE(platform::GetFileStatus(root_ + "todir", status));
    EXPECT_TRUE(status.isLink);
    EXPECT_EQ(status.kind, PathKind::Directory);
    ASSERT_TRUE(platform::GetFileStatus(root_ + "dangling", status));
    EXPECT_TRUE(status.isLink);
    EXPECT_EQ(status.kind, PathKind::Other);
}

TEST_F(FileSystemTest, DotNamesAreHiddenExceptDotAndDotDot)
{
    Write(".profile", "");
    ASSERT_TRUE(platform::CreateDirectory(root_ + ".cache"));
    EXPECT_EQ(platform::GetFileAttributes(root_ + ".profile"), platform::kAttributeHidden);
    EXPECT_EQ(platform::GetFileAttributes(root_ + ".cache"),
              platform::kAttributeHidden | platform::kAttributeDirectory);
    EXPECT_EQ(platform::GetFileAttributes(root_ + "."), platform::kAttributeDirectory);
    EXPECT_EQ(platform::GetFileAttributes(root_ + ".."), platform::kAttributeDirectory);
}

TEST_F(FileSystemTest, FileWithoutWriteBitsIsReadOnly)
{
    Write("locked", "");
    ASSERT_EQ(::chmod((root_ + "locked").c_str(), 0444), 0);
    EXPECT_EQ(platform::GetFileAttributes(root_ + "locked"), platform::kAttributeReadOnly);
    ASSERT_EQ(::chmod((root_ + "locked").c_str(), 0400), 0);
    EXPECT_EQ(platform::GetFileAttributes(root_ + "locked"), platform::kAttributeReadOnly);
    ASSERT_EQ(::chmod((root_ + "locked").c_str(), 0644), 0);
    EXPECT_EQ(platform::GetFileAttributes(root_ + "locked"), 0);
}

TEST_F(FileSystemTest, SearchGivesDotAndDotDotFirstThenEveryEntryOnce)
{
    for (const char* name : {"b", "a", "c.txt", ".hidden"})
        Write(name, "");
    ASSERT_TRUE(platform::CreateDirectory(root_ + "sub"));
    const std::vector<std::string> names = Search("*.*");
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], ".");
    EXPECT_EQ(names[1], "..");
    EXPECT_EQ(Sorted({names.begin() + 2, names.end()}),
              (std::vector<std::string>{".hidden", "a", "b", "c.txt", "sub"}));
    EXPECT_EQ(Sorted(Search("*.*", platform::Dots::Leave)),
              (std::vector<std::string>{".hidden", "a", "b", "c.txt", "sub"}));
}

TEST_F(FileSystemTest, EmptyFolderStillHoldsDotAndDotDot)
{
    EXPECT_EQ(Search("*.*"), (std::vector<std::string>{".", ".."}));
    EXPECT_EQ(Search("*"), (std::vector<std::string>{".", ".."}));
}

TEST_F(FileSystemTest, SearchEntriesCarryTheirStatus)
{
    Write("f", "xy");
    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    DirectorySearch search(root_ + "*.*");
    DirectoryEntry entry;
    int seen = 0;
    while (search.Next(entry)) {
        if (entry.name == "f") {
            EXPECT_EQ(entry.status.kind, PathKind::File);
            EXPECT_EQ(entry.status.size, 2u);
            ++seen;
        } else if (entry.name == "d") {
            EXPECT_EQ(entry.status.kind, PathKind::Directory);
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
    EXPECT_FALSE(search.Next(entry));  // stays ended
}

TEST_F(FileSystemTest, SearchEntriesHaveTheStatusOfTheirPaths)
{
    Write("target.txt", "abc");
    Write(".hidden", "x");
    ASSERT_TRUE(platform::CreateDirectory(root_ + "dir"));
    ASSERT_TRUE(platform::CreateDirectory(root_ + ".hiddendir"));
    ASSERT_EQ(::symlink("target.txt", (root_ + "tofile").c_str()), 0);
    ASSERT_EQ(::symlink("dir", (root_ + "todir").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (root_ + "dangling").c_str()), 0);
    ASSERT_EQ(::symlink(".hidden", (root_ + ".hiddenlink").c_str()), 0);
    ASSERT_EQ(::mkfifo((root_ + "fifo").c_str(), 0600), 0);
    Write("表示.txt", "xy");
    ASSERT_EQ(::chmod((root_ + "target.txt").c_str(), 0444), 0);

    DirectorySearch search(root_ + "*.*");
    DirectoryEntry entry;
    std::vector<std::string> names;
    while (search.Next(entry)) {
        names.push_back(entry.name);
        FileStatus byPath;
        ASSERT_TRUE(platform::GetFileStatus(root_ + entry.name, byPath)) << entry.name;
        EXPECT_EQ(entry.status.kind, byPath.kind) << entry.name;
        EXPECT_EQ(entry.status.isLink, byPath.isLink) << entry.name;
        EXPECT_EQ(entry.status.size, byPath.size) << entry.name;
        EXPECT_EQ(entry.status.modified, byPath.modified) << entry.name;
        EXPECT_EQ(entry.status.attributes, byPath.attributes) << entry.name;
        EXPECT_EQ(entry.status.permissions, byPath.permissions) << entry.name;
    }
    EXPECT_EQ(Sorted(names), Sorted({".", "..", ".hidden", ".hiddendir", ".hiddenlink", "dangling", "dir", "fifo",
                                     "target.txt", "todir", "tofile", "表示.txt"}));
}

TEST_F(FileSystemTest, NameListingGivesTheSearchNamesWithoutDots)
{
    Write("a.txt", "");
    Write(".hidden", "");
    ASSERT_TRUE(platform::CreateDirectory(root_ + "sub"));
    ASSERT_EQ(::symlink("nowhere", (root_ + "dangling").c_str()), 0);
    std::ofstream(root_ + u8"snow\u2603.txt").put('x');
    Write("表示.txt", "");

    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(platform::ListDirectoryNames(root_, names));
    std::vector<std::string> searched = Search("*.*");
    searched.erase(searched.begin(), searched.begin() + 2);  // "." and ".."
    EXPECT_EQ(names, searched);
    EXPECT_EQ(Sorted(names), Sorted({".hidden", "a.txt", "dangling", "sub", "表示.txt"}));

    names = {"stale"};
    EXPECT_FALSE(platform::ListDirectoryNames(root_ + "missing/", names));
    EXPECT_TRUE(names.empty());
}

struct MatchCase {
    const char* description;
    const char* pattern;
    std::vector<std::string> expected;  // without "." and ".."
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.description; }

class SearchPatternTable : public FileSystemTest, public testing::WithParamInterface<MatchCase> {};

TEST_P(SearchPatternTable, MatchesExpectedNames)
{
    for (const char* name : {"a.txt", "ab.txt", "表.txt", "b.TXT", "readme", "x.txt.bak"})
        Write(name, "");
    std::vector<std::string> names;
    for (const std::string& name : Search(GetParam().pattern)) {
        if (name != "." && name != "..")
            names.push_back(name);
    }
    EXPECT_EQ(Sorted(names), Sorted(GetParam().expected)) << GetParam().description;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, SearchPatternTable,
    testing::Values(
        MatchCase{"*.* matches names without a dot too", "*.*",
                  {"a.txt", "ab.txt", "表.txt", "b.TXT", "readme", "x.txt.bak"}},
        MatchCase{"a suffix is matched with its case", "*.txt", {"a.txt", "ab.txt", "表.txt"}},
        MatchCase{"? is one character, double-byte included", "?.txt", {"a.txt", "表.txt"}},
        MatchCase{"star in the middle", "a*t", {"a.txt", "ab.txt"}},
        MatchCase{"star may match nothing", "readme*", {"readme"}},
        MatchCase{"no wildcard finds that one name", "ab.txt", {"ab.txt"}},
        MatchCase{"no wildcard and no such name", "nothing", {}},
        MatchCase{"no name at all", "", {}},
        MatchCase{"nothing matches", "*.zip", {}}));

TEST_F(FileSystemTest, SearchInAMissingOrNonFolderFindsNothing)
{
    Write("file", "");
    EXPECT_TRUE(Search("missing/*.*").empty());
    EXPECT_TRUE(Search("file/*.*").empty());
    EXPECT_TRUE(Search("missing/name").empty());
}

TEST_F(FileSystemTest, JapaneseNamesAreUtf8OnDiskAndCp932InSearches)
{
    ASSERT_TRUE(platform::CreateDirectory(root_ + "設定"));
    Write("設定/表示.txt", "x");  // 表 has the trail byte 0x5C
    EXPECT_TRUE(ExistsNative(u8"設定/表示.txt"));
    EXPECT_EQ(Search("設定/*.txt"), (std::vector<std::string>{"表示.txt"}));
    FileStatus status;
    EXPECT_TRUE(platform::GetFileStatus(root_ + "設定/表示.txt", status));
}

TEST_F(FileSystemTest, NamesWithoutACp932SpellingAreLeftOut)
{
    std::ofstream(root_ + u8"snow\u2603.txt").put('x');
    std::ofstream(root_ + "bad\xff.txt").put('x');
    std::ofstream(root_ + u8"ok\u65e5.txt").put('x');
    EXPECT_EQ(Search("*.txt"), (std::vector<std::string>{"ok日.txt"}));
}

// For work on a whole tree: every name as stored, the pattern and the folder in the file
// system's spelling, a UTF-8 byte that CP932 reads as a lead byte before a '/' included.
TEST_F(FileSystemTest, StoredSpellingSearchGivesEveryNameAsStored)
{
    const std::string folder = u8"\u301c";  // E3 80 9C: 0x9C leads a CP932 character
    ASSERT_TRUE(std::filesystem::create_directory(root_ + folder));
    for (const std::string& name : {std::string(u8"snow\u2603.txt"), std::string("bad\xff.txt"),
                                    std::string(u8"ok\u65e5.txt"), std::string(u8"\u301c.dat")})
        std::ofstream(root_ + folder + "/" + name).put('x');
    std::vector<std::string> names;
    DirectorySearch search(root_ + folder + "/*.txt", platform::Spelling::Stored);
    DirectoryEntry entry;
    while (search.Next(entry)) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.status.kind, PathKind::File) << entry.name;
    }
    EXPECT_EQ(Sorted(names), Sorted({u8"snow\u2603.txt", "bad\xff.txt", u8"ok\u65e5.txt"}));

    FileStatus status;
    EXPECT_TRUE(platform::GetNativeStatus(root_ + folder + u8"/snow\u2603.txt", status));
    EXPECT_TRUE(platform::DeleteNativeFile(root_ + folder + u8"/snow\u2603.txt"));
    EXPECT_FALSE(platform::GetNativeStatus(root_ + folder + u8"/snow\u2603.txt", status));
}

// A name typed in the JIS X 0208 spelling (U+301C WAVE DASH) is listed under its CP932
// code (0x8160, which CP932 reads as U+FF5E), and once only when both spellings are there.
TEST_F(FileSystemTest, NamesInTheJisSpellingAreListedByTheirCp932Code)
{
    std::ofstream(root_ + u8"wave\u301C.txt").put('x');
    std::ofstream(root_ + u8"minus\u2212.txt") << "xy";
    std::ofstream(root_ + u8"both\u301C.txt") << "jis";
    std::ofstream(root_ + u8"both\uFF5E.txt") << "code page";
    EXPECT_EQ(Sorted(Search("*.txt")), Sorted({"both\x81\x60.txt", "minus\x81\x7C.txt", "wave\x81\x60.txt"}));
    DirectorySearch search(root_ + "minus*");
    DirectoryEntry entry;
    ASSERT_TRUE(search.Next(entry));
    EXPECT_EQ(entry.status.size, 2u);
    FileStatus status;
    EXPECT_TRUE(platform::GetFileStatus(root_ + "wave\x81\x60.txt", status));
    EXPECT_TRUE(platform::GetFileStatus(root_ + "both\x81\x60.txt", status));
    EXPECT_EQ(status.size, 9u);
}

TEST_F(FileSystemTest, CreateDirectoryFailsWhenTheNameIsTaken)
{
    EXPECT_TRUE(platform::CreateDirectory(root_ + "d"));
    EXPECT_FALSE(platform::CreateDirectory(root_ + "d"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(platform::CreateDirectory(root_ + "missing/d"));
}

TEST_F(FileSystemTest, RemoveDirectoryOnlyEmptyFolders)
{
    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    Write("d/f", "");
    EXPECT_FALSE(platform::RemoveDirectory(root_ + "d"));
    EXPECT_TRUE(platform::DeleteFile(root_ + "d/f"));
    EXPECT_TRUE(platform::RemoveDirectory(root_ + "d"));
    EXPECT_FALSE(ExistsNative("d"));
}

TEST_F(FileSystemTest, DeleteFileRefusesFoldersAndRemovesLinksNotTargets)
{
    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    EXPECT_FALSE(platform::DeleteFile(root_ + "d"));
    EXPECT_TRUE(ExistsNative("d"));
    ASSERT_EQ(::symlink("d", (root_ + "link").c_str()), 0);
    EXPECT_TRUE(platform::DeleteFile(root_ + "link"));
    EXPECT_TRUE(ExistsNative("d"));
    EXPECT_FALSE(platform::DeleteFile(root_ + "missing"));
}

TEST_F(FileSystemTest, MoveFileRenamesFilesAndFoldersButNeverReplaces)
{
    Write("a", "A");
    Write("b", "B");
    EXPECT_FALSE(platform::MoveFile(root_ + "a", root_ + "b", false));
    EXPECT_EQ(Read("a"), "A");
    EXPECT_EQ(Read("b"), "B");
    EXPECT_TRUE(platform::MoveFile(root_ + "a", root_ + "c", false));
    EXPECT_FALSE(ExistsNative("a"));
    EXPECT_EQ(Read("c"), "A");

    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    Write("d/f", "F");
    EXPECT_TRUE(platform::MoveFile(root_ + "d", root_ + "資料", false));
    EXPECT_TRUE(ExistsNative(u8"資料/f"));
    EXPECT_FALSE(platform::MoveFile(root_ + "missing", root_ + "e", false));
}

TEST_F(FileSystemTest, CopyFileCopiesContentsAndPermissions)
{
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    Write("src", big);
    ASSERT_EQ(::chmod((root_ + "src").c_str(), 0640), 0);
    ASSERT_TRUE(platform::CopyFile(root_ + "src", root_ + "写し", false));
    EXPECT_EQ(Read("写し"), big);
    struct stat st;
    ASSERT_EQ(::stat((root_ + u8"写し").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileSystemTest, CopyFileOverwritesOnlyWhenAllowed)
{
    Write("src", "new");
    Write("dst", "old");
    EXPECT_FALSE(platform::CopyFile(root_ + "src", root_ + "dst", false));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Read("dst"), "old");
    EXPECT_TRUE(platform::CopyFile(root_ + "src", root_ + "dst", true));
    EXPECT_EQ(Read("dst"), "new");
}

TEST_F(FileSystemTest, CopyFileOntoItselfFailsAndKeepsTheFile)
{
    Write("same", "keep me");
    ASSERT_EQ(::symlink("same", (root_ + "alias").c_str()), 0);
    EXPECT_FALSE(platform::CopyFile(root_ + "same", root_ + "same", true));
    EXPECT_FALSE(platform::CopyFile(root_ + "same", root_ + "alias", true));
    EXPECT_EQ(Read("same"), "keep me");
}

TEST_F(FileSystemTest, CopyFileRefusesWhatIsNoRegularFile)
{
    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    ASSERT_EQ(::mkfifo((root_ + "fifo").c_str(), 0600), 0);  // opening it must not block
    Write("f", "x");
    EXPECT_FALSE(platform::CopyFile(root_ + "d", root_ + "out", true));
    EXPECT_FALSE(platform::CopyFile(root_ + "fifo", root_ + "out", true));
    EXPECT_FALSE(platform::CopyFile(root_ + "missing", root_ + "out", true));
    EXPECT_FALSE(platform::CopyFile(root_ + "f", root_ + "d", true));
    EXPECT_FALSE(ExistsNative("out"));
}

TEST_F(FileSystemTest, CopyFileKeepsTheReasonWhenTheSourceStatusFails)
{
    Write("f", "x");
    gFstatFailure = EIO;
    EXPECT_FALSE(platform::CopyFile(root_ + "f", root_ + "out", true));
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(gFstatFailure, 0) << "the copy asked for the status";
    EXPECT_EQ(Sorted(Search("*")), (std::vector<std::string>{".", "..", "f"}));
}

TEST_F(FileSystemTest, FailedCopyLeavesNoTemporaryFile)
{
    Write("f", "x");
    Write("dst", "old");
    EXPECT_FALSE(platform::CopyFile(root_ + "f", root_ + "missing/dst", true));
    EXPECT_FALSE(platform::CopyFile(root_ + "f", root_ + "dst", false));
    ASSERT_TRUE(platform::CreateDirectory(root_ + "d"));
    EXPECT_FALSE(platform::CopyFile(root_ + "f", root_ + "d", true));
    EXPECT_EQ(Sorted(Search("*")), (std::vector<std::string>{".", "..", "d", "dst", "f"}));
}

}  // namespace
