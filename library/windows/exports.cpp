// tovrik.dll's exported surface: the shared operations bound to the Windows HID backend, with
// BSTR results. Which names leave the DLL is decided by the .def file, not here.
#include "device/platform.h"
#include "library/operations.h"
#include "library/windows/bstr_text.h"
#include "library/windows/tovrik_win.h"

extern "C" {

BSTR __stdcall FindUSB(int32_t* index) {
    return tovrik::library::MakeByteBstr(
        tovrik::library::FindUsbText(tovrik::SystemPlatform(), index));
}

int32_t __stdcall DDSOut(const char* path, uint32_t word, int32_t flag) {
    return tovrik::library::DdsOut(tovrik::SystemPlatform(), path, word, flag);
}

int32_t __stdcall DDSSuspend(const char* path) {
    return tovrik::library::DdsSuspend(tovrik::SystemPlatform(), path);
}

BSTR __stdcall GetVers(const char* path) {
    return tovrik::library::MakeByteBstr(
        tovrik::library::GetVersionText(tovrik::SystemPlatform(), path));
}

// Nothing to set up or tear down: loading never fails on the library's account.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
