#include "device/transport.h"

#include <vector>

namespace tovrik {
namespace {

bool IsTovrikIds(const std::optional<HidIds>& ids) {
    return ids && ids->vendorId == kTovrikVendorId && ids->productId == kTovrikProductId;
}

DeviceHandle Open(DevicePlatform& platform, const std::string& path, ShareMode mode,
                  SystemError* error, std::optional<HidIds>* ids = nullptr) {
    OpenResult opened = platform.Open(path, mode);
    if (error != nullptr) *error = opened.error;
    if (ids != nullptr) *ids = opened.ids;
    return DeviceHandle(platform, opened.handle);
}

// Shared open of a path that must be a TOVRIK; anything else is closed again at once.
DeviceHandle OpenTovrikShared(DevicePlatform& platform, const std::string& path,
                              SystemError* error) {
    std::optional<HidIds> ids;
    DeviceHandle handle = Open(platform, path, ShareMode::Shared, error, &ids);
    if (handle && !ids) ids = platform.GetIds(handle.native());
    if (handle && !IsTovrikIds(ids)) handle.Reset();
    return handle;
}

bool IsTovrik(DevicePlatform& platform, const std::string& path,
              std::vector<DeviceRefusal>* refused) {
    if (path.empty() || path.size() > kMaxDevicePathLength) return false;
    SystemError error = 0;
    if (OpenTovrikShared(platform, path, &error)) return true;
    if (error != 0 && refused != nullptr && IsTovrikIds(platform.PeekIds(path))) {
        refused->push_back({path, error});
    }
    return false;
}

}  // namespace

bool FindDevice(DevicePlatform& platform, int& startIndex, std::string& path,
                std::vector<DeviceRefusal>* refused) {
    const std::vector<std::string> interfaces = platform.EnumerateHidInterfaces();
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        if (static_cast<long long>(i) < startIndex) continue;
        if (!IsTovrik(platform, interfaces[i], refused)) continue;
        startIndex = static_cast<int>(i + 1);
        path = interfaces[i];
        return true;
    }
    startIndex = 0;
    return false;
}

DeviceHandle OpenDevice(DevicePlatform& platform, const std::string& path, SystemError* error) {
    return Open(platform, path, ShareMode::Exclusive, error);
}

bool WriteOutputReport(DeviceHandle& handle, TuningWord word, int selector, int outputFlag) {
    if (!handle) return false;
    const OutputReport report = outputFlag != 0
                                    ? BuildOutputReport(word, FrequencyControlByte(selector))
                                    : BuildStopReport();
    if (handle.platform()->WriteReport(handle.native(), report) == 0) return true;
    handle.Reset();
    return false;
}

std::optional<std::string> ReadFirmwareVersion(DeviceHandle& handle, SystemError* error) {
    if (!handle) return std::nullopt;
    VersionFeature feature{};  // byte 0 is the report id 0
    const SystemError failed = handle.platform()->GetFeature(handle.native(), feature);
    if (error != nullptr) *error = failed;
    if (failed != 0) return std::nullopt;
    return FormatVersionText(feature);
}

DeviceHandle OpenDeviceShared(DevicePlatform& platform, const std::string& path,
                              SystemError* error) {
    return Open(platform, path, ShareMode::Shared, error);
}

SendOutcome SendReportOnce(DevicePlatform& platform, const std::string& path,
                           const OutputReport& report) {
    SystemError openError = 0;
    DeviceHandle handle = OpenTovrikShared(platform, path, &openError);
    if (!handle) return {SendOutcome::Kind::NotOpened, 0, openError};
    const int error = platform.WriteReport(handle.native(), report);
    if (error != 0) return {SendOutcome::Kind::WriteRefused, error};
    return {SendOutcome::Kind::Sent, 0};
}

std::optional<std::string> ReadVersionOnce(DevicePlatform& platform, const std::string& path,
                                           SystemError* error) {
    DeviceHandle handle = OpenTovrikShared(platform, path, error);
    return ReadFirmwareVersion(handle, error);
}

}  // namespace tovrik
