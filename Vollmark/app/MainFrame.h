#pragma once
// The controller's main window: menu, toolbar and status bar around the content frame; an
// icon in the system tray whose picture and tip show whether the server has connections in
// progress, and to which the window hides when minimised; its placement remembered in the
// profile; and a question before closing, since closing stops a server that is not a
// service. The commands that neither the content frame nor the window handles (the
// application's restart and about) go last on the command route, to the target given.

#include "gui/CommandRouter.h"

#include <QMainWindow>

#include <map>
#include <string>

class CControllerSettings;
class CSecndFrame;
class CServerControlClient;
struct CDrawTools;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

class CMainFrame : public QMainWindow, public gui::CCmdTarget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tarnwick - Vollmark";
    static constexpr const char* kTrayTipFormat = "Tarnwick - %d 接続";
    static constexpr const char* kCloseQuestion = "Vollmarkを終了するとサーバも停止します。\r\n終了してもよろしいですか？";
    static constexpr const char* kCloseCaption = "サーバー停止";
    static constexpr const char* kPlacementSection = "WindowStat";

    // Command numbers of the menus, the toolbar and the tray menu.
    enum Command : int {
        // Handled by the application.
        kIdRestartServer = 32768,
        kIdAppAbout = 57664,
        kIdTrayRestore = 166,
        kIdTrayCancel = 169,
        kIdTrayRestartServer = 1024,
        kIdEditCopy = 57634,
        kIdEditCut = 57635,
        kIdEditPaste = 57637,
        kIdEditUndo = 57643,
        kIdAppExit = 57665,
        kIdNextPane = 57680,
        kIdPrevPane = 57681,
        kIdViewToolbar = 59392,
        kIdViewStatusBar = 59393,
    };
    // How often the connection count is asked for the tray.
    static constexpr int kTrayPollMs = 500;

    // `appCommands` handles kIdRestartServer and kIdAppAbout (the tray's restart too).
    // Everything given must outlive the window.
    CMainFrame(const CDrawTools& tools, CControllerSettings& settings, CServerControlClient& client,
               gui::CCmdTarget& appCommands, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CSecndFrame* GetContentFrame() const { return content_; }
    // Draws the restart notice anew, after the settings' changed flag changed.
    void UpdateRestartNotice();
    gui::CCommandRouter& GetRouter() { return router_; }
    // The action of a command of the menus, toolbar or accelerators; null when none.
    QAction* GetAction(int id) const;
    QMenu* GetTrayMenu() const { return trayMenu_; }
    QSystemTrayIcon* GetTrayIcon() const { return tray_; }
    int GetTrayIconId() const { return trayIconId_; }
    std::string GetTrayTip() const;

    // Shows the window as the profile last saw it (normally on a first start), frame and
    // title bar inside the available area of its screen (moved in, and made smaller when
    // it must, once the window manager has framed it). A window that comes back maximised
    // is shown at its normal geometry first and maximised once it is on the screen, so
    // that the window manager, which keeps the size to restore to, has seen the normal one.
    void RestorePlacement();
    void SavePlacement();
    // From the tray: shows the window again (maximised when it was).
    void RestoreFromTray();
    // Asks the server for its connection count and updates the tray when it changed.
    void OnTimer();
    void ModifyTrayIcon(int iconId, const std::string& tip);

    bool HandlesCommand(int id) const override;
    bool IsCommandEnabled(int id) const override;
    void OnCommand(int id) override;

    // None: the bars are switched from the 表示 menu only, so its ticks stay true.
    QMenu* createPopupMenu() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QAction* AddCommand(QMenu* menu, int id, const char* text, const QList<QKeySequence>& keys = {});
    void BuildMenus();
    void BuildToolBar();
    void BuildTray();
    // Whether hiding to the tray leaves a way back: a tray must exist.
    static bool CanHideToTray();
    // A modal dialog that is open now, raised to the front; null when none.
    static QWidget* RaiseModalDialog();
    void WriteState(const char* entry, int value);
    // Shows the window, maximised or not. One that is not on the screen yet is shown at its
    // normal geometry, placed inside its screen once exposed, and only then maximised.
    void ShowPlaced(bool maximised);
    // Fits the window, frame included, into its screen's available area; then maximises
    // it when ShowPlaced asked for that.
    void PlaceOnScreen();
    // Iconic and Zoomed as the window is now; the state-change events miss a window that
    // was started hidden in the tray and shown from there.
    void WriteExitState();
    // Takes the geometry as the normal one when the window is normal both at the change
    // and once the events queued with it are through: a window manager may resize a window
    // to its maximised size before it says that the window is maximised, and a change seen
    // while maximised may be handled only after the window was restored.
    void NoteNormalGeometry();

    CServerControlClient& client_;
    gui::CCmdTarget& appCommands_;
    gui::CCommandRouter router_;
    CSecndFrame* content_;
    QToolBar* toolBar_ = nullptr;
    std::map<int, QAction*> actions_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QTimer* timer_ = nullptr;
    int lastConnectionCount_ = 0;
    int trayIconId_ = 0;
    std::string trayTip_;
    bool placementRestored_ = false;
    // Shown by ShowPlaced, to be placed once exposed, and then maximised when the next says so.
    bool placeWhenExposed_ = false;
    bool maximiseWhenPlaced_ = false;
    // The last geometry the window had while neither maximised nor minimised.
    QRect normalGeometry_;
};
