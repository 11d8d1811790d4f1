#include "win32/dll_search.h"

#include <string>

namespace tovrik::win {

bool RestrictDllSearch(DllSearch search) {
    // Newer than the oldest system the programs run on: looked up, not imported.
    using SetDefault = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel32 == nullptr
                         ? nullptr
                         : reinterpret_cast<SetDefault>(reinterpret_cast<void*>(
                               ::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (set == nullptr) return false;
    DWORD flags = LOAD_LIBRARY_SEARCH_SYSTEM32;
    if (search == DllSearch::ProgramFolderAndSystem) flags |= LOAD_LIBRARY_SEARCH_APPLICATION_DIR;
    return set(flags) != 0;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A system without the search flags refuses them: the full path says the same.
    std::wstring path(MAX_PATH, L'\0');
    const UINT n = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (n == 0 || n >= path.size()) return nullptr;
    path.resize(n);
    path += L'\\';
    path += name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tovrik::win
