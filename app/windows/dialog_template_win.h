// A DLGTEMPLATEEX in memory, built at run time from the shared template tables, so the
// Windows dialogs and the Qt ones come from one description.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "app/ui/templates.h"

namespace tovrik::win {

// Window style of one control of the table (WS_CHILD | WS_VISIBLE and the kind's own bits).
DWORD ControlStyle(const ui::ControlTemplate& control);

// The whole template, with DS_SETFONT and the table's font added to `dialogStyle`. The words
// are DWORD-aligned as the dialog manager requires; pass data() to the *Indirect functions.
std::vector<std::uint32_t> BuildDialogTemplate(const ui::DialogTemplate& dialog, DWORD dialogStyle);

}  // namespace tovrik::win
