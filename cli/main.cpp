#include <iostream>

#include "cli/app.h"
#include "device/hotplug.h"
#ifdef _WIN32
#include "win32/console.h"
#include "win32/dll_search.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    tovrik::win::RestrictDllSearch(tovrik::win::DllSearch::SystemOnly);
    const tovrik::win::Utf8ConsoleOutput utf8;
#endif
    return tovrik::cli::Run(argc, argv, tovrik::SystemPlatform(), std::cout, std::cerr,
                            tovrik::WatchHidInterfaces);
}
