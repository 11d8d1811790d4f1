// What the device link needs of the operating system, and nothing more. One implementation
// per platform lives in its own folder (linux/ now); tests substitute an in-process fake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/reports.h"

namespace tovrik {

using NativeHandle = std::intptr_t;  // a file descriptor on Linux, a HANDLE on Windows
inline constexpr NativeHandle kNoNativeHandle = -1;

enum class ShareMode {
    Exclusive,  // nobody else may open the device while this handle lives
    Shared,     // others may open it shared too, but not exclusively
};

struct HidIds {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

class DevicePlatform {
public:
    virtual ~DevicePlatform() = default;

    // Paths of the HID interfaces present now, in a stable enumeration order.
    virtual std::vector<std::string> EnumerateHidInterfaces() = 0;
    // Read and write access. kNoNativeHandle when the path cannot be opened in that mode.
    virtual NativeHandle Open(const std::string& path, ShareMode mode) = 0;
    virtual std::optional<HidIds> GetIds(NativeHandle handle) = 0;
    // Synchronous write of one output report: 0 on success, else the system error code.
    virtual int WriteReport(NativeHandle handle, const OutputReport& report) = 0;
    // Get-feature for report id 0; `feature` arrives with byte 0 = 0.
    virtual bool GetFeature(NativeHandle handle, VersionFeature& feature) = 0;
    virtual void Close(NativeHandle handle) = 0;
};

// The platform this build talks to real devices with.
DevicePlatform& SystemPlatform();

}  // namespace tovrik
