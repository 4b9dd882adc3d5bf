#include "dialogs/AboutDialog.h"

#include "controls/ClickedStatic.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UiFont.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The dialog's face and its bold title, in the pixel heights the box was laid out for.
constexpr int kDialogFontPx = 12;
constexpr int kTitleFontPx = 12;
constexpr int kIconPx = 32;
constexpr int kHistoryMinWidthPx = 380;
constexpr int kHistoryMinHeightPx = 140;
constexpr int kPictureWidthPx = 96;
constexpr int kPictureHeightPx = 64;

const int kPictures[2] = {kBitmapAboutServer, kBitmapAboutController};

QString ReadHistory()
{
    QFile file(QStringLiteral(":/text/history.txt"));
    // The release history is kept as UTF-8 text among the resources.
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent), version_(new QLabel(this)), history_(new QPlainTextEdit(this))
{
    setWindowTitle(ToQString(kCaption));
    setFont(UiFont(kDialogFontPx));

    auto* icon = new QLabel(this);
    icon->setPixmap(LoadIconResource(kIconProgram).pixmap(kIconPx, kIconPx));
    version_->setText(ToQString(kVersionText));
    version_->setFont(UiFont(kTitleFontPx, true));

    history_->setReadOnly(true);
    history_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    history_->setMinimumSize(kHistoryMinWidthPx, kHistoryMinHeightPx);
    history_->setPlainText(ReadHistory());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(version_, 1);
    auto* pictures = new QHBoxLayout;
    for (int i = 0; i < 2; ++i) {
        pictures_[i] = new CClickedStatic(this);
        pictures_[i]->setPixmap(LoadBitmapResource(kPictures[i], QSize(kPictureWidthPx, kPictureHeightPx)));
        connect(pictures_[i], &CClickedStatic::clicked, this, &CAboutDialog::pictureClicked);
        pictures->addWidget(pictures_[i]);
    }
    pictures->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(pictures);
    layout->addWidget(history_, 1);
    layout->addWidget(buttons);
}
