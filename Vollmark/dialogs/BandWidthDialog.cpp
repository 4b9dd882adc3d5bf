#include "dialogs/BandWidthDialog.h"

#include "core/ControllerSettings.h"
#include "gui/DataExchange.h"
#include "gui/QtText.h"
#include "gui/UiFont.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kDialogFontPx = 12;
// The first three fields limit sending, the last three receiving.
constexpr int kFieldsPerGroup = 3;
// A group's grid: label, field, unit.
constexpr int kLabelColumn = 0;
constexpr int kFieldColumn = 1;
constexpr int kUnitColumn = 2;
// Room for the largest limit a field takes, 4294967295.
constexpr int kFieldWidthPx = 100;

struct LimitField {
    const char* label;
    const char* name;
};

const char kServerLabel[] = "サーバ全体の最大帯域幅 :";
const char kHostLabel[] = "１ホストあたりの最大帯域幅 :";
const char kConnectLabel[] = "１接続あたりの最大帯域幅 :";

// In the order of BandWidthLimits.
const LimitField kFields[CBandWidthDialog::kFieldCount] = {
    {kServerLabel, "sendServer"}, {kHostLabel, "sendHost"}, {kConnectLabel, "sendConnect"},
    {kServerLabel, "recvServer"}, {kHostLabel, "recvHost"}, {kConnectLabel, "recvConnect"},
};
const char* const kGroupTitles[] = {"送信制限", "受信制限"};
const char kUnitText[] = "K/Sec";
const char kNoteText[] =
    "※ディレクトリ設定で帯域幅制限を有効にしたパスのみ制限されます。\n設定値を0にすると、制限なしになります。";
const char kCancelText[] = "キャンセル";

QLabel* NewLabel(const char* text, QWidget* parent) { return new QLabel(ToQString(text), parent); }

}  // namespace

CBandWidthDialog::CBandWidthDialog(CControllerSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings)
{
    setWindowTitle(ToQString(kCaption));
    setFont(UiFont(kDialogFontPx));
    auto* layout = new QVBoxLayout(this);
    for (int group = 0; group * kFieldsPerGroup < kFieldCount; ++group) {
        auto* box = new QGroupBox(ToQString(kGroupTitles[group]), this);
        auto* grid = new QGridLayout(box);
        for (int row = 0; row < kFieldsPerGroup; ++row) {
            const int i = group * kFieldsPerGroup + row;
            fields_[i] = new QLineEdit(box);
            fields_[i]->setObjectName(QLatin1String(kFields[i].name));
            fields_[i]->setFixedWidth(kFieldWidthPx);
            fields_[i]->setAlignment(Qt::AlignRight);
            grid->addWidget(NewLabel(kFields[i].label, box), row, kLabelColumn);
            grid->addWidget(fields_[i], row, kFieldColumn);
            grid->addWidget(NewLabel(kUnitText, box), row, kUnitColumn);
        }
        layout->addWidget(box);
    }
    QLabel* note = NewLabel(kNoteText, this);
    note->setObjectName(QStringLiteral("note"));
    layout->addWidget(note);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    buttons->button(QDialogButtonBox::Cancel)->setText(ToQString(kCancelText));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    values_ = ReadBandWidthLimits(settings_.GetSetting());
    UpdateData(false);
}

bool CBandWidthDialog::UpdateData(bool save)
{
    return gui::UpdateData(this, save, [this](gui::CDataExchange& dx) {
        for (int i = 0; i < kFieldCount; ++i)
            gui::DDX_Text(dx, fields_[i], values_[i]);
    });
}

void CBandWidthDialog::accept()
{
    if (!UpdateData(true))
        return;
    StoreBandWidthLimits(settings_.GetSetting(), values_);
    settings_.Save(nullptr);
    QDialog::accept();
}
