#pragma once
// How the settings sheets run: their pages write into the live settings as they are left,
// so the sheet is bracketed by a snapshot. OK saves the settings file; any other end puts
// the snapshot back, undoing what the pages wrote.

namespace gui {
class CPropertySheet;
}
class CControllerSettings;

// Runs `sheet` modally; kIdOk or kIdCancel as gui::CPropertySheet::DoModal.
int RunSettingsSheet(CControllerSettings& settings, gui::CPropertySheet& sheet);
