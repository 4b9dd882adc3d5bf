// What the directory list says of its entries: where one answers, the question before the
// selected ones are deleted, and the warning while none is left.

#include "core/PathEntryList.h"

#include "SettingTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ReadFromSetting;
using testsupport::SettingLeaves;
using Names = std::vector<std::string>;

const char kIntro[] = "次のパスを削除します。\n";
const char kLeavesNone[] = "パスが１つもなくなるため、サーバはどのリクエストにも応答しなくなります。\n";
const char kQuestion[] = "削除してもよろしいですか？";

// Leaves of an entry Path::name with the description `info` at `serverPath`, selected or not.
SettingLeaves Entry(const std::string& name, const std::string& info, const std::string& serverPath, bool selected)
{
    const std::string entry = "Path::" + name + "::";
    SettingLeaves leaves = {{entry + "ServerPath", serverPath}, {entry + "Selected", selected ? "1" : "0"}};
    if (!info.empty())
        leaves.push_back({entry + "Info", info});
    return leaves;
}

SettingLeaves Join(std::vector<SettingLeaves> parts)
{
    SettingLeaves all;
    for (const SettingLeaves& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

PathDeletion Plan(const SettingLeaves& stored)
{
    return ReadFromSetting(stored, [](const CConfigAccessor& setting) {
        return PlanPathDeletion(setting.GetSubAccessor("Path"));
    });
}

TEST(PathEntryListTest, AddressIsTheServerPathBehindAnyVirtualHost)
{
    const struct {
        const char* description;
        SettingLeaves stored;
        const char* address;
    } cases[] = {
        {"no host", {{"Path::P::ServerPath", "/pub/"}}, "/pub/"},
        {"every host", {{"Path::P::ServerPath", "/pub/"}, {"Path::P::VirtualHost", "*"}}, "/pub/"},
        {"one host", {{"Path::P::ServerPath", "/pub/"}, {"Path::P::VirtualHost", "www"}}, "<www> /pub/"},
        {"no server path", {{"Path::P::Info", "x"}}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadFromSetting(c.stored,
                                  [](const CConfigAccessor& setting) {
                                      return PathEntryAddress(setting.GetSubAccessor("Path::P"));
                                  }),
                  c.address)
            << c.description;
    }
}

TEST(PathEntryListTest, DeletionNamesTheSelectedEntriesAndWarnsWhenNoneIsLeft)
{
    const struct {
        const char* description;
        SettingLeaves stored;
        Names names;
        bool leavesNone;
        std::string question;
    } cases[] = {
        {"none selected", Join({Entry("Path_0", "トップ", "/", false)}), {}, false, ""},
        {"no entries", {}, {}, false, ""},
        {"one of two",
         Join({Entry("Path_0", "トップ", "/", false), Entry("Path_1", "公開", "/pub/", true)}),
         {"Path_1"},
         false,
         std::string(kIntro) + "　公開 (/pub/)\n\n" + kQuestion},
        {"the last one",
         Join({Entry("Path_0", "トップ", "/", true)}),
         {"Path_0"},
         true,
         std::string(kIntro) + "　トップ (/)\n\n" + kLeavesNone + kQuestion},
        {"all of several, in stored order",
         Join({Entry("b", "二", "/2/", true), Entry("a", "一", "/1/", true)}),
         {"b", "a"},
         true,
         std::string(kIntro) + "　二 (/2/)\n　一 (/1/)\n\n" + kLeavesNone + kQuestion},
        {"no description: the address alone",
         Join({Entry("Path_0", "", "/x/", true), Entry("Path_1", "y", "/y/", false)}),
         {"Path_0"},
         false,
         std::string(kIntro) + "　/x/\n\n" + kQuestion},
        {"nothing to tell it by: its name",
         Join({Entry("Path_7", "", "", true), Entry("Path_1", "y", "/y/", false)}),
         {"Path_7"},
         false,
         std::string(kIntro) + "　Path_7\n\n" + kQuestion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const PathDeletion deletion = Plan(c.stored);
        EXPECT_EQ(deletion.names, c.names);
        EXPECT_EQ(deletion.leavesNone, c.leavesNone);
        EXPECT_EQ(deletion.question, c.question);
    }
}

TEST(PathEntryListTest, DeletionNamesTenEntriesAndCountsTheRest)
{
    const struct {
        int selected;
        int named;
        const char* rest;
    } cases[] = {{10, 10, ""}, {11, 10, "　ほか 1 件\n"}, {12, 10, "　ほか 2 件\n"}};
    for (const auto& c : cases) {
        SettingLeaves stored = Entry("Kept", "残る", "/", false);
        std::string listed;
        for (int i = 0; i < c.selected; ++i) {
            const std::string n = std::to_string(i);
            const SettingLeaves entry = Entry("E" + n, "e" + n, "/" + n + "/", true);
            stored.insert(stored.end(), entry.begin(), entry.end());
            if (i < c.named)
                listed += "　e" + n + " (/" + n + "/)\n";
        }
        const PathDeletion deletion = Plan(stored);
        EXPECT_EQ(deletion.names.size(), static_cast<size_t>(c.selected));
        EXPECT_EQ(deletion.question, std::string(kIntro) + listed + c.rest + "\n" + kQuestion) << c.selected;
    }
}

TEST(PathEntryListTest, WarningStandsOnlyWhileNoEntryExists)
{
    const std::string warning = "※パスが１つもないため、サーバはどのリクエストにも応答しません。";
    const struct {
        const char* description;
        SettingLeaves stored;
        std::string warning;
    } cases[] = {
        {"no Path node", {{"Basic::Port", "80"}}, warning},
        {"a leaf is no entry", {{"Path::Stray", "x"}}, warning},
        {"one entry", {{"Path::Path_0::ServerPath", "/"}}, ""},
        {"an entry without leaves of its own", {{"Path::Path_0::Options::EnableIndex", "1"}}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadFromSetting(c.stored, NoPathEntryWarning), c.warning) << c.description;
}

}  // namespace
