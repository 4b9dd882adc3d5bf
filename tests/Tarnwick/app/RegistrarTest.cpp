#include "app/Registrar.h"

#include "ModulePath.h"
#include "RegistryStore.h"
#include "ScratchRegistryTest.h"
#include "ServerControlInterface.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;
using platform::RegistryValue;

const std::string kClsid = platform::kServerControlClsid;
const std::string kAppId = platform::kServerControlAppId;
const std::string kLibid = platform::kServerControlLibid;
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kAppIdKey = "AppID\\" + kAppId;

class RegistrarTest : public testsupport::ScratchRegistryTest {
protected:
    // The key's string value, or "<missing>".
    std::string Text(const std::string& key, const std::string& name = std::string())
    {
        std::string text;
        return store_.ReadStringValue(HKEY_CLASSES_ROOT, key, name, text) ? text : "<missing>";
    }
    bool Exists(const std::string& key) { return store_.KeyExists(HKEY_CLASSES_ROOT, key); }
    std::vector<std::string> SubKeys(const std::string& key)
    {
        std::vector<std::string> names;
        store_.EnumSubKeys(HKEY_CLASSES_ROOT, key, names);
        return names;
    }
    std::vector<std::string> ValueNames(const std::string& key)
    {
        std::vector<RegistryValue> values;
        store_.EnumValues(HKEY_CLASSES_ROOT, key, values);
        std::vector<std::string> names;
        for (const RegistryValue& value : values)
            names.push_back(value.name);
        return names;
    }
};

TEST_F(RegistrarTest, RegistersTheClassItsProgIdsAndItsTypeLibrary)
{
    ASSERT_EQ(RegisterServer(1), 0);
    const std::string module = platform::GetModulePath(0);
    ASSERT_FALSE(module.empty());

    EXPECT_EQ(Text("Tarnwick.ServerControl.1"), "ServerControl Class");
    EXPECT_EQ(Text("Tarnwick.ServerControl.1\\CLSID"), kClsid);
    EXPECT_EQ(Text("Tarnwick.ServerControl"), "ServerControl Class");
    EXPECT_EQ(Text("Tarnwick.ServerControl\\CLSID"), kClsid);
    EXPECT_EQ(Text("Tarnwick.ServerControl\\CurVer"), "Tarnwick.ServerControl.1");

    EXPECT_EQ(Text(kClassKey), "ServerControl Class");
    EXPECT_EQ(Text(kClassKey, "AppID"), kAppId);
    EXPECT_EQ(Text(kClassKey + "\\ProgID"), "Tarnwick.ServerControl.1");
    EXPECT_EQ(Text(kClassKey + "\\VersionIndependentProgID"), "Tarnwick.ServerControl");
    EXPECT_EQ(Text(kClassKey + "\\LocalServer32"), module);
    EXPECT_EQ(Text(kClassKey + "\\TypeLib"), kLibid);
    EXPECT_EQ(SubKeys(kClassKey),
              (std::vector<std::string>{"LocalServer32", "ProgID", "TypeLib", "VersionIndependentProgID"}));

    EXPECT_EQ(Text("TypeLib\\" + kLibid), "MyTarnwickLib");
    EXPECT_EQ(Text("TypeLib\\" + kLibid, "Module"), module);
}

TEST_F(RegistrarTest, RegistrationReplacesTheClassKeyWholeAndLeavesItsNeighbours)
{
    const std::string neighbour = "CLSID\\{00000000-0000-0000-0000-000000000001}";
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, kClassKey + "\\Stale"));
    ASSERT_TRUE(store_.SetStringValue(HKEY_CLASSES_ROOT, kClassKey, "Old", "x"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, neighbour));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid + "\\Stale"));

    ASSERT_EQ(RegisterServer(1), 0);
    EXPECT_FALSE(Exists(kClassKey + "\\Stale"));
    EXPECT_EQ(ValueNames(kClassKey), (std::vector<std::string>{"", "AppID"}));
    EXPECT_FALSE(Exists("TypeLib\\" + kLibid + "\\Stale"));
    EXPECT_TRUE(Exists(neighbour));
}

TEST_F(RegistrarTest, RegistersIntoKeysSpelledInAnotherCase)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "clsid\\{other}"));
    ASSERT_EQ(RegisterServer(1), 0);
    EXPECT_EQ(SubKeys("CLSID"), (std::vector<std::string>{kClsid, "{other}"}));
    EXPECT_EQ(SubKeys(""), (std::vector<std::string>{"clsid", "Tarnwick.ServerControl", "Tarnwick.ServerControl.1",
                                                      "TypeLib"}));
}

TEST_F(RegistrarTest, UnregistrationKeepsTheSharedKeys)
{
    ASSERT_EQ(RegisterServer(1), 0);
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{other}"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "TypeLib\\{other}"));
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Tarnwick.ServerControl\\Extra"));

    ASSERT_EQ(RegisterServer(0), 0);
    EXPECT_FALSE(Exists("Tarnwick.ServerControl.1"));
    EXPECT_FALSE(Exists("Tarnwick.ServerControl")) << "removed with everything below it";
    EXPECT_EQ(SubKeys("CLSID"), std::vector<std::string>{"{other}"});
    EXPECT_EQ(SubKeys("TypeLib"), std::vector<std::string>{"{other}"});
}

TEST_F(RegistrarTest, UnregistrationKeepsTheSharedKeysWhenEmpty)
{
    ASSERT_EQ(RegisterServer(1), 0);
    ASSERT_EQ(ApplyDesktopAppIdScript(1), 0);
    ASSERT_EQ(RegisterServer(0), 0);
    ASSERT_EQ(ApplyDesktopAppIdScript(0), 0);
    EXPECT_EQ(SubKeys(""), (std::vector<std::string>{"AppID", "CLSID", "TypeLib"}));
    EXPECT_TRUE(SubKeys("CLSID").empty());
    EXPECT_TRUE(SubKeys("AppID").empty());
}

TEST_F(RegistrarTest, TheDesktopAppIdNamesTheProgram)
{
    ASSERT_EQ(ApplyDesktopAppIdScript(1), 0);
    EXPECT_EQ(Text(kAppIdKey), "Tarnwick");
    EXPECT_EQ(ValueNames(kAppIdKey), std::vector<std::string>{""});
    EXPECT_EQ(Text("AppID\\Tarnwick.EXE", "AppID"), kAppId);
}

TEST_F(RegistrarTest, TheServiceAppIdNamesTheService)
{
    ASSERT_EQ(ApplyServiceAppIdScript(1), 0);
    EXPECT_EQ(Text(kAppIdKey), "Tarnwick");
    EXPECT_EQ(Text(kAppIdKey, "LocalService"), "Tarnwick");
    EXPECT_EQ(Text(kAppIdKey, "ServiceParameters"), "/Service");
    EXPECT_FALSE(Exists("AppID\\Tarnwick.EXE"));
}

TEST_F(RegistrarTest, EachAppIdVariantUndoesTheOther)
{
    ASSERT_EQ(ApplyServiceAppIdScript(1), 0);
    ASSERT_EQ(ApplyDesktopAppIdScript(1), 0);
    EXPECT_EQ(Text(kAppIdKey, "LocalService"), "<missing>");
    EXPECT_EQ(Text(kAppIdKey, "ServiceParameters"), "<missing>");

    ASSERT_EQ(ApplyServiceAppIdScript(1), 0);
    EXPECT_EQ(Text(kAppIdKey, "LocalService"), "Tarnwick");
    EXPECT_TRUE(Exists("AppID\\Tarnwick.EXE")) << "not part of the service script";
}

TEST_F(RegistrarTest, UnregisteringAnAppIdKeepsOtherApplications)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "AppID\\{other}"));
    ASSERT_EQ(ApplyDesktopAppIdScript(1), 0);
    ASSERT_EQ(ApplyServiceAppIdScript(0), 0);
    EXPECT_FALSE(Exists(kAppIdKey)) << "the service script removes the AppID whoever wrote it";
    EXPECT_TRUE(Exists("AppID\\Tarnwick.EXE"));
    ASSERT_EQ(ApplyDesktopAppIdScript(0), 0);
    EXPECT_EQ(SubKeys("AppID"), std::vector<std::string>{"{other}"});
}

TEST_F(RegistrarTest, RemovingWhatWasNeverRegisteredSucceedsAndWritesNothing)
{
    EXPECT_EQ(ApplyDesktopAppIdScript(0), 0);
    EXPECT_EQ(ApplyServiceAppIdScript(0), 0);
    EXPECT_EQ(RegisterServer(0), 0);
    EXPECT_FALSE(std::filesystem::exists(storeDir_));

    ASSERT_TRUE(store_.CreateKey(HKEY_CLASSES_ROOT, "Unrelated"));
    EXPECT_EQ(RegisterServer(0), 0);
    EXPECT_EQ(SubKeys(""), std::vector<std::string>{"Unrelated"});
}

TEST_F(RegistrarTest, AStoreThatCannotBeWrittenFailsEveryWrite)
{
    testsupport::PutFile(folder_.Path() + "file", "x");
    ::setenv("TARNWICK_REGISTRY", (folder_.Path() + "file/store").c_str(), 1);
    EXPECT_EQ(RegisterServer(1), -1);
    EXPECT_EQ(ApplyDesktopAppIdScript(1), -1);
    EXPECT_EQ(ApplyServiceAppIdScript(1), -1);
    EXPECT_EQ(WriteEventSourceKey(), -1);
    // Nothing to remove there, so removal succeeds.
    EXPECT_EQ(RegisterServer(0), 0);
}

TEST_F(RegistrarTest, WritesTheEventSourceKey)
{
    ASSERT_EQ(WriteEventSourceKey(), 0);
    ASSERT_EQ(WriteEventSourceKey(), 0) << "writing it again is harmless";
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Tarnwick";
    std::string text;
    std::uint32_t number = 0;
    ASSERT_TRUE(store_.ReadStringValue(HKEY_LOCAL_MACHINE, key, "EventMessageFile", text));
    EXPECT_EQ(text, platform::GetModulePath(0));
    ASSERT_TRUE(store_.ReadDWordValue(HKEY_LOCAL_MACHINE, key, "TypesSupported", number));
    EXPECT_EQ(number, 5u);
    std::vector<RegistryValue> values;
    ASSERT_TRUE(store_.EnumValues(HKEY_LOCAL_MACHINE, key, values));
    EXPECT_EQ(values.size(), 2u);
}

TEST_F(RegistrarTest, TheEventSourceKeyReusesAKeySpelledInAnotherCase)
{
    ASSERT_TRUE(store_.CreateKey(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\services\\eventlog\\application\\tarnwick"));
    ASSERT_EQ(WriteEventSourceKey(), 0);
    std::vector<std::string> names;
    ASSERT_TRUE(store_.EnumSubKeys(HKEY_LOCAL_MACHINE, "", names));
    EXPECT_EQ(names, std::vector<std::string>{"system"});
    std::uint32_t number = 0;
    EXPECT_TRUE(store_.ReadDWordValue(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, "TypesSupported", number));
    EXPECT_EQ(number, 5u);
}

}  // namespace
