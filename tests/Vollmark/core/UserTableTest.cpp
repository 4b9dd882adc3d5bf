// The users dialog's lists and the account nodes they stand for: what a node reads as, what
// a list stores, and the rows of imported accounts.

#include "core/UserTable.h"

#include "SettingTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ReadFromSetting;
using testsupport::SettingLeaves;
using testsupport::StoreIntoSetting;
using Strings = std::vector<std::string>;

// "key|columns|hidden": a row as one text.
std::string Shown(const CReportRow& row)
{
    std::string text = row.key + "|";
    for (const std::string& column : row.columns)
        text += column + ",";
    text += "|";
    for (const std::string& hidden : row.hidden)
        text += hidden + ",";
    return text;
}

TEST(UserTableTest, AccountsAreReadByTheirLeavesWhateverTheirChildNames)
{
    const struct {
        const char* description;
        SettingLeaves stored;
        const schema::NodeKey& node;
        Strings rows;
    } cases[] = {
        {"no node gives no row", {}, schema::kEnabledUsers, {}},
        {"a child named apart from its user",
         {{"User::Enable::User_0::User", "bob"},
          {"User::Enable::User_0::Passwd", "pw-b"},
          {"User::Enable::User_0::Comment", "営業"}},
         schema::kEnabledUsers,
         {"bob|営業,|pw-b,"}},
        {"missing leaves read as empty", {{"User::Enable::x::User", "eve"}}, schema::kEnabledUsers, {"eve|,|,"}},
        {"stored order, not name order",
         {{"User::Disable::z::User", "zed"}, {"User::Disable::a::User", "amy"}},
         schema::kDisabledUsers,
         {"zed|,|,", "amy|,|,"}},
        {"the other node is not read", {{"User::Disable::c::User", "carol"}}, schema::kEnabledUsers, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Strings rows = ReadFromSetting(c.stored, [&](const CConfigAccessor& setting) {
            Strings shown;
            for (const CReportRow& row : ReadUserRows(setting, c.node))
                shown.push_back(Shown(row));
            return shown;
        });
        EXPECT_EQ(rows, c.rows);
    }
}

TEST(UserTableTest, RowsReplaceTheNodeInOrderWithoutNamesTheTreeCannotHold)
{
    const struct {
        const char* description;
        std::vector<CReportRow> rows;
        std::string stored;  // Setting::User afterwards
    } cases[] = {
        {"each row a child named after its user",
         {UserRow("carol", "pw-c", "休職"), UserRow("bob", "pw-b", "")},
         "Tarnwick{Disable{old{User=old;}}Enable{carol{User=carol;Passwd=pw-c;Comment=休職;}"
         "bob{User=bob;Passwd=pw-b;Comment=;}}}"},
        {"an empty name and one with the separator are left out",
         {UserRow("", "pw", ""), UserRow("a::b", "pw", ""), UserRow("dan", "pw-d", "")},
         "Tarnwick{Disable{old{User=old;}}Enable{dan{User=dan;Passwd=pw-d;Comment=;}}}"},
        {"a row without columns stores empty leaves",
         {CReportRow{0, "eve", {}, {}, 0}},
         "Tarnwick{Disable{old{User=old;}}Enable{eve{User=eve;Passwd=;Comment=;}}}"},
        {"no rows: the node goes", {}, "Tarnwick{Disable{old{User=old;}}}"},
    };
    for (const auto& c : cases) {
        CReportRowArray rows;
        for (const CReportRow& row : c.rows)
            rows.SetRow(row, false);
        const SettingLeaves before = {{"User::Enable::gone::User", "gone"}, {"User::Disable::old::User", "old"}};
        EXPECT_EQ(
            StoreIntoSetting(before, "User",
                             [&](const CConfigAccessor& setting) { StoreUserRows(setting, schema::kEnabledUsers, rows); }),
            c.stored)
            << c.description;
    }
}

TEST(UserTableTest, ImportedAccountsShowPasswordAndCommentInTheirColumns)
{
    const struct {
        const char* description;
        CReportRow row;
        Strings account;  // name, password, comment
    } cases[] = {
        {"as the import dialog makes it", ImportRow({"taro", "secret", "営業"}), {"taro", "secret", "営業"}},
        {"missing columns read as empty", CReportRow{0, "jiro", {"pw"}, {}, 0}, {"jiro", "pw", ""}},
    };
    for (const auto& c : cases) {
        const ImportedUser user = ImportedUserOfRow(c.row);
        EXPECT_EQ((Strings{user.name, user.password, user.comment}), c.account) << c.description;
    }
    EXPECT_EQ(Shown(ImportRow({"taro", "secret", "営業"})), "taro|secret,営業,|");
}

}  // namespace
