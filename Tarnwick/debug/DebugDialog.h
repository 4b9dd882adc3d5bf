#pragma once
// The "/Debug" run's window: start and stop the server core, write its context and
// information trees to files, and run the install and uninstall actions without the
// command line. The control channel is served from this window's event loop, so a
// controller can use the server while it is open. Closing it (Exit, Escape, the window's
// close box) stops the server.

#include <QDialog>

class IDebugHost;
class QAction;
class QPushButton;

class CDebugDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kAboutEntryText = "バージョン情報 Tarnwick(&A)...";

    // `host` outlives the dialog.
    explicit CDebugDialog(IDebugHost& host, QWidget* parent = nullptr);

    // Stops the server, then closes.
    void reject() override;

    QAction* GetAboutAction() const { return about_; }

private:
    QPushButton* AddButton(const char* caption, void (CDebugDialog::*onClick)());
    void OnStart();
    void OnStop();
    void OnDump();
    void OnAddService();
    void OnDelService();
    void OnAddApp();
    void OnDelApp();
    void OnAbout();
    void ShowError(const QString& text);

    IDebugHost& host_;
    QAction* about_;
};
