// tovrikctl's command line: parses argv, runs one command, returns the exit status.
#pragma once

#include <ostream>

#include "device/platform.h"

namespace tovrik::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDevice = 1;  // not found, busy, refused
inline constexpr int kExitUsage = 2;

int Run(int argc, const char* const* argv, DevicePlatform& platform, std::ostream& out,
        std::ostream& err);

}  // namespace tovrik::cli
