#include "DebugDialog.h"

#include "DebugAboutDialog.h"
#include "DebugText.h"
#include "app/DebugHost.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// How often waiting control calls are looked at: unnoticeable to a client, and no cost to
// the dialog.
constexpr int kServeSliceMs = 50;

}  // namespace

CDebugDialog::CDebugDialog(IDebugHost& host, QWidget* parent)
    : QDialog(parent), host_(host), about_(new QAction(ToQString(kAboutEntryText), this))
{
    setWindowTitle(QStringLiteral("Tarnwick - In Debug mode"));
    setWindowIcon(QIcon(QStringLiteral(":/Tarnwick.svg")));

    auto* control = new QGroupBox(QStringLiteral("Server control"), this);
    auto* controlLayout = new QVBoxLayout(control);
    QPushButton* start = AddButton("Start", &CDebugDialog::OnStart);
    start->setDefault(true);
    controlLayout->addWidget(start);
    controlLayout->addWidget(AddButton("Stop", &CDebugDialog::OnStop));
    controlLayout->addWidget(AddButton("Dump", &CDebugDialog::OnDump));

    auto* install = new QGroupBox(QStringLiteral("Install"), this);
    auto* installLayout = new QGridLayout(install);
    installLayout->addWidget(AddButton("Add Service", &CDebugDialog::OnAddService), 0, 0);
    installLayout->addWidget(AddButton("Del Service", &CDebugDialog::OnDelService), 0, 1);
    installLayout->addWidget(AddButton("Add App", &CDebugDialog::OnAddApp), 1, 0);
    installLayout->addWidget(AddButton("Del App", &CDebugDialog::OnDelApp), 1, 1);

    auto* groups = new QHBoxLayout;
    groups->addWidget(control);
    groups->addWidget(install);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("In Debug mode"), this));
    layout->addLayout(groups);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(AddButton("Exit", &CDebugDialog::reject));
    layout->addLayout(bottom);

    // Qt has no hold on the window manager's menu: the window's own context menu carries
    // the entry instead.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    addAction(about_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(about_, &QAction::triggered, this, &CDebugDialog::OnAbout);

    auto* serve = new QTimer(this);
    connect(serve, &QTimer::timeout, this, [this] { host_.ServeControl(); });
    serve->start(kServeSliceMs);
}

QPushButton* CDebugDialog::AddButton(const char* caption, void (CDebugDialog::*onClick)())
{
    auto* button = new QPushButton(QString::fromLatin1(caption), this);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, onClick);
    return button;
}

void CDebugDialog::reject()
{
    host_.StopServer();
    QDialog::reject();
}

void CDebugDialog::OnStart()
{
    if (host_.StartServer() != 0)
        ShowError(ToQString(host_.GetStatusText()));
}

void CDebugDialog::OnStop() { host_.StopServer(); }

void CDebugDialog::OnDump()
{
    std::string error;
    if (host_.DumpTrees(&error) != 0)
        ShowError(ToQString(error));
}

void CDebugDialog::OnAddService() { host_.RegisterService(1); }
void CDebugDialog::OnDelService() { host_.RegisterService(0); }
void CDebugDialog::OnAddApp() { host_.RegisterApp(1); }
void CDebugDialog::OnDelApp() { host_.RegisterApp(0); }

void CDebugDialog::OnAbout()
{
    CDebugAboutDialog about(this);
    about.exec();
}

void CDebugDialog::ShowError(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tarnwick"), text, QMessageBox::Ok, this);
    box.exec();
}
