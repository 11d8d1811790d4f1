// Which HID interfaces are there and which of them are TOVRIKs: the one place a TOVRIK is
// told apart from other hardware. Everything that looks for one (the library's search,
// `tovrikctl list` and its device choice, the bank's discovery, reconnection) walks this list.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/platform.h"
#include "device/result.h"

namespace tovrik {

// What a shared open of a TOVRIK learns: its serial number (if any) and firmware version.
struct DeviceIdentity {
    std::optional<std::string> serial;
    std::optional<std::string> version;
};

// How much an enumeration asks of each TOVRIK it opens.
enum class Probe {
    Ids,               // only whether it is one
    Serial,            // and its serial number
    SerialAndVersion,  // and its firmware version (a feature request to the device)
};

// One HID interface as the enumeration found it.
struct HidInterface {
    std::size_t position = 0;  // among all HID interfaces, those that are not TOVRIKs included
    std::string path;
    std::optional<HidIds> ids;  // as the system told them, without or with an open
    bool probed = true;         // false: a path the caller knows already, listed only
    bool tovrik = false;        // opened shared and identified as a TOVRIK
    DeviceIdentity identity;    // of a TOVRIK, as far as `Probe` asked
    // Why the open failed, where it did (the interface is then no TOVRIK of ours for now).
    std::optional<DeviceError> refusal;

    // A TOVRIK by its ids that could not be opened: another program holds it, say.
    bool refusedTovrik() const;
};

struct EnumerateOptions {
    Probe probe = Probe::Ids;
    std::size_t from = 0;  // interfaces before this position are left out
    // Ends the list after the first TOVRIK, so that no other one is held open even briefly.
    bool untilFirst = false;
    // Paths the caller knows already: listed, not opened.
    std::function<bool(const std::string& path)> known;
};

// Every HID interface present, in the platform's stable enumeration order. Each one not named
// as another device by its ids is opened shared once to identify it; those opened are closed
// again before this returns.
std::vector<HidInterface> EnumerateDevices(DevicePlatform& platform,
                                           const EnumerateOptions& options = {});

// The first TOVRIK at a position >= `from` that opens; none when there is none.
std::optional<HidInterface> FindDevice(DevicePlatform& platform, std::size_t from = 0);

}  // namespace tovrik
