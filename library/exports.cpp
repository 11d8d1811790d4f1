// The library's exported surface: thin C wrappers over the operations, bound to the system's
// HID backend. Only these names leave the library (see tovrik.map).
#include "device/platform.h"
#include "library/operations.h"
#include "library/tovrik.h"

extern "C" {

TOVRIK_API TovrikString FindUSB(int32_t* index) {
    return tovrik::library::FindUsb(tovrik::SystemPlatform(), index);
}

TOVRIK_API int32_t DDSOut(const char* path, uint32_t word, int32_t flag) {
    return tovrik::library::DdsOut(tovrik::SystemPlatform(), path, word, flag);
}

TOVRIK_API int32_t DDSSuspend(const char* path) {
    return tovrik::library::DdsSuspend(tovrik::SystemPlatform(), path);
}

TOVRIK_API TovrikString GetVers(const char* path) {
    return tovrik::library::GetVersion(tovrik::SystemPlatform(), path);
}

TOVRIK_API uint32_t StrLen(TovrikString text) {
    return tovrik::library::StringLength(text);
}

TOVRIK_API void StrFree(TovrikString text) {
    tovrik::library::FreeString(text);
}

}  // extern "C"
