#include "dialogs/FileDialogs.h"

COpenFileDialog::COpenFileDialog(QWidget* owner, const std::string& initialFile) : owner_(owner)
{
    prompt_.initialFile = initialFile;
}

COpenFileDialog::~COpenFileDialog() = default;

void COpenFileDialog::AddFilter(const std::string& description, const std::string& pattern)
{
    prompt_.filters.push_back({description, pattern});
}

int COpenFileDialog::DoModal(const std::string& title)
{
    gui::OpenFilePrompt prompt = prompt_;
    prompt.title = title;
    if (prompt.filters.empty())
        prompt.filters.push_back({kAllFilesDescription, kAllFilesPattern});
    std::string chosen;
    if (!gui::ChooseOpenFile(owner_, prompt, &chosen))
        return 2;
    path_ = chosen;
    return 1;
}

CFolderDialog::CFolderDialog(const std::string& title, const std::string& initialFolder, QWidget* owner)
    : title_(title), owner_(owner), initialFolder_(initialFolder)
{
}

CFolderDialog::~CFolderDialog() = default;

int CFolderDialog::Browse()
{
    std::string chosen;
    if (!gui::ChooseFolder(owner_, {title_, kCaption, initialFolder_}, &chosen) || chosen.empty())
        return 0;
    folder_ = chosen;
    return 1;
}

std::string CFolderDialog::GetFolderPath() const
{
    if (!folder_.empty() && folder_.back() != '/')
        return folder_ + '/';
    return folder_;
}
