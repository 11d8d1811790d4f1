#include "app/windows/wheel_routing_win.h"

#include <commctrl.h>

namespace tovrik::win {
namespace {

constexpr UINT_PTR kSubclassId = 1;

LRESULT CALLBACK WheelToParent(HWND child, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
    if (message == WM_MOUSEWHEEL) {
        return ::SendMessageW(::GetParent(child), message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) ::RemoveWindowSubclass(child, WheelToParent, kSubclassId);
    return ::DefSubclassProc(child, message, wParam, lParam);
}

BOOL CALLBACK Subclass(HWND child, LPARAM) {
    ::SetWindowSubclass(child, WheelToParent, kSubclassId, 0);
    return TRUE;
}

}  // namespace

void RouteWheelToWindow(HWND window) {
    ::EnumChildWindows(window, Subclass, 0);
}

}  // namespace tovrik::win
