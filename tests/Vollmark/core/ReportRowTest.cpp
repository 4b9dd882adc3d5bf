#include "core/ReportRow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Keys = std::vector<std::string>;

CReportRowArray ArrayOf(const Keys& keys)
{
    CReportRowArray rows;
    for (const std::string& key : keys)
        rows.SetRow(CReportRow{0, key, {}, {}, 0}, false);
    return rows;
}

Keys KeysOf(const CReportRowArray& rows)
{
    Keys keys;
    for (int i = 0; i < rows.GetSize(); ++i)
        keys.push_back(rows.GetAt(i).key);
    return keys;
}

struct SetRowCase {
    const char* description;
    Keys before;
    const char* key;
    bool replace;
    int expectedIndex;
    int expectedSize;
};

TEST(ReportRowTest, SetRowReplacesTheFirstEqualKeyOrAppends)
{
    const SetRowCase cases[] = {
        {"empty array, replace", {}, "a", true, 0, 1},
        {"empty array, append", {}, "a", false, 0, 1},
        {"replace first of two equal keys", {"b", "a", "b"}, "b", true, 0, 3},
        {"replace last row", {"b", "a", "c"}, "c", true, 2, 3},
        {"replace without a match appends", {"b", "a"}, "c", true, 2, 3},
        {"without replace a duplicate is appended", {"b", "a"}, "b", false, 2, 3},
        {"keys differ in case", {"B"}, "b", true, 1, 2},
        {"a prefix is not equal", {"ab"}, "a", true, 1, 2},
        {"empty key matches an empty key", {"a", ""}, "", true, 1, 2},
    };
    for (const SetRowCase& c : cases) {
        CReportRowArray rows = ArrayOf(c.before);
        const int index = rows.SetRow(CReportRow{7, c.key, {"new"}, {}, 1}, c.replace);
        EXPECT_EQ(c.expectedIndex, index) << c.description;
        ASSERT_EQ(c.expectedSize, rows.GetSize()) << c.description;
        EXPECT_EQ(7, rows.GetAt(index).image) << c.description;
        EXPECT_EQ(Keys{"new"}, rows.GetAt(index).columns) << c.description;
    }
}

TEST(ReportRowTest, ReplaceOverwritesEveryFieldAndLeavesTheSecondDuplicate)
{
    CReportRowArray rows;
    rows.SetRow(CReportRow{1, "b", {"first"}, {"old password"}, 1}, false);
    rows.SetRow(CReportRow{2, "a", {"middle"}, {}, 0}, false);
    rows.SetRow(CReportRow{3, "b", {"second"}, {"kept"}, 3}, false);

    rows.SetRow(CReportRow{9, "b", {"x", "y"}, {"new password"}, 0}, true);

    const CReportRow& replaced = rows.GetAt(0);
    EXPECT_EQ(9, replaced.image);
    EXPECT_EQ((Keys{"x", "y"}), replaced.columns);
    EXPECT_EQ(Keys{"new password"}, replaced.hidden);
    EXPECT_EQ(0, replaced.number);
    const CReportRow& untouched = rows.GetAt(2);
    EXPECT_EQ(3, untouched.image);
    EXPECT_EQ(Keys{"second"}, untouched.columns);
    EXPECT_EQ(Keys{"kept"}, untouched.hidden);
    EXPECT_EQ(3, untouched.number);
}

struct FindCase {
    const char* description;
    Keys keys;
    const char* key;
    int expected;
};

TEST(ReportRowTest, FindByKeyGivesTheFirstExactMatch)
{
    const FindCase cases[] = {
        {"empty array", {}, "a", -1},
        {"first row", {"a", "b", "c"}, "a", 0},
        {"last row", {"a", "b", "c"}, "c", 2},
        {"first of duplicates", {"x", "b", "b"}, "b", 1},
        {"case matters", {"Index.html"}, "index.html", -1},
        {"no partial match", {"abc"}, "ab", -1},
        {"double-byte key", {"\x82\xA0", "\x82\xA2"}, "\x82\xA2", 1},  // あ, い
    };
    for (const FindCase& c : cases)
        EXPECT_EQ(c.expected, ArrayOf(c.keys).FindByKey(c.key)) << c.description;
}

struct SortCase {
    const char* description;
    Keys keys;
    Keys expected;
};

TEST(ReportRowTest, SortOrdersByUnsignedBytesCaseSensitively)
{
    const SortCase cases[] = {
        {"empty", {}, {}},
        {"one row", {"a"}, {"a"}},
        {"upper case before lower", {"B", "a", "A"}, {"A", "B", "a"}},
        {"a prefix first", {"abc", "ab", "a"}, {"a", "ab", "abc"}},
        {"already sorted", {"a", "b", "c"}, {"a", "b", "c"}},
        {"reversed", {"c", "b", "a"}, {"a", "b", "c"}},
        {"empty key first", {"a", ""}, {"", "a"}},
        // Bytes are unsigned: a lead byte sorts after every ASCII character.
        {"double-byte after ASCII", {"\x82\xA0", "z"}, {"z", "\x82\xA0"}},
        // ア (83 41) after あ (82 A0): the lead byte decides before the trail byte.
        {"lead byte first", {"\x83\x41", "\x82\xA0"}, {"\x82\xA0", "\x83\x41"}},
        // 亜 (88 9F), 　 (81 40), 漢 (8A BF), 漾 (E0 40)
        {"mixed double-byte keys",
         {"\x88\x9F", "\xE0\x40", "\x81\x40", "\x8A\xBF"},
         {"\x81\x40", "\x88\x9F", "\x8A\xBF", "\xE0\x40"}},
        // The trail byte 0x5C (\) of 表 compares as a byte, not as a separator.
        {"trail byte 0x5C", {"\x95\x5C" "b", "\x95\x5C" "a"}, {"\x95\x5C" "a", "\x95\x5C" "b"}},
    };
    for (const SortCase& c : cases) {
        CReportRowArray rows = ArrayOf(c.keys);
        rows.Sort();
        EXPECT_EQ(c.expected, KeysOf(rows)) << c.description;
    }
}

TEST(ReportRowTest, SortKeepsEqualKeysInOrderAndMovesEveryField)
{
    CReportRowArray rows;
    rows.SetRow(CReportRow{1, "b", {"b1"}, {"secret b1"}, 11}, false);
    rows.SetRow(CReportRow{2, "a", {"a"}, {"secret a"}, 22}, false);
    rows.SetRow(CReportRow{3, "b", {"b2"}, {"secret b2"}, 33}, false);

    rows.Sort();

    const struct {
        int image;
        const char* column;
        const char* hidden;
        int number;
    } expected[] = {{2, "a", "secret a", 22}, {1, "b1", "secret b1", 11}, {3, "b2", "secret b2", 33}};
    ASSERT_EQ(3, rows.GetSize());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i].image, rows.GetAt(i).image) << i;
        EXPECT_EQ(Keys{expected[i].column}, rows.GetAt(i).columns) << i;
        EXPECT_EQ(Keys{expected[i].hidden}, rows.GetAt(i).hidden) << i;
        EXPECT_EQ(expected[i].number, rows.GetAt(i).number) << i;
    }
}

struct RemoveCase {
    const char* description;
    std::vector<int> indices;
    Keys expected;
};

TEST(ReportRowTest, RemoveAtTakesEveryNamedRow)
{
    const RemoveCase cases[] = {
        {"nothing", {}, {"a", "b", "c", "d"}},
        {"first", {0}, {"b", "c", "d"}},
        {"last (n-1)", {3}, {"a", "b", "c"}},
        {"first and third", {0, 2}, {"b", "d"}},
        {"given out of order", {3, 0, 1}, {"c"}},
        {"repeated", {1, 1}, {"a", "c", "d"}},
        {"all", {0, 1, 2, 3}, {}},
        {"negative passed over", {-1, 0}, {"b", "c", "d"}},
        {"n and n+1 passed over", {4, 5, 2}, {"a", "b", "d"}},
    };
    for (const RemoveCase& c : cases) {
        CReportRowArray rows = ArrayOf({"a", "b", "c", "d"});
        rows.RemoveAt(c.indices);
        EXPECT_EQ(c.expected, KeysOf(rows)) << c.description;
    }
}


}  // namespace
