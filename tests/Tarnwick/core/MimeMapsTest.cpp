#include "core/MimeMaps.h"

#include "CoreFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Table = CMimeMaps::Table;

class MimeMapsTest : public testing::Test {
protected:
    // Leaves of one MimeType child node: `type` with its extensions, keys Ext_00, Ext_01 ...
    void AddType(const std::string& type, const std::vector<std::string>& extensions)
    {
        AddNode("Setting::MimeType::" + type, "Ext_", extensions);
    }
    void AddIcon(const std::string& icon, const std::vector<std::string>& filters)
    {
        AddNode("Setting::IconType::" + icon, "Filter_", filters);
    }
    CMimeMaps Loaded()
    {
        CMimeMaps maps;
        maps.Load(tree.GetAccessor("Setting"));
        return maps;
    }
    // Eight single-extension types e0 ... e7 of type t0 ... t7, in that order.
    void AddEightTypes()
    {
        for (int i = 0; i < 8; ++i)
            AddType("t" + std::to_string(i), {"e" + std::to_string(i)});
    }
    static std::vector<std::string> Extensions(const CMimeMaps& maps)
    {
        std::vector<std::string> out;
        for (const auto& pair : maps.GetMimeTable())
            out.push_back(pair.first);
        return out;
    }

    CConfigClass tree;

private:
    void AddNode(const std::string& node, const std::string& keyPrefix, const std::vector<std::string>& values)
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            tree.SetValue(node + "::" + keyPrefix + (i < 10 ? "0" : "") + std::to_string(i), values[i]);
    }
};

TEST_F(MimeMapsTest, LoadTakesEveryExtensionOfEveryTypeInStoredOrder)
{
    AddType("text/html", {"html", "htm"});
    AddType("image/png", {"png"});
    AddIcon("picture", {"image/*", ".gif"});
    // The editor's whole text sits beside the nodes and is no type.
    tree.SetValue("Setting::MimeType::Text", "text/html html htm");
    tree.SetValue("Setting::IconType::Text", "picture image/*");

    const CMimeMaps maps = Loaded();

    EXPECT_EQ(maps.GetMimeTable(),
              (Table{{"html", "text/html"}, {"htm", "text/html"}, {"png", "image/png"}}));
    EXPECT_EQ(maps.GetIconTable(), (Table{{"image/*", "picture"}, {".gif", "picture"}}));
}

TEST_F(MimeMapsTest, SecondLoadAddsNoPairs)
{
    AddType("text/html", {"html"});
    AddIcon("doc", {".txt"});
    CMimeMaps maps = Loaded();
    maps.Load(tree.GetAccessor("Setting"));
    maps.LoadMimeTypes();
    maps.LoadIconTypes();
    EXPECT_EQ(maps.GetMimeTable().size(), 1u);
    EXPECT_EQ(maps.GetIconTable().size(), 1u);
}

TEST_F(MimeMapsTest, EmptyMapsBeforeLoadAnswerTheDefaults)
{
    CMimeMaps maps;
    maps.LoadMimeTypes();
    maps.LoadIconTypes();
    EXPECT_EQ(maps.LookupMimeType("a.html"), "application/octet-stream");
    EXPECT_EQ(maps.LookupIconType("a.html"), "");
}

TEST_F(MimeMapsTest, MissingTablesLoadEmpty)
{
    const CMimeMaps maps = Loaded();
    EXPECT_TRUE(maps.GetMimeTable().empty());
    EXPECT_TRUE(maps.GetIconTable().empty());
}

TEST_F(MimeMapsTest, LooksUpTheLowerCasedLastExtension)
{
    AddType("text/html", {"html"});
    AddType("application/x-gzip", {"gz"});
    AddType("application/x-tar", {"tar"});
    AddType("text/plain", {"txt"});
    AddType("text/x-upper", {"UPPER"});
    AddType("text/x-empty", {"dat"});
    CMimeMaps maps = Loaded();

    const struct {
        const char* description;
        std::string name;
        std::string type;
    } cases[] = {
        {"upper-case extension", "index.HTML", "text/html"},
        {"only the last extension counts", "archive.tar.gz", "application/x-gzip"},
        {"no dot", "README", "application/octet-stream"},
        {"name ending in a dot", "file.", "application/octet-stream"},
        {"unknown extension", "a.xyz", "application/octet-stream"},
        {"stored upper case never matches", "a.UPPER", "application/octet-stream"},
        {"stored upper case never matches lower", "a.upper", "application/octet-stream"},
        {"a path", "/docs/sub/index.html", "text/html"},
        {"Japanese name", "資料.TXT", "text/plain"},
        {"Japanese name with a 0x5C trail byte", "表.txt", "text/plain"},
        {"hidden file", ".txt", "text/plain"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<const CMimeMaps&>(maps).FindMimeType(c.name), c.type) << c.description;
        EXPECT_EQ(maps.LookupMimeType(c.name), c.type) << c.description;
    }
}

// The shared maps are looked up without a copy: the answer is the reordering lookup's,
// and the table stays as loaded.
TEST_F(MimeMapsTest, FindGivesTheLookupsAnswerAndLeavesTheTable)
{
    AddEightTypes();
    AddType("t-late", {"e1", "e7"});  // later pairs for extensions already listed
    const CMimeMaps shared = Loaded();
    CMimeMaps moving = Loaded();
    const std::vector<std::string> loaded = Extensions(shared);
    for (const char* name : {"a.e7", "a.e1", "a.e0", "a.e6", "a.e7", "a.none", "noext", "a.E5"}) {
        EXPECT_EQ(shared.FindMimeType(name), moving.LookupMimeType(name)) << name;
        EXPECT_EQ(Extensions(shared), loaded) << name;
    }
    EXPECT_NE(Extensions(moving), loaded) << "the lookups did reorder their copy";
}

TEST_F(MimeMapsTest, HitBeyondTheSixthPairMovesItToTheFront)
{
    AddEightTypes();
    CMimeMaps maps = Loaded();

    EXPECT_EQ(maps.LookupMimeType("x.e6"), "t6");
    EXPECT_EQ(Extensions(maps), (std::vector<std::string>{"e6", "e0", "e1", "e2", "e3", "e4", "e5", "e7"}));

    // e5 was pushed to the seventh place by the last move, so it moves now.
    EXPECT_EQ(maps.LookupMimeType("x.E5"), "t5");
    EXPECT_EQ(Extensions(maps), (std::vector<std::string>{"e5", "e6", "e0", "e1", "e2", "e3", "e4", "e7"}));

    EXPECT_EQ(maps.LookupMimeType("x.e7"), "t7");
    EXPECT_EQ(Extensions(maps).front(), "e7");
}

TEST_F(MimeMapsTest, HitAmongTheFirstSixPairsKeepsTheOrder)
{
    AddEightTypes();
    CMimeMaps maps = Loaded();
    const std::vector<std::string> loaded = Extensions(maps);
    for (const char* name : {"x.e5", "x.e0", "x.e3", "x.none", "noext"}) {
        maps.LookupMimeType(name);
        EXPECT_EQ(Extensions(maps), loaded) << name;
    }
}

TEST_F(MimeMapsTest, ReorderingTouchesOnlyTheCopy)
{
    AddEightTypes();
    const CMimeMaps original = Loaded();
    CMimeMaps copy = original;
    copy.LookupMimeType("x.e7");
    EXPECT_EQ(Extensions(copy).front(), "e7");
    EXPECT_EQ(Extensions(original).front(), "e0");
}

TEST_F(MimeMapsTest, IconLookupFindsTheFirstPairByExtensionTypeOrName)
{
    AddType("image/gif", {"gif"});
    AddType("image/png", {"png"});
    AddType("application/x-gzip", {"gz"});
    AddType("text/plain", {"txt", "bak"});
    AddIcon("gif", {".gif"});
    AddIcon("image", {"IMAGE/*"});
    AddIcon("archive", {".gz"});
    AddIcon("backup", {"*.BAK"});
    AddIcon("readme", {"readme*"});

    const struct {
        const char* description;
        std::string name;
        std::string icon;
    } cases[] = {
        {"exact extension before the type pattern", "a.GIF", "gif"},
        {"type pattern", "a.png", "image"},
        {"exact test uses the last extension with its dot", "archive.tar.gz", "archive"},
        {"name pattern whatever the type", "notes.txt.bak", "backup"},
        {"name pattern on a name without dot", "README", "readme"},
        {"no filter matches", "a.txt", ""},
        {"no filter matches a dotless name", "Makefile", ""},
    };
    for (const auto& c : cases) {
        CMimeMaps maps = Loaded();  // a fresh copy, so no answer comes from the cache
        EXPECT_EQ(maps.LookupIconType(c.name), c.icon) << c.description;
    }
}

TEST_F(MimeMapsTest, IconCacheAnswersLaterNamesWithTheSameExtension)
{
    AddType("text/plain", {"txt"});
    AddIcon("special", {"special*"});
    AddIcon("text", {"*.txt"});
    CMimeMaps maps = Loaded();

    EXPECT_EQ(maps.LookupIconType("a.txt"), "text");
    // The name pattern further up is not tried again for this extension.
    EXPECT_EQ(maps.LookupIconType("special.TXT"), "text");
    // A miss leaves the cache as it was.
    EXPECT_EQ(maps.LookupIconType("b.zzz"), "");
    EXPECT_EQ(maps.LookupIconType("special.txt"), "text");
    // A fresh copy has no cache.
    CMimeMaps fresh = Loaded();
    EXPECT_EQ(fresh.LookupIconType("special.txt"), "special");
}

TEST_F(MimeMapsTest, DotlessNamesNeverUseTheCache)
{
    AddIcon("readme", {"README"});
    AddIcon("other", {"*"});
    CMimeMaps maps = Loaded();
    EXPECT_EQ(maps.LookupIconType("Makefile"), "other");
    EXPECT_EQ(maps.LookupIconType("README"), "readme");
    EXPECT_EQ(maps.LookupIconType("Makefile"), "other");
}

TEST_F(MimeMapsTest, IconLookupReordersTheMimeTableOfItsCopy)
{
    AddEightTypes();
    CMimeMaps maps = Loaded();
    maps.LookupIconType("x.e7");
    EXPECT_EQ(Extensions(maps).front(), "e7");
}

// The lookups of one index page: the parent, a folder, then names whose answers depend on
// the cache (a name pattern passed over for a cached extension, a miss between, a dotless
// name, an extension after double-byte text).
TEST_F(MimeMapsTest, FindIconTypeAnswersAsLookupIconTypeAndLeavesTheTable)
{
    AddEightTypes();
    AddType("text/plain", {"txt"});
    AddIcon("parent", {"."});
    AddIcon("folder", {"^^DIRECTORY^^"});
    AddIcon("special", {"special*"});
    AddIcon("text", {"*.txt"});
    AddIcon("type", {"T7"});
    const std::string names[] = {"..", "^^DIRECTORY^^", "a.txt", "special.TXT", "b.zzz", "special.txt",
                                 "x.e7", "special.e7", "special", "表.TXT", "x.E7"};
    CMimeMaps moving = Loaded();
    const CMimeMaps shared = Loaded();
    CMimeMaps::IconCache cache;
    for (const std::string& name : names)
        EXPECT_EQ(shared.FindIconType(name, cache), moving.LookupIconType(name)) << name;
    EXPECT_EQ(Extensions(shared).front(), "e0");

    CMimeMaps::IconCache fresh;
    EXPECT_EQ(shared.FindIconType("special.txt", fresh), "special");
}

class MimeMapsCoreTest : public CoreFixture {};

TEST_F(MimeMapsCoreTest, CoreSharesLoadedMapsWhoseCopiesLookUpAlone)
{
    for (int i = 0; i < 8; ++i)
        settings.SetValue("Setting::MimeType::t" + std::to_string(i) + "::Ext_00", "e" + std::to_string(i));
    settings.SetValue("Setting::IconType::picture::Filter_00", "t7");
    StartCore();

    const std::shared_ptr<const CMimeMaps> shared = core->GetMimeMaps();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->FindMimeType("a.e7"), "t7");

    CMimeMaps first = *core->GetMimeMaps();
    EXPECT_EQ(first.LookupMimeType("a.e7"), "t7");
    EXPECT_EQ(first.LookupIconType("a.e7"), "picture");
    EXPECT_EQ(first.GetMimeTable().front().first, "e7");

    const std::shared_ptr<const CMimeMaps> second = core->GetMimeMaps();
    EXPECT_EQ(second, shared) << "one instance for every caller";
    EXPECT_EQ(second->GetMimeTable().front().first, "e0");
    EXPECT_EQ(second->GetMimeTable().size(), 8u);
}

// Many threads look up on the one shared instance at once (run under the sanitizers).
TEST_F(MimeMapsCoreTest, SharedMapsAnswerManyThreadsAtOnce)
{
    for (int i = 0; i < 8; ++i)
        settings.SetValue("Setting::MimeType::t" + std::to_string(i) + "::Ext_00", "e" + std::to_string(i));
    StartCore();

    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                const int n = (i + t) % 8;
                if (core->GetMimeMaps()->FindMimeType("f.e" + std::to_string(n)) != "t" + std::to_string(n))
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
