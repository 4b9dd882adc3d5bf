// The module's entry points (app/DebugHost.h): the application object and the dialog, or
// a message box, for the length of one call.

#include "DebugDialog.h"
#include "DebugDriver.h"
#include "DebugText.h"
#include "app/DebugHost.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

namespace {

// Qt ends the process when its platform cannot reach a display, so that is looked at
// first: platforms such as "offscreen" need none, X11 and Wayland name theirs in the
// environment.
bool HasDisplay()
{
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        return set("DISPLAY") || set("WAYLAND_DISPLAY");
    if (std::strncmp(platform, "xcb", 3) == 0)
        return set("DISPLAY");
    if (std::strncmp(platform, "wayland", 7) == 0)
        return set("WAYLAND_DISPLAY");
    return true;
}

// Runs `show` under the module's application object: 0, or -1 at once with the reason when
// there is no display.
template <class Show>
int WithApplication(std::string* error, Show show)
{
    if (!HasDisplay()) {
        *error = "画面がないため、デバッグダイアログを表示できません (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM)";
        return -1;
    }
    // QApplication keeps referring to both for its whole life.
    static char name[] = "Tarnwick";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    QApplication application(argc, argv);
    // The message boxes' standard buttons in Japanese, as the program's other texts; Qt's
    // English where Debian's qt6-translations-l10n is not installed.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&qtTexts);
    show();
    return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int TarnwickRunDebugDialog(IDebugHost* host, std::string* error)
{
    return WithApplication(error, [host] {
        CDebugDialog dialog(*host);
        const std::unique_ptr<CDebugDriver> driver = CDebugDriver::FromEnvironment(&dialog);
        dialog.exec();
    });
}

extern "C" __attribute__((visibility("default"))) int TarnwickShowDebugMessage(const std::string* text,
                                                                               std::string* error)
{
    return WithApplication(error, [text] {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarnwick"), ToQString(*text), QMessageBox::Ok);
        box.setWindowIcon(QIcon(QStringLiteral(":/Tarnwick.svg")));
        const std::unique_ptr<CDebugDriver> driver = CDebugDriver::FromEnvironment(nullptr);
        box.exec();
    });
}

// The server's declarations of the entry points must agree with these definitions.
static_assert(std::is_same_v<decltype(&TarnwickRunDebugDialog), DebugEntry>);
static_assert(std::is_same_v<decltype(&TarnwickShowDebugMessage), DebugMessageEntry>);
