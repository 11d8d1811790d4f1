#include "device/transport.h"

namespace tovrik {

DeviceError Failure(const DevicePlatform& platform, DeviceError::Step step, SystemError code) {
    return {step, code, code == 0 || platform.Describe(code).kind == FailureKind::Gone};
}

DeviceResult<DeviceHandle> OpenTovrik(DevicePlatform& platform, const std::string& path,
                                      ShareMode mode) {
    OpenResult opened = platform.Open(path, mode);
    if (opened.error != 0) return Failure(platform, DeviceError::Step::Open, opened.error);
    DeviceHandle handle(platform, opened.handle);
    if (handle && !opened.ids) opened.ids = platform.GetIds(handle.native());
    if (!handle || !IsTovrikIds(opened.ids)) return Failure(platform, DeviceError::Step::Open, 0);
    return handle;
}

DeviceStatus WriteReport(const DeviceHandle& handle, const OutputReport& report) {
    if (!handle) return DeviceError{DeviceError::Step::Write, 0, true};
    const SystemError error = handle.platform()->WriteReport(handle.native(), report);
    if (error != 0) return Failure(*handle.platform(), DeviceError::Step::Write, error);
    return {};
}

DeviceResult<std::string> ReadFirmwareVersion(const DeviceHandle& handle) {
    if (!handle) return DeviceError{DeviceError::Step::Read, 0, true};
    VersionFeature feature{};  // byte 0 is the report id 0
    const SystemError error = handle.platform()->GetFeature(handle.native(), feature);
    if (error != 0) return Failure(*handle.platform(), DeviceError::Step::Read, error);
    return FormatVersionText(feature);
}

DeviceStatus SendReportOnce(DevicePlatform& platform, const std::string& path,
                            const OutputReport& report) {
    const auto handle = OpenTovrik(platform, path, ShareMode::Shared);
    if (!handle) return handle.error();
    return WriteReport(*handle, report);
}

DeviceResult<std::string> ReadVersionOnce(DevicePlatform& platform, const std::string& path) {
    const auto handle = OpenTovrik(platform, path, ShareMode::Shared);
    if (!handle) return handle.error();
    return ReadFirmwareVersion(*handle);
}

}  // namespace tovrik
