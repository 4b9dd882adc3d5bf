#pragma once
// The controller's main window.

#include "gui/CommandRouter.h"

#include <QMainWindow>

class CControllerApp;

class CMainFrame : public QMainWindow, public gui::CCmdTarget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tarnwick - Vollmark";

    explicit CMainFrame(CControllerApp& app, QWidget* parent = nullptr);

    // Routes commands: this frame, then the application.
    gui::CCommandRouter& GetRouter() { return router_; }

private:
    CControllerApp& app_;
    gui::CCommandRouter router_;
};
