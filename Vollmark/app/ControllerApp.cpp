#include "app/ControllerApp.h"

#include "app/MainFrame.h"
#include "app/SecndFrame.h"
#include "dialogs/AboutDialog.h"
#include "gui/UserPrompts.h"

#include "ModulePath.h"

#include <QApplication>

namespace {

const char kSaveFailedText[] = "設定ファイルを保存できませんでした。";
const char kLoadFailedText[] = "Tarnwick.xmlのロードに失敗しました";
// The failed restart's message box is named after the command.
const char kRestartCaption[] = "サーバ再起動";
const char kKeptOnSaveText[] = "設定を保存すると、元のファイルは Tarnwick.xml.bak として残ります。";
const char kChangedFileText[] = "次の設定ファイルは、読み込んだ後にほかのプログラムによって変更されています。";
const char kChangedFileChoices[] =
    "はい: ファイルを読み込み直します (保存していない変更は失われます)\r\n"
    "いいえ: このファイルを上書きします\r\n"
    "キャンセル: 今は保存しません";

// A question or message raised while a dialog is open belongs over that dialog.
QWidget* PromptParent(QWidget* mainWindow)
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? modal : mainWindow;
}

}  // namespace

CControllerApp::CControllerApp(std::string serverProgram, uint64_t callTimeoutMs)
    : client_(std::move(serverProgram), callTimeoutMs)
{
    // Pages and dialogs save the settings themselves; what a save means for the user is
    // said here, once.
    settings_.SetSaveObserver([this](CControllerSettings::SaveResult result, const std::string& error) {
        switch (result) {
        case CControllerSettings::kSaved:
            emit settingsChangedFlagChanged();
            break;
        case CControllerSettings::kReloaded:
            // The restart notice stays as it was; the views show what was read.
            if (mainFrame_)
                mainFrame_->update();
            if (settings_.LoadFailed())
                TellLoadFailed(PromptParent(mainFrame_.get()));
            break;
        case CControllerSettings::kFailed:
            gui::MessageBox(PromptParent(mainFrame_.get()), std::string(kSaveFailedText) + "\r\n" + error,
                            gui::kMbOk | gui::kMbIconStop);
            break;
        case CControllerSettings::kNotSaved:
            break;
        }
    });
    settings_.SetChangedFileQuestion([this](const std::string& file) {
        switch (gui::MessageBox(PromptParent(mainFrame_.get()),
                                std::string(kChangedFileText) + "\r\n" + file + "\r\n\r\n" + kChangedFileChoices,
                                gui::kMbYesNoCancel | gui::kMbIconExclamation)) {
        case gui::kIdYes:
            return CControllerSettings::ChangedFileAnswer::Reload;
        case gui::kIdNo:
            return CControllerSettings::ChangedFileAnswer::Overwrite;
        default:
            return CControllerSettings::ChangedFileAnswer::Leave;
        }
    });
}

void CControllerApp::TellLoadFailed(QWidget* parent) const
{
    gui::MessageBox(parent,
                    std::string(kLoadFailedText) + "\r\n" + settings_.GetLoadError() + "\r\n\r\n" + kKeptOnSaveText,
                    gui::kMbOk | gui::kMbIconExclamation);
}

CControllerApp::~CControllerApp() = default;

std::string CControllerApp::GetModuleDirectory()
{
    const std::string program = platform::GetModulePath(0);
    return program.substr(0, program.rfind('/') + 1);
}

bool CControllerApp::InitInstance()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Vollmark"));
    if (client_.Connect() != 0) {
        std::string text = kBindFailedText;
        if (!client_.GetConnectError().empty())
            text += "\r\n\r\n" + client_.GetConnectError();
        gui::MessageBox(nullptr, text, gui::kMbOk | gui::kMbIconStop);
        return false;
    }
    settings_.Load(client_.GetServerRoot());
    if (settings_.LoadFailed())
        TellLoadFailed(nullptr);
    if (client_.IsRunning() == 0)
        client_.StartServer();
    mainFrame_ = std::make_unique<CMainFrame>(drawTools_, settings_, client_, *this);
    connect(mainFrame_->GetContentFrame(), &CSecndFrame::clickSound, this, &CControllerApp::PlayClickSound);
    connect(this, &CControllerApp::settingsChangedFlagChanged, mainFrame_.get(), &CMainFrame::UpdateRestartNotice);
    mainFrame_->RestorePlacement();
    return true;
}

int CControllerApp::ExitInstance()
{
    if (client_.IsRunning() == 1 && client_.IsService() == 0)
        client_.StopServer();
    client_.Release();
    mainFrame_.reset();
    return 0;
}

int CControllerApp::Run()
{
    int code = 1;
    // The window may hide in the tray while a dialog closes; only closing the main window
    // ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    if (InitInstance()) {
        code = QApplication::exec();
    }
    const int exitCode = ExitInstance();
    return code != 0 ? code : exitCode;
}

bool CControllerApp::SaveSettings() { return settings_.Save(nullptr) == CControllerSettings::kSaved; }

void CControllerApp::OnRestartServer()
{
    int started = client_.StartServer();
    // A server that died takes the channel with it: bind anew, starting it as the
    // controller's own start does, and ask again. One that only stalls (stopped, swapped
    // out) keeps the binding: it serves it again when it resumes, while binding anew would
    // wait for it as well and then drop the channel it still answers on.
    if (started != 0 && client_.LastCallFailed() && !client_.LastCallTimedOut() && client_.Connect() == 0)
        started = client_.StartServer();
    // A restart that failed has not taken the saved settings in: the notice stays.
    if (started == 0)
        settings_.ClearChanged();
    emit settingsChangedFlagChanged();
    // Both ports are dark now; the user is told why at once, not only in the information view.
    if (client_.IsRunning() == 0)
        gui::MessageBox(mainFrame_.get(), client_.GetServerErrorString(), gui::kMbOk | gui::kMbIconStop, kRestartCaption);
}

void CControllerApp::OnAppAbout()
{
    CAboutDialog dialog(mainFrame_.get());
    connect(&dialog, &CAboutDialog::pictureClicked, this, [this] { PlayClickSound(); });
    dialog.exec();
}

bool CControllerApp::HandlesCommand(int id) const
{
    return id == CMainFrame::kIdRestartServer || id == CMainFrame::kIdAppAbout;
}

void CControllerApp::OnCommand(int id)
{
    if (id == CMainFrame::kIdRestartServer)
        OnRestartServer();
    else if (id == CMainFrame::kIdAppAbout)
        OnAppAbout();
}
