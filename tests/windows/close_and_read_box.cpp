// Closes a program's dialog window as its close box does, waits for the message box the close
// brings up, writes the box's text (UTF-8) to a file and presses its OK. The text is read
// through the Windows API, so nothing Wine prints can get into it.
//   close_and_read_box.exe CAPTION OUT_FILE      exit 0 box read, 1 no window or no box
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
    const wchar_t* caption;
    bool messageBox;  // a box has an OK button (1); the main window has none
    HWND found;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t className[16] = {};
    wchar_t caption[256] = {};
    ::GetClassNameW(hwnd, className, 16);
    ::GetWindowTextW(hwnd, caption, 256);
    if (::IsWindowVisible(hwnd) && std::wstring(className) == L"#32770" &&
        std::wstring(caption) == search->caption &&
        (::GetDlgItem(hwnd, IDOK) != nullptr) == search->messageBox) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitFor(const wchar_t* caption, bool messageBox) {
    for (int i = 0; i < 200; ++i) {
        Search search{caption, messageBox, nullptr};
        ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        ::Sleep(100);
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HWND window = WaitFor(argv[1], false);
    if (window == nullptr) return 1;
    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND box = WaitFor(argv[1], true);
    if (box == nullptr) return 1;
    wchar_t text[2048] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 2048);  // the box's text control
    char utf8[8192] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    FILE* out = ::_wfopen(argv[2], L"wb");
    if (out == nullptr) return 1;
    std::fputs(utf8, out);
    std::fclose(out);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}
