#pragma once
// The open-file and folder choosers that the pages and dialogs use, over the prompts of
// gui/UserPrompts.h (so tests answer them). Paths are CP932 texts.

#include "gui/UserPrompts.h"

#include <string>

class QWidget;

class COpenFileDialog {
public:
    // Without a filter the chooser offers every file.
    static constexpr const char* kAllFilesDescription = "All Files(*.*)";
    static constexpr const char* kAllFilesPattern = "*.*";

    COpenFileDialog(QWidget* owner, const std::string& initialFile);
    virtual ~COpenFileDialog();

    void AddFilter(const std::string& description, const std::string& pattern);
    // 1 when an existing file was chosen, 2 when cancelled.
    int DoModal(const std::string& title);
    // The chosen file's full path.
    const std::string& GetPathName() const { return path_; }

private:
    QWidget* owner_;
    gui::OpenFilePrompt prompt_;
    std::string path_;
};

class CFolderDialog {
public:
    // The chooser's caption, whatever title the caller gives.
    static constexpr const char* kCaption = "Selecct Folder...";

    CFolderDialog(const std::string& title, const std::string& initialFolder, QWidget* owner);
    virtual ~CFolderDialog();

    // 1 when a folder was chosen, else 0.
    int Browse();
    // The chosen folder ending in '/'.
    std::string GetFolderPath() const;

private:
    std::string title_;
    QWidget* owner_;
    std::string initialFolder_;
    std::string folder_;
};
