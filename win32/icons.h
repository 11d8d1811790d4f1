// The programs' window icons, at the sizes of the window's DPI.
#pragma once

#include <windows.h>

#include "win32/handles.h"

namespace tovrik::win {

// Icon `resourceId` at the large and small icon sizes of `dpi`, picked from the icon's images
// rather than stretched from one; set on `window`, which shows them while `big` and `small`
// hold them.
void SetWindowIcons(HWND window, HINSTANCE instance, int resourceId, UINT dpi, UniqueIcon& big,
                    UniqueIcon& small);

}  // namespace tovrik::win
