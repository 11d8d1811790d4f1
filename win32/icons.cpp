#include "win32/icons.h"

#include <utility>

#include "win32/dpi.h"

namespace tovrik::win {

void SetWindowIcons(HWND window, HINSTANCE instance, int resourceId, UINT dpi, UniqueIcon& big,
                    UniqueIcon& small) {
    const auto load = [&](int cx, int cy) {
        return UniqueIcon(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(resourceId),
                                                          IMAGE_ICON, MetricForDpi(cx, dpi),
                                                          MetricForDpi(cy, dpi), LR_DEFAULTCOLOR)));
    };
    // The window keeps showing the old icons until the new ones are set.
    UniqueIcon newBig = load(SM_CXICON, SM_CYICON);
    UniqueIcon newSmall = load(SM_CXSMICON, SM_CYSMICON);
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(newBig.get()));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(newSmall.get()));
    big = std::move(newBig);
    small = std::move(newSmall);
}

}  // namespace tovrik::win
