// The rules of a path entry's pages without a window: host patterns, address files, path
// normalisation, the host verdict, and the stored form of the entry's lists.

#include "core/PathEntryRules.h"

#include "ConfigTreeText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::string>;

TEST(PathEntryRulesTest, CheckAddressTakesFourFieldsOfDigitsStarOrQuestionMark)
{
    const struct {
        const char* description;
        const char* text;
        bool expected;
    } cases[] = {
        {"plain address", "192.168.0.1", true},
        {"stars", "192.168.*.*", true},
        {"question mark", "10.?.0.1", true},
        {"a run of dots is one cut", "1..2.3.4", true},
        {"no range check", "999.1.1.1", true},
        {"leading dots passed over", "..1.2.3.4", true},
        {"empty", "", false},
        {"three fields", "192.168.0", false},
        {"trailing dot", "192.168.0.1.", false},
        {"five fields", "1.2.3.4.5", false},
        {"letter after digits", "192.168.0.1a", false},
        {"star after digits", "192.168.0.1*", false},
        {"two stars", "1.2.3.**", false},
        {"letters", "a.b.c.d", false},
        {"double-byte digit", "1.2.3.４", false},
        {"settings separator", "1.2.3::4", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckAddress(c.text), c.expected) << c.description;
}

TEST(PathEntryRulesTest, AddressFileKeepsTrimmedPatternsUntilALineOfSeparators)
{
    const struct {
        const char* description;
        std::string contents;
        Rows expected;
    } cases[] = {
        {"commas and colons cut at both ends", "192.168.0.1,\n:10.0.0.*\nabc\n", {"192.168.0.1", "10.0.0.*"}},
        {"CR LF line ends", "1.2.3.4\r\n5.6.7.8\r\n", {"1.2.3.4", "5.6.7.8"}},
        {"empty lines passed over, last line without an end", "\n\r\n1.2.3.4\n\n5.6.7.8", {"1.2.3.4", "5.6.7.8"}},
        {"a line of commas stops", "1.2.3.4\n,,,\n5.6.7.8\n", {"1.2.3.4"}},
        {"blanks are not cut", " 1.2.3.4\n1.2.3.5\n", {"1.2.3.5"}},
        {"separator refused", "1.2.3.4::\n::1.2::3.4\n", {"1.2.3.4"}},
        {"empty file", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseAddressFile(c.contents), c.expected) << c.description;
}

TEST(PathEntryRulesTest, RequiredFieldsNeedInfoServerPathAndSomethingToServe)
{
    const struct {
        const char* description;
        const char* info;
        const char* serverPath;
        const char* localPath;
        const char* forward;
        const char* host;
        bool expected;
    } cases[] = {
        {"local path", "i", "/", "/srv/", "", "", true},
        {"forward", "i", "/", "", "http://a/", "", true},
        {"host only", "i", "/", "", "", "www", true},
        {"the any-host star counts", "i", "/", "", "", "*", true},
        {"nothing to serve", "i", "/", "", "", "", false},
        {"no info", "", "/", "/srv/", "", "*", false},
        {"no server path", "i", "", "/srv/", "", "*", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HasRequiredPathFields(c.info, c.serverPath, c.localPath, c.forward, c.host), c.expected)
            << c.description;
}

TEST(PathEntryRulesTest, PathsGetTheirSlashesTestedByCharacter)
{
    const struct {
        const char* description;
        std::string (*normalize)(const std::string&);
        const char* text;
        const char* expected;
    } cases[] = {
        {"server path: bare name", NormalizeServerPath, "pub", "/pub/"},
        {"server path: root stays", NormalizeServerPath, "/", "/"},
        {"server path: trailing slash only", NormalizeServerPath, "pub/", "/pub/"},
        {"server path: trail byte 0x5C", NormalizeServerPath, "表", "/表/"},
        {"local path: empty stays empty", NormalizeLocalPath, "", ""},
        {"local path: slash added", NormalizeLocalPath, "/srv/www", "/srv/www/"},
        {"local path: slash kept", NormalizeLocalPath, "/srv/www/", "/srv/www/"},
        {"local path: trail byte 0x5C", NormalizeLocalPath, "/srv/表", "/srv/表/"},
        {"local path: trail byte reading as a slash", NormalizeLocalPath, "/srv/\x81/", "/srv/\x81//"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.normalize(c.text), c.expected) << c.description;
}

TEST(PathEntryRulesTest, DeniedPatternsWinThenAcceptedOnesLetIn)
{
    const struct {
        const char* description;
        Rows denied;
        Rows accepted;
        const char* address;
        bool expected;
    } cases[] = {
        {"denied before accepted", {"192.168.0.*"}, {"*.*.*.*"}, "192.168.0.5", false},
        {"accepted", {"192.168.0.*"}, {"*.*.*.*"}, "10.0.0.1", true},
        {"empty accept list refuses", {}, {}, "10.0.0.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsHostAccepted(c.denied, c.accepted, c.address), c.expected) << c.description;
}

TEST(PathEntryRulesTest, SimpleListIsWrittenWholeWithoutSeparatorRows)
{
    CConfigClass tree;
    const CConfigAccessor entry = tree.GetAccessor("Entry");
    entry.SetString("Users::old", "old");
    StoreSimpleList(entry, "Users", {"b", "a::x", "a"});
    EXPECT_EQ(testsupport::Describe(tree, "Entry"), "Tarnwick{Entry{Users{b=b;a=a;}}}");
    EXPECT_EQ(ReadSimpleList(entry.GetSubAccessor("Users")), (Rows{"b", "a"}));
    StoreSimpleList(entry, "Users", {});
    EXPECT_FALSE(entry.HasSection("Users"));
}

TEST(PathEntryRulesTest, EnabledUsersAreReadWithoutCreatingNodes)
{
    CConfigClass tree;
    const CConfigAccessor setting = tree.GetAccessor("Setting");
    EXPECT_TRUE(ListEnabledUsers(setting).empty());
    EXPECT_FALSE(setting.HasSection("User"));

    setting.SetString("User::Enable::u0::User", "alice");
    setting.SetString("User::Enable::u0::Comment", "admin");
    setting.SetString("User::Enable::u1::User", "bob");
    setting.SetString("User::Disable::u2::User", "carol");
    const std::vector<ServerUser> users = ListEnabledUsers(setting);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, "alice");
    EXPECT_EQ(users[0].comment, "admin");
    EXPECT_EQ(users[1].name, "bob");
    EXPECT_EQ(users[1].comment, "");
}

}  // namespace
