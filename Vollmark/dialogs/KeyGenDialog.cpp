#include "dialogs/KeyGenDialog.h"

#include "core/ControllerSettings.h"
#include "core/KeyGenerator.h"
#include "gui/DataExchange.h"
#include "gui/PageLayout.h"
#include "gui/QtText.h"
#include "gui/UiFont.h"
#include "gui/UserPrompts.h"

#include "FilePath.h"
#include "SettingsSchema.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace {

// The pixel height the dialog was laid out for.
constexpr int kDialogFontPx = 12;
// Room for a server root and the file name without scrolling the field.
constexpr int kPathFieldMinWidthPx = 360;
constexpr std::string::size_type kCountryBytes = 2;
const char kMessageCaption[] = "Tarnwick";
const char kBrowseText[] = "参照...";

// Tells the user which file failed and the generator's reason; false, for the caller to stop.
bool TellFailure(QWidget* dialog, const char* text, const CKeyGenerator& generator)
{
    gui::MessageBox(dialog, std::string(text) + "\r\n" + generator.GetError(), gui::kMbOk | gui::kMbIconExclamation,
                    kMessageCaption);
    return false;
}

QGroupBox* NewGroup(const char* title, QGridLayout* grid, QWidget* parent)
{
    auto* group = new QGroupBox(ToQString(title), parent);
    group->setLayout(grid);
    return group;
}

}  // namespace

CKeyGenDialog::CKeyGenDialog(const CControllerSettings& settings, QWidget* parent)
    : QDialog(parent),
      keyFile_(pages::NewEdit("keyFile", this)),
      passPhrase_(pages::NewEdit("passPhrase", this)),
      passPhraseAgain_(pages::NewEdit("passPhraseAgain", this)),
      certificateFile_(pages::NewEdit("certificateFile", this)),
      country_(pages::NewEdit("country", this)),
      state_(pages::NewEdit("state", this)),
      locality_(pages::NewEdit("locality", this)),
      organization_(pages::NewEdit("organization", this)),
      unit_(pages::NewEdit("unit", this)),
      commonName_(pages::NewEdit("commonName", this)),
      email_(pages::NewEdit("email", this)),
      startDays_(pages::NewEdit("startDays", this)),
      endDays_(pages::NewEdit("endDays", this)),
      makeRequest_(pages::NewCheck("サイト証明リクエストを生成する", "makeRequest", this)),
      requestFile_(pages::NewEdit("requestFile", this))
{
    setWindowTitle(ToQString(kCaption));
    setFont(UiFont(kDialogFontPx));
    passPhrase_->setEchoMode(QLineEdit::Password);
    passPhraseAgain_->setEchoMode(QLineEdit::Password);
    keyFile_->setMinimumWidth(kPathFieldMinWidthPx);

    const auto browseButton = [this](const char* name, QLineEdit* field, const char* extension,
                                     const char* fileName) {
        QPushButton* button = pages::NewButton(kBrowseText, name, this);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [=] { Browse(field, extension, fileName); });
        return button;
    };

    QGridLayout* key = pages::NewFieldGrid();
    pages::AddFieldRow(*key, 0, "秘密鍵ファイル", keyFile_, browseButton("browseKey", keyFile_, "pem", "Tarnwick.pem"));
    pages::AddFieldRow(*key, 1, "パスワード", passPhrase_);
    pages::AddFieldRow(*key, 2, "パスワード (確認)", passPhraseAgain_);

    auto* validity = new QHBoxLayout;
    validity->addWidget(startDays_);
    validity->addWidget(pages::NewLabel("日後から", this));
    validity->addWidget(endDays_);
    validity->addWidget(pages::NewLabel("日後まで", this));
    QGridLayout* certificate = pages::NewFieldGrid();
    pages::AddFieldRow(*certificate, 0, "証明書ファイル", certificateFile_,
                       browseButton("browseCertificate", certificateFile_, "crt", "Tarnwick.crt"));
    pages::AddFieldRow(*certificate, 1, "国名 (C)", country_);
    pages::AddFieldRow(*certificate, 2, "都道府県 (ST)", state_);
    pages::AddFieldRow(*certificate, 3, "市区町村 (L)", locality_);
    pages::AddFieldRow(*certificate, 4, "組織名 (O)", organization_);
    pages::AddFieldRow(*certificate, 5, "部署名 (OU)", unit_);
    pages::AddFieldRow(*certificate, 6, "Webサイトのアドレス (CN)", commonName_);
    pages::AddFieldRow(*certificate, 7, "メールアドレス", email_);
    certificate->addWidget(pages::NewLabel("有効期間 (今日から)", this), 8, 0);
    certificate->addLayout(validity, 8, 1);

    QGridLayout* request = pages::NewFieldGrid();
    pages::AddSpanningRow(*request, 0, makeRequest_);
    pages::AddFieldRow(*request, 1, "リクエストファイル", requestFile_,
                       browseButton("browseRequest", requestFile_, "pem", "CSR.pem"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* create = pages::NewButton("作成", "create", this);
    QPushButton* cancel = pages::NewButton("キャンセル", "cancel", this);
    create->setDefault(true);
    buttons->addButton(create, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(NewGroup("公開鍵", key, this));
    layout->addWidget(NewGroup("サイト証明書 (自分で署名)", certificate, this));
    layout->addWidget(NewGroup("サイト証明リクエスト (CSR)", request, this));
    layout->addWidget(buttons);

    // The files the SSL page names when the settings name none.
    fields_.keyFile = settings.ExpandServerPath(std::string(schema::kSslPrivateKey.controllerDefault));
    fields_.certificateFile = settings.ExpandServerPath(std::string(schema::kSslCertificate.controllerDefault));
    fields_.requestFile = settings.ExpandServerPath("%ServerRoot%SSLKey/CSR.pem");
    fields_.country = "JP";
    fields_.endDays = 3650;
    gui::UpdateData(this, false, [this](gui::CDataExchange& dx) { DoDataExchange(dx); });
}

void CKeyGenDialog::DoDataExchange(gui::CDataExchange& dx)
{
    gui::DDX_Text(dx, keyFile_, fields_.keyFile);
    gui::DDX_Text(dx, passPhrase_, fields_.passPhrase);
    gui::DDX_Text(dx, passPhraseAgain_, fields_.passPhraseAgain);
    gui::DDX_Text(dx, certificateFile_, fields_.certificateFile);
    gui::DDX_Text(dx, country_, fields_.country);
    gui::DDX_Text(dx, state_, fields_.state);
    gui::DDX_Text(dx, locality_, fields_.locality);
    gui::DDX_Text(dx, organization_, fields_.organization);
    gui::DDX_Text(dx, unit_, fields_.unit);
    gui::DDX_Text(dx, commonName_, fields_.commonName);
    gui::DDX_Text(dx, email_, fields_.email);
    gui::DDX_Text(dx, startDays_, fields_.startDays);
    gui::DDX_Text(dx, endDays_, fields_.endDays);
    gui::DDX_Check(dx, makeRequest_, fields_.makeRequest);
    gui::DDX_Text(dx, requestFile_, fields_.requestFile);
}

void CKeyGenDialog::Browse(QLineEdit* field, const char* extension, const char* fileName)
{
    const gui::SaveFilePrompt prompt{"", GetParentDirectory(FromQString(field->text())), fileName, extension};
    std::string chosen;
    if (gui::ChooseSaveFile(this, prompt, &chosen))
        field->setText(ToQString(chosen));
}

void CKeyGenDialog::accept()
{
    if (!gui::UpdateData(this, true, [this](gui::CDataExchange& dx) { DoDataExchange(dx); }))
        return;
    if (fields_.passPhrase.empty() || fields_.passPhrase != fields_.passPhraseAgain) {
        gui::MessageBox(this, kPassPhraseText, gui::kMbOk | gui::kMbIconExclamation, kMessageCaption);
        return;
    }
    if (fields_.country.size() != kCountryBytes) {
        gui::MessageBox(this, kCountryText, gui::kMbOk | gui::kMbIconExclamation, kMessageCaption);
        return;
    }
    std::vector<std::string> targets = {fields_.keyFile, fields_.certificateFile};
    if (fields_.makeRequest)
        targets.push_back(fields_.requestFile);
    const std::vector<std::string> existing = ExistingFiles(targets);
    if (!existing.empty()) {
        std::string text = kReplaceText;
        for (const std::string& file : existing)
            text += "\r\n" + file;
        if (gui::MessageBox(this, text, gui::kMbYesNo | gui::kMbIconQuestion, kMessageCaption) != gui::kIdYes)
            return;
    }
    if (!Generate())
        return;
    gui::MessageBox(this, kDoneText, gui::kMbOk | gui::kMbIconInformation, kMessageCaption);
    QDialog::accept();
}

GeneratedKey CKeyGenDialog::GetGeneratedKey() const
{
    return {fields_.keyFile, fields_.certificateFile, fields_.passPhrase};
}

bool CKeyGenDialog::Generate()
{
    CKeyGenerator generator;
    generator.SetPassPhrase(fields_.passPhrase);
    if (generator.GenerateKey() != 0 || generator.WritePrivateKey(fields_.keyFile) != 0)
        return TellFailure(this, kKeyFailedText, generator);
    const CKeyGenerator::Subject subject{
        fields_.startDays * CKeyGenerator::kSecondsPerDay, fields_.endDays * CKeyGenerator::kSecondsPerDay,
        fields_.country, fields_.state, fields_.locality, fields_.organization, fields_.unit, fields_.commonName,
        fields_.email};
    if (fields_.makeRequest && generator.WriteRequest(subject, fields_.requestFile) != 0)
        return TellFailure(this, kRequestFailedText, generator);
    if (generator.WriteSelfSignedCertificate(subject, fields_.certificateFile) != 0)
        return TellFailure(this, kCertificateFailedText, generator);
    if (generator.Commit() != 0) {
        const std::string& file = generator.GetFailedFile();
        if (file == fields_.keyFile)
            return TellFailure(this, kKeyFailedText, generator);
        if (fields_.makeRequest && file == fields_.requestFile)
            return TellFailure(this, kRequestFailedText, generator);
        return TellFailure(this, kCertificateFailedText, generator);
    }
    return true;
}
