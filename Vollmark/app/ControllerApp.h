#pragma once
// The controller's application object: binds to the server, owns the in-memory settings
// file that every page and dialog edits, saves it, keeps the flag that asks for a restart,
// restarts the server on command, and on exit stops a server it does not share with the
// system (a service keeps running). It is not a global: it hands the main window what the
// windows use of it (the drawing tools, the settings, the server client), plays the click
// sound they ask for, and has the restart notice drawn anew after a save or a restart.

#include "app/ClickSound.h"
#include "core/ControllerSettings.h"
#include "core/ServerControlClient.h"
#include "gui/CommandRouter.h"
#include "gui/DrawTools.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>

class CMainFrame;
class QWidget;

class CControllerApp : public QObject, public gui::CCmdTarget {
    Q_OBJECT
public:
    static constexpr const char* kBindFailedText =
        "サーバのCOMオブジェクトがロードできませんでした。\r\nTarnwick.exeが無いか破壊されている可能性があります。";

    // `serverProgram`: the server that binding installs when it must (CP932).
    // `callTimeoutMs`: how long one call may wait for the server.
    explicit CControllerApp(std::string serverProgram = CServerControlClient::DefaultServerProgram(),
                            uint64_t callTimeoutMs = CServerControlClient::kCallTimeoutMs);
    ~CControllerApp() override;

    // Binds, loads the settings, starts the server when it is not running and shows the
    // main window. False when the program must end (the user has been told why).
    bool InitInstance();
    // Stops the server unless it runs as a service, then lets go of it; the exit code.
    int ExitInstance();
    // InitInstance, the event loop while the main window lives, ExitInstance.
    int Run();

    // Writes the settings file and sets the changed flag; a failure is shown to the user,
    // names the file and the reason, and leaves the flag as it was. A file changed since it
    // was read is written only when the user says so; they may have it read again instead.
    // Whether it saved. Saves the pages and dialogs make themselves end the same way.
    bool SaveSettings();
    void PlayClickSound() { click_.Play(); }
    // The running program's folder, with a trailing '/'.
    static std::string GetModuleDirectory();

    void OnRestartServer();
    void OnAppAbout();

    const CConfigAccessor& GetSetting() const { return settings_.GetSetting(); }
    CControllerSettings& GetSettings() { return settings_; }
    CServerControlClient& GetClient() { return client_; }
    int IsSettingsChanged() const { return settings_.IsChanged(); }
    CMainFrame* GetMainWnd() const { return mainFrame_.get(); }
    const CDrawTools& GetDrawTools() const { return drawTools_; }

    // The main window's restart and about commands (CMainFrame::kIdRestartServer and
    // kIdAppAbout), which come to the application last on the command route.
    bool HandlesCommand(int id) const override;
    void OnCommand(int id) override;

signals:
    // The restart notice must be drawn anew.
    void settingsChangedFlagChanged();

private:
    // The settings file could not be read as settings: says so, and that a save keeps it.
    void TellLoadFailed(QWidget* parent) const;

    CControllerSettings settings_;
    CServerControlClient client_;
    CClickSound click_;
    CDrawTools drawTools_;
    std::unique_ptr<CMainFrame> mainFrame_;
};
