#include "process/OutputSpool.h"

#include "ScopedEnvironment.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

namespace {

constexpr int32_t kMemory = COutputSpool::kMinMemoryPart;

// Bytes whose value tells their position, so that a lost or shifted piece shows.
std::string Pattern(size_t size, size_t from = 0)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(((from + i) * 131 + (from + i) / 251) & 0xFF);
    return bytes;
}

// The names in a folder other than "." and "..".
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

class OutputSpoolTest : public testing::Test {
protected:
    testsupport::TempFolder temp_;
    testsupport::ScopedEnvironment tmpdir_{"TMPDIR", temp_.Path()};
};

TEST_F(OutputSpoolTest, KeepsEveryByteAroundTheMemoryPart)
{
    const struct {
        const char* description;
        size_t size;
        bool spooled;
    } cases[] = {
        {"nothing", 0, false},
        {"one byte short of the memory part", kMemory - 1, false},
        {"the memory part exactly", kMemory, false},
        {"one byte more", kMemory + 1, true},
        {"many times the memory part", 50 * kMemory + 7, true},
    };
    for (const auto& c : cases) {
        COutputSpool spool(kMemory);
        const std::string bytes = Pattern(c.size);
        // In uneven pieces, so that pieces straddle the boundary.
        for (size_t at = 0; at < bytes.size(); at += 1000)
            ASSERT_TRUE(spool.Append(bytes.data() + at, static_cast<int64_t>(std::min<size_t>(1000, bytes.size() - at))));
        EXPECT_EQ(spool.GetLength(), static_cast<int64_t>(c.size)) << c.description;
        EXPECT_EQ(spool.IsSpooled(), c.spooled) << c.description;
        EXPECT_TRUE(spool.ReadAll() == bytes) << c.description;
    }
}

TEST_F(OutputSpoolTest, ReadsAcrossTheBoundaryAfterTheFrontIsDropped)
{
    COutputSpool spool(kMemory);
    const std::string bytes = Pattern(3 * kMemory);
    ASSERT_TRUE(spool.Append(bytes.data(), static_cast<int64_t>(bytes.size())));
    spool.DropFront(100);
    EXPECT_EQ(spool.GetLength(), 3 * kMemory - 100);
    std::string piece(200, '\0');
    EXPECT_EQ(spool.Read(kMemory - 200, piece.data(), 200), 200);
    EXPECT_EQ(piece, bytes.substr(kMemory - 100, 200));
    EXPECT_EQ(spool.Read(3 * kMemory - 150, piece.data(), 200), 50);
    EXPECT_EQ(spool.Read(3 * kMemory, piece.data(), 200), 0);
    spool.Clear();
    EXPECT_EQ(spool.GetLength(), 0);
    EXPECT_EQ(spool.ReadAll(), "");
}

TEST_F(OutputSpoolTest, FileHasNoNameAndGoesWithTheSpool)
{
    {
        COutputSpool spool(kMemory);
        const std::string bytes = Pattern(2 * kMemory);
        ASSERT_TRUE(spool.Append(bytes.data(), static_cast<int64_t>(bytes.size())));
        ASSERT_TRUE(spool.IsSpooled());
        EXPECT_TRUE(Names(temp_.Path()).empty());
    }
    EXPECT_TRUE(Names(temp_.Path()).empty());
}

TEST_F(OutputSpoolTest, TemporaryFolderThatCannotTakeAFileFailsTheAppend)
{
    const testsupport::ScopedEnvironment missing("TMPDIR", temp_.Path() + "missing");
    COutputSpool spool(kMemory);
    const std::string bytes = Pattern(kMemory + 1);
    EXPECT_FALSE(spool.Append(bytes.data(), static_cast<int64_t>(bytes.size())));
    // What fitted in memory stays readable.
    EXPECT_EQ(spool.GetLength(), kMemory);
    EXPECT_TRUE(spool.ReadAll() == bytes.substr(0, kMemory));
}

}  // namespace
