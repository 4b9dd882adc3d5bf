#include "pages/SettingsSheet.h"

#include "core/ControllerSettings.h"
#include "gui/PropertySheet.h"
#include "gui/UserPrompts.h"

int RunSettingsSheet(CControllerSettings& settings, gui::CPropertySheet& sheet)
{
    settings.Snapshot();
    const int result = sheet.DoModal();
    if (result == gui::kIdOk)
        settings.Save(nullptr);
    else
        settings.Restore();
    return result;
}
