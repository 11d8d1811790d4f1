#include "cli/devices.h"

#include <algorithm>

#include "device/transport.h"

namespace tovrik::cli {

std::vector<DeviceEntry> ListDevices(DevicePlatform& platform, bool identify) {
    std::vector<DeviceEntry> entries;
    std::vector<DeviceRefusal> refused;
    int start = 0;
    std::string path;
    // Each call scans on from the position after the last hit, so every interface is seen once.
    while (FindDevice(platform, start, path, &refused)) {
        DeviceEntry entry;
        entry.position = start - 1;
        entry.path = path;
        if (const auto identity = identify ? ReadIdentityOnce(platform, path) : std::nullopt) {
            entry.serial = identity->serial;
            entry.version = identity->version.value_or("");
        }
        entries.push_back(std::move(entry));
        if (start <= 0) break;
    }
    const std::vector<std::string> interfaces = platform.EnumerateHidInterfaces();
    for (const DeviceRefusal& refusal : refused) {
        DeviceEntry entry;
        const auto at = std::find(interfaces.begin(), interfaces.end(), refusal.path);
        entry.position = static_cast<int>(at - interfaces.begin());
        entry.path = refusal.path;
        const FailureReason reason = platform.Describe(refusal.error);
        entry.state = reason.kind == FailureKind::Busy           ? DeviceState::Busy
                      : reason.kind == FailureKind::NotPermitted ? DeviceState::NotPermitted
                                                                 : DeviceState::Unavailable;
        entry.reason = reason.text;
        entry.error = refusal.error;
        entries.push_back(std::move(entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.position < b.position; });
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
    std::vector<DeviceRefusal> refused;
    int start = 0;
    std::string path;
    if (FindDevice(platform, start, path, &refused)) return {path, {}};
    if (!refused.empty()) {
        const DeviceRefusal& first = refused.front();
        return {{},
                DescribeFailure(platform, first.path, first.error),
                FailureKindName(platform, first.error)};
    }
    return {{}, "no TOVRIK found"};
}

}  // namespace tovrik::cli
