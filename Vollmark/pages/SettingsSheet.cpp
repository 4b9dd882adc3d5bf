#include "pages/SettingsSheet.h"

#include "app/ControllerApp.h"
#include "gui/PropertySheet.h"
#include "gui/UserPrompts.h"

int RunSettingsSheet(CControllerApp& app, gui::CPropertySheet& sheet)
{
    app.SnapshotSettings();
    const int result = sheet.DoModal();
    if (result == gui::kIdOk)
        app.SaveSettings();
    else
        app.RestoreSettings();
    return result;
}
