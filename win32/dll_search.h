// Where the programs' DLLs come from. A DLL named without a path is looked for in the
// program's folder, the current folder and PATH before anything else, so a copy planted in
// Downloads beside a program from the ZIP would be loaded in place of the system's.
#pragma once

#include <windows.h>

namespace tovrik::win {

enum class DllSearch {
    SystemOnly,              // System32 alone
    ProgramFolderAndSystem,  // the program's own folder, then System32
};

// The search of every later load by name in this process, set first thing in each program;
// false where the system cannot restrict it (Windows 7 without KB2533623).
bool RestrictDllSearch(DllSearch search);

// `name` (e.g. L"hid.dll") from System32 only, whatever the search order; null with the
// system's error when it cannot be loaded from there.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace tovrik::win
