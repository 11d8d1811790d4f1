// An open TOVRIK and the exchanges with one: the one verified open, the firmware version, and
// the one-exchange operations of the driver library (open shared, do one thing, close).
// Finding devices is enumeration.h's, keeping one open across unplugs reconnecting_device.h's.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "device/platform.h"
#include "device/reports.h"
#include "device/result.h"

namespace tovrik {

inline constexpr std::uint16_t kTovrikVendorId = 0x1774;
inline constexpr std::uint16_t kTovrikProductId = 0x9851;

// Whether ids a platform reported are a TOVRIK's: the one test of what counts as one.
inline bool IsTovrikIds(const std::optional<HidIds>& ids) {
    return ids && ids->vendorId == kTovrikVendorId && ids->productId == kTovrikProductId;
}
// Paths are kept in 1,024-byte buffers with their terminator.
inline constexpr std::size_t kMaxDevicePathLength = 1023;

// An open device, or none. Closes itself; moving hands the device over.
class DeviceHandle {
  public:
    DeviceHandle() = default;
    DeviceHandle(DevicePlatform& platform, NativeHandle native)
        : platform_(native == kNoNativeHandle ? nullptr : &platform), native_(native) {}
    DeviceHandle(DeviceHandle&& other) noexcept
        : platform_(std::exchange(other.platform_, nullptr)),
          native_(std::exchange(other.native_, kNoNativeHandle)) {}
    DeviceHandle& operator=(DeviceHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            platform_ = std::exchange(other.platform_, nullptr);
            native_ = std::exchange(other.native_, kNoNativeHandle);
        }
        return *this;
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    ~DeviceHandle() { Reset(); }

    explicit operator bool() const { return platform_ != nullptr; }
    NativeHandle native() const { return native_; }
    DevicePlatform* platform() const { return platform_; }

    void Reset() {
        if (platform_ != nullptr) platform_->Close(native_);
        platform_ = nullptr;
        native_ = kNoNativeHandle;
    }

  private:
    DevicePlatform* platform_ = nullptr;
    NativeHandle native_ = kNoNativeHandle;
};

// The error of a failed step, told as gone or not the way the platform reads the code.
DeviceError Failure(const DevicePlatform& platform, DeviceError::Step step, SystemError code);

// Open of a path that must be a TOVRIK, using the ids the open learned where it did. Anything
// else is closed again at once: an Open failure with code 0.
DeviceResult<DeviceHandle> OpenTovrik(DevicePlatform& platform, const std::string& path,
                                      ShareMode mode);

// Writes one report; a failed write leaves the handle open (its owner decides).
DeviceStatus WriteReport(const DeviceHandle& handle, const OutputReport& report);

// The version text. A failed read leaves the handle open.
DeviceResult<std::string> ReadFirmwareVersion(const DeviceHandle& handle);

// Opens shared, checks that the path is a TOVRIK, writes one report, closes again on every
// path. Another HID device fails the open: a stale or wrong path never reaches other hardware.
DeviceStatus SendReportOnce(DevicePlatform& platform, const std::string& path,
                            const OutputReport& report);
DeviceResult<std::string> ReadVersionOnce(DevicePlatform& platform, const std::string& path);

}  // namespace tovrik
