#include "dialogs/FileIconDialog.h"

#include "core/ControllerSettings.h"
#include "core/TypeTable.h"
#include "gui/DataExchange.h"
#include "gui/QtText.h"
#include "gui/UiFont.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kDialogFontPx = 12;
constexpr int kEditorFontPx = 14;
// Room for a table line of a type and a few extensions, and a screenful of lines.
constexpr int kEditorMinWidthPx = 520;
constexpr int kEditorMinHeightPx = 360;

const char kNoteText[] =
    "※この設定はテキストベースです、テキストの内容を編集してください。\nタブは「Ctrl+Tab」キーで入力可能です。";
const char kCancelText[] = "キャンセル";

// The table editor: Ctrl+Tab types a tab as Tab does, and what the user adds is cut at
// kMaxTextChars. A text loaded whole may be longer; then nothing more can be added.
class CTableEdit : public QPlainTextEdit {
public:
    explicit CTableEdit(QWidget* parent) : QPlainTextEdit(parent)
    {
        connect(document(), &QTextDocument::contentsChange, this, &CTableEdit::CutExcess);
    }

    void Load(const QString& text)
    {
        loading_ = true;
        setPlainText(text);
        loading_ = false;
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Tab && event->modifiers() == Qt::ControlModifier) {
            insertPlainText(QStringLiteral("\t"));
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

private:
    // The document's count includes the paragraph end that every document has.
    int Length() const { return document()->characterCount() - 1; }

    void CutExcess(int position, int, int added)
    {
        const int excess = Length() - CFileIconDialog::kMaxTextChars;
        if (loading_ || added <= 0 || excess <= 0)
            return;
        const int end = std::min(position + added, Length());
        QTextCursor cursor(document());
        cursor.setPosition(end);
        cursor.setPosition(end - std::min(excess, added), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }

    bool loading_ = false;
};

}  // namespace

CFileIconDialog::CFileIconDialog(CControllerSettings& settings, int mode, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      keys_(mode != kFileIcons ? kMimeTypeTable : kIconTypeTable)
{
    auto* editor = new CTableEdit(this);
    editor_ = editor;
    setWindowTitle(ToQString(mode != kFileIcons ? kMimeTypesCaption : kFileIconsCaption));
    setFont(UiFont(kDialogFontPx));
    editor->setObjectName(QStringLiteral("text"));
    editor->setFont(UiFont(kEditorFontPx));
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setMinimumSize(kEditorMinWidthPx, kEditorMinHeightPx);
    // The widget's lines end in LF alone; the stored text's in CR LF.
    QString text = ToQString(LoadTypeTableText(settings_.GetSetting(), keys_));
    editor->Load(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    auto* note = new QLabel(ToQString(kNoteText), this);
    note->setObjectName(QStringLiteral("note"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    buttons->button(QDialogButtonBox::Cancel)->setText(ToQString(kCancelText));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(note, 1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(editor, 1);
    layout->addLayout(bottom);
}

void CFileIconDialog::accept()
{
    if (!gui::CheckCp932Fields(this))
        return;
    StoreTypeTable(settings_.GetSetting(), keys_, FromQString(editor_->toPlainText()));
    settings_.Save(nullptr);
    QDialog::accept();
}
