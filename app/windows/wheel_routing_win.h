// Wheel turns over a child control belong to the window that holds it.
#pragma once

#include <windows.h>

namespace tovrik::win {

// Sends every wheel message that reaches one of `window`'s children to `window` instead. The
// up-down control would otherwise take the wheel as arrow clicks and the spin's rules (its own
// reversal, no output lock) would apply to a wheel turn.
void RouteWheelToWindow(HWND window);

}  // namespace tovrik::win
