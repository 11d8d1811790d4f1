// The fonts TOVRIK.exe sets on its readout caption and its readout.
#pragma once

#include <windows.h>

#include "win32/handles.h"

namespace tovrik::win {

// At `dpi`: their cell heights (24 and 48) are pixels at 96 DPI.
UniqueFont CaptionFont(UINT dpi);
UniqueFont ReadoutFont(UINT dpi);

}  // namespace tovrik::win
