#pragma once
// The "/Debug" run's window: start and stop the server core, write its context and
// information trees to files, and run the install and uninstall actions without the
// command line. The control channel is served from this window's event loop, so a
// controller can use the server while it is open. Closing it (Exit, Escape, the window's
// close box) stops the server.

#include <QDialog>

#include <string>

class IDebugHost;
class QAction;
class QLabel;
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
    // A failed install step's text in a box; nothing after a success.
    void ShowSetupResult(int result, const std::string& error);
    // The state line: whether a core runs, and what the last press did.
    void ShowState(const QString& done = QString());

    IDebugHost& host_;
    QAction* about_;
    QLabel* state_;
};
