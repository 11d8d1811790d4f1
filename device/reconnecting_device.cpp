#include "device/reconnecting_device.h"

#include <utility>
#include <vector>

namespace tovrik {

ReconnectingDevice::ReconnectingDevice(DevicePlatform& platform, ReconnectPolicy policy,
                                       std::string path, Refused refused)
    : platform_(platform), policy_(policy), refused_(std::move(refused)), path_(std::move(path)) {}

DeviceResult<DeviceHandle> ReconnectingDevice::OpenIfOurs(const std::string& path) {
    auto opened = OpenTovrik(platform_, path, ShareMode::Exclusive);
    if (!opened || policy_ == ReconnectPolicy::FirstFound) return opened;
    auto serial = platform_.GetSerial(opened->native());
    if (!identified_) {
        identified_ = true;
        serial_ = std::move(serial);
    } else if (serial_ && serial != serial_) {
        return Failure(platform_, DeviceError::Step::Open, 0);
    }
    return opened;
}

// Our device back at another path (replugged into another port, numbered anew).
bool ReconnectingDevice::FindElsewhere() {
    // The enumeration's glance is shared, so that another program's TOVRIK is never held by us.
    const auto candidates = EnumerateDevices(
        platform_,
        {Probe::Serial, 0, false, [this](const std::string& path) { return path == path_; }});
    for (const HidInterface& candidate : candidates) {
        if (!candidate.tovrik || candidate.identity.serial != serial_) continue;
        if (auto opened = OpenIfOurs(candidate.path)) {
            handle_ = std::move(*opened);
            path_ = candidate.path;
            return true;
        }
    }
    return false;
}

DeviceStatus ReconnectingDevice::Open() {
    if (handle_) return {};
    std::vector<DeviceRefusal> refusals;
    bool found = true;
    if (policy_ == ReconnectPolicy::FirstFound) {
        found = false;
        for (const HidInterface& i : EnumerateDevices(platform_, {Probe::Ids, 0, true, {}})) {
            if (i.refusedTovrik()) refusals.push_back({i.path, *i.refusal});
            if (i.tovrik) {
                path_ = i.path;
                found = true;
            }
        }
    }
    // Another device at our path (or none) is as good as ours being gone.
    auto opened = found
                      ? OpenIfOurs(path_)
                      : DeviceResult<DeviceHandle>(Failure(platform_, DeviceError::Step::Open, 0));
    if (opened) {
        handle_ = std::move(*opened);
    } else if (policy_ == ReconnectPolicy::ByIdentity && serial_ && FindElsewhere()) {
        return {};
    } else if (!opened.error().notTovrik()) {
        refusals.push_back({path_, opened.error()});
    }
    if (refused_) {
        for (const DeviceRefusal& refusal : refusals) refused_(refusal);
    }
    if (handle_) return {};
    return opened.error();
}

DeviceStatus ReconnectingDevice::Write(const OutputReport& report) {
    if (handle_ && WriteReport(handle_, report)) return {};
    handle_.Reset();
    if (DeviceStatus opened = Open(); !opened) return opened;
    DeviceStatus written = WriteReport(handle_, report);
    if (!written) handle_.Reset();
    return written;
}

}  // namespace tovrik
