// The file and folder choosers as their callers see them, answered by the test.

#include "dialogs/FileDialogs.h"

#include "ScriptedPrompts.h"

#include <gtest/gtest.h>

namespace {

TEST(FileDialogsTest, OpenFileOffersTheFiltersInOrderAndGivesTheChoice)
{
    ScriptedPrompts prompts;
    prompts.QueueFileAnswer("/home/user/ユーザー.csv");
    COpenFileDialog dialog(nullptr, "users.csv");
    dialog.AddFilter("CSVファイル (*.csv)", "*.csv");
    dialog.AddFilter("テキストファイル (*.txt)", "*.txt");
    ASSERT_EQ(dialog.DoModal("Open File"), 1);
    EXPECT_EQ(dialog.GetPathName(), "/home/user/ユーザー.csv");
    ASSERT_EQ(prompts.FilePrompts().size(), 1u);
    const gui::OpenFilePrompt& prompt = prompts.FilePrompts()[0];
    EXPECT_EQ(prompt.title, "Open File");
    EXPECT_EQ(prompt.initialFile, "users.csv");
    ASSERT_EQ(prompt.filters.size(), 2u);
    EXPECT_EQ(prompt.filters[0].description, "CSVファイル (*.csv)");
    EXPECT_EQ(prompt.filters[1].pattern, "*.txt");
}

TEST(FileDialogsTest, OpenFileWithoutFiltersOffersEveryFileAndCancelGivesTwo)
{
    ScriptedPrompts prompts;
    prompts.QueueFileAnswer("");
    COpenFileDialog dialog(nullptr, "");
    EXPECT_EQ(dialog.DoModal("Open File"), 2);
    EXPECT_EQ(dialog.GetPathName(), "");
    ASSERT_EQ(prompts.FilePrompts().size(), 1u);
    ASSERT_EQ(prompts.FilePrompts()[0].filters.size(), 1u);
    EXPECT_EQ(prompts.FilePrompts()[0].filters[0].description, "All Files(*.*)");
    EXPECT_EQ(prompts.FilePrompts()[0].filters[0].pattern, "*.*");
}

TEST(FileDialogsTest, FolderPathEndsInOneSeparator)
{
    const struct {
        const char* chosen;
        const char* expected;
    } cases[] = {
        {"/srv/www", "/srv/www/"},
        {"/srv/www/", "/srv/www/"},
        {"/", "/"},
        {"/srv/公開", "/srv/公開/"},
    };
    for (const auto& c : cases) {
        ScriptedPrompts prompts;
        prompts.QueueFolderAnswer(c.chosen);
        CFolderDialog dialog("Select Folder", "/missing/folder", nullptr);
        ASSERT_EQ(dialog.Browse(), 1) << c.chosen;
        EXPECT_EQ(dialog.GetFolderPath(), c.expected);
        ASSERT_EQ(prompts.FolderPrompts().size(), 1u);
        EXPECT_EQ(prompts.FolderPrompts()[0].caption, "Selecct Folder...");
        EXPECT_EQ(prompts.FolderPrompts()[0].initialFolder, "/missing/folder");
    }
}

TEST(FileDialogsTest, CancelledFolderChoiceGivesZero)
{
    ScriptedPrompts prompts;
    prompts.QueueFolderAnswer("");
    CFolderDialog dialog("Select Folder", "", nullptr);
    EXPECT_EQ(dialog.Browse(), 0);
    EXPECT_EQ(dialog.GetFolderPath(), "");
}

}  // namespace
