#include "gui/UserPrompts.h"

#include "gui/QtText.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace gui {

namespace {

PromptResponder* g_responder = nullptr;

const char kDefaultCaption[] = "Vollmark";

QMessageBox::Icon IconOf(unsigned type)
{
    switch (type & 0xF0) {
    case kMbIconStop:
        return QMessageBox::Critical;
    case kMbIconQuestion:
        return QMessageBox::Question;
    case kMbIconExclamation:
        return QMessageBox::Warning;
    case kMbIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The buttons of a type, with the result each gives.
std::vector<std::pair<QMessageBox::StandardButton, int>> ButtonsOf(unsigned type)
{
    switch (type & 0x0F) {
    case kMbOkCancel:
        return {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}};
    case kMbYesNoCancel:
        return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, kIdCancel}};
    case kMbYesNo:
        return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
    default:
        return {{QMessageBox::Ok, kIdOk}};
    }
}

// "description (pattern)" as Qt reads a filter: Qt takes the patterns from the text in
// parentheses, so a description that already ends with its pattern loses that copy. "*.*"
// means every file, which here is "*": names need no dot.
QString FilterText(const FileFilter& filter)
{
    const std::string tail = "(" + filter.pattern + ")";
    std::string description = filter.description;
    if (description.size() >= tail.size() &&
        description.compare(description.size() - tail.size(), tail.size(), tail) == 0)
        description.erase(description.size() - tail.size());
    while (!description.empty() && description.back() == ' ')
        description.pop_back();
    const std::string pattern = filter.pattern == "*.*" ? "*" : filter.pattern;
    return ToQString(description + " (" + pattern + ")");
}

}  // namespace

PromptResponder* SetPromptResponder(PromptResponder* responder)
{
    PromptResponder* previous = g_responder;
    g_responder = responder;
    return previous;
}

int MessageBox(QWidget* parent, const std::string& text, unsigned type, const std::string& caption)
{
    MessageBoxPrompt prompt{text, caption.empty() ? std::string(kDefaultCaption) : caption, type};
    if (g_responder)
        return g_responder->AnswerMessageBox(prompt);
    QMessageBox box(IconOf(type), ToQString(prompt.caption), ToQString(text), QMessageBox::NoButton, parent);
    const auto buttons = ButtonsOf(type);
    for (const auto& button : buttons)
        box.addButton(button.first);
    box.setDefaultButton(buttons.front().first);
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const auto& button : buttons) {
        if (button.first == pressed)
            return button.second;
    }
    // Closed with Escape or the title bar: the box's cancelling answer.
    return buttons.size() == 1 ? kIdOk : (type & 0x0F) == kMbYesNo ? kIdNo : kIdCancel;
}

bool ChooseOpenFile(QWidget* parent, const OpenFilePrompt& prompt, std::string* path)
{
    if (g_responder)
        return g_responder->AnswerOpenFile(prompt, path);
    QStringList filters;
    for (const FileFilter& filter : prompt.filters)
        filters << FilterText(filter);
    const QString chosen = QFileDialog::getOpenFileName(parent, ToQString(prompt.title),
                                                        ToQString(prompt.initialFile),
                                                        filters.join(QStringLiteral(";;")));
    if (chosen.isEmpty())
        return false;
    *path = FromQString(chosen);
    return true;
}

bool ChooseSaveFile(QWidget* parent, const SaveFilePrompt& prompt, std::string* path)
{
    if (g_responder)
        return g_responder->AnswerSaveFile(prompt, path);
    QFileDialog chooser(parent, ToQString(prompt.title));
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setDefaultSuffix(ToQString(prompt.defaultExtension));
    chooser.setDirectory(ToQString(prompt.initialFolder));
    chooser.selectFile(ToQString(prompt.initialFile));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return false;
    *path = FromQString(chooser.selectedFiles().front());
    return true;
}

bool ChooseFolder(QWidget* parent, const FolderPrompt& prompt, std::string* folder)
{
    if (g_responder)
        return g_responder->AnswerFolder(prompt, folder);
    const QString chosen = QFileDialog::getExistingDirectory(parent, ToQString(prompt.caption),
                                                             ToQString(prompt.initialFolder));
    if (chosen.isEmpty())
        return false;
    *folder = FromQString(chosen);
    return true;
}

}  // namespace gui
