#pragma once
// Everything that stops and asks the person in front of the screen: message boxes and the
// open-file and folder choosers. Each goes through here so that a test can install a
// responder that answers in place of a person; without one the real Qt dialog runs.
//
// Message box types and results keep the platform's numbers, since callers compare them.

#include <string>
#include <vector>

class QWidget;

namespace gui {

// Buttons (low nibble) and icon (next nibble) of a message box.
enum MessageBoxType : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNoCancel = 0x3,
    kMbYesNo = 0x4,
    kMbIconStop = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
};

// What a message box returns: the button pressed.
enum MessageBoxResult : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

struct MessageBoxPrompt {
    std::string text;     // CP932
    std::string caption;  // CP932
    unsigned type = kMbOk;
};

struct FileFilter {
    std::string description;  // CP932, "CSVファイル (*.csv)"
    std::string pattern;      // "*.csv"
};

struct OpenFilePrompt {
    std::string title;
    std::string initialFile;
    std::vector<FileFilter> filters;
};

struct SaveFilePrompt {
    std::string title;
    std::string initialFolder;
    std::string initialFile;       // the name offered, without a folder
    std::string defaultExtension;  // added to a name typed without one
};

struct FolderPrompt {
    std::string title;          // what the caller asks for
    std::string caption;        // the chooser window's caption
    std::string initialFolder;  // "" or a missing folder: no selection
};

// Answers prompts in place of a person; tests install one.
class PromptResponder {
public:
    virtual ~PromptResponder() = default;
    // One of the MessageBoxResult values the box's buttons allow.
    virtual int AnswerMessageBox(const MessageBoxPrompt& prompt) = 0;
    // True with a CP932 path for a chosen file or folder, false for cancel.
    virtual bool AnswerOpenFile(const OpenFilePrompt& prompt, std::string* path) = 0;
    virtual bool AnswerFolder(const FolderPrompt& prompt, std::string* folder) = 0;
    virtual bool AnswerSaveFile(const SaveFilePrompt& prompt, std::string* path) = 0;
};

// Installs `responder` (not owned; null restores the real dialogs) and gives the previous.
PromptResponder* SetPromptResponder(PromptResponder* responder);

// A modal message box over `parent` (may be null); caption "" means "Vollmark".
int MessageBox(QWidget* parent, const std::string& text, unsigned type = kMbOk, const std::string& caption = "");

// The platform's open-file chooser: an existing file. False when cancelled.
bool ChooseOpenFile(QWidget* parent, const OpenFilePrompt& prompt, std::string* path);

// The platform's save-file chooser: a name to write, which need not exist yet; it asks
// before a file would be replaced. False when cancelled.
bool ChooseSaveFile(QWidget* parent, const SaveFilePrompt& prompt, std::string* path);

// The platform's folder chooser. False when cancelled.
bool ChooseFolder(QWidget* parent, const FolderPrompt& prompt, std::string* folder);

}  // namespace gui
