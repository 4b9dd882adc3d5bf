#include "ConfigAccessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

class ConfigAccessorTest : public testing::Test {
protected:
    CConfigClass tree_;
};

TEST_F(ConfigAccessorTest, PrefixGetsATrailingSeparator)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "::"}, {"Setting", "Setting::"}, {"Setting::", "Setting::"}, {"A::B", "A::B::"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CConfigAccessor(&tree_, c.first).GetPrefix(), c.second) << c.first;
    EXPECT_EQ(tree_.GetAccessor("Setting").GetPrefix(), "Setting::");
    EXPECT_EQ(tree_.GetAccessor("Setting").GetTree(), &tree_);

    const CConfigAccessor empty;
    EXPECT_EQ(empty.GetPrefix(), "");
    EXPECT_EQ(empty.GetTree(), nullptr);
}

TEST_F(ConfigAccessorTest, PrefixWithAndWithoutSeparatorAddressTheSameKeys)
{
    tree_.GetAccessor("Setting").SetString("Name", "a");
    EXPECT_EQ(tree_.GetAccessor("Setting::").GetString("Name", ""), "a");
    EXPECT_EQ(tree_.GetValue("Setting::Name", ""), "a");
}

TEST_F(ConfigAccessorTest, RootAccessorAddressesRootLeavesThroughAnUnnamedLevel)
{
    // "" becomes "::", so keys land in a child with an empty name, as the path rules say.
    tree_.GetAccessor("").SetString("k", "v");
    EXPECT_EQ(tree_.GetValue("::k", ""), "v");
    EXPECT_EQ(tree_.GetValue("k", "none"), "none");
}

TEST_F(ConfigAccessorTest, KeysMayHoldLevels)
{
    const CConfigAccessor setting = tree_.GetAccessor("Setting");
    setting.SetString("Path::Path_0::Url", "/");
    EXPECT_EQ(tree_.GetValue("Setting::Path::Path_0::Url", ""), "/");
}

TEST_F(ConfigAccessorTest, GetStringReadsThroughTheTree)
{
    const CConfigAccessor a = tree_.GetAccessor("H");
    a.SetString("content-type", "text/html");
    EXPECT_EQ(a.GetString("Content-Type", "none", 1), "text/html");
    EXPECT_EQ(a.GetString("Content-Type", "none", 0), "none");
    EXPECT_EQ(a.GetString("Content-Type", "none"), "none") << "exact by default";
}

TEST_F(ConfigAccessorTest, GetIntUsesTheDefaultAndCreatesNoLeaf)
{
    const CConfigAccessor a = tree_.GetAccessor("Basic");
    EXPECT_EQ(a.GetInt("Port", 80, 0), 80);
    EXPECT_EQ(a.GetKeyCount(), 0);
    EXPECT_EQ(a.GetInt("Neg", -7), -7);
    EXPECT_EQ(a.GetInt("Min", INT_MIN), INT_MIN);
    EXPECT_EQ(a.GetInt("Max", INT_MAX), INT_MAX);
}

struct IntTextCase {
    const char* stored;
    int expected;
};

TEST_F(ConfigAccessorTest, GetIntConvertsTheStoredText)
{
    const IntTextCase cases[] = {
        {"8080", 8080}, {"abc", 0},        {"12abc", 12},        {" -3", -3},
        {"", 0},        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"0x10", 0},
    };
    const CConfigAccessor a = tree_.GetAccessor("Basic");
    for (const IntTextCase& c : cases) {
        a.SetString("Port", c.stored);
        EXPECT_EQ(a.GetInt("Port", 80), c.expected) << '"' << c.stored << '"';
    }
}

TEST_F(ConfigAccessorTest, SetIntAndSetInt64StoreDecimalText)
{
    const CConfigAccessor a = tree_.GetAccessor("Log");
    a.SetInt("Small", -42);
    a.SetInt("Min", INT_MIN);
    a.SetInt64("AllSendSize", 5000000000LL);
    a.SetInt64("Min64", INT64_MIN);
    EXPECT_EQ(a.GetString("Small", ""), "-42");
    EXPECT_EQ(a.GetString("Min", ""), "-2147483648");
    EXPECT_EQ(a.GetString("AllSendSize", ""), "5000000000");
    EXPECT_EQ(a.GetString("Min64", ""), "-9223372036854775808");
    EXPECT_EQ(a.GetInt("AllSendSize", 0), INT_MAX) << "too large for an int: clamped";
}

class PlusOneFilter : public CConfigValueFilter {
public:
    std::string Filter(std::string_view, std::string_view value) override { return std::string(value) + "1"; }
};

TEST_F(ConfigAccessorTest, GetIntPassesTheDefaultThroughTheFilter)
{
    tree_.SetValueFilter(std::make_unique<PlusOneFilter>());
    EXPECT_EQ(tree_.GetAccessor("A").GetInt("Missing", 8), 81);
}

TEST_F(ConfigAccessorTest, SubAccessorExtendsThePrefix)
{
    const CConfigAccessor paths = tree_.GetAccessor("Setting::Path::");
    const CConfigAccessor entry = paths.GetSubAccessor("Path_0");
    EXPECT_EQ(entry.GetPrefix(), "Setting::Path::Path_0::");
    EXPECT_EQ(paths.GetSubAccessor("Path_1::").GetPrefix(), "Setting::Path::Path_1::");
    EXPECT_EQ(entry.GetTree(), &tree_);
}

TEST_F(ConfigAccessorTest, ListsCountsAndClearsThePrefixNode)
{
    const CConfigAccessor a = tree_.GetAccessor("N");
    a.SetString("k1", "1");
    a.SetString("k2", "2");
    a.SetString("S1::x", "x");
    a.SetString("S2::x", "x");
    std::vector<std::string> list;
    EXPECT_EQ(a.GetKeys(list), 2);
    EXPECT_EQ(list, (std::vector<std::string>{"k1", "k2"}));
    EXPECT_EQ(a.GetSections(list), 2);
    EXPECT_EQ(list, (std::vector<std::string>{"S1", "S2"}));
    EXPECT_EQ(a.GetKeyCount(), 2);
    EXPECT_EQ(a.GetSectionCount(), 2);
    std::vector<CConfigLeaf> leaves;
    a.GetLeaves(leaves);
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves[1].key, "k2");
    EXPECT_EQ(leaves[1].value, "2");

    a.RemoveSection("S1");
    EXPECT_EQ(a.GetSections(list), 1);
    EXPECT_EQ(list, std::vector<std::string>{"S2"});

    a.Clear();
    EXPECT_EQ(a.GetKeyCount(), 0);
    EXPECT_EQ(a.GetSectionCount(), 0);
    EXPECT_EQ(tree_.GetSectionCount(""), 1) << "the prefix node itself stays";
}

TEST_F(ConfigAccessorTest, CopyFromWithinOneTreeKeepsTheDestinationName)
{
    const CConfigAccessor source = tree_.GetAccessor("Setting::Path::Path_0");
    source.SetString("Url", "/");
    source.SetString("Users::alice", "alice");
    const CConfigAccessor destination = tree_.GetAccessor("Setting::Path::Path_1");
    destination.SetString("Old", "x");
    destination.CopyFrom(source);

    std::vector<std::string> list;
    EXPECT_EQ(destination.GetKeys(list), 1);
    EXPECT_EQ(list, std::vector<std::string>{"Url"});
    EXPECT_EQ(destination.GetSubAccessor("Users").GetString("alice", ""), "alice");
    EXPECT_EQ(tree_.GetAccessor("Setting::Path").GetSections(list), 2);
    EXPECT_EQ(list, (std::vector<std::string>{"Path_0", "Path_1"}));
}

TEST_F(ConfigAccessorTest, CopyFromAnotherTree)
{
    CConfigClass scratch;
    scratch.GetAccessor("Entry").SetString("Url", "/x");
    tree_.GetAccessor("Setting::Path::Path_0").CopyFrom(scratch.GetAccessor("Entry"));
    EXPECT_EQ(tree_.GetValue("Setting::Path::Path_0::Url", ""), "/x");
}

TEST_F(ConfigAccessorTest, ExpandsWithThePrefixNodesLeaves)
{
    const CConfigAccessor swap = tree_.GetAccessor("Swap");
    swap.SetString("FilePath", "\"/srv/a b.cgi\"");
    swap.SetString("Query", "x=1");
    tree_.SetValue("Query", "root leaf");
    EXPECT_EQ(swap.ExpandVariables("/bin/run %FilePath% %Query% %Other%", ""),
              "/bin/run \"/srv/a b.cgi\" x=1 %Other%");
    EXPECT_EQ(swap.ExpandVariables("%Other%", "-"), "-");
}

TEST_F(ConfigAccessorTest, SubAccessorPrefixIsTheNormalisedJoin)
{
    const char* const names[] = {"", ":", "X", "X:", "X::", "X::Y", "::", "表"};
    for (const char* prefix : {"::", "Setting::", "A:::"}) {
        const CConfigAccessor parent(&tree_, prefix);
        for (const char* name : names) {
            EXPECT_EQ(parent.GetSubAccessor(name).GetPrefix(), AppendPathSeparator(std::string(prefix) + name))
                << prefix << " + " << name;
        }
    }
}

TEST_F(ConfigAccessorTest, SubAccessorsAddressWhatTheirJoinedPrefixDoes)
{
    // A sub-accessor knows whether its prefix ends at a level from its parent's answer and
    // its own name; the tree must still resolve every key as the joined path.
    const char* const names[] = {"", ":", "X", "X:", "X::", "X::Y", "::", ":::", "表"};
    const char* const keys[] = {"k", ":k", "::k", "B::k"};
    for (const char* prefix : {"", "::", "Setting::", "A:::", "A::::"}) {
        for (const char* name : names) {
            for (const char* key : keys) {
                CConfigClass viaAccessor, joined;
                const CConfigAccessor sub = CConfigAccessor(&viaAccessor, prefix).GetSubAccessor(name);
                sub.SetString(key, "v");
                joined.SetValue(sub.GetPrefix() + key, "v");
                EXPECT_EQ(viaAccessor.SerializeNode(""), joined.SerializeNode(""))
                    << prefix << " + " << name << " + " << key;
                EXPECT_EQ(sub.GetString(key, "d"), "v") << prefix << " + " << name << " + " << key;
            }
        }
    }
}

TEST_F(ConfigAccessorTest, MoveToKeepsTheRecentThreadLogs)
{
    // The request history: each finished node moves to the logs, which keep the last three.
    const CConfigAccessor threads = tree_.GetAccessor("Threads");
    const CConfigAccessor logs = tree_.GetAccessor("ThreadLogs");
    constexpr int kMax = 3;
    for (int i = 0; i < 5; ++i) {
        const std::string name = "Thread_000" + std::to_string(i);
        const CConfigAccessor view = threads.GetSubAccessor(name);
        view.SetString("ThreadName", name);
        view.GetSubAccessor("EndTime").SetString("Time", "00:00:0" + std::to_string(i));
        CConfigLock lock(logs);
        ASSERT_EQ(view.MoveTo(logs.GetSubAccessor(name)), 0);
        if (logs.GetSectionCount() > kMax)
            logs.RemoveFirstSection();
    }
    std::vector<std::string> names;
    logs.GetSections(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Thread_0002", "Thread_0003", "Thread_0004"}));
    EXPECT_EQ(logs.GetSubAccessor("Thread_0004").GetString("ThreadName", ""), "Thread_0004");
    EXPECT_EQ(logs.GetSubAccessor("Thread_0004::EndTime").GetString("Time", ""), "00:00:04");
    EXPECT_EQ(threads.GetSectionCount(), 0);
}

TEST_F(ConfigAccessorTest, MoveToRefusesTheRootAndItsOwnBranch)
{
    const CConfigAccessor node = tree_.GetAccessor("A");
    node.SetString("Sub::k", "v");
    EXPECT_EQ(tree_.GetAccessor("").MoveTo(tree_.GetAccessor("Elsewhere")), -1);
    EXPECT_EQ(node.MoveTo(node), -1);
    EXPECT_EQ(node.MoveTo(node.GetSubAccessor("Sub")), -1);
    EXPECT_EQ(tree_.GetValue("A::Sub::k", ""), "v");
}

TEST_F(ConfigAccessorTest, MoveToAnotherTreeCopiesAndRemoves)
{
    CConfigClass logs;
    const CConfigAccessor source = tree_.GetAccessor("Threads::T1");
    source.SetString("Info", "done");
    source.SetString("RequestInfo::Method", "GET");
    EXPECT_EQ(source.MoveTo(logs.GetAccessor("ThreadLogs::T1")), 0);
    EXPECT_EQ(logs.GetValue("ThreadLogs::T1::RequestInfo::Method", ""), "GET");
    EXPECT_FALSE(tree_.GetAccessor("Threads").HasSection("T1"));
}

TEST_F(ConfigAccessorTest, HasSectionListsNoNamesAndCreatesNoChild)
{
    const CConfigAccessor thread = tree_.GetAccessor("Threads::T1");
    thread.SetString("RequestInfo::Method", "GET");
    EXPECT_TRUE(thread.HasSection("RequestInfo"));
    EXPECT_FALSE(thread.HasSection("ResponseInfo"));
    EXPECT_EQ(thread.GetSectionCount(), 1);
}

TEST_F(ConfigAccessorTest, LockHolderCallsTheTreeWithoutBlocking)
{
    const CConfigAccessor a = tree_.GetAccessor("Threads");
    auto done = std::async(std::launch::async, [&] {
        CConfigLock lock(a);
        a.SetString("T1::Info", "x");
        const std::string value = a.GetString("T1::Info", "");
        a.RemoveSection("T1");
        CConfigLock again(a);  // re-entrant
        return value + std::to_string(a.GetSectionCount());
    });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "deadlock";
    EXPECT_EQ(done.get(), "x0");
}

TEST_F(ConfigAccessorTest, LockKeepsOtherThreadsOut)
{
    const CConfigAccessor a = tree_.GetAccessor("A");
    std::atomic<bool> started{false}, written{false};
    std::future<void> other;
    {
        CConfigLock lock(a);
        other = std::async(std::launch::async, [&] {
            started = true;
            a.SetString("k", "other");
            written = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!started && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_TRUE(started);
        a.SetString("k", "mine");
        EXPECT_EQ(a.GetString("k", ""), "mine");
        EXPECT_FALSE(written);
    }
    ASSERT_EQ(other.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(a.GetString("k", ""), "other");
}

TEST_F(ConfigAccessorTest, LockedBatchesAreAtomic)
{
    const CConfigAccessor a = tree_.GetAccessor("Stat");
    a.SetInt("Count", 0);
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CConfigLock lock(a);
                a.SetInt("Count", a.GetInt("Count", 0) + 1);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(a.GetInt("Count", 0), kThreads * kRounds);
}

}  // namespace
