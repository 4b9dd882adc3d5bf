#include "dialogs/UserDialog.h"

#include "controls/ReportListCtrl.h"
#include "core/ControllerSettings.h"
#include "core/UserTable.h"
#include "dialogs/FileDialogs.h"
#include "gui/DataExchange.h"
#include "gui/PageLayout.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UiFont.h"
#include "gui/UserPrompts.h"

#include "SettingsSchema.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <utility>

namespace {

using namespace pages;

// The pixel height the dialogs were laid out for.
constexpr int kDialogFontPx = 12;
constexpr int kNameColumnPx = 100;
constexpr int kPasswordColumnPx = 100;
// The edits' grid: label, edit, and the button beside it.
constexpr int kLabelColumn = 0;
constexpr int kEditColumn = 1;
constexpr int kButtonColumn = 2;

const char kNoNameText[] = "ユーザー名を入力してください。";
// RFC 7617 2: such a user could never log in.
const char kColonInNameText[] = "ユーザー名に「:」は使用できません。";
const char kRegisteredUserText[] = "はすでに登録されています。置き換えますか？";
const char kRegisteredUsersText[] =
    "次のユーザーはすでに登録されています。置き換えますか？\r\n「いいえ」を選ぶと、これらのユーザーは読み込みません。";
const char kUnencodableLinesText[] = "Shift-JISで表せない文字を含むため、次の行は読み込みませんでした。";
const char kColonLinesText[] = "ユーザー名に「:」を含むため、次の行は読み込みませんでした。";
const char kLinesLabel[] = "行: ";
const char kOpenFileTitle[] = "Open File";
const char kUsersHint[] = "無効なユーザーは、登録を残したままログインできなくなります。";
const char kImportHint[] =
    "1行に1ユーザー、「ユーザー名,パスワード,コメント」の形で書かれたファイルを読み込みます。"
    "区切りはカンマかタブです。";

QLabel* Hint(const char* text, QWidget* parent)
{
    auto* label = new QLabel(ToQString(text), parent);
    label->setWordWrap(true);
    return label;
}

// "OK" and "キャンセル" at the right of a row; Cancel rejects, OK is the caller's.
QPushButton* AddOkCancel(QDialog* dialog, QHBoxLayout* row)
{
    QPushButton* ok = NewButton("OK", "ok", dialog);
    QPushButton* cancel = NewButton("キャンセル", "cancel", dialog);
    ok->setDefault(true);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    row->addWidget(ok);
    row->addWidget(cancel);
    return ok;
}

// An equal user name replaced.
void LoadNode(const CConfigAccessor& setting, const schema::NodeKey& node, CReportListCtrl& list)
{
    for (const CReportRow& row : ReadUserRows(setting, node))
        list.SetRow(row, true);
    list.Rebuild(true);
}

}  // namespace

// --- CUserDialog --------------------------------------------------------------------------

CUserDialog::CUserDialog(CControllerSettings& settings, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      enabled_(NewList("enabledUsers", kIconUser, {{"ユーザー名", kNameColumnPx}, {"コメント", kStretchedColumnPx}}, this)),
      disabled_(NewList("disabledUsers", kIconUser, {{"ユーザー名", kNameColumnPx}, {"コメント", kStretchedColumnPx}}, this)),
      name_(NewEdit("userName", this)),
      password_(NewEdit("password", this)),
      comment_(NewEdit("comment", this))
{
    setWindowTitle(ToQString("ユーザー設定"));
    setFont(UiFont(kDialogFontPx));
    password_->setEchoMode(QLineEdit::Password);

    QPushButton* disable = NewButton("→", "disableUsers", this);
    QPushButton* enable = NewButton("←", "enableUsers", this);
    connect(disable, &QPushButton::clicked, this, [this] { disabled_->MoveFrom(*enabled_, true, true); });
    connect(enable, &QPushButton::clicked, this, [this] { enabled_->MoveFrom(*disabled_, true, true); });
    auto* moves = new QVBoxLayout;
    moves->addStretch(1);
    moves->addWidget(disable);
    moves->addWidget(enable);
    moves->addStretch(1);
    auto* lists = new QHBoxLayout;
    lists->addLayout(Titled("有効なユーザー", enabled_), 1);
    lists->addLayout(moves);
    lists->addLayout(Titled("無効なユーザー", disabled_), 1);

    const struct {
        const char* label;
        QLineEdit* edit;
        QPushButton* button;
    } fields[] = {
        {"ユーザー名 :", name_, NewButton("追加", "add", this)},
        {"パスワード :", password_, NewButton("削除", "delete", this)},
        {"コメント :", comment_, NewButton("インポート", "import", this)},
    };
    connect(fields[0].button, &QPushButton::clicked, this, &CUserDialog::OnAdd);
    connect(fields[1].button, &QPushButton::clicked, this, &CUserDialog::OnDelete);
    connect(fields[2].button, &QPushButton::clicked, this, &CUserDialog::OnImport);
    auto* grid = new QGridLayout;
    int row = 0;
    for (const auto& field : fields) {
        grid->addWidget(new QLabel(ToQString(field.label), this), row, kLabelColumn);
        grid->addWidget(field.edit, row, kEditColumn);
        grid->addWidget(field.button, row++, kButtonColumn);
    }
    grid->setColumnStretch(kEditColumn, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    connect(AddOkCancel(this, bottom), &QPushButton::clicked, this, &CUserDialog::OnOK);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addWidget(Hint(kUsersHint, this));
    layout->addLayout(grid);
    layout->addLayout(bottom);
    LoadUsers();
}

void CUserDialog::LoadUsers()
{
    LoadNode(settings_.GetSetting(), schema::kEnabledUsers, *enabled_);
    LoadNode(settings_.GetSetting(), schema::kDisabledUsers, *disabled_);
}

void CUserDialog::OnOK()
{
    StoreUserRows(settings_.GetSetting(), schema::kEnabledUsers, enabled_->GetRows());
    StoreUserRows(settings_.GetSetting(), schema::kDisabledUsers, disabled_->GetRows());
    settings_.Save(nullptr);
    accept();
}

bool CUserDialog::IsRegistered(const std::string& name) const
{
    return enabled_->FindByKey(name) >= 0 || disabled_->FindByKey(name) >= 0;
}

void CUserDialog::PlaceRow(const CReportRow& row)
{
    CReportListCtrl* target = disabled_->FindByKey(row.key) >= 0 ? disabled_ : enabled_;
    target->SetRow(row, true);
    target->Rebuild(true);
}

void CUserDialog::OnAdd()
{
    if (!gui::CheckCp932Fields(this))
        return;
    const std::string name = Text(name_);
    if (name.empty())
        gui::MessageBox(this, kNoNameText, gui::kMbOk);
    else if (UserNameHoldsColon(name))
        gui::MessageBox(this, kColonInNameText, gui::kMbOk | gui::kMbIconStop);
    else if (!IsRegistered(name) || gui::MessageBox(this, "ユーザー「" + name + "」" + kRegisteredUserText,
                                                    gui::kMbYesNo | gui::kMbIconQuestion) == gui::kIdYes)
        PlaceRow(UserRow(name, Text(password_), Text(comment_)));
}

void CUserDialog::OnDelete()
{
    enabled_->DeleteSelected();
    disabled_->DeleteSelected();
}

void CUserDialog::OnImport()
{
    CUserImportDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::vector<ImportedUser> users = dialog.GetUsers();
    std::vector<std::string> registered;
    for (const ImportedUser& user : users) {
        if (IsRegistered(user.name))
            registered.push_back(user.name);
    }
    // One question for the whole file, not one a line.
    const bool replace = registered.empty() ||
                         gui::MessageBox(this, std::string(kRegisteredUsersText) + "\r\n" + ListForMessage(registered),
                                         gui::kMbYesNo | gui::kMbIconQuestion) == gui::kIdYes;
    for (const ImportedUser& user : users) {
        if (replace || !IsRegistered(user.name))
            PlaceRow(UserRow(user.name, user.password, user.comment));
    }
}

// --- CUserImportDialog --------------------------------------------------------------------

CUserImportDialog::CUserImportDialog(QWidget* parent)
    : QDialog(parent),
      list_(NewList("importList", kIconUser,
                     {{"ユーザー名", kNameColumnPx}, {"パスワード", kPasswordColumnPx}, {"コメント", kStretchedColumnPx}},
                     this))
{
    setWindowTitle(ToQString("インポート"));
    setFont(UiFont(kDialogFontPx));
    QPushButton* open = NewButton("開く...", "open", this);
    connect(open, &QPushButton::clicked, this, &CUserImportDialog::OnOpen);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(open);
    bottom->addStretch(1);
    connect(AddOkCancel(this, bottom), &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Hint(kImportHint, this));
    layout->addWidget(list_, 1);
    layout->addLayout(bottom);
}

void CUserImportDialog::OnOpen()
{
    COpenFileDialog dialog(this, "");
    dialog.AddFilter("CSVファイル (*.csv)", "*.csv");
    dialog.AddFilter("テキストファイル (*.txt)", "*.txt");
    if (dialog.DoModal(kOpenFileTitle) == 1)
        ImportFile(dialog.GetPathName());
}

void CUserImportDialog::ImportFile(const std::string& path)
{
    list_->Clear();
    const UserFile file = ReadUserFile(path);
    for (const ImportedUser& user : file.users)
        list_->SetRow(ImportRow(user), true);
    list_->Rebuild(true);
    // Every line left out is told in one message.
    std::string refused;
    const std::pair<const char*, const std::vector<int>&> reasons[] = {{kUnencodableLinesText, file.unencodableLines},
                                                                       {kColonLinesText, file.colonLines}};
    for (const auto& [text, lines] : reasons) {
        if (lines.empty())
            continue;
        refused +=
            (refused.empty() ? "" : "\r\n\r\n") + std::string(text) + "\r\n" + kLinesLabel + ListForMessage(lines);
    }
    if (!refused.empty())
        gui::MessageBox(this, refused, gui::kMbOk | gui::kMbIconExclamation);
}

std::vector<ImportedUser> CUserImportDialog::GetUsers() const
{
    std::vector<ImportedUser> users;
    for (int i = 0; i < list_->GetRowCount(); ++i)
        users.push_back(ImportedUserOfRow(list_->GetRow(i)));
    return users;
}
