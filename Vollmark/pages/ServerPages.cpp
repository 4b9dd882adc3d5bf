#include "pages/ServerPages.h"

#include "controls/ReportListCtrl.h"
#include "core/ControllerSettings.h"
#include "core/LogSettings.h"
#include "core/PathEntryRules.h"
#include "dialogs/FileDialogs.h"
#include "dialogs/KeyGenDialog.h"
#include "gui/DataExchange.h"
#include "gui/PageLayout.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UiFont.h"
#include "gui/UserPrompts.h"

#include "SettingsSchema.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <ctime>
#include <string>
#include <utility>

using namespace pages;

namespace {

// The top of every number field's range: a port's, which the counts and seconds share.
constexpr unsigned kMaxFieldValue = 65535;

const char kOpenFileTitle[] = "Open File";

const char kNoNameText[] = "名前が入力されていません。";
const char kSeparatorInNameText[] = "名前に「::」は使用できません。";

struct LogField {
    std::string LogSettings::*value;
    const char* label;
    const char* name;  // the edit's object name
    bool isFormat;     // "apache互換" writes here
};

// In the order they are shown.
const LogField kLogFields[] = {
    {&LogSettings::logFilePath, "ログファイル名 : ", "logFilePath", false},
    {&LogSettings::logFormat, "ログ書式 :", "logFormat", true},
    {&LogSettings::systemLogFilePath, "システムログ名 : ", "systemLogFilePath", false},
};

// Through the "Setting" accessor, as the page shows a missing key.
unsigned ReadUInt(const CConfigAccessor& setting, const schema::NumberKey& key)
{
    return static_cast<unsigned>(key.Read(setting, schema::kControllerDefault));
}

// Values pass the range check first, so they fit an int.
void WriteUInt(const CConfigAccessor& setting, const schema::NumberKey& key, unsigned value)
{
    setting.SetInt(key.path, static_cast<int>(value));
}

void ExchangeUInt(gui::CDataExchange& dx, QLineEdit* edit, unsigned& value, unsigned minValue)
{
    gui::DDX_Text(dx, edit, value);
    gui::DDV_MinMaxUInt(dx, value, minValue, kMaxFieldValue);
}

// A framed field with its unit, if any, after it.
QGroupBox* NewGroup(const std::string& title, QWidget* field, const std::string& unit = "")
{
    auto* group = new QGroupBox(ToQString(title), field->parentWidget());
    auto* row = new QHBoxLayout(group);
    row->addWidget(field, 1);
    if (!unit.empty())
        row->addWidget(NewLabel(unit, group));
    return group;
}

QHBoxLayout* SideBySide(QWidget* left, QWidget* right)
{
    auto* row = new QHBoxLayout;
    row->addWidget(left, 1);
    row->addWidget(right, 1);
    return row;
}

CReportRow IndexRow(const std::string& name) { return CReportRow{0, name, {}, {}, 0}; }

}  // namespace

// --- CServerPage1 -------------------------------------------------------------------------

CServerPage1::CServerPage1(const CConfigAccessor& setting, QWidget* parent)
    : CPropertyPage("ネットワーク設定", parent),
      setting_(setting),
      portEdit_(NewEdit("port", this)),
      maxConnectEdit_(NewEdit("maxConnect", this)),
      timeOutEdit_(NewEdit("timeOut", this)),
      maxOneHostConnectEdit_(NewEdit("maxOneHostConnect", this)),
      enableKeepAliveCheck_(NewCheck("Keep-Aliveを有効にする", "enableKeepAlive", this)),
      maxKeepAliveEdit_(NewEdit("maxKeepAlive", this)),
      keepAliveTimeEdit_(NewEdit("keepAliveTime", this))
{
    setFont(UiFont(kPageFontPx));
    auto* keepAlive = new QGroupBox(ToQString("Keep-Alive"), this);
    QGridLayout* keepAliveFields = NewFieldGrid();
    int row = 0;
    AddSpanningRow(*keepAliveFields, row++, enableKeepAliveCheck_);
    AddFieldRow(*keepAliveFields, row++, "最大数 : ", maxKeepAliveEdit_);
    AddFieldRow(*keepAliveFields, row++, "タイムアウト :", keepAliveTimeEdit_, NewLabel("秒", this));
    keepAlive->setLayout(keepAliveFields);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(SideBySide(NewGroup("サービスを行うポート", portEdit_), NewGroup("最大接続数", maxConnectEdit_)));
    layout->addLayout(SideBySide(NewGroup("タイムアウト", timeOutEdit_, "秒"),
                                 NewGroup("１ホストあたりの最大接続数", maxOneHostConnectEdit_)));
    layout->addWidget(keepAlive);
    layout->addStretch(1);
}

void CServerPage1::DoDataExchange(gui::CDataExchange& dx)
{
    ExchangeUInt(dx, portEdit_, port_, 1);
    ExchangeUInt(dx, maxConnectEdit_, maxConnect_, 0);
    ExchangeUInt(dx, timeOutEdit_, timeOut_, 5);
    ExchangeUInt(dx, maxOneHostConnectEdit_, maxOneHostConnect_, 0);
    gui::DDX_Check(dx, enableKeepAliveCheck_, enableKeepAlive_);
    ExchangeUInt(dx, maxKeepAliveEdit_, maxKeepAlive_, 1);
    ExchangeUInt(dx, keepAliveTimeEdit_, keepAliveTime_, 1);
}

void CServerPage1::OnInitDialog()
{
    {
        CConfigReadLock lock(setting_);
        port_ = ReadUInt(setting_, schema::kPort);
        maxConnect_ = ReadUInt(setting_, schema::kMaxConnect);
        timeOut_ = ReadUInt(setting_, schema::kTimeOut);
        // Set when missing, unlike the server: a first visit turns keep-alive on.
        enableKeepAlive_ = schema::kEnableKeepAlive.Read(setting_, schema::kControllerDefault);
        maxKeepAlive_ = ReadUInt(setting_, schema::kMaxKeepAlive);
        keepAliveTime_ = ReadUInt(setting_, schema::kKeepAliveTime);
        maxOneHostConnect_ = ReadUInt(setting_, schema::kMaxOneHostConnect);
    }
    gui::UpdateData(this, false, [this](gui::CDataExchange& dx) { DoDataExchange(dx); });
}

bool CServerPage1::OnKillActive()
{
    if (!gui::UpdateData(this, true, [this](gui::CDataExchange& dx) { DoDataExchange(dx); }))
        return false;
    CConfigLock lock(setting_);
    WriteUInt(setting_, schema::kPort, port_);
    WriteUInt(setting_, schema::kMaxConnect, maxConnect_);
    WriteUInt(setting_, schema::kTimeOut, timeOut_);
    setting_.SetInt(schema::kEnableKeepAlive.path, enableKeepAlive_);
    WriteUInt(setting_, schema::kMaxKeepAlive, maxKeepAlive_);
    WriteUInt(setting_, schema::kKeepAliveTime, keepAliveTime_);
    WriteUInt(setting_, schema::kMaxOneHostConnect, maxOneHostConnect_);
    return true;
}

// --- CServerPage2 -------------------------------------------------------------------------

CServerPage2::CServerPage2(const CConfigAccessor& setting, QWidget* parent)
    : CPropertyPage("インデックス表示", parent),
      setting_(setting),
      list_(NewList("indexList", kIconHtmlPage, {{"ファイル名", kStretchedColumnPx}}, this)),
      name_(NewEdit("indexName", this))
{
    setFont(UiFont(kPageFontPx));
    QPushButton* add = NewButton("追加", "add", this);
    QPushButton* remove = NewButton("削除", "delete", this);
    QPushButton* up = NewButton("↑", "up", this);
    QPushButton* down = NewButton("↓", "down", this);
    connect(add, &QPushButton::clicked, this, &CServerPage2::OnAdd);
    connect(remove, &QPushButton::clicked, this, &CServerPage2::OnDelete);
    connect(up, &QPushButton::clicked, this, [this] { OnMove(-1); });
    connect(down, &QPushButton::clicked, this, [this] { OnMove(1); });

    auto* lists = new QHBoxLayout;
    lists->addLayout(Titled("インデックスファイル名", list_), 1);
    lists->addLayout(ButtonColumn({up, down}));

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(NewLabel("ファイル名 : ", this));
    nameRow->addWidget(name_, 1);
    nameRow->addWidget(add);
    nameRow->addWidget(remove);

    QLabel* note = NewLabel("フォルダが要求されたとき、上の名前から順に探して最初に見つかったファイルを返します。", this);
    note->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addLayout(lists, 1);
    layout->addLayout(nameRow);
}

void CServerPage2::OnInitDialog()
{
    for (const std::string& name : ReadSimpleList(setting_.GetSubAccessor(schema::kIndex.path)))
        list_->SetRow(IndexRow(name), true);
    list_->Rebuild(false);
}

bool CServerPage2::OnKillActive()
{
    std::vector<std::string> names;
    for (int i = 0; i < list_->GetRowCount(); ++i)
        names.push_back(list_->GetRow(i).key);
    StoreSimpleList(setting_, schema::kIndex.path, names);
    return true;
}

void CServerPage2::OnAdd()
{
    if (!gui::CheckCp932Fields(this))
        return;
    // Blanks belong to the name: the server compares it as it is.
    const std::string name = Text(name_);
    if (name.empty()) {
        gui::MessageBox(this, kNoNameText);
        return;
    }
    if (HoldsSettingsSeparator(name)) {
        gui::MessageBox(this, kSeparatorInNameText, gui::kMbOk | gui::kMbIconStop);
        return;
    }
    list_->SetRow(IndexRow(name), true);
    list_->Rebuild(false);
}

void CServerPage2::OnDelete() { list_->DeleteSelectedKeepingOrder(); }

void CServerPage2::OnMove(int step)
{
    if (!list_->MoveSelected(step))
        QApplication::beep();
}

// --- CServerPage3 -------------------------------------------------------------------------

CServerPage3::CServerPage3(const CConfigAccessor& setting, QWidget* parent)
    : CPropertyPage("ログファイル", parent), setting_(setting)
{
    setFont(UiFont(kPageFontPx));
    QGridLayout* grid = NewFieldGrid();
    int row = 0;
    const LogSettings defaults = DefaultLogSettings();
    for (const LogField& log : kLogFields) {
        QLineEdit* edit = NewEdit(log.name, this);
        edits_.push_back(edit);
        QPushButton* reset = NewButton("標準に戻す", std::string(log.name) + "Default", this);
        const std::string defaultValue = defaults.*log.value;
        connect(reset, &QPushButton::clicked, edit, [edit, defaultValue] { SetText(edit, defaultValue); });
        AddFieldRow(*grid, row++, log.label, edit, reset);
        if (log.isFormat) {
            QPushButton* apache = NewButton("apache互換", "apacheFormat", this);
            // The time stamps are the machine's local time: the zone they carry is its own.
            connect(apache, &QPushButton::clicked, edit, [edit] {
                SetText(edit, ApacheLogFormat(FormatUtcOffset(LocalUtcOffset(std::time(nullptr)))));
            });
            AddButtonRow(*grid, row++, apache);
        }
    }

    QLabel* note = NewLabel("%ServerRoot% はサーバのフォルダに、%Year% %Month% %Day% は書き込む日の日付に置き換えられます。", this);
    note->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(note);
    layout->addStretch(1);
}

void CServerPage3::OnInitDialog()
{
    const LogSettings log = ReadLogSettings(setting_);
    for (size_t i = 0; i < edits_.size(); ++i)
        SetText(edits_[i], log.*kLogFields[i].value);
}

bool CServerPage3::OnKillActive()
{
    LogSettings log;
    for (size_t i = 0; i < edits_.size(); ++i)
        log.*kLogFields[i].value = Text(edits_[i]);
    StoreLogSettings(setting_, log);
    return true;
}

// --- CServerPage4 -------------------------------------------------------------------------

CServerPage4::CServerPage4(const CControllerSettings& settings, QWidget* parent)
    : CPropertyPage("SSL/TLS (HTTPS)", parent),
      settings_(settings),
      enableSslCheck_(NewCheck("SSL/TLSを有効にする", "enableSsl", this)),
      portEdit_(NewEdit("sslPort", this)),
      privateKey_(NewEdit("privateKey", this)),
      password_(NewEdit("password", this)),
      certificate_(NewEdit("certificate", this))
{
    setFont(UiFont(kPageFontPx));
    password_->setEchoMode(QLineEdit::Password);
    QPushButton* browseKey = NewButton("参照...", "browseKey", this);
    QPushButton* browseCertificate = NewButton("参照...", "browseCertificate", this);
    QPushButton* makeKey = NewButton("作成する...", "makeKey", this);
    connect(browseKey, &QPushButton::clicked, this, [this] { OnBrowse(privateKey_, false); });
    connect(browseCertificate, &QPushButton::clicked, this, [this] { OnBrowse(certificate_, true); });
    connect(makeKey, &QPushButton::clicked, this, &CServerPage4::OnMakeKey);

    QGridLayout* grid = NewFieldGrid();
    int row = 0;
    AddFieldRow(*grid, row++, "サービスを行うポート :", portEdit_);
    AddFieldRow(*grid, row++, "秘密鍵ファイル : ", privateKey_, browseKey);
    AddFieldRow(*grid, row++, "秘密鍵のパスワード :", password_);
    AddFieldRow(*grid, row++, "サイト証明書ファイル : ", certificate_, browseCertificate);

    auto* make = new QGroupBox(ToQString("秘密鍵とサイト証明書の作成"), this);
    auto* makeRow = new QHBoxLayout(make);
    makeRow->addWidget(NewLabel("秘密鍵と自己署名のサイト証明書を作成します。", make), 1);
    makeRow->addWidget(makeKey);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enableSslCheck_);
    layout->addLayout(grid);
    layout->addWidget(make);
    layout->addStretch(1);
}

void CServerPage4::DoDataExchange(gui::CDataExchange& dx)
{
    gui::DDX_Check(dx, enableSslCheck_, ssl_.enable);
    ExchangeUInt(dx, portEdit_, ssl_.port, 0);
}

void CServerPage4::OnInitDialog()
{
    ssl_ = ReadSslSettings(settings_.GetSetting());
    SetText(privateKey_, ssl_.privateKey);
    SetText(password_, ssl_.password);
    SetText(certificate_, ssl_.certificate);
    gui::UpdateData(this, false, [this](gui::CDataExchange& dx) { DoDataExchange(dx); });
}

bool CServerPage4::OnKillActive()
{
    if (!gui::UpdateData(this, true, [this](gui::CDataExchange& dx) { DoDataExchange(dx); }))
        return false;
    ssl_.privateKey = Text(privateKey_);
    ssl_.password = Text(password_);
    ssl_.certificate = Text(certificate_);
    StoreSslSettings(settings_.GetSetting(), ssl_);
    return true;
}

void CServerPage4::OnMakeKey()
{
    CKeyGenDialog dialog(settings_, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Shown as the user's own edits: OK stores them with the rest of the sheet.
    SslSettings shown;
    shown.privateKey = Text(privateKey_);
    shown.certificate = Text(certificate_);
    TakeGeneratedKey(shown, dialog.GetGeneratedKey(), settings_);
    SetText(privateKey_, shown.privateKey);
    SetText(password_, shown.password);
    SetText(certificate_, shown.certificate);
}

void CServerPage4::OnBrowse(QLineEdit* field, bool certificate)
{
    // The field may name the file through %ServerRoot%; the chooser needs the real folder.
    COpenFileDialog dialog(this, settings_.ExpandServerPath(Text(field)));
    if (certificate)
        dialog.AddFilter("CRTファイル (*.crt)", "*.crt");
    dialog.AddFilter("PEMファイル (*.pem)", "*.pem");
    dialog.AddFilter("全てのファイル (*.*)", "*.*");
    if (dialog.DoModal(kOpenFileTitle) == gui::kIdOk)
        SetText(field, dialog.GetPathName());
}
