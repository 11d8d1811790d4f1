// A DLL that lies beside a program, as a planted copy would: found only where the search
// order still looks in the program's folder. Loaded, it leaves a mark: the file that
// TOVRIK_PLANTED_MARK names.
#include <windows.h>

extern "C" __declspec(dllexport) int TovrikPlanted() {
    return 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t mark[MAX_PATH] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"TOVRIK_PLANTED_MARK", mark, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    const HANDLE file = ::CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return TRUE;
}
