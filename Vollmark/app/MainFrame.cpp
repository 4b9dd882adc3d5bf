#include "app/MainFrame.h"

#include "app/ControllerApp.h"
#include "gui/QtText.h"

#include <QIcon>

namespace {

// Room for the content the sections show, on the smallest screens still in use.
constexpr int kDefaultWidthPx = 800;
constexpr int kDefaultHeightPx = 560;

}  // namespace

CMainFrame::CMainFrame(CControllerApp& app, QWidget* parent)
    : QMainWindow(parent), app_(app), router_([this] { return std::vector<gui::CCmdTarget*>{this, &app_}; }, this)
{
    setWindowTitle(ToQString(kTitle));
    setWindowIcon(QIcon(QStringLiteral(":/icons/Vollmark.svg")));
    resize(kDefaultWidthPx, kDefaultHeightPx);
    connect(&app_, &CControllerApp::settingsChangedFlagChanged, this, [this] { update(); });
}
