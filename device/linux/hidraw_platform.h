// Linux backend: HID interfaces are the kernel's hidraw nodes.
#pragma once

#include "device/platform.h"

namespace tovrik {

class HidrawPlatform final : public DevicePlatform {
public:
    std::vector<std::string> EnumerateHidInterfaces() override;
    NativeHandle Open(const std::string& path, ShareMode mode) override;
    std::optional<HidIds> GetIds(NativeHandle handle) override;
    int WriteReport(NativeHandle handle, const OutputReport& report) override;
    bool GetFeature(NativeHandle handle, VersionFeature& feature) override;
    void Close(NativeHandle handle) override;
};

}  // namespace tovrik
