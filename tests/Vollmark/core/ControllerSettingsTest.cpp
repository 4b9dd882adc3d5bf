// The controller's copy of the settings file: what reaches the disk, what a failed save
// leaves, and how a file that could not be read is kept.

#include "core/ControllerSettings.h"

#include "ConfigClass.h"
#include "TempFolder.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
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
        std::vector<std::pair<int, std::string>> told;
        settings_.SetSaveObserver([&told](CControllerSettings::SaveResult result, const std::string& error) {
            told.emplace_back(result, error);
        });
        std::string error;
        const int expected = c.saved ? CControllerSettings::kSaved : CControllerSettings::kFailed;
        EXPECT_EQ(settings_.Save(&error), expected) << c.description;
        ASSERT_EQ(told.size(), 1u) << c.description;
        EXPECT_EQ(told[0].first, expected) << c.description;
        EXPECT_EQ(told[0].second, error) << c.description;
        EXPECT_EQ(told[0].second.empty(), c.saved) << c.description;
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

// What someone else does to the file between the controller's load and its save.
enum class Meddling { None, SameBytesNewTime, NewBytesOldTime, Deleted, Created };

class ChangedFileTest : public ControllerSettingsTest {
protected:
    // Loads the sample (none for Created), changes the live port to 81, lets `meddling`
    // happen, then saves with the user answering `answer`, and returns the result.
    int SaveAfter(Meddling meddling, CControllerSettings::ChangedFileAnswer answer)
    {
        if (meddling != Meddling::Created)
            original_ = WriteSample();
        settings_.Load(Root());
        settings_.GetSetting().SetString("Basic::Port", "81");
        Meddle(meddling);
        onDisk_ = GetFile(File());
        settings_.SetChangedFileQuestion([this, answer](const std::string& file) {
            asked_.push_back(file);
            return answer;
        });
        return settings_.Save(nullptr);
    }
    void Meddle(Meddling meddling)
    {
        namespace fs = std::filesystem;
        const fs::path path(File());
        switch (meddling) {
        case Meddling::None:
            break;
        case Meddling::SameBytesNewTime:
            fs::last_write_time(path, fs::last_write_time(path) + std::chrono::hours(1));
            break;
        case Meddling::NewBytesOldTime: {
            // The same length too, so that only the bytes tell.
            const fs::file_time_type time = fs::last_write_time(path);
            std::string text = GetFile(File());
            const size_t at = text.find(">8080<");
            ASSERT_NE(at, std::string::npos);
            text.replace(at, 6, ">8081<");
            PutFile(File(), text);
            fs::last_write_time(path, time);
            break;
        }
        case Meddling::Deleted:
            fs::remove(path);
            break;
        case Meddling::Created:
            WriteSample();
            break;
        }
    }
    std::string Port() { return settings_.GetSetting().GetString("Basic::Port", "none"); }
    // No file, nothing asked, no save yet: for the next case of a table.
    void Reset()
    {
        std::filesystem::remove(File());
        asked_.clear();
        settings_.ClearChanged();
    }

    std::string original_;
    std::string onDisk_;
    std::vector<std::string> asked_;
};

TEST_F(ChangedFileTest, OnlyAFileWhoseBytesChangedIsAskedAbout)
{
    using Answer = CControllerSettings::ChangedFileAnswer;
    const struct {
        const char* description;
        Meddling meddling;
        bool asked;
    } cases[] = {
        {"untouched", Meddling::None, false},
        {"the same bytes written again later", Meddling::SameBytesNewTime, false},
        {"other bytes with the old time", Meddling::NewBytesOldTime, true},
        {"deleted", Meddling::Deleted, true},
        {"made where there was none", Meddling::Created, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Reset();
        const int result = SaveAfter(c.meddling, Answer::Leave);
        EXPECT_EQ(asked_, c.asked ? std::vector<std::string>{Root() + "Tarnwick.xml"} : std::vector<std::string>{});
        EXPECT_EQ(result, c.asked ? CControllerSettings::kNotSaved : CControllerSettings::kSaved);
        if (c.asked) {
            EXPECT_EQ(GetFile(File()), onDisk_);
        }
    }
}

TEST_F(ChangedFileTest, EachAnswerDoesWhatItSays)
{
    using Answer = CControllerSettings::ChangedFileAnswer;
    const struct {
        const char* description;
        Answer answer;
        int result;
        const char* port;  // in memory afterwards; the file's is 8081 or, written, this
        bool written;
        int changed;
    } cases[] = {
        {"read again", Answer::Reload, CControllerSettings::kReloaded, "8081", false, 0},
        {"overwrite", Answer::Overwrite, CControllerSettings::kSaved, "81", true, 1},
        {"leave", Answer::Leave, CControllerSettings::kNotSaved, "81", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Reset();
        EXPECT_EQ(SaveAfter(Meddling::NewBytesOldTime, c.answer), c.result);
        EXPECT_EQ(asked_.size(), 1u);
        EXPECT_EQ(Port(), c.port);
        CConfigClass file;
        ASSERT_EQ(file.LoadXml(Root() + "Tarnwick.xml"), 0);
        EXPECT_EQ(file.GetValue("Setting::Basic::Port", ""), c.written ? c.port : "8081");
        EXPECT_EQ(settings_.IsChanged(), c.changed);
    }
}

TEST_F(ChangedFileTest, LeftFileIsAskedAboutAgainAndOwnWritesAreNot)
{
    using Answer = CControllerSettings::ChangedFileAnswer;
    EXPECT_EQ(SaveAfter(Meddling::NewBytesOldTime, Answer::Leave), CControllerSettings::kNotSaved);
    EXPECT_EQ(settings_.Save(nullptr), CControllerSettings::kNotSaved);
    EXPECT_EQ(asked_.size(), 2u);
    settings_.SetChangedFileQuestion([](const std::string&) { return Answer::Overwrite; });
    EXPECT_EQ(settings_.Save(nullptr), CControllerSettings::kSaved);
    settings_.SetChangedFileQuestion({});
    settings_.GetSetting().SetString("Basic::Port", "82");
    EXPECT_EQ(settings_.Save(nullptr), CControllerSettings::kSaved);
}

TEST_F(ChangedFileTest, WithoutAQuestionAChangedFileIsLeft)
{
    original_ = WriteSample();
    settings_.Load(Root());
    Meddle(Meddling::NewBytesOldTime);
    const std::string meddled = GetFile(File());
    EXPECT_EQ(settings_.Save(nullptr), CControllerSettings::kNotSaved);
    EXPECT_EQ(GetFile(File()), meddled);
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
