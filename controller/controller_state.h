// The control application's state as plain fields, shared by the controller, the settings
// store and the settings dialogs.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "controller/readout.h"

namespace tovrik {

inline constexpr std::size_t kMaxEntryLength = 255;
inline constexpr int kPresetCount = 3;

// Stored flags are ints in which any non-zero value counts as set, because the settings file
// stores them that way and hand-edited values (2 shows the settings dialog's third state)
// must survive a round trip. Flags that are never stored are bools.
struct ControllerState {
    int saveFrequency = 0;
    int reverseWheel = 0;
    int reverseSpin = 0;
    int lockWhileOutput = 0;
    DisplayMode displayMode = kDisplayHundredths;
    int outputOn = 0;  // sent to the device as it is
    double stepHz = 100'000.0;
    double frequencyHz = 10'000'000.0;
    std::string entryText;  // at most kMaxEntryLength characters
    bool entryHasPoint = false;
    bool entryActive = false;
    bool writeMode = false;
    int outputAtStart = 0;
    std::array<double, kPresetCount> presets{0.0, 0.0, 0.0};
};

}  // namespace tovrik
