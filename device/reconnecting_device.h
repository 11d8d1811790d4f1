// A TOVRIK kept open exclusively and opened again after a failed write: the one owner of
// reconnection, for the control application and for each channel `tovrikctl serve` drives.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "device/enumeration.h"
#include "device/result.h"
#include "device/transport.h"

namespace tovrik {

enum class ReconnectPolicy {
    // The device first opened at the path given, known by its serial number where it has one
    // (then found again at another path too), else by its path. A second TOVRIK is never
    // taken over.
    ByIdentity,
    // The first TOVRIK the enumeration finds, looked for anew after each failure.
    FirstFound,
};

// A TOVRIK that could not be opened, and why.
struct DeviceRefusal {
    std::string path;
    DeviceError error;
};

// Not thread-safe: one thread drives it.
class ReconnectingDevice {
  public:
    using Refused = std::function<void(const DeviceRefusal&)>;

    // `path`: where the device is (ByIdentity); FirstFound starts without one. `refused`
    // hears of every TOVRIK met that could not be opened.
    ReconnectingDevice(DevicePlatform& platform, ReconnectPolicy policy, std::string path = {},
                       Refused refused = {});

    // Opens the device unless it is open.
    DeviceStatus Open();
    // Writes `report`; when that fails, opens the device again once and writes again.
    DeviceStatus Write(const OutputReport& report);
    // The firmware version of the open device.
    DeviceResult<std::string> Version() { return ReadFirmwareVersion(handle_); }
    void Close() { handle_.Reset(); }
    bool open() const { return static_cast<bool>(handle_); }
    // Where the device is or was last; empty until the enumeration found one.
    const std::string& path() const { return path_; }
    DevicePlatform& platform() const { return platform_; }
    // The serial number the first open read (ByIdentity); none before it or when the device
    // has none.
    const std::optional<std::string>& serial() const { return serial_; }

  private:
    // Exclusive open of `path` if it holds our device; another TOVRIK fails with code 0.
    DeviceResult<DeviceHandle> OpenIfOurs(const std::string& path);
    bool FindElsewhere();

    DevicePlatform& platform_;
    const ReconnectPolicy policy_;
    const Refused refused_;
    std::string path_;
    bool identified_ = false;            // the first open has told who the device is
    std::optional<std::string> serial_;  // its serial number, if it has one
    DeviceHandle handle_;
};

}  // namespace tovrik
