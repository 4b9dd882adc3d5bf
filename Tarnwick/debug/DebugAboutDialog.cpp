#include "DebugAboutDialog.h"

#include "DebugText.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// The icon at the size the box was laid out for.
constexpr int kIconPx = 32;

}  // namespace

CDebugAboutDialog::CDebugAboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(ToQString(kCaption));
    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(kIconPx, kIconPx));
    auto* version = new QLabel(ToQString(kVersionText), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(version, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}
