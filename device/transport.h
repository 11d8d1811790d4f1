// Discovery of the TOVRIK and the two ways of talking to it: a kept, exclusive handle (the
// control application) and a shared handle opened for one exchange (the driver library).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/platform.h"
#include "device/reports.h"

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

// A TOVRIK that discovery saw but could not open, and the system's reason.
struct DeviceRefusal {
    std::string path;
    SystemError error = 0;
};

// Finds the first TOVRIK at enumeration position >= startIndex. On success `path` receives
// its path and startIndex the position after it; otherwise startIndex becomes 0 and `path`
// is left alone. Interfaces that cannot be opened or identified still count as positions;
// those among them that the system names as TOVRIKs are added to `refused`.
bool FindDevice(DevicePlatform& platform, int& startIndex, std::string& path,
                std::vector<DeviceRefusal>* refused = nullptr);

// Exclusive read/write open, kept by the control application. A failed open puts the
// system's reason into `error`.
DeviceHandle OpenDevice(DevicePlatform& platform, const std::string& path,
                        SystemError* error = nullptr);

// Open of a path that must be a TOVRIK, using the ids the open learned where it did. Anything
// else is closed again at once and gives no handle with `error` 0.
DeviceHandle OpenTovrik(DevicePlatform& platform, const std::string& path, ShareMode mode,
                        SystemError* error = nullptr);

// Sends the frequency report (output on) or the stop report (output off). A failed write
// closes `handle` and puts the system's code into `error`; a handle of none fails without
// sending.
bool WriteOutputReport(DeviceHandle& handle, TuningWord word, int selector, int outputFlag,
                       SystemError* error = nullptr);

// How a write through a kept device went.
struct LinkStatus {
    SystemError error = 0;  // the system's code; 0 with `gone` when the path holds no TOVRIK
    bool gone = false;      // not there (unplugged), as opposed to there but refusing
    bool ok() const { return error == 0 && !gone; }
};

// A TOVRIK held exclusively and opened again after a failed write. Not thread-safe: one
// thread drives it.
class ReconnectingDevice {
  public:
    using Refused = std::function<void(const DeviceRefusal&)>;

    // Served by identity: the device first opened at `path`, known by its serial number
    // where it has one (found again at another path too), else by its path; a second
    // TOVRIK is never taken over.
    ReconnectingDevice(DevicePlatform& platform, std::string path)
        : platform_(platform), path_(std::move(path)) {}
    // The first TOVRIK discovery finds, looked for anew after each failure; `refused` hears
    // of every TOVRIK found that could not be opened.
    ReconnectingDevice(DevicePlatform& platform, Refused refused)
        : platform_(platform), refused_(std::move(refused)) {}

    // Opens the device unless it is open.
    LinkStatus Open();
    // Writes `report`; when that fails, opens the device again once and writes again.
    LinkStatus Write(const OutputReport& report);
    // The firmware version of the open device; none when it is not open.
    std::optional<std::string> Version();
    void Close() { handle_.Reset(); }
    bool open() const { return static_cast<bool>(handle_); }
    // Where the device is or was last; empty until discovery found one.
    const std::string& path() const { return path_; }
    DevicePlatform& platform() const { return platform_; }
    // The serial number the first open read; none before it or when the device has none.
    const std::optional<std::string>& serial() const { return serial_; }

  private:
    LinkStatus Status(SystemError error) const;
    // Exclusive open of `path` if it holds our device; error 0 and no handle if another.
    DeviceHandle OpenIfOurs(const std::string& path, SystemError& error);
    bool FindElsewhere();

    DevicePlatform& platform_;
    Refused refused_;  // set: the first TOVRIK found; unset: served by identity
    std::string path_;
    bool identified_ = false;            // the first open has told who the device is
    std::optional<std::string> serial_;  // its serial number, if it has one
    DeviceHandle handle_;
};

// The version text, or empty on failure. A failed read leaves the handle open.
std::optional<std::string> ReadFirmwareVersion(DeviceHandle& handle, SystemError* error = nullptr);

// Shared read/write open for the duration of one library call.
DeviceHandle OpenDeviceShared(DevicePlatform& platform, const std::string& path,
                              SystemError* error = nullptr);

struct SendOutcome {
    enum class Kind { NotOpened, WriteRefused, Sent };
    Kind kind = Kind::NotOpened;
    SystemError errorCode = 0;  // the system error code of a refused write
    // Why the open failed; 0 when the path opened but is not a TOVRIK.
    SystemError openError = 0;
};

// Opens shared, checks that the path is a TOVRIK, writes one report, closes again on every
// path. Another HID device is "not opened": a stale or wrong path never reaches other hardware.
SendOutcome SendReportOnce(DevicePlatform& platform, const std::string& path,
                           const OutputReport& report);
std::optional<std::string> ReadVersionOnce(DevicePlatform& platform, const std::string& path,
                                           SystemError* error = nullptr);
// What a shared open of a TOVRIK learns: its serial number (if any) and firmware version.
struct DeviceIdentity {
    std::optional<std::string> serial;
    std::optional<std::string> version;
};
// None when `path` cannot be opened shared (`error` says why) or is not a TOVRIK (error 0).
std::optional<DeviceIdentity> ReadIdentityOnce(DevicePlatform& platform, const std::string& path,
                                               SystemError* error = nullptr);

}  // namespace tovrik
