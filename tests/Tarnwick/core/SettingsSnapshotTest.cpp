#include "core/SettingsSnapshot.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Marks every value read through it, so that a test can tell a filtered read.
class MarkingFilter : public CConfigValueFilter {
public:
    std::string Filter(std::string_view, std::string_view value) override
    {
        ++calls;
        std::string text(value);
        for (std::string::size_type at; (at = text.find("%N%")) != std::string::npos;)
            text.replace(at, 3, std::to_string(calls));
        return text;
    }
    int calls = 0;
};

class SettingsSnapshotTest : public testing::Test {
protected:
    CConfigAccessor Settings() { return tree.GetAccessor("Setting"); }
    CConfigClass tree;
};

TEST_F(SettingsSnapshotTest, PathEntriesAreTakenInStoredOrderWithTheirDefaults)
{
    tree.SetValue("Setting::Path::B::ServerPath", "/b/");
    tree.SetValue("Setting::Path::B::Options::EnableWrite", "1");
    tree.SetValue("Setting::Path::B::Users::alice", "alice");
    tree.SetValue("Setting::Path::B::Kick::Accept::10.*", "10.*");
    tree.SetValue("Setting::Path::A::VirtualHost", "a.example");
    const CSettingsSnapshot snapshot(Settings());
    const std::vector<CSettingsSnapshot::PathEntry>& entries = snapshot.PathEntries();
    ASSERT_EQ(entries.size(), 2u);
    std::string scratch;
    EXPECT_EQ(entries[0].name, "B");
    EXPECT_EQ(entries[0].serverPath.Read(scratch), "/b/");
    EXPECT_EQ(entries[0].virtualHost.Read(scratch), "*") << "the schema's default";
    EXPECT_EQ(entries[0].enableWrite.Read(), 1);
    EXPECT_EQ(entries[0].acceptHttp.Read(), 1) << "the schema's default";
    EXPECT_EQ(entries[0].users, std::vector<std::string>{"alice"});
    EXPECT_EQ(entries[0].kickAccept, std::vector<std::string>{"10.*"});
    EXPECT_EQ(entries[1].name, "A");
    EXPECT_EQ(entries[1].virtualHost.Read(scratch), "a.example");
    EXPECT_EQ(entries[1].serverPath.Read(scratch), "/");
    EXPECT_EQ(entries[1].localPath.ReadCopy(), "%ServerRoot%www/");
}

TEST_F(SettingsSnapshotTest, ValuesWithPlaceholdersPassTheFilterAtEachRead)
{
    tree.SetValue("Setting::Path::P::LocalPath", "/srv/%N%/");
    tree.SetValue("Setting::Path::P::Options::EnableIndex", "%N%");
    tree.SetValue("Setting::Path::P::ServerPath", "/plain/");
    auto filter = std::make_unique<MarkingFilter>();
    MarkingFilter& marking = *filter;
    tree.SetValueFilter(std::move(filter));
    const CSettingsSnapshot snapshot(Settings());
    const CSettingsSnapshot::PathEntry& entry = snapshot.PathEntries().at(0);
    const int before = marking.calls;
    EXPECT_EQ(entry.localPath.ReadCopy(), "/srv/" + std::to_string(before + 1) + "/");
    EXPECT_EQ(entry.localPath.ReadCopy(), "/srv/" + std::to_string(before + 2) + "/") << "read anew";
    EXPECT_EQ(entry.enableIndex.Read(), before + 3);
    std::string scratch;
    EXPECT_EQ(entry.serverPath.Read(scratch), "/plain/");
    EXPECT_EQ(marking.calls, before + 3) << "a value without '%' is kept as the filter would give it";
}

TEST_F(SettingsSnapshotTest, ListsAndAccountsAreKeptAsStored)
{
    tree.SetValue("Setting::Index::index.html", "index.html");
    tree.SetValue("Setting::Index::home.htm", "home.htm");
    tree.SetValue("Setting::SSI::shtml", "shtml");
    tree.SetValue("Setting::User::Enable::U0::User", "alice");
    tree.SetValue("Setting::User::Enable::U0::Passwd", "%Year%");
    tree.SetValue("Setting::User::Enable::U1::User", "bob");
    tree.SetValue("Setting::User::Disable::U2::User", "carol");
    const CSettingsSnapshot snapshot(Settings());
    std::string scratch;
    ASSERT_EQ(snapshot.IndexNames().size(), 2u);
    EXPECT_EQ(snapshot.IndexNames()[0].Read(scratch), "index.html");
    EXPECT_EQ(snapshot.IndexNames()[1].Read(scratch), "home.htm");
    EXPECT_EQ(snapshot.SsiExtensions(), std::vector<std::string>{"shtml"});
    ASSERT_EQ(snapshot.Accounts().size(), 2u) << "enabled accounts only";
    EXPECT_EQ(snapshot.Accounts()[0].user, "alice");
    EXPECT_EQ(snapshot.Accounts()[0].password, "%Year%") << "a credential is no template";
    EXPECT_EQ(snapshot.Accounts()[1].password, "");
}

TEST_F(SettingsSnapshotTest, TakingOneCreatesNoNodeAndRecordsTheWriteCount)
{
    tree.SetValue("Setting::Path::P::ServerPath", "/");
    const uint64_t writes = tree.GetWriteCount();
    const CSettingsSnapshot snapshot(Settings());
    EXPECT_EQ(snapshot.GetWriteCount(), writes);
    EXPECT_EQ(tree.GetWriteCount(), writes) << "nothing was written";
    EXPECT_EQ(tree.GetSectionCount("Setting::Path::P"), 0) << "no Options, Users or Kick node made";
    EXPECT_EQ(snapshot.LogFormat().ReadCopy(), "[%Time%] <%Host%> (%RecvSize%,%SendSize%) [%Info%] %Method% %Object%");
}

TEST_F(SettingsSnapshotTest, EntriesOfTheSameNameReadTheFirst)
{
    CConfigNode setting("Setting");
    CConfigNode& path = setting.AppendChild(std::string_view("Path"));
    path.AppendChild(std::string_view("P")).SetLeaf("ServerPath", "/first/");
    path.AppendChild(std::string_view("P")).SetLeaf("ServerPath", "/second/");
    tree.WriteNode("Setting").Node() = setting;
    const CSettingsSnapshot snapshot(Settings());
    std::string scratch;
    ASSERT_EQ(snapshot.PathEntries().size(), 2u);
    EXPECT_EQ(snapshot.PathEntries()[1].serverPath.Read(scratch), "/first/") << "as a read of the tree finds it";
}

}  // namespace
