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
    : QDialog(parent), host_(host), about_(new QAction(ToQString(kAboutEntryText), this)), state_(new QLabel(this))
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
    state_->setObjectName(QStringLiteral("state"));
    layout->addWidget(state_);
    ShowState();
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
    // A controller may start or stop the core meanwhile; the state line follows it.
    connect(serve, &QTimer::timeout, this, [this] {
        host_.ServeControl();
        if (state_->property("running").toBool() != (host_.IsServerRunning() != 0))
            ShowState();
    });
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
    const bool started = host_.StartServer() == 0;
    ShowState(started ? QStringLiteral("started") : QStringLiteral("start failed"));
    if (!started)
        ShowError(ToQString(host_.GetStatusText()));
}

void CDebugDialog::OnStop()
{
    host_.StopServer();
    ShowState(QStringLiteral("stopped"));
}

void CDebugDialog::OnDump()
{
    if (!host_.IsServerRunning()) {
        ShowState(QStringLiteral("nothing dumped: no server runs"));
        return;
    }
    std::string error;
    if (host_.DumpTrees(&error) != 0) {
        ShowState(QStringLiteral("dump failed"));
        ShowError(ToQString(error));
        return;
    }
    ShowState(QStringLiteral("dumped to ContextDump.xml and InfoDump.xml"));
}

void CDebugDialog::OnAddService()
{
    std::string error;
    ShowSetupResult(host_.RegisterService(1, &error), error);
}

void CDebugDialog::OnDelService()
{
    std::string error;
    ShowSetupResult(host_.RegisterService(0, &error), error);
}

void CDebugDialog::OnAddApp()
{
    std::string error;
    ShowSetupResult(host_.RegisterApp(1, &error), error);
}

void CDebugDialog::OnDelApp()
{
    std::string error;
    ShowSetupResult(host_.RegisterApp(0, &error), error);
}

void CDebugDialog::ShowSetupResult(int result, const std::string& error)
{
    if (result != 0)
        ShowError(ToQString(error));
}

void CDebugDialog::ShowState(const QString& done)
{
    const bool running = host_.IsServerRunning() != 0;
    state_->setProperty("running", running);
    QString text = running ? QStringLiteral("Server: running") : QStringLiteral("Server: stopped");
    if (!done.isEmpty())
        text += QStringLiteral(" (") + done + QLatin1Char(')');
    state_->setText(text);
}

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
