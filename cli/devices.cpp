#include "cli/devices.h"

#include <algorithm>

#include "device/enumeration.h"

namespace tovrik::cli {

std::vector<DeviceEntry> ListDevices(DevicePlatform& platform, bool identify) {
    std::vector<DeviceEntry> entries;
    const Probe probe = identify ? Probe::SerialAndVersion : Probe::Ids;
    for (HidInterface& found : EnumerateDevices(platform, {probe, 0, false, {}})) {
        if (!found.tovrik && !found.refusedTovrik()) continue;
        DeviceEntry entry;
        entry.position = static_cast<int>(found.position);
        entry.path = std::move(found.path);
        entry.serial = std::move(found.identity.serial);
        entry.version = found.identity.version.value_or("");
        if (found.refusal) {
            const FailureReason reason = platform.Describe(found.refusal->code);
            entry.state = reason.kind == FailureKind::Busy           ? DeviceState::Busy
                          : reason.kind == FailureKind::NotPermitted ? DeviceState::NotPermitted
                                                                     : DeviceState::Unavailable;
            entry.reason = reason.text;
            entry.error = found.refusal->code;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string DeviceName(const std::optional<std::string>& serial, const std::string& path) {
    return serial ? *serial : path;
}

const char* StateName(DeviceState state) {
    switch (state) {
        case DeviceState::Available:
            return "available";
        case DeviceState::Busy:
            return "busy";
        case DeviceState::NotPermitted:
            return "not-permitted";
        case DeviceState::Unavailable:
            break;
    }
    return "unavailable";
}

std::string DescribeFailure(DevicePlatform& platform, const std::string& path, SystemError error) {
    if (error == 0) return path + ": not a TOVRIK";
    return path + ": " + platform.Describe(error).text;
}

const char* FailureKindName(DevicePlatform& platform, SystemError error) {
    if (error == 0) return "not-found";
    switch (platform.Describe(error).kind) {
        case FailureKind::Busy:
            return "busy";
        case FailureKind::NotPermitted:
            return "not-permitted";
        case FailureKind::Gone:
            return "not-found";
        case FailureKind::Other:
            break;
    }
    return "refused";
}

Selection SelectDevice(DevicePlatform& platform, const DeviceChoice& choice) {
    if (choice.path) return {*choice.path, {}};
    if (choice.serial) {
        const auto entries = ListDevices(platform, true);
        for (const DeviceEntry& entry : entries) {
            if (entry.serial == choice.serial) return {entry.path, {}};
        }
        // One that cannot be opened shows no serial; say so rather than "not found" alone.
        const bool refused = std::any_of(entries.begin(), entries.end(), [](const auto& e) {
            return e.state != DeviceState::Available;
        });
        return {{},
                "no TOVRIK with serial number " + *choice.serial +
                    (refused ? " (some TOVRIKs could not be opened to read theirs)" : "")};
    }
    if (choice.index) {
        const auto entries = ListDevices(platform, false);
        const int index = *choice.index;
        if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
            return {{},
                    "no TOVRIK at index " + std::to_string(index) + " (" +
                        std::to_string(entries.size()) + " found)"};
        }
        const DeviceEntry& entry = entries[static_cast<std::size_t>(index)];
        if (entry.state != DeviceState::Available) {
            return {{}, entry.path + ": " + entry.reason, FailureKindName(platform, entry.error)};
        }
        return {entry.path, {}};
    }
    // The first that opens, else why the first one met did not.
    const auto interfaces = EnumerateDevices(platform, {Probe::Ids, 0, true, {}});
    if (!interfaces.empty() && interfaces.back().tovrik) return {interfaces.back().path, {}};
    for (const HidInterface& found : interfaces) {
        if (!found.refusedTovrik()) continue;
        return {{},
                DescribeFailure(platform, found.path, found.refusal->code),
                FailureKindName(platform, found.refusal->code)};
    }
    return {{}, "no TOVRIK found"};
}

}  // namespace tovrik::cli
