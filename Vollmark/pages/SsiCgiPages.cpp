#include "pages/SsiCgiPages.h"

#include "controls/ReportListCtrl.h"
#include "core/ControllerSettings.h"
#include "core/CgiTable.h"
#include "core/PathEntryRules.h"
#include "dialogs/FileDialogs.h"
#include "gui/DataExchange.h"
#include "gui/PageLayout.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UiFont.h"
#include "gui/UserPrompts.h"

#include "Process.h"
#include "SettingsSchema.h"
#include "TextTrim.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>
#include <vector>

using namespace pages;

namespace {

constexpr int kExtColumnPx = 50;
constexpr int kHeaderColumnPx = 100;

const char kPlaceholders[] = " %FilePath% %Query%";
const char kOpenFileTitle[] = "Open File";
// Programs here carry no extension, so the chooser keeps the description people know but
// offers every file.
const char kProgramFilterText[] = "実行ファイル (*.exe)";
const char kProgramFilterPattern[] = "*";

const char kMissingFieldsText[] = "入力されていない項目があります。";
const char kSeparatorText[] = "名前に「::」は使用できません。";

// The program a CGI command runs, read as the server splits the command; "" when the
// command starts with a placeholder that only a request fills (an executable script runs
// as "%FilePath% %Query%") or names nothing.
std::string ProgramOfCommand(const std::string& command)
{
    const std::vector<platform::CommandArgument> args = platform::SplitCommandLine(command);
    if (args.empty() || args.front().text.find('%') != std::string::npos)
        return "";
    return args.front().text;
}

// ".shtml." is shtml: people type the extension with its dot.
std::string StripDots(const std::string& text) { return TrimText(text, "."); }

// The settings path separator would cut an SSI name, stored as a key, into nodes; no
// extension holds it either.
bool RefuseSeparator(QWidget* page, const std::string& name)
{
    if (!HoldsSettingsSeparator(name))
        return false;
    gui::MessageBox(page, kSeparatorText, gui::kMbOk | gui::kMbIconStop);
    return true;
}

QLabel* NewNote(const std::string& text, QWidget* parent)
{
    QLabel* note = NewLabel(text, parent);
    note->setWordWrap(true);
    return note;
}

}  // namespace

// --- CSIICGIPage1 -------------------------------------------------------------------------

CSIICGIPage1::CSIICGIPage1(const CControllerSettings& settings, QWidget* parent)
    : CPropertyPage("CGI設定", parent),
      settings_(settings),
      list_(NewList("cgiList", kIconCgi,
                    {{"拡張子", kExtColumnPx}, {"ファイルヘッダ", kHeaderColumnPx},
                     {"CGI実行プログラム", kStretchedColumnPx}},
                    this)),
      ext_(NewEdit("fileExt", this)),
      header_(NewEdit("fileHeader", this)),
      command_(NewEdit("command", this)),
      executable_(NewCheck("スクリプトファイルではなく、Windowsの実行ファイル", "executeFile", this)),
      replace_(NewButton("上書き", "replace", this))
{
    setFont(UiFont(kPageFontPx));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->viewport()->installEventFilter(this);

    QPushButton* up = NewButton("↑", "up", this);
    QPushButton* down = NewButton("↓", "down", this);
    QPushButton* add = NewButton("追加", "add", this);
    QPushButton* remove = NewButton("削除", "delete", this);
    QPushButton* placeholders = NewButton("「%FilePath% %Query%」を追加", "appendPlaceholders", this);
    QPushButton* browse = NewButton("参照...", "browse", this);
    connect(up, &QPushButton::clicked, this, [this] { OnMove(-1); });
    connect(down, &QPushButton::clicked, this, [this] { OnMove(1); });
    connect(add, &QPushButton::clicked, this, &CSIICGIPage1::OnAdd);
    connect(replace_, &QPushButton::clicked, this, &CSIICGIPage1::OnReplace);
    connect(remove, &QPushButton::clicked, this, &CSIICGIPage1::OnDelete);
    connect(placeholders, &QPushButton::clicked, this, &CSIICGIPage1::OnAppendPlaceholders);
    connect(browse, &QPushButton::clicked, this, &CSIICGIPage1::OnBrowse);
    connect(executable_, &QCheckBox::clicked, this, &CSIICGIPage1::OnExecutableClicked);

    auto* listRow = new QHBoxLayout;
    listRow->addWidget(list_, 1);
    listRow->addLayout(ButtonColumn({up, down}));

    QGridLayout* grid = NewFieldGrid();
    int row = 0;
    AddFieldRow(*grid, row++, "ファイルの拡張子 : ", ext_);
    AddFieldRow(*grid, row++, "ファイルヘッダ　:", header_);
    AddFieldRow(*grid, row++, "CGI実行コマンド : ", command_, browse);
    AddSpanningRow(*grid, row, executable_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(placeholders);
    buttons->addStretch(1);
    buttons->addWidget(replace_);
    buttons->addWidget(add);
    buttons->addWidget(remove);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(listRow, 1);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addWidget(NewNote("拡張子はドットを付けずに入力します（例 : cgi）。ファイルヘッダを入力すると、"
                              "ファイルの1行目にその文字列を含むスクリプトだけを実行します。コマンドの %FilePath% は"
                              "スクリプトファイルに、%Query% は引数に置き換えられます。実行ファイルとは、ELF形式か「#!」で始まる、"
                              "それだけで動くファイルです。",
                              this));
}

void CSIICGIPage1::OnInitDialog()
{
    replace_->setEnabled(false);
    for (const CReportRow& row : ReadCgiRows(settings_.GetSetting()))
        list_->SetRow(row, false);
    list_->Rebuild(false);
}

bool CSIICGIPage1::OnKillActive()
{
    StoreCgiRows(settings_.GetSetting(), list_->GetRows());
    return true;
}

bool CSIICGIPage1::eventFilter(QObject* watched, QEvent* event)
{
    // The selection has already followed the press when the button comes up.
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease)
        OnListClick();
    return CPropertyPage::eventFilter(watched, event);
}

bool CSIICGIPage1::MakeRow(CReportRow& row)
{
    if (!gui::CheckCp932Fields(this))
        return false;
    const std::string ext = Text(ext_);
    const std::string command = Text(command_);
    if (ext.empty() || command.empty()) {
        gui::MessageBox(this, kMissingFieldsText);
        return false;
    }
    if (RefuseSeparator(this, ext))
        return false;
    row = CgiRow({ext, Text(header_), command, executable_->isChecked() ? 1 : 0});
    return true;
}

void CSIICGIPage1::OnListClick()
{
    const int selected = list_->GetFirstSelected();
    replace_->setEnabled(selected >= 0);
    if (selected < 0)
        return;
    const CgiHandler handler = CgiHandlerOfRow(list_->GetRow(selected));
    SetText(ext_, handler.ext);
    SetText(header_, handler.header);
    SetText(command_, handler.command);
    executable_->setChecked(handler.executable != 0);
    OnExecutableClicked();
}

void CSIICGIPage1::OnExecutableClicked() { header_->setEnabled(!executable_->isChecked()); }

void CSIICGIPage1::OnAdd()
{
    CReportRow row;
    if (!MakeRow(row))
        return;
    list_->SetRow(row, false);
    list_->Rebuild(false);
}

void CSIICGIPage1::OnReplace()
{
    const int selected = list_->GetFirstSelected();
    CReportRow row;
    if (selected < 0 || !MakeRow(row))
        return;
    list_->GetRow(selected) = row;
    list_->Rebuild(false);
    list_->SelectRow(selected);
}

void CSIICGIPage1::OnDelete() { list_->DeleteSelectedKeepingOrder(); }

void CSIICGIPage1::OnMove(int step)
{
    if (!list_->MoveSelected(step))
        QApplication::beep();
}

void CSIICGIPage1::OnAppendPlaceholders() { SetText(command_, TrimText(TrimText(Text(command_)) + kPlaceholders)); }

void CSIICGIPage1::OnBrowse()
{
    // The chooser opens on the command's program, its %ServerRoot% expanded, as the other
    // choosers open where their field points.
    COpenFileDialog dialog(this, ProgramOfCommand(settings_.ExpandServerPath(Text(command_))));
    dialog.AddFilter(kProgramFilterText, kProgramFilterPattern);
    if (dialog.DoModal(kOpenFileTitle) == 1)
        SetText(command_, dialog.GetPathName());
}

// --- CSSICGIPage2 -------------------------------------------------------------------------

CSSICGIPage2::CSSICGIPage2(const CConfigAccessor& setting, QWidget* parent)
    : CPropertyPage("SSI設定", parent),
      setting_(setting),
      list_(NewList("ssiList", kIconHtmlPage, {{"ファイル名", kStretchedColumnPx}}, this)),
      name_(NewEdit("ssiExt", this))
{
    setFont(UiFont(kPageFontPx));
    auto* group = new QGroupBox(ToQString("SSIを実行するファイル拡張子"), this);
    QPushButton* add = NewButton("追加", "ssiAdd", group);
    QPushButton* remove = NewButton("削除", "ssiDelete", group);
    connect(add, &QPushButton::clicked, this, &CSSICGIPage2::OnAdd);
    connect(remove, &QPushButton::clicked, list_, &CReportListCtrl::DeleteSelected);

    auto* addRow = new QHBoxLayout;
    addRow->addWidget(NewLabel("追加拡張子 :", group));
    addRow->addWidget(name_, 1);
    addRow->addWidget(add);
    addRow->addWidget(remove);

    auto* inGroup = new QVBoxLayout(group);
    inGroup->addWidget(list_, 1);
    inGroup->addLayout(addRow);
    inGroup->addWidget(NewNote("拡張子はドットを付けずに入力します（例 : shtml）。", group));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group, 1);
}

void CSSICGIPage2::OnInitDialog()
{
    for (const std::string& name : ReadSimpleList(setting_.GetSubAccessor(schema::kSsi.path)))
        list_->SetRow(CReportRow{0, name, {}, {}, 0}, true);
    list_->Rebuild(true);
}

bool CSSICGIPage2::OnKillActive()
{
    std::vector<std::string> names;
    for (int i = 0; i < list_->GetRowCount(); ++i)
        names.push_back(list_->GetRow(i).key);
    StoreSimpleList(setting_, schema::kSsi.path, names);
    return true;
}

void CSSICGIPage2::OnAdd()
{
    if (!gui::CheckCp932Fields(this))
        return;
    const std::string name = StripDots(Text(name_));
    if (name.empty() || RefuseSeparator(this, name))
        return;
    list_->SetRow(CReportRow{0, name, {}, {}, 0}, true);
    list_->Rebuild(true);
}

// --- CSSICGIPage3 -------------------------------------------------------------------------

CSSICGIPage3::CSSICGIPage3(const CConfigAccessor& setting, QWidget* parent)
    : CPropertyPage("環境変数", parent),
      setting_(setting),
      getHostName_(NewCheck("ホスト名を取得する", "enableGetHostName", this))
{
    setFont(UiFont(kPageFontPx));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(getHostName_);
    layout->addWidget(NewNote("CGIとSSIの環境変数 REMOTE_HOST に、クライアントのホスト名を渡します。"
                              "名前を引く間、応答が遅れることがあります。",
                              this));
    layout->addStretch(1);
}

void CSSICGIPage3::OnInitDialog()
{
    // Read under the lock, so that looking creates no empty node.
    CConfigReadLock lock(setting_);
    getHostName_->setChecked(schema::kEnableGetHostName.Read(setting_, schema::kControllerDefault) != 0);
}

bool CSSICGIPage3::OnKillActive()
{
    setting_.SetInt(schema::kEnableGetHostName.path, getHostName_->isChecked() ? 1 : 0);
    return true;
}
