#include "RegistryTw.h"

#include "ScratchRegistryTest.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using platform::RegistryStore;
using platform::RegistryValue;
using testsupport::TempFolder;

class RegistryTwTest : public testsupport::ScratchRegistryTest {};

TEST_F(RegistryTwTest, OpensAccordingToTheModeText)
{
    struct Case {
        const char* description;
        const char* mode;
        bool keyExists;
        int result;
        int code;
        std::uint32_t access;
        std::uint32_t disposition;
    };
    const std::uint32_t created = CRegistryTw::REG_CREATED_NEW_KEY;
    const std::uint32_t opened = CRegistryTw::REG_OPENED_EXISTING_KEY;
    const Case cases[] = {
        {"all access creates", "A", false, 0, -1, 0xF003F, created},
        {"lower case all access opens", "a", true, 0, -1, 0xF003F, opened},
        {"read needs the key", "R", false, 1, CRegistryTw::ERR_OPEN_KEY, 0, 0},
        {"lower case read opens", "r", true, 0, -1, 0x20019, opened},
        {"write creates", "W", false, 0, -1, 0x30006, created},
        {"read plus creates", "R+", false, 0, -1, 0x2003D, created},
        {"write plus creates", "w+", false, 0, -1, 0x30026, created},
        {"all plus is all", "A+", true, 0, -1, 0xF003F, opened},
        {"all minus needs the key", "A-", false, 1, CRegistryTw::ERR_OPEN_KEY, 0, 0},
        {"all minus opens", "A-", true, 0, -1, 0xF001B, opened},
        {"write minus needs the key", "W-", false, 1, CRegistryTw::ERR_OPEN_KEY, 0, 0},
        {"read minus opens", "R-", true, 0, -1, 0x20019, opened},
        {"unknown first character", "x", true, 1, CRegistryTw::ERR_BAD_MODE, 0, 0},
        {"unknown second character", "Rz", true, 1, CRegistryTw::ERR_BAD_MODE, 0, 0},
        {"no mode", "", true, 1, CRegistryTw::ERR_NO_MODE, 0, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string key = "Software\\Case" + std::to_string(n++);
        if (c.keyExists) {
            ASSERT_TRUE(store_.CreateKey(HKEY_CURRENT_USER, key)) << c.description;
        }
        CRegistryTw registry;
        EXPECT_EQ(registry.Open(HKEY_CURRENT_USER, key, c.mode), c.result) << c.description;
        EXPECT_EQ(registry.GetErrorCode(), c.code) << c.description;
        EXPECT_EQ(registry.IsOpen(), c.result == 0) << c.description;
        EXPECT_EQ(registry.GetAccess(), c.access) << c.description;
        EXPECT_EQ(registry.GetDisposition(), c.disposition) << c.description;
        EXPECT_EQ(store_.KeyExists(HKEY_CURRENT_USER, key), c.keyExists || c.result == 0) << c.description;
    }
}

TEST_F(RegistryTwTest, AnEmptySubKeyIsReportedBeforeTheMode)
{
    CRegistryTw registry;
    EXPECT_EQ(registry.Open(HKEY_CURRENT_USER, "", ""), 1);
    EXPECT_EQ(registry.GetErrorCode(), CRegistryTw::ERR_NO_SUBKEY);
}

TEST_F(RegistryTwTest, ARootThatIsNoneCannotBeOpened)
{
    CRegistryTw registry;
    EXPECT_EQ(registry.Open(static_cast<HKEY>(0), "Software", "A"), 1);
    EXPECT_EQ(registry.GetErrorCode(), CRegistryTw::ERR_OPEN_KEY);
}

TEST_F(RegistryTwTest, AFailedOpenClosesTheKeyOpenBefore)
{
    CRegistryTw registry;
    ASSERT_EQ(registry.Open(HKEY_CURRENT_USER, "First", "A"), 0);
    EXPECT_EQ(registry.Open(HKEY_CURRENT_USER, "Second", "x"), 1);
    EXPECT_FALSE(registry.IsOpen());
    EXPECT_EQ(registry.SetString("v", "x"), 1);
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CURRENT_USER, "First", values));
    EXPECT_TRUE(values.empty());
}

TEST_F(RegistryTwTest, ASecondOpenClosesTheFirstKey)
{
    CRegistryTw registry;
    ASSERT_EQ(registry.Open(HKEY_CURRENT_USER, "First", "A"), 0);
    ASSERT_EQ(registry.Open(HKEY_LOCAL_MACHINE, "Second", "A"), 0);
    EXPECT_EQ(registry.GetRoot(), HKEY_LOCAL_MACHINE);
    ASSERT_EQ(registry.SetString("v", "x"), 0);
    std::string text;
    EXPECT_TRUE(store_.ReadStringValue(HKEY_LOCAL_MACHINE, "Second", "v", text));
    EXPECT_FALSE(store_.ReadStringValue(HKEY_CURRENT_USER, "First", "v", text));
}

TEST_F(RegistryTwTest, WritesTypedValuesAndMeasuresTheKey)
{
    CRegistryTw registry;
    ASSERT_EQ(registry.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\Source\\", "a"), 0);
    EXPECT_EQ(registry.GetValueCount(), 0u);
    ASSERT_EQ(registry.SetString("EventMessageFile", "/usr/bin/tarnwick"), 0);
    ASSERT_EQ(registry.SetDWord("TypesSupported", 5), 0);
    ASSERT_EQ(registry.QueryInfo(), 0);
    EXPECT_EQ(registry.GetSubKeyCount(), 0u);
    EXPECT_EQ(registry.GetValueCount(), 2u);
    EXPECT_EQ(registry.GetMaxValueNameLength(), 16u);
    EXPECT_EQ(registry.GetMaxValueLength(), 18u) << "the text and its terminating zero";

    std::string text;
    std::uint32_t number = 0;
    EXPECT_TRUE(store_.ReadStringValue(HKEY_LOCAL_MACHINE, "system\\source", "EventMessageFile", text));
    EXPECT_EQ(text, "/usr/bin/tarnwick");
    EXPECT_TRUE(store_.ReadDWordValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Source", "TypesSupported", number));
    EXPECT_EQ(number, 5u);
}

TEST_F(RegistryTwTest, OpensWithTheKeyInformation)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K\\LongerName"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K\\B"));
    ASSERT_TRUE(store_.SetDWordValue(HKEY_CLASSES_ROOT, "K", "", 1));
    CRegistryTw registry;
    ASSERT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "R"), 0);
    EXPECT_EQ(registry.GetSubKeyCount(), 2u);
    EXPECT_EQ(registry.GetMaxSubKeyLength(), 10u);
    EXPECT_EQ(registry.GetValueCount(), 1u);
    EXPECT_EQ(registry.GetMaxValueNameLength(), 0u);
    EXPECT_EQ(registry.GetMaxValueLength(), 4u);
}

TEST_F(RegistryTwTest, AKeyOpenedForReadingTakesNoValues)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    for (const char* mode : {"R", "R+", "R-"}) {
        CRegistryTw registry;
        ASSERT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", mode), 0) << mode;
        EXPECT_EQ(registry.SetString("v", "x"), 1) << mode;
        EXPECT_EQ(registry.SetDWord("n", 1), 1) << mode;
    }
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_CLASSES_ROOT, "K", values));
    EXPECT_TRUE(values.empty());
}

TEST_F(RegistryTwTest, AClosedObjectRefusesEveryCall)
{
    CRegistryTw registry;
    EXPECT_EQ(registry.SetString("v", "x"), 1);
    EXPECT_EQ(registry.SetDWord("v", 1), 1);
    EXPECT_EQ(registry.QueryInfo(), 1);
    ASSERT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "A"), 0);
    registry.Close();
    EXPECT_FALSE(registry.IsOpen());
    EXPECT_EQ(registry.SetString("v", "x"), 1);
    registry.Close();  // closing twice is harmless
}

TEST_F(RegistryTwTest, AKeyRemovedWhileOpenFailsItsCalls)
{
    CRegistryTw registry;
    ASSERT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "A"), 0);
    ASSERT_TRUE(store_.DeleteKeyTree(HKEY_CLASSES_ROOT, "K"));
    EXPECT_EQ(registry.SetString("v", "x"), 1);
    EXPECT_EQ(registry.QueryInfo(), 1);
    EXPECT_FALSE(store_.KeyExists(HKEY_CLASSES_ROOT, "K")) << "a write must not bring the key back";
}

TEST_F(RegistryTwTest, UnreadableKeyInformationFailsTheOpen)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "K"));
    // A folder where the key's values file belongs cannot be read as one.
    ASSERT_TRUE(std::filesystem::create_directory(storeDir_ + "/HKEY_CLASSES_ROOT/K/.values"));
    CRegistryTw registry;
    EXPECT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "A"), 1);
    EXPECT_EQ(registry.GetErrorCode(), CRegistryTw::ERR_QUERY_INFO);
    EXPECT_FALSE(registry.IsOpen());
}

TEST_F(RegistryTwTest, AStoreThatCannotBeMadeFailsTheOpen)
{
    testsupport::PutFile(folder_.Path() + "file", "x");
    ::setenv("TARNWICK_REGISTRY", (folder_.Path() + "file/store").c_str(), 1);
    CRegistryTw registry;
    EXPECT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "A"), 1);
    EXPECT_EQ(registry.GetErrorCode(), CRegistryTw::ERR_OPEN_KEY);
}

TEST_F(RegistryTwTest, TakesTheStoreTheEnvironmentNamesAtEachOpen)
{
    TempFolder other;
    CRegistryTw registry;  // made before the change
    ::setenv("TARNWICK_REGISTRY", (other.Path() + "store").c_str(), 1);
    ASSERT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "A"), 0);
    EXPECT_TRUE(RegistryStore(other.Path() + "store").KeyExists(HKEY_CLASSES_ROOT, "K"));
    EXPECT_FALSE(store_.KeyExists(HKEY_CLASSES_ROOT, "K"));
}

TEST(RegistryTwNamesTest, NamesTheFiveRootsWithABackslash)
{
    struct Case {
        int root;
        const char* name;
    };
    const Case cases[] = {
        {HKEY_CLASSES_ROOT, "\\HKEY_CLASSES_ROOT"},
        {HKEY_CURRENT_USER, "\\HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "\\HKEY_LOCAL_MACHINE"},
        {HKEY_USERS, "\\HKEY_USERS"},
        {HKEY_CURRENT_CONFIG, "\\HKEY_CURRENT_CONFIG"},
        {0, ""},
        {6, ""},
        {0x7FFFFFFF, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CRegistryTw::GetRootKeyName(static_cast<HKEY>(c.root)), c.name) << c.root;
}

TEST(RegistryTwNamesTest, GivesEachFailureItsMessage)
{
    struct Case {
        CRegistryTw::ERR_CODE code;
        const char* utf8;
    };
    const Case cases[] = {
        {CRegistryTw::ERR_NO_SUBKEY, u8"サブキー名が指定されていません。"},
        {CRegistryTw::ERR_NO_MODE, u8"アクセスモードが指定されていません。"},
        {CRegistryTw::ERR_BAD_MODE, u8"アクセスモードが不正です。"},
        {CRegistryTw::ERR_OPEN_KEY, u8"レジストリキーを開けません。"},
        {CRegistryTw::ERR_QUERY_INFO, u8"レジストリキーの情報を取得できません。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::Cp932ToUtf8(CRegistryTw::GetErrorMessage(c.code)), c.utf8) << c.code;
}

TEST_F(RegistryTwTest, ShowsErrorsOnlyWhenTheDisplayIsOn)
{
    CRegistryTw registry;
    EXPECT_EQ(registry.GetErrorDisplay(), 0);
    testing::internal::CaptureStderr();
    registry.ShowError("text");
    EXPECT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "x"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    registry.SetErrorDisplay(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(registry.Open(HKEY_CLASSES_ROOT, "K", "x"), 1);
    registry.ShowError("設定");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(u8"CRegistryTw : アクセスモードが不正です。\n") + u8"CRegistryTw : 設定\n");
}

}  // namespace
