// Windows backend: HID interfaces are the Setup API's device interfaces of the HID class,
// opened with CreateFileA and spoken to through hid.dll.
#pragma once

#include <string_view>

#include "device/platform.h"

namespace tovrik {

class WindowsHidPlatform final : public DevicePlatform {
  public:
    std::vector<std::string> EnumerateHidInterfaces() override;
    OpenResult Open(const std::string& path, ShareMode mode) override;
    std::optional<HidIds> GetIds(NativeHandle handle) override;
    std::optional<HidIds> PeekIds(const std::string& path) override;
    SystemError WriteReport(NativeHandle handle, const OutputReport& report) override;
    SystemError GetFeature(NativeHandle handle, VersionFeature& feature) override;
    void Close(NativeHandle handle) override;
    FailureReason Describe(SystemError error) const override;
};

// The ids an interface path carries ("\\?\hid#vid_1774&pid_9851#..."), in either case.
std::optional<HidIds> IdsFromInterfacePath(std::string_view path);

}  // namespace tovrik
