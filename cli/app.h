// tovrikctl's command line: parses argv, runs one command, returns the exit status.
#pragma once

#include <ostream>

#include "device/hotplug.h"
#include "device/platform.h"

namespace tovrik::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDevice = 1;  // not found, busy, refused
inline constexpr int kExitUsage = 2;

// `watch` tells `serve --all` of devices coming and going; without, it rescans on a timer.
int Run(int argc, const char* const* argv, DevicePlatform& platform, std::ostream& out,
        std::ostream& err, const HotplugSource& watch = {});

}  // namespace tovrik::cli
