#pragma once
// The "/Debug" run: loads the debug dialog module from beside the program and runs its
// dialog over the application, with the control channel served between button presses; or
// shows, through the same module, why the run ends before its dialog.

#include <string>

class CServerApp;

namespace platform {
class ControlHost;
}

// Returns when the dialog was closed: 0. -1 when the module cannot be loaded or the dialog
// cannot be shown, with the reason (CP932, naming the module file where it is the cause)
// in *error. Both objects outlive the call; `control` may be unregistered.
int RunDebugDialog(CServerApp& app, platform::ControlHost& control, std::string* error);

// Shows `text` (CP932) in an error box and returns when it was closed: 0. -1 when the
// module cannot be loaded or the box cannot be shown, with the reason in *error.
int ShowDebugMessage(const std::string& text, std::string* error);
