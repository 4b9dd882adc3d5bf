#pragma once
// Answers the controller's message boxes and choosers in place of a person, from answers a
// test queued, and keeps every prompt for the test to check. Installed for its lifetime.
// A prompt with no queued answer is cancelled (a message box gets its first button) and
// noted as unexpected.

#include "gui/UserPrompts.h"

#include <deque>
#include <string>
#include <vector>

class ScriptedPrompts : public gui::PromptResponder {
public:
    ScriptedPrompts();
    ~ScriptedPrompts() override;
    ScriptedPrompts(const ScriptedPrompts&) = delete;
    ScriptedPrompts& operator=(const ScriptedPrompts&) = delete;

    void QueueMessageBoxAnswer(int answer) { boxAnswers_.push_back(answer); }
    // An empty path cancels.
    void QueueFileAnswer(const std::string& path) { fileAnswers_.push_back(path); }
    void QueueFolderAnswer(const std::string& folder) { folderAnswers_.push_back(folder); }
    void QueueSaveFileAnswer(const std::string& path) { saveAnswers_.push_back(path); }

    const std::vector<gui::MessageBoxPrompt>& MessageBoxes() const { return boxes_; }
    const std::vector<gui::OpenFilePrompt>& FilePrompts() const { return files_; }
    const std::vector<gui::FolderPrompt>& FolderPrompts() const { return folders_; }
    const std::vector<gui::SaveFilePrompt>& SaveFilePrompts() const { return saves_; }
    int Unexpected() const { return unexpected_; }

    int AnswerMessageBox(const gui::MessageBoxPrompt& prompt) override;
    bool AnswerOpenFile(const gui::OpenFilePrompt& prompt, std::string* path) override;
    bool AnswerFolder(const gui::FolderPrompt& prompt, std::string* folder) override;
    bool AnswerSaveFile(const gui::SaveFilePrompt& prompt, std::string* path) override;

private:
    gui::PromptResponder* previous_;
    std::deque<int> boxAnswers_;
    std::deque<std::string> fileAnswers_;
    std::deque<std::string> folderAnswers_;
    std::deque<std::string> saveAnswers_;
    std::vector<gui::MessageBoxPrompt> boxes_;
    std::vector<gui::OpenFilePrompt> files_;
    std::vector<gui::FolderPrompt> folders_;
    std::vector<gui::SaveFilePrompt> saves_;
    int unexpected_ = 0;
};
