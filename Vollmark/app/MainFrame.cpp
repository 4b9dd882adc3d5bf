#include "app/MainFrame.h"

#include "app/SecndFrame.h"
#include "app/TabBar.h"
#include "core/ServerControlClient.h"
#include "core/Profile.h"
#include "gui/DialogPlacement.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UserPrompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <cstdio>

namespace {

// The size of a window that has no saved placement.
constexpr int kDefaultWidthPx = 800;
constexpr int kDefaultHeightPx = 560;
// The saved placement's defaults, as a first start reads them.
constexpr int kDefaultLeft = 10;
constexpr int kDefaultRight = 600;
constexpr int kDefaultTop = 10;
constexpr int kDefaultBottom = 400;

// A toolbar button: its command, its picture, its label and the prompt the status bar
// shows while the mouse is over it.
struct ToolButton {
    int id;
    ToolbarPicture picture;
    const char* label;
    const char* prompt;
};

const ToolButton kToolButtons[] = {
    {CMainFrame::kIdRestartServer, ToolbarPicture::Restart, "サーバ再起動", "サーバを再起動します"},
    {CSecndFrame::kIdCopyViewText, ToolbarPicture::Copy, "情報のコピー", "表示中の情報をコピーします"},
    {CMainFrame::kIdAppAbout, ToolbarPicture::About, "バージョン情報", "プログラム情報、バージョン、著作権を表示します。"},
};

}  // namespace

CMainFrame::CMainFrame(const CDrawTools& tools, CControllerSettings& settings, CServerControlClient& client,
                       gui::CCmdTarget& appCommands, QWidget* parent)
    : QMainWindow(parent),
      client_(client),
      appCommands_(appCommands),
      router_([this] { return std::vector<gui::CCmdTarget*>{content_, this, &appCommands_}; }, this),
      content_(new CSecndFrame(tools, settings, client, this))
{
    setCentralWidget(content_);
    BuildMenus();
    BuildToolBar();
    statusBar();
    setWindowIcon(LoadIconResource(kIconProgram));
    setWindowTitle(ToQString(kTitle));
    resize(kDefaultWidthPx, kDefaultHeightPx);
    BuildTray();
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CMainFrame::OnTimer);
    timer_->start(kTrayPollMs);
    router_.UpdateActions();
}

CMainFrame::~CMainFrame()
{
    if (placementRestored_)
        SavePlacement();
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const char* text, const QList<QKeySequence>& keys)
{
    auto* action = new QAction(ToQString(text), this);
    action->setShortcuts(keys);
    if (menu)
        menu->addAction(action);
    else
        addAction(action);  // an accelerator with no menu item
    router_.AddAction(action, id);
    actions_[id] = action;
    return action;
}

void CMainFrame::BuildMenus()
{
    using Keys = QList<QKeySequence>;
    QMenu* file = menuBar()->addMenu(ToQString("ファイル(&F)"));
    AddCommand(file, kIdRestartServer, "サーバ再起動\tCtrl+R", Keys{Qt::CTRL | Qt::Key_R});
    file->addSeparator();
    AddCommand(file, kIdAppExit, "アプリケーションの終了(&X)");

    QMenu* edit = menuBar()->addMenu(ToQString("編集(&E)"));
    AddCommand(edit, kIdEditUndo, "元に戻す\tCtrl+Z(&U)", Keys{Qt::CTRL | Qt::Key_Z, Qt::ALT | Qt::Key_Backspace});
    edit->addSeparator();
    AddCommand(edit, kIdEditCut, "切り取り\tCtrl+X(&T)", Keys{Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete});
    AddCommand(edit, kIdEditCopy, "コピー\tCtrl+C(&C)", Keys{Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert});
    AddCommand(edit, kIdEditPaste, "貼り付け\tCtrl+V(&P)", Keys{Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert});
    edit->addSeparator();
    AddCommand(edit, CSecndFrame::kIdCopyViewText, "表示情報のコピー\tCtrl+I", Keys{Qt::CTRL | Qt::Key_I});

    QMenu* view = menuBar()->addMenu(ToQString("表示(&V)"));
    AddCommand(view, kIdViewToolbar, "ツール バー(&T)")->setCheckable(true);
    AddCommand(view, kIdViewStatusBar, "ステータス バー(&S)")->setCheckable(true);

    QMenu* help = menuBar()->addMenu(ToQString("ヘルプ(&H)"));
    AddCommand(help, kIdAppAbout, "バージョン情報 Vollmark(&A)...");

    AddCommand(nullptr, kIdNextPane, "", Keys{Qt::Key_F6});
    AddCommand(nullptr, kIdPrevPane, "", Keys{Qt::SHIFT | Qt::Key_F6});

    for (QMenu* menu : {file, edit, view, help})
        connect(menu, &QMenu::aboutToShow, this, [this] { router_.UpdateActions(); });
}

void CMainFrame::BuildToolBar()
{
    toolBar_ = addToolBar(QStringLiteral("toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setIconSize(QSize(16, 16));
    for (const ToolButton& button : kToolButtons) {
        if (button.id != kToolButtons[0].id)
            toolBar_->addSeparator();
        QAction* action = actions_.at(button.id);
        action->setIcon(LoadToolbarIcon(button.picture));
        action->setIconText(ToQString(button.label));
        action->setToolTip(ToQString(button.label));
        action->setStatusTip(ToQString(button.prompt));
        toolBar_->addAction(action);
    }
    actions_.at(kIdViewToolbar)->setChecked(true);
    actions_.at(kIdViewStatusBar)->setChecked(true);
}

void CMainFrame::BuildTray()
{
    trayMenu_ = new QMenu(this);
    QAction* restore = trayMenu_->addAction(ToQString("元のサイズに戻す"));
    trayMenu_->setDefaultAction(restore);
    trayMenu_->addSeparator();
    QAction* restart = trayMenu_->addAction(ToQString("サーバ再起動"));
    QAction* exit = trayMenu_->addAction(ToQString("終了"));
    trayMenu_->addSeparator();
    QAction* cancel = trayMenu_->addAction(ToQString("キャンセル"));
    router_.AddAction(restore, kIdTrayRestore);
    router_.AddAction(restart, kIdTrayRestartServer);
    router_.AddAction(exit, kIdAppExit);
    router_.AddAction(cancel, kIdTrayCancel);
    connect(trayMenu_, &QMenu::aboutToShow, this, [this] { router_.UpdateActions(); });

    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            RestoreFromTray();
    });
    char tip[64];
    std::snprintf(tip, sizeof tip, kTrayTipFormat, 0);
    ModifyTrayIcon(kIconTrayIdle, tip);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray_->show();
}

QAction* CMainFrame::GetAction(int id) const
{
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

std::string CMainFrame::GetTrayTip() const { return trayTip_; }

void CMainFrame::UpdateRestartNotice() { content_->GetTabBar()->update(); }

void CMainFrame::ModifyTrayIcon(int iconId, const std::string& tip)
{
    tray_->setIcon(LoadIconResource(iconId));
    tray_->setToolTip(ToQString(tip));
    trayIconId_ = iconId;
    trayTip_ = tip;
}

void CMainFrame::OnTimer()
{
    const int count = client_.IsActive();
    if (count != lastConnectionCount_) {
        char tip[64];
        std::snprintf(tip, sizeof tip, kTrayTipFormat, count);
        ModifyTrayIcon(count != 0 ? kIconTrayActive : kIconTrayIdle, tip);
        lastConnectionCount_ = count;
    }
    router_.UpdateActions();
}

bool CMainFrame::CanHideToTray() { return QSystemTrayIcon::isSystemTrayAvailable(); }

QWidget* CMainFrame::RaiseModalDialog()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal) {
        modal->raise();
        modal->activateWindow();
    }
    return modal;
}

void CMainFrame::RestoreFromTray()
{
    ShowPlaced(CProfile().GetProfileInt(kPlacementSection, "Zoomed", 0) != 0);
    activateWindow();
    raise();
    // A dialog open over the window stays in front of it.
    RaiseModalDialog();
}

void CMainFrame::WriteState(const char* entry, int value) { CProfile().WriteProfileInt(kPlacementSection, entry, value); }

void CMainFrame::ShowPlaced(bool maximised)
{
    if (isVisible() && !isMinimized()) {
        if (maximised)
            showMaximized();
        else
            showNormal();
        return;
    }
    // A window mapped maximised, or mapped normal at its maximised size (as it was hidden),
    // gives the window manager no normal size: its restore would keep the full one.
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    if (normalGeometry_.isValid())
        setGeometry(normalGeometry_);
    show();
    maximiseWhenPlaced_ = maximised;
    if (QWindow* window = windowHandle(); window && !window->isExposed()) {
        placeWhenExposed_ = true;
        window->installEventFilter(this);
    } else {
        PlaceOnScreen();
    }
}

void CMainFrame::PlaceOnScreen()
{
    const QWindow* window = windowHandle();
    const QScreen* screen = this->screen();
    if (window && screen && gui::FitIntoScreen(*this, window->frameMargins(), *screen))
        normalGeometry_ = geometry();
    if (maximiseWhenPlaced_) {
        maximiseWhenPlaced_ = false;
        showMaximized();
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    QWindow* window = windowHandle();
    if (placeWhenExposed_ && watched == window && event->type() == QEvent::Expose && window->isExposed()) {
        placeWhenExposed_ = false;
        window->removeEventFilter(this);
        PlaceOnScreen();
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized()) {
        WriteState("Iconic", 1);
        // Only where a tray icon leads back: a hidden window with no tray is lost.
        if (CanHideToTray())
            QTimer::singleShot(0, this, [this] {
                if (isMinimized())
                    hide();
            });
    } else if (isMaximized()) {
        WriteState("Zoomed", 1);
        WriteState("Iconic", 0);
    } else {
        WriteState("Zoomed", 0);
        WriteState("Iconic", 0);
    }
}

void CMainFrame::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    NoteNormalGeometry();
    // Once the move has been taken as the normal geometry, which waits for the events
    // queued with it: saved at once, the place it left would be kept.
    if (isVisible() && placementRestored_)
        QTimer::singleShot(0, this, [this] { SavePlacement(); });
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    NoteNormalGeometry();
}

void CMainFrame::NoteNormalGeometry()
{
    constexpr Qt::WindowStates kNotNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    if (windowState() & kNotNormal)
        return;
    QTimer::singleShot(0, this, [this] {
        if (!(windowState() & kNotNormal))
            normalGeometry_ = geometry();
    });
}

void CMainFrame::WriteExitState()
{
    const bool iconic = !isVisible() || isMinimized();
    WriteState("Iconic", iconic ? 1 : 0);
    // A hidden or minimised window keeps the Zoomed it will come back with.
    if (!iconic)
        WriteState("Zoomed", isMaximized() ? 1 : 0);
}

QMenu* CMainFrame::createPopupMenu() { return nullptr; }

void CMainFrame::SavePlacement()
{
    const QRect normal = normalGeometry_.isValid() ? normalGeometry_ : geometry();
    const QScreen* screen = this->screen();
    const QPoint maximised = screen ? screen->availableGeometry().topLeft() : QPoint();
    const CProfile profile;
    const std::pair<const char*, int> values[] = {
        {"left", normal.left()},     {"right", normal.right() + 1},  {"top", normal.top()},
        {"bottom", normal.bottom() + 1}, {"maxLeft", maximised.x()}, {"maxTop", maximised.y()},
        // A window hidden to the tray has no minimised position of its own.
        {"minLeft", 0}, {"minTop", 0}, {"Saved", 1},
    };
    for (const auto& [entry, value] : values)
        profile.WriteProfileInt(kPlacementSection, entry, value);
}

void CMainFrame::RestorePlacement()
{
    placementRestored_ = true;
    const CProfile profile;
    const auto read = [&profile](const char* entry, int fallback) {
        return profile.GetProfileInt(kPlacementSection, entry, fallback);
    };
    if (!read("Saved", 0)) {
        showNormal();
        return;
    }
    const QRect normal(QPoint(read("left", kDefaultLeft), read("top", kDefaultTop)),
                       QPoint(read("right", kDefaultRight) - 1, read("bottom", kDefaultBottom) - 1));
    // Brought inside its screen once shown, when the screen has changed since or the
    // window was left partly outside.
    if (normal.isValid()) {
        setGeometry(normal);
        normalGeometry_ = geometry();
    }
    if (read("Iconic", 0) && CanHideToTray())
        return;  // hidden in the tray, as it was left
    ShowPlaced(read("Zoomed", 0) != 0);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!client_.IsService() &&
        gui::MessageBox(this, kCloseQuestion, gui::kMbOkCancel | gui::kMbIconQuestion, kCloseCaption) != gui::kIdOk) {
        event->ignore();
        return;
    }
    event->accept();
    WriteExitState();
    SavePlacement();
    tray_->hide();
    // The window may be hidden in the tray: closing it still ends the program.
    QCoreApplication::quit();
}

bool CMainFrame::HandlesCommand(int id) const
{
    switch (id) {
    case kIdTrayRestore:
    case kIdTrayCancel:
    case kIdTrayRestartServer:
    case kIdAppExit:
    case kIdViewToolbar:
    case kIdViewStatusBar:
        return true;
    default:
        return false;
    }
}

bool CMainFrame::IsCommandEnabled(int) const { return true; }

void CMainFrame::OnCommand(int id)
{
    switch (id) {
    case kIdTrayRestore:
        RestoreFromTray();
        break;
    case kIdTrayRestartServer:
        appCommands_.OnCommand(kIdRestartServer);
        break;
    case kIdAppExit:
        // Not while a dialog is open over a view: the dialog is brought forward instead.
        if (!RaiseModalDialog())
            close();
        break;
    case kIdViewToolbar:
        toolBar_->setVisible(actions_.at(kIdViewToolbar)->isChecked());
        break;
    case kIdViewStatusBar:
        statusBar()->setVisible(actions_.at(kIdViewStatusBar)->isChecked());
        break;
    default:  // kIdTrayCancel: the menu closes, nothing else
        break;
    }
}
