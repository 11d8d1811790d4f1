// The modal dialogs of the Windows TOVRIK: the settings dialog and the About box, both built
// from the shared templates.
#pragma once

#include <windows.h>

#include "controller/controller_state.h"

namespace tovrik::win {

// Edits the settings rows of `state` on a copy; OK copies them back and returns true, Cancel,
// Escape and the close box leave `state` untouched.
bool RunSettingsDialog(HINSTANCE instance, HWND owner, ControllerState& state);

void RunAboutBox(HINSTANCE instance, HWND owner);

// Centres `window` over `owner` (over the work area without one), kept on the owner's monitor.
void CentreOver(HWND window, HWND owner);

}  // namespace tovrik::win
