// Sizes at the DPI a window is shown at. The programs are per-monitor DPI-aware: Windows does
// not stretch them, so what is given in pixels at 96 DPI is scaled here, and again when a
// window moves to a monitor with another scale (WM_DPICHANGED).
#pragma once

#include <windows.h>

namespace tovrik::win {

inline constexpr UINT kStandardDpi = 96;

// The system DPI: the screen's LOGPIXELSY.
UINT SystemDpi();

// The DPI of `window`'s monitor (GetDpiForWindow, Windows 10 1607 and later), else the
// screen's LOGPIXELSY.
UINT WindowDpi(HWND window);

// `pixels` at 96 DPI, at `dpi`.
int ScaleToDpi(int pixels, UINT dpi);

// System metric `index` at `dpi` (GetSystemMetricsForDpi where the system has it).
int MetricForDpi(int index, UINT dpi);

// The frame around a client area of `client` at `dpi`.
RECT FrameForClient(RECT client, DWORD style, bool menu, DWORD exStyle, UINT dpi);

// Takes the rectangle that WM_DPICHANGED suggests (its lParam).
void TakeSuggestedRect(HWND window, LPARAM suggested);

}  // namespace tovrik::win
