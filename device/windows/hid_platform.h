// Windows backend: HID interfaces are the Setup API's device interfaces of the HID class,
// opened with CreateFileA and spoken to through hid.dll (bound at run time from System32).
#pragma once

#include <cstdint>
#include <string_view>

#include "device/platform.h"

namespace tovrik {

class WindowsHidPlatform final : public DevicePlatform {
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

// How long a report (or a feature request) may take before it counts as failed.
inline constexpr std::uint32_t kWriteTimeoutMs = 1000;

// Whether `path` names a HID interface ("\\?\hid#...", in either case), the only paths Open
// opens.
bool IsHidInterfacePath(std::string_view path);

// Writes `size` bytes through `handle` (opened overlapped); after `timeoutMs` the write is
// cancelled and ERROR_TIMEOUT returned. 0 or the system's error code.
SystemError WriteWithTimeout(void* handle, const void* data, std::uint32_t size,
                             std::uint32_t timeoutMs);

// The result of a request cancelled at its time limit: GetOverlappedResult's after the cancel
// (`completed`, else its error). A request that finished before the cancel took effect keeps
// its own result; only one the cancel ended has timed out.
SystemError ResultAfterCancel(bool completed, std::uint32_t error);

// The ids an interface path carries ("\\?\hid#vid_1774&pid_9851#..."), in either case.
std::optional<HidIds> IdsFromInterfacePath(std::string_view path);

}  // namespace tovrik
