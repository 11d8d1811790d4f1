// Plain opens and the output-report write the tests drive the device link with. Programs open
// only through OpenTovrik, which checks that the path is a TOVRIK; these do not, so that the
// tests can hold a device or write to one without that check in the way.
#pragma once

#include <string>

#include "device/reports.h"
#include "device/transport.h"

namespace tovrik::testing {

// Read/write open in `mode`; a failed open puts the system's reason into `error`.
inline DeviceHandle OpenPath(DevicePlatform& platform, const std::string& path, ShareMode mode,
                             SystemError* error = nullptr) {
    const OpenResult opened = platform.Open(path, mode);
    if (error != nullptr) *error = opened.error;
    return DeviceHandle(platform, opened.handle);
}
inline DeviceHandle OpenDevice(DevicePlatform& platform, const std::string& path,
                               SystemError* error = nullptr) {
    return OpenPath(platform, path, ShareMode::Exclusive, error);
}
inline DeviceHandle OpenDeviceShared(DevicePlatform& platform, const std::string& path,
                                     SystemError* error = nullptr) {
    return OpenPath(platform, path, ShareMode::Shared, error);
}

// The frequency report (output on) or the stop report (output off). A failed write closes
// `handle` and puts the system's code into `error`; a handle of none fails without sending.
inline bool WriteOutputReport(DeviceHandle& handle, TuningWord word, int selector, int outputFlag,
                              SystemError* error = nullptr) {
    const OutputReport report = outputFlag != 0
                                    ? BuildOutputReport(word, FrequencyControlByte(selector))
                                    : BuildStopReport();
    const DeviceStatus sent = WriteReport(handle, report);
    if (error != nullptr) *error = sent ? 0 : sent.error().code;
    if (!sent) handle.Reset();
    return sent.ok();
}

}  // namespace tovrik::testing
