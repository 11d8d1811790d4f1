// Which TOVRIKs are there, and which one a command means.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/platform.h"

namespace tovrik::cli {

enum class DeviceState { Available, Busy, NotPermitted, Unavailable };

struct DeviceEntry {
    int position = 0;  // enumeration position among all HID interfaces
    std::string path;
    DeviceState state = DeviceState::Available;
    std::string reason;  // the system's reason when not available
    SystemError error = 0;
    std::string version;                // firmware version, empty when it could not be read
    std::optional<std::string> serial;  // USB serial number; none: known by its path only
};

// How a TOVRIK is named to users and told apart: its serial number, else its path.
std::string DeviceName(const std::optional<std::string>& serial, const std::string& path);

// Every TOVRIK in enumeration order, those that cannot be opened included.
// `identify`: open each shared once to read its serial number and firmware version.
std::vector<DeviceEntry> ListDevices(DevicePlatform& platform, bool identify);

const char* StateName(DeviceState state);

// What --device / --index / --serial asked for; neither means the first TOVRIK that opens.
struct DeviceChoice {
    std::optional<std::string> path;
    std::optional<int> index;           // row of `tovrikctl list`, from 0
    std::optional<std::string> serial;  // USB serial number
};

struct Selection {
    std::string path;                // empty when nothing was selected
    std::string error;               // why not, for the user
    std::string kind = "not-found";  // or "busy", "not-permitted", "refused"
};

Selection SelectDevice(DevicePlatform& platform, const DeviceChoice& choice);

// "<path>: <reason>" from a system error.
std::string DescribeFailure(DevicePlatform& platform, const std::string& path, SystemError error);
// The --json "kind" of a failure: "busy", "not-permitted", "not-found" or "refused". The
// one place a failure is named for scripts.
const char* FailureKindName(DevicePlatform& platform, SystemError error);

}  // namespace tovrik::cli
