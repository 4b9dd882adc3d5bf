#include "ScriptedPrompts.h"

ScriptedPrompts::ScriptedPrompts() : previous_(gui::SetPromptResponder(this)) {}

ScriptedPrompts::~ScriptedPrompts() { gui::SetPromptResponder(previous_); }

int ScriptedPrompts::AnswerMessageBox(const gui::MessageBoxPrompt& prompt)
{
    boxes_.push_back(prompt);
    if (boxAnswers_.empty()) {
        ++unexpected_;
        return (prompt.type & 0x0F) == gui::kMbYesNo || (prompt.type & 0x0F) == gui::kMbYesNoCancel ? gui::kIdYes
                                                                                                     : gui::kIdOk;
    }
    const int answer = boxAnswers_.front();
    boxAnswers_.pop_front();
    return answer;
}

namespace {

bool TakeAnswer(std::deque<std::string>& answers, int& unexpected, std::string* out)
{
    if (answers.empty()) {
        ++unexpected;
        return false;
    }
    const std::string answer = answers.front();
    answers.pop_front();
    if (answer.empty())
        return false;
    *out = answer;
    return true;
}

}  // namespace

bool ScriptedPrompts::AnswerOpenFile(const gui::OpenFilePrompt& prompt, std::string* path)
{
    files_.push_back(prompt);
    return TakeAnswer(fileAnswers_, unexpected_, path);
}

bool ScriptedPrompts::AnswerFolder(const gui::FolderPrompt& prompt, std::string* folder)
{
    folders_.push_back(prompt);
    return TakeAnswer(folderAnswers_, unexpected_, folder);
}

bool ScriptedPrompts::AnswerSaveFile(const gui::SaveFilePrompt& prompt, std::string* path)
{
    saves_.push_back(prompt);
    return TakeAnswer(saveAnswers_, unexpected_, path);
}
