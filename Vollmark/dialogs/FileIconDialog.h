#pragma once
// The MIME type table or the file icon table as free text, one entry per line (the form of
// core/TypeTable.h). OK turns the text into the node the server reads, keeps the text for
// the next edit and saves the settings; the server takes the table in at its next start.
// Cancel stores nothing. The settings must outlive the dialog.
//
// The editor's object name is "text", the note's "note"; the buttons are "ok" and
// "cancel". Tab and Ctrl+Tab both type a tab in the editor.

#include <QDialog>

class CControllerSettings;
class QPlainTextEdit;
struct TypeTableKeys;

class CFileIconDialog : public QDialog {
    Q_OBJECT
public:
    // Modes: any value but kFileIcons edits the MIME types.
    static constexpr int kFileIcons = 0;
    static constexpr int kMimeTypes = 1;
    static constexpr const char* kMimeTypesCaption = "MIMEタイプの設定";
    static constexpr const char* kFileIconsCaption = "ファイル・アイコンの設定";
    // What the user may type or paste into the editor; a longer stored text is still shown
    // whole.
    static constexpr int kMaxTextChars = 240000;

    // Shows the stored text of the mode's table.
    CFileIconDialog(CControllerSettings& settings, int mode, QWidget* parent = nullptr);

    // Stores the table and its text, saves the settings and closes.
    void accept() override;

    QPlainTextEdit* GetEditor() const { return editor_; }

private:
    CControllerSettings& settings_;
    const TypeTableKeys& keys_;
    QPlainTextEdit* editor_ = nullptr;
};
