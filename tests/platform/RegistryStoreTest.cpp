#include "RegistryStore.h"

#include "ScopedEnvironment.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;
using platform::RegistryKeyInfo;
using platform::RegistryRoot;
using platform::RegistryStore;
using platform::RegistryValue;
using platform::RegistryValueType;
using testsupport::PutFile;
using testsupport::ScopedEnvironment;
using testsupport::TempFolder;
namespace fs = std::filesystem;

class RegistryStoreTest : public testing::Test {
protected:
    std::vector<std::string> SubKeys(const std::string& path, RegistryRoot root = HKEY_CLASSES_ROOT)
    {
        std::vector<std::string> names;
        EXPECT_TRUE(store_.EnumSubKeys(root, path, names)) << path;
        return names;
    }

    TempFolder folder_;
    const std::string dir_ = folder_.Path();
    const std::string storeDir_ = dir_ + "store";
    RegistryStore store_{storeDir_};
};

TEST_F(RegistryStoreTest, CreatesMissingLevelsAndSaysWhetherTheKeyWasNew)
{
    bool created = false;
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A\\B\\C", &created));
    EXPECT_TRUE(created);
    EXPECT_TRUE(store_.KeyExists(HKEY_CLASSES_ROOT, "A"));
    EXPECT_TRUE(store_.KeyExists(HKEY_CLASSES_ROOT, "A\\B"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A\\B\\C", &created));
    EXPECT_FALSE(created);
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A\\D", &created));
    EXPECT_TRUE(created);
}

TEST_F(RegistryStoreTest, MakesTheStoreFolderPrivate)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A"));
    struct stat st;
    ASSERT_EQ(::stat(storeDir_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(RegistryStoreTest, MatchesKeyNamesWithoutCaseAndKeepsTheFirstSpelling)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Software\\MyApp"));
    bool created = true;
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "SOFTWARE\\myapp\\Sub", &created));
    EXPECT_TRUE(created);
    EXPECT_EQ(SubKeys(""), std::vector<std::string>{"Software"});
    EXPECT_EQ(SubKeys("software"), std::vector<std::string>{"MyApp"});
    EXPECT_TRUE(store_.KeyExists(HKEY_CLASSES_ROOT, "sOfTwArE\\MYAPP\\sub"));
}

TEST_F(RegistryStoreTest, FoldsOnlyAsciiLetters)
{
    // Full-width Ａ (0x8260) and ａ (0x8281) are different names.
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Ａ"));
    EXPECT_FALSE(store_.KeyExists(HKEY_CLASSES_ROOT, "ａ"));
}

TEST_F(RegistryStoreTest, TellsValidFromInvalidKeyPaths)
{
    struct Case {
        const char* description;
        const char* path;
        bool valid;
    };
    const Case cases[] = {
        {"one name", "A", true},
        {"trailing backslash names the key", "A\\B\\", true},
        {"leading backslash", "\\A", false},
        {"doubled backslash", "A\\\\B", false},
        {"two trailing backslashes", "A\\\\", false},
        {"backslash alone", "\\", false},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(store_.CreateKey(HKEY_CLASSES_ROOT, c.path), c.valid) << c.description;
        if (!c.valid) {
            EXPECT_EQ(errno, EINVAL) << c.description;
        }
    }
    EXPECT_TRUE(store_.KeyExists(HKEY_CLASSES_ROOT, "A\\B"));
    EXPECT_EQ(SubKeys(""), std::vector<std::string>{"A"});
}

TEST_F(RegistryStoreTest, TheEmptyPathIsTheRootKey)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, ""));
    EXPECT_TRUE(store_.KeyExists(HKEY_CLASSES_ROOT, ""));
    EXPECT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "", "Name", "root value"));
    std::string text;
    EXPECT_TRUE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "", "name", text));
    EXPECT_EQ(text, "root value");
}

TEST_F(RegistryStoreTest, ATrailByte5CDoesNotSplitAKeyName)
{
    // 表 is 0x95 0x5C in CP932.
    const std::string name = "表示";
    ASSERT_EQ(name[1], '\\');
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, name + "\\x"));
    EXPECT_EQ(SubKeys(""), std::vector<std::string>{name});
    EXPECT_EQ(SubKeys(name), std::vector<std::string>{"x"});
}

TEST_F(RegistryStoreTest, NamesThatLookLikePathsStayInsideTheirKey)
{
    const std::vector<std::string> names = {"..", ".", "a/b", "%2E", ".values", ".lock", "%", ".trash-1-1"};
    for (const std::string& name : names) {
        ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Top\\" + name)) << name;
        ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "Top\\" + name, "", "value of " + name)) << name;
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SubKeys("Top"), expected);
    for (const std::string& name : names) {
        std::string text;
        EXPECT_TRUE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "Top\\" + name, "", text)) << name;
        EXPECT_EQ(text, "value of " + name);
    }
    // Nothing outside the store, and no value file of the key Top itself was made.
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"store"});
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, "Top", values));
    EXPECT_TRUE(values.empty());
}

TEST_F(RegistryStoreTest, AnyBytesSurviveInNamesAndTexts)
{
    struct Case {
        const char* description;
        std::string bytes;
    };
    const Case cases[] = {
        {"bytes with no Unicode mapping", "\x80\xA0\xFD\xFE\xFF"},
        {"a lone lead byte at the end", "abc\x81"},
        {"controls, tab and line feed", std::string("a\tb\nc\rd\x01\x7F", 9)},
        {"a zero byte", std::string("x\0y", 3)},
        {"percent escapes as text", "%41%zz%"},
        {"half-width katakana and kanji", "\xB1\xB2 設定"},
        {"the second spelling of a duplicated kanji", "\xFA\x5C"},
        {"leading blank and trailing dot", " name."},
    };
    for (const Case& c : cases) {
        const std::string key = "K\\" + c.bytes;
        ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, key)) << c.description;
        ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, key, c.bytes, c.bytes)) << c.description;
        std::vector<RegistryValue> values;
        ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, key, values)) << c.description;
        ASSERT_EQ(values.size(), 1u) << c.description;
        EXPECT_EQ(values[0].name, c.bytes) << c.description;
        EXPECT_EQ(values[0].text, c.bytes) << c.description;
    }
    EXPECT_EQ(SubKeys("K").size(), std::size(cases));
}

TEST_F(RegistryStoreTest, KeepsStringAndDWordValuesAndTheDefaultValue)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "", "default"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "Empty", ""));
    ASSERT_TRUE(store_.SetDWordValue(HKEY_CLASSES_ROOT, "K", "Zero", 0));
    ASSERT_TRUE(store_.SetDWordValue(HKEY_CLASSES_ROOT, "K", "Max", 0xFFFFFFFFu));

    std::string text = "stale";
    EXPECT_TRUE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "K", "", text));
    EXPECT_EQ(text, "default");
    EXPECT_TRUE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "K", "Empty", text));
    EXPECT_EQ(text, "");
    std::uint32_t number = 99;
    EXPECT_TRUE(store_.ReadDWordValue(HKEY_CLASSES_ROOT, "K", "Zero", number));
    EXPECT_EQ(number, 0u);
    EXPECT_TRUE(store_.ReadDWordValue(HKEY_CLASSES_ROOT, "K", "max", number));
    EXPECT_EQ(number, 0xFFFFFFFFu);

    errno = 0;
    EXPECT_FALSE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "K", "Max", text));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(store_.ReadDWordValue(HKEY_CLASSES_ROOT, "K", "", number));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "K", "Missing", text));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(text, "");
    EXPECT_EQ(number, 0xFFFFFFFFu);
}

TEST_F(RegistryStoreTest, AValueWrittenAgainKeepsItsPlaceAndSpellingAndTakesTheNewType)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "AppID", "x"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "Other", "y"));
    ASSERT_TRUE(store_.SetDWordValue(HKEY_CLASSES_ROOT, "K", "appid", 7));
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, "k", values));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "AppID");
    EXPECT_EQ(values[0].type, RegistryValueType::DWord);
    EXPECT_EQ(values[0].number, 7u);
    EXPECT_EQ(values[1].name, "Other");
    EXPECT_EQ(values[1].text, "y");
}

TEST_F(RegistryStoreTest, AValueNeedsAnExistingKey)
{
    errno = 0;
    EXPECT_FALSE(store_.SetStringValue(HKEY_CLASSES_ROOT, "Missing", "", "x"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(fs::exists(storeDir_)) << "a failed write made the store";
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Present"));
    EXPECT_FALSE(store_.SetDWordValue(HKEY_CLASSES_ROOT, "Present\\Missing", "", 1));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(RegistryStoreTest, ReadingAMissingStoreFailsAndCreatesNothing)
{
    std::string text;
    std::vector<std::string> names;
    RegistryKeyInfo info;
    errno = 0;
    EXPECT_FALSE(store_.KeyExists(HKEY_CLASSES_ROOT, "A"));
    EXPECT_FALSE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "A", "", text));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(store_.EnumSubKeys(HKEY_CLASSES_ROOT, "", names));
    EXPECT_FALSE(store_.QueryKeyInfo(HKEY_CLASSES_ROOT, "A", info));
    bool existed = true;
    EXPECT_TRUE(store_.DeleteKeyTree(HKEY_CLASSES_ROOT, "A", &existed));
    EXPECT_FALSE(existed);
    EXPECT_FALSE(fs::exists(storeDir_));
}

TEST_F(RegistryStoreTest, DeletingATreeRemovesEverythingBelowAndLeavesNoTrace)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A\\B\\C"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Keep"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "A\\B", "v", "x"));
    bool existed = false;
    ASSERT_TRUE(store_.DeleteKeyTree(HKEY_CLASSES_ROOT, "a\\", &existed));
    EXPECT_TRUE(existed);
    EXPECT_FALSE(store_.KeyExists(HKEY_CLASSES_ROOT, "A"));
    EXPECT_EQ(SubKeys(""), std::vector<std::string>{"Keep"});
    std::vector<std::string> inStore;
    for (const auto& entry : fs::directory_iterator(storeDir_))
        inStore.push_back(entry.path().filename().string());
    std::sort(inStore.begin(), inStore.end());
    EXPECT_EQ(inStore, (std::vector<std::string>{".lock", "HKEY_CLASSES_ROOT"}));

    ASSERT_TRUE(store_.DeleteKeyTree(HKEY_CLASSES_ROOT, "A", &existed));
    EXPECT_FALSE(existed);
    // A recreated key starts empty.
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A\\B"));
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, "A\\B", values));
    EXPECT_TRUE(values.empty());
}

TEST_F(RegistryStoreTest, ARootCannotBeDeleted)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "A"));
    errno = 0;
    EXPECT_FALSE(store_.DeleteKeyTree(HKEY_CLASSES_ROOT, ""));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(store_.KeyExists(HKEY_CLASSES_ROOT, "A"));
}

TEST_F(RegistryStoreTest, EnumeratesSubKeysSortedWithoutCase)
{
    for (const char* name : {"beta", "Alpha", "gamma", "Delta"})
        ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, std::string("P\\") + name));
    EXPECT_EQ(SubKeys("P"), (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
    EXPECT_TRUE(SubKeys("P\\beta").empty());
}

TEST_F(RegistryStoreTest, KeyInformationCountsAndMeasures)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    RegistryKeyInfo info;
    info.subKeys = 99;
    ASSERT_TRUE(store_.QueryKeyInfo(HKEY_CLASSES_ROOT, "K", info));
    EXPECT_EQ(info.subKeys, 0u);
    EXPECT_EQ(info.maxSubKeyNameLength, 0u);
    EXPECT_EQ(info.values, 0u);
    EXPECT_EQ(info.maxValueNameLength, 0u);
    EXPECT_EQ(info.maxValueDataLength, 0u);

    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K\\ab"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K\\設定"));  // 4 bytes in CP932
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "", "xyz"));
    ASSERT_TRUE(store_.SetDWordValue(HKEY_CLASSES_ROOT, "K", "Name12", 1));
    ASSERT_TRUE(store_.QueryKeyInfo(HKEY_CLASSES_ROOT, "K", info));
    EXPECT_EQ(info.subKeys, 2u);
    EXPECT_EQ(info.maxSubKeyNameLength, 4u);
    EXPECT_EQ(info.values, 2u);
    EXPECT_EQ(info.maxValueNameLength, 6u);
    EXPECT_EQ(info.maxValueDataLength, 4u) << "a string of 3 with its zero, a DWORD of 4";

    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "", "123456789"));
    ASSERT_TRUE(store_.QueryKeyInfo(HKEY_CLASSES_ROOT, "K", info));
    EXPECT_EQ(info.maxValueDataLength, 10u);
}

TEST_F(RegistryStoreTest, NamesTheFiveRootsAndNoOtherValue)
{
    struct Case {
        int value;
        const char* name;
    };
    const Case cases[] = {
        {platform::HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
        {platform::HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
        {platform::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
        {platform::HKEY_USERS, "HKEY_USERS"},
        {platform::HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
        {0, ""},
        {6, ""},
        {-1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::RegistryRootName(static_cast<RegistryRoot>(c.value)), c.name) << c.value;
}

TEST_F(RegistryStoreTest, RefusesARootThatIsNone)
{
    errno = 0;
    EXPECT_FALSE(store_.CreateKey(static_cast<RegistryRoot>(0), "A"));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(store_.DeleteKeyTree(static_cast<RegistryRoot>(6), "A"));
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(RegistryStoreTest, KeepsTheRootsApart)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Same"));
    EXPECT_FALSE(store_.KeyExists(HKEY_LOCAL_MACHINE, "Same"));
    ASSERT_TRUE(store_.CreateKey(HKEY_LOCAL_MACHINE, "Same"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_LOCAL_MACHINE, "Same", "", "machine"));
    std::string text;
    EXPECT_FALSE(store_.ReadStringValue(HKEY_CLASSES_ROOT, "Same", "", text));
}

TEST_F(RegistryStoreTest, WritersInParallelLoseNoValue)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Shared"));
    constexpr int kThreads = 4;
    constexpr int kValuesEach = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, this] {
            RegistryStore store(storeDir_);  // each writer with its own object, as separate programs
            for (int i = 0; i < kValuesEach; ++i)
                EXPECT_TRUE(store.SetDWordValue(HKEY_CLASSES_ROOT, "Shared",
                                                "v" + std::to_string(t) + "_" + std::to_string(i),
                                                static_cast<std::uint32_t>(i)));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, "Shared", values));
    EXPECT_EQ(values.size(), static_cast<size_t>(kThreads * kValuesEach));
}

TEST_F(RegistryStoreTest, SkipsMalformedLinesOfAValuesFile)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    PutFile(storeDir_ + "/HKEY_CLASSES_ROOT/K/.values",
            "sz\tGood\tyes\n"
            "junk\n"
            "dword\tBig\t4294967296\n"
            "dword\tNotANumber\t12a\n"
            "other\tX\ty\n"
            "sz\ttoo\tmany\tfields\n"
            "dword\tLast\t42");
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, "K", values));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "Good");
    EXPECT_EQ(values[0].text, "yes");
    EXPECT_EQ(values[1].name, "Last");
    EXPECT_EQ(values[1].number, 42u);
}

TEST_F(RegistryStoreTest, AnUnreadableValuesFileFailsReadsAndWrites)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    ASSERT_TRUE(fs::create_directory(storeDir_ + "/HKEY_CLASSES_ROOT/K/.values"));
    std::vector<RegistryValue> values;
    RegistryKeyInfo info;
    EXPECT_FALSE(store_.EnumValues(HKEY_CLASSES_ROOT, "K", values));
    EXPECT_FALSE(store_.QueryKeyInfo(HKEY_CLASSES_ROOT, "K", info));
    EXPECT_FALSE(store_.SetStringValue(HKEY_CLASSES_ROOT, "K", "", "x"));
}

TEST_F(RegistryStoreTest, AStoreUnderAFileCannotBeWritten)
{
    PutFile(dir_ + "file", "x");
    RegistryStore store(dir_ + "file/store");
    errno = 0;
    EXPECT_FALSE(store.CreateKey(HKEY_CLASSES_ROOT, "A"));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(store.KeyExists(HKEY_CLASSES_ROOT, "A"));
}

TEST_F(RegistryStoreTest, ErrorTextNamesTheStoreTheKeyAndTheReason)
{
    struct Case {
        const char* what;
        std::string folder;
        std::string keyPath;
        std::string text;
    };
    const std::string reason = std::strerror(ENOTDIR);
    const Case cases[] = {
        {"a key", "/srv/store", "CLSID\\{X}", "registry store /srv/store, key HKEY_CLASSES_ROOT\\CLSID\\{X}: " + reason},
        {"the root key", "/srv/store", "", "registry store /srv/store, key HKEY_CLASSES_ROOT: " + reason},
        {"no store known", "", "A",
         "no registry store is known: TARNWICK_REGISTRY, XDG_CONFIG_HOME and the home folder are all unset"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RegistryStore(c.folder).ErrorText(HKEY_CLASSES_ROOT, c.keyPath, ENOTDIR), c.text) << c.what;
}

TEST(RegistryStoreLocationTest, FollowsTheEnvironment)
{
    struct Case {
        const char* description;
        const char* registry;
        const char* configHome;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"the store's own variable wins", "/r/reg", "/cfg", "/h", "/r/reg"},
        {"an empty store variable is unset", "", "/cfg", "/h", "/cfg/tarnwick/registry"},
        {"the config home", nullptr, "/cfg", "/h", "/cfg/tarnwick/registry"},
        {"a relative config home is ignored", nullptr, "cfg", "/h", "/h/.config/tarnwick/registry"},
        {"an empty config home is ignored", nullptr, "", "/h", "/h/.config/tarnwick/registry"},
        {"the home folder", nullptr, nullptr, "/home/u", "/home/u/.config/tarnwick/registry"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment registry("TARNWICK_REGISTRY", c.registry);
        ScopedEnvironment configHome("XDG_CONFIG_HOME", c.configHome);
        ScopedEnvironment home("HOME", c.home);
        EXPECT_EQ(RegistryStore::DefaultFolder(), c.expected) << c.description;
        EXPECT_EQ(RegistryStore().Folder(), c.expected) << c.description;
    }
}

TEST(RegistryStoreLocationTest, WithoutHomeTakesTheUsersHomeFolder)
{
    const passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_dir || !*entry->pw_dir)
        GTEST_SKIP() << "this user has no home folder in the user database";
    ScopedEnvironment registry("TARNWICK_REGISTRY", nullptr);
    ScopedEnvironment configHome("XDG_CONFIG_HOME", nullptr);
    ScopedEnvironment home("HOME", nullptr);
    EXPECT_EQ(RegistryStore::DefaultFolder(), std::string(entry->pw_dir) + "/.config/tarnwick/registry");
}

}  // namespace
