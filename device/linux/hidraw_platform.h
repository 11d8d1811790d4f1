// Linux backend: HID interfaces are the kernel's hidraw nodes.
#pragma once

#include "device/platform.h"

namespace tovrik {

class HidrawPlatform final : public DevicePlatform {
  public:
    std::vector<std::string> EnumerateHidInterfaces() override;
    OpenResult Open(const std::string& path, ShareMode mode) override;
    std::optional<HidIds> GetIds(NativeHandle handle) override;
    std::optional<std::string> GetSerial(NativeHandle handle) override;
    std::optional<HidIds> PeekIds(const std::string& path) override;
    SystemError WriteReport(NativeHandle handle, const OutputReport& report) override;
    SystemError GetFeature(NativeHandle handle, VersionFeature& feature) override;
    void Close(NativeHandle handle) override;
    FailureReason Describe(SystemError error) const override;
};

}  // namespace tovrik
