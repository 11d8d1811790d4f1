#include "device/transport.h"

#include <vector>

namespace tovrik {
namespace {

bool IsTovrik(DevicePlatform& platform, const std::string& path) {
    if (path.empty() || path.size() > kMaxDevicePathLength) return false;
    DeviceHandle probe(platform, platform.Open(path, ShareMode::Shared));
    if (!probe) return false;
    const auto ids = platform.GetIds(probe.native());
    return ids && ids->vendorId == kTovrikVendorId && ids->productId == kTovrikProductId;
}

std::optional<std::string> ReadVersion(DeviceHandle& handle) {
    if (!handle) return std::nullopt;
    VersionFeature feature{};  // byte 0 is the report id 0
    if (!handle.platform()->GetFeature(handle.native(), feature)) return std::nullopt;
    return FormatVersionText(feature);
}

}  // namespace

bool FindDevice(DevicePlatform& platform, int& startIndex, std::string& path) {
    const std::vector<std::string> interfaces = platform.EnumerateHidInterfaces();
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        if (static_cast<long long>(i) < startIndex) continue;
        if (!IsTovrik(platform, interfaces[i])) continue;
        startIndex = static_cast<int>(i + 1);
        path = interfaces[i];
        return true;
    }
    startIndex = 0;
    return false;
}

DeviceHandle OpenDevice(DevicePlatform& platform, const std::string& path) {
    return DeviceHandle(platform, platform.Open(path, ShareMode::Exclusive));
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

std::optional<std::string> ReadFirmwareVersion(DeviceHandle& handle) { return ReadVersion(handle); }

DeviceHandle OpenDeviceShared(DevicePlatform& platform, const std::string& path) {
    return DeviceHandle(platform, platform.Open(path, ShareMode::Shared));
}

SendOutcome SendReportOnce(DevicePlatform& platform, const std::string& path,
                           const OutputReport& report) {
    DeviceHandle handle = OpenDeviceShared(platform, path);
    if (!handle) return {SendOutcome::Kind::NotOpened, 0};
    const int error = platform.WriteReport(handle.native(), report);
    if (error != 0) return {SendOutcome::Kind::WriteRefused, error};
    return {SendOutcome::Kind::Sent, 0};
}

std::optional<std::string> ReadVersionOnce(DevicePlatform& platform, const std::string& path) {
    DeviceHandle handle = OpenDeviceShared(platform, path);
    return ReadVersion(handle);
}

}  // namespace tovrik
