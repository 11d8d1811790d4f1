#include "device/enumeration.h"

#include <algorithm>

#include "device/transport.h"

namespace tovrik {
namespace {

void Identify(DevicePlatform& platform, HidInterface& found, Probe probe) {
    // Paths are handed on in 1,024-byte buffers: a longer one could not be used.
    if (found.path.empty() || found.path.size() > kMaxDevicePathLength) return;
    found.ids = platform.PeekIds(found.path);
    // Opening is not harmless: what the system names as another device stays closed.
    if (found.ids && !IsTovrikIds(found.ids)) return;
    const auto handle = OpenTovrik(platform, found.path, ShareMode::Shared);
    if (!handle) {
        if (!handle.error().notTovrik()) found.refusal = handle.error();
        return;
    }
    found.tovrik = true;
    if (probe == Probe::Ids) return;
    found.identity.serial = platform.GetSerial(handle->native());
    if (probe == Probe::SerialAndVersion) {
        found.identity.version = ReadFirmwareVersion(*handle).value();
    }
}

}  // namespace

bool HidInterface::refusedTovrik() const {
    return refusal.has_value() && IsTovrikIds(ids);
}

std::vector<HidInterface> EnumerateDevices(DevicePlatform& platform,
                                           const EnumerateOptions& options) {
    const std::vector<std::string> paths = platform.EnumerateHidInterfaces();
    std::vector<HidInterface> interfaces;
    for (std::size_t i = options.from; i < paths.size(); ++i) {
        HidInterface& found = interfaces.emplace_back();
        found.position = i;
        found.path = paths[i];
        found.probed = !options.known || !options.known(found.path);
        if (found.probed) Identify(platform, found, options.probe);
        if (found.tovrik && options.untilFirst) break;
    }
    return interfaces;
}

std::optional<HidInterface> FindDevice(DevicePlatform& platform, std::size_t from) {
    std::vector<HidInterface> interfaces = EnumerateDevices(platform, {Probe::Ids, from, true, {}});
    const auto it = std::find_if(interfaces.begin(), interfaces.end(),
                                 [](const HidInterface& i) { return i.tovrik; });
    if (it == interfaces.end()) return std::nullopt;
    return std::move(*it);
}

}  // namespace tovrik
