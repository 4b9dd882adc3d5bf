// The controller's copy of the settings file: what reaches the disk, what a failed save
// leaves, and how a file that could not be read is kept.

#include "core/ControllerSettings.h"

#include "ConfigClass.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using testsupport::GetFile;
using testsupport::PutFile;

class ControllerSettingsTest : public testing::Test {
protected:
    // The root as the server gives it: CP932, with a trailing '/'.
    std::string Root() const { return platform::Utf8ToCp932(folder_.Path()); }
    std::string File() const { return folder_.Path() + "Tarnwick.xml"; }

    // A settings file written by the tree itself, with Japanese text and a placeholder.
    std::string WriteSample()
    {
        CConfigClass tree;
        tree.SetValue("Setting::Basic::Port", "8080");
        tree.SetValue("Setting::Path::Path_0::LocalPath", "%ServerRoot%公開/");
        tree.SetValue("Setting::Users::太郎", "secret");
        EXPECT_EQ(tree.SaveXml(Root() + "Tarnwick.xml", ""), 0);
        return GetFile(File());
    }

    testsupport::TempFolder folder_;
    CControllerSettings settings_;
};

TEST_F(ControllerSettingsTest, LoadThenSaveWritesTheSameBytes)
{
    const std::string original = WriteSample();
    settings_.Load(Root());
    EXPECT_FALSE(settings_.LoadFailed());
    EXPECT_EQ(settings_.GetSetting().GetString("Users::太郎", ""), "secret");
    std::string error;
    ASSERT_EQ(settings_.Save(&error), 0) << error;
    EXPECT_EQ(GetFile(File()), original);
    EXPECT_EQ(settings_.IsChanged(), 1);
}

TEST_F(ControllerSettingsTest, ChangedFlagStaysSetAcrossSavesUntilCleared)
{
    WriteSample();
    settings_.Load(Root());
    EXPECT_EQ(settings_.IsChanged(), 0);
    ASSERT_EQ(settings_.Save(nullptr), 0);
    ASSERT_EQ(settings_.Save(nullptr), 0);
    EXPECT_EQ(settings_.IsChanged(), 1);
    settings_.ClearChanged();
    EXPECT_EQ(settings_.IsChanged(), 0);
}

TEST_F(ControllerSettingsTest, RestoreUndoesEverythingSinceTheSnapshot)
{
    WriteSample();
    settings_.Load(Root());
    const std::string before = settings_.GetTree().SerializeNode("Setting::");
    settings_.Snapshot();
    settings_.GetSetting().SetString("Basic::Port", "81");
    settings_.GetSetting().SetString("New::Key", "value");
    settings_.GetSetting().RemoveSection("Users");
    settings_.Restore();
    EXPECT_EQ(settings_.GetTree().SerializeNode("Setting::"), before);
}

TEST_F(ControllerSettingsTest, ExpandServerPathReplacesOnlyItsTwoNames)
{
    const struct {
        const char* text;
        std::string expected;
    } cases[] = {
        {"%ServerRoot%Logs/%Year%.txt", "/srv/ルート/Logs/%Year%.txt"},
        {"%ServerName% on %ServerRoot%", "Tarnwick on /srv/ルート/"},
        {"no placeholder", "no placeholder"},
        {"%Unknown%", "%Unknown%"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CControllerSettings::ExpandServerPath(c.text, "/srv/ルート/"), c.expected) << c.text;
}

TEST_F(ControllerSettingsTest, ExpandServerPathWithoutARootTakesTheLoadedOne)
{
    EXPECT_EQ(settings_.ExpandServerPath("%ServerRoot%SSLKey/"), "SSLKey/");
    settings_.Load(Root());
    EXPECT_EQ(settings_.ExpandServerPath("%ServerRoot%SSLKey/"), Root() + "SSLKey/");
}

TEST_F(ControllerSettingsTest, EverySaveTellsTheObserverItsOutcome)
{
    // A root below a regular file cannot hold anything, whoever runs the test.
    PutFile(folder_.Path() + "plain", "x");
    const struct {
        const char* description;
        std::string root;
        bool saved;
    } cases[] = {
        {"a writable root", Root(), true},
        {"a root below a file", Root() + "plain/", false},
    };
    for (const auto& c : cases) {
        settings_.Load(c.root);
        std::vector<std::string> told;
        settings_.SetSaveObserver([&told](const std::string& error) { told.push_back(error); });
        std::string error;
        EXPECT_EQ(settings_.Save(&error), c.saved ? 0 : -1) << c.description;
        ASSERT_EQ(told.size(), 1u) << c.description;
        EXPECT_EQ(told[0], error) << c.description;
        EXPECT_EQ(told[0].empty(), c.saved) << c.description;
    }
}

TEST_F(ControllerSettingsTest, FailedSaveNamesTheFileAndLeavesTheFlag)
{
    // A root below a regular file cannot hold anything, whoever runs the test.
    PutFile(folder_.Path() + "plain", "x");
    settings_.Load(Root() + "plain/");
    settings_.GetSetting().SetString("Basic::Port", "81");
    std::string error;
    EXPECT_EQ(settings_.Save(&error), -1);
    EXPECT_NE(error.find(Root() + "plain/Tarnwick.xml"), std::string::npos) << error;
    EXPECT_EQ(settings_.IsChanged(), 0);
}

TEST_F(ControllerSettingsTest, WithoutARootNothingIsWritten)
{
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(folder_.Path().c_str()), 0);
    settings_.Load("");
    std::string error;
    EXPECT_EQ(settings_.Save(&error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(settings_.IsChanged(), 0);
    EXPECT_TRUE(folder_.Entries().empty());
    ASSERT_EQ(::chdir(previous), 0);
}

TEST_F(ControllerSettingsTest, UnreadableFileIsKeptAsBackupOnTheFirstSaveOnly)
{
    const std::string broken = "<?xml version=\"1.0\"?>\n<CConfigClass type=\"Tarnwick\"><Node";
    PutFile(File(), broken);
    settings_.Load(Root());
    EXPECT_TRUE(settings_.LoadFailed());
    EXPECT_FALSE(settings_.GetLoadError().empty());

    settings_.GetSetting().SetString("Basic::Port", "81");
    ASSERT_EQ(settings_.Save(nullptr), 0);
    EXPECT_EQ(GetFile(File() + ".bak"), broken);
    CConfigClass written;
    ASSERT_EQ(written.LoadXml(Root() + "Tarnwick.xml"), 0);
    EXPECT_EQ(written.GetValue("Setting::Basic::Port", ""), "81");

    // The backup is the unreadable file, not whatever the controller wrote later.
    settings_.GetSetting().SetString("Basic::Port", "82");
    ASSERT_EQ(settings_.Save(nullptr), 0);
    EXPECT_EQ(GetFile(File() + ".bak"), broken);
}

TEST_F(ControllerSettingsTest, MissingFileIsNoFailure)
{
    settings_.Load(Root());
    EXPECT_FALSE(settings_.LoadFailed());
    EXPECT_EQ(settings_.GetSetting().GetString("Basic::Port", "80"), "80");
    ASSERT_EQ(settings_.Save(nullptr), 0);
    EXPECT_FALSE(GetFile(File()).empty());
    EXPECT_EQ(GetFile(File() + ".bak"), "");
}

}  // namespace
