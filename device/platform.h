// What the device link needs of the operating system, and nothing more. One implementation
// per platform lives in its own folder (linux/, windows/); tests substitute an in-process fake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/reports.h"
#include "device/result.h"

namespace tovrik {

using NativeHandle = std::intptr_t;  // a file descriptor on Linux, a HANDLE on Windows
inline constexpr NativeHandle kNoNativeHandle = -1;

enum class ShareMode {
    Exclusive,  // nobody else may open the device while this handle lives
    Shared,     // others may open it shared too, but not exclusively
};

struct HidIds {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

struct OpenResult {
    OpenResult() = default;
    OpenResult(NativeHandle handle_, SystemError error_, std::optional<HidIds> ids_ = std::nullopt)
        : handle(handle_), error(error_), ids(ids_) {}

    NativeHandle handle = kNoNativeHandle;
    SystemError error = 0;  // why the open failed; 0 when it succeeded
    // The ids, when the open learned them anyway; saves the caller a second request.
    std::optional<HidIds> ids;
};

// What a failure means to a user, whatever the system called it.
enum class FailureKind {
    NotPermitted,  // the user may not open the device
    Busy,          // another program holds it
    Gone,          // it is no longer there
    Other,
};

struct FailureReason {
    FailureKind kind = FailureKind::Other;
    std::string text;  // short, lower case, for "<path>: <text>"
};

// Threads: `tovrikctl serve --all` calls one platform from its discovery thread and from
// every channel's worker at once. So every call may come from any thread, several at the same
// time, with one rule for the caller: a handle is used by one thread at a time (its owner's),
// and Close is its last use. Implementations keep no unguarded state between calls.
class DevicePlatform {
  public:
    virtual ~DevicePlatform() = default;

    // Paths of the HID interfaces present now, in a stable enumeration order.
    virtual std::vector<std::string> EnumerateHidInterfaces() = 0;
    // Read and write access. kNoNativeHandle and the system's reason when the path cannot be
    // opened in that mode.
    virtual OpenResult Open(const std::string& path, ShareMode mode) = 0;
    virtual std::optional<HidIds> GetIds(NativeHandle handle) = 0;
    // The USB serial number, where the device has one and the backend can read it.
    virtual std::optional<std::string> GetSerial(NativeHandle /*handle*/) { return std::nullopt; }
    // The ids of an interface that is not open, where the system tells them without an open
    // (so that a device nobody may open can still be named as ours).
    virtual std::optional<HidIds> PeekIds(const std::string& path) = 0;
    // Synchronous write of one output report: 0 on success, else the system error code.
    virtual SystemError WriteReport(NativeHandle handle, const OutputReport& report) = 0;
    // Get-feature for report id 0; `feature` arrives with byte 0 = 0. 0 on success, else the
    // system error code.
    virtual SystemError GetFeature(NativeHandle handle, VersionFeature& feature) = 0;
    virtual void Close(NativeHandle handle) = 0;
    virtual FailureReason Describe(SystemError error) const = 0;
};

// The platform this build talks to real devices with.
DevicePlatform& SystemPlatform();

}  // namespace tovrik
