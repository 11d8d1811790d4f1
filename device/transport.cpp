#include "device/transport.h"

#include <vector>

namespace tovrik {
namespace {

DeviceHandle Open(DevicePlatform& platform, const std::string& path, ShareMode mode,
                  SystemError* error, std::optional<HidIds>* ids = nullptr) {
    OpenResult opened = platform.Open(path, mode);
    if (error != nullptr) *error = opened.error;
    if (ids != nullptr) *ids = opened.ids;
    return DeviceHandle(platform, opened.handle);
}

DeviceHandle OpenTovrikShared(DevicePlatform& platform, const std::string& path,
                              SystemError* error) {
    return OpenTovrik(platform, path, ShareMode::Shared, error);
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

DeviceHandle OpenTovrik(DevicePlatform& platform, const std::string& path, ShareMode mode,
                        SystemError* error) {
    std::optional<HidIds> ids;
    DeviceHandle handle = Open(platform, path, mode, error, &ids);
    if (handle && !ids) ids = platform.GetIds(handle.native());
    if (handle && !IsTovrikIds(ids)) handle.Reset();
    return handle;
}

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

bool WriteOutputReport(DeviceHandle& handle, TuningWord word, int selector, int outputFlag,
                       SystemError* error) {
    if (!handle) return false;
    const OutputReport report = outputFlag != 0
                                    ? BuildOutputReport(word, FrequencyControlByte(selector))
                                    : BuildStopReport();
    const SystemError failed = handle.platform()->WriteReport(handle.native(), report);
    if (error != nullptr) *error = failed;
    if (failed == 0) return true;
    handle.Reset();
    return false;
}

LinkStatus ReconnectingDevice::Status(SystemError error) const {
    if (error == 0) return {};
    return {error, platform_.Describe(error).kind == FailureKind::Gone};
}

DeviceHandle ReconnectingDevice::OpenIfOurs(const std::string& path, SystemError& error) {
    DeviceHandle handle = OpenTovrik(platform_, path, ShareMode::Exclusive, &error);
    if (!handle || refused_) return handle;
    const auto serial = platform_.GetSerial(handle.native());
    if (!identified_) {
        identified_ = true;
        serial_ = serial;
    } else if (serial_ && serial != serial_) {
        handle.Reset();
        error = 0;
    }
    return handle;
}

// Our device back at another path (replugged into another port, numbered anew).
bool ReconnectingDevice::FindElsewhere() {
    int start = 0;
    std::string candidate;
    while (FindDevice(platform_, start, candidate)) {
        if (candidate == path_) continue;
        {
            // A glance shared, so that another program's TOVRIK is never held by us.
            const DeviceHandle glance = OpenTovrik(platform_, candidate, ShareMode::Shared);
            if (!glance || platform_.GetSerial(glance.native()) != serial_) continue;
        }
        SystemError ignored = 0;
        handle_ = OpenIfOurs(candidate, ignored);
        if (handle_) {
            path_ = candidate;
            return true;
        }
    }
    return false;
}

LinkStatus ReconnectingDevice::Open() {
    if (handle_) return {};
    std::vector<DeviceRefusal> refusals;
    bool found = true;
    if (refused_) {
        int start = 0;
        found = FindDevice(platform_, start, path_, &refusals);  // keeps the path if not
    }
    SystemError error = 0;
    if (found) handle_ = OpenIfOurs(path_, error);
    if (!handle_ && !refused_ && serial_ && FindElsewhere()) return {};
    if (!handle_ && error != 0) refusals.push_back({path_, error});
    if (refused_) {
        for (const DeviceRefusal& refusal : refusals) refused_(refusal);
    }
    if (handle_) return {};
    // Another device at our path is as good as ours being gone.
    return error == 0 ? LinkStatus{0, true} : Status(error);
}

LinkStatus ReconnectingDevice::Write(const OutputReport& report) {
    if (handle_ && platform_.WriteReport(handle_.native(), report) == 0) return {};
    handle_.Reset();
    if (const LinkStatus opened = Open(); !opened.ok()) return opened;
    const SystemError error = platform_.WriteReport(handle_.native(), report);
    if (error != 0) handle_.Reset();
    return Status(error);
}

std::optional<std::string> ReconnectingDevice::Version() {
    return ReadFirmwareVersion(handle_);
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

std::optional<DeviceIdentity> ReadIdentityOnce(DevicePlatform& platform, const std::string& path,
                                               SystemError* error) {
    SystemError failed = 0;
    DeviceHandle handle = OpenTovrikShared(platform, path, &failed);
    if (error != nullptr) *error = failed;
    if (!handle) return std::nullopt;
    DeviceIdentity identity;
    identity.serial = platform.GetSerial(handle.native());
    identity.version = ReadFirmwareVersion(handle);
    return identity;
}

}  // namespace tovrik
