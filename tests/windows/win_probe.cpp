// Reads what the Windows API reports about a running TOVRIK.exe or tovrik-sample.exe, or about
// a built program, for the end-to-end test. Answers go to OUT as UTF-8 lines, never to a stream
// that Wine or the loader may write into.
//   win_probe OUT style TITLE             window style of the top-level window TITLE
//   win_probe OUT rect TITLE ID...        screen rectangle of each control ID ("ID l t r b")
//   win_probe OUT focus TITLE             control id of the keyboard focus in TITLE's thread
//   win_probe OUT endsession TITLE        what Windows does at sign-out: WM_QUERYENDSESSION,
//                                         WM_ENDSESSION, then the process ends ("query N")
//   win_probe OUT version EXE             the version record: fixed versions, every string
//   win_probe OUT manifest EXE            manifest resource 1
// Exit 0 with the answer written, 1 with a reason on stderr.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

struct Search {
    const std::wstring* title;
    HWND best = nullptr;
    int bestChildren = -1;
};

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK Consider(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    wchar_t text[256] = {};
    ::GetWindowTextW(hwnd, text, 256);
    if (!::IsWindowVisible(hwnd) || *s->title != text) return TRUE;
    int children = 0;
    ::EnumChildWindows(hwnd, CountChild, reinterpret_cast<LPARAM>(&children));
    if (children > s->bestChildren) {
        s->best = hwnd;
        s->bestChildren = children;
    }
    return TRUE;
}

// A visible top-level window with this title; TOVRIK's message boxes share the main window's
// title, so among several the one with the most children wins.
HWND FindTopLevel(const std::wstring& title) {
    Search search{&title};
    ::EnumWindows(Consider, reinterpret_cast<LPARAM>(&search));
    return search.best;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR lines) {
    reinterpret_cast<std::vector<std::string>*>(lines)->push_back("language " +
                                                                  std::to_string(language));
    return TRUE;
}

// Every "key=value" text leaf under StringFileInfo of a raw version record, by walking its
// nodes: wLength, wValueLength, wType, key, padding, value, padding, children.
void Strings(const BYTE* node, const BYTE* end, const std::wstring& path,
             std::vector<std::string>& out) {
    while (node + 6 <= end) {
        const WORD length = *reinterpret_cast<const WORD*>(node);
        const WORD valueLength = *reinterpret_cast<const WORD*>(node + 2);
        const WORD type = *reinterpret_cast<const WORD*>(node + 4);
        if (length < 6 || node + length > end) return;
        const auto* key = reinterpret_cast<const wchar_t*>(node + 6);
        const std::wstring name(key);
        const BYTE* value =
            node + ((6 + (name.size() + 1) * sizeof(wchar_t) + 3) & ~static_cast<std::size_t>(3));
        const std::size_t valueBytes = type == 1 ? valueLength * sizeof(wchar_t) : valueLength;
        const BYTE* children = value + ((valueBytes + 3) & ~static_cast<std::size_t>(3));
        const std::wstring here = path.empty() ? name : path + L"/" + name;
        const std::size_t strings = here.find(L"/StringFileInfo/");
        if (type == 1 && valueLength > 0 && strings != std::wstring::npos) {
            std::wstring text(reinterpret_cast<const wchar_t*>(value), valueLength);
            if (!text.empty() && text.back() == L'\0') text.pop_back();
            out.push_back("string " + Utf8(here.substr(strings + 16)) + "=" + Utf8(text));
        }
        if (children < node + length) Strings(children, node + length, here, out);
        node += (length + 3) & ~3;
    }
}

bool Version(const std::wstring& exe, std::vector<std::string>& out) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
        return false;
    char line[128];
    std::snprintf(line, sizeof line, "file %u.%u.%u.%u product %u.%u.%u.%u",
                  HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                  HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                  HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    out.emplace_back(line);
    WORD* translation = nullptr;
    if (::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &length)) {
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
            std::snprintf(line, sizeof line, "translation %04X %u", translation[i],
                          translation[i + 1]);
            out.emplace_back(line);
        }
    }
    // The record's root node: its children hold the strings.
    const WORD total = *reinterpret_cast<const WORD*>(block.data());
    Strings(block.data(), block.data() + std::min<std::size_t>(total, size), L"", out);
    // GetFileVersionInfoW reads the first language it finds; name the resource's own.
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module != nullptr) {
        ::EnumResourceLanguagesW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), AddLanguage,
                                 reinterpret_cast<LONG_PTR>(&out));
        ::FreeLibrary(module);
    }
    return true;
}

bool Manifest(const std::wstring& exe, std::vector<std::string>& out) {
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return false;
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL data = resource != nullptr ? ::LoadResource(module, resource) : nullptr;
    if (data != nullptr) {
        const auto* bytes = static_cast<const char*>(::LockResource(data));
        out.emplace_back(bytes, ::SizeofResource(module, resource));
    }
    ::FreeLibrary(module);
    return data != nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The programs may be DPI-aware; the probe must see their real pixels, not scaled ones.
    using SetContext = BOOL(WINAPI*)(HANDLE);
    if (auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(::GetProcAddress(
            ::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
        set(reinterpret_cast<HANDLE>(-4));  // per-monitor v2
    } else {
        ::SetProcessDPIAware();
    }
    if (argc < 4) {
        std::fputs("usage: win_probe OUT COMMAND ARG...\n", stderr);
        return 1;
    }
    const std::wstring command = argv[2];
    std::vector<std::string> out;
    bool ok = true;
    if (command == L"version") {
        ok = Version(argv[3], out);
    } else if (command == L"manifest") {
        ok = Manifest(argv[3], out);
    } else {
        HWND window = FindTopLevel(argv[3]);
        ok = window != nullptr;
        if (ok && command == L"style") {
            const auto style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
            char line[96];
            std::snprintf(line, sizeof line, "style 0x%08lX minimize %d maximize %d",
                          static_cast<unsigned long>(style), (style & WS_MINIMIZEBOX) != 0,
                          (style & WS_MAXIMIZEBOX) != 0);
            out.emplace_back(line);
        } else if (ok && command == L"rect") {
            for (int i = 4; i < argc; ++i) {
                const int id = std::wcstol(argv[i], nullptr, 10);
                RECT r{};
                if (!::GetWindowRect(::GetDlgItem(window, id), &r)) ok = false;
                char line[96];
                std::snprintf(line, sizeof line, "%d %ld %ld %ld %ld", id, r.left, r.top, r.right,
                              r.bottom);
                out.emplace_back(line);
            }
        } else if (ok && command == L"focus") {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            ok = ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
            out.push_back("focus " + std::to_string(info.hwndFocus == window
                                                        ? 0
                                                        : ::GetDlgCtrlID(info.hwndFocus)));
        } else if (ok && command == L"endsession") {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            DWORD_PTR query = 0;
            ok = ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                       SMTO_ABORTIFHUNG, 5000, &query) != 0 &&
                 ::SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                                       SMTO_ABORTIFHUNG, 5000, nullptr) != 0;
            HANDLE handle = ::OpenProcess(PROCESS_TERMINATE, FALSE, process);
            ok = ok && handle != nullptr && ::TerminateProcess(handle, 0);
            if (handle != nullptr) ::CloseHandle(handle);
            out.push_back("query " + std::to_string(query));
        }
    }
    if (!ok) {
        std::fputs("win_probe: no answer\n", stderr);
        return 1;
    }
    FILE* file = _wfopen(argv[1], L"wb");
    if (file == nullptr) return 1;
    for (const std::string& line : out) std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
    return 0;
}
