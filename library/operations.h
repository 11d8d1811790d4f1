// The bodies of the exported functions, written against a DevicePlatform so that tests can
// run them in-process against a fake. Nothing here throws, and nothing keeps state: every
// call works in its own locals.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "device/platform.h"

// As in tovrik.h, which is not included here: tovrik.dll's header declares the same exports
// with other result types.
typedef char* TovrikString;

namespace tovrik::library {

// A TovrikString holding `text`; never null (falls back to a shared, read-only empty string
// when memory runs out, which FreeString recognises).
TovrikString MakeString(std::string_view text) noexcept;
std::uint32_t StringLength(TovrikString text) noexcept;
void FreeString(TovrikString text) noexcept;

// The text results as plain bytes; each platform's exports wrap them in its own string type.
// Empty stands for "no device" and for every failure, running out of memory included.
std::string FindUsbText(DevicePlatform& platform, std::int32_t* index) noexcept;
std::string GetVersionText(DevicePlatform& platform, const char* path) noexcept;

TovrikString FindUsb(DevicePlatform& platform, std::int32_t* index) noexcept;
// TOVRIK_SENT, TOVRIK_NOT_OPENED or -errno.
std::int32_t SendStatus(DevicePlatform& platform, const char* path, std::uint32_t word,
                        std::int32_t flag) noexcept;
std::int32_t DdsOut(DevicePlatform& platform, const char* path, std::uint32_t word,
                    std::int32_t flag) noexcept;
std::int32_t DdsSuspend(DevicePlatform& platform, const char* path) noexcept;
TovrikString GetVersion(DevicePlatform& platform, const char* path) noexcept;

}  // namespace tovrik::library
