// TOVRIK for Windows: the control application's entry point and message loop.
#include <windows.h>

// After windows.h, which it needs.
#include <commctrl.h>

#include <filesystem>
#include <string>

#include "app/settings/settings_store.h"
#include "app/windows/main_window_win.h"
#include "device/platform.h"
#include "win32/dll_search.h"
#include "win32/text.h"

namespace {

// The executable's base name: message box caption and the settings file's name.
std::wstring ApplicationName() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return L"TOVRIK";
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    std::wstring name = std::filesystem::path(buffer).stem().wstring();
    return name.empty() ? L"TOVRIK" : name;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    tovrik::win::RestrictDllSearch(tovrik::win::DllSearch::SystemOnly);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    const std::wstring name = ApplicationName();
    tovrik::win::MainWindow window(instance, tovrik::SystemPlatform(), name,
                                   tovrik::DefaultProfilePath(tovrik::win::Narrow(name)));
    if (!window.Create()) return 1;
    window.ShowCentred();

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslate(message)) continue;
        if (window.hwnd() != nullptr && ::IsDialogMessageW(window.hwnd(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
