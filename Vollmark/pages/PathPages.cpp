#include "pages/PathPages.h"

#include "controls/ReportListCtrl.h"
#include "core/ControllerSettings.h"
#include "core/PathEntryRules.h"
#include "dialogs/FileDialogs.h"
#include "gui/PageLayout.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UiFont.h"
#include "gui/UserPrompts.h"

#include "FileIo.h"
#include "SettingsSchema.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

using namespace pages;

constexpr int kUserNameColumnPx = 100;

// A host edit holding this serves every host: the entry has no virtual host.
const char kAnyHost[] = "*";
const char kFolderTitle[] = "Select Folder";
const char kOpenFileTitle[] = "Open File";

const char kMissingFieldsText[] = "未入力の項目があります。";
const char kWriteWithScriptsText[] =
    "「SSI/CGIを許可」と「書き込みを許可」の組み合わせは、セキュリティ上、非常に好ましくありません。\r\n続行しますか？";
const char kSecurityCaption[] = "セキュリティ チェック";
const char kSeparatorInNameText[] = "ユーザー名に「::」は使用できません。";
const char kAddressFormText[] =
    "IPアドレスは、「192.168.0.1」のように「*.*.*.*」の形式で入力してください。\r\n数字と「*」、「?」以外は使用できません。";
const char kAddressCaption[] = "IP入力";
const char kKickOffText[] = "アクセス制限が有効になっていません、全てのアドレスからのアクセスが許可されます。";
const char kTestCaption[] = "テスト";
const char kDeniedHead[] = "× : ";
const char kDeniedTail[] = " からのアクセスは拒否されます。";
const char kAcceptedHead[] = "○ : ";
const char kAcceptedTail[] = " からのアクセスは許可されます。";

struct OptionFlag {
    const schema::NumberKey& key;  // a leaf of the entry's Options node
    const char* label;
};

// In the order they are shown and stored.
const OptionFlag kOptionFlags[] = {
    {schema::kEnableIndex, "インデックスリストの表示を許可"},
    {schema::kEnableWebDav, "WebDAVを許可"},
    {schema::kEnableSsiCgi, "SSI/CGIを許可"},
    {schema::kEnableBandWidthLimit, "帯域幅制限を有効にする"},
    {schema::kEnableWrite, "書き込みを許可"},
    {schema::kEnableHiddenFile, "隠しファイルへのアクセスを許可"},
    {schema::kAcceptHttp, "HTTP からのアクセスを許可"},
    {schema::kAcceptHttps, "HTTPS (SSL/TLS) からのアクセスを許可"},
};

// Adds the rows, an equal row replaced, and shows the list sorted.
void AddRows(CReportListCtrl* list, const std::vector<std::string>& rows)
{
    for (const std::string& row : rows)
        list->SetRow(CReportRow{0, row, {}, {}, 0}, true);
    list->Rebuild(true);
}

std::vector<std::string> RowKeys(const CReportListCtrl& list)
{
    std::vector<std::string> keys;
    for (int i = 0; i < list.GetRowCount(); ++i)
        keys.push_back(list.GetRow(i).key);
    return keys;
}

}  // namespace

// --- CPathPage1 ---------------------------------------------------------------------------

CPathPage1::CPathPage1(const CControllerSettings& settings, const CConfigAccessor& entry, QWidget* parent)
    : CPropertyPage("基本設定", parent),
      settings_(settings),
      entry_(entry),
      info_(NewEdit("info", this)),
      serverPath_(NewEdit("serverPath", this)),
      localPath_(NewEdit("localPath", this)),
      forward_(NewEdit("forward", this)),
      useVirtualHost_(NewCheck("このディレクトリで、バーチャルホストを使用する", "useVirtualHost", this)),
      virtualHost_(NewEdit("virtualHost", this))
{
    setFont(UiFont(kPageFontPx));
    QPushButton* browse = NewButton("参照...", "browse", this);
    connect(browse, &QPushButton::clicked, this, &CPathPage1::OnBrowse);
    connect(useVirtualHost_, &QCheckBox::clicked, this, &CPathPage1::OnVirtualHostClicked);

    const std::pair<const char*, QLineEdit*> fields[] = {
        {"説明 :", info_}, {"ServerPath :", serverPath_}, {"LocalPath :", localPath_}, {"Forward : ", forward_}};
    QGridLayout* grid = NewFieldGrid();
    int row = 0;
    for (const auto& [label, edit] : fields) {
        AddFieldRow(*grid, row, label, edit, edit == localPath_ ? browse : nullptr);
        ++row;
    }
    AddSpanningRow(*grid, row++, useVirtualHost_);
    AddFieldRow(*grid, row, "ホスト名 :", virtualHost_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
}

void CPathPage1::OnInitDialog()
{
    CConfigReadLock lock(entry_);
    SetText(info_, schema::kInfo.Read(entry_, schema::kControllerDefault));
    SetText(serverPath_, schema::kServerPath.Read(entry_, schema::kControllerDefault));
    SetText(localPath_, schema::kLocalPath.Read(entry_, schema::kControllerDefault));
    SetText(forward_, schema::kForward.Read(entry_, schema::kControllerDefault));
    const std::string host = schema::kVirtualHost.Read(entry_, schema::kControllerDefault);
    SetText(virtualHost_, host);
    useVirtualHost_->setChecked(host != kAnyHost);
    OnVirtualHostClicked();
}

bool CPathPage1::OnKillActive()
{
    const std::string info = Text(info_);
    const std::string forward = Text(forward_);
    const std::string host = Text(virtualHost_);
    if (!HasRequiredPathFields(info, Text(serverPath_), Text(localPath_), forward, host)) {
        gui::MessageBox(this, kMissingFieldsText, gui::kMbOk, "");
        return false;
    }
    const std::string serverPath = NormalizeServerPath(Text(serverPath_));
    const std::string localPath = NormalizeLocalPath(Text(localPath_));
    SetText(serverPath_, serverPath);
    SetText(localPath_, localPath);

    CConfigLock lock(entry_);
    entry_.SetString(schema::kInfo.path, info);
    entry_.SetString(schema::kServerPath.path, serverPath);
    entry_.SetString(schema::kLocalPath.path, localPath);
    entry_.SetString(schema::kForward.path, forward);
    // Kept whether or not the box is ticked: unticking only greys the edit.
    entry_.SetString(schema::kVirtualHost.path, host);
    return true;
}

void CPathPage1::OnVirtualHostClicked() { virtualHost_->setEnabled(useVirtualHost_->isChecked()); }

void CPathPage1::OnBrowse()
{
    CFolderDialog dialog(kFolderTitle, settings_.ExpandServerPath(Text(localPath_)), window());
    if (dialog.Browse() == 1)
        SetText(localPath_, dialog.GetFolderPath());
}

// --- CPathPage2 ---------------------------------------------------------------------------

CPathPage2::CPathPage2(const CConfigAccessor& entry, QWidget* parent)
    : CPropertyPage("詳細設定", parent), options_(entry.GetSubAccessor(schema::kOptions))
{
    setFont(UiFont(kPageFontPx));
    auto* layout = new QVBoxLayout(this);
    for (const OptionFlag& flag : kOptionFlags) {
        flags_.push_back(NewCheck(flag.label, std::string(flag.key.leaf), this));
        layout->addWidget(flags_.back());
    }
    layout->addStretch(1);
}

void CPathPage2::OnInitDialog()
{
    CConfigReadLock lock(options_);
    for (size_t i = 0; i < flags_.size(); ++i)
        flags_[i]->setChecked(kOptionFlags[i].key.ReadIn(options_, schema::kControllerDefault) != 0);
}

bool CPathPage2::OnKillActive()
{
    auto ticked = [this](const schema::NumberKey& key) {
        for (size_t i = 0; i < flags_.size(); ++i) {
            if (kOptionFlags[i].key.path == key.path)
                return flags_[i]->isChecked();
        }
        return false;
    };
    if (ticked(schema::kEnableWrite) && ticked(schema::kEnableSsiCgi) &&
        gui::MessageBox(this, kWriteWithScriptsText, gui::kMbYesNo | gui::kMbIconInformation, kSecurityCaption) ==
            gui::kIdNo)
        return false;

    CConfigLock lock(options_);
    for (size_t i = 0; i < flags_.size(); ++i)
        options_.SetInt(kOptionFlags[i].key.leaf, flags_[i]->isChecked() ? 1 : 0);
    return true;
}

// --- CPathPage3 ---------------------------------------------------------------------------

CPathPage3::CPathPage3(const CControllerSettings& settings, const CConfigAccessor& entry, QWidget* parent)
    : CPropertyPage("ユーザー認証", parent),
      settings_(settings),
      entry_(entry),
      enable_(NewCheck("ユーザー認証を有効にする", "enableAuthenticate", this)),
      allowed_(NewList("allowedUsers", kIconUser, {{"ユーザー名", kStretchedColumnPx}}, this)),
      registered_(NewList("registeredUsers", kIconUser,
                          {{"ユーザー名", kUserNameColumnPx}, {"コメント", kStretchedColumnPx}}, this))
{
    setFont(UiFont(kPageFontPx));
    QPushButton* add = NewButton("←", "addUsers", this);
    QPushButton* remove = NewButton("→", "removeUsers", this);
    connect(add, &QPushButton::clicked, this, &CPathPage3::OnAddUsers);
    connect(remove, &QPushButton::clicked, allowed_, &CReportListCtrl::DeleteSelected);

    auto* lists = new QHBoxLayout;
    lists->addLayout(Titled("アクセスを許可するユーザー", allowed_), 1);
    lists->addLayout(ButtonColumn({add, remove}));
    lists->addLayout(Titled("サーバに登録中のユーザー", registered_), 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enable_);
    layout->addLayout(lists, 1);
}

void CPathPage3::OnInitDialog()
{
    CConfigReadLock lock(entry_);
    enable_->setChecked(schema::kEnableAuthenticate.Read(entry_, schema::kControllerDefault) != 0);
    AddRows(allowed_, ReadSimpleList(entry_.GetSubAccessor(schema::kUsers.path)));
    for (const ServerUser& user : ListEnabledUsers(settings_.GetSetting()))
        registered_->SetRow(CReportRow{0, user.name, {user.comment}, {}, 0}, false);
    registered_->Rebuild(true);
}

bool CPathPage3::OnKillActive()
{
    CConfigLock lock(entry_);
    entry_.SetInt(schema::kEnableAuthenticate.path, enable_->isChecked() ? 1 : 0);
    StoreSimpleList(entry_, schema::kUsers.path, RowKeys(*allowed_));
    return true;
}

void CPathPage3::OnAddUsers()
{
    bool refused = false;
    for (int i = 0; i < registered_->GetRowCount(); ++i) {
        if (!registered_->IsSelected(i))
            continue;
        const CReportRow& row = registered_->GetRow(i);
        if (HoldsSettingsSeparator(row.key))
            refused = true;
        else
            allowed_->SetRow(row, true);
    }
    allowed_->Rebuild(true);
    if (refused)
        gui::MessageBox(this, kSeparatorInNameText, gui::kMbOk | gui::kMbIconStop);
}

// --- CPathPage4 ---------------------------------------------------------------------------

CPathPage4::CPathPage4(const CConfigAccessor& entry, QWidget* parent)
    : CPropertyPage("アクセス制限", parent),
      entry_(entry),
      enable_(NewCheck("アクセス制限を有効にする", "enableHostKick", this)),
      testAddress_(NewEdit("testAddr", this))
{
    setFont(UiFont(kPageFontPx));
    auto* lists = new QHBoxLayout;
    lists->addWidget(NewHostList(accept_, "accept", "アクセスを許可するホスト", kIconHostAccept), 1);
    lists->addWidget(NewHostList(deny_, "deny", "アクセスを禁止するホスト", kIconHostDeny), 1);

    auto* test = new QGroupBox(ToQString("アドレスのテスト"), this);
    QPushButton* check = NewButton("アドレスが有効かチェックする", "test", test);
    connect(check, &QPushButton::clicked, this, &CPathPage4::OnTest);
    auto* testRow = new QHBoxLayout(test);
    testRow->addWidget(NewLabel("Addr : ", test));
    testRow->addWidget(testAddress_, 1);
    testRow->addWidget(check);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enable_);
    layout->addLayout(lists, 1);
    layout->addWidget(test);
}

QWidget* CPathPage4::NewHostList(HostList& hostList, const char* name, const std::string& title, int icon)
{
    auto* box = new QWidget(this);
    const std::string prefix = name;
    hostList.list = NewList((prefix + "List").c_str(), icon, {{"ホストアドレス", kStretchedColumnPx}}, box);
    hostList.address = NewEdit((prefix + "Addr").c_str(), box);
    QPushButton* add = NewButton("追加", prefix + "Add", box);
    QPushButton* remove = NewButton("削除", prefix + "Delete", box);
    QPushButton* importFile = NewButton("インポート", prefix + "Import", box);
    connect(add, &QPushButton::clicked, this, [this, &hostList] { OnAdd(hostList); });
    connect(remove, &QPushButton::clicked, hostList.list, &CReportListCtrl::DeleteSelected);
    connect(importFile, &QPushButton::clicked, this, [this, &hostList] { OnImport(hostList); });

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(NewLabel("Addr : ", box));
    addressRow->addWidget(hostList.address, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(importFile);
    QVBoxLayout* column = Titled(title, hostList.list);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(addressRow);
    column->addLayout(buttons);
    box->setLayout(column);
    return box;
}

void CPathPage4::OnInitDialog()
{
    CConfigReadLock lock(entry_);
    enable_->setChecked(schema::kEnableHostKick.Read(entry_, schema::kControllerDefault) != 0);
    AddRows(accept_.list, ReadSimpleList(entry_.GetSubAccessor(schema::kKickAccept.path)));
    AddRows(deny_.list, ReadSimpleList(entry_.GetSubAccessor(schema::kKickDenied.path)));
}

bool CPathPage4::OnKillActive()
{
    CConfigLock lock(entry_);
    entry_.SetInt(schema::kEnableHostKick.path, enable_->isChecked() ? 1 : 0);
    StoreSimpleList(entry_, schema::kKickAccept.path, RowKeys(*accept_.list));
    StoreSimpleList(entry_, schema::kKickDenied.path, RowKeys(*deny_.list));
    return true;
}

std::vector<std::string> CPathPage4::ReadAddressFile()
{
    COpenFileDialog dialog(this, "");
    dialog.AddFilter("CSVファイル (*.csv)", "*.csv");
    dialog.AddFilter("テキストファイル (*.txt)", "*.txt");
    if (dialog.DoModal(kOpenFileTitle) != 1)
        return {};
    std::string contents;
    std::string error;
    if (platform::ReadWholeFile(dialog.GetPathName(), contents, error) != platform::FileReadResult::Read)
        return {};
    return ParseAddressFile(contents);
}

void CPathPage4::OnAdd(HostList& hostList)
{
    const std::string address = Text(hostList.address);
    if (CheckAddressWithMessage(address))
        AddRows(hostList.list, {address});
}

void CPathPage4::OnImport(HostList& hostList) { AddRows(hostList.list, ReadAddressFile()); }

void CPathPage4::OnTest()
{
    const unsigned type = gui::kMbOk | gui::kMbIconInformation;
    if (!enable_->isChecked()) {
        gui::MessageBox(this, kKickOffText, type, kTestCaption);
        return;
    }
    const std::string address = Text(testAddress_);
    if (!CheckAddressWithMessage(address))
        return;
    if (IsHostAccepted(RowKeys(*deny_.list), RowKeys(*accept_.list), address))
        gui::MessageBox(this, kAcceptedHead + address + kAcceptedTail, type, kTestCaption);
    else
        gui::MessageBox(this, kDeniedHead + address + kDeniedTail, type, kTestCaption);
}

bool CPathPage4::CheckAddressWithMessage(const std::string& text)
{
    if (CheckAddress(text))
        return true;
    gui::MessageBox(this, kAddressFormText, gui::kMbOk | gui::kMbIconStop, kAddressCaption);
    return false;
}
